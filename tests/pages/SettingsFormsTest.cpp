// The date-and-time, output-scaling and profile forms, and the way the
// settings made in the forms reach the settings files.
#include "PagesFixture.h"

#include "channel/ChannelModel.h"
#include "pages/AnalogOutScalingDisplay.h"
#include "pages/DateTimeDisplay.h"
#include "pages/GpibConfigDisplay.h"
#include "pages/ProfilesDisplay.h"
#include "pages/RS232ConfigDisplay.h"
#include "platform/Platform.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

using pagestest::Instrument;
using testsupport::waitUntil;

namespace {

std::string statusText(const Form& form) {
    Fl_Box* box = form.getStatusBox();
    return box && box->visible() && box->label() ? box->label() : "(hidden)";
}

std::string field(const Form& form, unsigned row) { return form.getInput(row)->value(); }

std::size_t countOf(const std::vector<std::string>& calls, const std::string& call) {
    std::size_t n = 0;
    for (const auto& c : calls) n += c == call;
    return n;
}

class SettingsForms : public ::testing::Test {
protected:
    SettingsForms() : instrument(Instrument::get()), meter(instrument.meter()) {}
    ~SettingsForms() override {
        gui::runPending();
        platform::setSystemTime(std::time(nullptr));
    }
    Instrument& instrument;
    MeterModel& meter;
};

// ---- Date and time ---------------------------------------------------------------

TEST(DateTimeCheck, NamesTheInvalidFieldsInOrder) {
    const struct {
        int year, month, day, hour, minute;
        const char* text;
    } cases[] = {
        {1900, 1, 1, 0, 0, ""},
        {3000, 12, 31, 23, 59, ""},
        {2023, 2, 31, 12, 0, ""},   // the 31st of any month
        {1899, 6, 15, 12, 30, "Invalid Year"},
        {3001, 6, 15, 12, 30, "Invalid Year"},
        {2024, 0, 15, 12, 30, "Invalid Month"},
        {2024, 13, 15, 24, 30, "Invalid Month, Hour"},
        {2024, 6, 32, 12, 60, "Invalid Day, Minute"},
        {0, 0, 0, 0, 0, "Invalid Year, Month, Day"},
        {2024, 5, 0, -1, -1, "Invalid Day, Hour, Minute"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DateTimeDisplay::validate(c.year, c.month, c.day, c.hour, c.minute), c.text) << c.year << "-" << c.month;
}

TEST_F(SettingsForms, DatePageShowsTheTimeValidatesAndSetsTheClocks) {
    DateTimeDisplay page(5, 5, 498, 411);
    const char* labels[] = {"Year: ", "Month: ", "Day: ", "Hour: ", "Minute: "};
    for (unsigned r = 0; r < 5; ++r) {
        EXPECT_STREQ(page.getInput(r)->label(), labels[r]);
        EXPECT_EQ(field(page, r), "");
    }
    EXPECT_EQ(statusText(page), "(hidden)");

    // The instrument's clock, not the host's.
    std::tm wanted{};
    wanted.tm_year = 2031 - 1900;
    wanted.tm_mon = 2;
    wanted.tm_mday = 4;
    wanted.tm_hour = 5;
    wanted.tm_min = 6;
    wanted.tm_isdst = -1;
    ASSERT_EQ(platform::setSystemTime(mktime(&wanted)), 0);
    page.showCurrentTime();
    EXPECT_EQ(field(page, 0), "2031");
    EXPECT_EQ(field(page, 1), "03");
    EXPECT_EQ(field(page, 2), "04");
    EXPECT_EQ(field(page, 3), "05");
    EXPECT_EQ(field(page, 4), "06");

    // Invalid fields: named, and neither clock is touched.
    const std::time_t requested = platform::lastRequestedSystemTime();
    const auto calls = instrument.standinCalls();
    const char* bad[] = {"", "", "", "", ""};
    for (unsigned r = 0; r < 5; ++r) page.getInput(r)->value(bad[r]);
    page.applySettings();
    EXPECT_EQ(statusText(page), "Invalid Year, Month, Day");
    page.getInput(0)->value("2024");
    page.getInput(1)->value("7");
    page.getInput(2)->value("15");
    page.getInput(3)->value("24");
    page.getInput(4)->value("61");
    page.applySettings();
    EXPECT_EQ(statusText(page), "Invalid Hour, Minute");
    EXPECT_EQ(platform::lastRequestedSystemTime(), requested);
    EXPECT_EQ(instrument.standinCalls(), calls);

    // Valid: the system clock (seconds 0), then the hardware clock.
    const char* good[] = {"2030", "01", "31", "23", "59"};
    for (unsigned r = 0; r < 5; ++r) page.getInput(r)->value(good[r]);
    page.applySettings();
    EXPECT_EQ(statusText(page), "Date and Time Have Been Set");
    std::tm set{};
    const std::time_t t = platform::lastRequestedSystemTime();
    localtime_r(&t, &set);
    EXPECT_EQ(set.tm_year, 130);
    EXPECT_EQ(set.tm_mon, 0);
    EXPECT_EQ(set.tm_mday, 31);
    EXPECT_EQ(set.tm_hour, 23);
    EXPECT_EQ(set.tm_min, 59);
    EXPECT_EQ(set.tm_sec, 0);
    EXPECT_LE(std::labs(long(platform::now() - t)), 2);
    EXPECT_EQ(countOf(instrument.standinCalls(), "hwclock --systohc"), countOf(calls, "hwclock --systohc") + 1);

    // The 31st of a shorter month carries into the next one.
    page.getInput(1)->value("4");
    page.applySettings();
    const std::time_t carried = platform::lastRequestedSystemTime();
    localtime_r(&carried, &set);
    EXPECT_EQ(set.tm_mon, 4);
    EXPECT_EQ(set.tm_mday, 1);
}

TEST_F(SettingsForms, DatePageReportsAClockThatCouldNotBeSet) {
    DateTimeDisplay page(5, 5, 498, 411);
    page.showCurrentTime();
    const auto calls = instrument.standinCalls();

    // A valid field the clock refuses (before 1970): no success claimed, no
    // hardware clock copied.
    page.getInput(0)->value("1950");
    page.applySettings();
    EXPECT_EQ(statusText(page), "Date and Time Could Not Be Set");
    EXPECT_EQ(countOf(instrument.standinCalls(), "hwclock --systohc"), countOf(calls, "hwclock --systohc"));

    // The hardware clock command fails.
    const std::string saved = instrument.readFile("/sbin/hwclock");
    instrument.writeFile("/sbin/hwclock", "#!/bin/sh\nexit 1\n");
    page.getInput(0)->value("2030");
    page.applySettings();
    instrument.writeFile("/sbin/hwclock", saved);
    EXPECT_EQ(statusText(page), "Hardware Clock Could Not Be Set");
}

TEST_F(SettingsForms, DatePageTakesSummerTimeOfTheEnteredDate) {
    const char* previous = std::getenv("TZ");
    const std::string keep = previous ? previous : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    DateTimeDisplay page(5, 5, 498, 411);
    const struct {
        const char* month;
        std::time_t utc;   // 2030-mm-15 10:00 local
    } cases[] = {{"01", 1894698000}, {"07", 1910332800}};
    for (const auto& c : cases) {
        const char* values[] = {"2030", c.month, "15", "10", "00"};
        for (unsigned r = 0; r < 5; ++r) page.getInput(r)->value(values[r]);
        page.applySettings();
        EXPECT_EQ(statusText(page), "Date and Time Have Been Set");
        EXPECT_EQ(platform::lastRequestedSystemTime(), c.utc) << "month " << c.month;
    }
    if (previous)
        setenv("TZ", keep.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// ---- Output scaling ---------------------------------------------------------------

TEST_F(SettingsForms, ScalingPagesShowVoltsAndStoreTenths) {
    ChannelModel& ch1 = instrument.channel(1);
    ChannelModel& ch3 = instrument.channel(3);
    AnalogOutCorrScalingDisplay corr(&ch1, 5, 5, 498, 411);
    AnalogOutUncorrScalingDisplay uncorr(&ch3, 5, 5, 498, 411);
    AnalogOutVsumScalingDisplay vsum(5, 5, 498, 411);
    AnalogOutScalingDisplay* pages[] = {&corr, &uncorr, &vsum};
    for (AnalogOutScalingDisplay* page : pages) {
        EXPECT_STREQ(page->getInput(0)->label(), "Full Scale (V): ");
        EXPECT_EQ(field(*page, 0), "");
        EXPECT_EQ(statusText(*page), "(hidden)");
    }

    const struct {
        const char* text;
        int stored;   // -1: ignored
    } cases[] = {{"10", 100}, {"3", 30}, {"0.25", 3}, {"10.01", -1}, {"", 0}, {"abc", 0},
                 {"-1", -1},  {"7.5", 75}, {"nan", -1}, {"0.04", 0}};
    for (AnalogOutScalingDisplay* page : pages) {
        for (const auto& c : cases) {
            page->setScaling(55);
            gui::runPending();
            page->getInput(0)->value(c.text);
            page->applySettings();
            EXPECT_EQ(page->getScaling(), c.stored < 0 ? 55 : c.stored) << c.text;
        }
    }
    EXPECT_EQ(ch1.getCdacScaling(), 0);
    EXPECT_EQ(ch3.getUdacScaling(), 0);
    EXPECT_EQ(meter.getVectorSumOutputScaling(), 0);

    // The field shows volts, on opening and whenever the setting changes,
    // whoever changes it.
    const struct {
        int tenths;
        const char* text;
    } shown[] = {{30, "3.0"}, {5, "0.5"}, {100, "10.0"}, {0, "0.0"}};
    for (const auto& s : shown) {
        std::thread remote([&] {
            ch1.setCdacScaling(s.tenths);
            ch3.setUdacScaling(s.tenths);
            meter.setVectorSumOutputScaling(s.tenths);
        });
        remote.join();
        gui::runPending();
        for (AnalogOutScalingDisplay* page : pages) EXPECT_EQ(field(*page, 0), s.text);
    }
    // A channel's other output and other channels leave the page alone.
    ch1.setUdacScaling(100);
    instrument.channel(2).setCdacScaling(100);
    gui::runPending();
    EXPECT_EQ(field(corr, 0), "0.0");
    ch1.setCdacScaling(30);
    gui::runPending();
    EXPECT_EQ(field(corr, 0), "3.0");
    corr.getInput(0)->value("x");
    corr.showScaling();
    EXPECT_EQ(field(corr, 0), "3.0");
}

// ---- Profiles -------------------------------------------------------------------

TEST_F(SettingsForms, ProfilesPageSavesAndRestoresThroughTheScripts) {
    ProfilesDisplay page(5, 5, 498, 411);
    EXPECT_STREQ(page.getInput(0)->label(), "Profile (1 - 10): ");
    EXPECT_EQ(field(page, 0), "1");
    EXPECT_EQ(statusText(page), "(hidden)");

    meter.setGpibAddress(9);
    page.getInput(0)->value("3");
    page.saveProfile();
    EXPECT_EQ(statusText(page), "Profile Saved");
    EXPECT_NE(instrument.readFile("/var/lib/tarvel/profiles/3/bp").find("gpibaddress: 9\n"), std::string::npos);

    meter.setGpibAddress(14);
    page.hideMessage();
    page.restoreProfile();
    EXPECT_EQ(statusText(page), "Profile Restored");
    EXPECT_EQ(meter.getGpibAddress(), 9);

    // A profile never saved: the script fails, and the page says so.
    page.getInput(0)->value("8");
    page.restoreProfile();
    EXPECT_EQ(statusText(page), "Profile Not Restored");

    // An empty field does nothing.
    page.hideMessage();
    page.getInput(0)->value("");
    const auto calls = instrument.standinCalls();
    page.saveProfile();
    page.restoreProfile();
    EXPECT_EQ(statusText(page), "(hidden)");
    EXPECT_EQ(instrument.standinCalls(), calls);
}

TEST_F(SettingsForms, ProfileZeroIsRestoredButNeverSaved) {
    ProfilesDisplay page(5, 5, 498, 411);
    meter.setGpibAddress(17);
    const auto calls = instrument.standinCalls();
    page.getInput(0)->value("0");
    page.saveProfile();
    EXPECT_EQ(statusText(page), "Invalid Profile Number");
    EXPECT_EQ(instrument.standinCalls(), calls) << "no script ran";
    EXPECT_EQ(meter.getGpibAddress(), 17);

    page.restoreProfile();   // profile 0: the factory settings
    EXPECT_EQ(statusText(page), "Profile Restored");
    EXPECT_EQ(instrument.standinCalls().back(), "tvl4700-restore-profile.sh 0");
    EXPECT_EQ(meter.getGpibAddress(), 1);

    page.getInput(0)->value("11");
    page.restoreProfile();
    EXPECT_EQ(statusText(page), "Invalid Profile Number");

    auto restored = std::make_shared<std::atomic<int>>(0);
    meter.signalDefaultsRestored().connect([restored] { ++*restored; });
    meter.setGpibAddress(22);
    page.restoreFactoryDefaults();
    EXPECT_EQ(statusText(page), "Factory Default Settings Restored");
    EXPECT_EQ(*restored, 1);
    EXPECT_EQ(meter.getGpibAddress(), 1);
}

// ---- Settings files ------------------------------------------------------------------

TEST_F(SettingsForms, SettingsMadeInTheFormsAreWrittenToTheSettingsFiles) {
    GpibConfigDisplay gpib(5, 5, 498, 411);
    RS232ConfigDisplay rs232(5, 5, 498, 411);
    AnalogOutVsumScalingDisplay vsum(5, 5, 498, 411);
    AnalogOutCorrScalingDisplay corr(&instrument.channel(1), 5, 5, 498, 411);
    AnalogOutUncorrScalingDisplay uncorr(&instrument.channel(3), 5, 5, 498, 411);

    gpib.getInput(0)->value("27");
    gpib.applySettings();
    rs232.showSettings();
    while (rs232.getChoice(0)->value() != 4) rs232.nextSpeed();       // 38400
    while (rs232.getChoice(4)->value() != 2) rs232.nextFlowControl(); // hardware
    rs232.applySettings();
    vsum.getInput(0)->value("5.5");
    vsum.applySettings();
    corr.getInput(0)->value("2.5");
    corr.applySettings();
    uncorr.getInput(0)->value("9.9");
    uncorr.applySettings();

    // The models' 10 s save timers write them.
    auto has = [&](const char* file, std::vector<std::string> wanted) {
        const std::string text = instrument.readFile(file);
        for (const auto& w : wanted)
            if (text.find(w + "\n") == std::string::npos) return false;
        return true;
    };
    EXPECT_TRUE(waitUntil([&] {
        return has("/var/lib/tarvel/bp", {"gpibaddress: 27", "rs232speed: 4", "rs232flowcontrol: 2", "vdacrange: 55"});
    }, std::chrono::seconds(30), std::chrono::milliseconds(100))) << instrument.readFile("/var/lib/tarvel/bp");
    EXPECT_TRUE(waitUntil([&] { return has("/var/lib/tarvel/ch1", {"cdacrange: 25"}); }, std::chrono::seconds(30),
                          std::chrono::milliseconds(100)))
        << instrument.readFile("/var/lib/tarvel/ch1");
    EXPECT_TRUE(waitUntil([&] { return has("/var/lib/tarvel/ch3", {"udacrange: 99"}); }, std::chrono::seconds(30),
                          std::chrono::milliseconds(100)))
        << instrument.readFile("/var/lib/tarvel/ch3");
}

}  // namespace
