#include "support/TestDisplay.h"

#include "support/TestSupport.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <chrono>

namespace testsupport {

void openTestDisplay() {
    if (fl_display) return;
    Display* display = nullptr;
    waitUntil([&] { return (display = XOpenDisplay(nullptr)) != nullptr; }, std::chrono::seconds(20),
              std::chrono::milliseconds(100));
    if (display) fl_open_display(display);
}

}  // namespace testsupport
