// Form: the base of every settings page.  Labeled rows one under the other,
// each a drop-down choice or a read-only text field (editable only while the
// numeric keypad is attached to it), and a two-line status box for messages.
//
// A subclass adds its rows in its constructor, in the order they appear,
// then calls end().  Rows stack from 50 pixels below the form's top, 50
// apart; each field stands at the form's horizontal middle, 200 x 40, its
// label to its left.  The status box spans the form less 30 pixels each side
// and is two rows high.  Rows are owned by the form and never removed.
//
// No locking of its own: callers off the GUI thread hold the toolkit lock.
#pragma once

#include <FL/Fl_Group.H>

#include <vector>

class Fl_Box;
class Fl_Choice;
class Fl_Input;

class Form : public Fl_Group {
public:
    // The dark blue of the pages, RGB (39, 31, 138).  Colours are kept as
    // plain numbers: an RGB value lies outside the toolkit's colour enum.
    static constexpr unsigned kPageColour = 0x271f8a00;

    Form(int x, int y, int w, int h, const char* label = nullptr);
    ~Form() override = default;

    // items: "|"-separated, e.g. "DHCP|Manual".
    Fl_Choice* addChoice(const char* label, const char* items);
    Fl_Input* addInput(const char* label);
    Fl_Box* addStatusBox();

    // Row i as a choice / an input; null when there is no such row or the
    // row is of the other kind.
    Fl_Choice* getChoice(unsigned i) const;
    Fl_Input* getInput(unsigned i) const;
    Fl_Box* getStatusBox() const;

    // Copies text into the status box and shows it.
    void showMessage(const char* text);
    void hideMessage();

protected:
    unsigned statusColour = FL_RED;
    unsigned statusTextColour = FL_WHITE;
    std::vector<Fl_Widget*> rows;
    int nextRowY;
    int rowStep = 50;
    int fieldWidth = 200;
    int rowHeight = 40;
    int textSize = 20;
    unsigned labelColour = 0xa0a0a000;
    unsigned fieldColour = 0x40404000;
    unsigned textColour = 0xa0a0a000;
    int statusRowIndex = -1;

private:
    Fl_Widget* row(unsigned i) const;
};
