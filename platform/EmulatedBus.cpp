#include "platform/EmulatedBus.h"

#include "platform/Platform.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
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
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kSlotCount = 65536;   // power of two
constexpr std::uint32_t kHeaderSize = 4096;
constexpr std::uint64_t kSlotBusy = ~std::uint64_t(0);
// How far past the oldest frame a lapped reader lands, so that it does not
// lose the slot it is about to read at once again.
constexpr std::uint64_t kLapMargin = kSlotCount / 16;

struct BusHeader {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t slotCount;
    std::uint32_t headerSize;
    char bootId[48];                      // the boot the file was made in
    pthread_mutex_t mutex;                // writers; robust, process-shared
    std::atomic<std::uint64_t> writeSeq;  // sequence number of the next frame
    std::atomic<std::uint32_t> futexWord; // bumped on every write and wake
    std::atomic<std::uint32_t> waiters;   // readers sleeping (or about to)
    std::atomic<std::uint64_t> nextEndpointId;
    // Bandwidth (under mutex): a token bucket of frames.
    double framesPerSecond;               // 0: unlimited
    double burstFrames;
    double tokens;
    std::int64_t lastRefillNs;            // CLOCK_MONOTONIC
};
static_assert(sizeof(BusHeader) <= kHeaderSize, "bus header too large");
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "shared atomics must be lock-free");

struct Slot {
    std::atomic<std::uint64_t> seq;       // sequence number held, kSlotBusy while written
    std::atomic<std::uint64_t> sender;    // endpoint id of the writer
    std::atomic<std::uint64_t> word[2];   // the can_frame
};
static_assert(sizeof(can_frame) == 2 * sizeof(std::uint64_t), "can_frame is 16 bytes");

constexpr std::size_t kFileSize = kHeaderSize + std::size_t(kSlotCount) * sizeof(Slot);

std::int64_t monotonicNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

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

int futexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, int timeoutMs) {
    struct timespec ts;
    ts.tv_sec = timeoutMs / 1000;
    ts.tv_nsec = long(timeoutMs % 1000) * 1000000;
    return int(syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT, expected,
                       timeoutMs < 0 ? nullptr : &ts, nullptr, 0));
}

void futexWakeAll(std::atomic<std::uint32_t>* word) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

bool validName(const char* name) {
    if (!name || !*name) {
        std::fprintf(stderr, "CAN interface name is empty\n");
        return false;
    }
    std::size_t len = std::strlen(name);
    if (len > kMaxInterfaceName) {
        std::fprintf(stderr, "CAN interface name too long (at most %zu characters): %s\n", kMaxInterfaceName, name);
        return false;
    }
    if (std::strchr(name, '/') || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        std::fprintf(stderr, "Invalid CAN interface name: %s\n", name);
        return false;
    }
    return true;
}

// A mapping of one bus file.
class BusMapping {
public:
    ~BusMapping() {
        if (base) munmap(base, kFileSize);
    }
    bool open(const std::string& name);
    BusHeader* header() const { return static_cast<BusHeader*>(base); }
    Slot* slots() const { return reinterpret_cast<Slot*>(static_cast<char*>(base) + kHeaderSize); }

    // Takes the writers' lock; a writer that died holding it leaves a ring
    // whose write position was not yet advanced, so the bus is consistent.
    bool lock() {
        int r = pthread_mutex_lock(&header()->mutex);
        if (r == EOWNERDEAD) r = pthread_mutex_consistent(&header()->mutex);
        return r == 0;
    }
    void unlock() { pthread_mutex_unlock(&header()->mutex); }

private:
    void* base = nullptr;
};

bool fileMatches(void* base, const std::string& boot) {
    auto* h = static_cast<BusHeader*>(base);
    return h->magic == kMagic && h->version == kVersion && h->slotCount == kSlotCount &&
           h->headerSize == kHeaderSize && boot == std::string(h->bootId, strnlen(h->bootId, sizeof h->bootId));
}

void* mapFile(int fd) {
    void* p = mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool initHeader(void* base, const std::string& boot) {
    auto* h = static_cast<BusHeader*>(base);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    int r = pthread_mutex_init(&h->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (r != 0) return false;
    std::snprintf(h->bootId, sizeof h->bootId, "%s", boot.c_str());
    h->slotCount = kSlotCount;
    h->headerSize = kHeaderSize;
    h->framesPerSecond = kEmulatedBusFramesPerSecond;
    h->burstFrames = kEmulatedBusBurstFrames;
    h->tokens = kEmulatedBusBurstFrames;
    h->lastRefillNs = monotonicNs();
    h->version = kVersion;
    std::atomic_thread_fence(std::memory_order_release);
    h->magic = kMagic;
    return true;
}

// Opens (or makes) the bus file.  Opening and making are serialised by an
// advisory lock on a companion file, released by the kernel if the holder
// dies; a file from an earlier boot or layout is replaced, since a lock word
// in it may name a thread that no longer exists.
bool BusMapping::open(const std::string& name) {
    std::string dir = resolve(path::kRunDir) + "/canbus";
    if (!makeDirs(dir)) {
        std::fprintf(stderr, "Cannot make the CAN bus folder %s: %s\n", dir.c_str(), std::strerror(errno));
        return false;
    }
    std::string file = dir + "/" + name;
    int lockFd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) {
        std::fprintf(stderr, "Cannot open %s.lock: %s\n", file.c_str(), std::strerror(errno));
        return false;
    }
    while (flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
    }
    std::string boot = bootId();
    int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_size == off_t(kFileSize)) base = mapFile(fd);
        close(fd);
        if (base && !fileMatches(base, boot)) {
            munmap(base, kFileSize);
            base = nullptr;
        }
    }
    if (!base) {
        std::string tmp = file + ".new";
        fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0 && ftruncate(fd, off_t(kFileSize)) == 0) base = mapFile(fd);
        if (fd >= 0) close(fd);
        if (!base || !initHeader(base, boot) || rename(tmp.c_str(), file.c_str()) != 0) {
            std::fprintf(stderr, "Cannot make the CAN bus file %s: %s\n", file.c_str(), std::strerror(errno));
            if (base) munmap(base, kFileSize);
            base = nullptr;
            unlink(tmp.c_str());
        }
    }
    flock(lockFd, LOCK_UN);
    close(lockFd);
    return base != nullptr;
}

class EmulatedEndpoint : public CanTransport {
public:
    explicit EmulatedEndpoint(const char* name) {
        if (!validName(name)) return;
        if (!bus.open(name)) return;
        id = bus.header()->nextEndpointId.fetch_add(1) + 1;
        cursor = bus.header()->writeSeq.load(std::memory_order_acquire);
        ok = true;
    }

    bool valid() const override { return ok; }

    ssize_t write(const can_frame& frame) override {
        if (!ok) {
            errno = EBADF;
            return -1;
        }
        BusHeader* h = bus.header();
        if (!bus.lock()) {
            errno = EIO;
            return -1;
        }
        if (h->framesPerSecond > 0) {
            std::int64_t t = monotonicNs();
            double add = double(t - h->lastRefillNs) * h->framesPerSecond / 1e9;
            h->tokens = std::min(h->burstFrames, h->tokens + std::max(0.0, add));
            h->lastRefillNs = t;
            if (h->tokens < 1.0) {
                bus.unlock();
                errno = ENOBUFS;
                return -1;
            }
            h->tokens -= 1.0;
        }
        std::uint64_t w[2];
        std::memcpy(w, &frame, sizeof w);
        std::uint64_t seq = h->writeSeq.load(std::memory_order_relaxed);
        Slot& s = bus.slots()[seq & (kSlotCount - 1)];
        s.seq.store(kSlotBusy, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        s.sender.store(id, std::memory_order_relaxed);
        s.word[0].store(w[0], std::memory_order_relaxed);
        s.word[1].store(w[1], std::memory_order_relaxed);
        s.seq.store(seq, std::memory_order_release);
        h->writeSeq.store(seq + 1, std::memory_order_release);
        bus.unlock();
        h->futexWord.fetch_add(1);
        if (h->waiters.load() > 0) futexWakeAll(&h->futexWord);
        return ssize_t(sizeof(can_frame));
    }

    ssize_t read(can_frame& frame, int timeoutMs) override {
        if (!ok) {
            errno = EBADF;
            return -1;
        }
        std::lock_guard<std::mutex> reading(readMutex);
        BusHeader* h = bus.header();
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
            h->waiters.fetch_add(1);
            std::uint32_t seen = h->futexWord.load();
            if (h->writeSeq.load() == cursor && !wakeRequested.load()) futexWait(&h->futexWord, seen, waitMs);
            h->waiters.fetch_sub(1);
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
        return 0;
    }

    void wake() override {
        if (!ok) return;
        wakeRequested.store(true);
        bus.header()->futexWord.fetch_add(1);
        futexWakeAll(&bus.header()->futexWord);
    }

    std::uint64_t droppedFrames() const override { return dropped.load(); }

    const char* backendName() const override { return "emulated"; }

    bool holdLock() { return ok && bus.lock(); }

private:
    bool passes(canid_t canId) {
        std::lock_guard<std::mutex> lock(filterMutex);
        if (filterList.empty()) return true;
        for (const can_filter& f : filterList) {
            bool inverted = (f.can_id & CAN_INV_FILTER) != 0;
            canid_t want = f.can_id & ~canid_t(CAN_INV_FILTER);
            bool match = (canId & f.can_mask) == (want & f.can_mask);
            if (match != inverted) return true;
        }
        return false;
    }

    // Moves a reader that a writer has lapped forward to the oldest frames
    // still safe to read, counting what it lost.
    void skipLapped(std::uint64_t head) {
        std::uint64_t oldest = head + kLapMargin > kSlotCount ? head + kLapMargin - kSlotCount : 0;
        std::uint64_t next = std::min(head, std::max(cursor + 1, oldest));
        dropped.fetch_add(next - cursor);
        cursor = next;
    }

    // Takes the next frame for this endpoint that is already on the bus.
    bool takeFrame(can_frame& frame) {
        BusHeader* h = bus.header();
        while (true) {
            std::uint64_t head = h->writeSeq.load(std::memory_order_acquire);
            if (cursor >= head) return false;
            if (head - cursor > kSlotCount) {
                skipLapped(head);
                continue;
            }
            Slot& s = bus.slots()[cursor & (kSlotCount - 1)];
            std::uint64_t before = s.seq.load(std::memory_order_acquire);
            std::uint64_t sender = s.sender.load(std::memory_order_relaxed);
            std::uint64_t w[2] = {s.word[0].load(std::memory_order_relaxed),
                                  s.word[1].load(std::memory_order_relaxed)};
            std::atomic_thread_fence(std::memory_order_acquire);
            std::uint64_t after = s.seq.load(std::memory_order_relaxed);
            if (before != cursor || after != cursor) {
                skipLapped(h->writeSeq.load(std::memory_order_acquire));
                continue;
            }
            ++cursor;
            if (sender == id) continue;
            std::memcpy(&frame, w, sizeof w);
            if (passes(frame.can_id)) return true;
        }
    }

    BusMapping bus;
    bool ok = false;
    std::uint64_t id = 0;
    std::uint64_t cursor = 0;          // next sequence number to read
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

bool setEmulatedBusBandwidth(const std::string& interfaceName, double framesPerSecond, double burstFrames) {
    if (!validName(interfaceName.c_str())) return false;
    BusMapping bus;
    if (!bus.open(interfaceName) || !bus.lock()) return false;
    BusHeader* h = bus.header();
    h->framesPerSecond = std::max(0.0, framesPerSecond);
    h->burstFrames = std::max(1.0, burstFrames);
    h->tokens = h->burstFrames;
    h->lastRefillNs = monotonicNs();
    bus.unlock();
    return true;
}

namespace testhooks {
bool holdEmulatedBusLock(CanTransport& endpoint) {
    auto* e = dynamic_cast<EmulatedEndpoint*>(&endpoint);
    return e && e->holdLock();
}
}  // namespace testhooks

}  // namespace platform
