// The channel settings file (ch1-ch3, also what a restored profile leaves):
// read into a channel model through its setters.  The file the model then
// writes must read back to the same file.
#include "FuzzSupport.h"

#include "platform/Platform.h"

namespace {

fuzz::Channel& channel() {
    static fuzz::Channel* ch = [] {
        fuzz::sandbox();
        ChannelModel::setSettingPause(std::chrono::milliseconds(0));
        return new fuzz::Channel(2);   // kept for the life of the process
    }();
    return *ch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Channel& ch = channel();
    const std::string file = ch.getSettingsPath();
    fuzz::writeFile(file, fuzz::text(data, size));
    ch.loadSettings();
    ch.stopSaveTimer();
    const std::string written = ch.fileContents();
    fuzz::writeFile(file, written);
    ch.loadSettings();
    ch.stopSaveTimer();
    const std::string again = ch.fileContents();
    if (again != written) fuzz::fail("settings do not read back:\n" + written + "--- became ---\n" + again);
    return 0;
}
