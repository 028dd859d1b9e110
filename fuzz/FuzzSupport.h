// What the fuzzing harnesses share: a sandbox of their own, files written
// from the input, a CAN endpoint that swallows every frame, channel and
// meter models whose card and backplane links are such endpoints, and the
// way a harness reports a broken property.
#pragma once

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CANinterface;

namespace fuzz {

// The process's sandbox, made on the first call: a folder tvl-fuzz-XXXXXX
// in /dev/shm (else /tmp) filled from the repository's template and made current
// with platform::setSandboxRoot; removed when the process exits normally.
// It has no console device, so tones are not sounded (nor waited for).
const std::string& sandbox();

std::string text(const std::uint8_t* data, std::size_t size);
// Replaces the file with the bytes (a plain write: the loaders only read).
void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);

// Ends the run as a crash, so that the fuzzer keeps the input.
[[noreturn]] void fail(const std::string& what);

// A card link whose endpoint takes every frame and delivers none.
std::shared_ptr<CANinterface> nullLink();

// A channel model with a null link, connected to it as startCan connects a
// real one (probe, hello, card event, card ready and the reply handlers),
// without a reader thread: the harness decodes frames into the link itself.
class Channel : public ChannelModel {
public:
    explicit Channel(int slot);
    CANinterface& cardLink() { return *link(); }
    void stopSaveTimer() { settingsSaveTimer.stop(); }
    std::string fileContents() const { return settingsFileContents(); }
};

// A three-channel meter model whose channels are Channel models and whose
// backplane link is a null link with the meter's handlers connected.
class Meter : public MeterModel {
public:
    explicit Meter(bool threeChannels = true);
    Channel& channel(unsigned slot) { return *slots[slot - 1]; }
    CANinterface& busLink() { return *backplaneLink; }
    void stopSaveTimer() { saveTimer.stop(); }

private:
    Channel* slots[kSlotCount] = {};
};

// The one meter of this fuzzer process (in its sandbox, no setting pauses,
// no save timer), made on first use and kept for the life of the process.
Meter& sharedMeter();

// A CAN interface name for this process.
std::string busName();

}  // namespace fuzz
