// The endpoint, the filter list, the reader thread and the send path.
#include "can/CANinterface.h"
#include "can/FrameCodec.h"
#include "console/Console.h"
#include "platform/CanTransport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace can {

namespace {

class ClosedEndpoint : public platform::CanTransport {
public:
    bool valid() const override { return false; }
    ssize_t write(const can_frame&) override { return fail(); }
    ssize_t read(can_frame&, int) override { return fail(); }
    int setFilters(const can_filter*, std::size_t) override { return static_cast<int>(fail()); }
    void wake() override {}
    std::uint64_t droppedFrames() const override { return 0; }
    const char* backendName() const override { return "closed"; }
private:
    static ssize_t fail() {
        errno = EBADF;
        return -1;
    }
};

}  // namespace

std::unique_ptr<platform::CanTransport> closedEndpoint() {
    return std::make_unique<ClosedEndpoint>();
}

void sleepNanoseconds(long nanoseconds) {
    timespec t{nanoseconds / 1000000000L, nanoseconds % 1000000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

int writeWithBackoff(platform::CanTransport& endpoint, const can_frame& frame, SleepFn sleep) {
    constexpr int kMaxTries = 18;
    long interval = 1000;   // ns, doubled after every full-queue failure
    int full = 0;           // writes that failed with ENOBUFS
    for (;;) {
        errno = 0;
        const ssize_t written = endpoint.write(frame);
        if (written == static_cast<ssize_t>(sizeof frame)) return 0;
        const int err = errno;
        if (written < 0 && err == ENOBUFS) {
            sleep(interval);
            if (++full == kMaxTries) return kMaxTries - 1;
            interval *= 2;
            continue;
        }
        // Another error, or a short write: the frame is lost.
        console::print("bytesSent = %d, errno = %d\n", static_cast<int>(written), err);
        return -(full + 1);
    }
}

}  // namespace can

namespace {

// Set by a reader thread while it runs; the destructor, called on that thread
// by a handler, marks the object gone so that the loop touches nothing more.
thread_local bool* readerObjectGone = nullptr;

constexpr int kReadTimeoutMs = 1000;

enum class Received { Frame, Nothing, Error };

constexpr std::chrono::seconds kOverrunQuiet{1};

}  // namespace

void CANinterface::noteOverrun() {
    const std::uint64_t total = transport->droppedFrames();
    if (total == overrunSeen) return;
    const auto now = std::chrono::steady_clock::now();
    if (overrunSeen == 0 || now - lastOverrun >= kOverrunQuiet) {
        console::print("CANinterface: receive overrun, %llu CAN frames lost (%llu in all)\n",
                       static_cast<unsigned long long>(total - overrunSeen), static_cast<unsigned long long>(total));
    }
    overrunSeen = total;
    lastOverrun = now;
}

namespace {

Received receiveOne(CANinterface& link, platform::CanTransport& endpoint) {
    can_frame frame;
    const ssize_t n = endpoint.read(frame, kReadTimeoutMs);
    if (n < 0) {
        console::perror("CANinterface::readMessage");
        return Received::Error;
    }
    if (n == 0) return Received::Nothing;
    if (n < static_cast<ssize_t>(sizeof frame)) {
        console::print("Incomplete CAN frame");
        return Received::Nothing;
    }
    link.decodeFrame(frame);
    return Received::Frame;
}

}  // namespace

CANinterface::CANinterface(std::unique_ptr<platform::CanTransport> endpoint)
    : transport(endpoint ? std::move(endpoint) : can::closedEndpoint()) {}

CANinterface::~CANinterface() {
    running.store(0);
    if (readerStarted) {
        if (pthread_equal(pthread_self(), readerThread)) {
            // A handler is deleting its own link: the thread ends by itself once
            // the handler returns, without touching this object again.
            if (readerObjectGone) *readerObjectGone = true;
            pthread_detach(readerThread);
        } else {
            transport->wake();
            pthread_join(readerThread, nullptr);
        }
    }
    // End every connection now: a signal destroyed while it emits would still
    // call the handlers connected after the one that deleted this object.
    for (sigc::signal_base* s : std::initializer_list<sigc::signal_base*>{
             &HelloReply, &KeyPressed, &Sample, &WaveformStart, &WaveformData, &WaveformEnd,
             &RangeReply, &ModeReply, &PeakValley, &ProbePresence, &DiagModeReply, &ZeroDone,
             &ZeroingProgress, &BackplaneTemperature, &BackplaneCalParameter, &ProbeData,
             &CalParameter, &CalTableSizes, &CalTableElement, &Frequency, &BoardInfo,
             &BackplaneBoardInfo, &QueryReply, &CardEvent, &FrontPanelVersion, &PsuVersion,
             &TriggerModeReply, &PowerOnMode, &CardReady, &BootloadNotice, &ButtonBacklightRequest,
             &SetPowerOnModeRequest, &HostReady, &HelloRequest, &SetRangeRequest, &ResetPeaksRequest,
             &SendAllRequest, &SetModeRequest, &SetDiagModeRequest, &ZeroRequest,
             &CalSaveToEepromRequest, &CalLoadFromEepromRequest, &CalSetParameterRequest,
             &CalCreateNewTablesRequest, &SetCalTableElementRequest, &BoardInfoRequest,
             &BackplaneBoardInfoRequest, &TriggerModeRequest, &TriggerLevelRequest, &WaveformRequest,
             &StopWaitingRequest, &TemperatureRequest})
        s->clear();
}

namespace {

can_filter makeFilter(int id, int mask) {
    can_filter f;
    f.can_id = static_cast<canid_t>(id);
    f.can_mask = static_cast<canid_t>(mask);
    return f;
}

}  // namespace

// The whole list goes to the endpoint on every change, as one call.
int CANinterface::addFilter(int id, int mask) {
    std::lock_guard<std::mutex> lock(filterMutex);
    filters.push_back(makeFilter(id, mask));
    return transport->setFilters(filters.data(), filters.size()) == 0 ? 0 : -1;
}

int CANinterface::setFilter(int id, int mask) {
    std::lock_guard<std::mutex> lock(filterMutex);
    filters.assign(1, makeFilter(id, mask));
    return transport->setFilters(filters.data(), filters.size()) == 0 ? 0 : -1;
}

int CANinterface::startReader() {
    if (readerStarted) {
        if (running.load() || pthread_equal(pthread_self(), readerThread)) return EBUSY;
        pthread_join(readerThread, nullptr);   // a stopped reader: end it before the next
        readerStarted = false;
    }
    running.store(1);
    const int rc = pthread_create(&readerThread, nullptr, &CANinterface::readerEntry, this);
    if (rc != 0)
        running.store(0);
    else
        readerStarted = true;
    return rc;
}

void CANinterface::stopReader() {
    running.store(0);
    transport->wake();
}

void CANinterface::setKeyEventsEnabled(bool enabled) { keyEventsEnabled.store(enabled); }

void* CANinterface::readerEntry(void* self) {
    static_cast<CANinterface*>(self)->readerLoop();
    return nullptr;
}

void CANinterface::readerLoop() {
    bool gone = false;
    readerObjectGone = &gone;
    while (running.load()) {
        // An endpoint that never opened has nothing to read: the reader ends.
        if (!transport->valid()) break;
        const Received r = receiveOne(*this, *transport);
        if (gone) {   // destroyed by a handler: this object no longer exists
            readerObjectGone = nullptr;
            return;
        }
        noteOverrun();
        if (r == Received::Error && !transport->valid()) break;
    }
    readerObjectGone = nullptr;
}

void CANinterface::readMessage() {
    receiveOne(*this, *transport);
    noteOverrun();
}

int CANinterface::sendFrame(const can_frame* frame) {
    if (!frame) return -1;
    return can::writeWithBackoff(*transport, *frame);
}

int CANinterface::sendRawFrame(int id, int length, const char* bytes) {
    if (length < 0 || length > 8 || (length > 0 && bytes == nullptr)) return -1;
    can_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.can_id = static_cast<canid_t>(id);
    frame.can_dlc = static_cast<std::uint8_t>(length);
    if (length > 0) std::memcpy(frame.data, bytes, static_cast<std::size_t>(length));
    return sendFrame(&frame);
}

std::uint64_t CANinterface::droppedFrames() const { return transport->droppedFrames(); }
