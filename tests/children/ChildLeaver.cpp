// child-leaver MODE SANDBOX: a test program that starts mendra (a
// testsupport::ChildProcess, as the test fixtures do) and makes a sandbox of
// its own (a testsupport::TempSandbox), prints "sandbox PATH" and
// "mendra PID" once mendra is on its bus, and then ends without stopping
// mendra or removing the sandbox:
//   exit    exit(3), as the toolkit ends a program that cannot open its display
//   _exit   _exit(3)
//   abort   abort() (no core file)
//   wait    waits to be killed
#include "support/TestSupport.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Usage: child-leaver exit|_exit|abort|wait SANDBOX\n");
        return 2;
    }
    const std::string mode = argv[1];
    testsupport::ChildProcess mendra;
    if (!mendra.start(testsupport::binPath("mendra"),
                      {"-sandbox", argv[2], "-can", testsupport::uniqueBusName("cl")}) ||
        !mendra.waitForOutput("Using CAN"))
        return 1;
    // Its output file goes now: nothing here removes it later.
    char output[4096];
    const ssize_t n = readlink(("/proc/" + std::to_string(mendra.pid()) + "/fd/1").c_str(), output, sizeof output - 1);
    if (n > 0) {
        output[n] = '\0';
        unlink(output);
    }
    // Made and left as a test's fixture would be: never destroyed here.
    auto* own = new testsupport::TempSandbox(false);
    std::printf("sandbox %s\n", own->path().c_str());
    std::printf("mendra %d\n", static_cast<int>(mendra.pid()));
    std::fflush(stdout);
    if (mode == "exit") std::exit(3);
    if (mode == "_exit") _exit(3);
    if (mode == "abort") {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        std::abort();
    }
    if (mode == "wait")
        for (;;) pause();
    return 2;
}
