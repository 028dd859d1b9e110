#include "runtime/SaveStatus.h"

#include "platform/Platform.h"
#include "runtime/Logger.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

constexpr const char* kSource = "Storage";

std::mutex sinkMutex;
std::atomic<bool> lastSaves{false};
// Never freed: timer threads may still save while the process exits.
SaveStatus::Sink& sinkStorage() {
    static SaveStatus::Sink* const sink = new SaveStatus::Sink;
    return *sink;
}

SaveStatus::Sink currentSink() {
    std::lock_guard<std::mutex> lock(sinkMutex);
    return sinkStorage();
}

}  // namespace

SaveStatus::SaveStatus(std::string what) : name(std::move(what)) {}

// strerror_r in its GNU form (g++ defines _GNU_SOURCE), which is thread-safe.
std::string SaveStatus::errorText(int error) {
    char buffer[128];
    return strerror_r(error, buffer, sizeof buffer);
}

void SaveStatus::setSink(Sink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    sinkStorage() = std::move(sink);
}

void SaveStatus::beginLastSaves() { lastSaves = true; }

bool SaveStatus::record(bool ok, int error) {
    report(ok, failing.exchange(!ok), error);
    return ok;
}

void SaveStatus::report(bool ok, bool wasFailing, int error) {
    const std::string reason = error != 0 ? errorText(error) : std::string("write failed");
    if (!ok && lastSaves) Logger::instance()->log(1, kSource, name + " not written: " + reason);
    if (ok) {
        if (wasFailing) Logger::instance()->log(1, kSource, name + " saved");
        return;
    }
    if (wasFailing) return;   // reported when the episode began
    const std::string detail = name + " not saved: " + reason;
    if (!lastSaves) Logger::instance()->log(1, kSource, detail + "; trying again");
    if (Sink sink = currentSink()) sink(detail);
}

bool SaveStatus::write(std::mutex& dataLock, const std::string& path, const std::function<std::string()>& contents,
                       int& error) {
    std::lock_guard<std::mutex> lock(dataLock);
    // A file that cannot be written stays as it was.
    const bool ok = platform::writeFileAtomic(path, contents());
    error = ok ? 0 : errno;
    return ok;
}

// The failure flag changes under the save mutex, so that the next save of
// the file sees how this one ended; the report comes after both locks are
// released, as it goes into the error queue.
bool SaveStatus::saveUnder(std::mutex& dataLock, const std::string& path,
                           const std::function<std::string()>& contents) {
    bool ok;
    bool wasFailing;
    int error = 0;
    {
        std::lock_guard<std::mutex> serial(saveMutex);
        ok = write(dataLock, path, contents, error);
        wasFailing = failing.exchange(!ok);
    }
    report(ok, wasFailing, error);
    return ok;
}

bool SaveStatus::saveChangeUnder(const std::function<bool()>& takeChange, const std::function<void()>& keepChange,
                                 std::mutex& dataLock, const std::string& path,
                                 const std::function<std::string()>& contents) {
    bool ok;
    bool wasFailing;
    int error = 0;
    {
        std::lock_guard<std::mutex> serial(saveMutex);
        if (!takeChange()) return true;
        ok = write(dataLock, path, contents, error);
        if (!ok) keepChange();
        wasFailing = failing.exchange(!ok);
    }
    report(ok, wasFailing, error);
    return ok;
}
