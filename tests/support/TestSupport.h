// Fixtures shared by the unit and end-to-end tests.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A sandbox of the test's own under /tmp, filled from the repository's
// sandbox template and marked as a sandbox, made current with
// platform::setSandboxRoot and removed again at the end, also when the
// process ends by exit() (a library's).  Child processes get "-sandbox" +
// path().  It records its owner (pid and start time) in .tvl-test-owner:
// the first one a test program makes removes the sandboxes whose owner has
// ended without removing them (killed, timed out).
class TempSandbox {
public:
    explicit TempSandbox(bool fillFromTemplate = true);
    ~TempSandbox();
    const std::string& path() const { return root; }
    // root + instrumentPath
    std::string file(const std::string& instrumentPath) const;
private:
    std::string root;
    std::string previous;
};

// Removes the test sandboxes under /tmp whose owner has ended.
void removeStaleSandboxes();

// The whole file as it is on disk; "" when it cannot be read.
std::string readFile(const std::string& path);
// Replaces the file's contents with text, making its folders first.
void writeFile(const std::string& path, const std::string& text);
// Whether something is at path (links followed).
bool exists(const std::string& path);
// The lines of text without their line feeds; a last line without one counts.
std::vector<std::string> lines(const std::string& text);

// A CAN interface name no other test uses at the same time (at most 15 chars).
std::string uniqueBusName(const char* prefix = "t");

// Polls pred until it holds or the deadline passes.  Returns pred's last value.
bool waitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds deadline = std::chrono::seconds(10),
               std::chrono::milliseconds poll = std::chrono::milliseconds(5));

// fork() for a child of a test: the child is killed (SIGKILL) when the test
// process ends, whatever way it ends (returning, exit() as the toolkit's
// "Can't open display" does, _exit(), a crash, a kill), also when that came
// before the child got to arm it.  The kernel sends the signal when the
// thread that forked ends: fork from the thread that outlives the child
// (the test's own).  Returns what fork() returns.
pid_t forkTiedToTest();

// A program started as a child process (forkTiedToTest), its standard output
// and error going to a file that the test can read while it runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();   // terminates the child if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // program: path of the executable; returns false when it cannot be started.
    bool start(const std::string& program, const std::vector<std::string>& args);
    bool running();
    // SIGTERM, then SIGKILL after the grace period; returns the wait status.
    int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(10000));
    // Waits for the child to end on its own; -1 on time-out.
    int wait(std::chrono::milliseconds deadline);
    std::string output() const;   // everything it printed so far
    bool waitForOutput(const std::string& text,
                       std::chrono::milliseconds deadline = std::chrono::seconds(10));
    pid_t pid() const { return childPid; }
private:
    pid_t childPid = -1;
    int status = 0;
    std::string outputFile;
};

// Path of a program built into build/bin.
std::string binPath(const std::string& name);

// While it lives, this process cannot write files, as on a full disk or with
// no descriptor left (a write failure injected with the process's limits):
//  FileSizeLimit  writes past sizeLimit bytes of a file fail with EFBIG
//                 (SIGXFSZ ignored meanwhile): a file written from the start
//                 gets sizeLimit bytes at most;
//  NoDescriptors  every descriptor is taken: open, mkstemp ... fail with EMFILE.
// Writes to pipes and terminals (the test's output) go on.
class FailingWrites {
public:
    enum Kind { FileSizeLimit, NoDescriptors };
    explicit FailingWrites(Kind kind, rlim_t sizeLimit = 0);
    ~FailingWrites();
    FailingWrites(const FailingWrites&) = delete;
    FailingWrites& operator=(const FailingWrites&) = delete;
    // The system's text for the failure ("File too large", "Too many open files").
    static std::string reason(Kind kind);
    static const char* name(Kind kind);
private:
    Kind kind;
    struct rlimit saved {};
    struct sigaction savedXfsz {};
    std::vector<int> fillers;   // descriptors taken
};

}  // namespace testsupport
