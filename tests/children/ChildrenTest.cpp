// A program a test starts ends with the test, whatever way the test program
// ends, and its sandbox goes: child-leaver starts mendra, makes a sandbox and
// ends without stopping or removing either.
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

TEST(TestSandboxes, GoWithTheirTestProgramOrWithTheNextOne) {
    testsupport::TempSandbox sandbox;
    for (const std::string mode : {"exit", "_exit", "abort", "wait"}) {
        SCOPED_TRACE(mode);
        testsupport::ChildProcess leaver;
        ASSERT_TRUE(leaver.start(std::string(TVL_BUILD_DIR) + "/tests/child-leaver", {mode, sandbox.path()}));
        ASSERT_TRUE(leaver.waitForOutput("mendra ", 30s)) << leaver.output();
        const std::string out = leaver.output();
        const std::size_t at = out.find("sandbox ");
        ASSERT_NE(at, std::string::npos) << out;
        const std::string left = out.substr(at + 8, out.find('\n', at) - at - 8);
        ASSERT_EQ(left.rfind("/tmp/tvl-test-", 0), 0u) << left;
        if (mode == "wait") {
            // A program that lives on keeps its sandbox.
            testsupport::removeStaleSandboxes();
            EXPECT_TRUE(testsupport::exists(left)) << "removed while its owner runs";
            kill(leaver.pid(), SIGKILL);   // as ctest's time-out ends a test
        }
        ASSERT_NE(leaver.wait(30s), -1);
        // Its mendra, which writes into the sandbox, ends with it.
        pid_t child = 0;
        std::istringstream(out.substr(out.find("mendra ") + 7)) >> child;
        ASSERT_GT(child, 0) << out;
        ASSERT_TRUE(testsupport::waitUntil([&] { return mendraGone(child); }, 10s));
        // exit() removes it at once; after the other ends the next test
        // program removes what was left, and only that.
        if (mode != "exit") {
            EXPECT_TRUE(testsupport::exists(left));
            testsupport::removeStaleSandboxes();
        }
        EXPECT_FALSE(testsupport::exists(left)) << "left behind: " << left;
        EXPECT_TRUE(testsupport::exists(sandbox.path())) << "the sandbox of a program that runs";
    }
}
