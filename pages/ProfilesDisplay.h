// The profiles page: saves and restores the ten user profiles and restores
// the factory settings, through the meter model (which runs the profile
// scripts).  Row 0: read-only field "Profile (1 - 10): " (initially "1"),
// typed with the keypad; then the status box, which reports the outcome.
//
// Run by the front panel's menu actions; they block while the scripts run
// and take the toolkit lock themselves for the status box.
#pragma once

#include "widgets/Form.h"

class ProfilesDisplay : public Form {
public:
    ProfilesDisplay(int x, int y, int w, int h);

    // Profile n of the field: save (1-10) / restore (0-10, 0 the factory
    // settings).  An empty field does nothing; a number out of range is
    // refused with a message, and a script that failed is reported.
    void saveProfile();
    void restoreProfile();
    void restoreFactoryDefaults();

private:
    void report(const char* text);
};
