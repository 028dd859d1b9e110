// The instrument's IP network settings, read from and handed back to the
// network script (/usr/sbin/tvl4700-network.sh):
//   --read                      prints: mode ("dhcp" or another word), IP
//                               address, netmask, gateway, DNS server, extra
//   --write dhcp                switches to DHCP
//   --write IP MASK NET GW DNS EXTRA
//                               sets a manual configuration; NET is IP AND MASK
// The script runs without a shell; each field is one argument word.
#pragma once

#include <mutex>
#include <string>
#include <vector>

class NetworkConfiguration {
public:
    // Bits returned by apply() for fields that were refused.
    enum InvalidField {
        kInvalidIpAddress = 1,
        kInvalidNetmask = 2,
        kInvalidGateway = 4,
        kInvalidDnsServer = 8,
        kInvalidExtra = 16,   // blanks or control characters, or too long
    };

    // Sets the defaults, then reads the present settings through the script.
    NetworkConfiguration();
    virtual ~NetworkConfiguration() = default;
    NetworkConfiguration(const NetworkConfiguration&) = delete;
    NetworkConfiguration& operator=(const NetworkConfiguration&) = delete;

    int getAddressMode() const;            // 0 DHCP, otherwise manual
    void setAddressMode(int mode);
    std::string getIpAddress() const;
    std::string getNetmask() const;
    std::string getGateway() const;
    std::string getDnsServer() const;
    std::string getExtra() const;
    // The setters only store the text; nothing changes until apply().
    void setIpAddress(const std::string& text);
    void setNetmask(const std::string& text);
    void setGateway(const std::string& text);
    void setDnsServer(const std::string& text);
    void setExtra(const std::string& text);

    // Runs the script's write form and returns 0, or returns the bits of the
    // invalid fields (manual mode) and runs nothing.  The script's own exit
    // status is only printed.  Blocks until the script ends.
    int apply();

private:
    void readFromScript();

    mutable std::mutex mutex;   // SCPI threads read while the form writes
    int addressMode = 0;
    std::string ipAddress = "169.254.15.181";
    std::string netmask = "255.255.0.0";
    std::string gateway = "169.254.1.1";
    std::string dnsServer = "169.254.1.1";
    std::string extra;
};
