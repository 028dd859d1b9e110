// tvl::Signal: the signal type of the models.
//
// libsigc++ 2 is not safe when one signal is emitted, connected or cleared on
// two threads at once: emission walks the slot list and counts its own
// recursion in plain integers.  The models' signals are raised by many threads
// (CAN readers, timers, the SCPI and JSON servers, the key link), so each one
// serialises its connect, emit and clear with a recursive mutex of its own.
// Recursive, because a slot may raise the same signal again on its thread.
//
// The program's one scheme for threads, signals and the toolkit lock:
//  1. Any thread may emit a tvl::Signal.  Connections are made once, at
//     start-up, before the emitting thread starts wherever that is possible,
//     and are never disconnected while another thread may be emitting:
//     a slot that must stop acting is gated by an atomic flag or deadline.
//  2. A slot runs on the emitting thread with this signal's lock held.  It is
//     short, never waits for another thread and never takes the toolkit lock.
//     Slots of widgets record what changed and hand the widget work to the GUI
//     thread (gui::post / gui::redraw, widgets/GuiThread.h).
//  3. A model never emits while it holds one of its data mutexes.
//  4. Lock order: toolkit lock -> model and signal locks -> GUI queue lock.
//     A thread takes the toolkit lock only while it holds no other lock.
// CANinterface keeps plain sigc++ signals: each is raised only on its link's
// reader thread, and its owners connect before they start the reader.
#pragma once

#include <sigc++/sigc++.h>

#include <mutex>

namespace tvl {

template <typename... Args>
class Signal {
public:
    using SigcSignal = sigc::signal<void, Args...>;
    using slot_type = typename SigcSignal::slot_type;

    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    sigc::connection connect(const slot_type& slot) {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        return signal.connect(slot);
    }

    void emit(sigc::type_trait_take_t<Args>... args) const {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        signal.emit(args...);
    }
    void operator()(sigc::type_trait_take_t<Args>... args) const { emit(args...); }

    // Ends every connection (an owner that goes away).
    void clear() {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        signal.clear();
    }
    bool empty() const {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        return signal.empty();
    }
    std::size_t size() const {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        return signal.size();
    }

private:
    mutable std::recursive_mutex mutex;
    SigcSignal signal;
};

}  // namespace tvl
