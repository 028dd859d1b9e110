#include "frontpanel/RoundedFace.h"

#include <FL/Fl_Group.H>
#include <FL/fl_draw.H>

void RoundedFace::clearBehind(const Fl_Widget* w) {
    fl_rectf(w->x(), w->y(), w->w(), w->h(), w->parent() ? w->parent()->color() : FL_BLACK);
}

RoundedFace RoundedFace::inBox(int x, int y, int w, int h, float marginX, float marginY,
                               float radius) {
    RoundedFace f;
    f.left = x + marginX;
    f.top = y + marginY;
    f.right = f.left + (w - 2 * marginX);
    f.bottom = f.top + (h - 2 * marginY);
    f.radius = radius;
    return f;
}

// Top left, top right, bottom right, bottom left.
void RoundedFace::arcs() const {
    const float r = radius;
    fl_arc(left + r, top + r, r, 180, 90);
    fl_arc(right - r, top + r, r, 90, 0);
    fl_arc(right - r, bottom - r, r, 360, 270);
    fl_arc(left + r, bottom - r, r, 270, 180);
}

void RoundedFace::fill(Fl_Color colour) const {
    fl_color(colour);
    fl_begin_complex_polygon();
    arcs();
    fl_end_complex_polygon();
}

void RoundedFace::outline(Fl_Color colour, int width) const {
    fl_line_style(FL_SOLID, width);
    fl_color(colour);
    fl_begin_loop();
    arcs();
    fl_end_loop();
    fl_line_style(FL_SOLID, 0);
}
