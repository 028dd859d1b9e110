#include "frontpanel/MenuFooter.h"

#include "frontpanel/RoundedFace.h"

#include <FL/fl_draw.H>

MenuFooter::MenuFooter(int x, int y, int w, int h, const char* label) : Fl_Widget(x, y, w, h, nullptr) {
    copy_label(label);
}

void MenuFooter::setTitle(const char* text, int size) {
    outlineColour = FL_WHITE;
    fillColour = FL_BLUE;
    titleFont = FL_HELVETICA_BOLD;
    titleFontSize = size;
    copy_label(text);
}

void MenuFooter::draw() {
    const RoundedFace face = RoundedFace::inBox(x(), y(), w(), h(), marginX, marginY, cornerRadius);
    RoundedFace::clearBehind(this);
    face.fill(fillColour);
    face.outline(outlineColour, outlineWidth);
    fl_font(titleFont, titleFontSize);
    fl_color(outlineColour);
    fl_draw(label(), x(), y(), w(), h(), FL_ALIGN_CENTER, nullptr, 1);
}
