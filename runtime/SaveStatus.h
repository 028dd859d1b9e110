// SaveStatus: how the saves of one file the program keeps are going (a
// settings file, the error queue's file, the counters file).
//
// Those files are rewritten whole and atomically, so a save that fails (disk
// full, no descriptor left) leaves the old file as it was; the file's owner
// keeps its change and tries again (at its timer's next tick) until a save
// succeeds.  The failure is reported once per episode: when the first save
// fails, a console line and one report to the sink (the program installs the
// SCPI error queue there); the saves that fail after it are silent, and the
// first one that succeeds again ends the episode with a console line.
//
//   SaveStatus status("settings file bp");
//   bool ok = platform::writeFileAtomic(path, text);
//   status.record(ok, errno);
//
// The saves of one file are serialised (saveUnder, saveChangeUnder): a save
// that comes while another one writes the file waits for it, so a stop's
// last save never ends the process in the middle of a timer's, and it finds
// a change that the other one failed to write still pending.
//
// Thread-safe; record() takes no lock, so an owner calls it after releasing
// its own data mutexes (the sink pushes into the error queue, which raises
// the status byte's signal).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

class SaveStatus {
public:
    // Receives "<what> not saved: <reason>" once per failure episode.
    using Sink = std::function<void(const std::string& detail)>;

    explicit SaveStatus(std::string what);
    SaveStatus(const SaveStatus&) = delete;
    SaveStatus& operator=(const SaveStatus&) = delete;

    // Records one save; error is the errno of a failed one.  Returns ok.
    bool record(bool ok, int error);
    // Writes the text contents() makes to path, atomically, both under
    // dataLock, and records the outcome once dataLock is released.
    bool saveUnder(std::mutex& dataLock, const std::string& path, const std::function<std::string()>& contents);
    // As saveUnder, when takeChange() says there is a change not written yet
    // (and takes it); true when there was none.  A write that fails hands
    // the change back (keepChange) before the next save of the file starts.
    bool saveChangeUnder(const std::function<bool()>& takeChange, const std::function<void()>& keepChange,
                         std::mutex& dataLock, const std::string& path, const std::function<std::string()>& contents);
    // True from a failed save until the next one that succeeds.
    bool isFailing() const { return failing.load(); }

    // The process-wide sink.  Without one, failures reach the console only.
    static void setSink(Sink sink);
    // The system's text for an errno value ("No space left on device").
    static std::string errorText(int error);

    // From here on the program writes its files for the last time (it is
    // stopping): every save that fails is reported on the console as
    // "<what> not written: <reason>", as no other save will come.
    static void beginLastSaves();

private:
    bool write(std::mutex& dataLock, const std::string& path, const std::function<std::string()>& contents,
               int& error);
    void report(bool ok, bool wasFailing, int error);

    const std::string name;
    std::atomic<bool> failing{false};
    std::mutex saveMutex;   // held for the whole of one save
};
