#include "frontpanel/ButtonHandler.h"

#include "can/CANinterface.h"

#include <algorithm>

ButtonHandler::ButtonHandler(CANinterface* link, int code) : keyCode(code) {
    if (link) link->signalKeyPressed().connect(sigc::mem_fun(*this, &ButtonHandler::onKey));
}

void ButtonHandler::connectOnce(const Action& action, const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        const bool waiting = !name.empty() && std::any_of(queue.begin(), queue.end(),
                                                          [&](const Armed& a) { return a.name == name; });
        if (!waiting) queue.push_back({action, name});
    }
    armed.emit(true);
}

void ButtonHandler::armWithCancelKey(const Action& action, int cancelKey, const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        cancelKeys.assign(1, cancelKey);
    }
    connectOnce(action, name);
}

void ButtonHandler::dropConnections() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        queue.clear();
        cancelKeys.clear();
    }
    armed.emit(false);
}

int ButtonHandler::armedCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(queue.size());
}

void ButtonHandler::onKey(int code) {
    if (code != keyCode) {
        bool cancel;
        {
            std::lock_guard<std::mutex> lock(mutex);
            cancel = std::find(cancelKeys.begin(), cancelKeys.end(), code) != cancelKeys.end();
        }
        if (cancel) dropConnections();
        return;
    }
    Action action;
    bool ran = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        cancelKeys.clear();
        if (!queue.empty()) {
            action = queue.front().action;
            queue.pop_front();
            ran = true;
        }
    }
    armed.emit(false);
    if (ran) action();
    if (armedCount() > 0) armed.emit(true);
}
