#include "runtime/FirmwareUpdateModel.h"

#include "platform/Platform.h"

#include <sstream>

namespace {

// The first two blank-separated words of a script's first output line
// (at most 255 characters); a missing word is empty.  False when the script
// could not be started.
struct Words {
    std::string first;
    std::string second;
};

bool runScript(const char* name, Words& words) {
    std::string output;
    if (platform::runCommandOutput({platform::script(name)}, output) < 0) return false;
    std::string line = output.substr(0, output.find('\n'));
    if (line.size() > 255) line.resize(255);
    std::istringstream in(line);
    words = Words{};
    in >> words.first >> words.second;
    return true;
}

}  // namespace

void FirmwareUpdateModel::refresh() {
    internetUpdateAvailable = false;
    internetVersion = "N/A";
    usbUpdateAvailable = false;

    Words words;
    if (runScript("tvl4700-nwstatus.sh", words)) {
        if (words.first == "no")
            networkStatus = 0;
        else if (words.second == "no")
            networkStatus = 1;
        else
            networkStatus = 2;
    }

    if (runScript("tvl4700-fwcurrent.sh", words)) currentVersion = words.first;

    if (networkStatus == 2 && runScript("tvl4700-fwnetwork.sh", words)) {
        if (!words.second.empty()) internetVersion = words.second;
        internetUpdateAvailable = words.first == "true";
    }

    usbVersion = "N/A";
    if (runScript("tvl4700-fwusb.sh", words)) {
        if (words.first == "nodrive") {
            usbStatus = 0;
        } else if (words.first == "nofile") {
            usbStatus = 1;
        } else {
            usbStatus = 2;
            usbVersion = words.first;
            usbUpdateAvailable = true;
        }
    }
}
