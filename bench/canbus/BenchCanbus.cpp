// Measures the emulated CAN bus between processes: frames/s from three
// senders to two receiving endpoints (the simulator's and the main
// program's), round-trip latency, and CPU time per frame.  Runs on a private
// bus in a temporary sandbox of its own.
//
//   bench-canbus [seconds per load run, default 3]
#include "can/FrameCodec.h"
#include "platform/CanTransport.h"
#include "platform/EmulatedBus.h"
#include "platform/Platform.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const char* kBus = "benchbus";

double cpuSeconds() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds() {
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// What a child process reports back.
struct Report {
    double frames = 0;
    double dropped = 0;
    double cpu = 0;
    double extra[4] = {};
};

// A forked worker: waits for the go byte, runs, writes its Report.
class Worker {
public:
    explicit Worker(const std::function<Report()>& body) {
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) std::exit(1);
        pid = fork();
        if (pid == 0) {
            close(toChild[1]);
            close(fromChild[0]);
            char c;
            if (::read(toChild[0], &c, 1) != 1) _exit(1);
            Report r = body();
            if (::write(fromChild[1], &r, sizeof r) != ssize_t(sizeof r)) _exit(1);
            _exit(0);
        }
        close(toChild[0]);
        close(fromChild[1]);
    }
    void go() {
        char c = 1;
        if (::write(toChild[1], &c, 1) != 1) std::perror("go");
    }
    Report result() {
        Report r;
        if (::read(fromChild[0], &r, sizeof r) != ssize_t(sizeof r)) std::fprintf(stderr, "worker failed\n");
        waitpid(pid, nullptr, 0);
        close(toChild[1]);
        close(fromChild[0]);
        return r;
    }

private:
    pid_t pid = -1;
    int toChild[2], fromChild[2];
};

can_frame frameOf(canid_t id, std::uint32_t n) {
    can_frame f{};
    f.can_id = id;
    f.can_dlc = 8;
    std::memcpy(f.data, &n, sizeof n);
    return f;
}

// Through the CAN layer's send path, with its back-off on a full transmit path.
bool sendWithBackoff(platform::CanTransport& bus, const can_frame& f) {
    return can::writeWithBackoff(bus, f) == 0;
}

// Opens the endpoint before the go, as the two programs do at start-up.
Report receive(double expected, std::chrono::milliseconds quiet) {
    auto bus = platform::openCanTransport(kBus);
    Report r;
    double cpu0 = cpuSeconds();
    can_frame f;
    while (r.frames + r.dropped < expected) {
        ssize_t n = bus->read(f, int(quiet.count()));
        if (n <= 0) break;
        r.frames += 1;
        r.dropped = double(bus->droppedFrames());
    }
    r.dropped = double(bus->droppedFrames());
    r.cpu = cpuSeconds() - cpu0;
    return r;
}

struct LoadResult {
    double seconds, sent, sendFailures, senderCpu, writeCpu;
    Report receivers[2];
};

// Three senders to two receivers.  rate 0: as fast as each can.
LoadResult load(double perSenderRate, double seconds, bool backoff) {
    constexpr int kSenders = 3;
    // Paced senders send a fixed count; flat-out senders run for the time given.
    const double perSender = perSenderRate > 0 ? perSenderRate * seconds : 1e18;
    std::vector<std::unique_ptr<Worker>> receivers, senders;
    for (int i = 0; i < 2; ++i)
        receivers.emplace_back(new Worker([&] { return receive(kSenders * perSender, 500ms); }));
    for (int s = 0; s < kSenders; ++s)
        senders.emplace_back(new Worker([&, s] {
            auto bus = platform::openCanTransport(kBus);
            Report r;
            double cpu0 = cpuSeconds();
            auto start = Clock::now();
            const auto end = start + std::chrono::duration<double>(seconds);
            for (std::uint32_t i = 0; double(i) < perSender; ++i) {
                if (perSenderRate <= 0 && (i & 63) == 0 && Clock::now() >= end) break;
                if (perSenderRate > 0)
                    std::this_thread::sleep_until(start + std::chrono::nanoseconds(std::int64_t(i * 1e9 / perSenderRate)));
                double t0 = threadCpuSeconds();
                bool ok = backoff ? sendWithBackoff(*bus, frameOf(0x300 + s, i)) : bus->write(frameOf(0x300 + s, i)) > 0;
                r.extra[1] += threadCpuSeconds() - t0;
                if (ok) r.frames += 1;
                else r.dropped += 1;
            }
            r.cpu = cpuSeconds() - cpu0;
            r.extra[0] = std::chrono::duration<double>(Clock::now() - start).count();
            return r;
        }));
    // Receivers open their endpoints first.
    for (auto& w : receivers) w->go();
    std::this_thread::sleep_for(200ms);
    for (auto& w : senders) w->go();
    LoadResult res{};
    for (auto& w : senders) {
        Report r = w->result();
        res.sent += r.frames;
        res.sendFailures += r.dropped;
        res.senderCpu += r.cpu;
        res.writeCpu += r.extra[1];
        res.seconds = std::max(res.seconds, r.extra[0]);
    }
    for (int i = 0; i < 2; ++i) res.receivers[i] = receivers[i]->result();
    return res;
}

void printLoad(const char* title, const LoadResult& r) {
    std::printf("%s\n", title);
    std::printf("  sent %.0f frames in %.2f s: %.0f frames/s (%.0f given up)\n", r.sent, r.seconds, r.sent / r.seconds,
                r.sendFailures);
    for (int i = 0; i < 2; ++i)
        std::printf("  receiver %d: %.0f received (%.0f frames/s), %.0f dropped, CPU %.2f us/frame\n", i + 1,
                    r.receivers[i].frames, r.receivers[i].frames / r.seconds, r.receivers[i].dropped,
                    r.receivers[i].frames > 0 ? 1e6 * r.receivers[i].cpu / r.receivers[i].frames : 0);
    std::printf("  senders: CPU %.2f us/frame in all, %.2f us/frame in write()\n", r.sent > 0 ? 1e6 * r.senderCpu / r.sent : 0,
                r.sent > 0 ? 1e6 * r.writeCpu / r.sent : 0);
}

// Readers on their own threads, one endpoint each, until the bus is quiet.
struct ReaderSet {
    std::vector<std::thread> threads;
    std::vector<double> counts;
    explicit ReaderSet(const std::vector<can_filter>& filters) : counts(filters.size()) {
        for (std::size_t i = 0; i < filters.size(); ++i) {
            auto bus = std::shared_ptr<platform::CanTransport>(platform::openCanTransport(kBus));
            bus->setFilters(&filters[i], 1);
            threads.emplace_back([this, i, bus] {
                can_frame f;
                // Idle until traffic starts, then read until it stops.
                while (bus->read(f, 5000) > 0) {
                    counts[i] += 1;
                    while (bus->read(f, 500) > 0) counts[i] += 1;
                    break;
                }
            });
        }
    }
    double join() {
        double total = 0;
        for (auto& t : threads) t.join();
        for (double c : counts) total += c;
        return total;
    }
};

// The endpoints the two programs open: the main program's key link,
// backplane link and three channel links (each filtered on its source node),
// the simulator's three cards and backplane (each filtered on its
// destination node), and three cards streaming samples to the main program.
void programsTopology(double seconds) {
    const double perCard = 4000.0 / 3;
    Worker mainProgram([&] {
        ReaderSet readers({{0x000, 0x700}, {0x200, 0x700}, {0x300, 0x700}, {0x400, 0x700}, {0x500, 0x700}});
        double cpu0 = cpuSeconds();
        Report r;
        r.frames = readers.join();
        r.cpu = cpuSeconds() - cpu0;
        return r;
    });
    Worker simulator([&] {
        ReaderSet readers({{2 << 5, 7 << 5}, {3 << 5, 7 << 5}, {4 << 5, 7 << 5}, {5 << 5, 7 << 5}});
        double cpu0 = cpuSeconds();
        std::vector<std::thread> cards;
        Report r;
        for (int card = 0; card < 3; ++card)
            cards.emplace_back([&, card] {
                auto bus = platform::openCanTransport(kBus);
                auto start = Clock::now();
                canid_t id = canid_t((3 + card) << 8 | 1 << 5 | 2);
                for (std::uint32_t i = 0; i < std::uint32_t(perCard * seconds); ++i) {
                    std::this_thread::sleep_until(start + std::chrono::nanoseconds(std::int64_t(i * 1e9 / perCard)));
                    sendWithBackoff(*bus, frameOf(id, i));
                }
            });
        for (auto& t : cards) t.join();
        r.extra[0] = readers.join();
        r.cpu = cpuSeconds() - cpu0;
        return r;
    });
    mainProgram.go();
    simulator.go();
    Report m = mainProgram.result(), sim = simulator.result();
    double sent = 3 * std::floor(perCard * seconds);
    std::printf("The two programs' endpoints (5 in the main program, 4 + 3 senders in the simulator), 4,000 frames/s\n");
    std::printf("  main program: %.0f of %.0f frames received, CPU %.2f us per frame sent (%.1f %% of a core)\n",
                m.frames, sent, 1e6 * m.cpu / sent, 100 * m.cpu / seconds);
    std::printf("  simulator:    CPU %.2f us per frame sent, pacing included (%.1f %% of a core)\n",
                1e6 * sim.cpu / sent, 100 * sim.cpu / seconds);
}

void roundTrip(int count) {
    Worker echo([&] {
        auto bus = platform::openCanTransport(kBus);
        can_filter ping = {0x100, 0x7FF};
        bus->setFilters(&ping, 1);
        Report r;
        double cpu0 = cpuSeconds();
        can_frame f;
        while (r.frames < count && bus->read(f, 2000) > 0) {
            f.can_id = 0x200;
            sendWithBackoff(*bus, f);
            r.frames += 1;
        }
        r.cpu = cpuSeconds() - cpu0;
        return r;
    });
    auto bus = platform::openCanTransport(kBus);
    can_filter pong = {0x200, 0x7FF};
    bus->setFilters(&pong, 1);
    echo.go();
    std::this_thread::sleep_for(100ms);
    std::vector<double> us;
    double cpu0 = cpuSeconds();
    for (int i = 0; i < count; ++i) {
        auto t0 = Clock::now();
        if (!sendWithBackoff(*bus, frameOf(0x100, std::uint32_t(i)))) break;
        can_frame f;
        if (bus->read(f, 2000) <= 0) break;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        // Keep within the bus's bandwidth (two frames per round).
        std::this_thread::sleep_for(300us);
    }
    double cpu = cpuSeconds() - cpu0;
    Report r = echo.result();
    if (us.empty()) {
        std::printf("round trip: no answer\n");
        return;
    }
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us) sum += v;
    std::printf("Round trip between two processes (%zu pings)\n", us.size());
    std::printf("  median %.1f us, mean %.1f us, 99th percentile %.1f us, max %.1f us\n", us[us.size() / 2],
                sum / double(us.size()), us[us.size() * 99 / 100], us.back());
    std::printf("  CPU per round trip: pinger %.1f us (incl. its pauses' wake-ups), echo %.1f us\n",
                1e6 * cpu / double(us.size()), r.frames > 0 ? 1e6 * r.cpu / r.frames : 0);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    if (seconds <= 0) seconds = 3.0;
    char tmpl[] = "/tmp/tvl-bench-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    platform::setSandboxRoot(tmpl);
    std::printf("Emulated CAN bus, %u cores\n\n", std::thread::hardware_concurrency());

    programsTopology(seconds);
    std::printf("\n");
    printLoad("Three senders at the simulator's rate (4,000 frames/s in all), bus bandwidth on",
              load(4000.0 / 3, seconds, true));
    std::printf("\n");
    printLoad("Three senders flat out with the CAN layer's back-off, bus bandwidth on (8,000 frames/s)",
              load(0, seconds, true));
    std::printf("\n");
    platform::setEmulatedBusBandwidth(kBus, 0, 1);
    printLoad("Three senders flat out, bandwidth limit off (capacity of the mechanism)", load(0, seconds, false));
    std::printf("\n");
    platform::setEmulatedBusBandwidth(kBus, platform::kEmulatedBusFramesPerSecond, platform::kEmulatedBusBurstFrames);
    roundTrip(5000);

    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    return 0;
}
