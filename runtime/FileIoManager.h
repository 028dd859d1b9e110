// The user files the instrument writes: CSV data logs of the live readings
// (on the USB drive or in the web server's log folder), JPEG captures of the
// front-panel screen on the USB drive, and the counters file that numbers
// both across restarts.  Also finds the USB drive.
//
// Files and folders:
//   counters   /var/lib/tarvel/fileio: "screenshotcounter: N" and
//              "datalogcounter: N", one per line, written atomically
//   USB logs   <mount point>/tvl4700/data/dataNNNN.csv
//   captures   <mount point>/tvl4700/screens/scrnNNNN.jpg
//   internal   /var/www/datalogs/dataNNNN.csv
// Every path goes through the platform layer, so the PC build works inside
// its sandbox (the USB drive is the sandbox's mounts file entry for
// /dev/sdb1).
//
// Full disk, no descriptor left: a log whose header cannot be written does
// not start (LocalExceptionFileCreateFailure, the file is removed); a row
// that cannot be written stops the log: the file keeps the whole rows
// written before it, the row count counts only those, and signalLogFailed
// tells why (getLogFailure keeps the reason until the next start).  A
// counters file that cannot be saved is reported once (runtime/SaveStatus.h)
// and saved again every 10 s until it is.
//
// Data-log rows are made of what the channel models report; the meter model
// installs a DataLogSource that reads them, so this layer does not depend on
// the channel and meter models.  Likewise a screen capture's image is read
// and encoded on the GUI side (widgets/ScreenCapture.h); this class gives it
// its numbered file.
#pragma once

#include "runtime/LocalExceptions.h"
#include "runtime/SaveStatus.h"
#include "runtime/Signal.h"
#include "runtime/Timer.h"

#include <sys/types.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

// What a data-log header and row need of the channel in one card slot.
struct DataLogChannel {
    int mode = 0;               // 0 DC, 1 AC
    int fluxUnits = 0;          // 0 G, 1 T, 2 Oe, 3 A/m
    int temperatureUnits = 0;   // 0 F, 1 C, 2 K
    int timeUnits = 0;          // 0 frequency in Hz, 1 period in seconds
    double valueInUnits = 0.0;  // the reading in the selected flux unit
    std::string reportFormat;   // printf format for one floating-point value
    double signalFreq = 0.0;
    double temperature = 0.0;
    bool temperatureValid = false;
};

class DataLogSource {
public:
    virtual ~DataLogSource() = default;
    virtual bool isThreeChannelModel() = 0;
    // Fills out with the channel of card slot 1-3; false when the slot has
    // no channel model.  Called on the threads that start logs and write rows.
    virtual bool readChannel(unsigned slot, DataLogChannel& out) = 0;
};

class FileIoManager {
public:
    enum Destination { kUsbDrive = 0, kInternal = 1 };
    enum LoggingState { kOff = 0, kLoggingToUsb = 1, kLoggingInternally = 2 };
    static constexpr int kMaxRows = 1000000;   // a log closes after this many rows

    // The process-wide manager, created on first use and never freed.
    static FileIoManager* instance();

    // Loads the counters file.  The program uses instance(); tests make their own.
    FileIoManager();
    virtual ~FileIoManager();
    FileIoManager(const FileIoManager&) = delete;
    FileIoManager& operator=(const FileIoManager&) = delete;

    // Installed by the meter model; must outlive its use (the meter model is
    // never freed).  Without a source no channel has a ready probe.
    void setDataLogSource(DataLogSource* source);

    // Looks for /dev/sdb1 in the mounts file; on success keeps its mount point.
    bool findUsbDrive();
    std::string getMountPoint() const;

    // Three-channel start: logs the slots whose status is 2 (probe ready).
    // Throws LocalExceptionNoProbe, LocalExceptionNoUsbDrive,
    // LocalExceptionMkdirFailure or LocalExceptionFileCreateFailure.  Does
    // nothing while a log runs.
    void startLogging(int destination, int status1, int status2, int status3);
    // Single-channel start: the card sits in slot 2.  Same failures.
    void startLoggingSingleChannel(int destination, int status2);
    // Appends one row of the present readings when a log runs.  A row that
    // cannot be written stops the log (see the top of this file).
    void writeRow();
    // Ends the log and returns its name below its root; "" when no log was
    // started since the last stop (none ran, or its start failed).  A log
    // that stopped on its own (a write failure, the row limit) is still
    // this log until it is stopped.
    std::string stopLogging();
    // Ends a running log and deletes its file; does nothing when none runs.
    void discardLog();
    // Destination 1 only: deletes that file of the internal log folder.  The
    // name must be a plain file name (no "/", no ".."); returns true when a
    // file was deleted.  The running log's file is never deleted: keptRunning
    // (when given) tells that the name was that file.
    bool deleteInternalLog(int destination, const std::string& fileName, bool* keptRunning = nullptr);
    // Deletes every .csv file of the internal log folder but the running
    // log's; returns the name of the file kept ("data0003.csv"), or "".
    std::string deleteAllInternalLogs();

    // Writes the next numbered screen capture below the mount point last
    // found: makes its folder, opens the file and hands it to write, which
    // returns false when it could not write the image (the file is then
    // removed).  Returns the file's path below the mount point.  Throws
    // LocalExceptionMkdirFailure or LocalExceptionFileCreateFailure.
    std::string writeScreenCapture(const std::function<bool(std::FILE*)>& write);

    int getLoggingState() const { return loggingState.load(); }
    // Rows written (whole, in the file) to the current or last log.
    int getRowCount() const { return rowCount.load(); }
    // Why the last log stopped on a write failure ("No space left on
    // device"); "" when it did not, and again from the next start on.
    std::string getLogFailure() const;
    // Raised once when a row cannot be written and the log stops, after the
    // log is closed and with no lock held: (destination, log name below its
    // root, reason).  On the thread that wrote the row.
    tvl::Signal<int, std::string, std::string>& signalLogFailed() { return logFailed; }

    // Saves the counters file when a save failed since the last one that
    // succeeded (the program's stop); true when the file is up to date.  A
    // save of the file in progress is waited for: it may fail.
    bool saveCountersIfDirty();

private:
    void loadCounters();
    // False when the file could not be written: it is tried again every 10 s.
    bool saveCounters();
    // Saves the counters file when due() (asked once no other save of the
    // file runs) says so.
    bool saveCountersWhen(const std::function<bool()>& due);
    void onCountersRetry();
    int nextDataLogNumber();
    int nextScreenCaptureNumber();
    void readChannels(DataLogChannel channels[3], bool present[3], bool& threeChannel);
    void openLogFile(int destination);
    // Makes <mount>/tvl4700 and <mount>/tvl4700<sub> where missing (never the
    // mount point itself) and returns the latter as this build uses it.
    // Throws LocalExceptionMkdirFailure.
    static std::string makeUsbFolder(const std::string& mount, const std::string& sub);
    std::string headerColumns(unsigned slot, const DataLogChannel& channel, bool threeChannel) const;
    void writeHeader(const DataLogChannel channels[3], bool threeChannel);
    std::string formatRow(const char* stamp, const DataLogChannel channels[3], const bool present[3]) const;
    // Appends text to the log file whole, or not at all (a part written
    // before a failure is cut off again); false with errno on failure.
    bool appendToLog(const std::string& text);
    void closeLog();
    // Called with the log lock held: file (a path) is the running log's file.
    bool isRunningLogFile(const std::string& file) const;

    mutable std::mutex mountMutex;
    std::string mountPoint = "/tmp";

    std::mutex countersMutex;   // both counters and the counters file
    int screenCaptureCounter = 0;
    int dataLogCounter = 0;
    SaveStatus countersSaveStatus{"counters file fileio"};

    std::atomic<DataLogSource*> source{nullptr};

    mutable std::mutex logMutex;   // the log file, its names, column flags and failure
    std::atomic<int> loggingState{kOff};
    int logFd = -1;
    off_t logSize = 0;          // bytes of whole lines in the file
    std::string logName;        // below its root: "/tvl4700/data/..." or "/datalogs/..."
    std::string logFile;        // where the file really is
    std::string logFailure;
    bool logToStop = false;     // a log started and not stopped since
    bool channelLogged[3] = {false, false, false};
    bool frequencyLogged[3] = {false, false, false};
    bool temperatureLogged[3] = {false, false, false};
    std::atomic<int> rowCount{0};
    tvl::Signal<int, std::string, std::string> logFailed;

    // Last member: its thread ends before anything its slot uses goes.
    Timer countersRetryTimer{10000, true};
};
