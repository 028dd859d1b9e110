// The meter settings file ("bp" in the data folder), its 10 s save timer and
// the profiles, which the platform's two profile scripts keep.
//
// File: one "key: value" line per setting, 20 lines in the order of the
// table below, values in decimal, booleans 0 or 1.  The reader applies the
// defaults first, then every known key through its setter, so each value
// passes the setter's own range check (an out-of-range value keeps the
// default).  A value that is not an integer ends the reading.
#include "meter/MeterModel.h"

#include "channel/ChannelModel.h"
#include "platform/Platform.h"
#include "runtime/FileIoManager.h"
#include "runtime/Logger.h"
#include "status/ScpiErrorQueue.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

constexpr std::chrono::milliseconds kFlushPause{50};

enum Rs232Field { kSpeed, kDataBits, kStopBits, kParity, kFlowControl };

struct Setting {
    const char* key;
    int (*get)(const MeterModel&);
    void (*set)(MeterModel&, int);
};

int rs232Get(const MeterModel& m, int field) {
    RS232Configuration c = m.getRS232Configuration();
    switch (field) {
    case kSpeed: return c.getSpeed();
    case kDataBits: return c.getDataBits();
    case kStopBits: return c.getStopBits();
    case kParity: return c.getParity();
    default: return c.getFlowControl();
    }
}

// The file's lines in their written order.  The five serial lines have no
// setter here: the loader writes them into the configuration directly.
const Setting kSettings[] = {
    {"holdactive:", [](const MeterModel& m) { return int(m.isVectorSumHoldActive()); },
     [](MeterModel& m, int v) { m.setVectorSumHoldActive(v != 0); }},
    {"minhold:", [](const MeterModel& m) { return int(m.isVectorSumMinHoldEnabled()); },
     [](MeterModel& m, int v) { m.setVectorSumMinHoldEnabled(v != 0); }},
    {"maxhold:", [](const MeterModel& m) { return int(m.isVectorSumMaxHoldEnabled()); },
     [](MeterModel& m, int v) { m.setVectorSumMaxHoldEnabled(v != 0); }},
    {"vdacmode:", [](const MeterModel& m) { return m.getVectorSumOutputMode(); },
     [](MeterModel& m, int v) { m.setVectorSumOutputMode(v); }},
    {"vdacrange:", [](const MeterModel& m) { return m.getVectorSumOutputScaling(); },
     [](MeterModel& m, int v) { m.setVectorSumOutputScaling(v); }},
    {"adacmode:", [](const MeterModel& m) { return m.getAuxOutputMode(); },
     [](MeterModel& m, int v) { m.setAuxOutputMode(v); }},
    {"adacrange:", [](const MeterModel& m) { return m.getAuxOutputScaling(); },
     [](MeterModel& m, int v) { m.setAuxOutputScaling(v); }},
    {"buttonlevel:", [](const MeterModel& m) { return m.getButtonLevel(); },
     [](MeterModel& m, int v) { m.setButtonLevel(v); }},
    {"lcdlevel:", [](const MeterModel& m) { return m.getLcdLevel(); }, [](MeterModel& m, int v) { m.setLcdLevel(v); }},
    {"angleunits:", [](const MeterModel& m) { return m.getAngleUnits(); },
     [](MeterModel& m, int v) { m.setAngleUnits(v); }},
    {"timebase:", [](const MeterModel& m) { return m.getTimebase(); }, [](MeterModel& m, int v) { m.setTimebase(v); }},
    {"triggermode2:", [](const MeterModel& m) { return m.getTriggerMode(); },
     [](MeterModel& m, int v) { m.setTriggerMode(v); }},
    {"triggerslope:", [](const MeterModel& m) { return m.getTriggerSlope(); },
     [](MeterModel& m, int v) { m.setTriggerSlope(v); }},
    {"triggerchannel:", [](const MeterModel& m) { return m.getTriggerChannel(); },
     [](MeterModel& m, int v) { m.setTriggerChannel(v); }},
    {"gpibaddress:", [](const MeterModel& m) { return m.getGpibAddress(); },
     [](MeterModel& m, int v) { m.setGpibAddress(v); }},
    {"rs232speed:", [](const MeterModel& m) { return rs232Get(m, kSpeed); }, nullptr},
    {"rs232databits:", [](const MeterModel& m) { return rs232Get(m, kDataBits); }, nullptr},
    {"rs232stopbits:", [](const MeterModel& m) { return rs232Get(m, kStopBits); }, nullptr},
    {"rs232parity:", [](const MeterModel& m) { return rs232Get(m, kParity); }, nullptr},
    {"rs232flowcontrol:", [](const MeterModel& m) { return rs232Get(m, kFlowControl); }, nullptr},
};
constexpr int kFirstRs232Line = 15;

}  // namespace

std::string MeterModel::settingsFileContents() const {
    std::ostringstream out;
    for (const Setting& s : kSettings) out << s.key << ' ' << s.get(*this) << '\n';
    return out.str();
}

bool MeterModel::saveSettings() {
    return settingsSaveStatus.saveUnder(settingsMutex, settingsPath, [this] { return settingsFileContents(); });
}

void MeterModel::applyDefaultSettings() {
    setVectorSumMinHoldEnabled(false);
    setVectorSumMaxHoldEnabled(false);
    setVectorSumHoldActive(false);
    setVectorSumOutputMode(0);
    setVectorSumOutputScaling(30);
    setAuxOutputMode(0);
    setAuxOutputScaling(30);
    setButtonLevel(5);
    setLcdLevel(5);
    setAngleUnits(0);
    setTimebase(5);
    setTriggerMode(0);
    setTriggerSlope(0);
    setTriggerChannel(2);
    setGpibAddress(1);
}

void MeterModel::setRS232Field(int field, int code) {
    std::lock_guard<std::mutex> lock(textMutex);
    switch (field) {
    case kSpeed: rs232Configuration.setSpeed(code); break;
    case kDataBits: rs232Configuration.setDataBits(code); break;
    case kStopBits: rs232Configuration.setStopBits(code); break;
    case kParity: rs232Configuration.setParity(code); break;
    default: rs232Configuration.setFlowControl(code); break;
    }
}

bool MeterModel::applySetting(const std::string& key, int value) {
    for (int i = 0; i < static_cast<int>(sizeof kSettings / sizeof kSettings[0]); ++i) {
        const Setting& s = kSettings[i];
        if (key != s.key) continue;
        if (!s.set) {
            setRS232Field(i - kFirstRs232Line, value);
        } else if (key == "triggerchannel:" && !threeChannelModel) {
            // The single-channel model triggers on its only card, slot 2.
        } else {
            s.set(*this, value);
        }
        return true;
    }
    return false;
}

void MeterModel::loadSettings() {
    // The file is read under the settings lock; the values are applied after
    // it is released, so no signal a setter raises runs under it.
    std::string text;
    bool opened;
    settingsLoaded = false;
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        std::ifstream in(settingsPath);
        opened = static_cast<bool>(in);
        if (opened) {
            std::ostringstream data;
            data << in.rdbuf();
            text = data.str();
        }
    }
    // The first reading keeps every setting a user changed before it (see
    // runtime/EarlySettings.h) over the file's value, and has it written.
    EarlySettings::Applying applying;
    const EarlySettings::Pairs kept = earlySettings.beginReading();
    applyDefaultSettings();
    EarlySettings::Pairs read;
    if (opened) {
        std::istringstream in(text);
        std::string key;
        int value = 0;
        while (in >> key >> value) read.emplace_back(key, std::to_string(value));
    }
    for (const auto& [key, value] : EarlySettings::merge(std::move(read), kept)) applySetting(key, std::stoi(value));
    if (!kept.empty()) markSettingsDirty();
    settingsLoaded = true;
    earlySettings.endReading();
    saveTimer.start();
    rs232ConfigurationChanged.emit(getRS232Configuration());
}

void MeterModel::onSaveTimer() { saveSettingsIfDirty(); }

// Cleared before writing: a change made while the file is written is
// written at the next tick.  A write that fails leaves the settings dirty:
// the next tick tries again, also when no other change comes.  A save that
// finds another one writing the file waits for it (a stop during a tick).
bool MeterModel::saveSettingsIfDirty() {
    return settingsSaveStatus.saveChangeUnder([this] { return settingsDirty.exchange(false); },
                                              [this] { markSettingsDirty(); }, settingsMutex, settingsPath,
                                              [this] { return settingsFileContents(); });
}

bool MeterModel::saveKeptSettings() {
    return earlySettings.saveUnread(settingsSaveStatus, settingsMutex, settingsPath,
                                    [this] { return settingsFileContents(); });
}

bool MeterModel::flushSettings() {
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        saveTimer.stop();
    }
    std::this_thread::sleep_for(kFlushPause);
    bool ok = saveSettings();
    for (auto& ch : channels) ok = ch->saveSettingsNow() && ok;
    return ok;
}

// A model whose file has not been read (or is being read) is left alone: its
// values are not the user's, and writing them would replace the user's file.
bool MeterModel::saveDirtyFiles() {
    bool ok = true;
    // A file not read yet gets only what a user changed before (the model
    // holds no other value of its own to write over it).
    ok = settingsLoaded ? saveSettingsIfDirty() : saveKeptSettings();
    for (auto& ch : channels) ok = (ch->isSettingsLoaded() ? ch->saveSettingsIfDirty() : ch->saveKeptSettings()) && ok;
    ok = ScpiErrorQueue::instance()->saveIfDirty() && ok;
    return FileIoManager::instance()->saveCountersIfDirty() && ok;
}

void MeterModel::startSettingsSaveTimers() {
    saveTimer.start();
    for (auto& ch : channels) ch->startSettingsSaveTimer();
}

std::string MeterModel::runProfileScript(const char* script, unsigned n) {
    const int status = platform::runCommand({platform::script(script), std::to_string(n)});
    if (status == 0) return "";
    return std::string(script) + " failed (status " + std::to_string(status) + ")";
}

void MeterModel::reportProfileFailure(unsigned n, const char* what, const std::string& reason) {
    const std::string detail = (n == 0 ? std::string("factory settings") : "profile " + std::to_string(n)) +
                               " not " + what + ": " + reason;
    Logger::instance()->log(1, "MeterModel", detail);
    ScpiErrorQueue::instance()->pushError(ScpiErrorQueue::kMassStorageErrorCode, detail);
}

// Marked dirty first: a file that cannot be written now is written by the
// save timer as soon as it can be.
void MeterModel::writeBackSettings() {
    markSettingsDirty();
    saveSettingsIfDirty();
    for (auto& ch : channels) {
        ch->markSettingsDirty();
        ch->saveSettingsIfDirty();
    }
}

// A profile made of files older than the settings in force would not be
// the user's settings: when they cannot be written, the script is not run.
bool MeterModel::saveProfile(unsigned n) {
    if (n < 1 || n > static_cast<unsigned>(kProfileCount)) return false;
    const std::string failure =
        flushSettings() ? runProfileScript("tvl4700-save-profile.sh", n) : "the settings files cannot be written";
    startSettingsSaveTimers();
    if (failure.empty()) return true;
    reportProfileFailure(n, "saved", failure);
    return false;
}

bool MeterModel::restoreProfile(unsigned n) {
    if (n > static_cast<unsigned>(kProfileCount)) return false;
    // The profile's settings are restored as saved, whatever was changed
    // before the files were first read.
    earlySettings.discard();
    for (auto& ch : channels) ch->forgetEarlyChanges();
    flushSettings();
    const std::string failure = runProfileScript("tvl4700-restore-profile.sh", n);
    if (failure.empty()) {
        loadSettings();
        for (auto& ch : channels) ch->loadSettings();
    } else {
        // The settings in force stay; the script may have removed or
        // replaced some of their files.
        writeBackSettings();
    }
    startSettingsSaveTimers();
    if (failure.empty()) return true;
    reportProfileFailure(n, "restored", failure);
    return false;
}

bool MeterModel::restoreDefaults() {
    bool ok = restoreProfile(0);
    if (ok) defaultsRestored.emit();
    return ok;
}

void MeterModel::setGpibAddress(int address) {
    earlySettings.note("gpibaddress:", address);
    if (gpibAddress.exchange(address) == address) return;
    gpibAddressChanged.emit(address);
    markSettingsDirty();
}

void MeterModel::setRS232Configuration(const RS232Configuration& config) {
    earlySettings.note("rs232speed:", config.getSpeed());
    earlySettings.note("rs232databits:", config.getDataBits());
    earlySettings.note("rs232stopbits:", config.getStopBits());
    earlySettings.note("rs232parity:", config.getParity());
    earlySettings.note("rs232flowcontrol:", config.getFlowControl());
    {
        std::lock_guard<std::mutex> lock(textMutex);
        rs232Configuration = config;
    }
    markSettingsDirty();
    rs232ConfigurationChanged.emit(getRS232Configuration());
}

RS232Configuration MeterModel::getRS232Configuration() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return rs232Configuration;
}
