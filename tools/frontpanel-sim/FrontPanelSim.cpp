#include "tools/frontpanel-sim/FrontPanelSim.h"

#include "can/CANinterface.h"
#include "can/FrameCodec.h"
#include "console/Console.h"
#include "platform/CanTransport.h"

#include <cstdio>
#include <sstream>

namespace {

const char* const kChannelKeys[8] = {"Range", "Mode", "Hold", "Reset holds",
                                     "Relative", "Zero", "Down", "Up"};

constexpr int kBack = 31;
constexpr int kEnter = 32;

// Frames from the host (node 1) to the front panel (node 0) and the power supply (node 6).
constexpr can_filter kReceiveFilters[] = {
    {0x100, 0x7E0},
    {0x1C0, 0x7E0},
};

}  // namespace

bool parseVersion(const std::string& text, FirmwareVersion& version) {
    int major = -1, minor = -1;
    char extra;
    if (std::sscanf(text.c_str(), "%d.%d%c", &major, &minor, &extra) != 2) return false;
    if (major < 0 || major > 255 || minor < 0 || minor > 255) return false;
    version.major = major;
    version.minor = minor;
    return true;
}

std::string keyName(int code) {
    if (code >= 1 && code <= 6) return "Soft key " + std::to_string(code);
    if (code >= 7 && code <= 30) {
        const int channel = (code - 7) / 8 + 1;
        return "Channel " + std::to_string(channel) + " " + kChannelKeys[(code - 7) % 8];
    }
    if (code == kBack) return "Back";
    if (code == kEnter) return "Enter";
    return "";
}

std::string keyMapText() {
    std::ostringstream s;
    s << "Keys:  1-6 soft keys (top to bottom)   31 Back   32 Enter\n";
    for (int channel = 1; channel <= 3; ++channel) {
        s << "  Channel " << channel << ":";
        for (int k = 0; k < 8; ++k) s << "  " << 7 + 8 * (channel - 1) + k << " " << kChannelKeys[k];
        s << "\n";
    }
    return s.str();
}

FrontPanelSim::FrontPanelSim(const char* interfaceName, const Options& opts)
    : options(opts), powerOnMode(opts.powerOnMode) {
    receiver = platform::openCanTransport(interfaceName);
    sender = std::make_unique<CANinterface>(interfaceName);
    sender->setFilter(0x7FF, 0x7FF);   // sends only; 0x7FF is no node's frame
    if (receiver->valid()) {
        receiver->setFilters(kReceiveFilters, sizeof kReceiveFilters / sizeof kReceiveFilters[0]);
        reader = std::thread(&FrontPanelSim::readerLoop, this);
    }
    if (powerOnMode >= 0) sender->sendPowerOnMode(powerOnMode);
}

FrontPanelSim::~FrontPanelSim() {
    running = false;
    if (receiver) receiver->wake();
    if (reader.joinable()) reader.join();
}

bool FrontPanelSim::valid() const { return receiver && receiver->valid(); }

int FrontPanelSim::pressKey(int code) { return sender->sendKeyPressed(code); }

int FrontPanelSim::reportPowerOnMode(int mode) {
    powerOnMode = mode;
    return sender->sendPowerOnMode(mode);
}

void FrontPanelSim::print(const std::string& line) {
    if (!options.quiet) console::print("%s\n", line.c_str());
}

void FrontPanelSim::readerLoop() {
    while (running) {
        can_frame frame{};
        const ssize_t n = receiver->read(frame, 500);
        if (n != static_cast<ssize_t>(sizeof frame)) continue;   // nothing, an error or a short frame
        handleFrame(static_cast<int>(frame.can_id & CAN_SFF_MASK), frame.can_dlc, frame.data);
    }
}

void FrontPanelSim::handleFrame(int id, int /*length*/, const unsigned char* d) {
    std::ostringstream s;
    switch (id) {
    case 0x100:
        s << "Key backlight: " << keyName(d[0]) << " (key " << int(d[0]) << ") level " << int(d[1]);
        break;
    case 0x101:
        s << "Key brightness: " << int(d[0]);
        break;
    case 0x103:
        s << "LCD brightness: " << int(d[0]);
        break;
    case 0x104:
        s << "Bootload notice to the front panel: " << can::getBE16(d);
        break;
    case 0x1C4:
        s << "Bootload notice to the power supply: " << can::getBE16(d);
        break;
    case 0x109: {
        const char reply[3] = {static_cast<char>(options.frontPanel.major), 0,
                               static_cast<char>(options.frontPanel.minor)};
        sender->sendRawFrame(0x029, 3, reply);
        s << "Front-panel version request: answered " << options.frontPanel.major << "."
          << options.frontPanel.minor;
        break;
    }
    case 0x1C9: {
        const char reply[3] = {static_cast<char>(options.powerSupply.major), 0,
                               static_cast<char>(options.powerSupply.minor)};
        sender->sendRawFrame(0x629, 3, reply);
        s << "Power-supply version request: answered " << options.powerSupply.major << "."
          << options.powerSupply.minor;
        break;
    }
    case 0x10B:
        reportPowerOnMode(d[0]);
        s << "Power-on mode set: " << (d[0] ? "run" : "standby") << " at power on";
        break;
    case 0x10C:
        s << "Host ready";
        if (powerOnMode >= 0) {
            sender->sendPowerOnMode(powerOnMode);
            s << "; power-on mode reported: " << (powerOnMode ? "run" : "standby");
        }
        break;
    default:
        return;
    }
    print(s.str());
}
