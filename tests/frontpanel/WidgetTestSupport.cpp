#include "WidgetTestSupport.h"

#include "frontpanel/GuiThread.h"
#include "support/TestSupport.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace testgui {

void ensureGuiThread() {
    static std::once_flag once;
    std::call_once(once, [] { gui::initGuiThread(); });
}

bool finishesWhileToolkitLocked(const std::function<void()>& fn) {
    ensureGuiThread();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        fn();
        done.store(true);
    });
    // A worker that ignores the lock finishes in microseconds; one that takes
    // it can never finish here, however long this waits.
    const bool finished = testsupport::waitUntil([&] { return done.load(); },
                                                 std::chrono::milliseconds(250));
    Fl::unlock();
    worker.join();
    Fl::lock();
    return finished;
}

bool showAndWait(Fl_Window* win) {
    ensureGuiThread();
    win->show();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!win->shown() || Fl_X::i(win)->wait_for_expose) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Fl::wait(0.05);
    }
    return true;
}

Rgb rgbOf(Fl_Color colour) {
    unsigned char r, g, b;
    Fl::get_color(colour, r, g, b);
    return {r, g, b};
}

Snapshot::Snapshot(Fl_Window* win, bool redrawAll) : width(win->w()), height(win->h()) {
    if (redrawAll) win->redraw();
    Fl::flush();
    win->make_current();
    pixels.resize(static_cast<size_t>(width) * height * 3);
    XSync(fl_display, False);
    fl_read_image(pixels.data(), 0, 0, width, height);
}

Rgb Snapshot::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {0, 0, 0};
    const unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
}

int Snapshot::count(int x, int y, int w, int h, Fl_Color colour) const {
    const Rgb want = rgbOf(colour);
    int n = 0;
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i)
            if (at(i, j) == want) ++n;
    return n;
}

int Snapshot::rowBands(int x, int y, int w, int h, Fl_Color colour) const {
    int bands = 0;
    bool inBand = false;
    for (int j = y; j < y + h; ++j) {
        const bool has = count(x, j, w, 1, colour) > 0;
        if (has && !inBand) ++bands;
        inBand = has;
    }
    return bands;
}

}  // namespace testgui
