// What the benchmarks that run mendra beside them share: starting and ending
// it, and reading the CPU time of a process or a thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace bench {

// Starts the program at `path` (mendra) on the emulated bus `bus` in the
// sandbox `sandbox`, its standard output thrown away; returns its process id.
inline pid_t startMendra(const std::string& path, const char* sandbox, const std::string& bus) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) dup2(devnull, 1);
        execl(path.c_str(), path.c_str(), "-sandbox", sandbox, "-can", bus.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Ends a program startMendra started and waits for it.
inline void stopMendra(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// utime + stime from a process's or a thread's stat file, in seconds.
inline double statCpuSeconds(const std::string& statFile) {
    std::ifstream in(statFile);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int k = 3; k <= 15 && rest >> field; ++k) {
        if (k == 14) utime = std::stoull(field);
        if (k == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The CPU seconds of a process.
inline double cpuSeconds(pid_t pid) { return statCpuSeconds("/proc/" + std::to_string(pid) + "/stat"); }

}  // namespace bench
