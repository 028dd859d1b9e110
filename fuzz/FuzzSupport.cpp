#include "FuzzSupport.h"

#include "can/CANinterface.h"
#include "channel/ErrorHandler.h"
#include "platform/CanTransport.h"
#include "platform/Platform.h"

#include <sanitizer/common_interface_defs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace fuzz {

namespace {

std::string sandboxRoot;

// Memory-backed when the machine has a /dev/shm that runs programs (the
// stand-in scripts): the loaders' atomic writes sync every file, which on a
// disk costs milliseconds per input.
std::string sandboxParent() {
    struct statvfs fs;
    if (statvfs("/dev/shm", &fs) == 0 && !(fs.f_flag & (ST_NOEXEC | ST_RDONLY)) && access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return "/tmp";
}

void removeSandbox() {
    // Only ever the folder made below.
    if (sandboxRoot.rfind("/dev/shm/tvl-fuzz-", 0) != 0 && sandboxRoot.rfind("/tmp/tvl-fuzz-", 0) != 0) return;
    std::error_code ec;
    fs::remove_all(sandboxRoot, ec);
}

class NullTransport : public platform::CanTransport {
public:
    bool valid() const override { return true; }
    ssize_t write(const can_frame&) override { return sizeof(can_frame); }
    ssize_t read(can_frame&, int) override { return 0; }
    int setFilters(const can_filter*, std::size_t) override { return 0; }
    void wake() override {}
    std::uint64_t droppedFrames() const override { return 0; }
    const char* backendName() const override { return "null"; }
};

}  // namespace

const std::string& sandbox() {
    if (sandboxRoot.empty()) {
        std::string tmpl = sandboxParent() + "/tvl-fuzz-XXXXXX";
        if (!mkdtemp(tmpl.data())) fail("cannot make a sandbox in " + sandboxParent());
        sandboxRoot = tmpl;
        std::error_code ec;
        fs::copy(fs::path(TVL_SOURCE_DIR) / "data" / "sandbox", sandboxRoot,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        for (const char* d : {"var/lib/tarvel", "var/www/datalogs", "var/log", "run/tvl", "media/usb", "etc/standin"})
            fs::create_directories(fs::path(sandboxRoot) / d);
        // No console device: a tone would hold the thread that sounds it
        // for up to a second, and the handlers sound them on card events.
        fs::remove(fs::path(sandboxRoot) / "dev" / "tty10", ec);
        platform::setSandboxRoot(sandboxRoot);
        std::atexit(removeSandbox);
        __sanitizer_set_death_callback(removeSandbox);   // a sanitizer report ends the process too
    }
    return sandboxRoot;
}

std::string text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) fail("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void fail(const std::string& what) {
    std::fprintf(stderr, "\nfuzz: %s\n", what.c_str());
    std::fflush(stderr);
    removeSandbox();
    std::abort();
}

std::shared_ptr<CANinterface> nullLink() {
    return std::make_shared<CANinterface>(std::make_unique<NullTransport>());
}

std::string busName() { return "fz" + std::to_string(getpid() & 0xFFFFF); }

Channel::Channel(int slot) : ChannelModel(slot, busName().c_str()) {
    std::shared_ptr<CANinterface> l = nullLink();
    {
        std::lock_guard<std::mutex> lock(linkMutex);
        canInterface = l;
    }
    // As startCan and the first card-ready do, without the reader thread,
    // the hellos and the start-up timer.
    probe.attach(l.get());
    l->signalHelloReply().connect(sigc::mem_fun(*this, &ChannelModel::onHelloReply));
    l->signalCardEvent().connect(sigc::mem_fun(*this, &ChannelModel::onCardEvent));
    l->signalCardReady().connect(sigc::mem_fun(*this, &ChannelModel::onCardReady));
    connectReplyHandlers(*l);
    replyHandlersLink = l.get();
    classifier.setCanInterface(l);
}

Meter::Meter(bool threeChannels) : MeterModel(busName().c_str()) {
    for (unsigned i = 0; i < kSlotCount; ++i) {
        errorHandlers[i].reset();
        auto ch = std::make_unique<Channel>(static_cast<int>(i + 1));
        slots[i] = ch.get();
        channels[i] = std::move(ch);
        errorHandlers[i] = std::make_unique<ErrorHandler>(channels[i].get());
        // As the constructor connects the channels it makes.
        using Reading = void (MeterModel::*)(int, float, float, float, float, float, int);
        const Reading readingHandlers[kSlotCount] = {&MeterModel::onSlot1Reading, &MeterModel::onSlot2Reading,
                                                     &MeterModel::onSlot3Reading};
        ChannelModel& c = *channels[i];
        c.signalNewReading().connect(sigc::mem_fun(*this, readingHandlers[i]));
        c.signalCaptureStateChanged().connect(sigc::mem_fun(*this, &MeterModel::onCaptureStateChanged));
        c.signalTriggerLevelChanged().connect(sigc::mem_fun(*this, &MeterModel::onTriggerLevelChanged));
        c.signalWaveformReady().connect(sigc::mem_fun(*this, &MeterModel::onWaveformReady));
        c.signalZeroingStateChanged().connect(sigc::mem_fun(*this, &MeterModel::onZeroingStateChanged));
        c.signalCaptureArmed().connect(sigc::mem_fun(*this, &MeterModel::onCaptureArmed));
        c.signalModeChanged().connect(sigc::mem_fun(*this, &MeterModel::onChannelModeChanged));
        c.signalChannelStatusChanged().connect(sigc::mem_fun(*this, &MeterModel::onChannelStatusChanged));
    }
    vectorSumRange = channels[0]->getRangeSpec();
    threeChannelModel = threeChannels;

    // As startBackplane connects its link.
    std::shared_ptr<CANinterface> l = nullLink();
    l->signalBackplaneTemperature().connect(sigc::mem_fun(*this, &MeterModel::onBackplaneTemperature));
    l->signalBackplaneCalParameter().connect(sigc::mem_fun(*this, &MeterModel::onBackplaneCalParameter));
    l->signalBackplaneBoardInfo().connect(sigc::mem_fun(*this, &MeterModel::onBackplaneBoardInfo));
    l->signalFrontPanelVersion().connect(sigc::mem_fun(*this, &MeterModel::onFrontPanelVersion));
    l->signalPowerOnMode().connect(sigc::mem_fun(*this, &MeterModel::onPowerOnMode));
    l->signalPsuVersion().connect(sigc::mem_fun(*this, &MeterModel::onPsuVersion));
    std::lock_guard<std::mutex> lock(linkMutex);
    backplaneLink = l;
}

Meter& sharedMeter() {
    static Meter* m = [] {
        sandbox();
        ChannelModel::setSettingPause(std::chrono::milliseconds(0));
        auto* made = new Meter;   // kept for the life of the process
        made->stopSaveTimer();
        return made;
    }();
    return *m;
}

}  // namespace fuzz
