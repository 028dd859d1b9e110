// What the two read-only text pages (system information, error list) share:
// their look and the way they replace their text.
#pragma once

#include <FL/Enumerations.H>

#include <string>

class Fl_Text_Buffer;
class Fl_Text_Display;

namespace textpage {

// The pages' background, RGB (39, 31, 138), as the forms use it.
// (A plain number: the toolkit takes colours as unsigned, and an RGB value
// is outside the range of its colour enumeration.)
constexpr unsigned kBackground = 0x271f8a00;

// Attaches buffer to display and gives it the pages' look: dark blue flat
// rounded box, white fixed-width (Courier) text of size 16, no cursor.
void setUp(Fl_Text_Display& display, Fl_Text_Buffer& buffer);

// Empties buffer, then inserts text at position 0.
void replace(Fl_Text_Buffer& buffer, const std::string& text);

// A copy of buffer's whole text.
std::string contents(const Fl_Text_Buffer& buffer);

}  // namespace textpage
