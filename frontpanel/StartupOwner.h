// StartupOwner: the one owner of what the main window's start-up step makes
// and keeps running until the window goes (the SCPI servers and the JSON
// server).  It frees them in the reverse order of their making, each through
// its own destructor (a server closes its port and joins its threads there),
// so a server made later, which may rely on one made before it, always goes
// first.
//
// The program itself never gets here: it ends with exit_group
// (frontpanel/ProgramStop.h), whatever its threads are doing.  The owner
// frees its objects where a window is destroyed (tests, a run whose event
// loop returns).
//
// Threads: keep() runs on the thread of the start-up step, stop() and the
// destructor on the thread that destroys the window; never both at once.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

class StartupOwner {
public:
    StartupOwner() = default;
    ~StartupOwner() { stop(); }
    StartupOwner(const StartupOwner&) = delete;
    StartupOwner& operator=(const StartupOwner&) = delete;

    // Takes object over; returns it for the caller's use (null stays null).
    template <typename T>
    T* keep(std::unique_ptr<T> object) {
        T* kept = object.get();
        if (kept) objects.emplace_back(object.release(), [](void* p) { delete static_cast<T*>(p); });
        return kept;
    }

    // Frees every object kept, the last kept first.  Again: nothing.
    void stop() {
        while (!objects.empty()) objects.pop_back();
    }

    // The objects kept and not yet freed.
    std::size_t size() const { return objects.size(); }

private:
    std::vector<std::unique_ptr<void, void (*)(void*)>> objects;   // in the order kept
};
