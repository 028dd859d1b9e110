// The channel readout on the program's meter model, fed by scripted cards:
// what each cell shows in each state of the channel, which repaints the
// model's signals ask for, and the layouts by height.
#include "PagesTestSupport.h"

#include "channel/ErrorHandler.h"
#include "pages/NumericDisplay.h"
#include "pages/ReadoutSupport.h"
#include "runtime/ErrorList.h"
#include "runtime/TvlError.h"

#include <FL/fl_draw.H>
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

using namespace pagestest;
using B = NumericDisplay::Block;

namespace {

const unsigned kCyan = rgb(0, 255, 255);
const unsigned kPink = rgb(255, 16, 140);

class NumericReadout : public ::testing::Test {
protected:
    NumericDisplay& build(int slot, int h = 160, bool title = true) {
        panel = &screen.make<NumericDisplay>(0, 0, 508, h, slot == 1 ? kCyan : kPink, FL_BLACK, slot, title);
        screen.show();
        return *panel;
    }
    // Pumps until the cell shows the text.
    ::testing::AssertionResult shows(B b, const std::string& text) {
        if (screen.waitFor([&] { return panel->block(b).shownText() == text; }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "cell " << b << " shows \"" << panel->block(b).shownText()
                                             << "\", not \"" << text << "\"";
    }
    // Feeds the reading until the panel shows it (autorange may take a
    // few readings to settle).
    ::testing::AssertionResult showsReading(int slot, float gauss, const std::string& text) {
        if (screen.waitFor([&] {
                inst.feed(slot, gauss);
                return panel->block(B::kReading).shownText() == text;
            }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the reading shows \"" << panel->block(B::kReading).shownText()
                                             << "\", not \"" << text << "\"";
    }
    // Feeds readings until the cell shows the text: values that change
    // without a signal of their own show with the next reading.
    ::testing::AssertionResult showsWhileFed(int slot, float gauss, B b, const std::string& text) {
        if (screen.waitFor([&] {
                inst.feed(slot, gauss);
                return panel->block(b).shownText() == text;
            }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "cell " << b << " shows \"" << panel->block(b).shownText()
                                             << "\", not \"" << text << "\"";
    }
    // Every cell but those given shows nothing.
    void expectOnly(std::initializer_list<B> shown) {
        for (int b = 0; b < NumericDisplay::kBlockCount; ++b) {
            bool listed = false;
            for (B s : shown) listed = listed || s == b;
            if (!listed) {
                EXPECT_EQ(panel->block(static_cast<B>(b)).shownText(), "") << "cell " << b;
            }
        }
    }

    Instrument& inst = instrument();
    Screen screen;
    NumericDisplay* panel = nullptr;
};

TEST_F(NumericReadout, LayoutFollowsTheHeightAtTheBorders) {
    NumericDisplay& p = build(1, 480);
    struct Case {
        int h, layout;
        int readingSize, clipX, clipY;
        int holdX, holdY, holdW, holdH;
    } cases[] = {
        // inner rectangle: L 5, T 10, R 503, B h - 5
        {480, 0, 68, 20, 364, 293, 310, 200, 140}, {241, 0, 68, 20, 125, 293, 310, 200, 140},
        {240, 1, 55, 385, 107, 385, 139, 102, 86}, {161, 1, 55, 385, 28, 385, 60, 102, 86},
        {160, 2, 55, 390, 44, 385, 60, 102, 86},   {121, 2, 55, 390, 44, 385, 60, 102, 86},
        {120, 3, 42, 340, 38, 385, 39, 102, 70},
    };
    for (const Case& c : cases) {
        p.resize(0, 0, 508, c.h);
        EXPECT_EQ(p.layoutIndex(), c.layout) << c.h;
        EXPECT_EQ(p.block(B::kReading).getSize(), c.readingSize) << c.h;
        EXPECT_EQ(p.block(B::kClip).getX(), c.clipX) << c.h;
        EXPECT_EQ(p.block(B::kClip).getCentreY(), c.clipY) << c.h;
        EXPECT_EQ(p.holdBox().getX(), c.holdX) << c.h;
        EXPECT_EQ(p.holdBox().getY(), c.holdY) << c.h;
        EXPECT_EQ(p.holdBox().getWidth(), c.holdW) << c.h;
        EXPECT_EQ(p.holdBox().getHeight(), c.holdH) << c.h;
        // The reading's centre line and the bar's: T + 4 + H / 2.
        EXPECT_EQ(p.block(B::kReading).getCentreY(), static_cast<int>(14 + (c.h - 15) / 2.0f)) << c.h;
        EXPECT_FLOAT_EQ(p.progressBar().getY(), 14 + (c.h - 15) / 2.0f - 10.0f) << c.h;
        EXPECT_FLOAT_EQ(p.progressBar().getWidth(), 478.0f);
        // The unit follows the reading 5 pixels to its right.
        EXPECT_EQ(p.block(B::kUnit).getX(),
                  static_cast<int>(p.block(B::kReading).getX() + p.block(B::kReading).getWidth() + 5));
        // The classifier state follows its label 5 pixels to the right, the
        // threshold 2 pixels after the state.
        EXPECT_EQ(p.block(B::kClassifierState).getX(),
                  static_cast<int>(p.block(B::kClassifierLabel).getX() + p.block(B::kClassifierLabel).getWidth() + 5));
        EXPECT_EQ(p.block(B::kClassifierThreshold).getX(),
                  static_cast<int>(p.block(B::kClassifierState).getX() + p.block(B::kClassifierState).getWidth() + 2));
    }
    EXPECT_EQ(p.block(B::kReading).getX(), 65);   // L + 60 in the lowest layout
}

TEST_F(NumericReadout, FromStartToAReadingWithUnitRangeTemperatureAndAxis) {
    build(1);
    EXPECT_STREQ(panel->shownTitle(), "Channel 1");
    // The card answered, its probe is not reported yet.
    EXPECT_TRUE(shows(B::kReading, "Initializing..."));
    expectOnly({B::kReading});

    inst.card(1).out().sendCardReady(1);
    inst.card(1).out().sendProbePresence(1, 1);
    EXPECT_TRUE(shows(B::kReading, "Configuring Probe"));
    expectOnly({B::kReading});

    ProbeConfig config;
    config.axis = 3;
    inst.makeReady(1, config);
    inst.sendProbeTemperature(1, 23.5f);
    EXPECT_TRUE(showsReading(1, 12.345f, "12.3450"));
    EXPECT_TRUE(shows(B::kUnit, "G"));
    EXPECT_TRUE(shows(B::kRange, "30G"));
    EXPECT_TRUE(shows(B::kAuto, "AUTO"));
    EXPECT_TRUE(shows(B::kDcAc, "DC"));
    EXPECT_TRUE(shows(B::kProbeTemperature, "PROBE TEMP: 23.5\xB0 C"));
    EXPECT_TRUE(shows(B::kProbeAxis, "PROBE AXIS: Z"));
    EXPECT_TRUE(shows(B::kZeroingText, "ZEROING NEEDED"));
    expectOnly({B::kReading, B::kUnit, B::kRange, B::kAuto, B::kDcAc, B::kProbeTemperature, B::kProbeAxis,
                B::kZeroingText});
    screenshot(screen, "numeric-reading", 0, 0, 508, 160);

    // Out of the sensor's range; then in Fahrenheit; then no sensor, and an
    // axis code the probe record does not know.
    inst.sendProbeTemperature(1, 120.0f);
    inst.channel(1).setTemperatureUnits(0);
    EXPECT_TRUE(showsWhileFed(1, 12.345f, B::kProbeTemperature, "PROBE TEMP ERROR"));
    inst.sendProbeTemperature(1, 25.0f);
    EXPECT_TRUE(showsWhileFed(1, 12.345f, B::kProbeTemperature, "PROBE TEMP: 77.0\xB0 F"));
    config.temperatureSensor = 0;
    config.axis = 0;
    inst.sendProbeConfig(1, config);
    EXPECT_TRUE(showsWhileFed(1, 11.0f, B::kProbeTemperature, ""));
    EXPECT_TRUE(shows(B::kProbeAxis, ""));

    // Manual range: AUTO goes.
    inst.channel(1).setRange(1);
    EXPECT_TRUE(shows(B::kRange, "300G"));
    EXPECT_TRUE(shows(B::kAuto, ""));
    EXPECT_TRUE(showsReading(1, 12.345f, "12.345"));
}

TEST_F(NumericReadout, OverRangeTextsFollowTheSignAndTheMode) {
    build(1, 240);
    inst.makeReady(1);
    inst.channel(1).setRange(0);   // 30 G, over range beyond 33 G
    EXPECT_TRUE(shows(B::kRange, "30G"));
    EXPECT_TRUE(showsReading(1, 10.0f, "10.0000"));
    EXPECT_TRUE(shows(B::kUnit, "G"));

    // The sign is that of the last reading in range.
    inst.card(1).sendSamples(50.0f, 3, 1);
    EXPECT_TRUE(shows(B::kReading, "+Overrange"));
    EXPECT_TRUE(shows(B::kUnit, ""));
    EXPECT_TRUE(shows(B::kClip, "CLIP"));
    screenshot(screen, "numeric-overrange", 0, 0, 508, 240);
    EXPECT_TRUE(showsReading(1, -10.0f, "-10.0000"));
    EXPECT_TRUE(shows(B::kClip, ""));
    inst.card(1).sendSamples(-50.0f, 3);
    EXPECT_TRUE(shows(B::kReading, "-Overrange"));

    // In AC the text has no sign.
    inst.card(1).out().sendModeReply(1, 1, 0, 610.0f);
    EXPECT_TRUE(shows(B::kDcAc, "AC"));
    EXPECT_TRUE(shows(B::kReading, "Overrange"));
}

TEST_F(NumericReadout, ACardGivenUpShowsNoCardPresentInPlaceOfItsLastReading) {
    build(1, 240);
    inst.makeReady(1);
    EXPECT_TRUE(showsReading(1, 10.0f, "10.0000"));
    inst.channel(1).markNoCard();   // as the card watch does with a silent card
    EXPECT_TRUE(shows(B::kReading, "No Card Present"));
    expectOnly({B::kReading});

    // The card answers again and reports its probe: readings again.
    inst.card(1).out().sendHelloReply(1);
    inst.makeReady(1);
    EXPECT_TRUE(showsReading(1, 11.0f, "11.0000"));
}

TEST_F(NumericReadout, AcModeShowsTheSignalAndTheInputFilter) {
    build(1);
    inst.makeReady(1);
    struct Case {
        int freqRange;
        float hz;
        const char* signal;
        const char* filter;
    } cases[] = {
        {0, 1500.0f, "SIGNAL: 1.500 kHz", "FILTER: 20Hz - 50kHz"},
        {1, 60.0f, "SIGNAL: 60.0 Hz", "FILTER: 20Hz - 10kHz"},
        {2, 60.0f, "SIGNAL: 60.0 Hz", "FILTER: 20Hz - 500Hz"},
        {3, 60.0f, "SIGNAL: 60.0 Hz", "FILTER: 1Hz - 500Hz"},
        {4, 60.0f, "SIGNAL: 60.0 Hz", "FILTER: 1Hz - 50kHz"},
        {5, 60.0f, "SIGNAL: 60.0 Hz", "No Correction"},
        {9, 60.0f, "SIGNAL: 60.0 Hz", ""},
    };
    for (const Case& c : cases) {
        inst.card(1).out().sendModeReply(1, 1, c.freqRange, 610.0f);
        inst.card(1).out().sendFrequency(1, c.hz);
        EXPECT_TRUE(showsWhileFed(1, 2.0f, B::kSignal, c.signal)) << c.freqRange;
        EXPECT_TRUE(shows(B::kFilter, c.filter)) << c.freqRange;
    }
    // Periods in the other time unit.
    inst.channel(1).setTimeUnits(1);
    inst.card(1).out().sendFrequency(1, 50.0f);
    EXPECT_TRUE(showsWhileFed(1, 2.5f, B::kSignal, "SIGNAL: 20.00 msec"));

    // Back in DC neither line shows.
    inst.card(1).out().sendModeReply(1, 0, 0, 610.0f);
    EXPECT_TRUE(shows(B::kDcAc, "DC"));
    EXPECT_TRUE(shows(B::kSignal, ""));
    EXPECT_TRUE(shows(B::kFilter, ""));
}

TEST_F(NumericReadout, ATimeUnitChangeShowsTheSignalInTheNewUnitAtOnce) {
    build(1);
    inst.makeReady(1);
    inst.channel(1).setTimeUnits(0);
    inst.card(1).out().sendModeReply(1, 1, 0, 610.0f);
    inst.card(1).out().sendFrequency(1, 4999.5f);
    EXPECT_TRUE(showsWhileFed(1, 2.0f, B::kSignal, "SIGNAL: 4.999 kHz"));
    // No report follows the change: the repaint that it asks for shows the
    // frequency already received, in the new unit.
    inst.channel(1).setTimeUnits(1);
    EXPECT_TRUE(shows(B::kSignal, "SIGNAL: 200.0 usec"));
    inst.channel(1).setTimeUnits(0);
    EXPECT_TRUE(shows(B::kSignal, "SIGNAL: 4.999 kHz"));
}

TEST_F(NumericReadout, ZeroingShowsOnlyItsTextAndBarAndReadingsWait) {
    build(1);
    inst.makeReady(1);
    EXPECT_TRUE(showsReading(1, 5.0f, "5.0000"));
    inst.channel(1).startZero();
    EXPECT_TRUE(shows(B::kZeroingText, "ZEROING DC & BASIC AC"));
    inst.card(1).out().sendZeroingProgress(1, 40.0f);
    EXPECT_TRUE(screen.waitFor([&] { return panel->shownProgress() == 40.0f; })) << panel->shownProgress();
    expectOnly({B::kZeroingText});
    screenshot(screen, "numeric-zeroing", 0, 0, 508, 160);

    // A reading during the zero repaints nothing.
    inst.card(1).sendSamples(7.0f, 2);
    ASSERT_TRUE(testsupport::waitUntil([&] { return inst.channel(1).getValue() == 7.0f; }));
    screen.pump();
    EXPECT_EQ(panel->block(B::kReading).shownText(), "");

    // The zero ends; a reading drawn before the repaint that the end asks
    // for takes the bar and the zeroing text with it.
    inst.card(1).out().sendZeroDone(1, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return inst.channel(1).getZeroingState() == kZeroed; }));
    screen.win().make_current();
    panel->damage(readout::kDamageReading);
    panel->draw();
    panel->clear_damage();
    EXPECT_EQ(panel->block(B::kReading).shownText(), "7.0000");
    EXPECT_LT(panel->shownProgress(), 0.0f);
    EXPECT_EQ(panel->block(B::kZeroingText).shownText(), "");
    EXPECT_TRUE(shows(B::kReading, "7.0000"));
    EXPECT_TRUE(shows(B::kZeroingText, ""));
}

TEST_F(NumericReadout, AnErrorReplacesEverythingAndItsLinesStayWithinTheirBuffers) {
    build(2);
    inst.makeReady(2);
    EXPECT_TRUE(showsReading(2, 5.0f, "5.0000"));
    // A catalogue whose lines are longer than the line buffers.
    const std::string longLine(200, 'L');
    ErrorList::instance()->add(7123, 2, longLine, "second line", longLine + "3", "Test error", true, false);
    MeterModel::instance()->getErrorHandler(2)->onErrorRaised(2, 7123);
    EXPECT_TRUE(shows(B::kError1, "ERROR 7123"));
    EXPECT_EQ(panel->block(B::kError2).shownText(), std::string(79, 'L'));
    EXPECT_EQ(panel->block(B::kError3).shownText(), "second line");
    EXPECT_EQ(panel->block(B::kError4).shownText(), std::string(79, 'L'));
    expectOnly({B::kError1, B::kError2, B::kError3, B::kError4});
    screenshot(screen, "numeric-error", 0, 0, 508, 160);
    // The lines are wider than the panel: nothing is drawn beside it.
    const auto beside = screen.paintOffscreen(
        [&] {
            fl_color(FL_RED);
            fl_rectf(0, 0, 640, 480);
            panel->damage(FL_DAMAGE_ALL);
            panel->draw();
            panel->clear_damage();
        },
        508, 0, 132, 160);
    for (int x = 0; x < 132; ++x)
        for (int y = 0; y < 160; ++y) ASSERT_EQ(pixelAt(beside, 132, x, y), rgbOf(FL_RED)) << x << "," << y;

    // Readings ask for no repaint while the error shows.
    screen.pump();
    panel->clear_damage();
    std::thread([&] { inst.channel(2).signalNewReading().emit(2, 6.0f, 0, 0, 0, 0, 0); }).join();
    gui::runPending();
    EXPECT_EQ(panel->damage(), 0);
}

TEST_F(NumericReadout, ReadingsRepaintTheReadingCellsAndSettingsThePanel) {
    build(1);
    inst.makeReady(1);
    ChannelModel& ch = inst.channel(1);
    struct Case {
        std::function<void()> emit;
        unsigned char damage;
    } cases[] = {
        {[&] { ch.signalNewReading().emit(1, 1.0f, 0, 0, 0, 0, 0); }, 0x10},
        {[&] { ch.signalOverRangeChanged().emit(1, true); }, 0x10},
        {[&] { ch.signalRangeChanged().emit(1, 2); }, FL_DAMAGE_ALL},
        {[&] { ch.signalChannelStatusChanged().emit(1, 2); }, FL_DAMAGE_ALL},
        {[&] { ch.signalZeroingProgress().emit(1, 3.0f); }, FL_DAMAGE_ALL},
        {[&] { ch.getClassifierController().signalChanged().emit(1, 0, 0); }, FL_DAMAGE_ALL},
        {[&] { ch.signalTemperatureUnitsChanged().emit(1, 1); }, FL_DAMAGE_ALL},
    };
    for (auto& c : cases) {
        // A frame still on its way from the card's start (a temperature, a
        // status) may repaint the whole panel meanwhile on a loaded machine:
        // the case holds when one of a few tries shows exactly its own damage.
        unsigned char seen = 0;
        for (int attempt = 0; attempt < 10 && seen != c.damage; ++attempt) {
            screen.pump();
            panel->clear_damage();
            std::thread reader(c.emit);   // as a CAN reader would
            reader.join();
            EXPECT_EQ(panel->damage(), 0) << "marked on the emitting thread";
            gui::runPending();
            seen = panel->damage();
        }
        EXPECT_EQ(seen, c.damage);
    }
    // A reading repaint leaves the indicators alone: the range cell keeps
    // what the last full repaint drew even when the range changes.
    screen.pump();
    EXPECT_EQ(panel->block(B::kRange).shownText(), ch.getCurrentRangeName());
    const std::string range = panel->block(B::kRange).shownText();
    panel->damage(0x10);
    screen.pump();
    EXPECT_EQ(panel->block(B::kRange).shownText(), range);
}

TEST_F(NumericReadout, OffsetSignsComeFromTheStoredOffsetExceptWhileEditing) {
    build(1);
    inst.makeReady(1);
    ChannelModel& ch = inst.channel(1);
    ch.setRange(0);   // 30 G, four decimals
    EXPECT_TRUE(shows(B::kRange, "30G"));

    // Relative with a stored offset of -5 G.
    ch.setRelativeOffset(-5.0f);
    ch.setManualRelative();
    EXPECT_TRUE(shows(B::kRelativeLabel, "Rel: -"));
    EXPECT_TRUE(shows(B::kRelativeValue, "5.0000"));
    EXPECT_TRUE(shows(B::kRelativeUnit, "G"));

    // A positive manual zero entered with the same digit editor.
    ch.editManualZero();
    EXPECT_TRUE(shows(B::kManualZeroLabel, "MZERO: "));
    EXPECT_TRUE(shows(B::kManualZeroValue, "00.0000"));
    EXPECT_EQ(panel->block(B::kManualZeroValue).shownHighlightStart(), 6);
    ch.editDigitLeft();
    ch.editDigitLeft();
    ch.editDigitLeft();
    ch.editDigitLeft();   // the units digit, left of the point
    ch.editIncrementDigit();
    EXPECT_TRUE(shows(B::kManualZeroValue, "01.0000"));
    EXPECT_EQ(panel->block(B::kManualZeroValue).shownHighlightStart(), 1);
    EXPECT_EQ(panel->block(B::kManualZeroValue).shownHighlightCount(), 1);
    ch.applyManualZero();
    EXPECT_TRUE(shows(B::kManualZeroValue, "1.0000"));
    EXPECT_EQ(panel->block(B::kManualZeroLabel).shownText(), "MZERO: ");
    // The editor now holds +1, the relative offset is still -5.
    EXPECT_FALSE(ch.isEditValueNegative());
    EXPECT_EQ(panel->block(B::kRelativeLabel).shownText(), "Rel: -");

    // Editing the relative offset: the editor's sign, toggled, shows at once.
    ch.editRelativeOffset();
    EXPECT_TRUE(shows(B::kRelativeValue, "05.0000"));
    EXPECT_EQ(panel->block(B::kRelativeLabel).shownText(), "Rel: -");
    ch.editToggleSign();
    EXPECT_TRUE(shows(B::kRelativeLabel, "Rel: "));
    screenshot(screen, "numeric-relative-editing", 0, 0, 508, 160);
    ch.setManualRelative();
    EXPECT_TRUE(shows(B::kRelativeValue, "5.0000"));
    EXPECT_EQ(panel->block(B::kRelativeLabel).shownText(), "Rel: ");

    // A negative relative offset entered: the editor is left negative, the
    // manual zero's stored offset is still positive.
    ch.editRelativeOffset();
    ch.editToggleSign();
    ch.setManualRelative();
    EXPECT_TRUE(shows(B::kRelativeLabel, "Rel: -"));
    EXPECT_TRUE(ch.isEditValueNegative());
    EXPECT_EQ(panel->block(B::kManualZeroLabel).shownText(), "MZERO: ");
    EXPECT_EQ(panel->block(B::kManualZeroValue).shownText(), "1.0000");
}

TEST_F(NumericReadout, ClassifierAndHolds) {
    build(1, 240);
    inst.makeReady(1);
    ChannelModel& ch = inst.channel(1);
    ch.setRange(0);
    ClassifierController& classifier = ch.getClassifierController();
    classifier.setLowerThreshold(-2.5f);
    classifier.setUpperThreshold(12.5f);
    classifier.setMode(kClassifierOn);
    EXPECT_TRUE(showsReading(1, 20.0f, "20.0000"));
    EXPECT_TRUE(shows(B::kClassifierLabel, "CLASS"));
    EXPECT_TRUE(shows(B::kClassifierState, "HI"));
    inst.showReading(1, -10.0f);
    EXPECT_TRUE(shows(B::kClassifierState, "LO"));
    inst.showReading(1, 1.0f);
    EXPECT_TRUE(shows(B::kClassifierState, ""));

    classifier.editLowerThreshold();
    EXPECT_TRUE(shows(B::kClassifierState, "LO-"));
    EXPECT_TRUE(shows(B::kClassifierThreshold, "02.5000"));
    EXPECT_EQ(panel->block(B::kClassifierThreshold).shownHighlightStart(), 6);
    classifier.endEdit();
    EXPECT_TRUE(shows(B::kClassifierState, ""));
    classifier.setMode(kClassifierOff);
    EXPECT_TRUE(shows(B::kClassifierLabel, ""));

    // Only the minimum hold: its row in the second place, the first empty.
    ch.setMinHoldEnabled(true);
    ch.setHoldActive(true);
    ch.resetMinHold();
    EXPECT_TRUE(screen.waitFor([&] { return panel->shownHolds(); }));
    EXPECT_STREQ(panel->holdBox().shownValue(0), "");
    EXPECT_STREQ(panel->holdBox().shownValue(1), "1.0000");
    // A new minimum moves the hold and repaints it.
    inst.showReading(1, -3.25f);
    EXPECT_TRUE(screen.waitFor([&] { return std::string(panel->holdBox().shownValue(1)) == "-3.2500"; }))
        << panel->holdBox().shownValue(1);
    ch.setMaxHoldEnabled(true);
    EXPECT_TRUE(screen.waitFor([&] { return std::string(panel->holdBox().shownValue(0)) != ""; }));
    screenshot(screen, "numeric-holds", 0, 0, 508, 240);
    ch.setHoldActive(false);
    EXPECT_TRUE(screen.waitFor([&] { return !panel->shownHolds(); }));
}

TEST_F(NumericReadout, TitlesWithAndWithoutTheFlagAndInDemoMode) {
    NumericDisplay& full = screen.make<NumericDisplay>(0, 0, 508, 480, kPink, FL_BLACK, 2, false);
    full.resize(0, 0, 508, 480);
    screen.show();
    EXPECT_STREQ(full.shownTitle(), "");
    inst.channel(2).setDemoMode(true);
    inst.channel(2).setHoldActive(false);   // any change of a setting repaints the panel
    EXPECT_TRUE(screen.waitFor([&] { return std::string(full.shownTitle()) == "Demo Mode"; }));
    screenshot(screen, "numeric-full-demo");
    full.hide();
    NumericDisplay& titled = build(2);
    EXPECT_STREQ(titled.shownTitle(), "Channel 2 - Demo Mode");
    inst.channel(2).setDemoMode(false);
}

TEST_F(NumericReadout, TextsRewrittenByTheReaderAreDrawnWhole) {
    build(1);
    inst.makeReady(1);
    inst.channel(1).setTimeUnits(0);
    inst.card(1).out().sendModeReply(1, 1, 0, 610.0f);
    EXPECT_TRUE(shows(B::kDcAc, "AC"));
    // The reader rewrites the frequency's format and unit texts while the
    // panel repaints them.
    std::atomic<bool> stop{false};
    std::thread card([&] {
        for (int i = 0; !stop; ++i) {
            inst.card(1).out().sendFrequency(1, i % 2 ? 2000.0f : 1000.0f);
            inst.card(1).sendSamples(1.0f, 1);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    // Each report's value with its own format and unit, never mixed (or no
    // report yet).
    const std::regex whole("SIGNAL: (2\\.000 kHz|1000\\.0 Hz| 0\\.0 Hz)");
    int checked = 0;
    for (int i = 0; i < 300; ++i) {
        panel->redraw();
        screen.pump();
        const std::string line = panel->block(B::kSignal).shownText();
        if (line.empty()) continue;
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
        ++checked;
    }
    stop = true;
    card.join();
    EXPECT_GT(checked, 0);
}

}  // namespace
