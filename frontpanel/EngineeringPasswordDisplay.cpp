#include "frontpanel/EngineeringPasswordDisplay.h"

#include <FL/Fl_Input.H>

#include <cstring>

namespace {
constexpr const char* kEngineeringPassword = "58214";
}  // namespace

EngineeringPasswordDisplay::EngineeringPasswordDisplay(int x, int y, int w, int h, const char* label)
    : Form(x, y, w, h, label) {
    addInput("Password: ");
    addStatusBox();
    hideMessage();
    end();
}

bool EngineeringPasswordDisplay::checkPassword() const {
    const Fl_Input* field = getInput(0);
    return field && std::strcmp(field->value(), kEngineeringPassword) == 0;
}

void EngineeringPasswordDisplay::clear() {
    if (Fl_Input* field = getInput(0)) field->value("");
}
