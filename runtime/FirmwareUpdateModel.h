// What the firmware-update form can offer, learnt from four status scripts
// under /usr/sbin, each printing one line of words:
//   tvl4700-nwstatus.sh   "no" ... no network; "<any> no" network without
//                         internet; anything else internet reachable
//   tvl4700-fwcurrent.sh  the installed version
//   tvl4700-fwnetwork.sh  "true" when a newer version is offered, then that version
//   tvl4700-fwusb.sh      "nodrive", "nofile" or the update file's version
// Running an update is not done here.
#pragma once

#include <string>

class FirmwareUpdateModel {
public:
    FirmwareUpdateModel() = default;   // runs no script
    virtual ~FirmwareUpdateModel() = default;

    // Runs the scripts and updates every field; blocks until they end.
    void refresh();

    int getNetworkStatus() const { return networkStatus; }   // 0 none, 1 no internet, 2 internet
    int getUsbStatus() const { return usbStatus; }           // 0 no drive, 1 no update file, 2 update file
    std::string getCurrentVersion() const { return currentVersion; }
    std::string getInternetVersion() const { return internetVersion; }
    std::string getUsbVersion() const { return usbVersion; }
    bool isInternetUpdateAvailable() const { return internetUpdateAvailable; }
    bool isUsbUpdateAvailable() const { return usbUpdateAvailable; }

private:
    int networkStatus = 0;
    int usbStatus = 0;
    std::string currentVersion = "Unknown";
    std::string internetVersion = "Unknown";
    std::string usbVersion = "Unknown";
    bool internetUpdateAvailable = false;
    bool usbUpdateAvailable = false;
};
