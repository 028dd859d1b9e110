#include "runtime/FileIoManager.h"

#include "console/Console.h"
#include "platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <vector>

namespace {

constexpr const char* kCountersName = "fileio";
constexpr const char* kUsbFolder = "/tvl4700";
constexpr const char* kUsbDevice = platform::path::kUsbDevice;

const char* fluxUnitText(int unit) {
    static const char* const texts[] = {"G", "T", "Oe", "A/m"};
    return unit >= 0 && unit < 4 ? texts[unit] : "";
}

const char* temperatureUnitText(int unit) {
    static const char* const texts[] = {"F", "C", "K"};
    return unit >= 0 && unit < 3 ? texts[unit] : "";
}

// True when format holds exactly one conversion of one floating-point value
// (flags, width, precision, 'l' at most) besides literal text and "%%".
bool isSingleFloatFormat(const std::string& format) {
    int conversions = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        ++i;
        while (i < format.size() && std::strchr("-+ #0", format[i]) && format[i] != '\0') ++i;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
        if (i < format.size() && format[i] == '.') {
            ++i;
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
        }
        if (i < format.size() && format[i] == 'l') ++i;
        if (i >= format.size() || !std::strchr("fFeEgG", format[i]) || format[i] == '\0') return false;
        ++conversions;
    }
    return conversions == 1;
}

// The report format comes from the range table; a text that is not a
// single floating-point conversion is never handed to printf.
std::string formatValue(const std::string& format, double value) {
    char text[128];
    const char* safe = isSingleFloatFormat(format) ? format.c_str() : "%f";
    std::snprintf(text, sizeof text, safe, value);
    return text;
}

std::string formatNumber(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Creates a missing folder with search permission for everyone.
bool ensureFolder(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (mkdir(dir.c_str(), 0755) == 0) return true;
    return errno == EEXIST && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A mount point is used as a path below the layer's root: absolute and
// never climbing with "..".
bool isUsableMountPoint(const std::string& dir) {
    if (dir.empty() || dir[0] != '/') return false;
    std::size_t i = 0;
    while (i <= dir.size()) {
        std::size_t j = dir.find('/', i);
        if (j == std::string::npos) j = dir.size();
        if (dir.compare(i, j - i, "..") == 0 && j - i == 2) return false;
        i = j + 1;
    }
    return true;
}

// A plain file name of the internal log folder.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name.find('/') == std::string::npos &&
           name.find("..") == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

FileIoManager* FileIoManager::instance() {
    static FileIoManager* manager = new FileIoManager();
    return manager;
}

FileIoManager::FileIoManager() {
    platform::removeStaleTempFiles(platform::dataFile(kCountersName));   // left by a program killed mid-write
    loadCounters();
    countersRetryTimer.signalTimeout().connect(sigc::mem_fun(*this, &FileIoManager::onCountersRetry));
}

FileIoManager::~FileIoManager() {
    countersRetryTimer.stop();
    std::lock_guard<std::mutex> lock(logMutex);
    closeLog();
}

void FileIoManager::setDataLogSource(DataLogSource* s) { source.store(s); }

// ---------------------------------------------------------------- counters

void FileIoManager::loadCounters() {
    std::lock_guard<std::mutex> lock(countersMutex);
    std::ifstream in(platform::dataFile(kCountersName));
    std::string word;
    int value = 0;
    while (in >> word >> value) {
        if (word == "screenshotcounter:")
            screenCaptureCounter = value;
        else if (word == "datalogcounter:")
            dataLogCounter = value;
    }
}

// A file that cannot be written stays as it was; the counters stay dirty and
// the retry timer saves them again until a save succeeds, so a number in use
// is never handed out again after a restart.
bool FileIoManager::saveCounters() {
    return saveCountersWhen([] { return true; });
}

bool FileIoManager::saveCountersWhen(const std::function<bool()>& due) {
    const bool ok = countersSaveStatus.saveChangeUnder(due, [] {}, countersMutex, platform::dataFile(kCountersName), [this] {
        return "screenshotcounter: " + std::to_string(screenCaptureCounter) + "\n" +
               "datalogcounter: " + std::to_string(dataLogCounter) + "\n";
    });
    if (!ok) {
        std::lock_guard<std::mutex> lock(countersMutex);
        if (!countersRetryTimer.isActive()) countersRetryTimer.start();
    }
    return ok;
}

// Dirty while the last save failed (the failure is recorded before the next
// save of the file starts).
bool FileIoManager::saveCountersIfDirty() {
    return saveCountersWhen([this] { return countersSaveStatus.isFailing(); });
}

void FileIoManager::onCountersRetry() {
    if (saveCountersIfDirty()) countersRetryTimer.stop();
}

int FileIoManager::nextDataLogNumber() {
    std::lock_guard<std::mutex> lock(countersMutex);
    return ++dataLogCounter;
}

int FileIoManager::nextScreenCaptureNumber() {
    std::lock_guard<std::mutex> lock(countersMutex);
    return ++screenCaptureCounter;
}

// ---------------------------------------------------------------- USB drive

bool FileIoManager::findUsbDrive() {
    std::ifstream in(platform::resolve(platform::path::kMounts));
    if (!in) {
        console::print("Cannot open /proc/mounts for reading\n");
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, std::strlen(kUsbDevice), kUsbDevice) != 0) continue;
        char device[256] = "";
        char dir[256] = "";
        if (std::sscanf(line.c_str(), "%255s %255s", device, dir) != 2) continue;
        // "/dev/sdb10" begins with the name too, but is another partition.
        if (std::strcmp(device, kUsbDevice) != 0) continue;
        if (!isUsableMountPoint(dir)) return false;
        std::lock_guard<std::mutex> lock(mountMutex);
        mountPoint = dir;
        return true;
    }
    return false;
}

std::string FileIoManager::getMountPoint() const {
    std::lock_guard<std::mutex> lock(mountMutex);
    return mountPoint;
}

// ---------------------------------------------------------------- data logs

void FileIoManager::readChannels(DataLogChannel channels[3], bool present[3], bool& threeChannel) {
    DataLogSource* s = source.load();
    threeChannel = s ? s->isThreeChannelModel() : false;
    for (unsigned slot = 1; slot <= 3; ++slot) {
        channels[slot - 1] = DataLogChannel{};
        present[slot - 1] = s && s->readChannel(slot, channels[slot - 1]);
    }
}

void FileIoManager::startLogging(int destination, int status1, int status2, int status3) {
    // The channels are asked before the log lock is taken, so the lock is
    // never held while another model's code runs.
    DataLogChannel channels[3];
    bool present[3];
    bool threeChannel;
    readChannels(channels, present, threeChannel);

    {
        std::lock_guard<std::mutex> lock(logMutex);
        if (loggingState.load() != kOff) return;
        const int status[3] = {status1, status2, status3};
        bool any = false;
        for (int i = 0; i < 3; ++i) {
            channelLogged[i] = status[i] == 2 && present[i];
            frequencyLogged[i] = channelLogged[i] && channels[i].mode == 1;
            temperatureLogged[i] = present[i] && channels[i].temperatureValid;
            any = any || channelLogged[i];
        }
        if (!any) throw LocalExceptionNoProbe();
        rowCount.store(0);
        logFailure.clear();
        openLogFile(destination);
        writeHeader(channels, threeChannel);
        loggingState.store(destination == kUsbDrive ? kLoggingToUsb : kLoggingInternally);
        logToStop = true;
    }
    // Outside the log lock: a failed save is reported into the error queue.
    saveCounters();
}

void FileIoManager::startLoggingSingleChannel(int destination, int status2) {
    DataLogChannel channels[3];
    bool present[3];
    bool threeChannel;
    readChannels(channels, present, threeChannel);

    {
        std::lock_guard<std::mutex> lock(logMutex);
        if (loggingState.load() != kOff) return;
        if (status2 != 2 || !present[1]) throw LocalExceptionNoProbe();
        logFailure.clear();
        openLogFile(destination);
        rowCount.store(0);
        for (int i = 0; i < 3; ++i) {
            channelLogged[i] = i == 1;
            frequencyLogged[i] = i == 1 && channels[i].mode == 1;
            temperatureLogged[i] = i == 1 && channels[i].temperatureValid;
        }
        writeHeader(channels, false);
        loggingState.store(destination == kUsbDrive ? kLoggingToUsb : kLoggingInternally);
        logToStop = true;
    }
    saveCounters();
}

std::string FileIoManager::makeUsbFolder(const std::string& mount, const std::string& sub) {
    const std::string folder = platform::resolve(mount + kUsbFolder + sub);
    if (!ensureFolder(platform::resolve(mount + kUsbFolder)) || !ensureFolder(folder))
        throw LocalExceptionMkdirFailure();
    return folder;
}

// The number is used up even when the image cannot be written; it reaches
// the counters file with the next save.
std::string FileIoManager::writeScreenCapture(const std::function<bool(std::FILE*)>& write) {
    const std::string folder = makeUsbFolder(getMountPoint(), "/screens");

    char fileName[32];
    std::snprintf(fileName, sizeof fileName, "/scrn%04d.jpg", nextScreenCaptureNumber());
    std::string file = folder + fileName;
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) throw LocalExceptionFileCreateFailure();
    bool written = write(out);
    if (std::fclose(out) != 0) written = false;
    if (!written) {
        console::printError("FileIoManager::writeScreenCapture: cannot write %s\n", file.c_str());
        unlink(file.c_str());
        throw LocalExceptionFileCreateFailure();
    }
    saveCounters();
    return std::string(kUsbFolder) + "/screens" + fileName;
}

// Called with the log lock held.  The number is used up even when the
// start fails; it reaches the counters file with the next save (the start
// saves it once the log runs).
void FileIoManager::openLogFile(int destination) {
    char fileName[32];
    std::snprintf(fileName, sizeof fileName, "/data%04d.csv", nextDataLogNumber());
    std::string name;
    std::string file;
    if (destination == kUsbDrive) {
        if (!findUsbDrive()) throw LocalExceptionNoUsbDrive();
        name = std::string(kUsbFolder) + "/data" + fileName;
        file = makeUsbFolder(getMountPoint(), "/data") + fileName;
    } else {
        name = std::string("/datalogs") + fileName;   // below the web server's root
        file = platform::resolve(std::string(platform::path::kDatalogDir) + fileName);
    }
    logName = name;
    logFile = file;
    closeLog();
    logFd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (logFd < 0) throw LocalExceptionFileCreateFailure();
    logSize = 0;
}

std::string FileIoManager::headerColumns(unsigned slot, const DataLogChannel& channel, bool threeChannel) const {
    const std::string prefix = threeChannel ? "CH" + std::to_string(slot) + " " : "";
    const int i = static_cast<int>(slot) - 1;
    std::string columns = prefix + "Flux " + fluxUnitText(channel.fluxUnits) + ' ' + (channel.mode != 0 ? "AC," : "DC,");
    if (frequencyLogged[i]) columns += prefix + (channel.timeUnits == 1 ? "Period Sec" : "Freq Hz") + ',';
    if (temperatureLogged[i]) columns += prefix + "Temp " + temperatureUnitText(channel.temperatureUnits) + ',';
    return columns;
}

// Called with the log lock held, the file just opened.  A header that cannot
// be written fails the start: the empty file goes again.
void FileIoManager::writeHeader(const DataLogChannel channels[3], bool threeChannel) {
    std::string header = "Timestamp,";
    for (unsigned slot = 1; slot <= 3; ++slot)
        if (channelLogged[slot - 1]) header += headerColumns(slot, channels[slot - 1], threeChannel);
    if (appendToLog(header + '\n')) return;
    closeLog();
    unlink(logFile.c_str());
    throw LocalExceptionFileCreateFailure();
}

// Called with the log lock held.  Each line goes out in write calls of its
// own, straight to the file (no buffer to flush later); a line that does not
// go out whole is cut off again, so the file only ever holds whole lines.
bool FileIoManager::appendToLog(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(logFd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            if (done > 0 && ftruncate(logFd, logSize) == 0) lseek(logFd, logSize, SEEK_SET);
            errno = error;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    logSize += static_cast<off_t>(text.size());
    return true;
}

void FileIoManager::writeRow() {
    if (loggingState.load() == kOff) return;
    DataLogChannel channels[3];
    bool present[3];
    bool threeChannel;
    readChannels(channels, present, threeChannel);

    struct timespec now = platform::nowTimespec();
    tzset();
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    char clock[80];
    std::strftime(clock, sizeof clock, "%Y-%m-%d %H:%M:%S", &local);
    char stamp[96];
    long milliseconds = static_cast<long>(now.tv_nsec / 1000 / 1000) % 1000;
    std::snprintf(stamp, sizeof stamp, "%s.%03ld", clock, milliseconds);

    bool failed = false;
    int failedDestination = kInternal;
    std::string failedLog;
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(logMutex);
        if (loggingState.load() == kOff || logFd < 0) return;
        const std::string row = formatRow(stamp, channels, present);
        if (appendToLog(row)) {
            if (rowCount.fetch_add(1) + 1 >= kMaxRows) closeLog();
        } else {
            // Counted rows are rows in the file: this one is not.
            failed = true;
            reason = SaveStatus::errorText(errno);
            failedDestination = loggingState.load() == kLoggingToUsb ? kUsbDrive : kInternal;
            failedLog = logName;
            logFailure = reason;
            closeLog();
        }
    }
    if (failed) logFailed.emit(failedDestination, failedLog, reason);
}

// Called with the log lock held (the column flags).
std::string FileIoManager::formatRow(const char* stamp, const DataLogChannel channels[3],
                                     const bool present[3]) const {
    std::string row = std::string(stamp) + ",";
    for (int i = 0; i < 3; ++i) {
        if (!channelLogged[i]) continue;
        const DataLogChannel& c = channels[i];
        // A channel that went away keeps its columns, empty.
        if (present[i]) row += formatValue(c.reportFormat, c.valueInUnits);
        row += ',';
        if (frequencyLogged[i]) {
            if (present[i]) row += formatNumber(c.timeUnits != 0 ? "%1.8f" : "%5.1f", c.signalFreq);
            row += ',';
        }
        if (temperatureLogged[i]) {
            if (present[i] && c.temperatureValid) row += formatNumber("%3.1f", c.temperature);
            row += ',';
        }
    }
    return row + '\n';
}

// Called with the log lock held.
void FileIoManager::closeLog() {
    loggingState.store(kOff);
    if (logFd >= 0) ::close(logFd);
    logFd = -1;
}

std::string FileIoManager::getLogFailure() const {
    std::lock_guard<std::mutex> lock(logMutex);
    return logFailure;
}

std::string FileIoManager::stopLogging() {
    std::lock_guard<std::mutex> lock(logMutex);
    closeLog();
    if (!logToStop) return "";
    logToStop = false;
    return logName;
}

void FileIoManager::discardLog() {
    std::lock_guard<std::mutex> lock(logMutex);
    if (loggingState.load() == kOff) return;
    closeLog();
    logToStop = false;
    unlink(logFile.c_str());
}

// The open log file's device and inode: a link to the log is not the log.
bool FileIoManager::isRunningLogFile(const std::string& file) const {
    if (loggingState.load() == kOff || logFd < 0) return false;
    struct stat running;
    struct stat other;
    return fstat(logFd, &running) == 0 && lstat(file.c_str(), &other) == 0 && running.st_dev == other.st_dev &&
           running.st_ino == other.st_ino;
}

// Under the log lock, so that no log starts or stops between the look and
// the removal.
bool FileIoManager::deleteInternalLog(int destination, const std::string& fileName, bool* keptRunning) {
    if (keptRunning) *keptRunning = false;
    if (destination != kInternal) return false;
    if (!isPlainFileName(fileName)) return false;
    std::string file = platform::resolve(std::string(platform::path::kDatalogDir) + "/" + fileName);
    std::lock_guard<std::mutex> lock(logMutex);
    if (isRunningLogFile(file)) {
        if (keptRunning) *keptRunning = true;
        return false;
    }
    return unlink(file.c_str()) == 0;
}

std::string FileIoManager::deleteAllInternalLogs() {
    const std::string folder = platform::resolve(platform::path::kDatalogDir);
    std::lock_guard<std::mutex> lock(logMutex);
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name[0] != '.' && name.size() > 4 && name.compare(name.size() - 4, 4, ".csv") == 0)
                names.push_back(name);
        }
        closedir(dir);
    }
    std::string kept;
    for (const std::string& name : names) {
        const std::string file = folder + "/" + name;
        struct stat info;
        if (lstat(file.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
        if (isRunningLogFile(file))
            kept = name;
        else
            unlink(file.c_str());
    }
    return kept;
}
