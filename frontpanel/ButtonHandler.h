// ButtonHandler: one-shot actions on one front-panel key (the main window
// makes one for key 32, Enter).  A prompt arms it with an action; the next
// press of the key runs that action once.  Armings queue up, oldest first:
// each press runs the oldest one only, and an action armed again under the
// same name while it still waits is not queued twice.  A cancel key (Back,
// for the confirmation prompts) drops every armed action unrun.
//
// The armed signal tells the key backlights whether something waits: true
// after each arming, false on each press of the key and on each drop (and
// true again after a press that leaves older armings waiting).
//
// Threads: the key link's reader runs onKey; prompts arm from that thread or
// from a worker (the backlight test).  The queue has a mutex of its own; the
// actions and the armed signal run outside it, on the calling thread.
#pragma once

#include "runtime/Signal.h"

#include <sigc++/sigc++.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

class CANinterface;

class ButtonHandler : public sigc::trackable {
public:
    using Action = sigc::slot<void>;

    // Watches keyCode on link's key signal (connect before the link's reader
    // starts; null: no link, tests call onKey themselves).
    ButtonHandler(CANinterface* link, int keyCode);
    virtual ~ButtonHandler() = default;
    ButtonHandler(const ButtonHandler&) = delete;
    ButtonHandler& operator=(const ButtonHandler&) = delete;

    // Arms action for the next press.  name identifies the prompt: while an
    // action of that name waits, arming it again changes nothing (an empty
    // name always queues).  The cancel keys stay as they are.
    void connectOnce(const Action& action, const std::string& name = std::string());
    // The cancel keys become {cancelKey}; then connectOnce.
    void armWithCancelKey(const Action& action, int cancelKey, const std::string& name = std::string());
    // Drops every armed action and the cancel keys.
    void dropConnections();

    void onKey(int keyCode);

    tvl::Signal<bool>& signalArmed() { return armed; }
    int armedCount() const;
    int getKeyCode() const { return keyCode; }

private:
    struct Armed {
        Action action;
        std::string name;
    };

    const int keyCode;
    mutable std::mutex mutex;            // guards cancelKeys and queue
    std::vector<int> cancelKeys;
    std::deque<Armed> queue;
    tvl::Signal<bool> armed;
};
