// MenuFooter: the box under the soft buttons that shows the current menu's
// title, white on blue in a rounded face.  "\n" splits the title into lines.
#pragma once

#include <FL/Fl_Widget.H>

class MenuFooter : public Fl_Widget {
public:
    MenuFooter(int x, int y, int w, int h, const char* label = nullptr);
    ~MenuFooter() override = default;

    // Back to white on blue in bold, at the given size; the text is copied.
    void setTitle(const char* text, int size);
    int titleSize() const { return titleFontSize; }

    void draw() override;

private:
    Fl_Color outlineColour = FL_WHITE;
    Fl_Color fillColour = FL_BLUE;
    Fl_Font titleFont = FL_HELVETICA_BOLD;
    int titleFontSize = 20;
    float cornerRadius = 8.0f;
    float marginX = 5.0f;
    float marginY = 5.0f;
    int outlineWidth = 2;
};
