#include "TestSupport.h"

#include "platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace testsupport {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    const std::string::size_type slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) platform::makeDirs(path.substr(0, slash));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

namespace {

constexpr const char* kSandboxPrefix = "/tmp/tvl-test-";
constexpr const char* kOwnerFile = ".tvl-test-owner";

// A process's start time (clock ticks after boot, field 22 of its stat
// line), so that a pid used again by another process is not taken for the
// owner; "" when there is no such process.
std::string processStart(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const std::string::size_type close = stat.rfind(')');
    if (close == std::string::npos) return "";
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22) return field;
    return "";
}

// What a sandbox's owner file says for this process: "pid start".
std::string ownerLine() {
    const pid_t self = getpid();
    return std::to_string(self) + " " + processStart(self) + "\n";
}

// Whether the owner named by the text of an owner file has ended.
bool ownerGone(const std::string& owner) {
    std::istringstream in(owner);
    long pid = 0;
    std::string start;
    if (!(in >> pid >> start) || pid <= 0) return false;  // not written yet, or not ours: left alone
    return processStart(pid_t(pid)) != start;
}

// The sandboxes this process made and has not removed yet, for the ends
// that skip the destructors (exit() from a library).
std::mutex liveMutex;
std::vector<std::string>& liveSandboxes() {
    static std::vector<std::string>* live = new std::vector<std::string>;  // used by the exit handler
    return *live;
}
pid_t liveOwner = 0;

void removeLiveSandboxes() {
    std::lock_guard<std::mutex> lock(liveMutex);
    if (getpid() != liveOwner) return;  // a forked child leaves its parent's sandboxes alone
    for (const std::string& root : liveSandboxes()) {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    liveSandboxes().clear();
}

void addLiveSandbox(const std::string& root) {
    static std::once_flag once;
    std::call_once(once, [] {
        liveOwner = getpid();
        std::atexit(removeLiveSandboxes);
    });
    std::lock_guard<std::mutex> lock(liveMutex);
    if (getpid() == liveOwner) liveSandboxes().push_back(root);
}

void dropLiveSandbox(const std::string& root) {
    std::lock_guard<std::mutex> lock(liveMutex);
    auto& live = liveSandboxes();
    live.erase(std::remove(live.begin(), live.end(), root), live.end());
}

}  // namespace

void removeStaleSandboxes() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/tmp", ec)) {
        const std::string path = entry.path().string();
        if (path.rfind(kSandboxPrefix, 0) != 0) continue;
        std::error_code statError;
        if (!fs::is_directory(fs::symlink_status(entry.path(), statError))) continue;
        const std::string owner = readFile(path + "/" + kOwnerFile);
        if (owner.empty() || !ownerGone(owner)) continue;
        std::error_code removeError;
        fs::remove_all(entry.path(), removeError);
    }
}

TempSandbox::TempSandbox(bool fillFromTemplate) {
    // Once per test program: what programs before it left when they ended
    // abruptly (a kill, a time-out) goes first.
    static std::once_flag swept;
    std::call_once(swept, removeStaleSandboxes);
    char tmpl[] = "/tmp/tvl-test-XXXXXX";
    const char* made = mkdtemp(tmpl);
    root = made ? made : "/tmp/tvl-test-failed";
    if (made) {
        writeFile(root + "/" + kOwnerFile, ownerLine());
        addLiveSandbox(root);
    }
    if (fillFromTemplate) {
        fs::path src = fs::path(TVL_SOURCE_DIR) / "data" / "sandbox";
        std::error_code ec;
        fs::copy(src, root, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    }
    for (const char* d : {"var/lib/tarvel", "var/www/datalogs", "run/tvl", "media/usb", "dev", "proc"})
        fs::create_directories(fs::path(root) / d);
    platform::markSandbox(root);
    previous = platform::sandboxRoot();
    platform::setSandboxRoot(root);
}

TempSandbox::~TempSandbox() {
    platform::setSandboxRoot(previous);
    // Only ever a folder this fixture made under /tmp.
    if (root.rfind(kSandboxPrefix, 0) == 0) {
        std::error_code ec;
        fs::remove_all(root, ec);
        dropLiveSandbox(root);
    }
}

std::string TempSandbox::file(const std::string& instrumentPath) const {
    return root + instrumentPath;
}

std::string uniqueBusName(const char* prefix) {
    static std::atomic<unsigned> counter{0};
    std::ostringstream s;
    s << prefix << std::hex << (static_cast<unsigned>(getpid()) & 0xFFFFF) << 'x' << counter++;
    std::string name = s.str();
    if (name.size() > 15) name = name.substr(name.size() - 15);
    return name;
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds deadline,
               std::chrono::milliseconds poll) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (true) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= end) return pred();
        std::this_thread::sleep_for(poll);
    }
}

pid_t forkTiedToTest() {
    const pid_t test = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The test ended before the line above: nothing would signal.
        if (getppid() != test) _exit(127);
    }
    return pid;
}

ChildProcess::~ChildProcess() {
    if (childPid > 0) stop();
    if (!outputFile.empty()) unlink(outputFile.c_str());
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args) {
    char tmpl[] = "/tmp/tvl-child-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) return false;
    outputFile = tmpl;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = forkTiedToTest();
    if (pid < 0) { close(fd); return false; }
    if (pid == 0) {
        setpgid(0, 0);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fd);
    childPid = pid;
    return true;
}

bool ChildProcess::running() {
    if (childPid <= 0) return false;
    pid_t r = waitpid(childPid, &status, WNOHANG);
    if (r == childPid) { childPid = -1; return false; }
    return true;
}

int ChildProcess::wait(std::chrono::milliseconds deadline) {
    if (!waitUntil([this] { return !running(); }, deadline)) return -1;
    return status;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    if (!running()) return status;
    kill(childPid, SIGTERM);
    if (wait(grace) != -1) return status;
    kill(-childPid, SIGKILL);
    kill(childPid, SIGKILL);
    waitpid(childPid, &status, 0);
    childPid = -1;
    return status;
}

std::string ChildProcess::output() const {
    std::ifstream in(outputFile);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds deadline) {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, deadline, std::chrono::milliseconds(20));
}

std::string binPath(const std::string& name) { return std::string(TVL_BIN_DIR) + "/" + name; }

// ---- FailingWrites

namespace {

// The highest descriptor open now.
int highestOpenDescriptor() {
    int highest = 2;
    if (DIR* dir = opendir("/proc/self/fd")) {
        const int own = dirfd(dir);
        while (dirent* entry = readdir(dir)) {
            const int fd = std::atoi(entry->d_name);
            if (fd != own) highest = std::max(highest, fd);
        }
        closedir(dir);
    }
    return highest;
}

}  // namespace

FailingWrites::FailingWrites(Kind k, rlim_t sizeLimit) : kind(k) {
    if (kind == FileSizeLimit) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &savedXfsz);
        getrlimit(RLIMIT_FSIZE, &saved);
        struct rlimit limited = saved;
        limited.rlim_cur = sizeLimit;
        setrlimit(RLIMIT_FSIZE, &limited);
        return;
    }
    getrlimit(RLIMIT_NOFILE, &saved);
    struct rlimit limited = saved;
    limited.rlim_cur = static_cast<rlim_t>(highestOpenDescriptor() + 1);
    setrlimit(RLIMIT_NOFILE, &limited);
    // The holes below the limit are taken too.
    for (;;) {
        const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) break;
        fillers.push_back(fd);
    }
}

FailingWrites::~FailingWrites() {
    for (int fd : fillers) close(fd);
    if (kind == FileSizeLimit) {
        setrlimit(RLIMIT_FSIZE, &saved);
        sigaction(SIGXFSZ, &savedXfsz, nullptr);
    } else {
        setrlimit(RLIMIT_NOFILE, &saved);
    }
}

std::string FailingWrites::reason(Kind kind) { return std::strerror(kind == FileSizeLimit ? EFBIG : EMFILE); }

const char* FailingWrites::name(Kind kind) { return kind == FileSizeLimit ? "FileSizeLimit" : "NoDescriptors"; }

}  // namespace testsupport
