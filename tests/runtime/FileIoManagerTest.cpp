#include "runtime/FileIoManager.h"

#include "ScriptFixture.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

namespace {

using testsupport::exists;
using testsupport::lines;
using testsupport::readFile;
using testsupport::writeFile;

class FakeSource : public DataLogSource {
public:
    bool threeChannel = true;
    bool present[3] = {true, true, true};
    DataLogChannel channels[3];

    FakeSource() {
        for (auto& c : channels) c.reportFormat = "%02.4f";
    }
    bool isThreeChannelModel() override { return threeChannel; }
    bool readChannel(unsigned slot, DataLogChannel& out) override {
        if (slot < 1 || slot > 3 || !present[slot - 1]) return false;
        out = channels[slot - 1];
        return true;
    }
};

// Splits "YYYY-MM-DD HH:MM:SS.mmm,rest" into its time and rest; false when
// the timestamp is not of that shape.
bool splitRow(const std::string& line, struct tm& stamp, std::string& rest) {
    if (line.size() < 24 || line[19] != '.' || line[23] != ',') return false;
    for (int i = 20; i < 23; ++i)
        if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
    stamp = {};
    const char* end = strptime(line.c_str(), "%Y-%m-%d %H:%M:%S", &stamp);
    if (end != line.c_str() + 19) return false;
    rest = line.substr(24);
    return true;
}

class FileIoManagerTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox{false};
    FakeSource source;
    std::unique_ptr<FileIoManager> manager;

    void SetUp() override { makeManager(); }
    void TearDown() override { manager.reset(); }

    void makeManager() {
        manager = std::make_unique<FileIoManager>();
        manager->setDataLogSource(&source);
    }
    std::string internalLog(int n) {
        char name[32];
        std::snprintf(name, sizeof name, "/data%04d.csv", n);
        return sandbox.file("/var/www/datalogs") + name;
    }
    std::string counters() { return readFile(sandbox.file("/var/lib/tarvel/fileio")); }
    void mounts(const std::string& text) { writeFile(sandbox.file("/proc/mounts"), text); }
};

// ---------------------------------------------------------------- data logs

TEST_F(FileIoManagerTest, ThreeChannelLogWritesTheHeaderAndRowsOfTheLoggedSlots) {
    DataLogChannel& ch1 = source.channels[0];
    ch1.mode = 1;
    ch1.fluxUnits = 0;
    ch1.valueInUnits = 1.23456;
    ch1.signalFreq = 50.0;
    DataLogChannel& ch2 = source.channels[1];
    ch2.temperatureValid = true;   // not logged: its status is 0
    DataLogChannel& ch3 = source.channels[2];
    ch3.fluxUnits = 1;
    ch3.reportFormat = "%1.5f";
    ch3.valueInUnits = 0.0012;
    ch3.temperatureValid = true;
    ch3.temperatureUnits = 1;
    ch3.temperature = 23.46;

    manager->startLogging(FileIoManager::kInternal, 2, 0, 2);
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kLoggingInternally);
    std::time_t before = platform::now();
    manager->writeRow();
    ch3.temperature = -5.0;
    manager->writeRow();
    std::time_t after = platform::now();
    EXPECT_EQ(manager->getRowCount(), 2);
    EXPECT_EQ(manager->stopLogging(), "/datalogs/data0001.csv");
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kOff);
    manager->writeRow();   // nothing runs: nothing written

    std::vector<std::string> file = lines(readFile(internalLog(1)));
    ASSERT_EQ(file.size(), 3u);
    EXPECT_EQ(file[0], "Timestamp,CH1 Flux G AC,CH1 Freq Hz,CH3 Flux T DC,CH3 Temp C,");
    struct tm stamp;
    std::string rest;
    ASSERT_TRUE(splitRow(file[1], stamp, rest)) << file[1];
    EXPECT_EQ(rest, "1.2346, 50.0,0.00120,23.5,");
    stamp.tm_isdst = -1;
    std::time_t t = mktime(&stamp);
    EXPECT_GE(t, before - 1);
    EXPECT_LE(t, after + 1);
    ASSERT_TRUE(splitRow(file[2], stamp, rest)) << file[2];
    EXPECT_EQ(rest, "1.2346, 50.0,0.00120,-5.0,");
    EXPECT_EQ(counters(), "screenshotcounter: 0\ndatalogcounter: 1\n");
}

struct SingleCase {
    int mode;
    int fluxUnits;
    int timeUnits;
    bool temperatureValid;
    int temperatureUnits;
    const char* header;
    const char* row;
};

TEST_F(FileIoManagerTest, SingleChannelLogHasNoPrefixAndFollowsModeAndUnitsAtItsStart) {
    const SingleCase cases[] = {
        {1, 2, 1, false, 0, "Timestamp,Flux Oe AC,Period Sec,", "2.0000,0.02000000,"},
        {0, 3, 1, false, 0, "Timestamp,Flux A/m DC,", "2.0000,"},   // DC right after AC: no frequency
        {1, 0, 0, true, 2, "Timestamp,Flux G AC,Freq Hz,Temp K,", "2.0000, 50.0,300.0,"},
        {0, 1, 0, true, 0, "Timestamp,Flux T DC,Temp F,", "2.0000,300.0,"},
    };
    int number = 0;
    for (const SingleCase& c : cases) {
        SCOPED_TRACE(c.header);
        DataLogChannel& ch = source.channels[1];
        ch.mode = c.mode;
        ch.fluxUnits = c.fluxUnits;
        ch.timeUnits = c.timeUnits;
        ch.temperatureValid = c.temperatureValid;
        ch.temperatureUnits = c.temperatureUnits;
        ch.valueInUnits = 2.0;
        ch.signalFreq = c.timeUnits ? 0.02 : 50.0;
        ch.temperature = 300.0;
        source.threeChannel = false;
        manager->startLoggingSingleChannel(FileIoManager::kInternal, 2);
        manager->writeRow();
        manager->stopLogging();
        std::vector<std::string> file = lines(readFile(internalLog(++number)));
        ASSERT_EQ(file.size(), 2u);
        EXPECT_EQ(file[0], c.header);
        EXPECT_EQ(file[1].substr(24), c.row) << file[1];
    }
}

TEST_F(FileIoManagerTest, TemperatureThatTurnsInvalidLeavesAnEmptyFieldAndAbsentOneHasNoColumn) {
    source.channels[0].temperatureValid = true;
    source.channels[0].temperature = 21.0;
    source.channels[1].temperatureValid = false;
    manager->startLogging(FileIoManager::kInternal, 2, 2, 0);
    manager->writeRow();
    source.channels[0].temperatureValid = false;
    source.channels[1].temperatureValid = true;   // too late for a column
    manager->writeRow();
    source.present[1] = false;                     // its model went away: empty fields
    manager->writeRow();
    manager->stopLogging();
    std::vector<std::string> file = lines(readFile(internalLog(1)));
    ASSERT_EQ(file.size(), 4u);
    EXPECT_EQ(file[0], "Timestamp,CH1 Flux G DC,CH1 Temp F,CH2 Flux G DC,");
    EXPECT_EQ(file[1].substr(24), "0.0000,21.0,0.0000,");
    EXPECT_EQ(file[2].substr(24), "0.0000,,0.0000,");
    EXPECT_EQ(file[3].substr(24), "0.0000,,,");
}

TEST_F(FileIoManagerTest, ReportFormatsThatAreNotOneFloatConversionAreNotUsed) {
    const std::pair<const char*, const char*> cases[] = {
        {"%02.4f", "1.2346"}, {"V=%.2f%%", "V=1.23%"}, {"%+8.3e", "+1.235e+00"}, {"%lf", "1.234560"},
        {"%s", "1.234560"},   {"%d", "1.234560"},     {"%f %f", "1.234560"},  {"%n%f", "1.234560"},
        {"%*f", "1.234560"},  {"", "1.234560"},       {"%", "1.234560"},
    };
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        source.channels[0].reportFormat = c.first;
        source.channels[0].valueInUnits = 1.23456;
        manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
        manager->writeRow();
        manager->stopLogging();
        std::vector<std::string> file = lines(readFile(internalLog(++number)));
        ASSERT_EQ(file.size(), 2u);
        EXPECT_EQ(file[1].substr(24), std::string(c.second) + ",");
    }
}

TEST_F(FileIoManagerTest, StartWithoutAReadyProbeThrowsAndCreatesNothing) {
    EXPECT_THROW(manager->startLogging(FileIoManager::kInternal, 0, 1, 3), LocalExceptionNoProbe);
    EXPECT_THROW(manager->startLoggingSingleChannel(FileIoManager::kInternal, 1), LocalExceptionNoProbe);
    source.present[0] = false;   // status 2 but no channel model to read
    EXPECT_THROW(manager->startLogging(FileIoManager::kInternal, 2, 0, 0), LocalExceptionNoProbe);
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kOff);
    EXPECT_FALSE(exists(internalLog(1)));
    EXPECT_FALSE(exists(sandbox.file("/var/lib/tarvel/fileio")));
    manager->startLogging(FileIoManager::kInternal, 0, 2, 0);   // the counter was not used up
    EXPECT_EQ(manager->stopLogging(), "/datalogs/data0001.csv");

    FileIoManager unconnected;   // no source installed: no channel has a ready probe
    EXPECT_THROW(unconnected.startLogging(FileIoManager::kInternal, 2, 2, 2), LocalExceptionNoProbe);
}

TEST_F(FileIoManagerTest, StartWhileALogRunsLeavesTheRunningLogAlone) {
    manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
    manager->writeRow();
    manager->startLogging(FileIoManager::kInternal, 0, 2, 0);
    manager->writeRow();
    EXPECT_EQ(manager->stopLogging(), "/datalogs/data0001.csv");
    EXPECT_EQ(lines(readFile(internalLog(1))).size(), 3u);
    EXPECT_FALSE(exists(internalLog(2)));
}

TEST_F(FileIoManagerTest, LogClosesAfterItsMillionthRow) {
    source.channels[0].reportFormat = "%.0f";
    manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
    for (int i = 0; i < FileIoManager::kMaxRows - 1; ++i) manager->writeRow();
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kLoggingInternally);
    manager->writeRow();
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kOff);
    manager->writeRow();
    EXPECT_EQ(manager->getRowCount(), FileIoManager::kMaxRows);
    std::string text = readFile(internalLog(1));
    EXPECT_EQ(static_cast<long>(std::count(text.begin(), text.end(), '\n')), FileIoManager::kMaxRows + 1L);
}

TEST_F(FileIoManagerTest, RowsWrittenWhileOtherThreadsStartAndStopAreNeverTorn) {
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done.load()) manager->writeRow();
    });
    for (int i = 0; i < 30; ++i) {
        manager->startLogging(FileIoManager::kInternal, 2, 2, 2);
        testsupport::waitUntil([&] { return manager->getRowCount() >= 3; });
        if (i % 3 == 2)
            manager->discardLog();
        else
            manager->stopLogging();
    }
    done = true;
    writer.join();
    int kept = 0;
    for (int n = 1; n <= 30; ++n) {
        SCOPED_TRACE(n);
        if (n % 3 == 0) {
            EXPECT_FALSE(exists(internalLog(n)));
            continue;
        }
        std::string text = readFile(internalLog(n));
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        std::vector<std::string> file = lines(text);
        ASSERT_GE(file.size(), 4u);
        for (std::size_t i = 1; i < file.size(); ++i) EXPECT_EQ(file[i].substr(23), ",0.0000,0.0000,0.0000,");
        ++kept;
    }
    EXPECT_EQ(kept, 20);
}

TEST_F(FileIoManagerTest, DiscardDeletesOnlyARunningLog) {
    manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
    manager->writeRow();
    manager->stopLogging();
    manager->discardLog();   // nothing runs: the finished log stays
    EXPECT_TRUE(exists(internalLog(1)));

    manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
    manager->writeRow();
    manager->discardLog();
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kOff);
    EXPECT_FALSE(exists(internalLog(2)));
    EXPECT_TRUE(exists(internalLog(1)));
    manager->writeRow();
    EXPECT_FALSE(exists(internalLog(2)));
}

TEST_F(FileIoManagerTest, InternalLogFolderMissingIsAFileCreateFailure) {
    rmdir(sandbox.file("/var/www/datalogs").c_str());
    EXPECT_THROW(manager->startLogging(FileIoManager::kInternal, 2, 0, 0), LocalExceptionFileCreateFailure);
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kOff);
    EXPECT_FALSE(exists(sandbox.file("/var/www/datalogs")));   // not created
}

// ---------------------------------------------------------------- deletion

TEST_F(FileIoManagerTest, DeleteInternalLogTakesPlainNamesInsideTheLogFolderOnly) {
    std::string folder = sandbox.file("/var/www/datalogs");
    writeFile(folder + "/data0001.csv", "x");
    writeFile(folder + "/data..csv", "x");
    mkdir((folder + "/sub").c_str(), 0755);
    writeFile(folder + "/sub/data0002.csv", "x");
    writeFile(sandbox.file("/var/www/index.html"), "x");
    writeFile(sandbox.file("/var/lib/tarvel/bp"), "x");

    const struct {
        int destination;
        const char* name;
        bool deleted;
        const char* file;   // what must be gone, or still there
    } cases[] = {
        {0, "data0001.csv", false, "/var/www/datalogs/data0001.csv"},
        {2, "data0001.csv", false, "/var/www/datalogs/data0001.csv"},
        {1, "../index.html", false, "/var/www/index.html"},
        {1, "../../lib/tarvel/bp", false, "/var/lib/tarvel/bp"},
        {1, "sub/data0002.csv", false, "/var/www/datalogs/sub/data0002.csv"},
        {1, "/var/lib/tarvel/bp", false, "/var/lib/tarvel/bp"},
        {1, "data..csv", false, "/var/www/datalogs/data..csv"},
        {1, "..", false, "/var/www/datalogs"},
        {1, ".", false, "/var/www/datalogs"},
        {1, "", false, "/var/www/datalogs"},
        {1, "nosuch.csv", false, "/var/www/datalogs"},
        {1, "data0001.csv", true, "/var/www/datalogs/data0001.csv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(manager->deleteInternalLog(c.destination, c.name), c.deleted);
        EXPECT_EQ(exists(sandbox.file(c.file)), !c.deleted);
    }
}

// The running log goes on writing to its file: deleting never takes it
// away (the other logs go, and the caller learns which file was kept).
TEST_F(FileIoManagerTest, DeletingLogsKeepsTheRunningLogsFile) {
    const std::string folder = sandbox.file("/var/www/datalogs");
    manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
    manager->stopLogging();
    manager->startLogging(FileIoManager::kInternal, 2, 0, 0);   // data0002.csv runs
    symlink("data0002.csv", (folder + "/link.csv").c_str());
    writeFile(folder + "/other.csv", "x\n");

    bool kept = false;
    EXPECT_FALSE(manager->deleteInternalLog(FileIoManager::kInternal, "data0002.csv", &kept));
    EXPECT_TRUE(kept);
    EXPECT_TRUE(manager->deleteInternalLog(FileIoManager::kInternal, "data0001.csv", &kept));
    EXPECT_FALSE(kept);
    EXPECT_FALSE(exists(internalLog(1)));

    EXPECT_EQ(manager->deleteAllInternalLogs(), "data0002.csv");
    EXPECT_TRUE(exists(internalLog(2)));
    EXPECT_FALSE(exists(folder + "/other.csv"));
    EXPECT_FALSE(exists(folder + "/link.csv")) << "a link to the log is not the log";
    manager->writeRow();
    EXPECT_EQ(lines(readFile(internalLog(2))).size(), 2u) << "the log goes on in its file";

    // Once the log stopped, its file goes like the others.
    EXPECT_EQ(manager->stopLogging(), "/datalogs/data0002.csv");
    EXPECT_EQ(manager->deleteAllInternalLogs(), "");
    EXPECT_FALSE(exists(internalLog(2)));
}

// A stop names the log it ended: none when no log was started since the
// last stop, also after a start that failed (its file never came to be).
TEST_F(FileIoManagerTest, AStopWithNoLogToEndNamesNoFile) {
    EXPECT_EQ(manager->stopLogging(), "");
    {
        testsupport::FailingWrites full(testsupport::FailingWrites::FileSizeLimit, 0);
        EXPECT_THROW(manager->startLogging(FileIoManager::kInternal, 2, 0, 0), LocalExceptionFileCreateFailure);
    }
    EXPECT_EQ(manager->stopLogging(), "") << "the refused start left no log";
    manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
    EXPECT_EQ(manager->stopLogging(), "/datalogs/data0002.csv");
    EXPECT_EQ(manager->stopLogging(), "") << "stopped already";
    manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
    manager->discardLog();
    EXPECT_EQ(manager->stopLogging(), "") << "cancelled";
}

// ---------------------------------------------------------------- counters

TEST_F(FileIoManagerTest, CountersFileNumbersTheNextLogAndIsRewrittenWhole) {
    const struct {
        const char* file;
        const char* nextLog;
        const char* after;
    } cases[] = {
        {"screenshotcounter: 7\ndatalogcounter: 41\n", "/datalogs/data0042.csv",
         "screenshotcounter: 7\ndatalogcounter: 42\n"},
        {"datalogcounter: 9999\n", "/datalogs/data10000.csv", "screenshotcounter: 0\ndatalogcounter: 10000\n"},
        {"other: 3 datalogcounter: 5\n", "/datalogs/data0006.csv", "screenshotcounter: 0\ndatalogcounter: 6\n"},
        // reading stops at the first value that is not an integer
        {"datalogcounter: 5\nscreenshotcounter: x\ndatalogcounter: 99\n", "/datalogs/data0006.csv",
         "screenshotcounter: 0\ndatalogcounter: 6\n"},
        {"", "/datalogs/data0001.csv", "screenshotcounter: 0\ndatalogcounter: 1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        writeFile(sandbox.file("/var/lib/tarvel/fileio"), c.file);
        makeManager();
        manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
        EXPECT_EQ(manager->stopLogging(), c.nextLog);
        EXPECT_EQ(counters(), c.after);
    }
}

TEST_F(FileIoManagerTest, AFailedStartUsesUpItsNumber) {
    mounts("");
    EXPECT_THROW(manager->startLogging(FileIoManager::kUsbDrive, 2, 0, 0), LocalExceptionNoUsbDrive);
    EXPECT_FALSE(exists(sandbox.file("/var/lib/tarvel/fileio")));
    manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
    EXPECT_EQ(manager->stopLogging(), "/datalogs/data0002.csv");
    EXPECT_EQ(counters(), "screenshotcounter: 0\ndatalogcounter: 2\n");
}

// ---------------------------------------------------------------- full disk

using testsupport::FailingWrites;

// A row that cannot be written stops the log: the file keeps the whole rows
// written before it (a part of the failed row is cut off again), the count
// counts those only, and the failure is signalled once, with its reason.
TEST_F(FileIoManagerTest, ARowThatCannotBeWrittenStopsTheLog) {
    int log = 0;
    for (off_t room : {0, 10}) {   // left in the file: nothing, or part of a row
        SCOPED_TRACE(room);
        makeManager();
        std::vector<std::string> failures;
        manager->signalLogFailed().connect([&](int destination, std::string name, std::string reason) {
            failures.push_back(std::to_string(destination) + " " + name + " " + reason);
        });
        manager->startLogging(FileIoManager::kInternal, 2, 0, 2);
        ++log;
        manager->writeRow();
        manager->writeRow();
        const std::string before = readFile(internalLog(log));
        {
            FailingWrites full(FailingWrites::FileSizeLimit, static_cast<rlim_t>(before.size() + room));
            manager->writeRow();
            manager->writeRow();
        }
        manager->writeRow();   // the log has stopped: nothing more
        EXPECT_EQ(manager->getLoggingState(), FileIoManager::kOff);
        EXPECT_EQ(manager->getRowCount(), 2);
        EXPECT_EQ(readFile(internalLog(log)), before);
        const std::string name = "/datalogs/data000" + std::to_string(log) + ".csv";
        EXPECT_EQ(failures, std::vector<std::string>{"1 " + name + " " + FailingWrites::reason(FailingWrites::FileSizeLimit)});
        EXPECT_EQ(manager->getLogFailure(), FailingWrites::reason(FailingWrites::FileSizeLimit));
        EXPECT_EQ(manager->stopLogging(), name);

        // The next log starts afresh.
        manager->startLogging(FileIoManager::kInternal, 2, 0, 0);
        ++log;
        EXPECT_EQ(manager->getLogFailure(), "");
        manager->writeRow();
        EXPECT_EQ(manager->getRowCount(), 1);
        manager->stopLogging();
    }
}

TEST_F(FileIoManagerTest, AHeaderThatCannotBeWrittenFailsTheStart) {
    {
        FailingWrites full(FailingWrites::FileSizeLimit, 0);
        EXPECT_THROW(manager->startLogging(FileIoManager::kInternal, 2, 0, 0), LocalExceptionFileCreateFailure);
    }
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kOff);
    EXPECT_FALSE(exists(internalLog(1)));
    manager->writeRow();
    EXPECT_EQ(manager->getRowCount(), 0);
}

// The counters file is saved again until it is: a number in use is never
// handed out again after a restart.
TEST_F(FileIoManagerTest, CountersThatCannotBeSavedAreReportedOnceAndSavedLater) {
    std::vector<std::string> reports;
    SaveStatus::setSink([&](const std::string& detail) { reports.push_back(detail); });
    source.threeChannel = false;
    {
        // Room for the single channel's header (21 bytes), not for the counters (39).
        FailingWrites full(FailingWrites::FileSizeLimit, 30);
        manager->startLoggingSingleChannel(FileIoManager::kInternal, 2);
        manager->stopLogging();
        manager->startLoggingSingleChannel(FileIoManager::kInternal, 2);
        EXPECT_FALSE(manager->saveCountersIfDirty());
        manager->stopLogging();
    }
    EXPECT_FALSE(exists(sandbox.file("/var/lib/tarvel/fileio")));
    EXPECT_EQ(reports, std::vector<std::string>{"counters file fileio not saved: " +
                                                 FailingWrites::reason(FailingWrites::FileSizeLimit)});
    EXPECT_TRUE(manager->saveCountersIfDirty());
    EXPECT_EQ(counters(), "screenshotcounter: 0\ndatalogcounter: 2\n");
    SaveStatus::setSink(nullptr);
}

// ---------------------------------------------------------------- USB drive

TEST_F(FileIoManagerTest, UsbDriveIsTheMountPointOfDevSdb1InTheMountsFile) {
    const struct {
        const char* mounts;
        bool found;
        const char* mountPoint;
    } cases[] = {
        {"/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /media/usb vfat rw 0 0\n", true, "/media/usb"},
        {"/dev/sdb1 /mnt/stick vfat rw 0 0\n/dev/sdb1 /media/second vfat rw 0 0\n", true, "/mnt/stick"},
        {"/dev/sda1 / ext4 rw 0 0\n", false, "/mnt/stick"},
        {"/dev/sdb10 /media/other vfat rw 0 0\n", false, "/mnt/stick"},
        {" /dev/sdb1 /media/indented vfat rw 0 0\n", false, "/mnt/stick"},
        {"/dev/sdb1 /media/../../var/lib vfat rw 0 0\n", false, "/mnt/stick"},
        {"/dev/sdb1\n", false, "/mnt/stick"},
        {"", false, "/mnt/stick"},
    };
    EXPECT_EQ(manager->getMountPoint(), "/tmp");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mounts);
        mounts(c.mounts);
        EXPECT_EQ(manager->findUsbDrive(), c.found);
        EXPECT_EQ(manager->getMountPoint(), c.mountPoint);
    }
}

TEST_F(FileIoManagerTest, UnreadableMountsFileMeansNoDrive) {
    std::remove(sandbox.file("/proc/mounts").c_str());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(manager->findUsbDrive());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot open /proc/mounts for reading\n");
    EXPECT_EQ(manager->getMountPoint(), "/tmp");
}

TEST_F(FileIoManagerTest, UsbLogGoesBelowTheMountPointInFoldersWithSearchPermission) {
    mounts("/dev/sdb1 /media/usb vfat rw 0 0\n");
    manager->startLogging(FileIoManager::kUsbDrive, 0, 2, 0);
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kLoggingToUsb);
    manager->writeRow();
    EXPECT_EQ(manager->stopLogging(), "/tvl4700/data/data0001.csv");
    std::vector<std::string> file = lines(readFile(sandbox.file("/media/usb/tvl4700/data/data0001.csv")));
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file[0], "Timestamp,CH2 Flux G DC,");
    for (const char* dir : {"/media/usb/tvl4700", "/media/usb/tvl4700/data"}) {
        struct stat st;
        ASSERT_EQ(stat(sandbox.file(dir).c_str(), &st), 0) << dir;
        EXPECT_EQ(st.st_mode & 0111, 0111u) << dir;
        EXPECT_EQ(st.st_mode & 0022, 0u) << dir;
    }
}

TEST_F(FileIoManagerTest, UsbLogFailures) {
    mounts("");
    EXPECT_THROW(manager->startLogging(FileIoManager::kUsbDrive, 2, 0, 0), LocalExceptionNoUsbDrive);
    mounts("/dev/sdb1 /media/gone vfat rw 0 0\n");   // mount point missing: the folder cannot be made
    EXPECT_THROW(manager->startLogging(FileIoManager::kUsbDrive, 2, 0, 0), LocalExceptionMkdirFailure);
    EXPECT_FALSE(exists(sandbox.file("/media/gone")));
    mounts("/dev/sdb1 /media/usb vfat rw 0 0\n");
    mkdir(sandbox.file("/media/usb/tvl4700").c_str(), 0755);
    writeFile(sandbox.file("/media/usb/tvl4700/data"), "a file where the folder belongs");
    EXPECT_THROW(manager->startLoggingSingleChannel(FileIoManager::kUsbDrive, 2), LocalExceptionMkdirFailure);
    EXPECT_EQ(manager->getLoggingState(), FileIoManager::kOff);
}

}  // namespace
