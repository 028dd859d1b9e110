#include "frontpanel/MessagePopup.h"

#include <FL/Fl_Box.H>

#include <string>

MessagePopup::MessagePopup(int x, int y, int w, int h, const char* label)
    : Fl_Menu_Window(x, y, w, h, label) {
    messageBox = new Fl_Box(0, 0, w, h, label);
    messageBox->box(FL_PLASTIC_UP_BOX);
    messageBox->labelfont(FL_COURIER);
    messageBox->labelsize(16);
    messageBox->labelcolor(FL_BLACK);
    messageBox->label("Testing\nTesting");
    end();
    hide();
}

void MessagePopup::showMessage(const char* text) {
    const std::string message = std::string(text ? text : "") + kEnterPrompt;
    messageBox->copy_label(message.c_str());
    show();
}

const char* MessagePopup::message() const { return messageBox->label(); }
