// BacklightTest: the key-backlight test of the engineering menu.  A run
// lights keys 7, 8, 9 and 10 in turn at level 1, then at level 2, then turns
// them off, one key per step (a second) and two steps more after each of the
// first two rounds; its frames go straight to the key link (send), not
// through ButtonView.  A run sleeps on a thread of its own, so the key link's
// reader that starts it goes on at once; a run started while another goes on
// runs beside it.
//
// The owner (the main window) keeps every run's thread: one that has ended
// is joined when the next run starts, and stop() (or the destructor) cuts
// the waits of the runs still going short and joins them all.  A run takes
// no lock but this object's own, so stop() waits at most for a frame being sent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

class BacklightTest {
public:
    using Send = std::function<void(int key, int level)>;

    // step: the wait after each key (tests pass a shorter or longer one).
    explicit BacklightTest(Send send, std::chrono::milliseconds step = std::chrono::seconds(1));
    ~BacklightTest();
    BacklightTest(const BacklightTest&) = delete;
    BacklightTest& operator=(const BacklightTest&) = delete;

    // Starts a run on a thread of its own.  Any thread.
    void start();
    // Ends every run at its next wait and joins its thread.  Not on a run's
    // thread (send must not call it).
    void stop();
    // For tests: runs whose thread has not been joined yet, and runs that
    // have not ended yet.
    std::size_t threadCount() const;
    std::size_t runningCount() const;

private:
    struct Run {
        std::thread thread;
        bool ended = false;   // under mutex
    };

    void run(Run* self);
    // Waits `steps` steps; false when stop() cut the wait short.
    bool pause(int steps);

    const Send send;
    const std::chrono::milliseconds step;
    mutable std::mutex mutex;   // guards runs, each run's ended, and stopping
    std::condition_variable wake;
    bool stopping = false;
    std::list<Run> runs;        // a list: each run keeps its address
};
