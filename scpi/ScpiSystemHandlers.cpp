// Identification and system commands: identification, options (probes),
// SCPI version, date and time, reset and profiles, network address, removal
// of the internal data logs.
#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "console/Console.h"
#include "meter/MeterModel.h"
#include "platform/Platform.h"
#include "runtime/FileIoManager.h"
#include "runtime/NetworkConfiguration.h"
#include "scpi/ScpiArguments.h"

#include "Version.h"

#include <ctime>
#include <sstream>

namespace {

const char* const kScpiVersion = "1999.0";
const char* const kProfileRangeText = "Profile number must be between 1 and 10";

bool isLeapYear(long long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

long long daysInMonth(long long year, long long month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Whether the three fields make a calendar date (year, month, day) or a time
// of day (hour, minute, second).
bool validClockFields(const long long v[3], bool date) {
    using scpiarg::inRange;
    if (!date) return inRange(v[0], 0, 23) && inRange(v[1], 0, 59) && inRange(v[2], 0, 59);
    return inRange(v[0], 1970, 9999) && inRange(v[1], 1, 12) && inRange(v[2], 1, daysInMonth(v[0], v[1]));
}

}  // namespace

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::systemHandlers() {
    static const std::vector<HandlerEntry> table = {
        SCPI_HANDLER(handleIdRequest),
        SCPI_HANDLER(handleOptionQuery),
        SCPI_HANDLER(handleResetToDefaultSettings),
        SCPI_HANDLER(handleSaveProfile),
        SCPI_HANDLER(handleRestoreProfile),
        SCPI_HANDLER(handleQueryScpiVersion),
        SCPI_HANDLER(handleSetSystemTime),
        SCPI_HANDLER(handleQuerySystemTime),
        SCPI_HANDLER(handleSetSystemDate),
        SCPI_HANDLER(handleQuerySystemDate),
        SCPI_HANDLER(handleQuerySystemNetworkAddress),
        SCPI_HANDLER(handleRemoveAllDataLogs),
    };
    return table;
}

void ScpiServer::handleIdRequest(int, const std::string&) {
    write(std::string("TARVEL, ") + (meter->isThreeChannelModel() ? "4730 " : "4710 ") + "VAZID UVEDURIDER, " +
          tvl::kSoftwareVersion + ", FP: " + meter->getFrontPanelFirmwareVersion() +
          ", PSU: " + meter->getPsuFirmwareVersion());
}

void ScpiServer::handleOptionQuery(int, const std::string&) {
    std::ostringstream text;
    const int channels = meter->isThreeChannelModel() ? 3 : 1;
    for (int channel = 1; channel <= channels; ++channel) {
        if (channel > 1) text << ",";
        ChannelModel* model = getChannelModel(channel);
        if (model && model->getChannelStatus() == kChannelProbeReady)
            text << model->getProbeModel() << "," << model->getProbeSerialNumber();
        else
            text << "0,0";
    }
    write(text.str());
}

void ScpiServer::handleQueryScpiVersion(int, const std::string&) { write(kScpiVersion); }

void ScpiServer::handleResetToDefaultSettings(int, const std::string&) { meter->restoreDefaults(); }

// Profiles 1-10 by number; profile 0 (the defaults) only through *RST.
void ScpiServer::profileCommand(const std::string& command, bool (MeterModel::*operation)(unsigned)) {
    const long long n = scpiarg::textInteger(scpiarg::argumentWord(command));
    if (scpiarg::inRange(n, 1, MeterModel::kProfileCount))
        (meter->*operation)(static_cast<unsigned>(n));
    else
        write(kProfileRangeText);
}

void ScpiServer::handleSaveProfile(int, const std::string& command) {
    profileCommand(command, &MeterModel::saveProfile);
}

void ScpiServer::handleRestoreProfile(int, const std::string& command) {
    profileCommand(command, &MeterModel::restoreProfile);
}

void ScpiServer::replyClock(const char* format) {
    tzset();
    const std::time_t now = platform::now();
    std::tm local{};
    localtime_r(&now, &local);
    char text[80];
    std::strftime(text, sizeof text, format, &local);
    write(text);
}

void ScpiServer::handleQuerySystemTime(int, const std::string&) { replyClock("%H,%M,%S"); }
void ScpiServer::handleQuerySystemDate(int, const std::string&) { replyClock("%Y,%m,%d"); }

// The clock of the instrument changes through the platform layer only (the
// PC build's clock is the program's own); then the hardware clock follows.
void ScpiServer::setClock(const std::string& command, bool date) {
    std::string fields[3];
    const int count = scpiarg::splitFields(scpiarg::argumentWord(command), fields, 3);
    if (count == 0) {
        write("missing argument");
        return;
    }
    if (count < 3) {
        write("syntax error in argument");
        return;
    }
    long long v[3];
    for (int i = 0; i < 3; ++i) v[i] = scpiarg::textInteger(fields[i]);
    if (!validClockFields(v, date)) {
        write("argument out of range");
        return;
    }
    tzset();
    const std::time_t now = platform::now();
    std::tm local{};
    localtime_r(&now, &local);
    if (date) {
        local.tm_year = static_cast<int>(v[0] - 1900);
        local.tm_mon = static_cast<int>(v[1] - 1);
        local.tm_mday = static_cast<int>(v[2]);
    } else {
        local.tm_hour = static_cast<int>(v[0]);
        local.tm_min = static_cast<int>(v[1]);
        local.tm_sec = static_cast<int>(v[2]);
    }
    local.tm_isdst = -1;
    const std::time_t wanted = std::mktime(&local);
    if (wanted < 0) {   // -1: not representable here
        write("argument out of range");
        return;
    }
    platform::setSystemTime(wanted);
    platform::runCommand({platform::path::kHwclock, "--systohc"});
}

void ScpiServer::handleSetSystemTime(int, const std::string& command) { setClock(command, false); }
void ScpiServer::handleSetSystemDate(int, const std::string& command) { setClock(command, true); }

void ScpiServer::handleQuerySystemNetworkAddress(int, const std::string&) {
    write(meter->getNetworkConfiguration()->getIpAddress());
}

// Every *.csv file of the internal data-log folder, as the pattern
// "/var/www/datalogs/*.csv" names them (no hidden files, no folders), removed
// directly: no shell, no sub-folders, nothing else.
// The running log's file stays: its log goes on writing to it.
void ScpiServer::handleRemoveAllDataLogs(int, const std::string&) {
    console::clientPrint("ScpiServer::handleRemoveAllDataLogs()\n");
    const std::string kept = FileIoManager::instance()->deleteAllInternalLogs();
    if (!kept.empty()) reportExecutionError("data log " + kept + " not deleted: the log is running");
}
