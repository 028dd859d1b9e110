// The SCPI command table loader: a table file builds the command tree of a
// server, which then takes a few ordinary command lines.
#include "FuzzSupport.h"

#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "scpi/ScpiServerMemory.h"
#include "status/ScpiErrorQueue.h"
#include "status/ScpiRegisterManager.h"

namespace {

struct Instrument {
    Instrument() {
        catalogue.load(platform::dataFile("ErrorDefinitions.csv"));
        errors = std::make_unique<ScpiErrorQueue>(platform::dataFile("errs"), catalogue, status);
    }
    fuzz::Meter* meter = &fuzz::sharedMeter();
    ErrorList catalogue;
    ScpiRegisterManager status;
    std::unique_ptr<ScpiErrorQueue> errors;
};

Instrument& instrument() {
    static Instrument* made = new Instrument;   // kept for the life of the process
    return *made;
}

const char* const kLines[] = {
    "*IDN?", ":MEAS:FLUX?", ":MEAS2:FLUX?;:UNIT:FLUX?", ":SYST:ERR?", "*CLS", ":STAT:OPER:COND?",
    ":MEASURE:FLUX:ALL?", "meas3:temp?", ":SENS:FLUX:RANG?", "*ESR?", ":A:B:C:D:E:F?",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Instrument& in = instrument();
    const std::string table = platform::dataFile("fuzz-table.csv");
    fuzz::writeFile(table, fuzz::text(data, size));
    ScpiServerMemory server(ScpiServer::Services{in.meter, in.errors.get(), &in.status, &in.catalogue, table});
    for (const char* line : kLines) server.command(line);
    return 0;
}
