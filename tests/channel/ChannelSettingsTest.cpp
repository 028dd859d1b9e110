// The channel settings file: its 22 lines, the round trip through the
// setters, missing and bad values, the defaults and the save timer.
#include "ChannelTestSupport.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

using chtest::TestChannel;

namespace {

using testsupport::readFile;
using testsupport::writeFile;

bool contains(const std::vector<std::string>& frames, const std::string& f) {
    return std::find(frames.begin(), frames.end(), f) != frames.end();
}

class ChannelSettingsFile : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    std::string file = platform::dataFile("ch2");
};

TEST_F(ChannelSettingsFile, FileHasTheTwentyTwoLinesInOrder) {
    TestChannel ch(2);
    ch.attachFakeLink();
    EXPECT_EQ(ch.getSettingsPath(), file);
    ch.setCdacMode(2);
    ch.setCdacScaling(100);
    ch.setMinHoldEnabled(true);
    ch.setValleyHoldEnabled(true);
    ch.setHoldActive(true);
    ch.setFluxUnits(1);
    ch.setTemperatureUnits(2);
    ch.setTimeUnits(1);
    ch.getClassifierController().setUpperThreshold(12.5f);
    ch.getClassifierController().setLowerThreshold(-3.25f);
    ch.setTriggerLevel(1234567.0f);
    ch.saveSettings();
    EXPECT_EQ(readFile(file),
              "mode: 0\n"
              "range: 3\n"
              "autorange: 1\n"
              "freqrange: 0\n"
              "autofreq: 0\n"
              "cdacmode: 2\n"
              "cdacrange: 100\n"
              "udacmode: 0\n"
              "udacrange: 30\n"
              "minhold: 1\n"
              "maxhold: 0\n"
              "peakhold: 0\n"
              "valleyhold: 1\n"
              "holdactive: 1\n"
              "fluxunits: 1\n"
              "tempunits: 2\n"
              "timeunits: 1\n"
              "zeromode: 4\n"
              "clupperthresh: 12.5\n"
              "cllowerthresh: -3.25\n"
              "waveformscale: 5\n"
              "triggerlevel: 1.23457e+06\n");
}

TEST_F(ChannelSettingsFile, RoundTripThroughTheSetters) {
    {
        TestChannel ch(2);
        ch.setUdacMode(1);
        ch.setUdacScaling(100);
        ch.setCdacScaling(55);
        ch.setMaxHoldEnabled(true);
        ch.setPeakHoldEnabled(true);
        ch.setTemperatureUnits(0);
        ch.setZeroMode(1);
        ch.setWaveformScale(3);
        ch.setTriggerLevel(-7.5f);
        ch.getClassifierController().setUpperThreshold(100.0f);
        ch.getClassifierController().setLowerThreshold(20.0f);
        ch.saveSettings();
    }
    TestChannel ch(2);
    auto log = ch.attachFakeLink();
    std::vector<int> scales;
    ch.signalWaveformScaleChanged().connect([&](int, int s) { scales.push_back(s); });
    ch.loadSettings();
    EXPECT_EQ(ch.getUdacMode(), 1);
    EXPECT_EQ(ch.getUdacScaling(), 100);
    EXPECT_EQ(ch.getCdacScaling(), 55);
    EXPECT_FALSE(ch.isMinHoldEnabled());
    EXPECT_TRUE(ch.isMaxHoldEnabled());
    EXPECT_TRUE(ch.isPeakHoldEnabled());
    EXPECT_EQ(ch.getTemperatureUnits(), 0);
    EXPECT_EQ(ch.getTemperatureUnitText(), "F");
    EXPECT_EQ(ch.getZeroMode(), 1);
    EXPECT_EQ(ch.getWaveformScale(), 3);
    EXPECT_EQ(scales, (std::vector<int>{0, 3, 3}));   // reset, read, notified again
    EXPECT_FLOAT_EQ(ch.getTriggerLevel(), -7.5f);
    EXPECT_FLOAT_EQ(ch.getClassifierController().getUpperThreshold(), 100.0f);
    EXPECT_FLOAT_EQ(ch.getClassifierController().getLowerThreshold(), 20.0f);
    EXPECT_TRUE(ch.isSaveTimerActive());
    // The frequency range goes to the card with the mode read before it.
    EXPECT_TRUE(contains(log->take(), "180#0000"));
    ch.stopSaveTimer();
}

TEST_F(ChannelSettingsFile, MissingKeysKeepTheirValues) {
    writeFile(file, "range: 1\n");
    TestChannel ch(2);
    ch.loadSettings();   // a later reading (a profile restored): the file's keys win
    ch.setMinHoldEnabled(true);
    ch.setFluxUnits(2);
    ch.setWaveformScale(4);
    ch.setZeroMode(0);
    ch.loadSettings();
    EXPECT_FALSE(ch.isAutorange());         // a fixed range switches autorange off
    EXPECT_EQ(ch.getZeroMode(), 4);
    EXPECT_EQ(ch.getWaveformScale(), 0);
    EXPECT_TRUE(ch.isMinHoldEnabled());
    EXPECT_EQ(ch.getFluxUnits(), 2);
    EXPECT_TRUE(ch.isSaveTimerActive());
    ch.stopSaveTimer();
}

TEST_F(ChannelSettingsFile, AutorangeAfterTheRangeKey) {
    for (int on : {0, 1}) {
        writeFile(file, "range: 2\nautorange: " + std::to_string(on) + "\n");
        TestChannel ch(2);
        ch.loadSettings();
        EXPECT_EQ(ch.isAutorange(), on == 1);
        ch.stopSaveTimer();
    }
}

TEST_F(ChannelSettingsFile, BadValues) {
    writeFile(file,
              "cdacrange: 150\n"
              "udacrange: 50\n"
              "tempunits: abc\n"
              "bogus: 7\n"
              "triggerlevel: 12.5\n"
              "waveformscale: 2x\n"
              "maxhold:\n"
              "1\n");
    TestChannel ch(2);
    auto log = ch.attachFakeLink();
    std::vector<float> levels;
    ch.signalTriggerLevelChanged().connect([&](int, bool, float l) { levels.push_back(l); });
    ch.loadSettings();
    EXPECT_EQ(ch.getCdacScaling(), 30);
    EXPECT_EQ(ch.getUdacScaling(), 30);
    EXPECT_EQ(ch.getTemperatureUnits(), 0);   // not a number reads as 0
    EXPECT_EQ(ch.getWaveformScale(), 2);      // read as far as it goes
    EXPECT_TRUE(ch.isMaxHoldEnabled());       // a key without value takes the next word
    EXPECT_FLOAT_EQ(ch.getTriggerLevel(), 12.5f);
    EXPECT_EQ(levels, std::vector<float>{12.5f});
    for (const std::string& f : log->take()) EXPECT_NE(f.substr(0, 6), "182#05") << "trigger level sent";
    ch.stopSaveTimer();

    writeFile(file, "cdacrange: 50\nudacrange: 100\n");
    TestChannel other(2);
    other.loadSettings();
    EXPECT_EQ(other.getCdacScaling(), 50);
    EXPECT_EQ(other.getUdacScaling(), 100);
    other.stopSaveTimer();
}

TEST_F(ChannelSettingsFile, DefaultsWhenTheFileIsMissing) {
    TestChannel ch(2);
    auto log = ch.attachFakeLink();
    ch.loadSettings();   // a later reading (a profile restored): the defaults win
    ch.setMaxHoldEnabled(true);
    ch.setCdacScaling(100);
    ch.setFluxUnits(3);
    log->take();
    ch.loadSettings();
    EXPECT_FALSE(ch.isMaxHoldEnabled());
    EXPECT_EQ(ch.getCdacScaling(), 30);
    EXPECT_EQ(ch.getFluxUnits(), 3);   // units keep their values
    EXPECT_EQ(ch.getZeroMode(), 4);
    EXPECT_TRUE(ch.isAutorange());
    const std::vector<std::string> frames = log->take();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front(), "180#0000");   // mode 0 first
    // The analog outputs: corrected mode 0 and 3 V, uncorrected mode 0 and 3 V, in order.
    std::vector<std::string> dac;
    for (const std::string& f : frames)
        if (f.substr(0, 4) == "189#" && f.substr(4, 2) != "08" && f.substr(4, 2) != "09") dac.push_back(f);
    EXPECT_EQ(dac, (std::vector<std::string>{"189#000000", "189#01001E", "189#030000", "189#04001E"}));
    // The defaults mark the settings dirty: the next tick writes the file.
    EXPECT_TRUE(ch.isSettingsDirty());
    EXPECT_TRUE(ch.isSaveTimerActive());
    ch.stopSaveTimer();
    ch.saveSettingsIfDirty();
    EXPECT_FALSE(ch.isSettingsDirty());
    EXPECT_NE(readFile(file).find("cdacrange: 30\n"), std::string::npos);
}

TEST_F(ChannelSettingsFile, SaveTimerWritesOnlyWhenDirty) {
    TestChannel ch(2);
    ch.saveSettingsIfDirty();
    EXPECT_FALSE(std::ifstream(file).good());
    ch.setHoldActive(true);
    ch.saveSettingsIfDirty();
    EXPECT_NE(readFile(file).find("holdactive: 1\n"), std::string::npos);
    // saveSettingsNow writes whatever the flag says and leaves the flag alone.
    ch.setHoldActive(false);
    ch.saveSettingsNow();
    EXPECT_NE(readFile(file).find("holdactive: 0\n"), std::string::npos);
    EXPECT_TRUE(ch.isSettingsDirty());
    EXPECT_FALSE(ch.isSaveTimerActive());
}

// A change made while the file is being written marks the settings dirty
// again, so the next tick writes it.
TEST_F(ChannelSettingsFile, ChangeDuringTheWriteIsNotLost) {
    TestChannel ch(2);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done) ch.saveSettingsIfDirty();
    });
    for (int i = 0; i < 400; ++i) ch.setPeakHoldEnabled(i % 2 == 0);
    ch.setPeakHoldEnabled(true);
    done = true;
    writer.join();
    ch.saveSettingsIfDirty();
    EXPECT_NE(readFile(file).find("peakhold: 1\n"), std::string::npos);
}

// Disk full or no descriptor left: the old file stays whole, the failure is
// reported once (console and error queue, through the sink), and the tick
// writes the change as soon as it can, with no other change in between.
TEST_F(ChannelSettingsFile, AFailedSaveIsReportedOnceAndTriedAgainUntilItSucceeds) {
    using testsupport::FailingWrites;
    for (FailingWrites::Kind kind : {FailingWrites::FileSizeLimit, FailingWrites::NoDescriptors}) {
        SCOPED_TRACE(FailingWrites::name(kind));
        std::vector<std::string> reports;
        SaveStatus::setSink([&](const std::string& detail) { reports.push_back(detail); });
        TestChannel ch(2);
        ASSERT_TRUE(ch.saveSettings());
        const std::string before = readFile(file);
        ch.setFluxUnits(1);
        {
            FailingWrites full(kind);
            EXPECT_FALSE(ch.saveSettingsIfDirty());
            EXPECT_FALSE(ch.saveSettingsIfDirty());
        }
        EXPECT_EQ(readFile(file), before);
        EXPECT_TRUE(ch.isSettingsDirty());
        EXPECT_EQ(reports, std::vector<std::string>{"settings file ch2 not saved: " + FailingWrites::reason(kind)});
        EXPECT_TRUE(ch.saveSettingsIfDirty());
        EXPECT_NE(readFile(file).find("fluxunits: 1\n"), std::string::npos);
        EXPECT_FALSE(ch.isSettingsDirty());
        EXPECT_EQ(reports.size(), 1u);
        SaveStatus::setSink(nullptr);
    }
}

// The file is replaced whole: no temporary file stays behind.
TEST_F(ChannelSettingsFile, WrittenAtomically) {
    TestChannel ch(2);
    ch.saveSettings();
    ch.setTimeUnits(1);
    ch.saveSettings();
    EXPECT_NE(readFile(file).find("timeunits: 1\n"), std::string::npos);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(platform::dataFile("")))
        if (entry.path().filename().string().find("ch2") != std::string::npos)
            names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"ch2"});
}

}  // namespace

// Settings a user changed before the file was first read (over SCPI, JSON or
// the keys, while the card had not reported ready yet) are kept over the
// file's values and written; the file gives every other setting.
TEST_F(ChannelSettingsFile, ChangesMadeBeforeTheFirstReadingAreKeptOverTheFile) {
    writeFile(file,
              "mode: 0\nrange: 2\nautorange: 1\nfreqrange: 2\ncdacmode: 1\ncdacrange: 50\nmaxhold: 1\n"
              "holdactive: 0\nfluxunits: 0\ntempunits: 2\nzeromode: 1\nclupperthresh: 100\n"
              "cllowerthresh: 20\nwaveformscale: 2\ntriggerlevel: 5\n");
    TestChannel ch(2);
    auto log = ch.attachFakeLink();
    ch.setFluxUnits(1);
    ch.setHoldActive(true);
    ch.setMaxHoldEnabled(false);
    ch.setZeroMode(0);
    ch.setCdacScaling(100);
    ch.setWaveformScale(4);
    ch.setTriggerLevel(-2.5f);
    ch.getClassifierController().setUpperThreshold(80.0f);
    ch.setAutorange(true);
    ch.setAutorange(false);   // the last change counts
    ch.setMode(1);
    log->take();
    ch.loadSettings();
    ch.stopSaveTimer();

    EXPECT_EQ(ch.getFluxUnits(), 1);
    EXPECT_TRUE(ch.isHoldActive());
    EXPECT_FALSE(ch.isMaxHoldEnabled());
    EXPECT_EQ(ch.getZeroMode(), 0);
    EXPECT_EQ(ch.getCdacScaling(), 100);
    EXPECT_EQ(ch.getWaveformScale(), 4);
    EXPECT_FLOAT_EQ(ch.getTriggerLevel(), -2.5f);
    EXPECT_FLOAT_EQ(ch.getClassifierController().getUpperThreshold(), 80.0f);
    EXPECT_FALSE(ch.isAutorange());
    // From the file: what was not changed.
    EXPECT_EQ(ch.getCdacMode(), 1);
    EXPECT_EQ(ch.getTemperatureUnits(), 2);
    EXPECT_FLOAT_EQ(ch.getClassifierController().getLowerThreshold(), 20.0f);
    // The user's mode goes to the card with the file's frequency range.
    const std::vector<std::string> frames = log->take();
    EXPECT_TRUE(contains(frames, "180#0102")) << ::testing::PrintToString(frames);
    EXPECT_FALSE(contains(frames, "180#0002"));

    // Written with the next save.
    EXPECT_TRUE(ch.isSettingsDirty());
    ch.saveSettingsIfDirty();
    const std::string written = readFile(file);
    for (const char* line : {"fluxunits: 1\n", "holdactive: 1\n", "maxhold: 0\n", "zeromode: 0\n", "cdacrange: 100\n",
                             "waveformscale: 4\n", "triggerlevel: -2.5\n", "clupperthresh: 80\n", "autorange: 0\n",
                             "cdacmode: 1\n", "tempunits: 2\n", "cllowerthresh: 20\n"})
        EXPECT_NE(written.find(line), std::string::npos) << line << written;

    // Once the file has been read, a later reading (a profile restored) gives
    // the file's values again.
    writeFile(file, "fluxunits: 0\nzeromode: 1\n");
    ch.setFluxUnits(2);
    ch.loadSettings();
    ch.stopSaveTimer();
    EXPECT_EQ(ch.getFluxUnits(), 0);
    EXPECT_EQ(ch.getZeroMode(), 1);
}

TEST_F(ChannelSettingsFile, ChangesMadeBeforeTheFirstReadingFollowTheDefaultsWhenThereIsNoFile) {
    TestChannel ch(2);
    auto log = ch.attachFakeLink();
    ch.setMaxHoldEnabled(true);
    ch.setCdacScaling(100);
    ch.setAutorange(false);
    ch.setMode(1);
    log->take();
    ch.loadSettings();
    ch.stopSaveTimer();
    EXPECT_TRUE(ch.isMaxHoldEnabled());
    EXPECT_EQ(ch.getCdacScaling(), 100);
    EXPECT_FALSE(ch.isAutorange());
    EXPECT_EQ(ch.getZeroMode(), 4);   // a default
    const std::vector<std::string> frames = log->take();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front(), "180#0000");   // the defaults first, then the user's mode
    EXPECT_TRUE(contains(frames, "180#0100")) << ::testing::PrintToString(frames);
    EXPECT_TRUE(ch.isSettingsDirty());
}

// A change made while the file is being read is applied after it: the file's
// value, read further on, does not undo it.
TEST_F(ChannelSettingsFile, AChangeMadeWhileTheFileIsReadIsNotUndoneByIt) {
    std::string slow = "zeromode: 1\n";
    for (int i = 0; i < 10; ++i) slow += "unknown: 0\n";
    writeFile(file, slow + "fluxunits: 0\n");
    TestChannel ch(2);
    std::promise<void> reading;
    std::atomic<bool> told{false};
    ch.signalZeroModeChanged().connect([&](int, int mode) {
        if (mode == 1 && !told.exchange(true)) reading.set_value();
    });
    std::thread loader([&ch] { ch.loadSettings(); });
    reading.get_future().wait();
    ch.setFluxUnits(1);
    loader.join();
    ch.stopSaveTimer();
    EXPECT_EQ(ch.getFluxUnits(), 1);
    EXPECT_EQ(ch.getZeroMode(), 1);
}
