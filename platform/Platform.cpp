#include "platform/Platform.h"

#include "console/Console.h"
#include "platform/CanTransport.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef TVL_INSTRUMENT_BUILD
#include <linux/kd.h>
#endif

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

#ifndef TVL_INSTRUMENT_BUILD
std::mutex rootMutex;
// Never freed: threads that map paths run on while the process exits.
std::string& rootStorage() {
    static std::string* const root = new std::string(TVL_SANDBOX_DIR);
    return *root;
}

// Seconds added to the host clock by setSystemTime in this process.
std::atomic<long long> clockOffset{0};
#endif

std::atomic<long long> lastRequestedTime{0};
std::atomic<unsigned long> tones{0};
std::atomic<unsigned long> lastTone{0};

// "/a/./b//c/../d" -> "/a/b/d"; ".." at the top stays at the top, so the
// result never climbs above "/".
std::string normalize(const std::string& p) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= p.size()) {
        std::size_t j = p.find('/', i);
        if (j == std::string::npos) j = p.size();
        std::string word = p.substr(i, j - i);
        if (word == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!word.empty() && word != ".") {
            parts.push_back(word);
        }
        i = j + 1;
    }
    std::string out;
    for (auto& w : parts) out += "/" + w;
    return out.empty() ? "/" : out;
}

#ifndef TVL_INSTRUMENT_BUILD
std::string absolute(const std::string& dir) {
    if (!dir.empty() && dir[0] == '/') return normalize(dir);
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return normalize("/" + dir);
    return normalize(std::string(cwd) + "/" + dir);
}
#endif

bool isInside(const std::string& file, const std::string& root) {
    return file.size() > root.size() && file.compare(0, root.size(), root) == 0 && file[root.size()] == '/';
}

#ifndef TVL_INSTRUMENT_BUILD
// The real location of a path: its folder through realpath, so that a link
// inside the sandbox that points out of it is seen for what it is.
std::string realLocation(const std::string& file) {
    char buf[PATH_MAX];
    if (realpath(file.c_str(), buf)) return buf;
    return "";
}
#endif

// Runs argv with fork + execv, no shell.  When output is given, the
// command's standard output is collected into it.  Returns the exit status
// (128 + signal number for a killed command), or -1 when the command could
// not be started.
int spawn(const std::vector<std::string>& argv, std::string* output) {
    if (output) output->clear();
    if (argv.empty() || argv[0].empty()) {
        errno = EINVAL;
        return -1;
    }
    std::string program = resolve(argv[0]);
#ifndef TVL_INSTRUMENT_BUILD
    std::string root = realLocation(sandboxRoot());
    std::string real = realLocation(program);
    if (root.empty() || real.empty() || !isInside(real, root)) {
        console::printError("platform: refusing to run %s: not a command of the sandbox %s\n",
                            argv[0].c_str(), sandboxRoot().c_str());
        errno = EPERM;
        return -1;
    }
    program = real;
#endif
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> words(argv);
    words[0] = program;
    std::vector<char*> args;
    for (auto& w : words) args.push_back(const_cast<char*>(w.c_str()));
    args.push_back(nullptr);
    // A program may block signals to take them in a thread of its own (the
    // stop signals): the command gets the usual mask.
    sigset_t noSignals;
    sigemptyset(&noSignals);

    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    auto closeAll = [&] {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            if (fd >= 0) close(fd);
    };
    if ((output && pipe2(outPipe, O_CLOEXEC) != 0) || pipe2(errPipe, O_CLOEXEC) != 0) {
        closeAll();
        return -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        closeAll();
        return -1;
    }
    if (pid == 0) {
        if (outPipe[1] >= 0) dup2(outPipe[1], 1);  // the copy is inherited, the original closes on exec
        sigprocmask(SIG_SETMASK, &noSignals, nullptr);
        execv(program.c_str(), args.data());
        int e = errno;
        ssize_t ignored = ::write(errPipe[1], &e, sizeof e);
        (void)ignored;
        _exit(127);
    }
    close(errPipe[1]);
    errPipe[1] = -1;
    if (output) {
        close(outPipe[1]);
        outPipe[1] = -1;
        char buf[4096];
        while (true) {
            ssize_t n = ::read(outPipe[0], buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            output->append(buf, static_cast<std::size_t>(n));
        }
    }
    int childErrno = 0;
    ssize_t n;
    do {
        n = ::read(errPipe[0], &childErrno, sizeof childErrno);
    } while (n < 0 && errno == EINTR);
    closeAll();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (n == static_cast<ssize_t>(sizeof childErrno)) {
        errno = childErrno;
        return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

bool isInstrumentBuild() {
#ifdef TVL_INSTRUMENT_BUILD
    return true;
#else
    return false;
#endif
}

std::string sandboxRoot() {
#ifdef TVL_INSTRUMENT_BUILD
    return "";
#else
    std::lock_guard<std::mutex> lock(rootMutex);
    return rootStorage();
#endif
}

void setSandboxRoot(const std::string& root) {
#ifdef TVL_INSTRUMENT_BUILD
    (void)root;
#else
    std::lock_guard<std::mutex> lock(rootMutex);
    rootStorage() = absolute(root.empty() ? std::string(TVL_SANDBOX_DIR) : root);
#endif
}

bool markSandbox(const std::string& dir) {
    return writeFileAtomic(dir + "/" + kSandboxMarker, "A sandbox of the tvl4700 PC build.\n");
}

std::string sandboxProblem(const std::string& dir) {
    if (dir.empty()) return "no folder given";
    char real[PATH_MAX];
    if (!realpath(dir.c_str(), real)) {
        if (errno == ENOENT)
            return "no such folder (programs never make a sandbox: the build fills its own, "
                   "and the README says how to make another)";
        return std::strerror(errno);
    }
    if (std::strcmp(real, "/") == 0) return "the folder is the root folder, this machine's own files";
    struct stat st;
    if (stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) return "not a folder";
    std::string marker = std::string(real) + "/" + kSandboxMarker;
    if (stat(marker.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::string("not a sandbox: it has no ") + kSandboxMarker +
               " file (the build marks the sandbox it fills; the README says how to make another)";
    return "";
}

int consumeSandboxOption(int argc, char** argv) {
#ifdef TVL_INSTRUMENT_BUILD
    (void)argv;
    return argc;
#else
    if (argc < 1) return argc;
    const char* program = argv[0] ? argv[0] : "program";
    if (const char* slash = std::strrchr(program, '/')) program = slash + 1;
    bool given = false;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-socketcan") == 0) {
            setCanBackend(CanBackend::SocketCan);
            continue;
        }
        if (std::strcmp(argv[i], "-sandbox") != 0) {
            argv[out++] = argv[i];
            continue;
        }
        if (i + 1 >= argc) {
            console::printError("%s: -sandbox needs a folder\n", program);
            std::exit(2);
        }
        const char* dir = argv[++i];
        std::string problem = sandboxProblem(absolute(dir));
        if (!problem.empty()) {
            console::printError("%s: refusing the sandbox %s: %s\n", program, dir, problem.c_str());
            std::exit(2);
        }
        setSandboxRoot(dir);
        given = true;
    }
    if (!given) {
        std::string problem = sandboxProblem(sandboxRoot());
        if (!problem.empty()) {
            console::printError("%s: refusing the build's sandbox %s: %s; build the project or give -sandbox DIR\n",
                                program, sandboxRoot().c_str(), problem.c_str());
            std::exit(2);
        }
    }
    argv[out] = nullptr;
    return out;
#endif
}

std::string resolve(const std::string& instrumentPath) {
    std::string p = normalize(instrumentPath.empty() || instrumentPath[0] != '/' ? "/" + instrumentPath
                                                                               : instrumentPath);
#ifdef TVL_INSTRUMENT_BUILD
    (void)isInside;
    return p;
#else
    if (p == path::kProcStat) return p;
    std::string root = sandboxRoot();
    // A path already inside the sandbox stays as it is.
    if (isInside(p, root) || p == root) return p;
    return p == "/" ? root : root + p;
#endif
}

std::string dataFile(const std::string& name) { return resolve(std::string(path::kDataDir) + "/" + name); }

std::string script(const std::string& name) { return resolve(std::string(path::kScriptDir) + "/" + name); }

std::string canBitrateFile(const std::string& interfaceName) {
    return resolve("/sys/class/net/" + interfaceName + "/can_bittiming/bitrate");
}

std::string serialDeviceProblem(const std::string& devicePath) {
#ifdef TVL_INSTRUMENT_BUILD
    (void)devicePath;
    return "";
#else
    const std::string root = realLocation(sandboxRoot());
    const std::string given = absolute(devicePath);
    if (root.empty() || !isInside(given, normalize(sandboxRoot())))
        return "not a device path of the sandbox " + sandboxRoot();
    const std::string real = realLocation(given);
    if (real.empty()) return std::strerror(errno);
    if (isInside(real, root)) return "";
    // A pseudo-terminal's slave: /dev/pts/<number>.
    const std::string pts = "/dev/pts/";
    if (real.compare(0, pts.size(), pts) == 0 && real.size() > pts.size() &&
        real.find_first_not_of("0123456789", pts.size()) == std::string::npos)
        return "";
    return "it leads to " + real + ", which is neither a pseudo-terminal nor inside the sandbox";
#endif
}

void shareSerialDevice(int fd) {
    if (fd >= 0) ::ioctl(fd, TIOCNXCL);
}

bool makeDirs(const std::string& dir) {
    if (dir.empty()) return false;
    std::string partial;
    std::size_t i = 0;
    while (i < dir.size()) {
        std::size_t j = dir.find('/', i + 1);
        if (j == std::string::npos) j = dir.size();
        partial = dir.substr(0, j);
        if (!partial.empty() && partial != "/") {
            if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
        i = j;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeFileAtomic(const std::string& file, const std::string& contents) {
    std::string::size_type slash = file.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
    std::string tmp = file + ".tmpXXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    struct stat old;
    fchmod(fd, stat(file.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < contents.size()) {
        ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    if (ok && fsync(fd) != 0) ok = false;
    if (close(fd) != 0) ok = false;
    if (ok && rename(name.data(), file.c_str()) != 0) ok = false;
    if (!ok) {
        int e = errno;
        unlink(name.data());
        errno = e;
        return false;
    }
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

void removeStaleTempFiles(const std::string& file) {
    const std::string::size_type slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
    const std::string prefix = (slash == std::string::npos ? file : file.substr(slash + 1)) + ".tmp";
    constexpr std::size_t kRandomPart = 6;   // mkstemp's XXXXXX
    DIR* folder = opendir(dir.c_str());
    if (!folder) return;
    std::vector<std::string> stale;
    while (const struct dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + kRandomPart || name.compare(0, prefix.size(), prefix) != 0) continue;
        bool random = true;
        for (std::size_t i = prefix.size(); i < name.size(); ++i)
            random = random && std::isalnum(static_cast<unsigned char>(name[i]));
        if (random) stale.push_back(dir + "/" + name);
    }
    closedir(folder);
    for (const std::string& path : stale) {
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
    }
}

int runCommand(const std::vector<std::string>& argv) { return spawn(argv, nullptr); }

int runCommandOutput(const std::vector<std::string>& argv, std::string& output) {
    return spawn(argv, &output);
}

std::time_t now() {
#ifdef TVL_INSTRUMENT_BUILD
    return std::time(nullptr);
#else
    return static_cast<std::time_t>(std::time(nullptr) + clockOffset.load());
#endif
}

struct timespec nowTimespec() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
#ifndef TVL_INSTRUMENT_BUILD
    ts.tv_sec += static_cast<std::time_t>(clockOffset.load());
#endif
    return ts;
}

int setSystemTime(std::time_t t) {
    lastRequestedTime.store(static_cast<long long>(t));
#ifdef TVL_INSTRUMENT_BUILD
    struct timespec ts{};
    ts.tv_sec = t;
    return clock_settime(CLOCK_REALTIME, &ts);
#else
    // Refuse what the kernel refuses: a time before 1970, or one so late that
    // the monotonic clocks could overflow within 30 years (about 2232).
    constexpr long long kLatest = 9223372036LL - 30LL * 365 * 86400;
    if (static_cast<long long>(t) < 0 || static_cast<long long>(t) >= kLatest) {
        errno = EINVAL;
        return -1;
    }
    clockOffset.store(static_cast<long long>(t) - static_cast<long long>(std::time(nullptr)));
    return 0;
#endif
}

std::time_t lastRequestedSystemTime() { return static_cast<std::time_t>(lastRequestedTime.load()); }

void consoleTone(int fd, unsigned long argument) {
    tones.fetch_add(1);
    lastTone.store(argument);
#ifdef TVL_INSTRUMENT_BUILD
    ioctl(fd, KDMKTONE, argument);
#else
    (void)fd;
#endif
}

unsigned long toneCount() { return tones.load(); }
unsigned long lastToneArgument() { return lastTone.load(); }

}  // namespace platform
