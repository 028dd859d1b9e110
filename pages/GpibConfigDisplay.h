// The GPIB address page.  Row 0: read-only field "GPIB Address (0-30): "
// with the meter model's address; it follows every change of the address,
// whoever makes it (the update runs on the GUI thread).
//
// GUI thread, or a thread holding the toolkit lock.
#pragma once

#include "pages/PageLifeline.h"
#include "widgets/Form.h"

class GpibConfigDisplay : public Form {
public:
    GpibConfigDisplay(int x, int y, int w, int h, const char* label = nullptr);

    // Writes the address into the field.
    void showAddress(int address);
    // Stores the field's address in the meter model (an empty field gives 0;
    // the keypad keeps the field within 0-30).
    void applySettings();

private:
    PageLifeline lifeline;
};
