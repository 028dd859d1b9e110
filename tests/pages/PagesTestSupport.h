// Fixtures of the readout tests: the process's meter model on a private bus
// with scripted channel cards, and a window under Xvfb to show readouts in,
// pump the GUI thread's work and read pixels back.
#pragma once

#include "../channel/ScriptedCard.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "support/TestSupport.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Double_Window.H>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pagestest {

// Probe configuration item as a card sends it.
struct ProbeConfig {
    int series = 2;
    int axis = 0;
    int type = 0;
    int hallCurrent = 1;
    int simulated = 0;
    int temperatureSensor = 1;
    int probeClass = 3;
};

// The meter model singleton of this test program, on a bus of its own, with
// a scripted card in each slot listed at creation (the others stay silent).
// Made once per process by the first call of instrument(); the links stop
// when the tests end.  The meter decides its model (three channels when all
// three cards answer) only when asked to: the decision waits 1.5 s.
class Instrument {
public:
    Instrument(std::vector<int> answeringSlots, bool decideModel);
    ~Instrument();

    MeterModel* meter() const { return meterModel; }
    ChannelModel& channel(int slot) const { return *meterModel->getChannel(static_cast<unsigned>(slot)); }
    channeltest::ScriptedCard& card(int slot) const { return *cards[slot - 1]; }
    const std::string& busName() const { return bus; }

    // Card ready, probe found with this configuration and settled: status
    // 2; every sample is one reading from then on.
    // Probe ready and a first reading made (the channel serves readings).
    void makeReady(int slot, const ProbeConfig& config = ProbeConfig());
    void giveFirstReading(int slot);
    void sendProbeConfig(int slot, const ProbeConfig& config);
    void sendProbeTemperature(int slot, float celsius);
    void sendProbeText(int slot, int firstKind, const char* text);
    // Sends samples until the channel's reading is this one.
    void showReading(int slot, float gauss, int status = 0);
    // Sends a few samples, each one reading.
    void feed(int slot, float gauss, int status = 0);

private:
    testsupport::TempSandbox sandbox;
    std::string bus;
    std::unique_ptr<channeltest::ScriptedCard> cards[3];
    MeterModel* meterModel = nullptr;
};

// Creates the instrument on the first call (slots that answer: those given).
Instrument& instrument(std::vector<int> answeringSlots = {1, 2, 3}, bool decideModel = false);

// A 640 x 480 double-buffered window like the front panel's, that owns the
// widgets made in it.
class Screen {
public:
    Screen();
    ~Screen();

    template <class W, class... Args>
    W& make(Args&&... args) {
        W* w = new W(std::forward<Args>(args)...);
        window.add(w);
        return *w;
    }
    void show();
    // Runs the GUI thread's queued work and repaints what is damaged.
    void pump();
    // Pumps until pred holds (deadline 20 s).
    bool waitFor(const std::function<bool()>& pred,
                 std::chrono::milliseconds deadline = std::chrono::seconds(20));
    // RGB bytes of a rectangle of what paint draws, painted off the screen
    // (windows of tests running side by side may cover this one).
    std::vector<unsigned char> paintOffscreen(const std::function<void()>& paint, int x, int y, int w, int h);
    Fl_Double_Window& win() { return window; }

private:
    Fl_Double_Window window;
};

// One pixel of an RGB byte vector w pixels wide.
struct Rgb {
    unsigned char r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
Rgb pixelAt(const std::vector<unsigned char>& rgb, int w, int x, int y);
Rgb rgbOf(unsigned color);
// A toolkit RGB colour value, kept as unsigned (see widgets/TextBlock.h).
inline unsigned rgb(unsigned char r, unsigned char g, unsigned char b) {
    return static_cast<unsigned>(fl_rgb_color(r, g, b));
}

// Where the screenshots of a run go when TVL_SCREENSHOT_DIR is set: a
// picture of the window's rectangle, named name.png.  Nothing otherwise.
void screenshot(Screen& screen, const std::string& name, int x = 0, int y = 0, int w = 640, int h = 480);

}  // namespace pagestest
