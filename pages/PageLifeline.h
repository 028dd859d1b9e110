// Model-signal slots for pages.  A slot runs on the thread that emits; it
// must not touch widgets, so it hands the page's update to the GUI thread
// (gui::post).  The update runs there only while the page still exists: a
// page that goes away (in the program they never do; tests delete theirs)
// turns its pending and future updates into no-ops, without disconnecting
// from a signal another thread may be emitting.
#pragma once

#include "widgets/GuiThread.h"

#include <memory>

class PageLifeline {
public:
    // A callable for a Signal<Args...>: each call posts update() to the GUI
    // thread; the signal's arguments are dropped.
    template <typename... Args, typename Update>
    auto slot(Update update) const {
        std::weak_ptr<const int> weak = token;
        return [weak, update](Args...) {
            gui::post([weak, update] {
                if (!weak.expired()) update();
            });
        };
    }

private:
    // Checked and released on the GUI thread only.
    std::shared_ptr<const int> token = std::make_shared<const int>(0);
};
