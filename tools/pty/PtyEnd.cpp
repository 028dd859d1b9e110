#include "tools/pty/PtyEnd.h"

#include "console/Console.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

PtyEnd::~PtyEnd() {
    if (!link.empty()) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slave) ::unlink(link.c_str());
    }
    if (slaveFd >= 0) ::close(slaveFd);
    if (masterFd >= 0) ::close(masterFd);
}

bool PtyEnd::open() {
    masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const char* name = masterFd >= 0 && grantpt(masterFd) == 0 && unlockpt(masterFd) == 0 ? ptsname(masterFd) : nullptr;
    if (name) {
        slave = name;
        slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    if (slaveFd < 0) {
        console::printError("cannot make a pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    termios t;
    tcgetattr(slaveFd, &t);
    cfmakeraw(&t);
    tcsetattr(slaveFd, TCSANOW, &t);
    return true;
}

bool PtyEnd::linkAs(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            console::printError("%s is there and is no link: not replacing it\n", path.c_str());
            return false;
        }
        ::unlink(path.c_str());
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!folder.empty()) ::mkdir(folder.c_str(), 0755);
    if (::symlink(slave.c_str(), path.c_str()) != 0) {
        console::printError("cannot link %s to %s: %s\n", path.c_str(), slave.c_str(), std::strerror(errno));
        return false;
    }
    link = path;
    return true;
}

termios PtyEnd::settings() const {
    termios t{};
    tcgetattr(slaveFd, &t);
    return t;
}

void PtyEnd::write(const std::string& bytes) const {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;   // full: the rest is lost, as on a line nobody reads
        sent += static_cast<std::size_t>(n);
    }
}
