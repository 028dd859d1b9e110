// The RS-232 settings page: five choices whose item indexes are the codes
// RS232Configuration stores.  Rows: 0 "Speed: " (2400 ... 115200), 1 "Data
// Bits: " (7|8), 2 "Stop Bits: " (1|2), 3 "Parity: " (None|Even|Odd), 4
// "Flow Control: " (None|Software|Hardware).  Soft buttons step the choices
// (next...) and apply them; reopening the page reloads the stored settings.
//
// GUI thread, or a thread holding the toolkit lock.
#pragma once

#include "widgets/Form.h"

class RS232ConfigDisplay : public Form {
public:
    RS232ConfigDisplay(int x, int y, int w, int h, const char* label = nullptr);

    // Selects the meter model's present settings.
    void showSettings();
    // No choice drawn as the one being changed.
    void clearFocus();
    // Focus the row's choice and select its next item, wrapping.
    void nextSpeed();
    void nextDataBits();
    void nextStopBits();
    void nextParity();
    void nextFlowControl();
    // Stores the selected settings in the meter model (which marks them for
    // saving and tells the serial port).
    void applySettings();

private:
    void next(int row);
};
