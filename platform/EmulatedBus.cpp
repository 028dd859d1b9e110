#include "platform/EmulatedBus.h"

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
constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kSlotCount = 65536;   // power of two
constexpr std::uint32_t kHeaderSize = 16384;
constexpr std::uint32_t kMaxEntries = 64;      // endpoints woken one by one
constexpr std::uint32_t kWakeFilters = 8;      // filters a writer checks before waking
constexpr std::uint32_t kWakeAll = ~std::uint32_t(0);
constexpr std::uint64_t kSlotBusy = ~std::uint64_t(0);
// How far past the oldest frame a lapped reader lands, so that it does not
// lose the slot it is about to read at once again.
constexpr std::uint64_t kLapMargin = kSlotCount / 16;

// A reader's entry in the bus file, so that a writer wakes only the readers
// that sleep and want the frame.  Claimed by the opener (pid), freed when the
// endpoint closes; an entry whose process has died is taken over by the next
// endpoint that opens.  Endpoints beyond the table sleep on the bus-wide word.
struct WakeEntry {
    std::atomic<std::int32_t> pid;           // 0: free
    std::atomic<std::uint32_t> wakeWord;     // futex
    std::atomic<std::uint32_t> sleeping;     // 1 while the reader waits (or is about to)
    std::atomic<std::uint32_t> filterVersion;// odd while the filters below change
    std::atomic<std::uint64_t> id;           // endpoint id
    std::atomic<std::uint64_t> sleepSeq;     // the reader's position when it went to sleep
    std::atomic<std::uint32_t> filterCount;  // kWakeAll: every frame
    std::atomic<std::uint32_t> filterId[kWakeFilters];
    std::atomic<std::uint32_t> filterMask[kWakeFilters];
};

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
    std::atomic<std::uint32_t> entriesUsed; // high-water mark of the table
    WakeEntry entries[kMaxEntries];
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

// An endpoint's word: one reader sleeps on it at a time.
void futexWakeOne(std::atomic<std::uint32_t>* word) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

// SocketCAN's rule: a filter passes when (id & mask) == (filter id & mask),
// inverted by CAN_INV_FILTER in the filter id.
bool filterPasses(canid_t canId, canid_t filterId, canid_t mask) {
    bool inverted = (filterId & CAN_INV_FILTER) != 0;
    canid_t want = filterId & ~canid_t(CAN_INV_FILTER);
    return ((canId & mask) == (want & mask)) != inverted;
}

bool processGone(std::int32_t pid) { return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH; }

bool validName(const char* name) {
    if (!name || !*name) {
        std::fprintf(stderr, "CAN interface name is empty\n");
        return false;
    }
    std::size_t len = std::strlen(name);
    if (len > kMaxInterfaceName) {
        std::fprintf(stderr, "CAN interface name longer than %zu characters: %s\n", kMaxInterfaceName, name);
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
        cursor = bus.header()->writeSeq.load();
        claimEntry();
        ok = true;
    }

    ~EmulatedEndpoint() override {
        if (entry) {
            entry->sleeping.store(0);
            entry->pid.store(0);
        }
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
        h->writeSeq.store(seq + 1);
        bus.unlock();
        wakeReaders(frame.can_id, seq);
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
            // Announce the sleep, then look once more: a writer that
            // published before seeing the announcement is seen here.
            std::atomic<std::uint32_t>* word = entry ? &entry->wakeWord : &h->futexWord;
            std::atomic<std::uint32_t>* sleepers = entry ? &entry->sleeping : &h->waiters;
            if (entry) entry->sleepSeq.store(cursor);
            sleepers->fetch_add(1);
            std::uint32_t seen = word->load();
            if (h->writeSeq.load() == cursor && !wakeRequested.load()) futexWait(word, seen, waitMs);
            sleepers->fetch_sub(1);
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
            // Publish the filters for the writers, then wake the reader so
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
            futexWakeOne(&entry->wakeWord);
        }
        return 0;
    }

    void wake() override {
        if (!ok) return;
        wakeRequested.store(true);
        std::atomic<std::uint32_t>* word = entry ? &entry->wakeWord : &bus.header()->futexWord;
        word->fetch_add(1);
        futexWakeAll(word);
    }

    std::uint64_t droppedFrames() const override { return dropped.load(); }

    const char* backendName() const override { return "emulated"; }

    bool holdLock() { return ok && bus.lock(); }
    int entryIndex() const { return entry ? int(entry - bus.header()->entries) : -1; }

private:
    // Takes a free entry of the wake table, or one whose process has died.
    void claimEntry() {
        BusHeader* h = bus.header();
        std::int32_t self = std::int32_t(getpid());
        for (std::uint32_t i = 0; i < kMaxEntries && !entry; ++i) {
            WakeEntry& e = h->entries[i];
            std::int32_t owner = e.pid.load();
            if (owner != 0 && !processGone(owner)) continue;
            if (!e.pid.compare_exchange_strong(owner, self)) continue;
            e.sleeping.store(0);
            e.filterCount.store(kWakeAll);
            e.id.store(id);
            entry = &e;
            std::uint32_t used = h->entriesUsed.load();
            while (used < i + 1 && !h->entriesUsed.compare_exchange_weak(used, i + 1)) {
            }
        }
    }

    // Wakes the sleeping readers that want this frame: those of the table
    // whose filters pass it (or that have slept for half a ring, so that they
    // never fall a ring behind unawares), and all readers outside the table.
    void wakeReaders(canid_t canId, std::uint64_t seq) {
        BusHeader* h = bus.header();
        h->futexWord.fetch_add(1);
        if (h->waiters.load() > 0) futexWakeAll(&h->futexWord);
        std::uint32_t used = std::min(h->entriesUsed.load(), kMaxEntries);
        for (std::uint32_t i = 0; i < used; ++i) {
            WakeEntry& e = h->entries[i];
            if (e.pid.load() == 0 || e.sleeping.load() == 0 || e.id.load() == id) continue;
            if (!wants(e, canId) && seq - e.sleepSeq.load() < kSlotCount / 2) continue;
            e.wakeWord.fetch_add(1);
            futexWakeOne(&e.wakeWord);
        }
    }

    // Whether the entry's published filters pass the frame; when they are
    // being changed, yes.
    static bool wants(WakeEntry& e, canid_t canId) {
        std::uint32_t before = e.filterVersion.load();
        std::uint32_t n = e.filterCount.load();
        if ((before & 1) || n == kWakeAll || n > kWakeFilters) return true;
        bool pass = false;
        for (std::uint32_t i = 0; i < n && !pass; ++i)
            pass = filterPasses(canId, e.filterId[i].load(), e.filterMask[i].load());
        return pass || e.filterVersion.load() != before;
    }

    bool passes(canid_t canId) {
        std::lock_guard<std::mutex> lock(filterMutex);
        if (filterList.empty()) return true;
        for (const can_filter& f : filterList)
            if (filterPasses(canId, f.can_id, f.can_mask)) return true;
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
    WakeEntry* entry = nullptr;        // null: beyond the table
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

int emulatedWakeEntry(CanTransport& endpoint) {
    auto* e = dynamic_cast<EmulatedEndpoint*>(&endpoint);
    return e ? e->entryIndex() : -1;
}
}  // namespace testhooks

}  // namespace platform
