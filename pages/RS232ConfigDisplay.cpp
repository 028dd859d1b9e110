#include "pages/RS232ConfigDisplay.h"

#include "meter/MeterModel.h"
#include "runtime/RS232Configuration.h"

#include <FL/Fl_Choice.H>

namespace {

enum Row { kSpeedRow = 0, kDataBitsRow, kStopBitsRow, kParityRow, kFlowControlRow, kRowCount };

const struct {
    const char* label;
    const char* items;
    int count;
    int (RS232Configuration::*get)() const;
    void (RS232Configuration::*set)(int);
} kRows[kRowCount] = {
    {"Speed: ", "2400|4800|9600|19200|38400|57600|115200", 7, &RS232Configuration::getSpeed,
     &RS232Configuration::setSpeed},
    {"Data Bits: ", "7|8", 2, &RS232Configuration::getDataBits, &RS232Configuration::setDataBits},
    {"Stop Bits: ", "1|2", 2, &RS232Configuration::getStopBits, &RS232Configuration::setStopBits},
    {"Parity: ", "None|Even|Odd", 3, &RS232Configuration::getParity, &RS232Configuration::setParity},
    {"Flow Control: ", "None|Software|Hardware", 3, &RS232Configuration::getFlowControl,
     &RS232Configuration::setFlowControl},
};

}  // namespace

RS232ConfigDisplay::RS232ConfigDisplay(int x, int y, int w, int h, const char* label) : Form(x, y, w, h, label) {
    for (const auto& row : kRows) addChoice(row.label, row.items);
    addStatusBox();
    hideMessage();
    showSettings();
    clearFocus();
    end();
}

void RS232ConfigDisplay::showSettings() {
    const RS232Configuration config = MeterModel::instance()->getRS232Configuration();
    for (int r = 0; r < kRowCount; ++r) {
        // The configuration stores any code (a settings file or a remote
        // command may hold a bad one): such a row shows no selection rather
        // than an item past the end of its menu.
        const int code = (config.*kRows[r].get)();
        if (code >= 0 && code < kRows[r].count)
            getChoice(r)->value(code);
        else
            getChoice(r)->value(static_cast<const Fl_Menu_Item*>(nullptr));
    }
}

void RS232ConfigDisplay::clearFocus() {
    for (int r = 0; r < kRowCount; ++r) getChoice(r)->clear_visible_focus();
}

void RS232ConfigDisplay::next(int row) {
    Fl_Choice* choice = getChoice(row);
    choice->set_visible_focus();
    choice->take_focus();
    const int current = choice->value();
    choice->value(current < 0 ? 0 : (current + 1) % kRows[row].count);
}

void RS232ConfigDisplay::nextSpeed() { next(kSpeedRow); }
void RS232ConfigDisplay::nextDataBits() { next(kDataBitsRow); }
void RS232ConfigDisplay::nextStopBits() { next(kStopBitsRow); }
void RS232ConfigDisplay::nextParity() { next(kParityRow); }
void RS232ConfigDisplay::nextFlowControl() { next(kFlowControlRow); }

void RS232ConfigDisplay::applySettings() {
    RS232Configuration config;   // a row without a selection keeps its default
    for (int r = 0; r < kRowCount; ++r) {
        const int code = getChoice(r)->value();
        if (code >= 0) (config.*kRows[r].set)(code);
    }
    MeterModel::instance()->setRS232Configuration(config);
}
