// ScpiErrorQueue: the instrument's SCPI error queue, oldest entry first, at
// most 24 entries plus one overflow entry (-350, "Queue overflow", added in
// place of the 25th; nothing is added while 25 are held).  Status byte bit 2
// is set while the queue holds anything.  The queue survives restarts: a
// 10 s repeating timer rewrites the file "errs" in the data folder after a
// change, and the file is read back when the queue is created.
//
// File "errs", one line per entry, oldest first, no header:
//
//   -500,,
//   -200,:MEAS:FLUX? with no probe,
//
// the code in decimal, a comma, the detail text, a comma, a line feed.  The
// message texts are not stored: on reading, each record is taken again from
// the catalogue by its code.  A detail is read back up to its first comma; a
// line break inside a detail is written as a blank.  Lines of any length are
// read back.  On reading, a line with an empty code field is skipped
// silently; a line whose second field is missing (no comma, or nothing after
// its only comma) prints "error field 2 (" + line + ")" and is skipped.
// Loaded entries go through push(), so the capacity rule applies.  The file
// is replaced atomically: a crash leaves the old or the new one.  A save that
// fails keeps the queue changed, so the next tick tries again, and is
// reported once (runtime/SaveStatus.h), into this queue too.
//
// The program's own files that cannot be written (settings, this file, the
// counters, a data log) are reported here as -250, "Mass storage error",
// with what failed and why as the detail.
//
// Ownership: the queue owns the records it holds.  push() takes the record
// offered (and drops it when it does not keep it); popOldest() hands the
// removed record to the caller; newest() and getErrors() return copies, so a
// caller never holds a record that another thread may remove.
//
// Thread-safe: one lock guards the entries and the changed flag.  It is taken
// before the register manager's lock (status bit 2), never after it.
#pragma once

#include "runtime/SaveStatus.h"
#include "runtime/Timer.h"
#include "runtime/TvlError.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ErrorList;
class ScpiRegisterManager;

class ScpiErrorQueue {
public:
    static constexpr std::size_t kCapacity = 24;   // ordinary entries; then one -350
    static constexpr int kOverflowCode = -350;
    static constexpr int kSavePeriodMs = 10000;
    static constexpr int kMassStorageErrorCode = -250;

    // The singleton on the data folder's "errs", with the catalogue and the
    // status-model singletons; created (and loaded) on first use.  Never null,
    // never freed.
    static ScpiErrorQueue* instance();

    // A queue on the given file: loads it, then saves it every 10 s when it
    // changed.  Tests use their own file, catalogue and status model.
    ScpiErrorQueue(const std::string& path, ErrorList& catalogue, ScpiRegisterManager& registers);
    virtual ~ScpiErrorQueue();
    ScpiErrorQueue(const ScpiErrorQueue&) = delete;
    ScpiErrorQueue& operator=(const ScpiErrorQueue&) = delete;

    void push(std::unique_ptr<TvlError> record);
    // Pushes the catalogue's record of code with the detail text.
    void pushError(int code, const std::string& detail);
    // The oldest record, removed (null when empty); status bit 2 is updated in every case.
    std::unique_ptr<TvlError> popOldest();
    // A copy of the most recent record, left in the queue (null when empty).
    std::unique_ptr<TvlError> newest() const;
    // Discards every entry; marks the queue changed also when it was empty.
    void clear();
    std::size_t size() const;
    // Copies of the entries, oldest first.
    std::vector<TvlError> getErrors() const;

    // Status byte bit 2 := queue not empty.
    void updateStatusBit();
    // Appends the file's entries to the queue.
    void load();
    // Rewrites the file with the present entries; false when it could not.
    bool save();
    // The save timer's slot: saves when changed since the last save; a save
    // that fails leaves the queue changed.  True when the file is up to date.
    bool saveIfDirty();
    bool isChanged() const;

    const std::string& getPath() const { return path; }

private:
    void pushLocked(std::unique_ptr<TvlError> record);
    void updateStatusBitLocked();
    std::string fileContentsLocked() const;

    mutable std::recursive_mutex lock;
    std::deque<std::unique_ptr<TvlError>> entries;
    bool changed = false;
    std::string path;
    ErrorList& catalogue;
    ScpiRegisterManager& registers;
    std::mutex saveLock;   // one file write at a time, in the order of the snapshots
    SaveStatus saveStatus{"error queue file errs"};
    // Last member: destroyed (its thread ended) before anything its slot uses.
    Timer saveTimer{kSavePeriodMs, true};
};
