#include "WidgetTestSupport.h"

#include "support/TestDisplay.h"
#include "support/TestSupport.h"
#include "widgets/GuiThread.h"

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
    std::call_once(once, [] {
        gui::initGuiThread();
        testsupport::openTestDisplay();
    });
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

Rgb rgbOf(Fl_Color colour) {
    unsigned char r, g, b;
    Fl::get_color(colour, r, g, b);
    return {r, g, b};
}

Canvas::Canvas(Fl_Window* win) : window(win), width(win->w()), height(win->h()) {
    ensureGuiThread();
    win->show();   // a window of the display, for the drawing context
    win->make_current();
    picture = fl_create_offscreen(width, height);
    pixels.resize(static_cast<size_t>(width) * height * 3);
}

Canvas::~Canvas() {
    fl_delete_offscreen(picture);
    window->hide();
}

void Canvas::paint(bool all) {
    window->make_current();
    fl_begin_offscreen(picture);
    if (all) window->damage(FL_DAMAGE_ALL);
    static_cast<Fl_Widget*>(window)->draw();   // public in the base
    window->clear_damage();
    fl_read_image(pixels.data(), 0, 0, width, height);
    fl_end_offscreen();
}

Rgb Canvas::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {0, 0, 0};
    const unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
}

int Canvas::count(int x, int y, int w, int h, Fl_Color colour) const {
    const Rgb want = rgbOf(colour);
    int n = 0;
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i)
            if (at(i, j) == want) ++n;
    return n;
}

int Canvas::rowBands(int x, int y, int w, int h, Fl_Color colour) const {
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

// The toolkit's font set-up (fontconfig, through Xft) keeps allocations for
// the life of the process; the leak checker of the sanitizer build is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
