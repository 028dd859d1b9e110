// Helpers of the front-panel widget tests: the GUI thread, windows shown on
// the test display and their pixels read back.
#pragma once

#include <FL/Enumerations.H>

#include <functional>
#include <vector>

class Fl_Window;

namespace testgui {

// Makes the calling thread (the test's main thread) the GUI thread, once.
void ensureGuiThread();

// Runs fn on another thread while this thread holds the toolkit lock, and
// tells whether fn finished while the lock was held (it is then released so
// that fn can finish, and taken again).  A change made under the toolkit
// lock must not finish.
bool finishesWhileToolkitLocked(const std::function<void()>& fn);

struct Rgb {
    unsigned char r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
Rgb rgbOf(Fl_Color colour);

// A window painted into a picture of its own, as the toolkit paints it into
// its back buffer: other windows on the test display (tests run side by
// side) cannot cover it.  The picture keeps what was painted before, so a
// widget redrawn alone shows what it leaves behind.
class Canvas {
public:
    explicit Canvas(Fl_Window* win);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // Paints the whole window (all) or only its damaged widgets, and reads
    // the picture back.
    void paint(bool all = true);

    Rgb at(int x, int y) const;
    // Pixels of colour inside the rectangle.
    int count(int x, int y, int w, int h, Fl_Color colour) const;
    // Runs of consecutive rows, within the rectangle, that hold colour.
    int rowBands(int x, int y, int w, int h, Fl_Color colour) const;

private:
    Fl_Window* window;
    unsigned long picture;
    int width, height;
    std::vector<unsigned char> pixels;
};

}  // namespace testgui
