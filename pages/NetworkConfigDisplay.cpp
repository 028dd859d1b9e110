#include "pages/NetworkConfigDisplay.h"

#include "meter/MeterModel.h"
#include "runtime/NetworkConfiguration.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>

namespace {

enum Row { kModeRow = 0, kIpRow, kNetmaskRow, kGatewayRow, kDnsRow };
enum Mode { kDhcp = 0, kManual = 1 };

const char* fieldText(const Form& form, int row) {
    const char* text = form.getInput(row)->value();
    return text ? text : "";
}

}  // namespace

NetworkConfigDisplay::NetworkConfigDisplay(int x, int y, int w, int h, const char* label) : Form(x, y, w, h, label) {
    addChoice("Address Mode: ", "DHCP|Manual");
    const NetworkConfiguration* config = MeterModel::instance()->getNetworkConfiguration();
    const struct {
        const char* label;
        std::string text;
    } fields[] = {
        {"IP Address: ", config->getIpAddress()},
        {"Netmask: ", config->getNetmask()},
        {"Gateway: ", config->getGateway()},
        {"DNS Server: ", config->getDnsServer()},
    };
    for (const auto& f : fields) addInput(f.label)->value(f.text.c_str());
    const int mode = config->getAddressMode();
    if (mode == kDhcp || mode == kManual) getChoice(kModeRow)->value(mode);
    addStatusBox();
    hideMessage();
    end();
}

bool NetworkConfigDisplay::isManual() const { return getChoice(kModeRow)->value() == kManual; }

void NetworkConfigDisplay::toggleAddressMode() {
    Fl_Choice* mode = getChoice(kModeRow);
    const int current = mode->value();
    mode->value(current < 0 ? 0 : (current + 1) % 2);
}

void NetworkConfigDisplay::applySettings() {
    NetworkConfiguration* config = MeterModel::instance()->getNetworkConfiguration();
    const bool manual = isManual();
    config->setAddressMode(manual ? kManual : kDhcp);
    if (!manual) return;
    config->setIpAddress(fieldText(*this, kIpRow));
    config->setNetmask(fieldText(*this, kNetmaskRow));
    config->setGateway(fieldText(*this, kGatewayRow));
    config->setDnsServer(fieldText(*this, kDnsRow));
}

int NetworkConfigDisplay::applyToSystem() {
    {
        gui::Lock lock;
        hideMessage();
        redraw();
    }
    applySettings();
    const int bits = MeterModel::instance()->getNetworkConfiguration()->apply();
    const std::string message = invalidFieldsMessage(bits);
    if (!message.empty()) {
        gui::Lock lock;
        showMessage(message.c_str());
        redraw();
    }
    return bits;
}

std::string NetworkConfigDisplay::invalidFieldsMessage(int bits) {
    static const char* const kNames[] = {" IP Address", "Netmask", "Gateway", "DNS Server"};
    int n = 0;
    for (int i = 0; i < 4; ++i) n += (bits >> i) & 1;
    if (n == 0) return "";
    std::string message = "Invalid ";
    int written = 0;
    for (int i = 0; i < 4; ++i) {
        if (!((bits >> i) & 1)) continue;
        if (written > 0) {
            if (n == 2)
                message += " and ";
            else
                message += n - written == 1 ? ", and " : ", ";
            // The status box has two lines: the third name starts the second.
            if (written == 2) message += "\n";
        }
        message += kNames[i];
        ++written;
    }
    return message;
}
