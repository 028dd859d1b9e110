#include "platform/EmulatedBus.h"

#include "console/Console.h"
#include "platform/Platform.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

namespace platform {

namespace {

constexpr std::uint32_t kMagic = 0x54564C42;  // "TVLB"
constexpr std::uint32_t kVersion = 5;
constexpr std::uint32_t kRingCount = 8;        // sending processes at a time
constexpr std::uint32_t kRingSlots = 65536;    // frames per ring, a power of two
constexpr std::uint32_t kHeaderSize = 16384;
constexpr std::uint32_t kMaxEntries = 64;      // endpoints woken one by one (bits of a mask)
constexpr std::uint32_t kWakeFilters = 8;      // filters a sender checks before waking
constexpr std::uint32_t kWakeAll = ~std::uint32_t(0);
// How far past the oldest frame a lapped reader lands, so that it does not
// lose the slot it is about to read at once again.
constexpr std::uint64_t kLapMargin = kRingSlots / 16;
// Farther behind than any reader can fall: a damaged ring head.
constexpr std::int64_t kImplausibleLag = std::int64_t(1) << 48;
// Bounds of the bandwidth words: setBandwidth never leaves a value beyond
// them, so one beyond them is damage, put right by the next sender or opener.
constexpr std::int64_t kMaxIntervalNs = 1000000000;
constexpr std::int64_t kMaxToleranceNs = 60LL * 1000000000;

// A reader's entry in the bus file, so that a sender wakes only the readers
// that sleep and want the frame.  Claimed by the opener (pid), freed when the
// endpoint closes; an entry whose process has died is taken over by the next
// endpoint that opens.
struct alignas(64) WakeEntry {
    std::atomic<std::int32_t> pid;            // 0: free
    std::atomic<std::uint32_t> wakeWord;      // futex
    std::atomic<std::uint32_t> filterVersion; // odd while the filters below change
    std::atomic<std::uint32_t> filterCount;   // kWakeAll: every frame
    std::atomic<std::uint64_t> id;            // endpoint id
    std::atomic<std::uint64_t> sleepSeq;      // the bus's sequence number when it went to sleep
    std::atomic<std::uint32_t> filterId[kWakeFilters];
    std::atomic<std::uint32_t> filterMask[kWakeFilters];
};

// A sending process's ring: its owner and how many frames it holds so far
// (never reset, also when another process takes the ring over).  The owner
// also holds a lock on the ring's first byte in the file (see placeLock).
struct alignas(64) Ring {
    std::atomic<std::int32_t> pid;            // 0: free
    std::atomic<std::uint64_t> head;
};

struct BusHeader {
    // The layout, fixed when the file is made and covered by check.
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t ringCount;
    std::uint32_t ringSlots;
    std::uint32_t entryCount;
    std::uint32_t headerSize;
    std::uint64_t fileSize;
    char bootId[48];                          // the boot the file was made in
    std::uint64_t check;
    // Touched by every send.
    alignas(64) std::atomic<std::uint64_t> nextSeq;
    std::atomic<std::int64_t> arrivalNs;      // token bucket: theoretical arrival time (CLOCK_MONOTONIC)
    // Settings and rarely changed words.
    alignas(64) std::atomic<std::int64_t> intervalNs;   // per frame; 0: unlimited
    std::atomic<std::int64_t> toleranceNs;    // (burst - 1) x interval
    std::atomic<std::uint64_t> nextEndpointId;
    std::atomic<std::uint32_t> ringsUsed;     // high-water mark of the ring table
    // Readers going to sleep.
    alignas(64) std::atomic<std::uint64_t> sleepingMask;  // bit i: entry i sleeps
    alignas(64) std::atomic<std::uint32_t> futexWord;     // endpoints beyond the table
    std::atomic<std::uint32_t> waiters;
    Ring rings[kRingCount];
    WakeEntry entries[kMaxEntries];
};
static_assert(sizeof(BusHeader) <= kHeaderSize, "bus header too large");
static_assert(kMaxEntries <= 64, "the sleeper mask has 64 bits");
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "shared atomics must be lock-free");

// 32 bytes, two to a cache line.
struct Slot {
    // Low half: the frame's position in the ring (its low 32 bits), while the
    // slot is written the complement (which names no position of this slot,
    // the ring's length being even); high half: the writer's endpoint id.
    std::atomic<std::uint64_t> tag;
    std::atomic<std::uint64_t> seq;           // the bus's sequence number
    std::atomic<std::uint64_t> word[2];       // the can_frame
};
static_assert(sizeof(can_frame) == 2 * sizeof(std::uint64_t), "can_frame is 16 bytes");
static_assert(sizeof(Slot) == 32, "a slot is 32 bytes");

std::uint64_t slotTag(std::uint64_t sender, std::uint64_t pos) { return sender << 32 | std::uint32_t(pos); }
std::uint64_t busyTag(std::uint64_t pos) { return std::uint32_t(~pos); }

constexpr std::size_t kFileSize = kHeaderSize + std::size_t(kRingCount) * kRingSlots * sizeof(Slot);

void (*midWriteHook)() = nullptr;
int injectedReserveError = 0;

// This process's id without a system call per send; a forked child learns
// its own at once.
std::atomic<std::int32_t> cachedPid{0};
void learnPid() { cachedPid.store(std::int32_t(getpid())); }
std::int32_t processId() {
    static std::once_flag once;
    std::call_once(once, [] {
        learnPid();
        pthread_atfork(nullptr, nullptr, learnPid);
    });
    return cachedPid.load(std::memory_order_relaxed);
}

std::int64_t monotonicNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// a - b for counters that may wrap.
std::int64_t distance(std::uint64_t a, std::uint64_t b) { return std::int64_t(a - b); }

std::string bootId() {
    char buf[48] = {};
    FILE* f = std::fopen("/proc/sys/kernel/random/boot_id", "r");
    if (f) {
        if (!std::fgets(buf, sizeof buf, f)) buf[0] = '\0';
        std::fclose(f);
    }
    std::string s(buf);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// The futex words live in a shared file mapping: no FUTEX_PRIVATE_FLAG.
int futexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, int timeoutMs) {
    struct timespec ts;
    ts.tv_sec = timeoutMs / 1000;
    ts.tv_nsec = long(timeoutMs % 1000) * 1000000;
    return int(syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT, expected,
                       timeoutMs < 0 ? nullptr : &ts, nullptr, 0));
}

void futexWake(std::atomic<std::uint32_t>* word, int count) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE, count, nullptr, nullptr, 0);
}

// SocketCAN's rule: a filter passes when (id & mask) == (filter id & mask),
// inverted by CAN_INV_FILTER in the filter id.
bool filterPasses(canid_t canId, canid_t filterId, canid_t mask) {
    bool inverted = (filterId & CAN_INV_FILTER) != 0;
    canid_t want = filterId & ~canid_t(CAN_INV_FILTER);
    return ((canId & mask) == (want & mask)) != inverted;
}

bool processGone(std::int32_t pid) { return pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH); }

bool validName(const char* name) {
    const std::string problem = canInterfaceNameProblem(name);
    if (problem.empty()) return true;
    console::printError("%s\n", problem.c_str());
    return false;
}

std::string busDir() { return resolve(path::kRunDir) + "/canbus"; }

// FNV-1a over the layout fields.
std::uint64_t layoutCheck(const BusHeader& h) {
    std::uint64_t x = 1469598103934665603ULL;
    auto mix = [&x](const void* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            x ^= static_cast<const unsigned char*>(p)[i];
            x *= 1099511628211ULL;
        }
    };
    mix(&h.magic, sizeof h.magic);
    mix(&h.version, sizeof h.version);
    mix(&h.ringCount, sizeof h.ringCount);
    mix(&h.ringSlots, sizeof h.ringSlots);
    mix(&h.entryCount, sizeof h.entryCount);
    mix(&h.headerSize, sizeof h.headerSize);
    mix(&h.fileSize, sizeof h.fileSize);
    mix(h.bootId, sizeof h.bootId);
    return x;
}

bool headerValid(const void* base, const std::string& boot) {
    auto* h = static_cast<const BusHeader*>(base);
    return h->magic == kMagic && h->version == kVersion && h->ringCount == kRingCount &&
           h->ringSlots == kRingSlots && h->entryCount == kMaxEntries && h->headerSize == kHeaderSize &&
           h->fileSize == kFileSize && h->check == layoutCheck(*h) &&
           boot == std::string(h->bootId, strnlen(h->bootId, sizeof h->bootId));
}

void setBandwidth(BusHeader* h, double framesPerSecond, double burstFrames) {
    std::int64_t interval = framesPerSecond > 0 ? std::int64_t(1e9 / framesPerSecond) : 0;
    interval = std::min(interval, kMaxIntervalNs);
    double burst = std::max(1.0, burstFrames);
    std::int64_t tolerance = std::int64_t(std::min(double(kMaxToleranceNs), (burst - 1.0) * double(interval)));
    h->toleranceNs.store(tolerance);
    h->intervalNs.store(interval);
    h->arrivalNs.store(monotonicNs());
}

void* mapFile(int fd) {
    void* p = mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// True when fd is still the file the path names (not replaced meanwhile).
bool isCurrent(int fd, const std::string& file) {
    struct stat a, b;
    return fstat(fd, &a) == 0 && stat(file.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void lockFile(int fd, int how) {
    while (flock(fd, how) != 0 && errno == EINTR) {
    }
}

// Makes a new bus file under a temporary name (which no bus file can have:
// those end in ".bus") and puts it in place: beside no file (link, which
// fails when another process was quicker) or over a damaged one (rename).
bool makeBusFile(const std::string& file, bool replace) {
    std::string tmp = busDir() + "/XXXXXX.tmp";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), 4);
    if (fd < 0) {
        console::printError("Cannot make the CAN bus file %s: %s\n", file.c_str(), std::strerror(errno));
        return false;
    }
    fchmod(fd, 0644);
    // Every page is reserved now: a page of a mapped file that the file
    // system cannot back would kill the process that touches it (SIGBUS).
    int reserved = injectedReserveError;
    while (reserved == 0 && (reserved = posix_fallocate(fd, 0, off_t(kFileSize))) == EINTR) reserved = 0;
    if (reserved != 0) {
        close(fd);
        unlink(name.data());
        console::printError("Cannot reserve the %zu kB of the CAN bus file %s: %s\n", kFileSize / 1024,
                            file.c_str(), std::strerror(reserved));
        return false;
    }
    void* base = mapFile(fd);
    close(fd);
    bool ok = false;
    if (base) {
        auto* h = static_cast<BusHeader*>(base);
        std::snprintf(h->bootId, sizeof h->bootId, "%s", bootId().c_str());
        h->version = kVersion;
        h->ringCount = kRingCount;
        h->ringSlots = kRingSlots;
        h->entryCount = kMaxEntries;
        h->headerSize = kHeaderSize;
        h->fileSize = kFileSize;
        setBandwidth(h, kEmulatedBusFramesPerSecond, kEmulatedBusBurstFrames);
        h->magic = kMagic;
        h->check = layoutCheck(*h);
        munmap(base, kFileSize);
        ok = replace ? rename(name.data(), file.c_str()) == 0
                     : (link(name.data(), file.c_str()) == 0 || errno == EEXIST);
    }
    if (!ok) console::printError("Cannot make the CAN bus file %s: %s\n", file.c_str(), std::strerror(errno));
    unlink(name.data());
    return ok;
}

// The lock that marks a sender place as taken: an open-file-description
// lock on the first byte of the place's ring in the header.  The kernel
// drops it when its holder closes the file or dies, so a place whose lock
// no one holds is free, whatever pid it names (a process that died, or a pid
// used again by a program that has the bus closed).  A place is claimed and
// freed only by the holder of its lock.
bool placeLock(int fd, const BusHeader* h, std::uint32_t ring, short type) {
    struct flock l;
    std::memset(&l, 0, sizeof l);
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = off_t(reinterpret_cast<const char*>(&h->rings[ring]) - reinterpret_cast<const char*>(h));
    l.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &l) == 0;
}
bool lockPlace(int fd, const BusHeader* h, std::uint32_t ring) { return placeLock(fd, h, ring, F_WRLCK); }
void unlockPlace(int fd, const BusHeader* h, std::uint32_t ring) { placeLock(fd, h, ring, F_UNLCK); }

// Puts right the bandwidth words that no setting and no send leaves: an
// interval or tolerance beyond its bounds (the default bandwidth again), or
// a bucket farther ahead of now than a full burst (from now).
void repairBandwidth(BusHeader* h) {
    const std::int64_t interval = h->intervalNs.load(), tolerance = h->toleranceNs.load();
    if (interval < 0 || interval > kMaxIntervalNs || tolerance < 0 || tolerance > kMaxToleranceNs) {
        setBandwidth(h, kEmulatedBusFramesPerSecond, kEmulatedBusBurstFrames);
        return;
    }
    std::int64_t tat = h->arrivalNs.load();
    const std::int64_t now = monotonicNs();
    if (distance(std::uint64_t(tat), std::uint64_t(now)) > tolerance + interval)
        h->arrivalNs.compare_exchange_strong(tat, now);
}

// One mapping of a bus file per process, shared by the process's endpoints
// on that bus; it holds the process's ring.  Its descriptor keeps a shared
// lock on the file, so that the file is made anew only when no endpoint of
// any process has it open.
class BusFile {
public:
    static std::shared_ptr<BusFile> open(const std::string& name);

    BusFile(int fd, void* base, dev_t dev, ino_t ino) : fd(fd), base(base), dev(dev), ino(ino), opener(processId()) {}
    ~BusFile() {
        if (ringIndex >= 0 && ringOwner == processId()) {
            std::int32_t self = ringOwner;
            header()->rings[ringIndex].pid.compare_exchange_strong(self, 0);
            unlockPlace(lockFd(), header(), std::uint32_t(ringIndex));
        }
        if (childLockFd >= 0 && childLockFdOwner == processId()) close(childLockFd);
        munmap(base, kFileSize);
        removeIfLast();
        close(fd);
    }
    BusFile(const BusFile&) = delete;
    BusFile& operator=(const BusFile&) = delete;

    BusHeader* header() const { return static_cast<BusHeader*>(base); }
    Slot* slots(std::uint32_t ring) const {
        return reinterpret_cast<Slot*>(static_cast<char*>(base) + kHeaderSize) + std::size_t(ring) * kRingSlots;
    }

    // Serialises this process's sends on the bus.
    std::mutex writeMutex;

    // The ring this process sends on (under writeMutex); -1 when every ring
    // is taken.
    int ring() {
        const std::int32_t self = processId();
        BusHeader* h = header();
        if (ringIndex >= 0 && ringOwner == self) {
            // Held under its lock: a pid that someone wrote over it meanwhile
            // is put back.
            if (h->rings[ringIndex].pid.load() != self) h->rings[ringIndex].pid.store(self);
            return ringIndex;
        }
        ringIndex = -1;  // a ring of the parent of a fork is not this process's
        const int lfd = lockFd();
        for (std::uint32_t i = 0; i < kRingCount; ++i) {
            if (!lockPlace(lfd, h, i)) continue;
            h->rings[i].pid.store(self);
            ringIndex = int(i);
            ringOwner = self;
            std::uint32_t used = h->ringsUsed.load();
            while (used < i + 1 && !h->ringsUsed.compare_exchange_weak(used, i + 1)) {
            }
            return ringIndex;
        }
        if (!ringsFullReported) {
            ringsFullReported = true;
            console::printError("CAN bus: all %u sender places of the bus are taken\n", kRingCount);
        }
        return -1;
    }

    // Puts right the live words that a program which crashed or misbehaved
    // may have left wrong: the bandwidth words, and the places whose lock no
    // one holds but which still name a pid.  Safe while others use the bus:
    // a place is touched only under its lock, which every live owner holds.
    void repairLiveWords() {
        BusHeader* h = header();
        repairBandwidth(h);
        const int lfd = lockFd();
        for (std::uint32_t i = 0; i < kRingCount; ++i) {
            if (h->rings[i].pid.load() == 0 || !lockPlace(lfd, h, i)) continue;
            h->rings[i].pid.store(0);
            unlockPlace(lfd, h, i);
        }
    }

    bool sameFile(dev_t d, ino_t i) const { return dev == d && ino == i && opener == processId(); }

    // Set once an endpoint has used the file: only then does the file go
    // with the last program that has it open (a process that merely set the
    // bandwidth leaves it for the programs to come).
    void markUsed() { used = true; }

    // Removes the bus file when no other program has it open: the shared
    // lock this process holds is made exclusive, which succeeds only when no
    // other open file description holds one.  An opener at the same moment
    // either got its shared lock first (the file stays) or finds, once it
    // gets it, that the path no longer names the file it opened and makes a
    // new one.  The lock is kept to the close.  Only the process that opened
    // the file: a child of a fork shares its parent's descriptor and lock.
    void removeIfLast() {
        if (!used || removed || opener != processId()) return;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) return;
        removed = true;
        if (isCurrent(fd, path)) unlink(path.c_str());
    }

    std::string path;  // the bus file's path when it was opened

private:
    // The descriptor this process holds its place lock through.  A child of
    // a fork shares its parent's open file, and with it the parent's locks:
    // it opens the file again for locks of its own.
    int lockFd() {
        const std::int32_t self = processId();
        if (opener == self) return fd;
        if (childLockFdOwner != self) {
            childLockFd = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR | O_CLOEXEC);
            childLockFdOwner = self;
        }
        return childLockFd;
    }

    int fd;
    void* base;
    dev_t dev;
    ino_t ino;
    pid_t opener;
    int ringIndex = -1;
    std::int32_t ringOwner = 0;
    bool ringsFullReported = false;
    int childLockFd = -1;
    std::int32_t childLockFdOwner = 0;
    // Set by endpoints opened on any thread.
    std::atomic<bool> used{false};
    std::atomic<bool> removed{false};
};

std::mutex registryMutex;
std::vector<std::weak_ptr<BusFile>>& registry() {
    static std::vector<std::weak_ptr<BusFile>> files;
    return files;
}

std::shared_ptr<BusFile> BusFile::open(const std::string& name) {
    std::lock_guard<std::mutex> lock(registryMutex);
    std::string dir = busDir();
    if (!makeDirs(dir)) {
        console::printError("Cannot make the CAN bus folder %s: %s\n", dir.c_str(), std::strerror(errno));
        return nullptr;
    }
    const std::string file = dir + "/" + name + ".bus";
    const std::string boot = bootId();
    for (int attempt = 0; attempt < 50; ++attempt) {
        int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT) {
                console::printError("Cannot open the CAN bus file %s: %s\n", file.c_str(), std::strerror(errno));
                return nullptr;
            }
            if (!makeBusFile(file, false)) return nullptr;
            continue;
        }
        // Shared while in use; a process that makes the file anew waits for
        // none and holds the lock exclusively only for that.
        lockFile(fd, LOCK_SH);
        struct stat st;
        if (!isCurrent(fd, file) || fstat(fd, &st) != 0) {
            close(fd);
            continue;
        }
        void* base = st.st_size == off_t(kFileSize) ? mapFile(fd) : nullptr;
        if (base && headerValid(base, boot)) {
            auto& files = registry();
            files.erase(std::remove_if(files.begin(), files.end(), [](auto& w) { return w.expired(); }), files.end());
            for (auto& w : files) {
                auto known = w.lock();
                if (known && known->sameFile(st.st_dev, st.st_ino)) {
                    munmap(base, kFileSize);
                    close(fd);
                    return known;
                }
            }
            auto made = std::make_shared<BusFile>(fd, base, st.st_dev, st.st_ino);
            made->path = file;
            made->repairLiveWords();
            files.push_back(made);
            return made;
        }
        if (base) munmap(base, kFileSize);
        close(fd);
        // Damaged, of another layout or from an earlier boot: made anew, but
        // only while no endpoint has it open.
        fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            console::printError("The CAN bus file %s is damaged and still open in another program; "
                                "it is made anew once no program has it open\n",
                                file.c_str());
            return nullptr;
        }
        bool replace = isCurrent(fd, file);
        if (replace && fstat(fd, &st) == 0 && st.st_size == off_t(kFileSize)) {
            base = mapFile(fd);
            if (base && headerValid(base, boot)) replace = false;  // made anew by another process meanwhile
            if (base) munmap(base, kFileSize);
        }
        bool ok = !replace || makeBusFile(file, true);
        close(fd);
        if (!ok) return nullptr;
    }
    console::printError("Cannot open the CAN bus file %s\n", file.c_str());
    return nullptr;
}

// Whether the entry's published filters pass the frame; when they are being
// changed, yes.
bool wants(WakeEntry& e, canid_t canId) {
    std::uint32_t before = e.filterVersion.load();
    std::uint32_t n = e.filterCount.load();
    if ((before & 1) || n == kWakeAll || n > kWakeFilters) return true;
    bool pass = false;
    for (std::uint32_t i = 0; i < n && !pass; ++i)
        pass = filterPasses(canId, e.filterId[i].load(), e.filterMask[i].load());
    return pass || e.filterVersion.load() != before;
}

std::atomic<unsigned long> wakeCalls{0};

// The frames one endpoint sent that its readers have not been woken for
// yet: their identifiers (all: more kinds than the list holds) and the
// sequence number of the last one.
struct PendingWake {
    static constexpr int kIds = 8;
    std::shared_ptr<BusFile> bus;
    std::uint64_t ownBit = 0;
    canid_t ids[kIds];
    int idCount = 0;
    bool all = false;
    std::uint64_t seq = 0;

    bool wantedBy(WakeEntry& e) const {
        if (all) return true;
        for (int i = 0; i < idCount; ++i)
            if (wants(e, ids[i])) return true;
        return false;
    }
};

// Wakes, once, the sleeping readers that want the frames: those of the
// table whose filters pass one of them (or that have slept for half a ring,
// so that they never fall a ring behind unawares), and all readers outside
// the table; never the sender's own entry.
void wakeSleepers(const PendingWake& w) {
    BusHeader* h = w.bus->header();
    if (h->waiters.load() > 0) {
        h->futexWord.fetch_add(1);
        futexWake(&h->futexWord, INT_MAX);
        wakeCalls.fetch_add(1, std::memory_order_relaxed);
    }
    std::uint64_t sleeping = h->sleepingMask.load() & ~w.ownBit;
    while (sleeping) {
        const int i = __builtin_ctzll(sleeping);
        const std::uint64_t bit = std::uint64_t(1) << i;
        sleeping &= ~bit;
        WakeEntry& e = h->entries[i];
        if (!w.wantedBy(e) && distance(w.seq, e.sleepSeq.load()) < std::int64_t(kRingSlots / 2)) continue;
        if (!(h->sleepingMask.fetch_and(~bit) & bit)) continue;  // another sender woke it
        e.wakeWord.fetch_add(1);
        futexWake(&e.wakeWord, 1);
        wakeCalls.fetch_add(1, std::memory_order_relaxed);
    }
}

// The wake-ups a thread's sends put off while an EmulatedBusWakeBatch of
// that thread lasts.
struct WakeBatchState {
    int depth = 0;
    std::vector<PendingWake> pending;
};
thread_local WakeBatchState wakeBatch;

void flushPendingWakes() {
    std::vector<PendingWake> pending;
    pending.swap(wakeBatch.pending);
    for (const PendingWake& w : pending) wakeSleepers(w);
    pending.clear();
    if (wakeBatch.pending.empty()) wakeBatch.pending.swap(pending);  // keep the room for the next batch
}

// A frame read from a ring, waiting for its turn in the merge.
struct Peek {
    bool have = false;
    std::uint64_t seq = 0;
    std::uint64_t sender = 0;
    can_frame frame;
};

class EmulatedEndpoint : public CanTransport {
public:
    explicit EmulatedEndpoint(const char* name) {
        if (!validName(name)) return;
        bus = BusFile::open(name);
        if (!bus) return;
        BusHeader* h = bus->header();
        bus->markUsed();
        id = h->nextEndpointId.fetch_add(1) + 1;
        for (std::uint32_t i = 0; i < kRingCount; ++i) knownHead[i] = cursor[i] = h->rings[i].head.load();
        claimEntry();
        ok = true;
    }

    ~EmulatedEndpoint() override {
        if (entry) {
            bus->header()->sleepingMask.fetch_and(~entryBit());
            entry->pid.store(0);
        }
    }

    bool valid() const override { return ok; }

    ssize_t write(const can_frame& frame) override {
        if (!ok) {
            errno = EBADF;
            return -1;
        }
        BusHeader* h = bus->header();
        std::uint64_t seq;
        {
            std::unique_lock<std::mutex> lock(bus->writeMutex);
            int r = bus->ring();
            if (r < 0) {
                errno = EAGAIN;
                return -1;
            }
            if (!takeToken(h)) {
                // The sender is about to back off: the readers of what it
                // already sent do not wait for it.
                lock.unlock();
                if (wakeBatch.depth > 0) flushPendingWakes();
                errno = ENOBUFS;
                return -1;
            }
            std::uint64_t w[2];
            std::memcpy(w, &frame, sizeof w);
            Ring& ring = h->rings[r];
            std::uint64_t pos = ring.head.load(std::memory_order_relaxed);
            Slot& s = bus->slots(std::uint32_t(r))[pos & (kRingSlots - 1)];
            // A seqlock: the slot is marked as being written, then filled.
            // The fill's stores are releases, so a reader that sees any of
            // them also sees the mark (no fence: the thread sanitizer does
            // not follow fences; on x86 these are plain stores all the same).
            s.tag.store(busyTag(pos), std::memory_order_relaxed);
            seq = h->nextSeq.fetch_add(1);
            s.seq.store(seq, std::memory_order_release);
            s.word[0].store(w[0], std::memory_order_release);
            s.word[1].store(w[1], std::memory_order_release);
            if (midWriteHook) midWriteHook();
            s.tag.store(slotTag(id, pos), std::memory_order_release);
            ring.head.store(pos + 1);
        }
        wakeReaders(frame.can_id, seq);
        return ssize_t(sizeof(can_frame));
    }

    ssize_t read(can_frame& frame, int timeoutMs) override {
        if (!ok) {
            errno = EBADF;
            return -1;
        }
        std::lock_guard<std::mutex> reading(readMutex);
        BusHeader* h = bus->header();
        const std::int64_t deadline = monotonicNs() + std::int64_t(timeoutMs) * 1000000;
        while (true) {
            if (wakeRequested.exchange(false)) return 0;
            if (takeFrame(frame)) return ssize_t(sizeof(can_frame));
            int waitMs = -1;
            if (timeoutMs >= 0) {
                std::int64_t left = deadline - monotonicNs();
                if (left <= 0) return 0;
                waitMs = int((left + 999999) / 1000000);
            }
            // Announce the sleep, then look once more: a sender that
            // published before seeing the announcement is seen here, and one
            // that publishes after it changes the word before waking.
            std::atomic<std::uint32_t>* word = entry ? &entry->wakeWord : &h->futexWord;
            if (entry) {
                entry->sleepSeq.store(h->nextSeq.load());
                h->sleepingMask.fetch_or(entryBit());
            } else {
                h->waiters.fetch_add(1);
            }
            std::uint32_t seen = word->load();
            if (!framesWaiting() && !wakeRequested.load()) futexWait(word, seen, waitMs);
            if (entry) h->sleepingMask.fetch_and(~entryBit());
            else h->waiters.fetch_sub(1);
        }
    }

    int setFilters(const can_filter* filters, std::size_t count) override {
        if (!ok) {
            errno = EBADF;
            return -1;
        }
        if (count > 0 && !filters) {
            errno = EFAULT;
            return -1;
        }
        std::lock_guard<std::mutex> lock(filterMutex);
        filterList.assign(filters, filters + count);
        if (entry) {
            // Publish the filters for the senders, then wake the reader so
            // that it goes back to sleep under the new ones.
            entry->filterVersion.fetch_add(1);
            std::uint32_t n = count == 0 || count > kWakeFilters ? kWakeAll : std::uint32_t(count);
            for (std::uint32_t i = 0; n != kWakeAll && i < n; ++i) {
                entry->filterId[i].store(filters[i].can_id);
                entry->filterMask[i].store(filters[i].can_mask);
            }
            entry->filterCount.store(n);
            entry->filterVersion.fetch_add(1);
            entry->wakeWord.fetch_add(1);
            futexWake(&entry->wakeWord, 1);
        }
        return 0;
    }

    void wake() override {
        if (!ok) return;
        wakeRequested.store(true);
        std::atomic<std::uint32_t>* word = entry ? &entry->wakeWord : &bus->header()->futexWord;
        word->fetch_add(1);
        futexWake(word, INT_MAX);
    }

    std::uint64_t droppedFrames() const override { return dropped.load(); }

    const char* backendName() const override { return "emulated"; }

    int entryIndex() const { return entry ? int(entry - bus->header()->entries) : -1; }

    // Whether the endpoint's reader sleeps, waiting to be woken (endpoints
    // of the wake table only).
    bool asleep() const { return entry && (bus->header()->sleepingMask.load() & entryBit()); }

private:
    std::uint64_t entryBit() const { return std::uint64_t(1) << (entry - bus->header()->entries); }

    // Takes a free entry of the wake table, or one whose process has died.
    void claimEntry() {
        BusHeader* h = bus->header();
        std::int32_t self = processId();
        for (std::uint32_t i = 0; i < kMaxEntries && !entry; ++i) {
            WakeEntry& e = h->entries[i];
            std::int32_t owner = e.pid.load();
            if (owner != 0 && !processGone(owner)) continue;
            if (!e.pid.compare_exchange_strong(owner, self)) continue;
            e.filterCount.store(kWakeAll);
            e.id.store(id);
            entry = &e;
            h->sleepingMask.fetch_and(~entryBit());
        }
    }

    // The bandwidth: a frame may go when the bucket's theoretical arrival
    // time is at most the tolerance ahead of now.  One compare-and-swap, so
    // a sender stopped anywhere holds up no other.  Words that no setting
    // and no send leaves (damage) are put right, never obeyed.
    static bool takeToken(BusHeader* h) {
        std::int64_t interval = h->intervalNs.load(std::memory_order_relaxed);
        std::int64_t tolerance = h->toleranceNs.load(std::memory_order_relaxed);
        if (interval < 0 || interval > kMaxIntervalNs || tolerance < 0 || tolerance > kMaxToleranceNs) {
            repairBandwidth(h);
            interval = std::clamp<std::int64_t>(h->intervalNs.load(), 0, kMaxIntervalNs);
            tolerance = std::clamp<std::int64_t>(h->toleranceNs.load(), 0, kMaxToleranceNs);
        }
        if (interval == 0) return true;
        const std::int64_t now = monotonicNs();
        std::int64_t tat = h->arrivalNs.load();
        while (true) {
            std::int64_t ahead = distance(std::uint64_t(tat), std::uint64_t(now));
            if (ahead > tolerance + interval) ahead = 0;  // farther than any send puts it: start from now
            ahead = std::max<std::int64_t>(ahead, 0);
            if (ahead > tolerance) return false;
            if (h->arrivalNs.compare_exchange_weak(tat, now + ahead + interval)) return true;
        }
    }

    // Wakes the sleeping readers that want this frame, at once or, while a
    // wake batch of this thread lasts, when it ends.
    void wakeReaders(canid_t canId, std::uint64_t seq) {
        const std::uint64_t ownBit = entry ? entryBit() : 0;
        if (wakeBatch.depth == 0) {
            PendingWake w;
            w.bus = bus;
            w.ownBit = ownBit;
            w.ids[0] = canId;
            w.idCount = 1;
            w.seq = seq;
            wakeSleepers(w);
            return;
        }
        // One record per bus, so that a reader is woken once for the frames
        // of every endpoint of the batch; an endpoint's own reader is left
        // out only while all of them are its own.
        auto& pending = wakeBatch.pending;
        auto it = std::find_if(pending.begin(), pending.end(), [&](const PendingWake& p) { return p.bus == bus; });
        if (it == pending.end()) {
            pending.emplace_back();
            it = pending.end() - 1;
            it->bus = bus;
            it->ownBit = ownBit;
        } else if (it->ownBit != ownBit) {
            it->ownBit = 0;
        }
        it->seq = seq;
        if (it->all || std::find(it->ids, it->ids + it->idCount, canId) != it->ids + it->idCount) return;
        if (it->idCount == PendingWake::kIds) it->all = true;
        else it->ids[it->idCount++] = canId;
    }

    bool passes(canid_t canId) {
        std::lock_guard<std::mutex> lock(filterMutex);
        if (filterList.empty()) return true;
        for (const can_filter& f : filterList)
            if (filterPasses(canId, f.can_id, f.can_mask)) return true;
        return false;
    }

    std::uint32_t ringsInUse() const { return std::min(bus->header()->ringsUsed.load(), kRingCount); }

    // Whether a ring holds frames this endpoint has not taken yet.
    bool framesWaiting() const {
        const BusHeader* h = bus->header();
        for (std::uint32_t i = 0, n = ringsInUse(); i < n; ++i)
            if (peeks[i].have || h->rings[i].head.load() != cursor[i]) return true;
        return false;
    }

    // Moves the read position of a ring that its sender has lapped forward
    // to the oldest frames still safe to read, counting what was lost.
    void skipLapped(std::uint32_t r, std::uint64_t head) {
        std::uint64_t next = head - (kRingSlots - kLapMargin);
        if (distance(next, cursor[r] + 1) < 0) next = cursor[r] + 1;
        if (distance(next, head) > 0) next = head;
        dropped.fetch_add(next - cursor[r]);
        cursor[r] = next;
    }

    // Reads the next frame of a ring into its peek; false when there is none.
    bool peek(std::uint32_t r) {
        Peek& p = peeks[r];
        if (p.have) return true;
        const BusHeader* h = bus->header();
        while (true) {
            // The head as last seen, so that a reader with frames to catch
            // up on does not fetch the line its sender writes for each one.
            if (cursor[r] == knownHead[r]) knownHead[r] = h->rings[r].head.load(std::memory_order_acquire);
            const std::uint64_t head = knownHead[r];
            const std::int64_t ahead = distance(head, cursor[r]);
            if (ahead == 0) return false;
            if (ahead < 0 || ahead > kImplausibleLag) {  // a damaged head: go on from where it stands
                cursor[r] = head;
                return false;
            }
            if (ahead > std::int64_t(kRingSlots)) {
                skipLapped(r, head);
                continue;
            }
            Slot& s = bus->slots(r)[cursor[r] & (kRingSlots - 1)];
            // The slot's words are read with acquire loads: should one come
            // from a later write, the mark of that write is seen below.
            const std::uint64_t before = s.tag.load(std::memory_order_acquire);
            const std::uint64_t seq = s.seq.load(std::memory_order_acquire);
            std::uint64_t w[2] = {s.word[0].load(std::memory_order_acquire),
                                  s.word[1].load(std::memory_order_acquire)};
            const std::uint64_t after = s.tag.load(std::memory_order_relaxed);
            if (std::uint32_t(before) != std::uint32_t(cursor[r]) || after != before) {
                // Overwritten since: the sender has lapped this reader.
                knownHead[r] = h->rings[r].head.load(std::memory_order_acquire);
                skipLapped(r, knownHead[r]);
                continue;
            }
            p.have = true;
            p.seq = seq;
            p.sender = before >> 32;
            std::memcpy(&p.frame, w, sizeof w);
            return true;
        }
    }

    // Takes the next frame for this endpoint that is already on the bus:
    // of the rings' next frames, the one sent first.
    bool takeFrame(can_frame& frame) {
        while (true) {
            int best = -1;
            for (std::uint32_t i = 0, n = ringsInUse(); i < n; ++i) {
                if (!peek(i)) continue;
                if (best < 0 || distance(peeks[i].seq, peeks[best].seq) < 0) best = int(i);
            }
            if (best < 0) return false;
            Peek& p = peeks[best];
            p.have = false;
            ++cursor[best];
            if (p.sender == std::uint32_t(id)) continue;
            if (passes(p.frame.can_id)) {
                frame = p.frame;
                return true;
            }
        }
    }

    std::shared_ptr<BusFile> bus;
    bool ok = false;
    std::uint64_t id = 0;
    WakeEntry* entry = nullptr;        // null: beyond the table
    std::uint64_t cursor[kRingCount] = {};  // next position to read in each ring
    std::uint64_t knownHead[kRingCount] = {};
    Peek peeks[kRingCount];
    std::mutex readMutex;
    std::mutex filterMutex;
    std::vector<can_filter> filterList;
    std::atomic<bool> wakeRequested{false};
    std::atomic<std::uint64_t> dropped{0};
};

}  // namespace

std::unique_ptr<CanTransport> openEmulatedCanTransport(const char* interfaceName) {
    return std::unique_ptr<CanTransport>(new EmulatedEndpoint(interfaceName));
}

EmulatedBusWakeBatch::EmulatedBusWakeBatch() { ++wakeBatch.depth; }

EmulatedBusWakeBatch::~EmulatedBusWakeBatch() {
    if (--wakeBatch.depth == 0) flushPendingWakes();
}

void removeEmulatedBusFilesIfLast() {
    std::lock_guard<std::mutex> lock(registryMutex);
    for (auto& w : registry())
        if (auto bus = w.lock()) bus->removeIfLast();
}

std::string emulatedBusFile(const std::string& interfaceName) { return busDir() + "/" + interfaceName + ".bus"; }

bool setEmulatedBusBandwidth(const std::string& interfaceName, double framesPerSecond, double burstFrames) {
    if (!validName(interfaceName.c_str())) return false;
    auto bus = BusFile::open(interfaceName);
    if (!bus) return false;
    setBandwidth(bus->header(), framesPerSecond, burstFrames);
    return true;
}

namespace testhooks {
void setEmulatedBusMidWriteHook(void (*hook)()) { midWriteHook = hook; }

unsigned long emulatedBusWakeCalls() { return wakeCalls.load(); }

bool emulatedReaderAsleep(CanTransport& endpoint) {
    auto* e = dynamic_cast<EmulatedEndpoint*>(&endpoint);
    return e && e->asleep();
}

int emulatedWakeEntry(CanTransport& endpoint) {
    auto* e = dynamic_cast<EmulatedEndpoint*>(&endpoint);
    return e ? e->entryIndex() : -1;
}

bool setEmulatedBusCountersNearWrap(const std::string& interfaceName) {
    if (!validName(interfaceName.c_str())) return false;
    auto bus = BusFile::open(interfaceName);
    if (!bus) return false;
    BusHeader* h = bus->header();
    const std::uint64_t nearWrap = ~std::uint64_t(0) - 3;
    h->nextSeq.store(nearWrap);
    h->arrivalNs.store(std::int64_t(nearWrap >> 1));
    h->nextEndpointId.store(nearWrap);
    for (Ring& r : h->rings) r.head.store(nearWrap);
    for (WakeEntry& e : h->entries) e.sleepSeq.store(nearWrap);
    return true;
}

void failEmulatedBusReservation(int error) { injectedReserveError = error; }

std::size_t emulatedBusFileSize() { return kFileSize; }

bool setEmulatedBusBandwidthWords(const std::string& interfaceName, std::int64_t intervalNs, std::int64_t toleranceNs,
                                  std::int64_t arrivalAheadNs) {
    if (!validName(interfaceName.c_str())) return false;
    auto bus = BusFile::open(interfaceName);
    if (!bus) return false;
    BusHeader* h = bus->header();
    h->intervalNs.store(intervalNs);
    h->toleranceNs.store(toleranceNs);
    h->arrivalNs.store(monotonicNs() + arrivalAheadNs);
    return true;
}

bool setEmulatedBusPlaceOwners(const std::string& interfaceName, std::int32_t pid) {
    if (!validName(interfaceName.c_str())) return false;
    auto bus = BusFile::open(interfaceName);
    if (!bus) return false;
    BusHeader* h = bus->header();
    for (Ring& r : h->rings) r.pid.store(pid);
    h->ringsUsed.store(kRingCount);
    return true;
}

std::vector<std::int32_t> emulatedBusPlaceOwners(const std::string& interfaceName) {
    std::vector<std::int32_t> owners;
    if (!validName(interfaceName.c_str())) return owners;
    auto bus = BusFile::open(interfaceName);
    if (!bus) return owners;
    for (const Ring& r : bus->header()->rings) owners.push_back(r.pid.load());
    return owners;
}
}  // namespace testhooks

}  // namespace platform
