// The program's stop, each run in a child process of its own (a stop ends
// the process): its exit status when a file cannot be written, and its
// deadline when the stop is stuck and standard error is a pipe nobody reads.
#include "frontpanel/ProgramStop.h"

#include "meter/MeterModel.h"
#include "platform/Platform.h"
#include "runtime/Logger.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>

using testsupport::readFile;

namespace {

// Runs body (which ends in a stop) in a child whose standard output and
// error go to a pipe read into output.  Returns the child's wait status, or
// -1 when it has not ended within the deadline (it is killed then).
int runStopInChild(const std::function<void()>& body, std::string& output, std::chrono::seconds deadline) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    const pid_t pid = testsupport::forkTiedToTest();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        body();
        _exit(99);   // the stop never returns
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return -1;
    }
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    auto drain = [&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<std::size_t>(n));
    };
    int status = 0;
    const bool ended = testsupport::waitUntil(
        [&] {
            drain();
            return waitpid(pid, &status, WNOHANG) == pid;
        },
        deadline, std::chrono::milliseconds(20));
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    drain();
    close(out[0]);
    return ended ? status : -1;
}

class ProgramStopTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    std::string bus = testsupport::uniqueBusName("ps");
    std::string output;   // what the child printed
};

TEST_F(ProgramStopTest, AStopThatCannotWriteAFileSaysWhichAndEndsWithAFailure) {
    const std::string bp = platform::dataFile("bp");
    testsupport::writeFile(bp, "angleunits: 0\n");
    const int status = runStopInChild(
        [&] {
            MeterModel* meter = MeterModel::instance(bus.c_str());
            meter->loadSettings();
            meter->setAngleUnits(1);
            testsupport::FailingWrites full(testsupport::FailingWrites::FileSizeLimit, 0);
            programstop::stop("test", 0);
        },
        output, std::chrono::seconds(30));
    ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << output;
    EXPECT_EQ(WEXITSTATUS(status), 1) << output;
    EXPECT_NE(output.find("settings file bp not written: File too large"), std::string::npos) << output;
    EXPECT_NE(output.find("Stopped with a file not written"), std::string::npos) << output;
    EXPECT_EQ(readFile(bp), "angleunits: 0\n") << "the old file stays whole";
}

// An output that takes nothing, ever: a log line written to it never returns.
class StuckOutput : public std::streambuf {
protected:
    int_type overflow(int_type) override {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    std::streamsize xsputn(const char*, std::streamsize) override { return overflow(0); }
};

TEST_F(ProgramStopTest, TheDeadlineEndsAStuckStopWhileStandardErrorIsAFullPipe) {
    int errPipe[2];
    ASSERT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
    const int status = runStopInChild(
        [&] {
            // Standard error: a pipe filled to the brim that nobody reads.
            dup2(errPipe[1], STDERR_FILENO);
            fcntl(STDERR_FILENO, F_SETFL, O_NONBLOCK);
            static const char block[4096] = {};
            while (write(STDERR_FILENO, block, sizeof block) > 0 || errno == EINTR) {
            }
            fcntl(STDERR_FILENO, F_SETFL, 0);
            static StuckOutput stuck;
            static std::ostream log(&stuck);
            Logger::instance()->setOutput(&log);
            programstop::stop("test", 0);
        },
        output, std::chrono::seconds(20));
    close(errPipe[0]);
    close(errPipe[1]);
    ASSERT_NE(status, -1) << "the deadline did not end the process";
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
