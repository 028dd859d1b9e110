// The diagnostics panel on the program's meter model with scripted cards.
#include "PagesTestSupport.h"

#include "pages/DiagDisplay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace pagestest;

namespace {

class DiagPanel : public ::testing::Test {
protected:
    DiagDisplay& build(int slot, int h = 160) {
        panel = &screen.make<DiagDisplay>(0, 0, 508, h, rgb(0, 255, 255), FL_BLACK, slot);
        screen.show();
        return *panel;
    }
    // Feeds readings (each one repaints the values) until the row shows it.
    ::testing::AssertionResult shows(int slot, int column, int row, const std::string& value,
                                     const std::string& unit = "") {
        if (screen.waitFor([&] {
                inst.feed(slot, 1.25f);
                return panel->shownValue(column, row) == value && panel->shownUnit(column, row) == unit;
            }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "row " << column << "," << row << " shows \""
                                             << panel->shownValue(column, row) << "\" \"" << panel->shownUnit(column, row)
                                             << "\", not \"" << value << "\" \"" << unit << "\"";
    }

    Instrument& inst = instrument();
    Screen screen;
    DiagDisplay* panel = nullptr;
};

TEST_F(DiagPanel, BothColumnsFromTheChannelAndItsProbe) {
    ProbeConfig config;
    config.series = 1;
    config.hallCurrent = 0;
    inst.makeReady(1, config);
    ChannelModel& ch = inst.channel(1);
    ch.setRange(0);
    inst.sendProbeText(1, 0, "HP-4711");
    inst.sendProbeText(1, 2, "SN0042");
    inst.sendProbeText(1, 4, "2024-01-02");
    inst.card(1).out().sendFrequency(1, 1500.0f);
    inst.sendProbeTemperature(1, 101.0f);
    ch.setDiagMode(3);
    inst.card(1).out().sendDiagModeReply(1, 3, "V");
    build(1);
    EXPECT_STREQ(panel->shownTitle(), "Channel 1 Diag");

    EXPECT_TRUE(shows(1, 0, 0, "   30G"));
    EXPECT_TRUE(shows(1, 0, 1, "1.250", "V"));
    EXPECT_TRUE(shows(1, 0, 2, "0.0", "C"));
    EXPECT_TRUE(shows(1, 0, 4, panel->shownValue(0, 4), "smp/s"));
    EXPECT_TRUE(shows(1, 0, 5, "1500.0000", "Hz"));
    EXPECT_TRUE(shows(1, 1, 0, "HP-4711"));
    EXPECT_TRUE(shows(1, 1, 1, "SN0042"));
    EXPECT_TRUE(shows(1, 1, 2, "2024-01-02"));
    EXPECT_TRUE(shows(1, 1, 3, "3700"));
    EXPECT_TRUE(shows(1, 1, 4, "Low"));
    EXPECT_TRUE(shows(1, 1, 5, "101.0", "C"));   // the limit itself is a temperature
    screenshot(screen, "diag", 0, 0, 508, 160);

    // Temperatures beyond the limits, a probe without a sensor, other codes.
    inst.sendProbeTemperature(1, 101.5f);
    EXPECT_TRUE(shows(1, 1, 5, "Error", "C"));
    inst.sendProbeTemperature(1, -41.0f);
    EXPECT_TRUE(shows(1, 1, 5, "-41.0", "C"));
    inst.sendProbeTemperature(1, -41.5f);
    EXPECT_TRUE(shows(1, 1, 5, "Error", "C"));
    config.temperatureSensor = 0;
    config.series = 7;
    config.hallCurrent = 1;
    inst.sendProbeConfig(1, config);
    EXPECT_TRUE(shows(1, 1, 5, "N/A", "C"));
    EXPECT_TRUE(shows(1, 1, 3, "Unknown"));
    EXPECT_TRUE(shows(1, 1, 4, "High"));
    config.series = 2;
    inst.sendProbeConfig(1, config);
    EXPECT_TRUE(shows(1, 1, 3, "4700"));
    inst.meter()->onBackplaneTemperature(24.5f);
    EXPECT_TRUE(shows(1, 0, 2, "24.5", "C"));
}

// The row says "Hz": it shows hertz in either time unit, never the period
// that the numeric readout shows in seconds.
TEST_F(DiagPanel, TheFrequencyRowIsInHertzWhateverTheTimeUnit) {
    inst.makeReady(1);
    ChannelModel& ch = inst.channel(1);
    ch.setDiagMode(3);
    build(1);
    for (int timeUnit : {1, 0}) {
        ch.setTimeUnits(timeUnit);
        inst.card(1).out().sendFrequency(1, 4999.5f);
        EXPECT_TRUE(shows(1, 0, 5, "4999.5000", "Hz")) << "time unit " << timeUnit;
        inst.card(1).out().sendFrequency(1, std::nanf(""));
        EXPECT_TRUE(shows(1, 0, 5, "0.0000", "Hz")) << "time unit " << timeUnit;
    }
}

TEST_F(DiagPanel, DecimalsFromTheCardAreHeldToASanePrecision) {
    inst.makeReady(1);
    inst.channel(1).setDiagMode(3);
    build(1);
    struct Case {
        int decimals;
        const char* text;
    } cases[] = {{0, "1"}, {2, "1.25"}, {9, "1.250000000"}, {200, "1.250000000"}, {255, "1.250000000"}};
    for (const Case& c : cases) {
        inst.card(1).out().sendDiagModeReply(1, c.decimals, "mV");
        EXPECT_TRUE(shows(1, 0, 1, c.text, "mV")) << c.decimals;
    }
}

TEST_F(DiagPanel, ReadingsAndTheTimerRepaintTheValuesOnly) {
    inst.makeReady(1);
    build(1);
    screen.pump();
    panel->clear_damage();
    std::thread([&] { inst.channel(1).signalNewReading().emit(1, 0, 0, 0, 0, 0, 0); }).join();
    gui::runPending();
    EXPECT_EQ(panel->damage(), 0x10);
    // Without readings the 2 s timer asks for the same.
    panel->clear_damage();
    EXPECT_TRUE(testsupport::waitUntil([&] {
        gui::runPending();
        return panel->damage() == 0x10;
    }));
}

TEST_F(DiagPanel, TheFullHeightPanelKeepsItsRowsAtTheTop) {
    inst.makeReady(2);
    build(2, 480);
    EXPECT_STREQ(panel->shownTitle(), "Channel 2 Diag");
    EXPECT_TRUE(shows(2, 1, 3, "4700"));
    screenshot(screen, "diag-480");
}

}  // namespace
