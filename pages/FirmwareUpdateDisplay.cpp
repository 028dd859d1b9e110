#include "pages/FirmwareUpdateDisplay.h"

#include "console/Console.h"
#include "meter/MeterModel.h"
#include "runtime/FirmwareUpdateModel.h"

#include <FL/Fl_Input.H>

namespace {
enum Row { kCurrentRow = 0, kInternetRow, kUsbRow };
}

FirmwareUpdateDisplay::FirmwareUpdateDisplay(int x, int y, int w, int h, const char* label) : Form(x, y, w, h, label) {
    addInput("Current Version: ")->value("Unknown");
    addInput("Internet Version: ")->value("None");
    addInput("USB Drive Version: ")->value("None");
    addStatusBox();
    hideMessage();
    end();
}

std::string FirmwareUpdateDisplay::statusMessage(int networkStatus, int usbStatus) {
    static const char* const kNetwork[] = {"Network cable unplugged", "Internet not accessible"};
    static const char* const kUsb[] = {"No USB drive found", "File not found on USB drive"};
    std::string message;
    if (networkStatus == 0 || networkStatus == 1) message = kNetwork[networkStatus];
    if (usbStatus == 0 || usbStatus == 1) message += (message.empty() ? "" : "\n") + std::string(kUsb[usbStatus]);
    return message;
}

void FirmwareUpdateDisplay::refresh() {
    hideMessage();
    FirmwareUpdateModel* model = MeterModel::instance()->getFirmwareUpdateModel();
    model->refresh();
    console::print("network status = %d\n", model->getNetworkStatus());
    const std::string message = statusMessage(model->getNetworkStatus(), model->getUsbStatus());
    if (!message.empty()) showMessage(message.c_str());
    getInput(kCurrentRow)->value(model->getCurrentVersion().c_str());
    getInput(kInternetRow)->value(model->getInternetVersion().c_str());
    getInput(kUsbRow)->value(model->getUsbVersion().c_str());
}

bool isInternetFirmwareUpdateAvailable() {
    return MeterModel::instance()->getFirmwareUpdateModel()->isInternetUpdateAvailable();
}

bool isUsbFirmwareUpdateAvailable() {
    return MeterModel::instance()->getFirmwareUpdateModel()->isUsbUpdateAvailable();
}
