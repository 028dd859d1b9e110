// The GUI thread and the toolkit lock.
//
// The event loop runs on the GUI thread, which holds the toolkit's global
// lock except while it waits for events.  Every other thread follows the
// program's one scheme (written out in runtime/Signal.h):
//  - a slot run by a model signal never takes the toolkit lock: it hands its
//    widget work to the GUI thread with post() or redraw();
//  - the few threads that run front-panel code directly (the key link's
//    reader running menu actions, the start-up step on the bootloader's
//    thread) change widgets under a gui::Lock, taken
//    while they hold no other lock (a tvl::Signal's slot always holds one:
//    the timers' slots, e.g. the soft buttons' release, post instead).
#pragma once

#include <FL/Fl.H>
#include <FL/Fl_Widget.H>

#include <functional>

namespace gui {

// Called once at the very start of main, on the thread that will run the
// event loop, before any other thread exists: takes the toolkit lock there
// (which makes it usable by the other threads) and installs the handler that
// runs posted work.
void initGuiThread();

// True on the thread that called initGuiThread.
bool isGuiThread();

// Queues fn to run on the GUI thread, with the toolkit lock held, after
// everything posted before it, and wakes the event loop.  Safe from any
// thread and under any lock: it takes only the queue's own mutex and never
// blocks on the toolkit.
void post(std::function<void()> fn);

// Marks w damaged with bits and has the GUI thread repaint it.  Requests for
// one widget that arrive before the GUI thread gets to them are merged (bits
// or-ed), so a readout fed at the cards' rate costs one repaint per frame of
// the event loop at most.
void redraw(Fl_Widget* w, unsigned char bits = FL_DAMAGE_ALL);

// Forgets pending redraws of w (a widget about to be deleted).
void forget(Fl_Widget* w);

// Runs everything queued now.  The event loop does this by itself; tests
// without an event loop call it.  GUI thread only.
void runPending();

// Number of closures waiting; for tests.
std::size_t pendingCount();

// The toolkit lock, for threads allowed to change widgets directly:
// Fl::lock() now; Fl::unlock() and a wake of the event loop on release.
// Recursive: a thread that holds it may take it again.
class Lock {
public:
    Lock() { Fl::lock(); }
    ~Lock() {
        Fl::unlock();
        Fl::awake(static_cast<void*>(nullptr));
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

}  // namespace gui
