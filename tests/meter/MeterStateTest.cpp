// The meter model's own state without cards: the settings file and its
// range checks, the save tick and flush, profiles through the sandbox's
// stand-in scripts, the relative offset and its digit entry, angle units and
// display rate, the waveform settings, trigger rate and pacing, the busy bit
// and the backplane report.
#include "MeterTestSupport.h"

#include "channel/ChannelModel.h"
#include "platform/Platform.h"
#include "ranges/RangeSpec.h"
#include "ranges/RangeSpecTable.h"
#include "ranges/TimebaseSpec.h"
#include "ranges/TimebaseSpecTable.h"
#include "runtime/SaveStatus.h"
#include "runtime/TvlError.h"
#include "status/ScpiErrorQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>
#include <vector>

using testsupport::readFile;
using metertest::TestMeter;

namespace {

class MeterStateTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    std::string bus = testsupport::uniqueBusName("s");
    TestMeter meter{bus};

    std::string standinLog() { return readFile(sandbox.file("/var/log/standin.log")); }
    // The newest entry of the error queue as "code detail", "" when empty.
    static std::string newestError() {
        std::unique_ptr<TvlError> newest = ScpiErrorQueue::instance()->newest();
        return newest ? std::to_string(newest->getCode()) + " " + newest->getDetail() : "";
    }
};

const char* const kDefaultFile =
    "holdactive: 0\nminhold: 0\nmaxhold: 0\nvdacmode: 0\nvdacrange: 30\nadacmode: 0\nadacrange: 30\n"
    "buttonlevel: 5\nlcdlevel: 5\nangleunits: 0\ntimebase: 5\ntriggermode2: 0\ntriggerslope: 0\n"
    "triggerchannel: 2\ngpibaddress: 1\nrs232speed: 2\nrs232databits: 1\nrs232stopbits: 0\n"
    "rs232parity: 0\nrs232flowcontrol: 0\n";

TEST_F(MeterStateTest, SettingsFileRoundTrips) {
    EXPECT_EQ(meter.settingsFileContents(), kDefaultFile);
    meter.threeChannelModel = true;
    meter.setVectorSumHoldActive(true);
    meter.setVectorSumMaxHoldEnabled(true);
    meter.setVectorSumOutputMode(4);
    meter.setAuxOutputScaling(100);
    meter.setButtonLevel(7);
    meter.setLcdLevel(2);
    meter.setAngleUnits(1);
    meter.setTimebase(3);
    meter.setTriggerMode(2);
    meter.setTriggerSlope(1);
    meter.setTriggerChannel(3);
    meter.setGpibAddress(12);
    RS232Configuration serial;
    serial.setSpeed(6);
    serial.setParity(2);
    serial.setFlowControl(1);
    meter.setRS232Configuration(serial);
    ASSERT_TRUE(meter.saveSettings());
    std::string written = readFile(meter.getSettingsPath());
    ASSERT_TRUE(meter.saveSettings());
    EXPECT_EQ(readFile(meter.getSettingsPath()), written) << "written twice, byte for byte the same";

    TestMeter other(bus);
    other.threeChannelModel = true;
    int serialSignals = 0;
    other.signalRS232ConfigurationChanged().connect([&](RS232Configuration c) {
        ++serialSignals;
        EXPECT_EQ(c.getSpeed(), 6);
    });
    other.loadSettings();
    EXPECT_EQ(other.settingsFileContents(), written);
    EXPECT_EQ(serialSignals, 1);
    EXPECT_STREQ(other.getAngleFormat(), "%1.3f");
}

TEST_F(MeterStateTest, LoaderChecksEveryValueAndStopsAtANonNumber) {
    meter.threeChannelModel = true;
    struct Case {
        const char* file;
        std::function<bool(const MeterModel&)> holds;
        const char* what;
    } cases[] = {
        {"timebase: 9\ntriggermode2: 4\ntriggerslope: 2\ntriggerchannel: 7\nlcdlevel: 12\nbuttonlevel: 0\n",
         [](const MeterModel& m) {
             return m.getTimebase() == 5 && m.getTriggerMode() == 0 && m.getTriggerSlope() == 0 &&
                    m.getTriggerChannel() == 2 && m.getLcdLevel() == 5 && m.getButtonLevel() == 5;
         },
         "out-of-range values keep the defaults"},
        {"timebase: -1\ntriggerchannel: 0\n",
         [](const MeterModel& m) { return m.getTimebase() == 5 && m.getTriggerChannel() == 2; }, "below the range"},
        {"timebase: 0\ntriggermode2: 3\ntriggerslope: 1\ntriggerchannel: 3\n",
         [](const MeterModel& m) {
             return m.getTimebase() == 0 && m.getTriggerMode() == 3 && m.getTriggerSlope() == 1 &&
                    m.getTriggerChannel() == 3;
         },
         "the ends of the ranges are taken"},
        {"lcdlevel: 3\nfancy: 4\ngpibaddress: 9\n",
         [](const MeterModel& m) { return m.getLcdLevel() == 3 && m.getGpibAddress() == 9; },
         "an unknown key is skipped with its value"},
        {"lcdlevel: 3\nbuttonlevel: six\ngpibaddress: 9\n",
         [](const MeterModel& m) { return m.getLcdLevel() == 3 && m.getButtonLevel() == 5 && m.getGpibAddress() == 1; },
         "a value that is not a number ends the reading"},
        {"holdactive: 7\nminhold: -1\n",
         [](const MeterModel& m) { return m.isVectorSumHoldActive() && m.isVectorSumMinHoldEnabled(); },
         "any non-zero value switches a hold on"},
        {"rs232speed: 5\nrs232flowcontrol: 2\n",
         [](const MeterModel& m) {
             RS232Configuration c = m.getRS232Configuration();
             return c.getSpeed() == 5 && c.getFlowControl() == 2 && c.getDataBits() == 1;
         },
         "serial settings go straight into the configuration"},
    };
    for (const Case& c : cases) {
        platform::writeFileAtomic(meter.getSettingsPath(), c.file);
        meter.setGpibAddress(1);
        meter.loadSettings();
        EXPECT_TRUE(c.holds(meter)) << c.what;
    }
    // A missing file gives the defaults.
    std::remove(meter.getSettingsPath().c_str());
    meter.loadSettings();
    std::string contents = meter.settingsFileContents();
    EXPECT_EQ(contents.substr(0, contents.find("rs232")), std::string(kDefaultFile).substr(0, contents.find("rs232")));
}

// Settings a user changed before the file was first read (with the keys,
// while the start-up reads it) are kept over the file's values and written;
// a value the setter refused is not.
TEST_F(MeterStateTest, ChangesMadeBeforeTheFirstReadingAreKeptOverTheFile) {
    testsupport::writeFile(meter.getSettingsPath(),
                           "angleunits: 0\ngpibaddress: 5\nlcdlevel: 3\nbuttonlevel: 2\nrs232speed: 2\n"
                           "rs232parity: 1\n");
    meter.setAngleUnits(1);
    meter.setGpibAddress(1);   // the present address, but chosen all the same
    meter.setLcdLevel(12);     // refused
    RS232Configuration serial = meter.getRS232Configuration();
    serial.setSpeed(4);
    serial.setParity(1);
    meter.setRS232Configuration(serial);
    meter.loadSettings();
    EXPECT_EQ(meter.getAngleUnits(), 1);
    EXPECT_EQ(meter.getGpibAddress(), 1);
    EXPECT_EQ(meter.getRS232Configuration().getSpeed(), 4);
    EXPECT_EQ(meter.getLcdLevel(), 3);
    EXPECT_EQ(meter.getButtonLevel(), 2);
    EXPECT_EQ(meter.getRS232Configuration().getParity(), 1);
    EXPECT_TRUE(meter.isSettingsDirty());
    meter.onSaveTimer();
    const std::string written = readFile(meter.getSettingsPath());
    for (const char* line : {"angleunits: 1\n", "gpibaddress: 1\n", "rs232speed: 4\n", "lcdlevel: 3\n",
                             "buttonlevel: 2\n"})
        EXPECT_NE(written.find(line), std::string::npos) << line << written;

    // A later reading gives the file's values again.
    testsupport::writeFile(meter.getSettingsPath(), "angleunits: 0\n");
    meter.setAngleUnits(1);
    meter.loadSettings();
    EXPECT_EQ(meter.getAngleUnits(), 0);
}

TEST_F(MeterStateTest, SaveTickAndFlush) {
    meter.loadSettings();
    meter.setGpibAddress(4);
    EXPECT_TRUE(meter.isSettingsDirty());
    meter.onSaveTimer();
    EXPECT_FALSE(meter.isSettingsDirty());
    EXPECT_NE(readFile(meter.getSettingsPath()).find("gpibaddress: 4\n"), std::string::npos);

    // The same address changes nothing.
    meter.setGpibAddress(4);
    EXPECT_FALSE(meter.isSettingsDirty());
    std::remove(meter.getSettingsPath().c_str());
    meter.onSaveTimer();
    EXPECT_EQ(readFile(meter.getSettingsPath()), "") << "a clean tick writes nothing";

    // The flush writes the meter's and every channel's file (and must not
    // wait for the settings lock it holds).
    meter.loadSettings();
    meter.flushSettings();
    EXPECT_NE(readFile(meter.getSettingsPath()).find("gpibaddress: 1\n"), std::string::npos);
    for (const char* ch : {"ch1", "ch2", "ch3"}) EXPECT_NE(readFile(platform::dataFile(ch)), "") << ch;
}

// Disk full or no descriptor left: the old file stays whole, the failure is
// reported once, and the tick writes the change as soon as it can, with no
// other change in between.
TEST_F(MeterStateTest, AFailedSaveIsReportedOnceAndTriedAgainUntilItSucceeds) {
    using testsupport::FailingWrites;
    for (FailingWrites::Kind kind : {FailingWrites::FileSizeLimit, FailingWrites::NoDescriptors}) {
        SCOPED_TRACE(FailingWrites::name(kind));
        std::vector<std::string> reports;
        SaveStatus::setSink([&](const std::string& detail) { reports.push_back(detail); });
        meter.setLcdLevel(5);
        ASSERT_TRUE(meter.saveSettings());
        const std::string before = readFile(meter.getSettingsPath());
        meter.setLcdLevel(3);
        {
            FailingWrites full(kind);
            meter.onSaveTimer();
            meter.onSaveTimer();
        }
        EXPECT_EQ(readFile(meter.getSettingsPath()), before);
        EXPECT_TRUE(meter.isSettingsDirty());
        EXPECT_EQ(reports, std::vector<std::string>{"settings file bp not saved: " + FailingWrites::reason(kind)});
        meter.onSaveTimer();
        EXPECT_NE(readFile(meter.getSettingsPath()).find("lcdlevel: 3\n"), std::string::npos);
        EXPECT_FALSE(meter.isSettingsDirty());
        EXPECT_EQ(reports.size(), 1u);
        SaveStatus::setSink(nullptr);
    }
}

// The program's stop writes what is dirty: the meter's and the channels'
// settings and the error queue's file.  A settings file not read yet gets
// only the changes a user made before (the model's other values are not the
// user's and must not replace the user's file); one without such a change
// is left alone.
TEST_F(MeterStateTest, SaveDirtyFilesWritesWhatTheTimersHaveNotYetWritten) {
    const std::string bp = meter.getSettingsPath();
    const std::string ch1 = platform::dataFile("ch1");
    const std::string ch2 = platform::dataFile("ch2");
    const std::string ch3 = platform::dataFile("ch3");
    std::ofstream(bp) << "lcdlevel: 3\n";
    std::ofstream(ch1) << "fluxunits: 2\ntempunits: 1\n";
    std::remove(ch2.c_str());
    std::ofstream(ch3) << "fluxunits: 3\n";
    meter.setButtonLevel(7);
    meter.getChannel(1)->setFluxUnits(1);
    meter.getChannel(2)->setFluxUnits(1);
    EXPECT_TRUE(meter.saveDirtyFiles());
    EXPECT_EQ(readFile(bp), "lcdlevel: 3\nbuttonlevel: 7\n");
    EXPECT_EQ(readFile(ch1), "fluxunits: 1\ntempunits: 1\n");
    EXPECT_NE(readFile(ch2).find("fluxunits: 1\n"), std::string::npos);   // no file: the defaults with it
    EXPECT_EQ(readFile(ch3), "fluxunits: 3\n");

    ChannelModel::setSettingPause(std::chrono::milliseconds(0));
    meter.loadSettings();
    meter.getChannel(1)->loadSettings();
    EXPECT_EQ(meter.getChannel(1)->getFluxUnits(), 1);
    meter.setButtonLevel(6);
    meter.getChannel(1)->setFluxUnits(3);
    ScpiErrorQueue::instance()->clear();
    ScpiErrorQueue::instance()->pushError(-200, "kept at the stop");
    EXPECT_TRUE(meter.saveDirtyFiles());
    EXPECT_NE(readFile(bp).find("buttonlevel: 6\nlcdlevel: 3\n"), std::string::npos);
    EXPECT_NE(readFile(ch1).find("fluxunits: 3\n"), std::string::npos);
    EXPECT_EQ(readFile(ch3), "fluxunits: 3\n");
    EXPECT_EQ(readFile(platform::dataFile("errs")), "-200,kept at the stop,\n");
    EXPECT_FALSE(meter.isSettingsDirty());
    EXPECT_FALSE(meter.getChannel(1)->isSettingsDirty());
}

// A stop's save of a file that a timer is writing waits for that save: it
// never returns (and lets the process end) while the file is half done.  The
// timer's save here waits for the channel's file lock, which a slow reading
// of the file holds.
TEST_F(MeterStateTest, ASaveOfAFileWaitsForTheSaveInProgress) {
    ChannelModel& ch = *meter.getChannel(1);
    const std::string ch1 = platform::dataFile("ch1");
    ChannelModel::setSettingPause(std::chrono::milliseconds(0));
    ch.loadSettings();
    std::string slow = "zeromode: 1\n";
    for (int i = 0; i < 40; ++i) slow += "unknown: 0\n";
    testsupport::writeFile(ch1, slow);
    ChannelModel::setSettingPause(std::chrono::milliseconds(25));
    std::thread reading([&] { ch.loadSettings(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return ch.getZeroMode() == 1; }));
    ch.setFluxUnits(1);

    std::atomic<bool> timerSaveDone{false};
    std::thread timer([&] {
        ch.saveSettingsIfDirty();
        timerSaveDone = true;
    });
    // The timer's save has taken the change and waits for the lock.
    ASSERT_TRUE(testsupport::waitUntil([&] { return !ch.isSettingsDirty(); }));
    EXPECT_TRUE(ch.saveSettingsIfDirty());
    EXPECT_TRUE(timerSaveDone) << "returned while the timer's save of the file was still running";
    EXPECT_NE(readFile(ch1).find("fluxunits: 1\n"), std::string::npos);
    timer.join();
    reading.join();
    ChannelModel::setSettingPause(std::chrono::milliseconds(0));
}

TEST_F(MeterStateTest, ProfilesSaveAndRestoreThroughTheScripts) {
    meter.loadSettings();
    meter.setGpibAddress(7);
    meter.getChannel(1)->setHoldActive(true);
    meter.getChannel(3)->setFluxUnits(1);
    ASSERT_TRUE(meter.saveProfile(3));
    EXPECT_NE(standinLog().find("tvl4700-save-profile.sh 3\n"), std::string::npos);
    EXPECT_NE(readFile(platform::dataFile("profiles/3/bp")).find("gpibaddress: 7\n"), std::string::npos);

    meter.setGpibAddress(9);
    meter.getChannel(1)->setHoldActive(false);
    meter.getChannel(3)->setFluxUnits(0);
    ASSERT_TRUE(meter.restoreProfile(3));
    EXPECT_EQ(meter.getGpibAddress(), 7);
    EXPECT_TRUE(meter.getChannel(1)->isHoldActive()) << "every channel file is read again";
    EXPECT_EQ(meter.getChannel(3)->getFluxUnits(), 1);

    // Numbers out of range do nothing at all, not even a flush.
    std::string before = standinLog();
    EXPECT_FALSE(meter.saveProfile(0));
    EXPECT_FALSE(meter.saveProfile(11));
    EXPECT_FALSE(meter.restoreProfile(11));
    EXPECT_EQ(standinLog(), before);

    // A profile that was never saved: the script fails, and so does the call.
    ScpiErrorQueue::instance()->clear();
    meter.setGpibAddress(8);
    EXPECT_FALSE(meter.restoreProfile(7));
    EXPECT_EQ(meter.getGpibAddress(), 8) << "the settings in force stay";
    EXPECT_EQ(newestError(), "-250 profile 7 not restored: tvl4700-restore-profile.sh failed (status 1)");

    // Factory settings: profile 0, then the signal.
    int restored = 0;
    meter.signalDefaultsRestored().connect([&] { ++restored; });
    ASSERT_TRUE(meter.restoreProfile(0));
    EXPECT_EQ(restored, 0);
    meter.setGpibAddress(5);
    ASSERT_TRUE(meter.restoreDefaults());
    EXPECT_EQ(restored, 1);
    EXPECT_EQ(meter.getGpibAddress(), 1);
    EXPECT_FALSE(meter.getChannel(1)->isHoldActive());
}

// A profile script that fails is reported (console and error queue) and
// changes nothing: a save whose files cannot be written first runs no
// script, and a restore that fails keeps the settings in force and writes
// their files again, whatever the script did to them.
TEST_F(MeterStateTest, AFailedProfileSaveOrRestoreIsReportedAndKeepsTheSettings) {
    using testsupport::FailingWrites;
    const std::string bp = platform::dataFile("bp");
    const std::string ch1 = platform::dataFile("ch1");
    auto replaceScript = [&](const char* name, const char* body) {
        const std::string path = sandbox.file(std::string("/usr/sbin/") + name);
        testsupport::writeFile(path, std::string("#!/bin/sh\n") + body);
        chmod(path.c_str(), 0755);
    };
    meter.loadSettings();
    meter.getChannel(1)->loadSettings();
    meter.setGpibAddress(7);
    meter.getChannel(1)->setFluxUnits(1);
    ScpiErrorQueue::instance()->clear();

    replaceScript("tvl4700-save-profile.sh", "exit 3\n");
    EXPECT_FALSE(meter.saveProfile(2));
    EXPECT_EQ(newestError(), "-250 profile 2 not saved: tvl4700-save-profile.sh failed (status 3)");

    const std::string ran = standinLog();
    {
        FailingWrites full(FailingWrites::FileSizeLimit, 4);
        EXPECT_FALSE(meter.saveProfile(2));
    }
    EXPECT_EQ(standinLog(), ran) << "no script ran on files older than the settings";
    EXPECT_EQ(newestError(), "-250 profile 2 not saved: the settings files cannot be written");

    // The script takes the present files away and fails.
    replaceScript("tvl4700-restore-profile.sh", "cd \"$(dirname \"$0\")/../../var/lib/tarvel\" && rm -f bp ch1 ch2 ch3\nexit 1\n");
    ScpiErrorQueue::instance()->clear();
    int restored = 0;
    meter.signalDefaultsRestored().connect([&] { ++restored; });
    EXPECT_FALSE(meter.restoreDefaults());
    EXPECT_EQ(restored, 0);
    EXPECT_EQ(newestError(), "-250 factory settings not restored: tvl4700-restore-profile.sh failed (status 1)");
    EXPECT_FALSE(meter.restoreProfile(4));
    EXPECT_EQ(meter.getGpibAddress(), 7);
    EXPECT_EQ(meter.getChannel(1)->getFluxUnits(), 1);
    EXPECT_NE(readFile(bp).find("gpibaddress: 7\n"), std::string::npos) << "written back";
    EXPECT_NE(readFile(ch1).find("fluxunits: 1\n"), std::string::npos) << "written back";
    EXPECT_EQ(newestError(), "-250 profile 4 not restored: tvl4700-restore-profile.sh failed (status 1)");
}

TEST_F(MeterStateTest, RelativeOffsetStates) {
    std::vector<int> states;
    meter.signalVectorSumRelativeChanged().connect([&](int s) { states.push_back(s); });
    auto computed = [&](float magnitude, float value) {
        std::lock_guard<std::mutex> lock(meter.vectorSumMutex);
        meter.magnitude = magnitude;
        meter.vectorSumValue = value;
    };
    computed(12.0f, 12.0f);
    meter.setVectorSumAutoRelative();
    EXPECT_FLOAT_EQ(meter.getVectorSumRelativeOffset(), 12.0f);
    computed(14.0f, 2.0f);   // a later magnitude of 14, less the offset
    meter.setVectorSumAutoRelative();
    EXPECT_FLOAT_EQ(meter.getVectorSumRelativeOffset(), 12.0f) << "auto again keeps the offset";
    meter.setVectorSumManualRelative();
    meter.setVectorSumAutoRelative();
    EXPECT_FLOAT_EQ(meter.getVectorSumRelativeOffset(), 14.0f) << "from manual: offset plus corrected value";
    meter.setVectorSumRelativeOffset(NAN);
    EXPECT_FLOAT_EQ(meter.getVectorSumRelativeOffset(), 14.0f);
    meter.disableVectorSumRelative();
    EXPECT_EQ(meter.getVectorSumRelativeOffsetDisplayValue(), 0.0f);
    // Switched on again before the next computation: the offset is the
    // present magnitude, not the value that still carries the old offset.
    computed(16.0f, 2.0f);
    meter.setVectorSumAutoRelative();
    EXPECT_FLOAT_EQ(meter.getVectorSumRelativeOffset(), 16.0f);
    EXPECT_EQ(states, (std::vector<int>{1, 1, 2, 1, 0, 1}));
}

// A range of the table with this full scale (gauss), flux unit, display
// scale and decimals.
const RangeSpec* findRange(float fullScale, int fluxUnit, float displayScale, int decimals) {
    for (int probeClass = 0; probeClass <= 6; ++probeClass)
        for (int index = 0; index < 4; ++index) {
            const RangeSpec* r = RangeSpecTable::instance()->lookup(index, fluxUnit, probeClass);
            if (r && r->getFullScale() == fullScale && r->getDecimals() == decimals &&
                std::fabs(r->getDisplayScale() - displayScale) < 1e-6f * displayScale)
                return r;
        }
    return nullptr;
}

TEST_F(MeterStateTest, OffsetEntryWithTheEditingKeys) {
    // The vector sum on a 30 G range with four decimals.
    const RangeSpec* range = findRange(30.0f, 0, 1.0f, 4);
    ASSERT_NE(range, nullptr);
    meter.vectorSumRange = range;

    meter.setVectorSumRelativeOffset(32.0f);
    meter.editVectorSumRelativeOffset();
    EXPECT_EQ(meter.getVectorSumRelativeState(), 3);
    for (int i = 0; i < 4; ++i) meter.editDigitLeft();
    EXPECT_EQ(meter.getEditSelectedDigit(), 4);
    meter.editDecrementDigit();
    EXPECT_FLOAT_EQ(meter.getVectorSumRelativeOffset(), 31.0f);
    meter.editToggleSign();
    EXPECT_FLOAT_EQ(meter.getVectorSumRelativeOffset(), -31.0f);
    EXPECT_TRUE(meter.isEditValueNegative());
    for (int i = 0; i < 9; ++i) meter.editDigitLeft();
    EXPECT_EQ(meter.getEditSelectedDigit(), 5) << "stops at the sixth digit";
    meter.editReset();
    EXPECT_FLOAT_EQ(meter.getVectorSumRelativeOffset(), 0.0f);
    EXPECT_EQ(meter.getEditSelectedDigit(), 5);
}

// The entry limit, 1.1 x full scale in the display unit (the editor's own
// test has the cases): 300 G shown in mT (display scale 0.1) takes 33.0000
// and refuses 34 with a beep, the step undone.
TEST_F(MeterStateTest, OffsetEntryStopsAtElevenTenthsOfFullScaleInTheDisplayUnit) {
    const RangeSpec* range = findRange(300.0f, 1, 0.1f, 4);
    ASSERT_NE(range, nullptr);
    meter.vectorSumRange = range;
    meter.setVectorSumRelativeOffset(320.0f);
    meter.editVectorSumRelativeOffset();
    for (int i = 0; i < 4; ++i) meter.editDigitLeft();
    const unsigned long tones = platform::toneCount();
    meter.editIncrementDigit();
    EXPECT_NEAR(meter.getVectorSumRelativeOffset(), 330.0f, 0.001f);
    EXPECT_EQ(platform::toneCount(), tones) << "33.0000 mT is accepted";
    meter.editIncrementDigit();
    EXPECT_NEAR(meter.getVectorSumRelativeOffset(), 330.0f, 0.001f) << "34 mT is refused";
    EXPECT_GT(platform::toneCount(), tones) << "with a beep";
    meter.editDecrementDigit();
    EXPECT_NEAR(meter.getVectorSumRelativeOffset(), 320.0f, 0.001f) << "the refused step was undone";
}

TEST_F(MeterStateTest, NothingReadyGivesAZeroVectorWithoutNaN) {
    std::vector<float> emitted;
    meter.signalVectorSumUpdated().connect([&](float v, float x, float y, float z) { emitted = {v, x, y, z}; });
    meter.computeVectorSum();
    EXPECT_EQ(emitted, (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(meter.getVectorSumRangeSpec(), meter.getChannel(1)->getRangeSpec());
    EXPECT_EQ(meter.getFluxSnapshot().size(), 4u);
}

// The vector of three readings: which slot sets the range, which slot is
// which axis, and the angles.
TEST(VectorSumMath, RangeAxesAndAngles) {
    using In = MeterModel::VectorSumInput;
    struct Case {
        const char* what;
        In in[3];
        int rangeSlot;
        double x, y, z;
    } cases[] = {
        {"three single-axis probes", {{true, 1, 0, 3.0}, {true, 1, 0, 4.0}, {true, 1, 0, 0.0}}, 0, 3, 4, 0},
        {"axes 3, 1, 2: X is slot 2, Y slot 3, Z slot 1",
         {{true, 0, 3, 1.0}, {true, 2, 1, 2.0}, {true, 1, 2, 3.0}}, 1, 2, 3, 1},
        {"only slot 2 ready, single-axis probes", {{false, 3, 0, 7.0}, {true, 1, 0, -6.0}, {false, 3, 0, 8.0}}, 1, 0,
         -6, 0},
        {"a single-axis probe in slot 3 fixes the axes",
         {{true, 2, 2, 1.0}, {true, 2, 1, 2.0}, {true, 3, 0, 5.0}}, 2, 1, 2, 5},
        {"a later code replaces an earlier one; unclaimed axis 0",
         {{true, 2, 1, 1.0}, {true, 2, 1, 2.0}, {true, 0, 3, 5.0}}, 0, 2, 0, 5},
        {"unknown codes are ignored", {{true, 0, 7, 1.0}, {true, 0, 2, 2.0}, {true, 0, 3, 3.0}}, 0, 0, 2, 3},
        {"nothing ready: slot 1's range, zero vector", {{false, 3, 0, 1.0}, {false, 2, 0, 2.0}, {false, 1, 0, 3.0}},
         0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MeterModel::vectorSumRangeSlot(c.in), c.rangeSlot) << c.what;
        double component[3];
        MeterModel::vectorSumComponents(c.in, component);
        EXPECT_EQ(component[0], c.x) << c.what;
        EXPECT_EQ(component[1], c.y) << c.what;
        EXPECT_EQ(component[2], c.z) << c.what;
    }

    // 3, 4, 0 G: 5 G at 53.13, 36.87 and 90 degrees.
    const double c340[3] = {3.0, 4.0, 0.0};
    float angles[3];
    MeterModel::vectorSumAngles(c340, 5.0f, angles);
    EXPECT_NEAR(angles[0], 53.13f, 0.005f);
    EXPECT_NEAR(angles[1], 36.87f, 0.005f);
    EXPECT_FLOAT_EQ(angles[2], 90.0f);
    // A zero vector has angles 0, not NaN; a component a rounding step past
    // the single-precision magnitude still gives a number.
    const double zero[3] = {0.0, 0.0, 0.0};
    MeterModel::vectorSumAngles(zero, 0.0f, angles);
    EXPECT_EQ(std::vector<float>(angles, angles + 3), (std::vector<float>{0.0f, 0.0f, 0.0f}));
    const double along[3] = {-0.1, 0.0, 0.0};
    MeterModel::vectorSumAngles(along, static_cast<float>(0.1) * 0.99999994f, angles);
    EXPECT_FLOAT_EQ(angles[0], 180.0f);
}

TEST_F(MeterStateTest, AngleUnitsAndDisplayRate) {
    EXPECT_STREQ(meter.getAngleUnitText(), "\xB0");
    meter.setAngleUnits(1);
    EXPECT_STREQ(meter.getAngleUnitText(), "rad");
    EXPECT_STREQ(meter.getAngleFormat(), "%1.3f");
    meter.setAngleUnits(2);
    EXPECT_STREQ(meter.getAngleUnitText(), "rad");
    EXPECT_TRUE(std::isnan(meter.getVectorSumAngleX()));
    meter.setAngleUnits(0);
    EXPECT_STREQ(meter.getAngleFormat(), "%3.2f");
    EXPECT_EQ(meter.getVectorSumAngleY(), 0.0f);

    std::vector<float> rates;
    meter.signalDisplayRateChanged().connect([&](float r) { rates.push_back(r); });
    for (float r : {0.25f, 6.0f, NAN, -1.0f}) meter.setDisplayRate(r);
    meter.setDisplayRate(5.9f);
    EXPECT_EQ(rates, (std::vector<float>{5.9f}));
    for (unsigned slot = 1; slot <= 3; ++slot) EXPECT_FLOAT_EQ(meter.getChannel(slot)->getDisplayRate(), 5.9f);
}

TEST_F(MeterStateTest, HoldsToggleAndReset) {
    std::vector<std::vector<bool>> holds;
    meter.signalVectorSumHoldsChanged().connect([&](bool a, bool mn, bool mx) { holds.push_back({a, mn, mx}); });
    {
        std::lock_guard<std::mutex> lock(meter.vectorSumMutex);
        meter.vectorSumValue = 4.0f;
    }
    meter.toggleVectorSumMinHold();
    EXPECT_FLOAT_EQ(meter.getVectorSumMinHoldValue(), 4.0f);
    meter.toggleVectorSumHoldActive();
    EXPECT_FLOAT_EQ(meter.getVectorSumMaxHoldValue(), 0.0f) << "hold active changes no value";
    meter.resetVectorSumHolds();
    EXPECT_FLOAT_EQ(meter.getVectorSumMaxHoldValue(), 4.0f);
    EXPECT_EQ(holds, (std::vector<std::vector<bool>>{{false, true, false}, {true, true, false}}));
}

TEST_F(MeterStateTest, WaveformSettingsAreRangeChecked) {
    int timebaseSignals = 0;
    meter.signalTimebaseChanged().connect([&](int) { ++timebaseSignals; });
    for (int bad : {-1, 6, 100}) meter.setTimebase(bad);
    for (int bad : {-1, 4}) meter.setTriggerMode(bad);
    for (int bad : {-1, 2}) meter.setTriggerSlope(bad);
    for (int bad : {0, 4}) meter.setTriggerChannel(bad);
    EXPECT_EQ(timebaseSignals, 0);
    EXPECT_FALSE(meter.isSettingsDirty());
    EXPECT_NE(meter.getTriggerChannelModel(), nullptr);
    EXPECT_NE(meter.getTriggerChannelTimebaseSpec(), nullptr);

    meter.setTimebase(5);
    TimebaseSpecTable table;
    EXPECT_EQ(meter.getTimebasePerDivText(),
              std::string(table.lookup(meter.getChannel(2)->getFreqRange(), 5)->getLabel()) + "/div");
}

TEST(WaveformMode, CommonFrequencyRangeIsTheWidestOfTheReadySlots) {
    struct Case {
        bool ready[3];
        int range[3];
        int common;
    } cases[] = {
        {{true, true, true}, {2, 0, 1}, 0},
        {{true, true, true}, {3, 2, 3}, 2},
        {{true, false, true}, {4, 0, 5}, 4},   // 4 met first stays
        {{true, true, false}, {5, 4, 0}, 5},   // 5 met first stays
        {{false, true, true}, {4, 0, 1}, 0},   // a slot that is not ready does not count
        {{false, false, true}, {0, 0, 3}, 3},  // the first ready slot's range is taken
        {{false, false, false}, {0, 4, 5}, 1}, // none ready: 20 Hz to 10 kHz
    };
    for (const Case& c : cases)
        EXPECT_EQ(MeterModel::commonFreqRange(c.ready, c.range), c.common)
            << c.range[0] << c.range[1] << c.range[2];
}

TEST_F(MeterStateTest, TriggerRateKeepsTheLast32Ticks) {
    for (int tick = 0; tick < 40; ++tick) {
        {
            std::lock_guard<std::mutex> lock(meter.triggerMutex);
            meter.triggerCount = 2;
        }
        meter.updateTriggerRate();
    }
    EXPECT_FLOAT_EQ(meter.getTriggerRate(), 8.0f);
    // One tick of 34 triggers: 31 ticks of 2 and this one make 96 in 32
    // ticks, 3 a tick, 12 a second (a window of 31 or 33 ticks gives
    // another rate).
    {
        std::lock_guard<std::mutex> lock(meter.triggerMutex);
        meter.triggerCount = 34;
    }
    meter.updateTriggerRate();
    EXPECT_FLOAT_EQ(meter.getTriggerRate(), 12.0f);

    // The timer's tick and an arming reader thread share the history.
    std::atomic<bool> stop{false};
    std::thread ticks([&] {
        while (!stop) meter.updateTriggerRate();
    });
    for (int i = 0; i < 2000; ++i) meter.onWaveformReady(meter.getTriggerChannel());
    stop = true;
    ticks.join();
    EXPECT_GE(meter.getTriggerRate(), 0.0f);
}

// The two phases of a start, counted off by the cards' capture-state
// reports.  No probe is ready here, so the trigger channel (slot 2) takes
// part alone.
TEST_F(MeterStateTest, StartPhasesCountTheCardsReports) {
    struct { int triggerMode; bool rateTimer; } cases[] = {{0, true}, {3, false}};
    for (auto& c : cases) {
        meter.setTriggerMode(c.triggerMode);
        meter.threeChannelModel = true;
        meter.capturePhase = 1;
        meter.acksOutstanding = 3;
        meter.getChannel(2)->setWaveformTimerPeriod(500);
        meter.onCaptureStateChanged(1, 1);
        meter.onCaptureStateChanged(3, 2);
        EXPECT_EQ(meter.acksOutstanding, 3) << "phase 1 counts stop reports only";
        meter.onCaptureStateChanged(1, 0);
        meter.onCaptureStateChanged(2, 0);
        EXPECT_EQ(meter.getCapturePhase(), 1);
        meter.onCaptureStateChanged(3, 0);
        EXPECT_EQ(meter.getCapturePhase(), 2) << "roles sent";
        EXPECT_EQ(meter.acksOutstanding, 1) << "the trigger channel alone";
        EXPECT_EQ(meter.getChannel(2)->getWaveformTimerPeriod(), 60);
        meter.onCaptureStateChanged(2, 1);   // any state counts in phase 2
        EXPECT_EQ(meter.getCapturePhase(), 0);
        EXPECT_EQ(meter.getAcquisitionState(), 1) << "armed, waiting for a trigger";
        EXPECT_EQ(meter.triggerRateTimer.isActive(), c.rateTimer) << "trigger mode " << c.triggerMode;
        meter.onCaptureStateChanged(2, 0);
        EXPECT_EQ(meter.getCapturePhase(), 0) << "a report while idle is ignored";
        meter.stopAcquisition();
        EXPECT_EQ(meter.getAcquisitionState(), 0);
        EXPECT_FALSE(meter.triggerRateTimer.isActive());
    }
}

// A single capture whose record comes back while the trigger channel is
// still being armed (here: from the armed signal, before the request is
// sent) ends the acquisition: "Stopped", not "Waiting" for ever.
TEST_F(MeterStateTest, ASingleCaptureDoneWhileArmingStopsTheAcquisition) {
    meter.setTriggerMode(3);
    ChannelModel* trigger = meter.getChannel(2);
    trigger->onCaptureState(1);   // a trigger card: arming announces it
    trigger->signalCaptureArmed().connect([&](int) { meter.onWaveformReady(2); });
    std::vector<int> states;
    meter.signalAcquisitionStateChanged().connect([&](int state) { states.push_back(state); });
    meter.armTriggerChannel();
    EXPECT_EQ(meter.getAcquisitionState(), 0);
    EXPECT_EQ(states, (std::vector<int>{1, 0}));
}

TEST_F(MeterStateTest, TriggerChannelLevelGoesToTheOtherChannels) {
    meter.onTriggerLevelChanged(1, false, 7.0f);   // not the trigger channel
    EXPECT_EQ(meter.getChannel(3)->getTriggerLevel(), 0.0f);
    meter.onTriggerLevelChanged(2, true, 1.5f);
    EXPECT_EQ(meter.getChannel(1)->getTriggerLevel(), 1.5f);
    EXPECT_EQ(meter.getChannel(3)->getTriggerLevel(), 1.5f);
}

TEST_F(MeterStateTest, PacingAimsAtSixtyPercentLoad) {
    struct { int period; double load; int paced; } cases[] = {
        {500, 60.0, 500}, {500, 0.0, 410}, {500, 100.0, 560}, {950, 100.0, 950},
        {60, 0.0, 60}, {100, 59.5, 100}, {300, 70.0, 315},
    };
    for (auto& c : cases) EXPECT_EQ(MeterModel::pacedPeriod(c.period, c.load), c.paced) << c.period << " " << c.load;
}

TEST_F(MeterStateTest, CompletedCapturesTuneEverySecondOne) {
    int ready = 0;
    meter.signalWaveformReady().connect([&] { ++ready; });
    meter.setTriggerMode(3);
    meter.recordsOutstanding = 2;
    meter.onWaveformReady(1);   // a follower's record
    EXPECT_EQ(ready, 0);
    meter.onWaveformReady(2);   // the trigger channel's, last
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(meter.getCompletedCaptureCount(), 1);
    EXPECT_EQ(meter.getAcquisitionState(), 0);
}

TEST_F(MeterStateTest, BusyNeedsAReadyProbe) {
    int signals = 0;
    meter.signalBusyChanged().connect([&](bool) { ++signals; });
    meter.onZeroingStateChanged(1, 1);
    meter.onZeroingStateChanged(1, 1);
    EXPECT_FALSE(meter.isBusy());
    EXPECT_EQ(signals, 0);
    meter.startAcquisition();
    EXPECT_EQ(meter.getCapturePhase(), 0) << "refused: the trigger channel's probe is not ready";
}

TEST_F(MeterStateTest, BackplaneReport) {
    std::vector<std::string> lines = meter.backplaneInfoReport();
    ASSERT_EQ(lines.size(), 26u);
    auto row = [](std::string name, std::string value) {
        name.resize(40, ' ');
        return name + std::string(15 - value.size(), ' ') + value;
    };
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "Backplane Board Information");
    EXPECT_EQ(lines[2], std::string(27, '-'));
    EXPECT_EQ(lines[4], row("Model", "unknown"));
    EXPECT_EQ(lines[5], row("Rev", "0"));
    EXPECT_EQ(lines[6], row("Serial", "0000"));
    EXPECT_EQ(lines[7], row("Cal Date", "01-01-1970"));
    EXPECT_EQ(lines[8], row("Cal Temperature", "0.0"));
    EXPECT_EQ(lines[10], "Backplane Cal Parameters");
    EXPECT_EQ(lines[11], std::string(24, '-'));
    EXPECT_EQ(lines[12], row("Sync Pulse Offset", "38"));
    EXPECT_EQ(lines[24], row("ADAC Full Neg Output 10V Range", "0"));
    EXPECT_EQ(lines[25], "");

    meter.onBackplaneCalParameter(13, 25.96f);
    meter.onBackplaneCalParameter(3, 2.6f);
    meter.onBackplaneCalParameter(12, 12345678901234567.0f);
    meter.onBackplaneBoardInfo(2, "ABCDEFG");
    meter.onBackplaneBoardInfo(3, "HIJKLMN");
    meter.onBackplaneBoardInfo(8, "XXXXXXX");
    lines = meter.backplaneInfoReport();
    EXPECT_EQ(lines[5], row("Rev", "ABCDEFGHIJKLMN"));
    EXPECT_EQ(lines[8], row("Cal Temperature", "26.0"));
    EXPECT_EQ(lines[15], row("VDAC Full Pos Output 3V Range", "3"));
    EXPECT_GT(lines[24].size(), 55u) << "a wide value is printed whole";
}

TEST_F(MeterStateTest, DemoOnlyForTheExactModel) {
    struct { const char* first; const char* second; bool demo; } cases[] = {
        {"demo\0\0\0", "\0\0\0\0\0\0\0", false},
        {"DEMOX\0\0", "\0\0\0\0\0\0\0", false},
        {"DEMO\0\0\0", "Z\0\0\0\0\0\0", true},   // the second half lies beyond the NUL
    };
    for (auto& c : cases) {
        TestMeter m(bus);
        m.onBackplaneBoardInfo(0, c.first);
        m.onBackplaneBoardInfo(1, c.second);
        EXPECT_EQ(m.isDemoMode(), c.demo) << c.first;
        EXPECT_EQ(m.getChannel(2)->isDemoMode(), c.demo);
    }
    // A second half alone keeps characters 1-7.
    meter.onBackplaneBoardInfo(2, "ABCDEFG");
    meter.onBackplaneBoardInfo(3, "HIJKLMN");
    meter.onBackplaneBoardInfo(3, "1234567");
    EXPECT_EQ(meter.getBackplaneRev(), "ABCDEFG1234567");
}

}  // namespace
