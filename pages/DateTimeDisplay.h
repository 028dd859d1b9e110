// The date-and-time page: year, month, day, hour and minute as read-only
// fields (rows 0-4) typed with the keypad, and the status box.  Applying
// checks every field, then sets the system clock and the hardware clock and
// says whether that worked.
#pragma once

#include "widgets/Form.h"

#include <ctime>
#include <string>

class DateTimeDisplay : public Form {
public:
    DateTimeDisplay(int x, int y, int w, int h, const char* label = nullptr);

    // The instrument's present local time into the five fields
    // ("%Y", "%m", "%d", "%H", "%M").  GUI thread or toolkit lock.
    void showCurrentTime();

    // Validates the fields; when all are valid, sets the system clock
    // (seconds 0) and copies it to the hardware clock.  The status box says
    // which fields are invalid, that the clock could not be set, or that it
    // was.  Takes the toolkit lock itself for the widget changes.
    void applySettings();

    // "Invalid" and the names of the invalid fields, or "" when every value
    // is valid (year 1900-3000, month 1-12, day 1-31, hour 0-23, minute 0-59).
    static std::string validate(int year, int month, int day, int hour, int minute);
};
