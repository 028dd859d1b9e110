// The meter settings file (bp, also what a restored profile leaves): read
// into a meter model through its setters.  The file the model then writes
// must read back to the same file.
#include "FuzzSupport.h"

namespace {

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Meter& m = fuzz::sharedMeter();
    const std::string file = m.getSettingsPath();
    fuzz::writeFile(file, fuzz::text(data, size));
    m.loadSettings();
    m.stopSaveTimer();
    const std::string written = m.settingsFileContents();
    fuzz::writeFile(file, written);
    m.loadSettings();
    m.stopSaveTimer();
    const std::string again = m.settingsFileContents();
    if (again != written) fuzz::fail("settings do not read back:\n" + written + "--- became ---\n" + again);
    return 0;
}
