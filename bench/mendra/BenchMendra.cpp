// bench-mendra [-seconds N]: starts mendra (beside this program in bin/) on a
// private emulated bus in a sandbox of its own, puts the three cards at their
// fastest tick (mode 2: 1638 us), has them send all and waits for their
// probes to be ready; then, for N seconds (default 10), counts the frames the
// cards stream and mendra's CPU time, and prints both against the nominal
// rate.  Beside it, a thread of its own that only sleeps to each tick shows
// what the wake-ups alone cost on the machine at that moment.  Not a test:
// it reports figures, the target being under 5 % of one core.
#include "bench/BenchSupport.h"
#include "can/CANinterface.h"
#include "platform/CanTransport.h"
#include "platform/Platform.h"

#include <pthread.h>
#include <linux/futex.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTickUs = 1638;
constexpr int kCards = 3;

struct Counters {
    std::atomic<long> samples[kCards]{};
    std::atomic<long> frequencies[kCards]{};
    std::atomic<long> peaks[kCards]{};
    std::atomic<long> other{0};
    std::atomic<int> hello[kCards]{};
    std::atomic<int> presence[kCards]{};
    std::atomic<int> cardReady[kCards]{};
};

// A thread that does nothing but sleep to the next tick, as mendra's stream
// ticker does (futex wait to an absolute time, 1 us timer slack): the CPU a
// tick costs on this machine before any work.  Returns its CPU seconds.
double bareTicker(const std::atomic<bool>& running) {
    prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
    std::atomic<std::uint32_t> word{0};
    struct timespec c0, c1;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
    while (running) {
        const auto due = Clock::now() + std::chrono::microseconds(kTickUs);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch()).count();
        struct timespec at;
        at.tv_sec = ns / 1000000000;
        at.tv_nsec = ns % 1000000000;
        syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_BITSET_PRIVATE, 0u, &at, nullptr,
                FUTEX_BITSET_MATCH_ANY);
    }
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
    return double(c1.tv_sec - c0.tv_sec) + double(c1.tv_nsec - c0.tv_nsec) / 1e9;
}

double clockSeconds(clockid_t clock) {
    struct timespec ts;
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Counts every frame to the host by card and command.
void countFrames(platform::CanTransport& bus, Counters& n, const std::atomic<bool>& running) {
    while (running) {
        can_frame f{};
        if (bus.read(f, 200) <= 0) continue;
        const int id = static_cast<int>(f.can_id & CAN_SFF_MASK);
        const int card = (id >> 8) - 3;
        const int cmd = id & 0x1F;
        if (card < 0 || card >= kCards) {
            ++n.other;
            continue;
        }
        switch (cmd) {
        case 0x00: ++n.samples[card]; break;
        case 0x10: ++n.frequencies[card]; break;
        case 0x07: ++n.peaks[card]; break;
        case 0x0A: n.hello[card] = 1; break;
        case 0x05: n.presence[card] = f.data[0]; break;
        case 0x06: n.cardReady[card] = 1; break;
        default: ++n.other; break;
        }
    }
}

// CPU seconds of each thread of a process, summed by thread name.
std::map<std::string, double> cpuByThreadName(pid_t pid) {
    std::map<std::string, double> out;
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(taskDir, ec)) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        out[name] += bench::statCpuSeconds(entry.path() / "stat");
    }
    return out;
}

template <class Pred>
bool waitFor(Pred pred, std::chrono::seconds deadline) {
    const auto end = Clock::now() + deadline;
    while (Clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "Usage: bench-mendra [-seconds N]\n");
            return 2;
        }
    }
    if (seconds <= 0) seconds = 10;

    char sandboxTemplate[] = "/tmp/tvl-bench-XXXXXX";
    const char* sandbox = mkdtemp(sandboxTemplate);
    if (!sandbox) {
        std::perror("mkdtemp");
        return 1;
    }
    platform::setSandboxRoot(sandbox);
    platform::markSandbox(sandbox);
    const std::string bus = "bm" + std::to_string(getpid() % 100000);
    const std::string mendra =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "mendra").string();

    auto listener = platform::openCanTransport(bus.c_str());
    const can_filter toHost{0x020, 0x0E0};
    listener->setFilters(&toHost, 1);
    Counters n;
    std::atomic<bool> running{true};
    std::thread counter(countFrames, std::ref(*listener), std::ref(n), std::cref(running));
    CANinterface host(bus.c_str());
    host.setFilter(0x7FF, 0x7FF);   // sends only

    const pid_t pid = bench::startMendra(mendra, sandbox, bus);

    int result = 0;
    bool ok = waitFor(
        [&] {
            bool all = true;
            for (int c = 0; c < kCards; ++c)
                if (!n.hello[c]) {
                    host.sendHello(c + 1);
                    all = false;
                }
            return all;
        },
        std::chrono::seconds(10));
    if (ok) {
        for (int c = 1; c <= kCards; ++c) {
            host.sendSetMode(c, 2, 0);   // fastest tick
            host.sendSendAllRequest(c);
        }
        std::printf("mendra started (pid %d); waiting for its probes to be ready...\n", static_cast<int>(pid));
        std::fflush(stdout);
        ok = waitFor([&] {
            for (int c = 0; c < kCards; ++c)
                if (n.presence[c] != 2 || !n.cardReady[c]) return false;
            return true;
        }, std::chrono::seconds(20));
    }
    if (!ok) {
        std::fprintf(stderr, "bench-mendra: mendra did not come up\n");
        result = 1;
    } else {
        // Let the streams settle, then measure.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        long samples0[kCards], frequencies0[kCards], peaks0[kCards];
        for (int c = 0; c < kCards; ++c) {
            samples0[c] = n.samples[c];
            frequencies0[c] = n.frequencies[c];
            peaks0[c] = n.peaks[c];
        }
        clockid_t listenerClock;
        const bool haveListenerClock = pthread_getcpuclockid(counter.native_handle(), &listenerClock) == 0;
        const double listener0 = haveListenerClock ? clockSeconds(listenerClock) : 0;
        const double cpu0 = bench::cpuSeconds(pid);
        const auto threads0 = cpuByThreadName(pid);
        const auto t0 = Clock::now();
        std::atomic<bool> bareRunning{true};
        double bareCpu = 0;
        std::thread bare([&] { bareCpu = bareTicker(bareRunning); });
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double cpu1 = bench::cpuSeconds(pid);
        const auto threads1 = cpuByThreadName(pid);
        const double listener1 = haveListenerClock ? clockSeconds(listenerClock) : 0;
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        bareRunning = false;
        bare.join();

        const double nominalTicks = 1e6 / kTickUs;
        const double nominalFrames = kCards * (2 * nominalTicks + nominalTicks / (1000000 / kTickUs + 1));
        long frames = 0;
        std::printf("\nmendra, three cards at a %d us tick, measured over %.1f s:\n", kTickUs, wall);
        for (int c = 0; c < kCards; ++c) {
            const long s = n.samples[c] - samples0[c];
            const long f = n.frequencies[c] - frequencies0[c];
            const long p = n.peaks[c] - peaks0[c];
            frames += s + f + p;
            std::printf("  card %d: %7.1f samples/s (nominal %.1f, %.1f %%), %.1f peak frames/s\n", c + 1,
                        s / wall, nominalTicks, 100.0 * s / wall / nominalTicks, p / wall);
        }
        const double cpuPercent = 100.0 * (cpu1 - cpu0) / wall;
        std::printf("  frames/s: %.0f of nominal %.0f (%.1f %%)\n", frames / wall, nominalFrames,
                    100.0 * frames / wall / nominalFrames);
        std::printf("  CPU: %.2f %% of one core (target under 5 %%)%s\n", cpuPercent,
                    cpuPercent < 5.0 ? "" : "  ABOVE TARGET");
        std::printf("  beside it, a thread that only sleeps to each tick: %.2f %% of one core "
                    "(what the sleep alone costs on this machine now)\n",
                    100.0 * bareCpu / wall);
        std::printf("  CPU by thread name:");
        for (const auto& [name, t1] : threads1) {
            const auto before = threads0.find(name);
            const double t0 = before == threads0.end() ? 0.0 : before->second;
            std::printf("  %s %.2f %%", name.c_str(), 100.0 * (t1 - t0) / wall);
        }
        std::printf("\n");
        if (haveListenerClock)
            std::printf("  this listener (every frame of the cards, in another process): %.2f %% of one core, "
                        "%.2f us per frame\n",
                        100.0 * (listener1 - listener0) / wall, frames > 0 ? 1e6 * (listener1 - listener0) / frames : 0);
        std::printf("  frames lost by this listener: %llu\n",
                    static_cast<unsigned long long>(listener->droppedFrames()));
    }

    bench::stopMendra(pid);
    running = false;
    listener->wake();
    counter.join();
    std::error_code ec;
    std::filesystem::remove_all(sandbox, ec);
    return result;
}
