// ChannelModel: the state of one measurement channel and the driver of the
// channel-processor card in its slot (channel 1-3, CAN node channel + 2).
//
// The model has no thread of its own.  Its code runs on the caller's thread
// (GUI, SCPI, JSON, meter start-up), on the reader thread of its own
// CANinterface (every card reply, the settings load) and on the threads of its
// nine Timers.
//
// Thread safety: every scalar that one thread writes and another reads is an
// atomic; texts (board information, unit texts) are guarded by textMutex and
// handed out as copies; the calibration parameters are atomics of their own;
// the correction tables are guarded by calTableMutex.  The CAN link is a
// shared pointer taken under linkMutex (see link()), so a command racing
// stopCan either goes out on the old link or is dropped.  The sample path
// (onSample) allocates nothing; a frame that is skipped or only summed takes
// no lock, and a finished reading takes only the classifier's own lock (and
// the link's, when autorange sends a range).  Signals are raised on the
// thread of the operation, as sigc++ does; a slot that shares data with
// other threads guards it itself.
//
// Card-owned state: a command does not store what it asks for (mode,
// frequency range, range, capture state, parameters, texts); the card reports
// the new state and the reply handler stores it.
#pragma once

#include "runtime/BoardText.h"
#include "runtime/Signal.h"
#include "channel/ClassifierController.h"
#include "ranges/DigitsDisplaySpec.h"
#include "ranges/Probe.h"
#include "ranges/RangeSpec.h"
#include "ranges/RangeSpecTable.h"
#include "ranges/TimebaseSpecTable.h"
#include "runtime/EarlySettings.h"
#include "runtime/SaveStatus.h"
#include "runtime/Timer.h"

#include <sigc++/sigc++.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CANinterface;

// 3 card not heard yet, 0 no probe or card silent, 1 probe found, 2 probe ready.
enum ChannelStatus {
    kChannelNoProbe = 0,
    kChannelProbeFound = 1,
    kChannelProbeReady = 2,
    kChannelStarting = 3,
};

// 0 zeroed, 1 zeroing, 2 timed out, 3 zero needed, 4 no probe.
enum ZeroingState {
    kZeroed = 0,
    kZeroing = 1,
    kZeroTimedOut = 2,
    kZeroNeeded = 3,
    kZeroNoProbe = 4,
};

// One waveform capture: the count the card announced (at most kCapacity) and
// the samples as received, pair k at samples 2k and 2k+1.
struct WaveformBuffer {
    static constexpr int kCapacity = 500;
    std::int32_t count = kCapacity;
    float samples[kCapacity] = {};
};

// The host's copy of the card's 93 calibration parameters.  Each entry is an
// atomic of its own: the CAN reader writes, SCPI/JSON/GUI threads read.
class CalParameterTable {
public:
    static constexpr int kSize = 93;
    CalParameterTable();
    float get(int index) const;              // 0.0 outside 0-92
    void set(int index, float value);        // ignored outside 0-92
    float operator[](int index) const { return get(index); }
    int size() const { return kSize; }
private:
    std::array<std::atomic<float>, kSize> values;
};

class ChannelModel : public sigc::trackable {
public:
    // Signals: the channel number first, then the values listed.
    using SignalI = tvl::Signal<int>;
    using SignalII = tvl::Signal<int, int>;
    using SignalIII = tvl::Signal<int, int, int>;
    using SignalIB = tvl::Signal<int, bool>;
    using SignalIF = tvl::Signal<int, float>;
    using SignalIBF = tvl::Signal<int, bool, float>;
    using SignalHolds = tvl::Signal<int, bool, bool, bool, bool, bool>;
    using SignalReading = tvl::Signal<int, float, float, float, float, float, int>;

    static constexpr int kWaveformRingSize = 12;
    static constexpr int kCalTableCount = 20;
    static constexpr int kFrequencyPointCount = 15;
    static constexpr float kQueryTimeoutResult = 99999.0f;
    using CalTables = std::array<std::vector<float>, kCalTableCount>;

    ChannelModel(int channel, const char* canInterfaceName);
    virtual ~ChannelModel();

    ChannelModel(const ChannelModel&) = delete;
    ChannelModel& operator=(const ChannelModel&) = delete;

    // ---- Card link and handshake
    void startCan();
    void stopCan();
    void onCardReady();
    void onHelloReply();
    void onStartupTimeout();
    // The link, or null while there is none.  Every command sends through it.
    std::shared_ptr<CANinterface> link() const;

    // ---- Card watch (ChannelCardWatch.cpp)
    // A synced card whose probe is ready streams samples unless something
    // pauses it (zeroing, a waveform capture; range, mode, calibration and
    // memory commands hold the count off).  One that stays silent longer
    // than silenceLimit() is given up: no card, no probe, as for a card that
    // never answered.  A card given up, or one that restarted (it reports a
    // probe found while the host holds a ready one), is greeted and synced
    // again when it speaks: hello and send-all, and at its card-ready the
    // channel's settings are sent again.
    enum LinkState {
        kLinkDown,        // no link (before startCan, after stopCan)
        kLinkOpening,     // link started, no card-ready yet
        kLinkSynced,      // card-ready handled, settings sent
        kLinkSilent,      // the synced card fell silent: greeted every tick
        kLinkGivenUp,     // the start-up watchdog gave up on it
        kLinkResyncing,   // greeted again, waiting for its card-ready
    };
    int getLinkState() const { return linkState; }
    // The shortest silence after which a card is given up (5 s); 0 switches
    // the card watch off.  For every channel of the process: test fixtures
    // whose scripted cards do not stream switch it off.
    static void setCardWatchFloor(std::chrono::milliseconds floor);
    static std::chrono::milliseconds getCardWatchFloor();
    // The floor, or 50 sample periods of the card's reported rate if longer.
    std::chrono::milliseconds silenceLimit() const;
    // No card present, no probe (status 0), announced.  The watch does this
    // for a silent card; the main window for every card while the channel
    // processors are loaded again.
    void markNoCard();
    void onCardWatchTick();

    // ---- Card commands (measurement set-up)
    void setFreqRange(int frequencyRange);
    void setMode(int mode);
    // Sends one set-mode frame; a negative value keeps the pending or
    // reported one.
    void requestModeAndFreqRange(int mode, int frequencyRange);
    void toggleMode();
    void setAutorange(bool on);
    void sendGains();
    void sendTriggerMode(int mode);
    void requestAllData();

    // ---- Calibration and card memory
    void createNewCalTables(int a, int b, int c);
    void setCalParameter(int index, float value);
    float getCalParameter(int index) const;
    void loadCardEeprom();
    void writeCardEeprom();
    void restoreCardFactoryDefaults();
    void restoreCardRecalDefaults();
    void setBoardModel(const char* text);
    void setBoardRev(const char* text);
    void setBoardSerial(const char* text);
    void setBoardCalDate(const char* text);
    int startCurrentRecal();

    // ---- Analog outputs of the card
    void setCdacOutput(int value);
    void setUdacOutput(int value);
    void setMdacOutput(int value);
    void setMdacMode(int mode);

    // ---- Diagnostics
    void setDadcMode(int mode);
    void setMuxDadcInput(int input);
    void setMuxHallCurrent(int value);
    void setMuxControlCurrentMode(int value);
    void setMuxDcrefValue(int value);
    void setMuxMadcInput(int input);
    void setMuxHpfValue(int value);
    void setMuxTampInput(int input);
    void setMuxSampInput(int input);
    void setMuxFampInput(int input);
    void setMuxMdacRange(int value);
    void setMuxUdacInput(int value);
    void setMuxCdacRange(int value);
    void setMuxUdacRange(int value);
    void setDiagOption(int option, int a, int b, int c);
    void setClassifierLine0(int level);
    void setClassifierLine1(int level);

    // Synchronous queries: send, then wait at most 1 s (monotonic clock) for
    // the card's reply; 99999.0 when none came.  Serialised per channel; a
    // reply that comes after its query gave up is dropped.
    float getDadcReadingVolts();
    float getDadcReadingCounts();

    // ---- Card replies of the commands above
    void onQueryReply(float value);
    void onBoardInfo(int slot, const char* text);
    void onDiagModeReply(int decimals, const char* unit);

    // ---- Values derived from the current range
    float getValueInUnits() const;
    float getDisplayResolution() const;

    // ---- Reading pipeline and autorange
    void onSample(float value, int status);
    void onRangeReply(int range);
    void onModeReply(int mode, int frequencyRange, float sampleRate);
    void onFrequency(float hz);
    void setRange(int range);
    void stepRangeUp(int range);
    void cycleRange();
    bool rangeFits(int range) const;
    void sendRange(int range);
    void applyAutorange(float magnitude);
    void publishRange();
    void emitNewReading();
    void markMeasured();
    void emitHolds();
    std::vector<std::string> getRangeNames() const;
    std::string getRangeName(int range) const;
    std::string getCurrentRangeName() const;
    std::string getUnitName() const;
    std::string getValueFormat() const;
    std::string getReportFormat() const;

    // ---- Probe presence, settling and zeroing
    void onProbeChanged(int state);
    void onProbeSettled();
    void setZeroingState(int state);
    void startZero();
    void onZeroDone(int result);
    void onZeroingProgress(float percent);
    void onZeroTimeout();
    // Ends a zero in progress with state (timed out, no probe ...): stops its
    // time-out and starts the settings save again, as every end of a zero
    // does.  False when no zero was running.
    bool endZero(int state);
    void onZeroDue();
    void setBackplaneTemperature(float celsius);
    void checkZeroValidity();
    void setZeroMode(int mode);
    void clearManualZero();
    void editManualZero();
    void applyManualZero();
    void onCardEvent(int code);
    void updateProbeQuestionableBit();

    // ---- Holds, relative offset, trigger level and value editing
    void setHoldActive(bool on);
    void setMinHoldEnabled(bool on);
    void setMaxHoldEnabled(bool on);
    void setPeakHoldEnabled(bool on);
    void setValleyHoldEnabled(bool on);
    void toggleHoldActive();
    void toggleMinHold();
    void toggleMaxHold();
    void togglePeakHold();
    void toggleValleyHold();
    void resetHolds();
    void resetMinHold();
    void resetMaxHold();
    void resetPeakHold();
    void resetValleyHold();
    void onPeakValley(float peak, float valley);
    void setAutoRelative();
    void setManualRelative();
    void disableRelative();
    void toggleRelative();
    void editRelativeOffset();
    void setRelativeOffset(float gauss);          // non-finite values are refused
    void editTriggerLevel(bool start);
    void updateTriggerLevel(float gauss, bool editing);   // non-finite values are refused
    void setTriggerLevel(float gauss);
    void editIncrementDigit();
    void editDecrementDigit();
    void editDigitLeft();
    void editDigitRight();
    void editToggleSign();
    void editReset();
    bool isEditValueNegative() const;
    int getEditSelectedDigit() const;

    // ---- Units, analog outputs and waveform capture
    void setFluxUnits(int unit);
    void setTemperatureUnits(int unit);
    void setTimeUnits(int unit);
    void setDiagMode(int mode);
    void setCdacMode(int mode);
    void setUdacMode(int mode);
    void setCdacScaling(int tenthsOfVolt);
    void setUdacScaling(int tenthsOfVolt);
    void setWaveformScale(int scale);
    std::string getWaveformScaleText(int scale) const;
    std::string getCurrentWaveformScaleText() const;
    void armCapture();
    void onCaptureRefresh();
    void stopCapture();
    void onCaptureState(int state);
    void onWaveformStart(int sampleCount);
    void onWaveformData(float first, float second);
    void onWaveformEnd();

    // ---- Calibration parameter and correction tables
    void onCalParameter(int index, float value);
    void onCalTableSizes(int dcLength, int fullScaleLength, int rmsLength);
    void resizeDcLinearityTables(int length);
    void resizeFrequencyCorrectionTables(int length);
    void resizeRmsLinearityTables(int length);
    void onCalTableElement(int table, unsigned index, float value);
    float getCalTableElement(int table, int index) const;
    int setCalTableElement(int table, int index, float value);

    // ---- Settings file
    // Writes the file (atomically); false when it could not be written (the
    // old file stays; the failure is reported once, see runtime/SaveStatus.h).
    bool saveSettings();
    // The save timer's tick: writes when dirty; a write that fails leaves
    // the settings dirty, so the next tick tries again.  False when it failed.
    bool saveSettingsIfDirty();
    bool saveSettingsNow();   // false when the file could not be written
    // For a stop before the file was first read: the settings a user changed
    // until now are written over the file's values (the file's others stay;
    // the defaults go in only where there is no file).  False when the file
    // could not be written.
    bool saveKeptSettings();
    void startSettingsSaveTimer();
    void loadSettings();
    // The settings changed before the file was first read are not kept: the
    // next reading (a profile's files) applies the file as it is.
    void forgetEarlyChanges() { earlySettings.discard(); }
    void applyDefaultSettings();
    // The pause after each setting that loadSettings or applyDefaultSettings
    // applies (20 ms), so the card keeps up with the commands; for every
    // channel of the process.  The fuzzing harness, with no card, sets 0.
    static void setSettingPause(std::chrono::milliseconds length);

    // ---- Reports (each refills its line list under calTableMutex and
    // returns a copy of it, so callers on different threads never share one)
    std::vector<std::string> configurationDump();
    std::vector<std::string> parameterTableReport();
    std::vector<std::string> probeDataReport();
    std::vector<std::string> probeDcLinearityReport();
    std::vector<std::string> probeAcCorrectionReport();
    std::vector<std::string> probeMemoryDump();

    // ---- Small operations
    void markSettingsDirty() { settingsDirty = true; }
    void setAutoFreq(bool) { markSettingsDirty(); }
    bool isAutoFreq() const { return false; }
    void onClassifierSettingsChanged(int);
    float applyOffsets(float reading) const;
    void resetAveraging();
    void skipHalfSecondAndPublish();
    void skipHalfSecond();
    void skipQuarterSecond();
    void setDisplayRate(float rate);             // rates <= 0 or not finite are refused
    void updateSamplesPerAverage();
    void onRateTimer();
    float waveformScaleValue(int setting) const;
    // One division of the waveform view at scale setting 0-5 for a full
    // scale f (any unit); 5.0 for any other setting.
    static float waveformDivision(float f, int setting);

    // ---- Accessors
    std::string getBoardModel() const;
    std::string getBoardRev() const;
    std::string getBoardSerial() const;
    std::string getBoardCalDate() const;
    int getChannel() const { return channel; }
    int getMode() const { return mode; }
    int getFreqRange() const { return freqRange; }
    int getRange() const { return range; }
    int getFluxUnits() const { return fluxUnits; }
    int getTemperatureUnits() const { return temperatureUnits; }
    std::string getTemperatureUnitText() const;
    int getTimeUnits() const { return timeUnits; }
    // The signal frequency in the time unit: hertz, or the period in seconds.
    float getSignalFreq() const { return signalFreq; }
    // The signal frequency in hertz, whatever the time unit (0 for a report
    // that is not a number).
    float getSignalFreqHz() const;
    // The signal frequency as the readouts show it: the value in its display
    // unit ("Hz" or "kHz", "usec" or "msec"), its printf format and that
    // unit, all three from the same report and the same time unit.
    struct SignalFreqText {
        float value = 0.0f;
        std::string format;
        std::string unit;
    };
    SignalFreqText getSignalFreqText() const;
    ClassifierController& getClassifierController() { return classifier; }
    const ClassifierController& getClassifierController() const { return classifier; }
    bool isAutorange() const { return autorange; }
    int getZeroingState() const { return zeroingState; }
    int getZeroMode() const { return zeroMode; }
    int getLastZeroMode() const { return lastZeroMode; }
    float getZeroingProgress() const { return zeroingProgress; }
    int getChannelStatus() const { return channelStatus; }
    // True once the ready probe has given a reading: a reading made since
    // the probe became ready (at start, after a probe change, after the card
    // was lost and synced again).  Until then the channel serves no reading,
    // neither a placeholder nor one from before.
    bool isReadingValid() const { return channelStatus == kChannelProbeReady && measured; }
    bool isCardPresent() const { return cardPresent; }
    void setDemoMode(bool on) { demoMode = on; }
    bool isDemoMode() const { return demoMode; }
    float getValue() const { return value; }
    float getDisplayValue() const { return value * displayScale; }
    float getRelativeOffset() const { return relativeOffset; }
    float getDisplayRelativeOffset() const { return relativeOffset * displayScale; }
    int getRelativeState() const { return relativeState; }
    float getManualZeroOffset() const { return manualZeroOffset; }
    float getDisplayManualZeroOffset() const { return manualZeroOffset * displayScale; }
    int getManualZeroState() const { return manualZeroState; }
    DigitsDisplaySpec& getDigitEditor() { return digitEditor; }
    float getTriggerLevel() const { return triggerLevel; }
    float getDisplayTriggerLevel() const { return triggerLevel * displayScale; }
    bool isEditingTriggerLevel() const { return editingTriggerLevel; }
    float getMinHoldValue() const { return minHoldValue; }
    float getMaxHoldValue() const { return maxHoldValue; }
    float getPeakHoldValue() const { return peakHoldValue; }
    float getValleyHoldValue() const { return valleyHoldValue; }
    float getDisplayMinHoldValue() const { return minHoldValue * displayScale; }
    float getDisplayMaxHoldValue() const { return maxHoldValue * displayScale; }
    float getDisplayPeakHoldValue() const { return peakHoldValue * displayScale; }
    float getDisplayValleyHoldValue() const { return valleyHoldValue * displayScale; }
    bool isHoldActive() const { return holdActive; }
    bool isMinHoldEnabled() const { return minHoldEnabled; }
    bool isMaxHoldEnabled() const { return maxHoldEnabled; }
    bool isPeakHoldEnabled() const { return peakHoldEnabled; }
    bool isValleyHoldEnabled() const { return valleyHoldEnabled; }
    bool isOverRange() const { return overRange; }
    int isClipped() const { return readingStatus; }
    int getDiagMode() const { return diagMode; }
    int getDiagDecimals() const { return diagDecimals; }
    std::string getDiagUnitText() const;
    const RangeSpec* getRangeSpec() const { return rangeSpec; }
    int getCdacMode() const { return cdacMode; }
    int getCdacScaling() const { return cdacScaling; }
    int getUdacMode() const { return udacMode; }
    int getUdacScaling() const { return udacScaling; }
    int getMdacMode() const { return mdacMode; }
    float getBackplaneTemperature() const { return backplaneTemperature; }
    float getZeroTemperature() const { return zeroTemperature; }
    float getCardSampleRate() const { return cardSampleRate; }
    float getReceivedSampleRate() const { return receivedSampleRate; }
    float getDisplayRate() const { return displayRate; }
    float getDisplayedSampleRate() const { return displayedSampleRate; }
    void setDecimation(int n);                   // below 1 stores 1
    int getDecimation() const { return decimation; }
    void setSamplesPerAverage(int n);            // below 1 stores 1
    int getSamplesPerAverage() const { return samplesPerAverage; }
    const WaveformBuffer& getWaveformBuffer() const { return waveformBuffers[readyWaveformBuffer]; }
    int getWaveformScale() const { return waveformScale; }
    int getCaptureState() const { return captureState; }
    void setTimebase(int index) { timebaseIndex = index; }
    void setTriggerMode(int triggerModeValue);
    void setTriggerSlope(int slope) { triggerSlope = slope; }
    const TimebaseSpec* getTimebaseSpec() const;
    int getWaveformTimerPeriod() const;
    void setWaveformTimerPeriod(int ms);
    float getRmsOffset(int range) const;
    float getWaveformScaleValue() const { return waveformScaleValue(waveformScale); }
    float getTemperature() const;
    bool hasProbeTemperatureSensor() const;
    bool isTemperatureValid() const;
    const std::string& getSettingsPath() const { return settingsPath; }
    bool isSettingsDirty() const { return settingsDirty; }
    // True once the file has been read: before that, the model holds no
    // settings of the user's to write.
    bool isSettingsLoaded() const { return settingsLoaded; }
    bool isProbeFaultClearable() const { return probeFaultClearable; }

    // ---- Forwarding accessors to the probe record
    Probe& getProbe() { return probe; }
    std::string getProbeModel() const;
    std::string getProbeSerialNumber() const;
    std::string getProbeCalibrationDate() const;
    int getProbeSeries() const;
    int getProbeHallCurrentLevel() const;
    int getProbeAxis() const;
    int getProbeType() const;
    int getProbeClass() const;
    bool isProbeSimulated() const;
    float getProbeLoadedSensitivity() const;
    float getProbeUnloadedSensitivity() const;
    float getProbeSensitivityMultiplier() const;
    float getProbeCalibrationCurrent() const;
    float getProbeHallOutputImpedance() const;
    float getProbeCableResistance() const;
    float getProbeLinearizingResistor() const;
    float getProbeAcCorrection200Hz() const;
    float getProbeAcCorrection500Hz() const;
    float getProbeAcCorrectionFactor(int index) const;
    float getProbeDcLinearityFactor(int index) const;

    // ---- Signals
    SignalIII& signalModeChanged() { return modeChanged; }
    SignalII& signalRangeChanged() { return rangeChanged; }
    SignalIB& signalOverRangeChanged() { return overRangeChanged; }
    SignalII& signalFluxUnitsChanged() { return fluxUnitsChanged; }
    SignalII& signalTemperatureUnitsChanged() { return temperatureUnitsChanged; }
    SignalII& signalTimeUnitsChanged() { return timeUnitsChanged; }
    SignalHolds& signalHoldsChanged() { return holdsChanged; }
    SignalReading& signalNewReading() { return newReading; }
    SignalI& signalWaveformReady() { return waveformReady; }
    SignalII& signalChannelStatusChanged() { return channelStatusChanged; }
    SignalII& signalZeroingStateChanged() { return zeroingStateChanged; }
    SignalII& signalZeroModeChanged() { return zeroModeChanged; }
    SignalIF& signalZeroingProgress() { return zeroingProgressChanged; }
    SignalII& signalRelativeStateChanged() { return relativeStateChanged; }
    SignalII& signalManualZeroStateChanged() { return manualZeroStateChanged; }
    SignalII& signalCdacModeChanged() { return cdacModeChanged; }
    SignalII& signalCdacScalingChanged() { return cdacScalingChanged; }
    SignalII& signalUdacModeChanged() { return udacModeChanged; }
    SignalII& signalUdacScalingChanged() { return udacScalingChanged; }
    SignalII& signalDiagModeChanged() { return diagModeChanged; }
    SignalII& signalError() { return error; }
    SignalII& signalWaveformScaleChanged() { return waveformScaleChanged; }
    SignalIBF& signalTriggerLevelChanged() { return triggerLevelChanged; }
    SignalII& signalCaptureStateChanged() { return captureStateChanged; }
    SignalI& signalCaptureArmed() { return captureArmed; }

protected:
    void sendBoardText(int firstSlot, const char* text);
    float runQuery(bool volts);
    void connectReplyHandlers(CANinterface& link);
    void copyText(char* dest, std::size_t size, const char* src);
    std::string readText(const char* src) const;
    // The signal frequency's value, display value, format and unit from the
    // last report and the time unit; textMutex held.
    void storeSignalFreq();

    // Value editing: the target the keys act on, in the order relative
    // offset, manual zero offset, trigger level.  digitEditor is guarded by
    // editMutex; no signal is raised while it is held.
    enum class EditTarget { kNone, kRelative, kManualZero, kTriggerLevel };
    EditTarget editTarget() const;
    float editLimit() const;                 // 1.1 x the current full scale
    void loadEditor(float gauss);            // range decimals, display units, digit 0
    void editStep(bool increment);
    void applyEdit(EditTarget target, float gauss);
    void emitEditTarget(EditTarget target);
    void requestWaveform(int cardMode);
    void loadTriggerLevel(float gauss);      // from the settings file
    std::string settingsFileContents() const;
    // Copies of the parameters and the tables, taken under calTableMutex.
    void copyCalibration(std::vector<float>& parameters, CalTables& tables) const;

    // ---- Data, in declaration order
    std::shared_ptr<CANinterface> canInterface;
    char canInterfaceName[20] = {};
    ClassifierController classifier;
    char boardModel[15] = "unknown";
    char boardRevision[15] = "0";
    char boardSerial[15] = "0000";
    char boardCalDate[15] = "01-01-1970";
    BoardTextHalves boardTextHalves;     // guarded by textMutex
    int channel;
    std::atomic<bool> demoMode{false};
    std::atomic<int> mode{0};
    std::atomic<int> freqRange{0};
    // The last set-mode request, trusted over the card's report for a short
    // while after it (see requestModeAndFreqRange).
    static constexpr std::chrono::milliseconds kModeRequestWindow{2000};
    std::mutex modeRequestMutex;
    int requestedMode = 0;
    int requestedFreqRange = 0;
    std::chrono::steady_clock::time_point modeRequestDeadline{};
    bool autoFreq = false;
    std::atomic<int> range{3};
    std::atomic<int> fluxUnits{0};
    std::atomic<int> temperatureUnits{1};
    char temperatureUnitText[12] = "C";
    std::atomic<int> timeUnits{0};     // written under textMutex, with the texts below
    float reportedFreq = 0.0f;         // the card's last report in Hz; guarded by textMutex
    float signalFreqShown = 0.0f;      // signalFreq in its display unit; guarded by textMutex
    char signalFreqUnitText[10] = "Hz";
    char signalFreqFormat[10] = "%4.1f";
    std::atomic<int> diagMode{0};
    std::atomic<int> diagDecimals{0};
    std::atomic<bool> autorange{true};
    std::atomic<int> zeroingState{kZeroNoProbe};
    std::atomic<int> zeroMode{4};
    std::atomic<int> lastZeroMode{4};
    Probe probe;
    std::atomic<bool> cardPresent{false};
    std::atomic<float> value{0.0f};
    std::atomic<float> relativeOffset{0.0f};
    std::atomic<int> relativeState{0};
    std::atomic<float> manualZeroOffset{0.0f};
    std::atomic<int> manualZeroState{0};
    DigitsDisplaySpec digitEditor{6};
    char diagUnitText[12] = "??";
    std::atomic<float> displayScale{1.0f};
    std::atomic<float> signalFreq{0.0f};
    std::atomic<bool> overRange{false};
    std::atomic<float> minHoldValue{0.0f};
    std::atomic<float> maxHoldValue{0.0f};
    std::atomic<float> peakHoldValue{0.0f};
    std::atomic<float> valleyHoldValue{0.0f};
    std::atomic<int> statusAccumulator{0};
    std::atomic<int> readingStatus{0};
    std::atomic<bool> holdActive{false};
    std::atomic<bool> minHoldEnabled{false};
    std::atomic<bool> maxHoldEnabled{false};
    std::atomic<bool> peakHoldEnabled{false};
    std::atomic<bool> valleyHoldEnabled{false};
    std::atomic<bool> resetHoldsPending{false};
    std::atomic<int> samplesToSkip{0};
    std::atomic<bool> publishRangeAfterSkip{false};
    std::atomic<int> channelStatus{kChannelStarting};
    // A reading was made since the probe last became ready (isReadingValid).
    std::atomic<bool> measured{false};
    Timer startupTimer{17000, false};
    Timer settleTimer{500, false};
    std::atomic<int> waveformSampleIndex{0};
    WaveformBuffer waveformBuffers[kWaveformRingSize];
    // The reader fills one buffer of the ring while the pages copy another,
    // the last complete one; also before the first capture ends (the
    // pages draw an empty trace from buffer 0 until then).
    std::atomic<int> readyWaveformBuffer{0};
    std::atomic<int> fillWaveformBuffer{1};
    std::atomic<int> waveformScale{5};
    Timer zeroTimeoutTimer{130000, false};
    Timer zeroHourTimer{3600000, false};
    Timer zeroQuarterHourTimer{900000, false};
    std::atomic<float> zeroingProgress{0.0f};
    std::atomic<float> zeroTemperature{0.0f};
    std::atomic<float> backplaneTemperature{0.0f};
    std::atomic<float> cardSampleRate{610.0f};
    std::atomic<float> receivedSampleRate{0.0f};
    std::atomic<float> displayRate{1.0f};
    std::atomic<int> receivedSampleCount{0};
    std::atomic<float> displayedSampleRate{0.0f};
    std::atomic<int> displayedReadingCount{0};
    Timer rateTimer{4000, true};
    std::atomic<int> decimation{1};
    std::atomic<int> samplesPerAverage{61};
    std::atomic<int> averageCount{0};
    std::atomic<double> averageSum{0.0};
    std::atomic<int> decimationCounter{0};
    std::atomic<int> cdacMode{0};
    std::atomic<int> udacMode{0};
    std::atomic<int> mdacMode{0};
    std::atomic<int> cdacScaling{30};
    std::atomic<int> udacScaling{30};
    // Synchronous replies: one query at a time (queryMutex); the reply is
    // taken only while a query waits for it (replyMutex, replyCondition).
    std::mutex queryMutex;
    std::mutex replyMutex;
    std::condition_variable replyCondition;
    bool replyWanted = false;
    bool replyArrived = false;
    float replyValue = 0.0f;
    CalParameterTable calParameters;
    std::array<std::vector<float>, kCalTableCount> calTables;
    std::vector<float> frequencyPoints;
    std::vector<std::string> configurationDumpLines;
    std::vector<std::string> probeReportLines;
    std::string settingsPath;
    std::mutex settingsMutex;
    std::atomic<bool> settingsDirty{false};
    std::atomic<bool> settingsLoaded{false};
    SaveStatus settingsSaveStatus;
    Timer settingsSaveTimer{10000, true};
    RangeSpecTable* rangeSpecTable = nullptr;
    std::atomic<const RangeSpec*> rangeSpec{nullptr};
    TimebaseSpecTable timebaseTable;
    std::atomic<bool> zeroReferenceValid{false};
    std::atomic<float> triggerLevel{0.0f};
    std::atomic<bool> editingTriggerLevel{false};
    std::atomic<int> timebaseIndex{5};
    std::atomic<int> triggerMode{0};
    std::atomic<int> triggerSlope{0};
    std::atomic<int> captureState{0};
    std::atomic<bool> captureRunning{false};
    Timer waveformTimer{100, false};
    std::atomic<bool> probeFaultClearable{true};

    // Locks and link bookkeeping beyond the table above.
    mutable std::mutex linkMutex;        // guards canInterface
    mutable std::mutex textMutex;        // guards the char[] texts
    mutable std::mutex calTableMutex;    // guards calTables and the report lists
    // Serialises the probe and zero handlers (probe reports on the reader,
    // the start-up, settle, zero time-out and zero-due timers), each from
    // its decision to the last signal of the change it makes: a probe
    // removed while the settling runs is then reported after the ready
    // state, never before it.  It is an ordering lock, like a signal's own
    // and the SCPI registers' shared one, not a data mutex (the state it
    // orders is atomic; no getter takes it): it is taken only by those
    // handlers, each on a thread holding no lock but the timer's or probe's
    // signal, and by the destructor; nothing run under it takes it again,
    // takes the toolkit lock or waits for another thread.  Lock order: timer
    // and probe signals -> probeStateMutex -> this model's signals.
    std::mutex probeStateMutex;
    // A zero's start and its end (with its time-out's start and stop and the
    // state's signal) one at a time: an end racing a new start would else
    // stop the new zero's time-out and leave it zeroing for good.  Taken
    // after probeStateMutex, before this model's signals.
    std::recursive_mutex zeroMutex;
    mutable std::mutex editMutex;        // guards digitEditor
    CANinterface* replyHandlersLink = nullptr;  // link whose reply handlers are connected
    std::atomic<bool> settlePending{false};   // probe data read, settling not yet run

    // Card watch.  The tick runs from the first startCan on, idle while
    // there is no link.
    bool watching() const;
    void noCard();   // markNoCard with probeStateMutex held
    bool expectsStream() const;
    // silenceLimit() plus the longest course of the pauses in effect.
    std::chrono::milliseconds pauseLimit() const;
    // The silence count starts again: a frame from the card.
    void restartSilenceCount();
    // link() for a command after which the card may pause its stream for a
    // moment (range, mode, filter, diagnostic mode, send-all, calibration and
    // memory commands): the count starts again from it, once per silence.
    std::shared_ptr<CANinterface> pausingLink();
    std::chrono::nanoseconds silentFor() const;
    // Hello and send-all; kLinkResyncing until the card-ready comes.
    void greetCardAgain();
    // A card report from the reader: greets a card given up on, or one that
    // restarted (probeReport 1 while a probe is ready).  -1: no probe report.
    void onCardSpoke(int probeReport);
    // The channel's settings as they stood when the link went down, or else
    // as they stand now, applied again through the setters.
    void resendSettings();
    void applySettings(std::istream& in);   // settingsMutex held
    // The reading of the settings (ChannelSettings.cpp); settingsMutex held.
    struct LoadState;
    void applyFile(const EarlySettings::Pairs& pairs, const EarlySettings::Pairs* kept);
    void applyPairs(const EarlySettings::Pairs& pairs, LoadState& state);
    EarlySettings::Pairs withModeSent(EarlySettings::Pairs pairs, const EarlySettings::Pairs& kept) const;
    // The settings a user changed before the file was first read.
    EarlySettings earlySettings;
    // The classifier's thresholds as last announced: its signal does not
    // say which one changed.
    std::atomic<float> seenUpperThreshold{0.0f};
    std::atomic<float> seenLowerThreshold{0.0f};
    std::atomic<int> linkState{kLinkDown};
    std::atomic<bool> cardSpoke{false};             // since the last tick
    std::atomic<bool> commandSent{false};           // since the last tick
    bool commandPauseTaken = false;   // since the card last spoke; the tick's own (probeStateMutex)
    long long silentSinceNs = 0;   // steady clock; the tick's own (probeStateMutex)
    std::atomic<long long> resyncSinceNs{0};
    std::atomic<bool> captureRequestPending{false};
    std::atomic<long long> captureRecordMs{0};      // the record asked for takes this long
    bool streamExpected = false;   // at the last tick; the tick's own (probeStateMutex)
    std::mutex resumeMutex;                         // guards resumeSettings
    std::string resumeSettings;                     // taken by stopCan
    Timer cardWatchTimer{1000, true};

    // ---- Signals
    SignalIII modeChanged;
    SignalII rangeChanged;
    SignalIB overRangeChanged;
    SignalII fluxUnitsChanged;
    SignalII temperatureUnitsChanged;
    SignalII timeUnitsChanged;
    SignalHolds holdsChanged;
    SignalReading newReading;
    SignalI waveformReady;
    SignalII channelStatusChanged;
    SignalII zeroingStateChanged;
    SignalII zeroModeChanged;
    SignalIF zeroingProgressChanged;
    SignalII relativeStateChanged;
    SignalII manualZeroStateChanged;
    SignalII cdacModeChanged;
    SignalII cdacScalingChanged;
    SignalII udacModeChanged;
    SignalII udacScalingChanged;
    SignalII diagModeChanged;
    SignalII error;
    SignalII waveformScaleChanged;
    SignalIBF triggerLevelChanged;
    SignalII captureStateChanged;
    SignalI captureArmed;
};
