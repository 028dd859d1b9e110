#include "pages/GpibConfigDisplay.h"

#include "meter/MeterModel.h"
#include "pages/FormText.h"

#include <FL/Fl_Input.H>

#include <cstdio>

GpibConfigDisplay::GpibConfigDisplay(int x, int y, int w, int h, const char* label) : Form(x, y, w, h, label) {
    addInput("GPIB Address (0-30): ");
    MeterModel* meter = MeterModel::instance();
    showAddress(meter->getGpibAddress());
    addStatusBox();
    hideMessage();
    end();
    meter->signalGpibAddressChanged().connect(
        lifeline.slot<int>([this] { showAddress(MeterModel::instance()->getGpibAddress()); }));
}

void GpibConfigDisplay::showAddress(int address) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", address);
    getInput(0)->value(text);
}

void GpibConfigDisplay::applySettings() { MeterModel::instance()->setGpibAddress(formtext::toInt(getInput(0)->value())); }
