#include "widgets/GuiThread.h"

#include <pthread.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace gui {

namespace {

pthread_t guiThread;
std::atomic<bool> guiThreadSet{false};

// Never freed: reader and timer threads may still post while the process
// exits and runs the destructors of static objects.
struct Queue {
    std::mutex mutex;
    std::deque<std::function<void()>> work;
    std::unordered_map<Fl_Widget*, unsigned char> pendingDamage;
};
Queue& theQueue() {
    static Queue* q = new Queue;
    return *q;
}
// True from the wake-up request until the GUI thread has drained the queue:
// one wake-up in flight at a time, so the toolkit's wake-up pipe never fills.
std::atomic<bool> wakePending{false};

void drain(void*) { runPending(); }

void wake() {
    if (wakePending.exchange(true)) return;
    if (Fl::awake(drain, nullptr) != 0) {
        // The toolkit's wake-up ring is full: the check handler below picks
        // the work up at the loop's next turn.
        wakePending.store(false);
        Fl::awake(static_cast<void*>(nullptr));
    }
}

}  // namespace

void initGuiThread() {
    guiThread = pthread_self();
    guiThreadSet.store(true);
    Fl::lock();
    Fl::add_check(drain, nullptr);
}

bool isGuiThread() { return guiThreadSet.load() && pthread_equal(pthread_self(), guiThread); }

void post(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(theQueue().mutex);
        theQueue().work.push_back(std::move(fn));
    }
    wake();
}

void redraw(Fl_Widget* w, unsigned char bits) {
    if (!w || !bits) return;
    bool first;
    {
        std::lock_guard<std::mutex> lock(theQueue().mutex);
        unsigned char& pending = theQueue().pendingDamage[w];
        first = pending == 0;
        pending |= bits;
    }
    if (!first) return;
    post([w] {
        unsigned char damage = 0;
        {
            std::lock_guard<std::mutex> lock(theQueue().mutex);
            auto it = theQueue().pendingDamage.find(w);
            if (it == theQueue().pendingDamage.end()) return;   // forgotten meanwhile
            damage = it->second;
            theQueue().pendingDamage.erase(it);
        }
        w->damage(damage);
    });
}

void forget(Fl_Widget* w) {
    std::lock_guard<std::mutex> lock(theQueue().mutex);
    theQueue().pendingDamage.erase(w);
}

void runPending() {
    wakePending.store(false);
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lock(theQueue().mutex);
            if (theQueue().work.empty()) return;
            fn = std::move(theQueue().work.front());
            theQueue().work.pop_front();
        }
        fn();
    }
}

std::size_t pendingCount() {
    std::lock_guard<std::mutex> lock(theQueue().mutex);
    return theQueue().work.size();
}

}  // namespace gui
