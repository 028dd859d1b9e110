// Console output of every program: the lines for standard output and
// standard error go through one writer thread, so that no server, model,
// reader or GUI thread ever waits for a terminal, file or pipe.
//
//   console::say("Channel ", 2, " CAN running");        // one line
//   console::print("rc = %d\n", rc);                   // printf's format
//   console::printError("cannot open %s\n", path);     // on standard error
//   console::perror("bind");                           // "bind: <strerror>"
//
// A text is written as it is given (a message of one or more whole lines,
// usually).  The queue between the callers and the writer is bounded:
//  - while it is full (the output does not take what is written), new texts
//    are dropped and counted; once output flows again the count is written
//    on standard output as "(N console lines dropped)", where they were lost;
//  - a run of identical texts is written once, then "(last line repeated N
//    times)" when a different text comes or a second after the run began
//    (a run of two writes the text twice).
// Texts of one thread are written in the order given, on both streams.
//
// At exit (return from main, exit()) the queue is written out as far as the
// output takes it within half a second, and the writer's thread ends when it
// could write everything: a stuck output never holds up the end of the
// program.  A child made by fork() starts with an empty queue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

namespace console {

enum class Stream { out, err };

// The queue and its thread.  The program has one (below); a test makes its
// own on descriptors of its choice.
class Writer {
public:
    struct Options {
        int outFd = 1;
        int errFd = 2;
        std::size_t capacity = 256 * 1024;   // bytes queued or being written
        std::chrono::milliseconds repeatWindow{1000};
    };

    explicit Writer(const Options& options);
    Writer() : Writer(Options()) {}
    // Waits until the queue is written (and a write in progress ends).
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Queues text; never waits for the output.
    void write(Stream stream, std::string text);
    // Waits until everything queued so far is written, at most bound; true
    // when it is.
    bool flush(std::chrono::milliseconds bound);
    // Writes out the queue and ends the thread, at most bound; true when
    // the thread has ended.  Texts that come later are dropped.
    bool finish(std::chrono::milliseconds bound);
    // Texts dropped since the start.
    std::uint64_t dropped() const;

private:
    struct Entry {
        Stream stream;
        std::string text;
    };
    using Clock = std::chrono::steady_clock;

    void run();
    void append(Stream stream, std::string text);   // the lock held
    void closeRepeats();                            // the lock held
    void writeOut(const std::deque<Entry>& batch) const;

    const Options options;
    mutable std::mutex mutex;
    std::condition_variable wake;      // the writer: something to do
    std::condition_variable written;   // flush: a batch is out
    std::deque<Entry> queue;
    std::size_t bytes = 0;             // queued and being written
    bool busy = false;                 // a batch is being written
    bool stopping = false;
    bool ended = false;                // the thread has left its loop
    // The run of identical texts: the last text queued and how often it came
    // again since.
    bool haveLast = false;
    Stream lastStream = Stream::out;
    std::string lastText;
    std::uint64_t repeats = 0;
    Clock::time_point runStart;
    std::uint64_t droppedSinceNote = 0;
    std::uint64_t droppedTotal = 0;
    std::thread thread;
};

// The program's writer (standard output and error), made on first use.
Writer& writer();

void write(Stream stream, std::string text);

// printf's format; the text is written as formatted.
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// As perror: "what: " (when what is not empty), the text of errno, newline.
void perror(const char* what);

// The arguments in the stream's default format, and a newline.
template <class... Args>
void say(Args&&... args) {
    std::ostringstream line;
    (line << ... << std::forward<Args>(args));
    line << '\n';
    write(Stream::out, line.str());
}

// Writes everything queued, at most bound (at exit this runs by itself).
bool flush(std::chrono::milliseconds bound = std::chrono::milliseconds(500));

// For unit tests that capture the standard streams: every text is written at
// once, on the caller's thread, nothing folded or dropped.
void writeDirectly(bool direct);

}  // namespace console
