// bench-readouts [-seconds N]: the front panel's readouts fed at the cards'
// fastest rate.  Starts mendra (beside this program in bin/) on a private
// emulated bus in a sandbox of its own, makes the program's meter model on
// it, puts the three cards at their fastest tick and the display rate at its
// highest, and builds the readouts as the main window does (three channel
// readouts and the vector sum stacked on screen; the diagnostics panels, the
// full-height readout and the waveform view built but not shown).  It then
// measures this process's CPU time for N seconds (default 10) twice: with
// the readouts off the screen (the models alone) and on it.  Needs an X
// display.  Not a test: it reports figures.
#include "bench/BenchSupport.h"
#include "meter/MeterModel.h"
#include "channel/ChannelModel.h"
#include "can/CANinterface.h"
#include "pages/DiagDisplay.h"
#include "pages/NumericDisplay.h"
#include "pages/VectorSumDisplay.h"
#include "pages/WaveFormDisplay.h"
#include "platform/Platform.h"
#include "widgets/GuiThread.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The GUI thread is the main thread: its task id is the process id.
double guiThreadCpuSeconds() {
    return bench::statCpuSeconds("/proc/self/task/" + std::to_string(getpid()) + "/stat");
}

// Runs the event loop for the given time and prints the CPU share of one
// core of this process, of its GUI thread (where the readouts draw) and of
// mendra.
void measure(const char* what, int seconds, pid_t mendra) {
    const double cpu0 = processCpuSeconds();
    const double gui0 = guiThreadCpuSeconds();
    const double mendra0 = bench::cpuSeconds(mendra);
    const auto t0 = Clock::now();
    const auto end = t0 + std::chrono::seconds(seconds);
    while (Clock::now() < end) Fl::wait(0.05);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("%-34s %5.1f %% of one core, GUI thread %4.1f %% (mendra %4.1f %%)\n", what,
                100.0 * (processCpuSeconds() - cpu0) / wall, 100.0 * (guiThreadCpuSeconds() - gui0) / wall,
                100.0 * (bench::cpuSeconds(mendra) - mendra0) / wall);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "Usage: bench-readouts [-seconds N]\n");
            return 2;
        }
    }
    if (seconds <= 0) seconds = 10;
    gui::initGuiThread();

    char sandboxTemplate[] = "/tmp/tvl-bench-XXXXXX";
    const char* sandbox = mkdtemp(sandboxTemplate);
    if (!sandbox) {
        std::perror("mkdtemp");
        return 1;
    }
    // The build's sandbox as the template: the data files and the stand-in
    // commands the models run (the network script among them).
    const std::filesystem::path bin = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::error_code ec;
    std::filesystem::copy(bin.parent_path() / "sandbox", sandbox, std::filesystem::copy_options::recursive, ec);
    platform::setSandboxRoot(sandbox);
    platform::markSandbox(sandbox);
    const std::string bus = "br" + std::to_string(getpid() % 100000);
    const std::string mendraPath = (bin / "mendra").string();
    const pid_t mendra = bench::startMendra(mendraPath, sandbox, bus);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // The readouts, as the main window builds them.
    Fl_Double_Window window(0, 0, 640, 480);
    window.end();
    window.color(FL_BLACK);
    // The models' console lines would mix with the figures.
    std::fflush(stdout);
    const int console = dup(1);
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 1);
    MeterModel* meter = MeterModel::instanceForInterface(bus.c_str());
    const unsigned colors[3] = {fl_rgb_color(0, 255, 255), fl_rgb_color(255, 16, 140), fl_rgb_color(0, 239, 0)};
    NumericDisplay* numeric[3];
    for (int c = 0; c < 3; ++c) {
        numeric[c] = new NumericDisplay(0, 160 * c, 508, 160, colors[c], FL_BLACK, c + 1, true);
        new DiagDisplay(0, 160 * c, 508, 160, colors[c], FL_BLACK, c + 1);
    }
    auto* vectorSum = new VectorSumDisplay(0, 360, 508, 120, FL_BLUE, FL_BLACK);
    auto* single = new NumericDisplay(0, 0, 508, 480, colors[1], FL_BLACK, 2, false);
    single->resize(0, 0, 508, 480);
    new DiagDisplay(0, 0, 508, 480, colors[1], FL_BLACK, 2);
    new WaveFormDisplay(0, 0, 508, 480);
    window.show();

    meter->startBackplane();
    for (unsigned c = 1; c <= 3; ++c) meter->getChannel(c)->requestAllData();
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    bool ready = false;
    while (!ready && Clock::now() < deadline) {
        Fl::wait(0.1);
        ready = true;
        for (unsigned c = 1; c <= 3; ++c) ready = ready && meter->getChannel(c)->getChannelStatus() == kChannelProbeReady;
    }
    std::cout.flush();
    std::fflush(stdout);
    if (console >= 0) dup2(console, 1);
    if (!ready) {
        std::fprintf(stderr, "bench-readouts: the simulated probes did not become ready\n");
        bench::stopMendra(mendra);
        return 1;
    }
    // The cards' fastest tick and the highest display rate.
    CANinterface host(bus.c_str());
    host.setFilter(0x7FF, 0x7FF);   // sends only
    for (int c = 1; c <= 3; ++c) host.sendSetMode(c, 2, 0);
    meter->setDisplayRate(5.9f);
    const auto settle = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < settle) Fl::wait(0.05);
    measure("models, readouts off the screen:", seconds, mendra);
    for (int c = 0; c < 3; ++c) {
        numeric[c]->resize(0, 120 * c, 508, 120);
        window.add(numeric[c]);
    }
    vectorSum->resize(0, 360, 508, 120);
    window.add(vectorSum);
    window.redraw();
    measure("models and readouts on the screen:", seconds, mendra);
    const float rate = meter->getChannel(1)->getDisplayedSampleRate();
    std::printf("readings per second and channel: %.1f, samples received per second: %.0f\n",
                static_cast<double>(rate), static_cast<double>(meter->getChannel(1)->getReceivedSampleRate()));
    std::fflush(stdout);

    bench::stopMendra(mendra);
    std::filesystem::remove_all(sandbox, ec);
    std::_Exit(0);
}
