// The network settings page: address mode (DHCP or manual) and the four
// address fields, loaded once from the meter model's NetworkConfiguration.
// Rows: 0 choice "Address Mode: " (DHCP|Manual), 1-4 read-only fields "IP
// Address: ", "Netmask: ", "Gateway: ", "DNS Server: ", then the status box.
//
// GUI thread, or a thread holding the toolkit lock, except applyToSystem.
#pragma once

#include "widgets/Form.h"

#include <string>

class NetworkConfigDisplay : public Form {
public:
    NetworkConfigDisplay(int x, int y, int w, int h, const char* label = nullptr);

    // True when "Manual" is selected; false for "DHCP" or no selection.
    bool isManual() const;
    // DHCP <-> Manual; selects DHCP when nothing is selected.
    void toggleAddressMode();
    // Copies the page into the meter model's NetworkConfiguration (the
    // addresses only in manual mode); applies nothing to the system.
    void applySettings();

    // The front panel's apply: hides the status box, applySettings, then
    // NetworkConfiguration::apply, which runs the network script only when
    // every field is a valid address.  Refused fields are named in the
    // status box.  Returns apply's bits (0: applied).  Takes the toolkit lock
    // only around the widget changes, so the caller must not hold it while
    // the script runs if the screen is to stay live.
    int applyToSystem();

    // The status text for apply's bits (1 IP address, 2 netmask, 4 gateway,
    // 8 DNS server): "Invalid " and the names, "" for none.
    static std::string invalidFieldsMessage(int bits);
};
