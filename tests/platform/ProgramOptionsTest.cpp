// Every program takes the platform's options: a sandbox that is no sandbox is
// refused before anything runs, and the CAN backend is the emulated bus
// unless SocketCAN is chosen.
#include "platform/CanTransport.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(ProgramOptions, EveryProgramRefusesASandboxThatIsNoSandbox) {
    testsupport::TempSandbox box;
    const std::string plain = box.path() + "/plain";
    ASSERT_TRUE(platform::makeDirs(plain));
    const struct {
        std::string dir;
        const char* reason;
    } bad[] = {{"/", "root folder"}, {"/tmp/..", "root folder"}, {box.path() + "/missing", "no such folder"},
               {plain, "not a sandbox"}};
    for (const char* program : {"tvl4700", "mendra", "frontpanel-sim", "canbus-send", "canbus-dump"}) {
        for (const auto& b : bad) {
            testsupport::ChildProcess p;
            ASSERT_TRUE(p.start(testsupport::binPath(program), {"-sandbox", b.dir, "-can", "can0", "can0", "16A#"}));
            int status = p.wait(20s);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << program << " " << b.dir;
            EXPECT_NE(p.output().find("refusing the sandbox " + b.dir + ": "), std::string::npos) << p.output();
            EXPECT_NE(p.output().find(b.reason), std::string::npos) << p.output();
        }
    }
    struct stat st;
    EXPECT_NE(stat((box.path() + "/missing").c_str(), &st), 0);  // nothing made on the way
}

TEST(ProgramOptions, SocketCanIsUsedOnlyWhenChosen) {
    testsupport::TempSandbox box;
    // Whatever interfaces the machine has, the names the programs use are
    // emulated buses.
    for (const char* name : {"can0", "vcan0", "lo"}) EXPECT_STREQ(platform::openCanTransport(name)->backendName(), "emulated");
    // Chosen, SocketCAN is used or fails: never an emulated bus instead.
    platform::setCanBackend(platform::CanBackend::SocketCan);
    auto missing = platform::openCanTransport("tvlnosuchif0");
    platform::setCanBackend(platform::CanBackend::Emulated);
    EXPECT_FALSE(missing->valid());
    EXPECT_STREQ(missing->backendName(), "socketcan");
}

}  // namespace
