#include "status/ScpiErrorQueue.h"

#include "console/Console.h"
#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "status/ScpiRegisterManager.h"

#include <fstream>
#include <utility>

namespace {

constexpr int kErrorQueueStatusBit = 2;

// A detail as it goes into its line: no line break may split the entry.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

using Lock = std::lock_guard<std::recursive_mutex>;

ScpiErrorQueue* ScpiErrorQueue::instance() {
    static ScpiErrorQueue* const queue = new ScpiErrorQueue(   // never freed
        platform::dataFile("errs"), *ErrorList::instance(), *ScpiRegisterManager::instance());
    return queue;
}

ScpiErrorQueue::ScpiErrorQueue(const std::string& file, ErrorList& errors, ScpiRegisterManager& status)
    : path(file), catalogue(errors), registers(status) {
    platform::removeStaleTempFiles(path);   // left by a program killed while it wrote the file
    load();
    saveTimer.signalTimeout().connect(sigc::hide_return(sigc::mem_fun(*this, &ScpiErrorQueue::saveIfDirty)));
    {
        Lock guard(lock);
        changed = false;   // a freshly loaded queue is not written back unchanged
    }
    saveTimer.start();
}

ScpiErrorQueue::~ScpiErrorQueue() { saveTimer.stop(); }

void ScpiErrorQueue::push(std::unique_ptr<TvlError> record) {
    if (!record) return;
    Lock guard(lock);
    pushLocked(std::move(record));
}

void ScpiErrorQueue::pushError(int code, const std::string& detail) {
    std::unique_ptr<TvlError> record = catalogue.lookup(code);
    record->setDetail(detail);
    push(std::move(record));
}

void ScpiErrorQueue::pushLocked(std::unique_ptr<TvlError> record) {
    if (entries.size() > kCapacity) return;   // overflow entry already there: dropped
    if (entries.size() == kCapacity) record = catalogue.lookup(kOverflowCode);
    entries.push_back(std::move(record));
    updateStatusBitLocked();
    changed = true;
}

std::unique_ptr<TvlError> ScpiErrorQueue::popOldest() {
    Lock guard(lock);
    std::unique_ptr<TvlError> oldest;
    if (!entries.empty()) {
        oldest = std::move(entries.front());
        entries.pop_front();
        changed = true;
    }
    updateStatusBitLocked();
    return oldest;
}

std::unique_ptr<TvlError> ScpiErrorQueue::newest() const {
    Lock guard(lock);
    if (entries.empty()) return nullptr;
    return std::make_unique<TvlError>(*entries.back());
}

void ScpiErrorQueue::clear() {
    Lock guard(lock);
    entries.clear();
    updateStatusBitLocked();
    changed = true;
}

std::size_t ScpiErrorQueue::size() const {
    Lock guard(lock);
    return entries.size();
}

std::vector<TvlError> ScpiErrorQueue::getErrors() const {
    Lock guard(lock);
    std::vector<TvlError> copies;
    copies.reserve(entries.size());
    for (const auto& e : entries) copies.push_back(*e);
    return copies;
}

bool ScpiErrorQueue::isChanged() const {
    Lock guard(lock);
    return changed;
}

void ScpiErrorQueue::updateStatusBit() {
    Lock guard(lock);
    updateStatusBitLocked();
}

void ScpiErrorQueue::updateStatusBitLocked() {
    if (entries.empty())
        registers.clearStatusBit(kErrorQueueStatusBit);
    else
        registers.setStatusBit(kErrorQueueStatusBit);
}

void ScpiErrorQueue::load() {
    std::ifstream file(path);
    if (!file) return;
    std::string line;
    while (std::getline(file, line)) {
        const std::string::size_type first = line.find(',');
        const std::string code = line.substr(0, first);
        if (code.empty()) continue;
        if (first == std::string::npos || first + 1 == line.size()) {
            console::say("error field 2 (", line, ")");
            continue;
        }
        const std::string::size_type second = line.find(',', first + 1);
        const std::string detail = line.substr(first + 1, second == std::string::npos
                                                              ? std::string::npos
                                                              : second - first - 1);
        std::unique_ptr<TvlError> record = catalogue.lookup(ErrorList::toInt(code));
        if (!detail.empty()) record->setDetail(detail);
        push(std::move(record));
    }
}

std::string ScpiErrorQueue::fileContentsLocked() const {
    std::string contents;
    for (const auto& e : entries)
        contents += std::to_string(e->getCode()) + "," + oneLine(e->getDetail()) + ",\n";
    return contents;
}

// The file is written under saveLock, so that writes land in the order of
// their snapshots; a failure is reported after it is released, into this
// queue (whose status signal must not be raised under a lock of the save).
bool ScpiErrorQueue::save() {
    return saveStatus.saveUnder(saveLock, path, [this] {
        Lock guard(lock);
        return fileContentsLocked();
    });
}

// A change made while the file is written is written at the next tick; a
// save that fails leaves the queue changed, so the next tick tries again,
// also when nothing else changes.  A save that finds another one writing the
// file waits for it (a stop during a tick).
bool ScpiErrorQueue::saveIfDirty() {
    return saveStatus.saveChangeUnder(
        [this] {
            Lock guard(lock);
            return std::exchange(changed, false);
        },
        [this] {
            Lock guard(lock);
            changed = true;
        },
        saveLock, path,
        [this] {
            Lock guard(lock);
            return fileContentsLocked();
        });
}
