#include "PagesTestSupport.h"

#include "ranges/RangeSpec.h"
#include "support/TestDisplay.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

using testsupport::waitUntil;

namespace pagestest {

namespace {

Instrument* theInstrument = nullptr;

// Stops the links and removes the sandbox when the tests end.
// The GUI thread is this test program's main thread.
class InstrumentEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        gui::initGuiThread();
        testsupport::openTestDisplay();
    }
    void TearDown() override {
        delete theInstrument;
        theInstrument = nullptr;
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new InstrumentEnvironment);

void putFloat(char* d, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 4; ++i) d[i] = static_cast<char>(bits >> (24 - 8 * i));
}

}  // namespace

Instrument::Instrument(std::vector<int> slots, bool decideModel) : bus(testsupport::uniqueBusName("pg")) {
    for (int slot : slots) cards[slot - 1] = std::make_unique<channeltest::ScriptedCard>(bus, slot);
    // A silent slot still needs an endpoint that answers nothing.
    for (int slot = 1; slot <= 3; ++slot) {
        if (cards[slot - 1]) continue;
        cards[slot - 1] = std::make_unique<channeltest::ScriptedCard>(bus, slot);
        cards[slot - 1]->answerHello = false;
    }
    testing::internal::CaptureStdout();
    meterModel = MeterModel::instanceForInterface(bus.c_str());
    // The three links greet their cards side by side.
    std::vector<std::thread> starts;
    for (unsigned slot = 1; slot <= 3; ++slot) starts.emplace_back([this, slot] { meterModel->getChannel(slot)->startCan(); });
    for (auto& t : starts) t.join();
    if (decideModel) meterModel->startChannelLinks();
    testing::internal::GetCapturedStdout();
}

Instrument::~Instrument() {
    meterModel->stopCan();
    for (auto& c : cards) c.reset();
}

Instrument& instrument(std::vector<int> slots, bool decideModel) {
    if (!theInstrument) theInstrument = new Instrument(std::move(slots), decideModel);
    return *theInstrument;
}

void Instrument::sendProbeConfig(int slot, const ProbeConfig& c) {
    const char config[7] = {static_cast<char>(c.series), static_cast<char>(c.axis), static_cast<char>(c.type),
                            static_cast<char>(c.hallCurrent), static_cast<char>(c.simulated),
                            static_cast<char>(c.temperatureSensor), static_cast<char>(c.probeClass)};
    card(slot).out().sendProbeDataBytes(slot, 6, config, 7);
}

void Instrument::sendProbeTemperature(int slot, float celsius) {
    char item[7] = {0};
    putFloat(item, celsius);
    card(slot).out().sendProbeDataBytes(slot, 20, item, 7);
}

void Instrument::sendProbeText(int slot, int firstKind, const char* text) {
    char first[7] = {0}, second[7] = {0};
    const std::size_t n = std::strlen(text);
    std::memcpy(first, text, n < 6 ? n : 6);
    if (n > 6) std::memcpy(second, text + 6, n - 6 < 6 ? n - 6 : 6);
    card(slot).out().sendProbeDataBytes(slot, firstKind, first, 7);
    card(slot).out().sendProbeDataBytes(slot, firstKind + 1, second, 7);
}

void Instrument::makeReady(int slot, const ProbeConfig& config) {
    ChannelModel& ch = channel(slot);
    ASSERT_TRUE(waitUntil([&] { return ch.isCardPresent(); }, std::chrono::seconds(20)));
    if (ch.getChannelStatus() == kChannelProbeReady) return giveFirstReading(slot);
    card(slot).out().sendCardReady(slot);
    card(slot).out().sendProbePresence(slot, 1);
    sendProbeConfig(slot, config);
    char multiplier[7] = {0};
    putFloat(multiplier, 1.0f);
    card(slot).out().sendProbeDataBytes(slot, 9, multiplier, 7);
    ASSERT_TRUE(waitUntil([&] { return ch.getChannelStatus() == kChannelProbeReady; }, std::chrono::seconds(20)));
    giveFirstReading(slot);
}

// A ready channel serves readings once one has come after the settling:
// bursts of samples at half the range's full scale (in range, and inside its
// autorange band, so that the range stays) until it has one.
void Instrument::giveFirstReading(int slot) {
    ChannelModel& ch = channel(slot);
    ch.setSamplesPerAverage(1);
    if (ch.isReadingValid()) return;
    const RangeSpec* spec = ch.getRangeSpec();
    const float gauss = 0.5f * spec->getFullScale();
    ASSERT_TRUE(waitUntil(
        [&] {
            card(slot).sendSamples(gauss, 20, 0);
            return waitUntil([&] { return ch.isReadingValid(); }, std::chrono::milliseconds(50));
        },
        std::chrono::seconds(20)))
        << "channel " << slot << " made no reading";
}

void Instrument::feed(int slot, float gauss, int status) {
    channel(slot).setSamplesPerAverage(1);
    card(slot).sendSamples(gauss, 5, status);
}

void Instrument::showReading(int slot, float gauss, int status) {
    ChannelModel& ch = channel(slot);
    // Readings may be skipped after a mode change, and a mode report sets
    // the averaging again: send bursts of one-sample readings until the
    // channel shows this one.
    ASSERT_TRUE(waitUntil(
        [&] {
            ch.setSamplesPerAverage(1);
            card(slot).sendSamples(gauss, 20, status);
            return waitUntil([&] { return std::fabs(ch.getValue() - gauss) <= 1e-3f * std::fabs(gauss) + 1e-6f; },
                             std::chrono::milliseconds(50));
        },
        std::chrono::seconds(20)))
        << "channel " << slot << " never showed " << gauss;
}

// ---- Screen -------------------------------------------------------------------

Screen::Screen() : window(0, 0, 640, 480) {
    window.end();
    window.color(FL_BLACK);
}

Screen::~Screen() {
    window.hide();
    gui::runPending();
}

void Screen::show() {
    window.show();
    waitFor([this] { return window.shown() && window.visible(); });
    pump();
}

void Screen::pump() {
    gui::runPending();
    Fl::check();
    Fl::flush();
    if (fl_display) XSync(fl_display, False);
}

bool Screen::waitFor(const std::function<bool()>& pred, std::chrono::milliseconds deadline) {
    return waitUntil(
        [&] {
            pump();
            return pred();
        },
        deadline, std::chrono::milliseconds(10));
}

std::vector<unsigned char> Screen::paintOffscreen(const std::function<void()>& paint, int x, int y, int w, int h) {
    pump();
    window.make_current();
    Fl_Offscreen offscreen = fl_create_offscreen(window.w(), window.h());
    std::vector<unsigned char> rgb(static_cast<std::size_t>(w * h * 3));
    {
        fl_begin_offscreen(offscreen);
        paint();
        fl_read_image(rgb.data(), x, y, w, h);
        fl_end_offscreen();
    }
    fl_delete_offscreen(offscreen);
    return rgb;
}

Rgb pixelAt(const std::vector<unsigned char>& rgb, int w, int x, int y) {
    const std::size_t at = static_cast<std::size_t>((y * w + x) * 3);
    return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

Rgb rgbOf(unsigned color) {
    unsigned char r, g, b;
    Fl::get_color(static_cast<Fl_Color>(color), r, g, b);
    return {r, g, b};
}

void screenshot(Screen& screen, const std::string& name, int x, int y, int w, int h) {
    const char* dir = std::getenv("TVL_SCREENSHOT_DIR");
    const char* display = std::getenv("DISPLAY");
    if (!dir || !display) return;
    screen.pump();
    // Where the window landed on the screen.
    Window child;
    int rootX = 0, rootY = 0;
    XTranslateCoordinates(fl_display, fl_xid(&screen.win()), RootWindow(fl_display, fl_screen), 0, 0, &rootX, &rootY,
                          &child);
    const std::string command = testsupport::binPath("x11-screenshot") + " -display " + display + " -region " +
                                std::to_string(rootX + x) + "," + std::to_string(rootY + y) + "," +
                                std::to_string(w) + "," + std::to_string(h) + " " + dir + "/" + name + ".png";
    if (std::system(command.c_str()) != 0) std::cerr << "screenshot failed: " << command << "\n";
}

}  // namespace pagestest

// The sanitizer build's leak check: the font libraries under the toolkit
// keep their caches until the process ends.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libXft.so\n";
}
