// Server ports and addresses of the PC build: per-sandbox ports, port 0
// announced, loopback only.
#include "platform/Network.h"
#include "support/TestSupport.h"

#include <netinet/in.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

TEST(NetworkTest, PortsComeFromTheSandboxOrTheDefaults) {
    testsupport::TempSandbox sandbox;
    EXPECT_EQ(platform::tcpPort(platform::Service::Scpi), 5024);
    EXPECT_EQ(platform::tcpPort(platform::Service::Json), 6001);

    struct Case { const char* text; int scpi; int json; };
    const Case cases[] = {
        {"scpi: 15024\njson: 16001\n", 15024, 16001},
        {"json: 0\n", 5024, 0},
        {"scpi: 70000\njson: x\n", 5024, 6001},      // out of range, not a number
        {"scpi:-1\n", 5024, 6001},
    };
    for (const Case& c : cases) {
        writeFile(sandbox.path() + "/ports.conf", c.text);
        EXPECT_EQ(platform::tcpPort(platform::Service::Scpi), c.scpi) << c.text;
        EXPECT_EQ(platform::tcpPort(platform::Service::Json), c.json) << c.text;
    }
}

TEST(NetworkTest, ListensOnLoopbackAndAnnouncesItsPortInTheSandbox) {
    testsupport::TempSandbox sandbox;
    EXPECT_EQ(platform::listenAddress(), static_cast<std::uint32_t>(INADDR_LOOPBACK));
    platform::announcePort(platform::Service::Json, 40123);
    const std::string file = platform::announcedPortFile(platform::Service::Json);
    EXPECT_EQ(file, sandbox.path() + "/run/ports/json");
    EXPECT_EQ(readFile(file), "40123\n");
}

// The program's stop removes what it announced, and only that.
TEST(NetworkTest, WithdrawRemovesThisProcesssAnnouncements) {
    testsupport::TempSandbox sandbox;
    platform::announcePort(platform::Service::Scpi, 40124);
    const std::string scpi = platform::announcedPortFile(platform::Service::Scpi);
    const std::string json = platform::announcedPortFile(platform::Service::Json);
    const std::string gpib = sandbox.path() + "/run/ports/gpib";   // another program's
    writeFile(json, "40125\n");                                    // not announced by this process
    writeFile(gpib, "40126\n");
    platform::withdrawAnnouncedPorts();
    EXPECT_FALSE(std::ifstream(scpi).good());
    EXPECT_EQ(readFile(json), "40125\n");
    EXPECT_EQ(readFile(gpib), "40126\n");
}

}  // namespace
