// SoftButton: one of the six on-screen buttons beside the front-panel soft
// keys.  A rounded face, white on black, black on white while pressed; a
// marked button (style 1, the chosen entry of a radio menu or a checked
// option) has a thick yellow outline and a bold yellow label.
//
// The button takes no events: the key handling presses it when its key
// arrives and a 100 ms timer releases it.  Callers off the GUI thread hold
// the toolkit lock (gui::Lock).
#pragma once

#include <FL/Fl_Widget.H>

class SoftButton : public Fl_Widget {
public:
    SoftButton(int x, int y, int w, int h, const char* label = nullptr);
    ~SoftButton() override = default;

    // 0 plain, 1 marked; takes effect at the next draw.
    void setStyle(int style) { buttonStyle = style; }
    int style() const { return buttonStyle; }

    void press();     // pressed look, redraw
    void release();   // normal look, redraw
    bool isPressed() const { return pressed; }

    void draw() override;

private:
    Fl_Color outlineColour = FL_WHITE;
    Fl_Color fillColour = FL_BLACK;
    Fl_Color pressedOutlineColour = FL_BLACK;
    Fl_Color pressedFillColour = FL_WHITE;
    bool pressed = false;
    int buttonStyle = 0;
    float cornerRadius = 8.0f;
    float marginX = 5.0f;
    float marginY = 5.0f;
    int outlineWidth = 1;
};
