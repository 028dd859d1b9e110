// MeterModel: the instrument-wide singleton.  It owns the three channel
// models, one per card slot (slot n is channel card n, CAN node n + 2), with
// their error handlers; the backplane link to the backplane (node 2), the
// front-panel controller (node 0) and the power supply (node 6); the meter
// settings file and the profiles; the vector sum of the three channels with
// its holds and relative offset; the waveform acquisition; the backplane's
// two analog outputs; the network, firmware-update and serial-port
// configuration; and a CPU-load monitor that paces the waveform refresh.
//
// Sources, by concern:
//   MeterModel.cpp       singleton, construction, channel access, model
//                        decision, busy and any-channel-active bits, data-log
//                        glue, stopCan
//   MeterBackplane.cpp   the backplane link, its reports and commands
//   MeterSettings.cpp    the settings file "bp", save timer, profiles
//   VectorSum.cpp        vector sum, holds, relative offset and its entry
//   MeterWaveform.cpp    waveform mode, time base, trigger, acquisition
//   MeterAnalogOut.cpp   the backplane's analog outputs
//   BackplaneReport.cpp  the backplane board-information report
//
// Threads: the code runs on the GUI thread, the backplane link's reader, the
// channels' CAN readers and timers, the meter's three timers and the SCPI and
// JSON server threads.  Scalars shared between them are atomics; texts are
// guarded by textMutex and handed out as copies; the vector-sum results by
// vectorSumMutex (one consistent snapshot); the settings file by
// settingsMutex; the trigger-count history by triggerMutex.  No code holds
// two of these at once.
//
// The backplane link exists from startBackplane to stopCan.  Every frame goes
// through backplane(), which hands out a shared reference or null: a command
// given while there is no link (before the start, during a reload of the
// channel processors) is dropped.
#pragma once

#include "runtime/Signal.h"
#include "ranges/DigitsDisplaySpec.h"
#include "runtime/BoardText.h"
#include "ranges/TimebaseSpecTable.h"
#include "runtime/CpuMonitor.h"
#include "runtime/EarlySettings.h"
#include "runtime/FileIoManager.h"
#include "runtime/RS232Configuration.h"
#include "runtime/SaveStatus.h"
#include "runtime/Timer.h"

#include <sigc++/sigc++.h>

#include <array>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CANinterface;
class ChannelModel;
class ErrorHandler;
class FirmwareUpdateModel;
class NetworkConfiguration;
class RangeSpec;
class TimebaseSpec;

class MeterModel : public sigc::trackable {
public:
    static constexpr unsigned kSlotCount = 3;
    static constexpr int kBackplaneCalCount = 14;
    static constexpr int kProfileCount = 10;
    // The status cycle, and its period while the backplane is missing.
    static constexpr int kStatusPeriodMs = 20000;
    static constexpr int kMissingPollMs = 2000;
    static const char* const kDegreeText;
    static const char* const kDegreeFormat;
    static const char* const kRadianText;
    static const char* const kRadianFormat;

    // ---- Singleton
    // The singleton; the first call creates it on "can0".  Never null.
    static MeterModel* instance();
    // The singleton; the first call creates it on the named CAN interface
    // (the command line's "-can" option, or a test's private bus).  Later
    // calls return the existing one whatever the name.
    static MeterModel* instance(const char* canInterfaceName);
    static MeterModel* instanceForInterface(const char* canInterfaceName) { return instance(canInterfaceName); }
    // The singleton when it has been made, else null (never makes it).
    static MeterModel* existingInstance();

    virtual ~MeterModel();
    MeterModel(const MeterModel&) = delete;
    MeterModel& operator=(const MeterModel&) = delete;

    // ---- Channels (no remapping: the single-channel model's card is slot 2)
    // The channel model of slot 1-3; null for any other slot.
    ChannelModel* getChannel(unsigned slot) const;
    ErrorHandler* getErrorHandler(unsigned slot) const;
    ChannelModel* getTriggerChannelModel() const;
    const TimebaseSpec* getTriggerChannelTimebaseSpec() const;

    // True on the three-channel model: every card answered the hello within
    // 1.5 s of the start of the channel links.  False until then and on the
    // single-channel model.
    bool isThreeChannelModel() const { return threeChannelModel; }

    // Starts the three channel links, waits 1.5 s and sets the three-channel
    // flag from the cards that answered (no backplane link).
    void startChannelLinks();
    const std::string& getCanInterfaceName() const { return canInterfaceName; }

    // ---- Backplane link (MeterBackplane.cpp)
    // Opens the backplane link, starts the channel links and the status
    // cycle, decides the model, asks for the backplane's status.
    void startBackplane();
    // Stops the status timer and every channel link, then the backplane
    // link: its reader has ended before the link is deleted.
    void stopCan();
    // The link, or null while there is none.  Every frame goes through it.
    std::shared_ptr<CANinterface> backplane() const;

    void onBackplaneTemperature(float celsius);
    void onBackplaneCalParameter(int index, float value);
    void onBackplaneBoardInfo(int slot, const char* chars);
    void onFrontPanelVersion(int major, int minor);
    void onPsuVersion(int major, int minor);
    void onPowerOnMode(int flag);
    void onStatusTimer();
    void enterDemoMode();
    // Sends the status request and notes it.
    void askBackplaneStatus(CANinterface& bp);
    // A temperature report came: true when it answers a request of the last
    // second, false when it was sent unasked.
    bool takeStatusAnswer();
    // Sends again what a restarted backplane and front panel have lost:
    // backlight levels, the analog and classifier outputs, and
    // signalBackplaneReturned (the key backlights).
    void resendBackplaneState();

    // The backplane's presence, judged by its answers to the status request:
    // missing once a request went unanswered until the next (or the link was
    // taken down); then asked every 2 s.  When it answers again its status is
    // asked for and what it keeps is sent again: backlight levels, the
    // analog and classifier outputs, and signalBackplaneReturned (the key
    // backlights).  A backplane that has just started reports its status
    // unasked: a temperature report that no status request of the last
    // second explains marks a restart, and the same is sent again at once.
    enum BackplaneState { kBackplaneUnheard, kBackplanePresent, kBackplaneMissing };
    int getBackplaneState() const { return backplaneState; }

    void setLcdLevel(int level);            // 1-8, else nothing
    void setButtonLevel(int level);         // 1-8, else nothing
    void setPowerOnMode(int mode);
    void sendHostReady();
    void loadBackplaneEeprom();
    void writeBackplaneEeprom();
    void restoreBackplaneRecalDefaults();
    void restoreBackplaneFactoryDefaults();
    void setBackplaneCalParameter(int index, float value);
    void setSineWaveDacOutput(int value);   // clamped to -32767..32767
    void setSineWaveDacMode(int mode);      // 0 or 1, else nothing
    void setBackplaneModel(const char* text);
    void setBackplaneRev(const char* text);
    void setBackplaneSerial(const char* text);
    void setBackplaneCalDate(const char* text);

    bool isDemoMode() const { return demoMode; }
    std::string getBackplaneModel() const;
    std::string getBackplaneRev() const;
    std::string getBackplaneSerial() const;
    std::string getBackplaneCalDate() const;
    float getBackplaneTemperature() const { return backplaneTemperature; }
    // Calibration value 0-13; 0 for other indexes.
    float getBackplaneCalParameter(int index) const;
    std::string getFrontPanelFirmwareVersion() const;
    std::string getPsuFirmwareVersion() const;
    int getPowerOnMode() const { return powerOnMode; }
    int getButtonLevel() const { return buttonLevel; }
    int getLcdLevel() const { return lcdLevel; }

    // ---- Backplane board-information report (BackplaneReport.cpp)
    // Rebuilds the report lines and returns them (a copy, so two reports on
    // different threads never share a list).
    std::vector<std::string> backplaneInfoReport();

    // ---- Settings file and profiles (MeterSettings.cpp)
    void loadSettings();
    // Writes the file (atomically); false when it could not be written.
    bool saveSettings();
    // Writes this model's file and the channels' now; false when one could
    // not be written.
    bool flushSettings();
    // Writes every file the program keeps dirty for a timer: this model's
    // settings and its channels', the error queue's file and the counters,
    // each only when it holds a change not yet written (a settings file not
    // read yet: the changes a user made before, over its values).  For the program's
    // stop and its exits; true when every one is up to date.
    bool saveDirtyFiles();
    void onSaveTimer();
    bool saveSettingsIfDirty();   // false when a write failed
    // As ChannelModel::saveKeptSettings, for the meter's file.
    bool saveKeptSettings();
    void startSettingsSaveTimers();
    // Profiles 1-10; false for other numbers, when the settings files could
    // not be written first or when the script failed.  A failure is reported
    // (console and SCPI error queue).
    bool saveProfile(unsigned n);
    // Profiles 0-10 (0: the factory settings); false for other numbers or
    // when the script failed.  A failed restore is reported and leaves the
    // present settings in force; their files are written again, whatever
    // the script left of them.
    bool restoreProfile(unsigned n);
    bool restoreDefaults();
    void setGpibAddress(int address);
    int getGpibAddress() const { return gpibAddress; }
    void setRS232Configuration(const RS232Configuration& config);
    RS232Configuration getRS232Configuration() const;
    const std::string& getSettingsPath() const { return settingsPath; }
    bool isSettingsDirty() const { return settingsDirty; }
    // True from the end of a load to the start of the next one: before the
    // first load, and while a profile's file is applied, the model's values
    // are not the user's settings.
    bool isSettingsLoaded() const { return settingsLoaded; }
    void markSettingsDirty() { settingsDirty = true; }
    // The file's 20 lines as saveSettings writes them.
    std::string settingsFileContents() const;

    // ---- Vector sum, holds, relative offset (VectorSum.cpp)
    void onSlot1Reading(int, float, float, float, float, float, int);
    void onSlot2Reading(int, float, float, float, float, float, int);
    void onSlot3Reading(int, float, float, float, float, float, int);
    void computeVectorSum();

    // One slot's part in a vector sum: probe ready (status 2), its range
    // 0-3, its probe's axis code (0 single-axis, 1 X, 2 Y, 3 Z) and its
    // reading in gauss.
    struct VectorSumInput {
        bool ready;
        int range;
        int axisCode;
        double value;
    };
    // The slot (0-2) whose range the vector sum takes: the highest range
    // among the ready slots, the lowest slot on a tie; slot 0 when none is
    // ready.
    static int vectorSumRangeSlot(const VectorSumInput in[3]);
    // The X, Y and Z components in gauss: a single-axis probe anywhere fixes
    // X, Y, Z to slots 1, 2, 3; otherwise each slot goes by its axis code.
    // A slot that is not ready, or an axis no slot claims, gives 0.
    static void vectorSumComponents(const VectorSumInput in[3], double component[3]);
    // Angles in degrees between the vector and the axes; all 0 for a zero
    // magnitude.
    static void vectorSumAngles(const double component[3], float magnitude, float angles[3]);
    // The vector sum is a measurement only while each of the three channels
    // has a valid reading (ChannelModel::isReadingValid): the first channel
    // that has none, or null.  While there is one, the readout, :CALC:VSUM?
    // and pollMeter answer as that channel does without a reading.
    const ChannelModel* channelWithoutReading() const;
    bool isVectorSumValid() const { return channelWithoutReading() == nullptr; }
    std::vector<float> getFluxSnapshot() const;
    std::vector<float> getVectorSumAndAngles() const;
    const RangeSpec* getVectorSumRangeSpec() const { return vectorSumRange; }
    float getVectorSumValue() const;
    float getVectorSumAngleX() const;
    float getVectorSumAngleY() const;
    float getVectorSumAngleZ() const;
    float getVectorSumDisplayValue() const;
    float getVectorSumMinHoldDisplayValue() const;
    float getVectorSumMaxHoldDisplayValue() const;
    float getVectorSumMinHoldValue() const { return minHoldValue; }
    float getVectorSumMaxHoldValue() const { return maxHoldValue; }
    float getVectorSumRelativeOffsetDisplayValue() const;
    std::string getVectorSumUnitName() const;
    std::string getVectorSumValueFormat() const;
    std::string getVectorSumReportFormat() const;
    bool isVectorSumHoldActive() const { return holdActive; }
    bool isVectorSumMinHoldEnabled() const { return minHoldEnabled; }
    bool isVectorSumMaxHoldEnabled() const { return maxHoldEnabled; }
    int getVectorSumRelativeState() const { return relativeState; }
    float getVectorSumRelativeOffset() const { return relativeOffset; }
    bool isEditValueNegative() const;
    int getEditSelectedDigit() const;
    int getAngleUnits() const { return angleUnits; }
    // The degree sign (one Latin-1 byte, 176) or "rad"; "%3.2f" or "%1.3f".
    // Constant texts: the pointers stay valid for the life of the program.
    const char* getAngleUnitText() const { return angleUnitText; }
    const char* getAngleFormat() const { return angleFormat; }

    void setVectorSumHoldActive(bool on);
    void setVectorSumMinHoldEnabled(bool on);
    void setVectorSumMaxHoldEnabled(bool on);
    void toggleVectorSumHoldActive();
    void toggleVectorSumMinHold();
    void toggleVectorSumMaxHold();
    void resetVectorSumMinHold();
    void resetVectorSumMaxHold();
    void resetVectorSumHolds();
    void emitVectorSumHoldsChanged();
    void disableVectorSumRelative();
    void setVectorSumAutoRelative();
    void setVectorSumManualRelative();
    void setVectorSumRelativeOffset(float gauss);   // non-finite values are refused
    void editVectorSumRelativeOffset();
    void editIncrementDigit();
    void editDecrementDigit();
    void editDigitLeft();
    void editDigitRight();
    void editToggleSign();
    void editReset();
    void setAngleUnits(int units);
    void setDisplayRate(float readingsPerSecond);
    float getDisplayRate() const;

    // ---- Waveform acquisition (MeterWaveform.cpp)
    void enterWaveformMode();
    // The one frequency range of the waveform mode for the slots' ranges:
    // the widest of the ready slots' (3 below 2 below 1 below 0, 4 and 5
    // above them all, the first of those two met stays); 1 when none is
    // ready.
    static int commonFreqRange(const bool ready[3], const int freqRange[3]);
    void leaveWaveformMode() { waveformMode = false; }
    bool isWaveformMode() const { return waveformMode; }
    void startAcquisition();
    void stopAcquisition();
    int getAcquisitionState() const { return acquisitionState; }
    float getTriggerRate() const { return triggerRate; }
    void setAcquisitionState(int state);
    void setTimebase(int index);            // 0-5, else nothing
    void setTriggerMode(int mode);          // 0-3, else nothing
    void setTriggerSlope(int slope);        // 0-1, else nothing
    void setTriggerChannel(int slot);       // 1-3, else nothing
    int getTimebase() const { return timebaseIndex; }
    int getTriggerMode() const { return triggerMode; }
    int getTriggerSlope() const { return triggerSlope; }
    int getTriggerChannel() const { return triggerChannel; }
    std::string getTimebaseLabel(int index) const;
    std::string getTimebasePerDivText() const;
    void onCaptureStateChanged(int slot, int state);
    void onCaptureArmed(int slot);
    void onTriggerLevelChanged(int slot, bool editing, float level);
    void onWaveformReady(int slot);
    void onChannelModeChanged(int slot, int mode, int freqRange);
    void onChannelStatusChanged(int slot, int status);
    void checkTriggerChannel();
    void assignTriggerRoles();
    void armTriggerChannel();
    void updateTriggerRate();
    int getCapturePhase() const { return capturePhase; }
    int getCompletedCaptureCount() const { return completedCaptures; }
    // The trigger channel's new refresh period after a capture at this CPU
    // load (percent), from the present period: 60..950 ms.
    static int pacedPeriod(int periodMs, double load);

    // ---- Busy and any-channel-active bits (MeterModel.cpp)
    bool isBusy() const { return busy; }
    void onZeroingStateChanged(int slot, int state);
    void updateAnyChannelActive();
    bool isAnyChannelActive() const { return anyChannelActive; }

    // ---- Analog outputs (MeterAnalogOut.cpp)
    void setVectorSumOutputMode(int mode);
    void setAuxOutputMode(int mode);
    void setVectorSumOutputScaling(int tenths);
    void setAuxOutputScaling(int tenths);
    void setVectorSumDacRange(int range);
    void setAuxDacRange(int range);
    void setVectorSumDacOutput(int value);
    void setAuxDacOutput(int value);
    int getVectorSumOutputMode() const { return vectorSumOutputMode; }
    int getAuxOutputMode() const { return auxOutputMode; }
    int getVectorSumOutputScaling() const { return vectorSumOutputScaling; }
    int getAuxOutputScaling() const { return auxOutputScaling; }

    // ---- Data logging (MeterModel.cpp); FileIoManager exceptions pass through
    void startDataLogging(int destination);
    // The stopped log's name, "" when there was none to stop.
    std::string stopDataLogging();
    void cancelDataLogging();
    int getDataLogRowCount() const;
    // Why the last data log stopped on a write failure; "" when it did not.
    std::string getDataLogError() const;
    void writeDataLogRow();
    // Lets the file manager read this model's channels for log headers and
    // rows and report a log stopped by a write failure (the singleton
    // installs itself on creation).
    void installDataLogSource();
    // A log stopped because a row could not be written: console, SCPI error
    // queue, then signalDataLogFailed (destination: 0 USB drive, 1 internal).
    void onDataLogFailed(int destination, std::string logName, std::string reason);

    // ---- Owned configuration
    NetworkConfiguration* getNetworkConfiguration() const { return networkConfiguration; }
    FirmwareUpdateModel* getFirmwareUpdateModel() const { return firmwareUpdateModel; }

    // ---- Signals
    using SignalVoid = tvl::Signal<>;
    using SignalB = tvl::Signal<bool>;
    using SignalI = tvl::Signal<int>;
    using SignalF = tvl::Signal<float>;
    using SignalBBB = tvl::Signal<bool, bool, bool>;
    using SignalFFFF = tvl::Signal<float, float, float, float>;
    using SignalRS232 = tvl::Signal<RS232Configuration>;

    SignalFFFF& signalVectorSumUpdated() { return vectorSumUpdated; }
    SignalBBB& signalVectorSumHoldsChanged() { return vectorSumHoldsChanged; }
    SignalI& signalVectorSumOutputModeChanged() { return vectorSumOutputModeChanged; }
    SignalI& signalVectorSumOutputScalingChanged() { return vectorSumOutputScalingChanged; }
    SignalI& signalAuxOutputModeChanged() { return auxOutputModeChanged; }
    SignalI& signalAuxOutputScalingChanged() { return auxOutputScalingChanged; }
    SignalF& signalDisplayRateChanged() { return displayRateChanged; }
    SignalI& signalAngleUnitsChanged() { return angleUnitsChanged; }
    SignalI& signalVectorSumRelativeChanged() { return vectorSumRelativeChanged; }
    SignalI& signalTimebaseChanged() { return timebaseChanged; }
    SignalI& signalTriggerModeChanged() { return triggerModeChanged; }
    SignalI& signalTriggerSlopeChanged() { return triggerSlopeChanged; }
    SignalI& signalTriggerChannelChanged() { return triggerChannelChanged; }
    SignalI& signalAcquisitionStateChanged() { return acquisitionStateChanged; }
    SignalB& signalBusyChanged() { return busyChanged; }
    SignalVoid& signalWaveformReady() { return waveformReady; }
    SignalI& signalGpibAddressChanged() { return gpibAddressChanged; }
    SignalRS232& signalRS232ConfigurationChanged() { return rs232ConfigurationChanged; }
    SignalVoid& signalDefaultsRestored() { return defaultsRestored; }
    SignalVoid& signalPowerOnModeReceived() { return powerOnModeReceived; }
    // A data log stopped on a write failure (destination 0 USB, 1 internal).
    SignalI& signalDataLogFailed() { return dataLogFailed; }
    // The backplane answers again after it was missing (backplane reader).
    SignalVoid& signalBackplaneReturned() { return backplaneReturned; }

protected:
    // Tests make models of their own through a subclass; the program uses
    // instance().
    explicit MeterModel(const char* canInterfaceName);

    void startChannelLinksAndDecide(bool withStatusTimer);
    void sendBoardText(int firstSlot, const char* text);
    // One step of the selected digit of the offset entry; a step that would
    // leave 1.1 x full scale is undone with a beep.
    void editStepDigit(bool up);
    void afterBackplaneEeprom();
    // A report of the backplane (node 2) came: it is present.
    void onBackplaneReport();
    void onBackplaneBack();
    void resendOutputs();   // MeterAnalogOut.cpp
    // "" when the script ran and succeeded, else why it did not.
    std::string runProfileScript(const char* script, unsigned n);
    void reportProfileFailure(unsigned n, const char* what, const std::string& reason);
    void writeBackSettings();
    void applyDefaultSettings();
    bool applySetting(const std::string& key, int value);
    // The loader's way into the serial configuration: no signal.
    void setRS232Field(int field, int code);
    // The lowest slot with a ready probe paces the vector sum.
    void onReading(unsigned slot);
    bool isReadyAc(unsigned slot) const;

    class DataLogBridge : public DataLogSource {
    public:
        explicit DataLogBridge(MeterModel& meter) : meter(meter) {}
        bool isThreeChannelModel() override { return meter.isThreeChannelModel(); }
        bool readChannel(unsigned slot, DataLogChannel& out) override;
    private:
        MeterModel& meter;
    };

    // ---- Data, in the order of the model's table
    std::array<std::unique_ptr<ChannelModel>, kSlotCount> channels;
    std::array<std::unique_ptr<ErrorHandler>, kSlotCount> errorHandlers;
    std::string canInterfaceName;
    std::shared_ptr<CANinterface> backplaneLink;
    char backplaneModel[15] = "unknown";
    char backplaneRevision[15] = "0";
    char backplaneSerial[15] = "0000";
    char backplaneCalDate[15] = "01-01-1970";
    BoardTextHalves boardTextHalves;       // guarded by textMutex
    std::atomic<bool> demoMode{false};
    NetworkConfiguration* networkConfiguration = nullptr;
    FirmwareUpdateModel* firmwareUpdateModel = nullptr;

    // Vector-sum results: written together under vectorSumMutex.
    mutable std::mutex vectorSumMutex;
    float vectorSumValue = 0.0f;           // gauss, after the relative offset
    float magnitude = 0.0f;                // gauss, before it
    std::array<float, 3> channelSnapshot{{0.0f, 0.0f, 0.0f}};
    float magnitudeInUnits = 0.0f;
    float valueUnitScale = 1.0f;           // unit scale of the range of that computation
    std::array<float, 3> angles{{0.0f, 0.0f, 0.0f}};   // degrees
    std::atomic<const RangeSpec*> vectorSumRange{nullptr};
    // One computation (and the data-log row after it) at a time.
    std::mutex computeMutex;
    std::atomic<float> minHoldValue{0.0f};
    std::atomic<float> maxHoldValue{0.0f};
    std::atomic<bool> holdActive{false};
    std::atomic<bool> minHoldEnabled{false};
    std::atomic<bool> maxHoldEnabled{false};
    std::atomic<float> relativeOffset{0.0f};
    std::atomic<int> relativeState{0};
    mutable std::mutex editMutex;          // guards offsetEntry
    DigitsDisplaySpec offsetEntry{6};
    std::atomic<int> angleUnits{0};
    std::atomic<const char*> angleUnitText;
    std::atomic<const char*> angleFormat;

    std::atomic<int> vectorSumOutputMode{0};
    std::atomic<int> auxOutputMode{0};
    std::atomic<int> vectorSumOutputScaling{30};
    std::atomic<int> auxOutputScaling{30};

    std::string settingsPath;
    std::mutex settingsMutex;
    std::atomic<bool> settingsDirty{false};
    std::atomic<bool> settingsLoaded{false};
    SaveStatus settingsSaveStatus{"settings file bp"};
    EarlySettings earlySettings;           // changed before the file was first read
    CpuMonitor cpuMonitor;
    std::atomic<int> completedCaptures{0};
    std::atomic<int> powerOnMode{0};
    std::atomic<float> backplaneTemperature{0.0f};
    std::atomic<bool> threeChannelModel{false};
    std::string frontPanelVersion = "unknown";
    std::string psuVersion = "unknown";
    std::atomic<int> buttonLevel{5};
    std::atomic<int> lcdLevel{5};
    std::atomic<bool> waveformMode{false};
    std::atomic<int> timebaseIndex{5};
    std::atomic<int> triggerMode{0};
    std::atomic<int> triggerSlope{0};
    std::atomic<int> triggerChannel{2};
    std::atomic<int> acquisitionState{0};
    std::atomic<int> capturePhase{0};
    std::atomic<int> acksOutstanding{0};
    std::atomic<int> recordsOutstanding{0};
    std::mutex triggerMutex;               // triggerCount and triggerHistory
    int triggerCount = 0;
    std::deque<float> triggerHistory;
    TimebaseSpecTable timebaseTable;
    std::atomic<bool> busy{false};
    std::atomic<float> triggerRate{0.0f};
    std::array<std::atomic<float>, kBackplaneCalCount> backplaneCal;
    std::atomic<int> gpibAddress{1};
    RS232Configuration rs232Configuration;  // guarded by textMutex
    std::atomic<bool> anyChannelActive{true};
    std::atomic<int> backplaneState{kBackplaneUnheard};
    std::atomic<bool> statusRequestOpen{false};   // asked, no report since
    // The status requests whose temperature has not come yet, and when the
    // last was sent (steady clock); guarded by statusAskMutex.
    std::mutex statusAskMutex;
    long long statusAskedNs = 0;
    int statusAnswersDue = 0;

    mutable std::mutex linkMutex;          // guards backplaneLink
    mutable std::mutex textMutex;          // board texts, versions, serial settings
    DataLogBridge dataLogBridge{*this};

    // ---- Signals
    SignalFFFF vectorSumUpdated;
    SignalBBB vectorSumHoldsChanged;
    SignalI vectorSumOutputModeChanged;
    SignalI vectorSumOutputScalingChanged;
    SignalI auxOutputModeChanged;
    SignalI auxOutputScalingChanged;
    SignalF displayRateChanged;
    SignalI angleUnitsChanged;
    SignalI vectorSumRelativeChanged;
    SignalI timebaseChanged;
    SignalI triggerModeChanged;
    SignalI triggerSlopeChanged;
    SignalI triggerChannelChanged;
    SignalI acquisitionStateChanged;
    SignalB busyChanged;
    SignalVoid waveformReady;
    SignalI gpibAddressChanged;
    SignalRS232 rs232ConfigurationChanged;
    SignalVoid defaultsRestored;
    SignalVoid powerOnModeReceived;
    SignalI dataLogFailed;
    SignalVoid backplaneReturned;

    // Timers last: they are destroyed first, so no tick runs into members
    // already gone.
    Timer statusTimer{kStatusPeriodMs, true};
    Timer saveTimer{10000, true};
    Timer triggerRateTimer{250, true};
};
