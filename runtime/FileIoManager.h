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
// Data-log rows are made of what the channel models report; the meter model
// installs a DataLogSource that reads them, so this layer does not depend on
// the channel and meter models.
#pragma once

#include "runtime/LocalExceptions.h"

#include <atomic>
#include <fstream>
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
    // Appends one row of the present readings when a log runs.
    void writeRow();
    // Ends the log; returns its name below its root (also when none ran).
    std::string stopLogging();
    // Ends a running log and deletes its file; does nothing when none runs.
    void discardLog();
    // Destination 1 only: deletes that file of the internal log folder.  The
    // name must be a plain file name (no "/", no ".."); returns true when a
    // file was deleted.
    bool deleteInternalLog(int destination, const std::string& fileName);

    // Captures the screen of the default X display into the next numbered
    // JPEG below the mount point last found; returns its path below the
    // mount point.  Throws LocalExceptionMkdirFailure or
    // LocalExceptionFileCreateFailure (also when there is no display).
    std::string captureScreen();
    // The same for a named display (":1").
    std::string captureScreen(const std::string& displayName);

    int getLoggingState() const { return loggingState.load(); }
    int getRowCount() const { return rowCount.load(); }

    // One pixel of a screen image as red, green and blue bytes.
    static void pixelToRgb(unsigned long pixel, int depth, unsigned long redMask, unsigned long greenMask,
                           unsigned long blueMask, unsigned char rgb[3]);

private:
    void loadCounters();
    void saveCounters();
    int nextDataLogNumber();
    int nextScreenCaptureNumber();
    void readChannels(DataLogChannel channels[3], bool present[3], bool& threeChannel);
    void openLogFile(int destination);
    // Makes <mount>/tvl4700 and <mount>/tvl4700<sub> where missing (never the
    // mount point itself) and returns the latter as this build uses it.
    // Throws LocalExceptionMkdirFailure.
    static std::string makeUsbFolder(const std::string& mount, const std::string& sub);
    void writeHeaderColumns(unsigned slot, const DataLogChannel& channel, bool threeChannel);
    void writeHeader(const DataLogChannel channels[3], bool threeChannel);
    void closeLog();

    mutable std::mutex mountMutex;
    std::string mountPoint = "/tmp";

    std::mutex countersMutex;   // both counters and the counters file
    int screenCaptureCounter = 0;
    int dataLogCounter = 0;

    std::atomic<DataLogSource*> source{nullptr};

    std::mutex logMutex;        // the log stream, its names and column flags
    std::atomic<int> loggingState{kOff};
    std::ofstream logStream;
    std::string logName;        // below its root: "/tvl4700/data/..." or "/datalogs/..."
    std::string logFile;        // where the file really is
    bool channelLogged[3] = {false, false, false};
    bool frequencyLogged[3] = {false, false, false};
    bool temperatureLogged[3] = {false, false, false};
    std::atomic<int> rowCount{0};
};
