// The channel settings file (ch1, ch2, ch3 in the data folder): 22 lines of
// "key: value", written whole by the 10 s save timer after a change (or at
// once by saveSettingsNow) and read back through the ordinary setters, which
// also drive the card.  The file is replaced atomically, so a crash or power
// cut leaves the old or the new file.
#include "channel/ChannelModel.h"

#include "can/CANinterface.h"
#include "platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace {

// Pause after each setting read or defaulted, so the card keeps up with the
// commands the setters send (see ChannelModel::setSettingPause).
std::atomic<long long> settingPauseMs{20};
// saveSettingsNow: lets a write already under way end first.
constexpr std::chrono::milliseconds kFlushPause(50);

constexpr int kDefaultScaling = 30;
constexpr int kMaxScaling = 100;
constexpr int kNoZeroMode = 4;

void pause(std::chrono::milliseconds ms) {
    if (ms.count() > 0) std::this_thread::sleep_for(ms);
}

std::chrono::milliseconds settingPause() { return std::chrono::milliseconds(settingPauseMs.load()); }

// One value as the reader sees it: its integer and float readings.
struct SettingValue {
    long i;
    float f;
};

}  // namespace

// What the reader carries from key to key.
struct ChannelModel::LoadState {
    int mode = 0;
    bool zeroModeSeen = false;
    const EarlySettings::Pairs* kept = nullptr;   // the user's, from before the first reading
    bool isKept(const std::string& key) const {
        return kept && std::any_of(kept->begin(), kept->end(), [&key](const auto& p) { return p.first == key; });
    }
};

std::string ChannelModel::settingsFileContents() const {
    std::ostringstream out;
    out << "mode: " << getMode() << "\n"
        << "range: " << getRange() << "\n"
        << "autorange: " << (isAutorange() ? 1 : 0) << "\n"
        << "freqrange: " << getFreqRange() << "\n"
        << "autofreq: " << (isAutoFreq() ? 1 : 0) << "\n"
        << "cdacmode: " << getCdacMode() << "\n"
        << "cdacrange: " << getCdacScaling() << "\n"
        << "udacmode: " << getUdacMode() << "\n"
        << "udacrange: " << getUdacScaling() << "\n"
        << "minhold: " << (isMinHoldEnabled() ? 1 : 0) << "\n"
        << "maxhold: " << (isMaxHoldEnabled() ? 1 : 0) << "\n"
        << "peakhold: " << (isPeakHoldEnabled() ? 1 : 0) << "\n"
        << "valleyhold: " << (isValleyHoldEnabled() ? 1 : 0) << "\n"
        << "holdactive: " << (isHoldActive() ? 1 : 0) << "\n"
        << "fluxunits: " << getFluxUnits() << "\n"
        << "tempunits: " << getTemperatureUnits() << "\n"
        << "timeunits: " << getTimeUnits() << "\n"
        << "zeromode: " << getZeroMode() << "\n"
        << "clupperthresh: " << classifier.getUpperThreshold() << "\n"
        << "cllowerthresh: " << classifier.getLowerThreshold() << "\n"
        << "waveformscale: " << waveformScale.load() << "\n"
        << "triggerlevel: " << triggerLevel.load() << "\n";
    return out.str();
}

void ChannelModel::setSettingPause(std::chrono::milliseconds length) { settingPauseMs = length.count(); }

bool ChannelModel::saveSettings() {
    return settingsSaveStatus.saveUnder(settingsMutex, settingsPath, [this] { return settingsFileContents(); });
}

// The flag is cleared before the values are read, so a setting changed while
// the file is written marks the settings dirty again and is not lost; a
// write that fails marks them dirty again too, so the next tick tries again
// (also when no other change comes).  A save that finds another one writing
// the file waits for it (a stop during a tick).
bool ChannelModel::saveSettingsIfDirty() {
    return settingsSaveStatus.saveChangeUnder([this] { return settingsDirty.exchange(false); },
                                              [this] { markSettingsDirty(); }, settingsMutex, settingsPath,
                                              [this] { return settingsFileContents(); });
}

bool ChannelModel::saveKeptSettings() {
    return earlySettings.saveUnread(settingsSaveStatus, settingsMutex, settingsPath,
                                    [this] { return settingsFileContents(); });
}

bool ChannelModel::saveSettingsNow() {
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        settingsSaveTimer.stop();
    }
    pause(kFlushPause);
    return saveSettings();
}

// A running timer is not started again: a second start would add a second
// save chain to the running one.
void ChannelModel::startSettingsSaveTimer() {
    if (!settingsSaveTimer.isActive()) settingsSaveTimer.start();
}

// The first reading keeps every setting a user changed before it (see
// runtime/EarlySettings.h): those values take the place of the file's (or
// follow the defaults, when there is no file), and the settings are marked
// dirty so that they are written.
void ChannelModel::loadSettings() {
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        std::ifstream in(settingsPath);
        const bool opened = static_cast<bool>(in);
        EarlySettings::Pairs read;
        if (opened) read = EarlySettings::readPairs(in);
        // Changes made until the file has been read in are kept.
        EarlySettings::Applying applying;
        const EarlySettings::Pairs kept = earlySettings.beginReading();
        if (!opened) {
            applyDefaultSettings();
            if (!kept.empty()) {
                LoadState state;
                state.kept = &kept;
                applyPairs(withModeSent(kept, kept), state);
            }
        } else {
            applyFile(withModeSent(EarlySettings::merge(std::move(read), kept), kept), &kept);
        }
        if (!kept.empty()) markSettingsDirty();
        settingsLoaded = true;
        earlySettings.endReading();
    }
    startSettingsSaveTimer();
}

// The file's mode goes to the card only with its frequency range: a mode
// kept from before the reading is sent with the frequency range read before
// it, or else the one the channel has, when no frequency range follows it.
EarlySettings::Pairs ChannelModel::withModeSent(EarlySettings::Pairs pairs, const EarlySettings::Pairs& kept) const {
    const bool modeKept = std::any_of(kept.begin(), kept.end(), [](const auto& p) { return p.first == "mode:"; });
    if (!modeKept) return pairs;
    bool modePending = false;
    std::string freqRangeText = std::to_string(getFreqRange());
    for (const auto& p : pairs) {
        if (p.first == "mode:") modePending = true;
        if (p.first == "freqrange:") {
            modePending = false;
            freqRangeText = p.second;
        }
    }
    if (modePending) pairs.emplace_back("freqrange:", freqRangeText);
    return pairs;
}

// Reads "key: value" pairs and applies each through its setter, as the
// program holds them (resendSettings).
void ChannelModel::applySettings(std::istream& in) { applyFile(EarlySettings::readPairs(in), nullptr); }

// A whole file's pairs, as the file holds them (loadSettings, with the
// settings kept from before the reading merged in) or as the program holds
// them (resendSettings).
void ChannelModel::applyFile(const EarlySettings::Pairs& pairs, const EarlySettings::Pairs* kept) {
    setWaveformScale(0);
    LoadState state;
    state.kept = kept;
    applyPairs(pairs, state);
    if (!state.zeroModeSeen) setZeroMode(kNoZeroMode);
    setWaveformScale(waveformScale);
}

void ChannelModel::applyPairs(const EarlySettings::Pairs& pairs, LoadState& state) {
    using KeyAction = std::function<void(ChannelModel&, const SettingValue&, LoadState&)>;
    struct KeyHandler {
        const char* key;
        KeyAction apply;
    };
    static const KeyHandler handlers[] = {
        {"mode:", [](ChannelModel&, const SettingValue& v, LoadState& s) { s.mode = static_cast<int>(v.i); }},
        {"range:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setRange(static_cast<int>(v.i)); }},
        {"autorange:", [](ChannelModel& m, const SettingValue& v, LoadState& s) {
             // 0 in a file does nothing: its range key has switched autorange
             // off.  A user's "off" kept from before the reading is applied.
             if (v.i != 0) m.setAutorange(true);
             else if (s.isKept("autorange:")) m.setAutorange(false);
         }},
        {"freqrange:", [](ChannelModel& m, const SettingValue& v, LoadState& s) {
             if (auto l = m.link()) l->sendSetMode(m.getChannel(), s.mode, static_cast<int>(v.i));
         }},
        {"autofreq:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setAutoFreq(v.i != 0); }},
        {"cdacmode:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setCdacMode(static_cast<int>(v.i)); }},
        {"cdacrange:", [](ChannelModel& m, const SettingValue& v, LoadState&) {
             m.setCdacScaling(v.i >= 0 && v.i <= kMaxScaling ? static_cast<int>(v.i) : kDefaultScaling);
         }},
        {"udacmode:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setUdacMode(static_cast<int>(v.i)); }},
        {"udacrange:", [](ChannelModel& m, const SettingValue& v, LoadState&) {
             m.setUdacScaling(v.i == kMaxScaling ? kMaxScaling : kDefaultScaling);
         }},
        {"minhold:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setMinHoldEnabled(v.i != 0); }},
        {"maxhold:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setMaxHoldEnabled(v.i != 0); }},
        {"peakhold:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setPeakHoldEnabled(v.i != 0); }},
        {"valleyhold:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setValleyHoldEnabled(v.i != 0); }},
        {"holdactive:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setHoldActive(v.i != 0); }},
        {"fluxunits:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setFluxUnits(static_cast<int>(v.i)); }},
        {"tempunits:", [](ChannelModel& m, const SettingValue& v, LoadState&) {
             m.setTemperatureUnits(static_cast<int>(v.i));
         }},
        {"timeunits:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.setTimeUnits(static_cast<int>(v.i)); }},
        {"zeromode:", [](ChannelModel& m, const SettingValue& v, LoadState& s) {
             m.setZeroMode(static_cast<int>(v.i));
             s.zeroModeSeen = true;
         }},
        {"clupperthresh:", [](ChannelModel& m, const SettingValue& v, LoadState&) {
             m.getClassifierController().setUpperThreshold(v.f);
         }},
        {"cllowerthresh:", [](ChannelModel& m, const SettingValue& v, LoadState&) {
             m.getClassifierController().setLowerThreshold(v.f);
         }},
        {"waveformscale:", [](ChannelModel& m, const SettingValue& v, LoadState&) {
             m.setWaveformScale(static_cast<int>(v.i));
         }},
        {"triggerlevel:", [](ChannelModel& m, const SettingValue& v, LoadState&) { m.loadTriggerLevel(v.f); }},
    };

    for (const auto& [key, text] : pairs) {
        // A value that is not a number reads as 0.
        const SettingValue v{std::strtol(text.c_str(), nullptr, 10), std::strtof(text.c_str(), nullptr)};
        for (const KeyHandler& h : handlers) {
            if (key == h.key) {
                h.apply(*this, v, state);
                break;
            }
        }
        pause(settingPause());
    }
}

// The classifier has stored a threshold: before the file is first read, the
// one that differs from the last announced is a user's change to keep.  (It
// is noted after the store, so a change made while the file is being read
// may still be undone by the file's value further on.)
void ChannelModel::onClassifierSettingsChanged(int) {
    const float upper = classifier.getUpperThreshold();
    const float lower = classifier.getLowerThreshold();
    if (seenUpperThreshold.exchange(upper) != upper) earlySettings.noteStored("clupperthresh:", upper);
    if (seenLowerThreshold.exchange(lower) != lower) earlySettings.noteStored("cllowerthresh:", lower);
    markSettingsDirty();
}

// The trigger level from the file: stored and announced, not sent to the card
// and not marked dirty.  A level that is not a finite number is ignored.
void ChannelModel::loadTriggerLevel(float gauss) {
    if (!std::isfinite(gauss)) return;
    triggerLevel = gauss;
    triggerLevelChanged.emit(channel, editingTriggerLevel, gauss);
}

void ChannelModel::applyDefaultSettings() {
    // Each step is followed by a pause unless marked false.
    const std::pair<std::function<void()>, bool> steps[] = {
        {[this] { setMode(0); }, true},
        {[this] { setRange(3); }, true},
        {[this] { setAutorange(true); }, true},
        {[this] { setMinHoldEnabled(false); }, true},
        {[this] { setMaxHoldEnabled(false); }, true},
        {[this] { setPeakHoldEnabled(false); }, true},
        {[this] { setValleyHoldEnabled(false); }, true},
        {[this] { setHoldActive(false); }, true},
        {[this] { setFreqRange(0); }, true},
        {[this] { setAutoFreq(false); }, true},
        {[this] { setCdacMode(0); }, true},
        {[this] { setCdacScaling(kDefaultScaling); }, false},
        {[this] { setUdacMode(0); }, true},
        {[this] { setUdacScaling(kDefaultScaling); }, true},
        {[this] { setZeroMode(kNoZeroMode); }, false},
    };
    for (const auto& step : steps) {
        step.first();
        if (step.second) pause(settingPause());
    }
}
