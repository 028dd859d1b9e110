// crash-writer [-sandbox DIR] KIND: rewrites one data file of the instrument
// in a loop, through the model that owns it, until it is killed.
//
//   bp, ch1, ch2, ch3   the meter's or a channel's settings file, in two
//                       states taken in turn
//   errs                the SCPI error queue's file, in two states
//   fileio              the file manager's counters: every round starts a
//                       data log (the next number) and throws it away
//
// Before the loop it writes each of the two states once and copies the file
// to <file>.expected0 and <file>.expected1 (not for fileio), then prints
// "ready".
#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "runtime/FileIoManager.h"
#include "status/ScpiErrorQueue.h"
#include "status/ScpiRegisterManager.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

namespace {

class Meter : public MeterModel {
public:
    Meter() : MeterModel("unused") {}
};

// Slot 2 has a ready probe, so a single-channel log can start.
class Source : public DataLogSource {
public:
    bool isThreeChannelModel() override { return false; }
    bool readChannel(unsigned slot, DataLogChannel& out) override {
        out = DataLogChannel{};
        out.reportFormat = "%f";
        return slot == 2;
    }
};

void copyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
}

// Writes the two states once each (keeping copies), then alternates forever.
[[noreturn]] void alternate(const std::string& file, const std::function<void(int)>& write) {
    for (int state = 0; state < 2; ++state) {
        write(state);
        copyFile(file, file + ".expected" + std::to_string(state));
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (int state = 0;; state ^= 1) write(state);
}

}  // namespace

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);
    const std::string kind = argc > 1 ? argv[1] : "";
    if (kind == "bp") {
        Meter meter;
        alternate(meter.getSettingsPath(), [&](int state) {
            meter.setGpibAddress(state == 0 ? 5 : 17);
            meter.setLcdLevel(state == 0 ? 3 : 8);
            meter.saveSettings();
        });
    }
    if (kind == "ch1" || kind == "ch2" || kind == "ch3") {
        ChannelModel channel(kind[2] - '0', "unused");
        alternate(channel.getSettingsPath(), [&](int state) {
            channel.setHoldActive(state == 1);
            channel.setCdacScaling(state == 0 ? 30 : 100);
            channel.saveSettings();
        });
    }
    if (kind == "errs") {
        ErrorList catalogue;
        catalogue.add(-100, 2, "", "", "", "Command error", false, true);
        catalogue.add(-200, 2, "", "", "", "Execution error", false, true);
        ScpiRegisterManager status;
        ScpiErrorQueue queue(platform::dataFile("errs"), catalogue, status);
        alternate(platform::dataFile("errs"), [&](int state) {
            queue.clear();
            for (int i = 0; i <= state * 5; ++i) {
                std::unique_ptr<TvlError> record = catalogue.lookup(state == 0 ? -100 : -200);
                record->setDetail("entry " + std::to_string(i) + " of state " + std::to_string(state));
                queue.push(std::move(record));
            }
            queue.save();
        });
    }
    if (kind == "fileio") {
        Source source;
        FileIoManager files;
        files.setDataLogSource(&source);
        for (bool first = true;; first = false) {
            files.startLoggingSingleChannel(FileIoManager::kInternal, 2);
            files.discardLog();
            if (first) {
                std::printf("ready\n");
                std::fflush(stdout);
            }
        }
    }
    std::fprintf(stderr, "usage: crash-writer [-sandbox DIR] bp|ch1|ch2|ch3|errs|fileio\n");
    return 2;
}
