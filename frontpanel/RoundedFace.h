// The rounded rectangle of the soft buttons and the menu footer: a face
// inset by the margins from the widget box, with four quarter-circle corners.
#pragma once

#include <FL/Enumerations.H>

class Fl_Widget;

struct RoundedFace {
    float left, top, right, bottom, radius;

    // The face inside the box (x, y, w, h) with the given margins and radius.
    static RoundedFace inBox(int x, int y, int w, int h, float marginX, float marginY,
                             float radius);

    // Clears the whole box of w with the colour of the group it sits in:
    // a widget redrawn alone (a mark moved, a longer title replaced) leaves
    // nothing of its former look outside its face.
    static void clearBehind(const Fl_Widget* w);

    // Fills the face in colour.
    void fill(Fl_Color colour) const;
    // Draws its outline in colour, width pixels wide, and resets the line style.
    void outline(Fl_Color colour, int width) const;

private:
    void arcs() const;
};
