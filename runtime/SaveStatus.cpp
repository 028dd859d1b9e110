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

bool SaveStatus::record(bool ok, int error) {
    if (ok) {
        if (failing.exchange(false)) Logger::instance()->log(1, kSource, name + " saved");
        return true;
    }
    if (failing.exchange(true)) return false;   // reported when the episode began
    const std::string detail = name + " not saved: " + (error != 0 ? errorText(error) : std::string("write failed"));
    Logger::instance()->log(1, kSource, detail + "; trying again");
    if (Sink sink = currentSink()) sink(detail);
    return false;
}

bool SaveStatus::saveUnder(std::mutex& dataLock, const std::string& path,
                           const std::function<std::string()>& contents) {
    bool ok;
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(dataLock);
        // A file that cannot be written stays as it was.
        ok = platform::writeFileAtomic(path, contents());
        if (!ok) error = errno;
    }
    // Reported outside the lock: the report goes into the error queue.
    return record(ok, error);
}
