#include "frontpanel/ButtonHandler.h"

#include "can/CANinterface.h"

ButtonHandler::ButtonHandler(CANinterface* link, int code) : keyCode(code) {
    if (link) link->signalKeyPressed().connect(sigc::mem_fun(*this, &ButtonHandler::onKey));
}

void ButtonHandler::arm(const Action& action, int cancelKey) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        waiting = Armed{action, cancelKey};
    }
    armed.emit(true);
}

void ButtonHandler::connectOnce(const Action& action) { arm(action, kNoCancelKey); }

void ButtonHandler::armWithCancelKey(const Action& action, int cancelKey) { arm(action, cancelKey); }

void ButtonHandler::dropConnections() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        waiting.reset();
    }
    armed.emit(false);
}

bool ButtonHandler::isArmed() const {
    std::lock_guard<std::mutex> lock(mutex);
    return waiting.has_value();
}

void ButtonHandler::onKey(int code) {
    if (code != keyCode) {
        bool cancel = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (waiting && waiting->cancelKey != kNoCancelKey && waiting->cancelKey == code) {
                waiting.reset();
                cancel = true;
            }
        }
        if (cancel) armed.emit(false);
        return;
    }
    std::optional<Armed> taken;
    {
        std::lock_guard<std::mutex> lock(mutex);
        taken.swap(waiting);
    }
    armed.emit(false);
    // The action may arm the next prompt (a message after a capture).
    if (taken) taken->action();
}
