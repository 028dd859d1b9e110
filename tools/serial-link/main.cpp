// serial-link: the RS-232 cable of the PC build.  Two pseudo-terminals, one
// for the instrument (the sandbox's dev/ttyS0 links to it) and one for a
// client (a link at -client PATH, by default the sandbox's dev/ttyS0-client),
// and the bytes passed between them, as a null-modem cable would.
//
//   serial-link [-sandbox DIR] [-client PATH] [-quiet]
//
// As on a real line, bytes arrive intact only while both ends use the same
// framing: while their speed, stop bits or parity sense differ, every byte
// arrives as 0xFF (a pseudo-terminal always keeps 8 data bits and no parity
// bit, so those two cannot be compared).  Each change of an end's framing is
// printed; without -quiet so is every line that passes ("client> *IDN?",
// "instrument> ...").  Ends on SIGTERM or SIGINT and removes its links.
#include "console/Console.h"
#include "platform/Platform.h"
#include "tools/pty/PtyEnd.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

struct Framing {
    speed_t speed;
    bool twoStopBits;
    bool oddParity;
    bool operator==(const Framing& o) const {
        return speed == o.speed && twoStopBits == o.twoStopBits && oddParity == o.oddParity;
    }
    bool operator!=(const Framing& o) const { return !(*this == o); }
};

Framing framingOf(const PtyEnd& end) {
    const termios t = end.settings();
    return {cfgetospeed(&t), (t.c_cflag & CSTOPB) != 0, (t.c_cflag & PARODD) != 0};
}

long baud(speed_t speed) {
    static const struct {
        speed_t code;
        long rate;
    } rates[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},
                 {B19200, 19200}, {B38400, 38400}, {B57600, 57600},   {B115200, 115200},
                 {B230400, 230400}};
    for (const auto& r : rates)
        if (r.code == speed) return r.rate;
    return 0;
}

std::string describe(const Framing& f) {
    return std::to_string(baud(f.speed)) + " baud, " + (f.twoStopBits ? "2 stop bits" : "1 stop bit") +
           (f.oddParity ? ", odd parity" : "");
}

// One direction of the cable: what from read, to gets; lines are logged.
struct Direction {
    const char* name;
    const PtyEnd& from;
    const PtyEnd& to;
    std::string pendingLine;
};

bool pass(Direction& d, bool framingMatches, bool quiet) {
    char buffer[512];
    const ssize_t n = ::read(d.from.master(), buffer, sizeof buffer);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return true;
    std::string bytes(buffer, static_cast<std::size_t>(n));
    if (!framingMatches) bytes.assign(bytes.size(), '\xff');
    d.to.write(bytes);
    if (quiet) return true;
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!d.pendingLine.empty()) console::print("%s> %s\n", d.name, d.pendingLine.c_str());
            d.pendingLine.clear();
        } else if (d.pendingLine.size() < 300) {
            d.pendingLine.push_back(c);
        }
    }
    return true;
}

void usage() { console::printError("Usage: serial-link [-sandbox DIR] [-client PATH] [-quiet]\n"); }

}  // namespace

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);
    std::string clientPath = platform::resolve(std::string(platform::path::kSerialPort) + "-client");
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-client") == 0 && i + 1 < argc) {
            clientPath = argv[++i];
        } else if (std::strcmp(argv[i], "-quiet") == 0) {
            quiet = true;
        } else {
            usage();
            return 2;
        }
    }
    PtyEnd instrument, client;
    const std::string port = platform::resolve(platform::path::kSerialPort);
    if (!instrument.open() || !client.open() || !instrument.linkAs(port) || !client.linkAs(clientPath)) return 1;
    console::print("instrument end: %s -> %s\nclient end: %s -> %s\n", port.c_str(), instrument.slaveName().c_str(),
                   clientPath.c_str(), client.slaveName().c_str());

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    Direction toClient{"instrument", instrument, client, {}};
    Direction toInstrument{"client", client, instrument, {}};
    Framing shown[2] = {framingOf(instrument), framingOf(client)};
    bool matchShown = true;
    while (!stopRequested) {
        pollfd fds[2] = {{instrument.master(), POLLIN, 0}, {client.master(), POLLIN, 0}};
        // A short wait, so that a change of framing is shown soon.
        const int ready = ::poll(fds, 2, 100);
        // The framing of this moment, after the wait: bytes written just
        // after an end set its line up are judged by the new settings.
        const Framing now[2] = {framingOf(instrument), framingOf(client)};
        const bool match = now[0] == now[1];
        if (now[0] != shown[0] || now[1] != shown[1] || match != matchShown) {
            console::print("instrument end: %s; client end: %s%s\n", describe(now[0]).c_str(), describe(now[1]).c_str(),
                           match ? "" : " (framing differs: bytes arrive garbled)");
            shown[0] = now[0];
            shown[1] = now[1];
            matchShown = match;
        }
        if (ready <= 0) continue;
        if ((fds[0].revents & POLLIN) && !pass(toClient, match, quiet)) break;
        if ((fds[1].revents & POLLIN) && !pass(toInstrument, match, quiet)) break;
    }
    return 0;
}
