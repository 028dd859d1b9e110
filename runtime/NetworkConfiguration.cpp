#include "runtime/NetworkConfiguration.h"

#include "console/Console.h"
#include "platform/Platform.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <sstream>

namespace {

constexpr const char* kScriptName = "tvl4700-network.sh";
constexpr std::size_t kMaxLine = 255;

// A dotted address as one plain word: inet_aton must accept the whole text
// (it would also take an address followed by a blank and anything else).
bool parseAddress(const std::string& text, in_addr& out) {
    if (text.empty() || text.size() > kMaxLine) return false;
    for (unsigned char c : text)
        if (!std::isalnum(c) && c != '.') return false;
    return inet_aton(text.c_str(), &out) != 0;
}

// The extra word goes back to the script unchanged: empty, or one word of
// printable characters.
bool isPlainWord(const std::string& text) {
    if (text.size() > kMaxLine) return false;
    for (unsigned char c : text)
        if (c <= ' ' || c >= 0x7F) return false;
    return true;
}

std::string scriptPath() { return std::string(platform::path::kScriptDir) + "/" + kScriptName; }

}  // namespace

NetworkConfiguration::NetworkConfiguration() { readFromScript(); }

void NetworkConfiguration::readFromScript() {
    std::string output;
    if (platform::runCommandOutput({platform::script(kScriptName), "--read"}, output) < 0) return;
    std::string line = output.substr(0, output.find('\n'));
    if (line.size() > kMaxLine) line.resize(kMaxLine);
    std::istringstream words(line);
    std::string mode;
    if (!(words >> mode)) return;
    std::lock_guard<std::mutex> lock(mutex);
    addressMode = mode == "dhcp" ? 0 : 1;
    for (std::string* field : {&ipAddress, &netmask, &gateway, &dnsServer, &extra}) {
        std::string word;
        if (!(words >> word)) break;
        *field = word;
    }
}

int NetworkConfiguration::getAddressMode() const {
    std::lock_guard<std::mutex> lock(mutex);
    return addressMode;
}

void NetworkConfiguration::setAddressMode(int mode) {
    std::lock_guard<std::mutex> lock(mutex);
    addressMode = mode;
}

std::string NetworkConfiguration::getIpAddress() const {
    std::lock_guard<std::mutex> lock(mutex);
    return ipAddress;
}

std::string NetworkConfiguration::getNetmask() const {
    std::lock_guard<std::mutex> lock(mutex);
    return netmask;
}

std::string NetworkConfiguration::getGateway() const {
    std::lock_guard<std::mutex> lock(mutex);
    return gateway;
}

std::string NetworkConfiguration::getDnsServer() const {
    std::lock_guard<std::mutex> lock(mutex);
    return dnsServer;
}

std::string NetworkConfiguration::getExtra() const {
    std::lock_guard<std::mutex> lock(mutex);
    return extra;
}

void NetworkConfiguration::setIpAddress(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    ipAddress = text;
}

void NetworkConfiguration::setNetmask(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    netmask = text;
}

void NetworkConfiguration::setGateway(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    gateway = text;
}

void NetworkConfiguration::setDnsServer(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    dnsServer = text;
}

void NetworkConfiguration::setExtra(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    extra = text;
}

int NetworkConfiguration::apply() {
    console::print("NetworkConfiguration::apply()\n");
    int mode;
    std::string ip, mask, gw, dns, ext;
    {
        std::lock_guard<std::mutex> lock(mutex);
        mode = addressMode;
        ip = ipAddress;
        mask = netmask;
        gw = gateway;
        dns = dnsServer;
        ext = extra;
    }

    std::vector<std::string> argv{platform::script(kScriptName), "--write"};
    if (mode == 0) {
        argv.push_back("dhcp");
    } else {
        int invalid = 0;
        in_addr ipAddr{}, maskAddr{}, unused{};
        if (!parseAddress(ip, ipAddr)) {
            console::print("Invalid IP address: %s(0)\n", ip.c_str());
            invalid |= kInvalidIpAddress;
        }
        if (!parseAddress(mask, maskAddr)) {
            console::print("Invalid Netmask: %s\n", mask.c_str());
            invalid |= kInvalidNetmask;
        }
        if (!parseAddress(gw, unused)) {
            console::print("Invalid Gateway: %s\n", gw.c_str());
            invalid |= kInvalidGateway;
        }
        if (!dns.empty() && !parseAddress(dns, unused)) invalid |= kInvalidDnsServer;
        if (!isPlainWord(ext)) invalid |= kInvalidExtra;
        if (invalid != 0) {
            return invalid;
        }
        in_addr network{};
        network.s_addr = ipAddr.s_addr & maskAddr.s_addr;
        char networkText[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &network, networkText, sizeof networkText);
        // An empty DNS server stays an (empty) word of its own, so the words
        // after it keep their places.
        for (const std::string* word : {&ip, &mask}) argv.push_back(*word);
        argv.push_back(networkText);
        for (const std::string* word : {&gw, &dns, &ext}) argv.push_back(*word);
    }

    std::string shown = scriptPath();
    for (std::size_t i = 1; i < argv.size(); ++i) shown += " " + argv[i];
    console::print("cmd: %s\n", shown.c_str());
    int rc = platform::runCommand(argv);
    console::print("rc = %d", rc);
    return 0;
}
