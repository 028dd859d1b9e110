#include "pages/ProfilesDisplay.h"

#include "meter/MeterModel.h"
#include "pages/FormText.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Input.H>

#include <string>

namespace {

const char* const kInvalidNumberText = "Invalid Profile Number";

// The field's profile number, or false when the field is empty.
bool profileNumber(Form& form, int& n) {
    std::string text;
    {
        gui::Lock lock;
        const char* value = form.getInput(0)->value();
        text = value ? value : "";
    }
    if (text.empty()) return false;
    n = formtext::toInt(text.c_str());
    return true;
}

}  // namespace

ProfilesDisplay::ProfilesDisplay(int x, int y, int w, int h) : Form(x, y, w, h, nullptr) {
    addInput("Profile (1 - 10): ")->value("1");
    addStatusBox();
    hideMessage();
    end();
}

void ProfilesDisplay::report(const char* text) {
    gui::Lock lock;
    showMessage(text);
    redraw();
}

void ProfilesDisplay::saveProfile() {
    int n = 0;
    if (!profileNumber(*this, n)) return;
    // Profile 0 is the factory settings: it is restored, never overwritten.
    if (n < 1 || n > MeterModel::kProfileCount) return report(kInvalidNumberText);
    report(MeterModel::instance()->saveProfile(static_cast<unsigned>(n)) ? "Profile Saved" : "Profile Not Saved");
}

void ProfilesDisplay::restoreProfile() {
    int n = 0;
    if (!profileNumber(*this, n)) return;
    if (n < 0 || n > MeterModel::kProfileCount) return report(kInvalidNumberText);
    report(MeterModel::instance()->restoreProfile(static_cast<unsigned>(n)) ? "Profile Restored"
                                                                            : "Profile Not Restored");
}

void ProfilesDisplay::restoreFactoryDefaults() {
    report(MeterModel::instance()->restoreDefaults() ? "Factory Default Settings Restored"
                                                     : "Factory Default Settings Not Restored");
}
