// ChannelModel: construction, the card link and its handshake, the start-up
// watchdog, accessors and the small bookkeeping operations.
#include "channel/ChannelModel.h"

#include "can/CANinterface.h"
#include "console/Console.h"
#include "platform/Platform.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

constexpr float kDefaultCalParameters[] = {
    4000.038f, 400.03812f, 40.03813f, 4.038133f, 0.3333333f, 200.65668f, 20.656668f, 2.6566668f,
};

constexpr float kFrequencyPoints[ChannelModel::kFrequencyPointCount] = {
    1, 2, 3, 4, 5.5f, 7.5f, 10, 14, 20, 28, 40, 55, 70, 100, 150,
};

// Largest number of samples one reading may average: about an hour of the
// card's fastest stream, far beyond any rate the front panel offers.
constexpr double kMaxSamplesPerAverage = 1.0e7;

}  // namespace

// ---- CalParameterTable ----------------------------------------------------

CalParameterTable::CalParameterTable() {
    for (auto& v : values) v.store(0.0f);
    int i = 0;
    for (float v : kDefaultCalParameters) values[i++].store(v);
}

float CalParameterTable::get(int index) const {
    if (index < 0 || index >= kSize) return 0.0f;
    return values[index].load(std::memory_order_relaxed);
}

void CalParameterTable::set(int index, float v) {
    if (index < 0 || index >= kSize) return;
    values[index].store(v, std::memory_order_relaxed);
}

// ---- Construction -----------------------------------------------------------

ChannelModel::ChannelModel(int channelNumber, const char* interfaceName)
    : classifier(channelNumber, this),
      channel(channelNumber),
      settingsSaveStatus("settings file ch" + std::to_string(channelNumber)) {
    copyText(canInterfaceName, sizeof canInterfaceName, interfaceName ? interfaceName : "can0");
    rangeSpecTable = RangeSpecTable::instance();
    rangeSpec = rangeSpecTable->lookup(3, 0, probe.getProbeClass());
    settingsPath = platform::dataFile("ch" + std::to_string(channel));
    frequencyPoints.assign(std::begin(kFrequencyPoints), std::end(kFrequencyPoints));

    // Every timer is connected once here (connecting in startCan would add a
    // second handler with every restart of the link).
    startupTimer.signalTimeout().connect(sigc::mem_fun(*this, &ChannelModel::onStartupTimeout));
    settleTimer.signalTimeout().connect(sigc::mem_fun(*this, &ChannelModel::onProbeSettled));
    zeroTimeoutTimer.signalTimeout().connect(sigc::mem_fun(*this, &ChannelModel::onZeroTimeout));
    zeroHourTimer.signalTimeout().connect(sigc::mem_fun(*this, &ChannelModel::onZeroDue));
    zeroQuarterHourTimer.signalTimeout().connect(sigc::mem_fun(*this, &ChannelModel::onZeroDue));
    rateTimer.signalTimeout().connect(sigc::mem_fun(*this, &ChannelModel::onRateTimer));
    settingsSaveTimer.signalTimeout().connect(
        sigc::hide_return(sigc::mem_fun(*this, &ChannelModel::saveSettingsIfDirty)));
    waveformTimer.signalTimeout().connect(sigc::mem_fun(*this, &ChannelModel::onCaptureRefresh));
    cardWatchTimer.signalTimeout().connect(sigc::mem_fun(*this, &ChannelModel::onCardWatchTick));

    probe.signalChanged().connect(sigc::mem_fun(*this, &ChannelModel::onProbeChanged));
    seenUpperThreshold = classifier.getUpperThreshold();
    seenLowerThreshold = classifier.getLowerThreshold();
    classifier.signalSettingsChanged().connect(sigc::mem_fun(*this, &ChannelModel::onClassifierSettingsChanged));
    classifier.signalError().connect(sigc::mem_fun(*this, &ChannelModel::onCardEvent));

    for (auto& buffer : waveformBuffers) {
        buffer.count = WaveformBuffer::kCapacity;
        std::fill(std::begin(buffer.samples), std::end(buffer.samples), 0.0f);
    }
    zeroHourTimer.start();
}

ChannelModel::~ChannelModel() {
    stopCan();
    for (Timer* t : {&startupTimer, &settleTimer, &zeroTimeoutTimer, &zeroHourTimer,
                     &zeroQuarterHourTimer, &rateTimer, &settingsSaveTimer, &waveformTimer,
                     &cardWatchTimer}) {
        t->stop();
    }
    // The probe and zero timer handlers run under probeStateMutex: once it
    // has been taken here, none of them is still inside this model.
    std::lock_guard<std::mutex> lock(probeStateMutex);
}

// ---- Card link ------------------------------------------------------------

std::shared_ptr<CANinterface> ChannelModel::link() const {
    std::lock_guard<std::mutex> lock(linkMutex);
    return canInterface;
}

void ChannelModel::startCan() {
    std::shared_ptr<CANinterface> created;
    {
        std::lock_guard<std::mutex> lock(linkMutex);
        if (canInterface) return;
        created = std::make_shared<CANinterface>(canInterfaceName);
        canInterface = created;
    }
    replyHandlersLink = nullptr;
    linkState = kLinkOpening;
    created->setFilter((channel + 2) << 8, 0x700);
    // Connect before the reader runs, so that no early reply is missed.
    probe.attach(created.get());
    created->signalHelloReply().connect(sigc::mem_fun(*this, &ChannelModel::onHelloReply));
    created->signalCardEvent().connect(sigc::mem_fun(*this, &ChannelModel::onCardEvent));
    created->signalCardReady().connect(sigc::mem_fun(*this, &ChannelModel::onCardReady));
    created->startReader();

    value = 0.0f;
    resetHolds();

    console::say("Channel ", channel, " CAN running");

    for (int i = 0; i < 3; ++i) {
        created->sendHello(channel);
        if (i < 2) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    classifier.setCanInterface(created);
    startupTimer.start();
    settleTimer.stop();
    // Started once: its tick goes on over later links.
    if (!cardWatchTimer.isActive()) cardWatchTimer.start();
}

void ChannelModel::stopCan() {
    std::shared_ptr<CANinterface> old;
    {
        std::lock_guard<std::mutex> lock(linkMutex);
        old.swap(canInterface);
    }
    if (!old) return;
    linkState = kLinkDown;   // the watch's tick goes on, idle until the next link
    // The card gets these settings again when it is synced on the next link.
    if (settingsLoaded) {
        const std::string settings = settingsFileContents();
        std::lock_guard<std::mutex> lock(resumeMutex);
        resumeSettings = settings;
    }
    classifier.setCanInterface(nullptr);
    // The reader must have ended before the interface goes.  Copies taken
    // for a send live only as long as the send: wait for them, so that the
    // last reference (whose destruction joins the reader) is dropped here
    // and not by a handler on the reader thread while this model goes on.
    old->stopReader();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (old.use_count() > 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    old.reset();
    console::say("Channel ", channel, " CAN shuts off");
}

void ChannelModel::connectReplyHandlers(CANinterface& l) {
    l.signalSample().connect(sigc::mem_fun(*this, &ChannelModel::onSample));
    l.signalTriggerModeReply().connect(sigc::mem_fun(*this, &ChannelModel::onCaptureState));
    l.signalWaveformStart().connect(sigc::mem_fun(*this, &ChannelModel::onWaveformStart));
    l.signalWaveformData().connect(sigc::mem_fun(*this, &ChannelModel::onWaveformData));
    l.signalWaveformEnd().connect(sigc::mem_fun(*this, &ChannelModel::onWaveformEnd));
    l.signalRangeReply().connect(sigc::mem_fun(*this, &ChannelModel::onRangeReply));
    l.signalModeReply().connect(sigc::mem_fun(*this, &ChannelModel::onModeReply));
    l.signalPeakValley().connect(sigc::mem_fun(*this, &ChannelModel::onPeakValley));
    l.signalDiagModeReply().connect(sigc::mem_fun(*this, &ChannelModel::onDiagModeReply));
    l.signalZeroDone().connect(sigc::mem_fun(*this, &ChannelModel::onZeroDone));
    l.signalZeroingProgress().connect(sigc::mem_fun(*this, &ChannelModel::onZeroingProgress));
    l.signalCalParameter().connect(sigc::mem_fun(*this, &ChannelModel::onCalParameter));
    l.signalCalTableSizes().connect(sigc::mem_fun(*this, &ChannelModel::onCalTableSizes));
    l.signalCalTableElement().connect(sigc::mem_fun(*this, &ChannelModel::onCalTableElement));
    l.signalFrequency().connect(sigc::mem_fun(*this, &ChannelModel::onFrequency));
    l.signalBoardInfo().connect(sigc::mem_fun(*this, &ChannelModel::onBoardInfo));
    l.signalQueryReply().connect(sigc::mem_fun(*this, &ChannelModel::onQueryReply));
}

void ChannelModel::onCardReady() {
    // Runs on the link's reader thread.  A card that sends card-ready again
    // on the same link (a second send-all) must not get every reply handled
    // twice: the handlers are connected once per link.
    auto l = link();
    if (!l) return;
    bool firstOnThisLink = false;
    if (l.get() != replyHandlersLink) {
        connectReplyHandlers(*l);
        replyHandlersLink = l.get();
        firstOnThisLink = true;
    }
    // The settings go to the card once per sync: a later card-ready (the
    // answer to any later send-all) must not put back settings changed since.
    const int state = linkState;
    if (state == kLinkSynced || state == kLinkDown) return;
    if (state != kLinkOpening) cardPresent = true;   // a card given up on speaks again
    // The file is read when the first card reports ready; a card synced
    // again later gets the channel's settings as the program holds them.
    if (settingsLoaded)
        resendSettings();
    else
        loadSettings();
    // The card's board texts, calibration values and tables came before this
    // end frame, while nothing handled them: ask once more, now that the
    // handlers listen, so they are not lost.  The answer's own card-ready
    // finds the handlers in place and asks nothing.
    if (firstOnThisLink) requestAllData();
    restartSilenceCount();
    // Unless the link was taken down meanwhile (stopCan): that stays.
    int expected = state;
    linkState.compare_exchange_strong(expected, kLinkSynced);
}

void ChannelModel::onHelloReply() {
    restartSilenceCount();   // a frame from the card
    cardPresent = true;
    std::lock_guard<std::mutex> lock(probeStateMutex);
    onCardSpoke(-1);
}

void ChannelModel::onStartupTimeout() {
    std::lock_guard<std::mutex> lock(probeStateMutex);
    int opening = kLinkOpening;
    linkState.compare_exchange_strong(opening, kLinkGivenUp);
    channelStatus = kChannelNoProbe;
    channelStatusChanged.emit(channel, kChannelNoProbe);
}

// ---- Texts --------------------------------------------------------------------

void ChannelModel::copyText(char* dest, std::size_t size, const char* src) {
    std::memset(dest, 0, size);
    if (src) std::strncpy(dest, src, size - 1);
}

std::string ChannelModel::readText(const char* src) const {
    std::lock_guard<std::mutex> lock(textMutex);
    return std::string(src);
}

std::string ChannelModel::getBoardModel() const { return readText(boardModel); }
std::string ChannelModel::getBoardRev() const { return readText(boardRevision); }
std::string ChannelModel::getBoardSerial() const { return readText(boardSerial); }
std::string ChannelModel::getBoardCalDate() const { return readText(boardCalDate); }
std::string ChannelModel::getTemperatureUnitText() const { return readText(temperatureUnitText); }
std::string ChannelModel::getDiagUnitText() const { return readText(diagUnitText); }

// ---- Accessors ----------------------------------------------------------------

ChannelModel::SignalFreqText ChannelModel::getSignalFreqText() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return {signalFreqShown, signalFreqFormat, signalFreqUnitText};
}

void ChannelModel::setDecimation(int n) {
    decimation = n < 1 ? 1 : n;
}

void ChannelModel::setSamplesPerAverage(int n) {
    samplesPerAverage = n < 1 ? 1 : n;
}

void ChannelModel::setTriggerMode(int modeValue) {
    triggerMode = modeValue;
    if (modeValue >= 0 && modeValue <= 2) captureRunning = true;
    else if (modeValue == 3) captureRunning = false;
}

const TimebaseSpec* ChannelModel::getTimebaseSpec() const {
    return timebaseTable.lookup(freqRange, timebaseIndex);
}

int ChannelModel::getWaveformTimerPeriod() const { return waveformTimer.getPeriod(); }
void ChannelModel::setWaveformTimerPeriod(int ms) { waveformTimer.setPeriod(ms); }

float ChannelModel::getRmsOffset(int r) const {
    if (r < 0 || r > 3) r = 0;
    int base = 61;
    if (mode != 0) {
        switch (freqRange.load()) {
        case 1: base = 69; break;
        case 2: base = 73; break;
        case 3: base = 77; break;
        default: base = 65; break;
        }
    }
    return calParameters.get(base + r);
}

float ChannelModel::waveformScaleValue(int setting) const {
    return waveformDivision(rangeSpec.load()->getFullScale(), setting);
}

float ChannelModel::waveformDivision(float f, int setting) {
    switch (setting) {
    case 0: return f / 60.0f;
    case 1: return f / 30.0f;
    case 2: return f / 15.0f;
    case 3: return f / 6.0f;
    case 4: return f / 3.0f;
    case 5: return 2.0f * f / 3.0f;
    default: return 5.0f;
    }
}

float ChannelModel::getTemperature() const {
    const float t = probe.getTemperature();
    switch (temperatureUnits.load()) {
    case 0: return t * 9.0f / 5.0f + 32.0f;
    case 1: return t;
    case 2: return t + 273.15f;
    default: return std::nanf("");
    }
}

bool ChannelModel::hasProbeTemperatureSensor() const {
    return probe.hasTemperatureSensor();
}

bool ChannelModel::isTemperatureValid() const {
    const float t = probe.getTemperature();
    return probe.hasTemperatureSensor() && t > -41.0f && t < 101.0f;
}

// ---- Small operations ---------------------------------------------------------

float ChannelModel::applyOffsets(float reading) const {
    if (relativeState != 0) reading -= relativeOffset;
    if (manualZeroState != 0) reading -= manualZeroOffset;
    return reading;
}

void ChannelModel::resetAveraging() {
    averageCount.store(0, std::memory_order_relaxed);
    averageSum.store(0.0, std::memory_order_relaxed);
    decimationCounter.store(0, std::memory_order_relaxed);
}

namespace {
int samplesIn(float rate, float seconds) {
    const double n = static_cast<double>(rate) * seconds;
    if (!std::isfinite(n) || n < 1.0) return 0;
    return n > kMaxSamplesPerAverage ? static_cast<int>(kMaxSamplesPerAverage) : static_cast<int>(n);
}
}  // namespace

void ChannelModel::skipHalfSecondAndPublish() {
    samplesToSkip = samplesIn(receivedSampleRate, 0.5f);
    resetAveraging();
    publishRangeAfterSkip = true;
}

void ChannelModel::skipHalfSecond() {
    samplesToSkip = samplesIn(receivedSampleRate, 0.5f);
    resetAveraging();
}

void ChannelModel::skipQuarterSecond() {
    samplesToSkip = samplesIn(receivedSampleRate, 0.25f);
    resetAveraging();
}

void ChannelModel::setDisplayRate(float rate) {
    // A rate of zero, below zero or not a number would divide by zero or
    // give no average at all: it is refused and the previous rate kept.
    if (!std::isfinite(rate) || rate <= 0.0f) return;
    displayRate = rate;
    updateSamplesPerAverage();
}

void ChannelModel::updateSamplesPerAverage() {
    decimation = 1;
    const float card = cardSampleRate;
    const float shown = displayRate;
    if (!std::isfinite(card) || card <= 0.0f || !std::isfinite(shown) || shown <= 0.0f ||
        shown >= card) {
        samplesPerAverage = 1;
        return;
    }
    double n = std::floor(static_cast<double>(card) / shown + 0.5);
    if (n < 1.0) n = 1.0;
    if (n > kMaxSamplesPerAverage) n = kMaxSamplesPerAverage;
    samplesPerAverage = static_cast<int>(n);
}

void ChannelModel::onRateTimer() {
    receivedSampleRate = 0.25f * static_cast<float>(receivedSampleCount.exchange(0));
    displayedSampleRate = 0.25f * static_cast<float>(displayedReadingCount.exchange(0));
}

void ChannelModel::onWaveformStart(int sampleCount) {
    restartSilenceCount();   // a frame from the card
    // The buffer holds 500 samples: a larger announced count is clamped, so
    // readers never walk past the end.
    if (sampleCount < 0) sampleCount = 0;
    if (sampleCount > WaveformBuffer::kCapacity) sampleCount = WaveformBuffer::kCapacity;
    WaveformBuffer& buffer = waveformBuffers[fillWaveformBuffer];
    waveformSampleIndex = 0;
    std::fill(std::begin(buffer.samples), std::end(buffer.samples), 0.0f);
    buffer.count = sampleCount;
}

void ChannelModel::onWaveformData(float first, float second) {
    restartSilenceCount();   // a record may come in place of samples
    const int pair = waveformSampleIndex;
    if (pair < 0 || pair >= WaveformBuffer::kCapacity / 2) return;   // extra pairs are dropped
    WaveformBuffer& buffer = waveformBuffers[fillWaveformBuffer];
    buffer.samples[2 * pair] = first;
    buffer.samples[2 * pair + 1] = second;
    waveformSampleIndex = pair + 1;
}

// ---- Probe forwarding ---------------------------------------------------------

std::string ChannelModel::getProbeModel() const { return probe.getModel(); }
std::string ChannelModel::getProbeSerialNumber() const { return probe.getSerialNumber(); }
std::string ChannelModel::getProbeCalibrationDate() const { return probe.getCalibrationDate(); }
int ChannelModel::getProbeSeries() const { return probe.getSeries(); }
int ChannelModel::getProbeHallCurrentLevel() const { return probe.getHallCurrentLevel(); }
int ChannelModel::getProbeAxis() const { return probe.getAxis(); }
int ChannelModel::getProbeType() const { return probe.getProbeType(); }
int ChannelModel::getProbeClass() const { return probe.getProbeClass(); }
bool ChannelModel::isProbeSimulated() const { return probe.isSimulated(); }
float ChannelModel::getProbeLoadedSensitivity() const { return probe.getLoadedSensitivity(); }
float ChannelModel::getProbeUnloadedSensitivity() const { return probe.getUnloadedSensitivity(); }
float ChannelModel::getProbeSensitivityMultiplier() const { return probe.getSensitivityMultiplier(); }
float ChannelModel::getProbeCalibrationCurrent() const { return probe.getCalibrationCurrent(); }
float ChannelModel::getProbeHallOutputImpedance() const { return probe.getHallOutputImpedance(); }
float ChannelModel::getProbeCableResistance() const { return probe.getCableResistance(); }
float ChannelModel::getProbeLinearizingResistor() const { return probe.getLinearizingResistor(); }
float ChannelModel::getProbeAcCorrection200Hz() const { return probe.getAcCorrection200Hz(); }
float ChannelModel::getProbeAcCorrection500Hz() const { return probe.getAcCorrection500Hz(); }
float ChannelModel::getProbeAcCorrectionFactor(int index) const {
    return index < 0 ? 1.0f : probe.getAcCorrectionFactor(static_cast<unsigned>(index));
}
float ChannelModel::getProbeDcLinearityFactor(int index) const {
    return index < 0 ? 1.0f : probe.getDcLinearityFactor(static_cast<unsigned>(index));
}
