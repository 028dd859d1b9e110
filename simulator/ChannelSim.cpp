#include "simulator/ChannelSim.h"

#include "can/CANinterface.h"
#include "can/FrameCodec.h"
#include "console/Console.h"
#include "ranges/RangeSpecTable.h"
#include "ranges/TimebaseSpecTable.h"
#include "simulator/StreamTicker.h"

#include <cmath>

namespace {

int floatBits(float value) { return static_cast<int>(can::floatBits(value)); }

// Tick period and the rate reported for a measurement mode and frequency range.
struct TickRate {
    int periodUs;
    float rate;
};

TickRate tickRateFor(int mode, int freqRange) {
    constexpr TickRate slow{3276, 305.2f};
    constexpr TickRate lowFrequency{78125, 12.8f};
    constexpr TickRate fast{1638, 610.5f};
    if (mode == 0) return slow;
    if (mode == 1) {
        if (freqRange == 1) return slow;
        if (freqRange == 2 || freqRange == 3) return lowFrequency;
        return fast;
    }
    return fast;
}

struct DiagReply {
    int mode;
    int value;
    const char* text;
};

constexpr DiagReply kDiagReplies[] = {
    {1, 9, "Vrms"},
    {2, 0, "CTrms"},
    {3, 9, "Vavg"},
    {4, 0, "CTavg"},
};

const char* const kBoardTextNames[] = {"_model = ", "_rev = ", "_serial = ", "_calDate = "};

// Correction tables by group: A, B and C have the lengths the host chooses,
// the fixed tables always 15 elements.
constexpr int kTablesA[] = {0, 1, 2, 3, 4};
constexpr int kTablesB[] = {5, 6, 7, 8};
constexpr int kTablesFixed[] = {9, 10, 11, 12, 18, 19};
constexpr int kTablesC[] = {13, 14, 15, 16, 17};

}  // namespace

ChannelSim::ChannelSim(int channel_, const char* interfaceName, double /*unused*/, double noise)
    : channel(channel_), link(new CANinterface(interfaceName)),
      sine(std::make_unique<SineTable>(TimebaseSpecTable::samplePeriodUs(0))) {
    board.set(0, "111112222233333");   // all 15 bytes, no terminator
    board.set(1, "111");
    board.set(2, "1111");
    board.set(3, "01-01-1111");
    noiseLevel = noise;

    rangeTable = RangeSpecTable::instance();
    _setDefaultCalParameters();
    tables.resize(kTableCount);
    _createTablesA(10);
    _createTablesB(10);
    _createTablesC(12);
    _lookupRangeSpec();

    link->setFilter((channel + 2) << 5, 0x0E0);
    link->signalSetModeRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleSetMode));
    link->signalSetRangeRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleSetRange));
    link->signalTriggerModeRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleTriggerMode));
    link->signalWaveformRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleWaveformRequest));
    link->signalStopWaitingRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleStopWaiting));
    link->signalTriggerLevelRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleTriggerLevel));
    link->signalBoardInfoRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleBoardInfo));
    link->signalResetPeaksRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleResetPeaks));
    link->signalSendAllRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleSendAll));
    link->signalCalSaveToEepromRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleCalSaveToEeprom));
    link->signalCalLoadFromEepromRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handlCalLoadFromEeprom));
    link->signalCalSetParameterRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleCalSetParameter));
    link->signalCalCreateNewTablesRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleCalCreatNewTables));
    link->signalSetCalTableElementRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleSetCalTableElement));
    link->signalHelloRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleHello));
    link->signalSetDiagModeRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleSetDiagMode));
    link->signalZeroRequest().connect(sigc::mem_fun(*this, &ChannelSim::_handleZero));

    streamHandle = sim::StreamTicker::add([this] { return int(tickPeriodUs); }, [this] { _streamTick(); });
    captureThread = std::thread(&ChannelSim::_captureLoop, this);
    link->startReader();
}

ChannelSim::~ChannelSim() {
    // No tick runs from here on.
    sim::StreamTicker::remove(streamHandle);
    // Once stopped, no handler starts a zero run and every sleep ends at once.
    stopFlag.stop();
    link->stopReader();
    std::vector<ZeroRun> runs;
    {
        std::lock_guard<std::mutex> lock(zeroMutex);
        runs.swap(zeroRuns);
    }
    for (auto& run : runs) run.thread.join();
    {
        std::lock_guard<std::mutex> lock(captureMutex);
        captureStopping = true;
    }
    captureCv.notify_all();
    captureThread.join();
    // Joins the reader; a handler still running may yet send on the link.
    delete link;
}

// ---- Operations called by main -------------------------------------------

void ChannelSim::_setChannelId(int code) { axisCode = code; }

void ChannelSim::_setProbeType(int cls) {
    probeClass = cls;
    _lookupRangeSpec();
}

void ChannelSim::_setStatus(int status) {
    probeStatus = status;
    if (status == 2)
        _sendProbeData();
    else
        link->sendProbePresence(channel, status);
}

void ChannelSim::_lookupRangeSpec() {
    currentRange = rangeTable->lookup(range, 0, probeClass);
}

void ChannelSim::setEnabled(bool on) {
    if (enabled.exchange(on) == on) return;
    if (on)
        link->startReader();
    else
        link->stopReader();
}

void ChannelSim::_sendCardEvent(int code) { link->sendCardEvent(channel, code); }

void ChannelSim::_sendProbeMemoryImage(const unsigned char* image, int size) {
    for (int index = 0; index + 4 <= size; index += 4) {
        const char item[6] = {static_cast<char>(index >> 8), static_cast<char>(index & 0xFF),
                              static_cast<char>(image[index]), static_cast<char>(image[index + 1]),
                              static_cast<char>(image[index + 2]), static_cast<char>(image[index + 3])};
        link->sendProbeDataBytes(channel, 23, item, 6);
    }
}

float ChannelSim::fullScale() const {
    const RangeSpec* spec = currentRange;
    return spec ? spec->getFullScale() : 0.0f;
}

// ---- Calibration data -----------------------------------------------------

void ChannelSim::_setDefaultCalParameters() {
    static const float kFirst[] = {4038.133f, 403.8133f, 40.38133f, 4.038133f, 0.3333333f,
                                   200.6567f, 20.65667f, 2.656667f, 1.008f};
    calParameters.assign(kCalParameterCount, 0.0f);
    for (int i = 0; i < 9; ++i) calParameters[i] = kFirst[i];
    for (int i = 9; i <= 39; ++i) calParameters[i] = static_cast<float>(1.0 + i / 1000.0);
}

void ChannelSim::_createTablesA(int length) {
    lengthA = length;
    for (int t : kTablesA) tables[t].assign(length, 1.0f);
}

void ChannelSim::_createTablesB(int length) {
    lengthB = length;
    for (int t : kTablesB) tables[t].assign(length, 1.0f);
    for (int t : kTablesFixed) tables[t].assign(kFixedTableLength, 1.0f);
}

void ChannelSim::_createTablesC(int length) {
    lengthC = length;
    for (int t : kTablesC) tables[t].assign(length, 1.0f);
}

void ChannelSim::_sendCalTables() {
    auto sendGroup = [this](const int* group, int groupSize, int length) {
        for (int index = 0; index < length; ++index)
            for (int k = 0; k < groupSize; ++k)
                link->sendCalTableElement(channel, group[k], index, tables[group[k]][index]);
    };
    sendGroup(kTablesA, 5, lengthA);
    sendGroup(kTablesB, 4, lengthB);
    sendGroup(kTablesFixed, 6, kFixedTableLength);
    sendGroup(kTablesC, 5, lengthC);
}

// ---- Probe data -----------------------------------------------------------

void ChannelSim::_sendProbeData() {
    link->sendProbePresence(channel, 2);
    link->sendProbeDataBytes(channel, 0, "ABC123", 6);
    link->sendProbeDataBytes(channel, 1, "456789", 6);
    link->sendProbeDataBytes(channel, 2, "012345", 6);
    const char zeros[4] = {0, 0, 0, 0};
    link->sendProbeDataBytes(channel, 3, zeros, 4);
    link->sendProbeDataBytes(channel, 4, "04-20-", 6);
    link->sendProbeDataBytes(channel, 5, "2020", 4);
    const char config[7] = {2, static_cast<char>(axisCode.load()), 0, 0, 0, 1,
                            static_cast<char>(probeClass.load())};
    link->sendProbeDataBytes(channel, 6, config, 7);

    // Sensitivity multiplier by probe class: 0.001X ... 1000X.
    const float multiplier = static_cast<float>(std::pow(10.0, probeClass.load() - 3));
    const struct {
        int item;
        float value;
    } values[] = {{7, 10.0f}, {8, 10.0f}, {9, multiplier}, {10, 10.0f}, {11, 2.0f},
                  {12, 0.0f}, {13, 0.0f}, {14, 1.0f}, {15, 1.0f}, {20, 26.3f}};
    for (const auto& v : values) link->sendProbeDataValue(channel, v.item, floatBits(v.value));

    for (int i = 0; i <= 60; ++i) link->sendProbeDataIndexed(channel, 16, i, floatBits(1.0f));
    for (int i = 0; i <= 39; ++i) link->sendProbeDataIndexed(channel, 17, i, floatBits(1.0f));

    const char mainChecksums[4] = {0x12, 0x34, 0x56, 0x78};
    const char tempChecksums[4] = {static_cast<char>(0x87), 0x65, 0x43, 0x21};
    link->sendProbeDataBytes(channel, 21, mainChecksums, 4);
    link->sendProbeDataBytes(channel, 22, tempChecksums, 4);
}

// ---- Host commands ---------------------------------------------------------

void ChannelSim::_handleSetMode(int newMode, int newFreqRange) {
    const TickRate tick = tickRateFor(newMode, newFreqRange);
    tickPeriodUs = tick.periodUs;
    freqRange = newFreqRange;
    link->sendModeReply(channel, newMode, newFreqRange, tick.rate);
}

void ChannelSim::_handleSetRange(int newRange) {
    if (newRange >= 0 && newRange <= 3) {
        autorange = false;
        range = newRange;
        _lookupRangeSpec();
        link->sendRangeReply(channel, newRange);
    } else if (newRange == 4) {
        autorange = true;
    }
}

void ChannelSim::_handleTriggerMode(int newMode) {
    triggerMode = newMode;
    link->sendTriggerModeReply(channel, newMode);
}

void ChannelSim::_handleStopWaiting() { waitingForTrigger = false; }

void ChannelSim::_handleTriggerLevel(float level) { triggerLevel = level; }

void ChannelSim::_sendBoardInfoString(int k) {
    for (int slot = 2 * k; slot <= 2 * k + 1; ++slot)
        link->sendBoardInfo(channel, slot, board.half(slot), sim::BoardInfo::kHalf);
}

void ChannelSim::_handleBoardInfo(int slot, const char* text) {
    if (slot < 0 || slot > 7) return;
    if (!board.store(slot, text)) return;
    const int k = slot / 2;
    console::say(kBoardTextNames[k], board.text(k));
    _sendBoardInfoString(k);
}

void ChannelSim::_handleResetPeaks() {
    peakMax = -30000.0f;
    peakMin = 30000.0f;
}

void ChannelSim::_handleSendAll() {
    synced = true;
    for (int k = 0; k < 4; ++k) _sendBoardInfoString(k);
    for (int index = 0; index < kCalParameterCount; ++index)
        link->sendCalParameter(channel, index, calParameters[index]);
    link->sendCalTableSizes(channel, lengthA, lengthB, lengthC);
    _sendCalTables();
    if (probeStatus == 2)
        _sendProbeData();
    else
        link->sendProbePresence(channel, 0);
    link->sendCardReady(channel);
}

void ChannelSim::_handleCalSaveToEeprom() { console::say("_handleCalSaveToEeprom"); }

void ChannelSim::_handlCalLoadFromEeprom() { console::say("_handlCalLoadFromEeprom"); }

void ChannelSim::_handleCalSetParameter(int index, float value) {
    console::say("_handleCalSetParameter ", index, ", ", static_cast<double>(value));
    if (index < 0 || index >= kCalParameterCount) return;
    calParameters[index] = value;
    link->sendCalParameter(channel, index, value);
}

void ChannelSim::_handleCalCreatNewTables(int a, int b, int c) {
    console::say("_handleCalCreatNewTables ", a, ", ", b, ", ", c);
    _createTablesA(a);
    _createTablesB(b);
    _createTablesC(c);
    link->sendCalTableSizes(channel, a, b, c);
    _sendCalTables();
}

void ChannelSim::_handleSetCalTableElement(int table, int index, float value) {
    if (table < 0 || table > 17) return;
    int length;
    if (table <= 4)
        length = lengthA;
    else if (table <= 8)
        length = lengthB;
    else if (table <= 12)
        length = kFixedTableLength;
    else
        length = lengthC;
    if (index < 0 || index >= length) return;
    tables[table][index] = value;
    console::say("_handleSetCalTableElement ", table, ", ", index, ", ", static_cast<double>(value));
    link->sendCalTableElement(channel, table, index, value);
}

void ChannelSim::_handleHello() { link->sendHelloReply(channel); }

void ChannelSim::_handleSetDiagMode(int newMode) {
    for (const auto& reply : kDiagReplies) {
        if (reply.mode == newMode) {
            link->sendDiagModeReply(channel, reply.value, reply.text);
            return;
        }
    }
    link->sendDiagModeReply(channel, 0, "??");
}

void ChannelSim::_handleZero(int zeroMode, int /*unused*/) {
    if (zeroMode != 0) return;
    std::lock_guard<std::mutex> lock(zeroMutex);
    if (stopFlag.isStopped()) return;
    // Let go of the runs that have ended.
    for (auto it = zeroRuns.begin(); it != zeroRuns.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = zeroRuns.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    zeroRuns.push_back({std::thread([this, done] {
                            _zeroLoop();
                            *done = true;
                        }),
                        done});
}
