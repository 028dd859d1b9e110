// A program a test starts ends with the test, whatever way the test program
// ends: child-leaver starts mendra and ends without stopping it.
#include "support/TestSupport.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

using namespace std::chrono_literals;

namespace {

// What /proc says of pid: its command line and its state letter ("" when gone).
std::string commandOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
    std::string text;
    std::getline(in, text, '\0');
    return text;
}

char stateOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? '\0' : stat[close + 2];
}

// Gone, or a zombie that nobody reaps (the process that adopted it may not).
bool mendraGone(pid_t pid) {
    const std::string command = commandOf(pid);
    return command.find("mendra") == std::string::npos || stateOf(pid) == 'Z';
}

}  // namespace

TEST(TestChildren, EndWithTheTestProgramWhateverWayItEnds) {
    testsupport::TempSandbox sandbox;
    for (const std::string mode : {"exit", "_exit", "abort", "wait"}) {
        SCOPED_TRACE(mode);
        testsupport::ChildProcess leaver;
        ASSERT_TRUE(leaver.start(std::string(TVL_BUILD_DIR) + "/tests/child-leaver", {mode, sandbox.path()}));
        ASSERT_TRUE(leaver.waitForOutput("mendra ", 30s)) << leaver.output();
        if (mode == "wait") kill(leaver.pid(), SIGKILL);   // as ctest's time-out ends a test
        ASSERT_NE(leaver.wait(30s), -1);
        pid_t pid = 0;
        std::istringstream(leaver.output().substr(leaver.output().find("mendra ") + 7)) >> pid;
        ASSERT_GT(pid, 0) << leaver.output();
        const bool gone = testsupport::waitUntil([&] { return mendraGone(pid); }, 10s);
        if (!gone) kill(pid, SIGKILL);   // not left behind by this test either
        EXPECT_TRUE(gone) << "mendra " << pid << " still runs after its test program ended";
    }
}
