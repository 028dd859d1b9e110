#include "pages/TextPage.h"

#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>

#include <cstdlib>

namespace textpage {

void setUp(Fl_Text_Display& display, Fl_Text_Buffer& buffer) {
    display.buffer(buffer);
    display.color(kBackground);
    display.box(FL_RFLAT_BOX);
    display.textfont(FL_COURIER);   // the column layout needs a fixed-width face
    display.textsize(16);
    display.textcolor(FL_WHITE);
    display.show_cursor(0);
}

void replace(Fl_Text_Buffer& buffer, const std::string& text) {
    buffer.remove(0, buffer.length());
    buffer.insert(0, text.c_str());
}

std::string contents(const Fl_Text_Buffer& buffer) {
    // The toolkit's text() is not const but changes nothing; it returns a
    // malloc'd copy.
    char* raw = const_cast<Fl_Text_Buffer&>(buffer).text();
    std::string copy = raw ? raw : "";
    std::free(raw);
    return copy;
}

}  // namespace textpage
