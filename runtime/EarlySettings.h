// EarlySettings: the settings a user changed before the model read its
// settings file.
//
// A model reads its file some time after the clients and keys can reach it
// (a channel when its card first reports ready, a few seconds after the
// servers start).  A setting changed before that must not be undone by the
// file: each persistent setter notes its key and the value it takes, in the
// file's own text form, and the first reading of the file puts those values
// in place of the file's (merge) before it applies them.  The model marks
// its settings dirty afterwards, so the kept values are written.
//
// Threads: note() runs on the setter's thread.  Before the first reading it
// records; while the reading runs on another thread it waits for the reading
// to end, so the change is applied after the file and not undone by it; once
// the file has been read it does nothing.  The reading thread (and any
// thread applying a file, default values or a resend, under Applying) never
// records and never waits: its setter calls are not a user's changes.
//
// A setter notes after it has checked its value and before it stores it: a
// value the setter refuses is not kept over the file's.
#pragma once

#include <condition_variable>
#include <functional>
#include <istream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class SaveStatus;

class EarlySettings {
public:
    // Key (colon included, as in the file) and value text, in file order.
    using Pairs = std::vector<std::pair<std::string, std::string>>;

    EarlySettings() = default;
    EarlySettings(const EarlySettings&) = delete;
    EarlySettings& operator=(const EarlySettings&) = delete;

    // A user's change of key to value (see above).
    void note(const char* key, std::string value);
    void note(const char* key, int value) { note(key, std::to_string(value)); }
    void note(const char* key, bool value) { note(key, std::string(value ? "1" : "0")); }
    // A float in a text that reads back to the same float.
    void noteFloat(const char* key, float value);
    // For a change noted after its store, from a signal's slot: records
    // before the first reading, and never waits (the reading may need the
    // signal whose lock the slot holds).
    void noteStored(const char* key, float value);

    // The first reading of the file starts on this thread: recording ends
    // and the changes recorded are handed over (later readings get none).
    Pairs beginReading();
    // The reading has ended: waiting setters go on.
    void endReading();
    // Before a reading whose file must win (a profile being restored): the
    // changes recorded are dropped and recording ends.
    void discard();
    // For a stop before the first reading: the changes recorded are written
    // over the values of the file at path (contents() when there is no
    // file) through status, and recording ends, as for a reading (nothing
    // is written while a reading runs or after it: it has them).  False when
    // the file could not be written.
    bool saveUnread(SaveStatus& status, std::mutex& dataLock, const std::string& path,
                    const std::function<std::string()>& contents);

    // Setter calls made on this thread while one lives are not a user's
    // changes (a file, the defaults or a resend being applied).
    class Applying {
    public:
        Applying();
        ~Applying();
        Applying(const Applying&) = delete;
        Applying& operator=(const Applying&) = delete;
    };
    static bool applyingOnThisThread();

    // The file's pairs with each kept key's value in place of the file's
    // (every occurrence); kept keys the file lacks are appended in the order
    // kept.
    static Pairs merge(Pairs file, const Pairs& kept);
    // Whitespace-separated words, two by two, as the channel reader takes
    // them (a key without a value is dropped, as the reader drops it).
    static Pairs readPairs(std::istream& in);

private:
    static std::string floatText(float value);
    void record(const char* key, std::string value);   // mutex held
    enum class State { kRecording, kReading, kRead };
    // The changes recorded, if still recording; state becomes next.
    Pairs handOver(State next);
    mutable std::mutex mutex;
    std::condition_variable readingEnded;
    State state = State::kRecording;
    Pairs recorded;
};
