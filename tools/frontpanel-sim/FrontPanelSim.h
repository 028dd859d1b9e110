// FrontPanelSim: stands in for the front-panel controller (CAN node 0) and
// the power-supply board (node 6).  It presses keys (frame 0x020), answers
// the version requests 0x109 (with 0x029) and 0x1C9 (with 0x629), reports its
// power-on mode (0x02C) and prints the backlight, brightness and bootload
// frames that the host sends it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class CANinterface;
namespace platform { class CanTransport; }

struct FirmwareVersion {
    int major = 1;
    int minor = 0;
};

// Parses "major.minor" (each 0-255).
bool parseVersion(const std::string& text, FirmwareVersion& version);

// The key map, one line per key block, as printed for the user.
std::string keyMapText();
// Short name of a key code ("Soft key 3", "Channel 2 Zero", "Back" ...), or "" when unknown.
std::string keyName(int code);

class FrontPanelSim {
public:
    struct Options {
        FirmwareVersion frontPanel;
        FirmwareVersion powerSupply;
        int powerOnMode = -1;   // -1: not reported until the host sets one
        bool quiet = false;     // print nothing of the received frames
    };

    FrontPanelSim(const char* interfaceName, const Options& options);
    ~FrontPanelSim();

    bool valid() const;
    int pressKey(int code);
    // Stores and reports the power-on mode (1 run, 0 standby).
    int reportPowerOnMode(int mode);

private:
    void readerLoop();
    void handleFrame(int id, int length, const unsigned char* data);
    void print(const std::string& line);

    Options options;
    std::unique_ptr<platform::CanTransport> receiver;
    std::unique_ptr<CANinterface> sender;
    std::atomic<int> powerOnMode;
    std::atomic<bool> running{true};
    std::thread reader;
};
