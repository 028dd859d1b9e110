// The small files the program reads: the file manager's counters (fileio),
// the mounts file it looks for the USB drive in, the channel-processor
// program (chanproc.a00) and the bootloader's duration log (bootload.log).
// The input is read as each of them.  A USB mount point found must be an
// absolute path that never climbs with "..", and the program's frames must
// be the two-character tokens in pairs.
#include "FuzzSupport.h"

#include "meter/DelfinoBootloader.h"
#include "platform/Platform.h"
#include "runtime/FileIoManager.h"

#include <sstream>

namespace {

bool climbs(const std::string& path) {
    std::istringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/'))
        if (part == "..") return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::sandbox();
    const std::string input = fuzz::text(data, size);

    fuzz::writeFile(platform::dataFile("fileio"), input);
    fuzz::writeFile(platform::resolve(platform::path::kMounts), input);
    {
        FileIoManager files;
        if (files.findUsbDrive()) {
            const std::string dir = files.getMountPoint();
            if (dir.empty() || dir[0] != '/' || climbs(dir)) fuzz::fail("USB mount point taken: " + dir);
        }
    }

    std::size_t tokens = 0;
    std::istringstream words(input);
    for (std::string w; words >> w;)
        if (w.size() == 2) ++tokens;
    if (DelfinoBootloader::programFrames(input).size() != tokens / 2) fuzz::fail("program frames miscounted");
    DelfinoBootloader::parseLog(input);
    return 0;
}
