// bench-remote [-n COUNT]: the round trips of the two remote interfaces, from
// a client on loopback and back: one SCPI query (:MEAS:FLUX?) to the SCPI TCP
// transport and one JSON request ({"action":"pollChannel","channel":1}) to
// the JSON server, each beside the round trip of the same line through a raw
// TCP echo server on the same machine.
//
// The servers are the program's own: the meter model on a private emulated
// bus with mendra (beside this program in bin/) as its three cards, the SCPI
// TCP server with the installed command table, every command logged at level
// 2 (to nowhere) as the program does, and the JSON server.  Every side uses
// one connection, one line per request, TCP_NODELAY; the four are taken in
// turn, so that all see the same load of the machine.  Not a test: it prints
// figures; the target is a median at most twice the echo's.
#include "bench/BenchSupport.h"
#include "meter/MeterModel.h"
#include "channel/ChannelModel.h"
#include "json/JsonServer.h"
#include "platform/Platform.h"
#include "runtime/Logger.h"
#include "scpi/ScpiServerTcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// Sends one line and reads up to the reply's line feed.
std::string roundTrip(int fd, const std::string& line) {
    ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    std::string reply;
    char bytes[256];
    while (reply.empty() || reply.back() != '\n') {
        const ssize_t n = ::recv(fd, bytes, sizeof bytes, 0);
        if (n <= 0) return "";
        reply.append(bytes, static_cast<std::size_t>(n));
    }
    return reply;
}

struct Figures {
    double median, p99, mean;
};

Figures summarise(std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double u : us) sum += u;
    return {us[us.size() / 2], us[us.size() * 99 / 100], sum / static_cast<double>(us.size())};
}

double timedRoundTrip(int fd, const std::string& line) {
    const auto t0 = Clock::now();
    roundTrip(fd, line);
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

// Round trips on several connections taken in turn, so that all see the
// same load of the machine.
struct Side {
    int fd;
    std::string line;
    std::vector<double> us;
};

void measure(std::vector<Side>& sides, int count) {
    for (int i = 0; i < 200; ++i)   // warm-up
        for (Side& s : sides) roundTrip(s.fd, s.line);
    for (Side& s : sides) s.us.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        for (Side& s : sides) s.us.push_back(timedRoundTrip(s.fd, s.line));
}

// A raw TCP echo server on loopback: what comes in goes straight back.
class EchoServer {
public:
    EchoServer() {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t length = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
        ::listen(listener, 1);
        thread = std::thread([this] {
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0) return;
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            char bytes[512];
            ssize_t n;
            while ((n = ::recv(fd, bytes, sizeof bytes, 0)) > 0) ::send(fd, bytes, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            ::close(fd);
        });
    }
    ~EchoServer() {
        ::shutdown(listener, SHUT_RDWR);
        thread.join();
        ::close(listener);
    }
    int port = 0;

private:
    int listener = -1;
    std::thread thread;
};

bool waitFor(const std::function<bool()>& ready, std::chrono::seconds deadline) {
    const auto end = Clock::now() + deadline;
    while (Clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 20000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
            count = std::max(100, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "Usage: bench-remote [-n COUNT]\n");
            return 2;
        }
    }
    const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
    char sandboxTemplate[] = "/tmp/tvl-bench-XXXXXX";
    const char* sandbox = mkdtemp(sandboxTemplate);
    if (!sandbox) {
        std::perror("mkdtemp");
        return 1;
    }
    std::error_code ec;
    fs::copy(bin.parent_path() / "sandbox", sandbox, fs::copy_options::recursive, ec);
    std::ofstream(std::string(sandbox) + "/ports.conf") << "scpi: 0\njson: 0\n";
    platform::setSandboxRoot(sandbox);
    std::signal(SIGPIPE, SIG_IGN);

    const std::string bus = "bs" + std::to_string(getpid() % 100000);
    const std::string mendra = (bin / "mendra").string();
    const pid_t pid = bench::startMendra(mendra, sandbox, bus);

    std::ofstream nowhere("/dev/null");
    Logger::instance()->setOutput(&nowhere);
    Logger::instance()->setLevel(2);
    MeterModel* meter = MeterModel::instance(bus.c_str());
    meter->startBackplane();
    meter->loadSettings();
    meter->sendHostReady();
    for (unsigned slot = 1; slot <= 3; ++slot) meter->getChannel(slot)->requestAllData();

    auto* server = new ScpiServerTcp();   // lives to the end, as in the program
    int result = 0;
    int fd = -1;
    if (!ScpiServer::openAndStart(server, [](bool) {}) || (fd = connectTo(server->getPort())) < 0) {
        std::fprintf(stderr, "bench-remote: no SCPI server\n");
        result = 1;
    } else if (!waitFor([&] { return (std::atoi(roundTrip(fd, ":STAT:OPER:COND?\n").c_str()) & 0x70) == 0x70; },
                        std::chrono::seconds(40))) {
        std::fprintf(stderr, "bench-remote: the probes did not become ready\n");
        result = 1;
    } else {
        JsonServer::Options options;
        options.port = 0;
        options.meter = meter;
        JsonServer json(options);
        json.start();
        int jsonFd = -1;
        if (!waitFor([&] { return json.getPort() > 0; }, std::chrono::seconds(10)) ||
            (jsonFd = connectTo(json.getPort())) < 0) {
            std::fprintf(stderr, "bench-remote: no JSON server\n");
            result = 1;
        } else {
            // One echo connection echoes SCPI's line and JSON's in turn.
            EchoServer echo;
            const int echoFd = connectTo(echo.port);
            const std::string scpiLine = ":MEAS:FLUX?\n";
            const std::string jsonLine = "{\"action\":\"pollChannel\",\"channel\":1}\n";
            std::vector<Side> sides{{fd, scpiLine, {}}, {echoFd, scpiLine, {}}, {jsonFd, jsonLine, {}},
                                    {echoFd, jsonLine, {}}};
            measure(sides, count);
            std::printf("last replies: %s  %s", roundTrip(fd, ":MEAS:FLUX:ALL?\n").c_str(),
                        roundTrip(jsonFd, jsonLine).substr(0, 120).c_str());
            std::printf("\nround trips on loopback, %d each, taken in turn (microseconds):\n", count);
            const char* names[] = {"SCPI :MEAS:FLUX?", "raw TCP echo", "JSON pollChannel", "raw TCP echo"};
            Figures f[4];
            for (int i = 0; i < 4; ++i) {
                f[i] = summarise(sides[static_cast<std::size_t>(i)].us);
                std::printf("  %-18s median %6.1f   99th percentile %6.1f   mean %6.1f\n", names[i], f[i].median,
                            f[i].p99, f[i].mean);
            }
            for (int i : {0, 2}) {
                const double ratio = f[i].median / f[i + 1].median;
                std::printf("  %s: ratio of medians %.2f (target at most 2)%s\n", i == 0 ? "SCPI" : "JSON", ratio,
                            ratio <= 2.0 ? "" : "  ABOVE TARGET");
            }
            ::close(echoFd);
            ::close(jsonFd);
        }
        json.stop();
    }
    if (fd >= 0) ::close(fd);
    bench::stopMendra(pid);
    meter->stopCan();
    fs::remove_all(sandbox, ec);
    return result;
}
