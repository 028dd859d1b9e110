#include "frontpanel/SoftButton.h"

#include "frontpanel/RoundedFace.h"

#include <FL/fl_draw.H>

SoftButton::SoftButton(int x, int y, int w, int h, const char* label)
    : Fl_Widget(x, y, w, h, label) {}

void SoftButton::press() {
    pressed = true;
    redraw();
}

void SoftButton::release() {
    pressed = false;
    redraw();
}

void SoftButton::draw() {
    const Fl_Color fill = pressed ? pressedFillColour : fillColour;
    Fl_Color outline = pressed ? pressedOutlineColour : outlineColour;
    int width = outlineWidth;
    Fl_Font font = FL_HELVETICA;
    if (buttonStyle == 1) {
        outline = FL_YELLOW;
        width = 5;
        font = FL_HELVETICA_BOLD;
    }
    const RoundedFace face = RoundedFace::inBox(x(), y(), w(), h(), marginX, marginY, cornerRadius);
    RoundedFace::clearBehind(this);
    face.fill(fill);
    face.outline(outline, width);
    fl_font(font, 16);
    fl_color(outline);
    fl_draw(label(), x(), y(), w(), h(), FL_ALIGN_CENTER, nullptr, 1);
}
