// The firmware-update page: the installed version and the versions offered
// on the internet and on a USB drive, with the network and USB problems in
// the status box.  Rows (read-only fields): 0 "Current Version: ", 1
// "Internet Version: ", 2 "USB Drive Version: ".
//
// GUI thread, or a thread holding the toolkit lock.
#pragma once

#include "widgets/Form.h"

#include <string>

class FirmwareUpdateDisplay : public Form {
public:
    FirmwareUpdateDisplay(int x, int y, int w, int h, const char* label = nullptr);

    // Has the meter model's FirmwareUpdateModel run its status scripts
    // (blocks until they end), then shows the versions and what stands in
    // the way of an update.
    void refresh();

    // The status text for a network status (0 cable unplugged, 1 no
    // internet, 2 internet) and a USB status (0 no drive, 1 no update file,
    // 2 update file); "" when neither is a problem.
    static std::string statusMessage(int networkStatus, int usbStatus);
};

// What the last refresh found on offer.
bool isInternetFirmwareUpdateAvailable();
bool isUsbFirmwareUpdateAvailable();
