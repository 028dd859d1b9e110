// The error catalogue (ErrorDefinitions.csv) and the SCPI error queue's file
// (errs).  The input is read as a catalogue, and as a queue file against
// that catalogue; the queue the model then writes must read back to the
// same file.
#include "FuzzSupport.h"

#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "status/ScpiErrorQueue.h"
#include "status/ScpiRegisterManager.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::sandbox();
    const std::string input = fuzz::text(data, size);
    const std::string catalogueFile = platform::dataFile("fuzz-catalogue.csv");
    const std::string queueFile = platform::dataFile("fuzz-errs");
    fuzz::writeFile(catalogueFile, input);
    fuzz::writeFile(queueFile, input);

    ErrorList catalogue;
    catalogue.load(catalogueFile);
    for (int code : {-100, -200, -350, 0, 1})
        if (!catalogue.lookup(code)) fuzz::fail("lookup gave no record");

    ScpiRegisterManager status;
    std::string written;
    {
        ScpiErrorQueue queue(queueFile, catalogue, status);
        if (queue.size() > ScpiErrorQueue::kCapacity + 1) fuzz::fail("queue beyond its capacity");
        queue.save();
        written = fuzz::readFile(queueFile);
    }
    ScpiErrorQueue again(queueFile, catalogue, status);
    again.save();
    if (fuzz::readFile(queueFile) != written)
        fuzz::fail("error queue does not read back:\n" + written + "--- became ---\n" + fuzz::readFile(queueFile));
    return 0;
}
