// What the models read from the platform's scripts: the network script's
// "--read" line (NetworkConfiguration) and the four firmware status scripts
// (FirmwareUpdateModel).  Each script of the fuzzer's sandbox prints the
// input; the models run them as they run the instrument's.
#include "FuzzSupport.h"

#include "platform/Platform.h"
#include "runtime/FirmwareUpdateModel.h"
#include "runtime/NetworkConfiguration.h"

#include <sys/stat.h>

namespace {

const char* const kScripts[] = {"tvl4700-network.sh", "tvl4700-nwstatus.sh", "tvl4700-fwcurrent.sh",
                                "tvl4700-fwnetwork.sh", "tvl4700-fwusb.sh"};

const std::string& outputFile() {
    static const std::string file = [] {
        const std::string out = fuzz::sandbox() + "/etc/standin/fuzz.out";
        // Stand-ins of the fuzzer's own: one shell and one cat, no log.
        for (const char* name : kScripts) {
            const std::string script = platform::script(name);
            fuzz::writeFile(script, "#!/bin/sh\nexec cat '" + out + "'\n");
            chmod(script.c_str(), 0755);
        }
        return out;
    }();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& out = outputFile();
    fuzz::writeFile(out, fuzz::text(data, size));
    NetworkConfiguration network;
    network.getIpAddress();
    network.apply();   // refuses bad addresses; otherwise runs the script, which prints
    FirmwareUpdateModel firmware;
    firmware.refresh();
    return 0;
}
