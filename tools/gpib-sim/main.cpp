// gpib-sim: the GPIB-USB controller of the PC build, with the GPIB bus
// behind it.
//
//   gpib-sim [-sandbox DIR] [-port N] [-id TEXT] [-silent]
//
// Instrument side: a pseudo-terminal that the sandbox's dev/gpib links to.
// The instrument talks to it as to the controller, in lines ending CR LF:
//   "++ver"        answered with the identification line (-id TEXT replaces
//                  it; -silent answers nothing, ever)
//   "++addr N"     the instrument's address on the bus
//   "++status S"   its status byte, for serial polls
//   other "++"     taken as they are (savecfg, mode ...)
// Every "++" line the instrument sends is printed on standard output as
// "instrument: ++addr 1", so tests and users see the set-up and every push
// of the address and the status byte.  Every other line is a reply, passed
// to the client when the client addresses the instrument.
//
// Bus side: a client on TCP, 127.0.0.1 only, port -port N (0, the default:
// one the system picks, announced in the sandbox's run/ports/gpib), one
// client at a time (a new one replaces the one before), lines ending LF or
// CR LF, replies ending CR LF.  The client is the bus's controller:
//   "++addr N"     the address it talks to (1 at first)
//   "++spoll"      the status byte of the device at that address
//   "++srq"        1 while that status byte asks for service (bit 6), else 0
//   other lines    sent to the device at that address; nothing is there
//                  unless the instrument took that address
//
// Started after the instrument, the instrument finds it within a second or
// two; ended (SIGTERM, SIGINT), it is pulled out: the link goes and the
// instrument looks for a controller again.
#include "console/Console.h"
#include "platform/Platform.h"
#include "tools/pty/PtyEnd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

const char* const kDefaultIdentification = "Prologix GPIB-USB Controller version 1.0 (stand-in)";

struct State {
    std::string identification = kDefaultIdentification;
    bool silent = false;
    int instrumentAddress = -1;   // until the instrument sends ++addr
    int statusByte = 0;
    int clientAddress = 1;
    int client = -1;
};

void sendToClient(State& s, const std::string& line) {
    if (s.client < 0) return;
    const std::string bytes = line + "\r\n";
    if (::send(s.client, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
        ::close(s.client);
        s.client = -1;
    }
}

bool startsWith(const std::string& line, const char* word) { return line.compare(0, std::strlen(word), word) == 0; }

void fromInstrument(State& s, const PtyEnd& pty, const std::string& line) {
    if (!startsWith(line, "++")) {
        if (s.client >= 0 && s.clientAddress == s.instrumentAddress)
            sendToClient(s, line);
        else
            console::print("reply not taken (nobody addresses %d): %s\n", s.instrumentAddress, line.c_str());
        return;
    }
    console::print("instrument: %s\n", line.c_str());
    if (line == "++ver" && !s.silent) pty.write(s.identification + "\r\n");
    if (startsWith(line, "++addr ")) s.instrumentAddress = std::atoi(line.c_str() + 7);
    if (startsWith(line, "++status ")) s.statusByte = std::atoi(line.c_str() + 9);
}

void fromClient(State& s, const PtyEnd& pty, const std::string& line) {
    const bool addressed = s.clientAddress == s.instrumentAddress;
    if (startsWith(line, "++addr ")) {
        s.clientAddress = std::atoi(line.c_str() + 7);
    } else if (line == "++spoll") {
        if (addressed) sendToClient(s, std::to_string(s.statusByte));
    } else if (line == "++srq") {
        sendToClient(s, addressed && (s.statusByte & 64) ? "1" : "0");
    } else if (line == "++ver") {
        sendToClient(s, "gpib-sim bus controller");
    } else if (startsWith(line, "++")) {
        console::print("bus: %s not known\n", line.c_str());
    } else if (addressed) {
        pty.write(line + "\r\n");
    } else {
        console::print("no device at address %d: %s\n", s.clientAddress, line.c_str());
    }
}

// Splits what arrived into lines (LF or CR ends one; empty ones dropped).
template <typename Handle>
void takeLines(std::string& pending, const char* bytes, ssize_t n, Handle handle) {
    for (ssize_t i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            if (!pending.empty()) handle(pending);
            pending.clear();
        } else if (pending.size() < 1024) {
            pending.push_back(c);
        }
    }
}

int listenOn(int port, int& bound) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 5) != 0) {
        console::perror("gpib-sim: bus port");
        return -1;
    }
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    bound = ntohs(a.sin_port);
    return s;
}

void usage() { console::printError("Usage: gpib-sim [-sandbox DIR] [-port N] [-id TEXT] [-silent]\n"); }

}  // namespace

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);
    State state;
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-port") == 0 && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "-id") == 0 && i + 1 < argc) {
            state.identification = argv[++i];
        } else if (std::strcmp(argv[i], "-silent") == 0) {
            state.silent = true;
        } else {
            usage();
            return 2;
        }
    }
    int bound = 0;
    const int listener = listenOn(port, bound);
    if (listener < 0) return 1;
    PtyEnd pty;
    const std::string device = platform::resolve(platform::path::kGpibPort);
    if (!pty.open() || !pty.linkAs(device)) return 1;
    const std::string portFile = platform::sandboxRoot() + "/run/ports/gpib";
    platform::makeDirs(platform::sandboxRoot() + "/run/ports");
    platform::removeStaleTempFiles(portFile);   // left by a controller killed while it announced its port
    platform::writeFileAtomic(portFile, std::to_string(bound) + "\n");
    console::print("controller: %s -> %s\nbus: 127.0.0.1:%d\n", device.c_str(), pty.slaveName().c_str(), bound);

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    std::string fromPty, fromBus;
    char buffer[512];
    while (!stopRequested) {
        pollfd fds[3] = {{pty.master(), POLLIN, 0}, {listener, POLLIN, 0}, {state.client, POLLIN, 0}};
        if (::poll(fds, state.client >= 0 ? 3 : 2, 500) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(pty.master(), buffer, sizeof buffer);
            takeLines(fromPty, buffer, n, [&](const std::string& l) { fromInstrument(state, pty, l); });
        }
        if (fds[1].revents & POLLIN) {
            const int c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                if (state.client >= 0) ::close(state.client);
                state.client = c;
                fromBus.clear();
            }
        }
        if (state.client >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(state.client, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ::close(state.client);
                state.client = -1;
            } else {
                takeLines(fromBus, buffer, n, [&](const std::string& l) { fromClient(state, pty, l); });
            }
        }
    }
    if (state.client >= 0) ::close(state.client);
    ::close(listener);
    ::unlink(portFile.c_str());
    return 0;
}
