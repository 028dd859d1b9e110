// The waveform view: traces and trigger markers computed on the plot, and
// the view on the program's meter model with scripted cards (three answer).
#include "PagesTestSupport.h"

#include "pages/WaveFormDisplay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

using namespace pagestest;
using W = WaveFormDisplay;

namespace {

const W::Plot kPlot{4.0f, 60.0f, 500.0f, 376.0f};   // the 508 x 480 view's
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

WaveformBuffer capture(std::initializer_list<float> samples) {
    WaveformBuffer b;
    b.count = static_cast<int>(samples.size());
    int i = 0;
    for (float s : samples) b.samples[i++] = s;
    return b;
}

void expectOnPlot(const W::Polylines& lines) {
    for (const auto& line : lines) {
        EXPECT_GE(line.size(), 2u);
        for (const W::Point& p : line) {
            EXPECT_GE(p.x, kPlot.left);
            EXPECT_LE(p.x, kPlot.right());
            EXPECT_GE(p.y, kPlot.top);
            EXPECT_LE(p.y, kPlot.bottom());
        }
    }
}

TEST(WaveformTrace, SamplesSpanThePlotAndFourDivisionsReachItsEdges) {
    const auto lines = W::tracePolylines(capture({4.0f, 0.0f, -4.0f}), 1.0f, kPlot);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].size(), 3u);
    EXPECT_FLOAT_EQ(lines[0][0].x, 4.0f);
    EXPECT_FLOAT_EQ(lines[0][0].y, 60.0f);     // +4 divisions: the top
    EXPECT_FLOAT_EQ(lines[0][1].x, 254.0f);
    EXPECT_FLOAT_EQ(lines[0][1].y, 248.0f);    // the centre line
    EXPECT_FLOAT_EQ(lines[0][2].x, 504.0f);
    EXPECT_FLOAT_EQ(lines[0][2].y, 436.0f);    // -4 divisions: the bottom
}

TEST(WaveformTrace, CountsAndScalesThatGiveNoTrace) {
    WaveformBuffer b = capture({1.0f, 2.0f});
    struct Case {
        int count;
        float division;
    } cases[] = {{0, 1.0f}, {1, 1.0f}, {-7, 1.0f}, {2, 0.0f}, {2, -1.0f}, {2, kNaN}, {2, kInf}, {2, 1e-45f}};
    for (const Case& c : cases) {
        b.count = c.count;
        const auto lines = W::tracePolylines(b, c.division, kPlot);
        expectOnPlot(lines);
        EXPECT_TRUE(lines.empty()) << c.count << " " << c.division;
    }
    // A count beyond the buffer reads the buffer only.
    WaveformBuffer full;
    for (int i = 0; i < WaveformBuffer::kCapacity; ++i) full.samples[i] = 1.0f;
    full.count = 100000;
    const auto lines = W::tracePolylines(full, 1.0f, kPlot);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), static_cast<std::size_t>(WaveformBuffer::kCapacity));
    EXPECT_FLOAT_EQ(lines[0].back().x, kPlot.right());
}

TEST(WaveformTrace, SamplesFarOffTheScreenAreCutToThePlot) {
    // Alternating far above and far below: vertical strokes from edge to edge.
    const auto strokes = W::tracePolylines(capture({1e30f, -1e30f, 3e38f, -3e38f, 1e30f}), 1.0f, kPlot);
    ASSERT_EQ(strokes.size(), 4u);
    expectOnPlot(strokes);
    for (const auto& s : strokes) {
        EXPECT_FLOAT_EQ(s.front().y, s[0].y < 248.0f ? kPlot.top : kPlot.bottom());
        EXPECT_FLOAT_EQ(std::fabs(s.back().y - s.front().y), kPlot.height);
    }
    // A line that leaves the plot and comes back is two lines.
    const auto out = W::tracePolylines(capture({0.0f, 1.0f, 100.0f, 1.0f, 0.0f}), 1.0f, kPlot);
    ASSERT_EQ(out.size(), 2u);
    expectOnPlot(out);
    EXPECT_FLOAT_EQ(out[0].back().y, kPlot.top);
    EXPECT_FLOAT_EQ(out[1].front().y, kPlot.top);
    // Entirely off the plot: nothing.
    EXPECT_TRUE(W::tracePolylines(capture({50.0f, 60.0f, 70.0f}), 1.0f, kPlot).empty());
    // A sample that is not a number breaks the line.
    const auto broken = W::tracePolylines(capture({0.0f, 1.0f, kNaN, 1.0f, 2.0f, kInf, -kInf}), 1.0f, kPlot);
    ASSERT_EQ(broken.size(), 2u);
    EXPECT_EQ(broken[0].size(), 2u);
    EXPECT_EQ(broken[1].size(), 2u);
}

TEST(WaveformTrace, TriggerMarkerOnScaleAboveAndBelow) {
    struct Case {
        float level, division;
        bool shown;
        int points[6];
    } cases[] = {
        // R = 504, T = 60, B = 436, centre 248; 4 divisions of 2 = 8.
        {4.0f, 2.0f, true, {500, 154, 506, 150, 506, 158}},
        {8.0f, 2.0f, true, {500, 60, 506, 56, 506, 64}},      // exactly on the top: on scale
        {-8.0f, 2.0f, true, {500, 436, 506, 432, 506, 440}},
        {8.5f, 2.0f, true, {498, 63, 506, 63, 502, 57}},      // above: pointing up
        {-1e30f, 2.0f, true, {498, 433, 506, 433, 502, 439}}, // below: pointing down
        {kNaN, 2.0f, false, {}},
        {1.0f, 0.0f, false, {}},
        {1.0f, kNaN, false, {}},
    };
    for (const Case& c : cases) {
        int pts[6] = {};
        ASSERT_EQ(W::triggerMarker(c.level, c.division, kPlot, pts), c.shown) << c.level;
        if (!c.shown) continue;
        for (int i = 0; i < 6; ++i) EXPECT_EQ(pts[i], c.points[i]) << c.level << " point " << i;
    }
}

// ---- The view on the models ----------------------------------------------------------

class WaveformView : public ::testing::Test {
protected:
    W& build() {
        view = &screen.make<W>(0, 0, 508, 480);
        screen.show();
        return *view;
    }
    ::testing::AssertionResult shows(W::Cell c, const std::string& text) {
        if (screen.waitFor([&] { return view->cell(c).shownText() == text; })) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "cell " << c << " shows \"" << view->cell(c).shownText()
                                             << "\", not \"" << text << "\"";
    }
    ::testing::AssertionResult headerShows(int slot, W::Cell c, const std::string& text) {
        return shows(W::headerCell(slot, c), text);
    }
    // A capture from the card, announced as the meter does when it is whole.
    void sendCapture(int slot, const std::vector<float>& samples) {
        auto& out = inst.card(slot).out();
        out.sendWaveformStart(slot, static_cast<int>(samples.size()));
        for (std::size_t i = 0; i + 1 < samples.size(); i += 2) out.sendWaveformData(slot, samples[i], samples[i + 1]);
        out.sendWaveformEnd(slot);
    }

    Instrument& inst = instrument({1, 2, 3}, true);
    Screen screen;
    W* view = nullptr;
};

TEST_F(WaveformView, HeadersFooterTraceAndTriggerMarker) {
    for (int slot : {1, 2}) inst.makeReady(slot);
    ChannelModel& ch1 = inst.channel(1);
    ch1.setRange(0);   // 30 G
    inst.card(1).out().sendModeReply(1, 1, 0, 610.0f);
    inst.card(1).out().sendFrequency(1, 60.0f);
    ch1.setWaveformScale(1);   // 30 G / 30: 1 G a division
    MeterModel* meter = inst.meter();
    meter->setTriggerChannel(1);
    meter->setTriggerMode(3);
    meter->setTriggerSlope(1);
    ch1.setTriggerLevel(-2.0f);
    ASSERT_TRUE(testsupport::waitUntil([&] { return ch1.getMode() == 1 && ch1.getRange() == 0; }));
    build();

    // Slot 1 in AC, slot 2 in DC, slot 3 without a probe.
    EXPECT_TRUE(screen.waitFor([&] {
        inst.feed(1, 12.5f);
        return view->cell(W::headerCell(1, W::kReading)).shownText() == "12.5000";
    }));
    EXPECT_TRUE(headerShows(1, W::kLabel, "CH1"));
    EXPECT_TRUE(headerShows(1, W::kRange, "(30G):"));
    EXPECT_TRUE(headerShows(1, W::kUnit, "G"));
    EXPECT_TRUE(headerShows(1, W::kFrequency, "60.0Hz"));
    EXPECT_EQ(view->cell(W::headerCell(1, W::kScale)).shownText(), ch1.getCurrentWaveformScaleText());
    EXPECT_TRUE(headerShows(2, W::kRange, ":DC MODE"));
    EXPECT_TRUE(headerShows(3, W::kRange, ":NO PROBE"));
    for (int slot : {2, 3})
        for (W::Cell c : {W::kReading, W::kUnit, W::kFrequency, W::kScale})
            EXPECT_EQ(view->cell(W::headerCell(slot, c)).shownText(), "") << slot << " " << c;

    // Footer: time base, filter of slot 2, the trigger row in slot 1's colour.
    EXPECT_EQ(view->cell(W::kTimeBase).shownText(), "Time Base: " + meter->getTimebasePerDivText());
    EXPECT_EQ(view->cell(W::kFilter).shownText(), "FILTER: 20Hz - 50kHz");
    EXPECT_EQ(view->cell(W::kTriggerLabel).shownText(), "Trig");
    EXPECT_EQ(view->cell(W::kTriggerChannel).shownText(), "CH1");
    EXPECT_EQ(view->cell(W::kTriggerMode).shownText(), "Single");
    EXPECT_EQ(view->cell(W::kSlope).shownText(), "NEG");
    EXPECT_EQ(view->cell(W::kLevelSign).shownText(), "-");
    EXPECT_EQ(view->cell(W::kLevel).shownText(), "2.0000");
    EXPECT_EQ(view->cell(W::kLevelUnit).shownText(), "G");
    EXPECT_EQ(view->cell(W::kAcquisitionState).shownText(), "Stopped");
    EXPECT_EQ(view->cell(W::kRateLabel).shownText(), "Trig/Sec:");
    EXPECT_EQ(view->cell(W::kRateValue).shownText(), "0.0");
    for (int c = W::kTriggerLabel; c <= W::kAcquisitionState; ++c)
        EXPECT_EQ(view->cell(static_cast<W::Cell>(c)).getTextColor(), rgb(0, 255, 255)) << c;
    EXPECT_EQ(view->cell(W::kTimeBase).getTextColor(), static_cast<unsigned>(FL_YELLOW));

    // A capture of slot 1: a sine of 3 divisions, 100 samples.
    std::vector<float> sine(100);
    for (int i = 0; i < 100; ++i) sine[i] = 3.0f * std::sin(2.0f * 3.14159265f * i / 99.0f);
    sendCapture(1, sine);
    ASSERT_TRUE(testsupport::waitUntil([&] { return ch1.getWaveformBuffer().count == 100; }));
    std::thread([&] { meter->signalWaveformReady().emit(); }).join();
    EXPECT_TRUE(screen.waitFor([&] { return !view->shownTrace(1).empty(); }));
    const auto& trace = view->shownTrace(1);
    ASSERT_EQ(trace.size(), 1u);
    ASSERT_EQ(trace[0].size(), 100u);
    EXPECT_FLOAT_EQ(trace[0][0].x, 4.0f);
    EXPECT_FLOAT_EQ(trace[0][0].y, 248.0f);
    EXPECT_NEAR(trace[0][25].y, 248.0f - 3.0f / 4.0f * 188.0f, 1.0f);   // the crest, 3 divisions up
    EXPECT_TRUE(view->shownTrace(2).empty());
    EXPECT_TRUE(view->shownTrace(3).empty());
    // The single-shot marker at -2 divisions on the right edge.
    int marker[6];
    ASSERT_TRUE(view->shownMarker(marker));
    EXPECT_EQ(marker[0], 500);
    EXPECT_EQ(marker[1], 248 + 94);
    screenshot(screen, "waveform", 0, 0, 508, 480);

    // Free run: no marker.
    meter->setTriggerMode(0);
    EXPECT_TRUE(shows(W::kTriggerMode, "Free"));
    EXPECT_FALSE(view->shownMarker(marker));

    // Over range: the reading and unit go, the trace and the frequency stay.
    inst.card(1).sendSamples(50.0f, 5);
    EXPECT_TRUE(headerShows(1, W::kRange, ":OVER"));
    EXPECT_EQ(view->cell(W::headerCell(1, W::kReading)).shownText(), "");
    EXPECT_EQ(view->cell(W::headerCell(1, W::kFrequency)).shownText(), "60.0Hz");
}

TEST_F(WaveformView, EditingTheTriggerLevelHighlightsTheSelectedDigit) {
    inst.makeReady(2);
    ChannelModel& ch2 = inst.channel(2);
    ch2.setRange(0);   // four decimals
    ASSERT_TRUE(testsupport::waitUntil([&] { return ch2.getRange() == 0; }));
    ch2.setTriggerLevel(12.5f);
    build();
    ASSERT_EQ(view->triggerSlot(), 2);
    ch2.editTriggerLevel(true);
    EXPECT_TRUE(shows(W::kLevel, "12.5000"));
    EXPECT_EQ(view->cell(W::kLevel).shownHighlightStart(), 6);
    EXPECT_EQ(view->cell(W::kLevel).shownHighlightCount(), 1);
    for (int k = 1; k <= 4; ++k) ch2.editDigitLeft();
    // Digit 4 is the units digit, left of the point.
    EXPECT_TRUE(screen.waitFor([&] { return view->cell(W::kLevel).shownHighlightStart() == 1; }))
        << view->cell(W::kLevel).shownHighlightStart();
    ch2.editTriggerLevel(false);
    EXPECT_TRUE(screen.waitFor([&] { return view->cell(W::kLevel).shownHighlightCount() == 0; }));
    EXPECT_EQ(view->cell(W::kLevel).shownText(), "12.5000");
}

TEST_F(WaveformView, EachSignalRepaintsOnlyItsPart) {
    build();
    MeterModel* meter = inst.meter();
    ChannelModel& ch1 = inst.channel(1);
    ChannelModel& ch2 = inst.channel(2);
    ChannelModel& ch3 = inst.channel(3);
    meter->setTriggerChannel(2);
    struct Case {
        std::function<void()> emit;
        unsigned char damage;
    } cases[] = {
        {[&] { ch1.signalNewReading().emit(1, 0, 0, 0, 0, 0, 0); }, 0x01},
        {[&] { ch3.signalNewReading().emit(3, 0, 0, 0, 0, 0, 0); }, 0x04},
        {[&] { ch2.signalModeChanged().emit(2, 1, 0); }, 0x02},
        {[&] { ch3.signalChannelStatusChanged().emit(3, 2); }, 0x04},
        {[&] { ch1.signalChannelStatusChanged().emit(7, 2); }, 0x00},
        {[&] { meter->signalAcquisitionStateChanged().emit(1); }, 0x20},
        {[&] { meter->signalWaveformReady().emit(); }, 0x10},
        {[&] { meter->signalTimebaseChanged().emit(2); }, FL_DAMAGE_ALL},
        {[&] { ch1.signalRangeChanged().emit(1, 1); }, FL_DAMAGE_ALL},
        {[&] { ch3.signalWaveformScaleChanged().emit(3, 2); }, FL_DAMAGE_ALL},
        {[&] { ch1.signalTriggerLevelChanged().emit(1, false, 1.0f); }, 0x00},   // not the trigger channel
        {[&] { ch2.signalTriggerLevelChanged().emit(2, false, 1.0f); }, FL_DAMAGE_ALL},
    };
    for (auto& c : cases) {
        screen.pump();
        view->clear_damage();
        std::thread(c.emit).join();
        EXPECT_EQ(view->damage(), 0);
        gui::runPending();
        EXPECT_EQ(view->damage(), c.damage) << &c - cases;
    }

    // A trigger-channel announcement recolours the trigger row; one other
    // than 1 or 3 selects slot 2.
    for (auto [announced, slot] : {std::pair{3, 3}, std::pair{7, 2}, std::pair{1, 1}}) {
        std::thread([&, a = announced] { meter->signalTriggerChannelChanged().emit(a); }).join();
        EXPECT_EQ(view->triggerSlot(), slot);
        screen.pump();
        EXPECT_EQ(view->cell(W::kTriggerMode).getTextColor(),
                  slot == 1 ? rgb(0, 255, 255) : slot == 3 ? rgb(0, 239, 0) : rgb(255, 16, 140));
    }
}

}  // namespace
