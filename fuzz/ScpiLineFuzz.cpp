// The SCPI line processing: the bytes a client sends, cut into lines as
// every byte-stream transport cuts them, each line run through the line core
// and the command tree into the handlers, on a meter model with three
// channels.  Every reply must be one line (the transport ends it), and no
// command may get more than one.
#include "FuzzSupport.h"

#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "scpi/ScpiLineReader.h"
#include "scpi/ScpiServerMemory.h"
#include "status/ScpiErrorQueue.h"
#include "status/ScpiRegisterManager.h"

#include <algorithm>
#include <cstring>

namespace {

struct Instrument {
    Instrument() {
        catalogue.load(platform::dataFile("ErrorDefinitions.csv"));
        errors = std::make_unique<ScpiErrorQueue>(platform::dataFile("errs"), catalogue, status);
        server = std::make_unique<ScpiServerMemory>(ScpiServer::Services{
            meter, errors.get(), &status, &catalogue, platform::dataFile("SCPItable.csv")});
    }
    fuzz::Meter* meter = &fuzz::sharedMeter();
    ErrorList catalogue;
    ScpiRegisterManager status;
    std::unique_ptr<ScpiErrorQueue> errors;
    std::unique_ptr<ScpiServerMemory> server;
};

Instrument& instrument() {
    static Instrument* made = new Instrument;   // kept for the life of the process
    return *made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Instrument& in = instrument();
    // As the server's reader loop takes lines from its transport.
    std::size_t commands = 0;
    std::size_t replies = 0;
    ScpiLineReader reader;
    reader.feed(reinterpret_cast<const char*>(data), size);
    char buffer[ScpiServer::kLineBufferSize];
    for (;;) {
        std::memset(buffer, 0, sizeof buffer);
        const int n = reader.next(buffer, ScpiServer::kLineBufferSize - 1);
        if (n < 0) break;
        if (n == 0) continue;
        // The line ends at a zero byte, as the reader loop hands it on; the
        // line core runs every ';'-separated command of it.
        const std::string line(buffer);
        commands += static_cast<std::size_t>(std::count(line.begin(), line.end(), ';')) +
                    (!line.empty() && line.back() == ';' ? 0 : 1);
        for (const std::string& reply : in.server->command(line)) {
            if (reply.find_first_of("\r\n") != std::string::npos) fuzz::fail("reply of more than one line: " + reply);
            if (++replies > commands) fuzz::fail("more replies than commands, the last: " + reply);
        }
    }
    return 0;
}
