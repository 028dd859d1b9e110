// Probe correction tables and reports: single elements of a card's DC
// linearity, frequency correction and RMS linearity tables, the probe
// offsets of its calibration parameter table, and the reports, answered
// line by line (a report's lines stay together).
//
// Groups and table numbers (the numbering of the configuration dump's table
// lines, so that a dump can be sent back as it is):
//   DC linearity      0-3 -> tables 1-4, 4 -> table 0
//   frequency corr.   0-7 -> tables 5-12
//   RMS linearity     0-3 -> tables 14-17, 4 -> table 13
//
//   :DIAG1:DAT:CAL:DCL? 4,0        table 0, element 0: "1.000000"
//   :DIAG1:DAT:CAL:FCOR 8,0,1      "invalid table"
//   :DIAG1:DAT:CAL:RMSL 0,-1,1     "index out of range"
//   :DIAG1:DAT:CAL:POFF 0,0,12.7   parameter 45 := 12 (offsets are counts)
//   :DIAG1:REP:DUMP?               the configuration dump, line by line
#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "platform/Platform.h"
#include "scpi/ScpiArguments.h"

#include <climits>
#include <cmath>
#include <fstream>
#include <thread>

namespace {

struct Group {
    int tables[8];        // table number by group number
    unsigned long limit;  // largest group number
    const char* badSetterGroup;
};

const Group& groupOf(ScpiServer::TableGroup group) {
    static const Group dc{{1, 2, 3, 4, 0}, 4, "invalid range"};
    static const Group frequency{{5, 6, 7, 8, 9, 10, 11, 12}, 7, "invalid table"};
    static const Group rms{{14, 15, 16, 17, 13}, 4, "invalid range"};
    return group == ScpiServer::TableGroup::DcLinearity ? dc
           : group == ScpiServer::TableGroup::FrequencyCorrection ? frequency
                                                                  : rms;
}

const char* const kMissingArgument = "missing argument";
const char* const kSyntaxError = "syntax error in argument";
constexpr int kNoEntry = 93;
constexpr int kMemoryDumpOption = 6;
constexpr auto kMemoryDumpPause = std::chrono::seconds(1);

// The argument's fields: fewer than wanted answers "missing argument" (none)
// or "syntax error in argument" (some).
bool readFields(const std::string& command, std::string fields[], int wanted, std::string& error) {
    const int count = scpiarg::splitFields(scpiarg::argumentWord(command), fields, wanted);
    if (count == wanted) return true;
    error = count == 0 ? kMissingArgument : kSyntaxError;
    return false;
}

// An index as an int; one that no int holds becomes -1, which no table has.
int indexOf(const std::string& field) {
    const long long index = scpiarg::textInteger(field);
    return scpiarg::inRange(index, 0LL, static_cast<long long>(INT_MAX)) ? static_cast<int>(index) : -1;
}

}  // namespace

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::tableHandlers() {
    static const std::vector<HandlerEntry> table = {
        SCPI_CORRECTION_TABLES(SCPI_ENTRY_PAIR)
        SCPI_PROBE_OFFSETS(SCPI_ENTRY_PAIR)
        SCPI_CHANNEL_REPORTS(SCPI_ENTRY_FIRST)
        SCPI_HANDLER(handleProbeReportMemoryDump),
        SCPI_HANDLER(handleBackplaneCalReport),
        SCPI_HANDLER(handleBootloadReport),
    };
    return table;
}

// ---- Correction table elements

void ScpiServer::getTableElement(int channel, TableGroup which, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    std::string fields[2], error;
    if (!readFields(command, fields, 2, error)) return write(error);
    const Group& group = groupOf(which);
    const long long number = scpiarg::textInteger(fields[0]);
    if (!scpiarg::inRange(number, 0LL, static_cast<long long>(group.limit))) return write("invalid range");
    sendFixed(model->getCalTableElement(group.tables[number], indexOf(fields[1])), 6);
}

void ScpiServer::setTableElement(int channel, TableGroup which, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    std::string fields[3], error;
    if (!readFields(command, fields, 3, error)) return write(error);
    const Group& group = groupOf(which);
    const long long number = scpiarg::textInteger(fields[0]);
    if (!scpiarg::inRange(number, 0LL, static_cast<long long>(group.limit))) return write(group.badSetterGroup);
    const float value = scpiarg::textFloat(fields[2]);
    if (!std::isfinite(value)) return write("argument out of range");
    if (model->setCalTableElement(group.tables[number], indexOf(fields[1]), value) != 0)
        write("index out of range");
}

#define SCPI_DEFINE_TABLE_ELEMENT(getter, setter, group)                   \
    void ScpiServer::getter(int channel, const std::string& command) {    \
        getTableElement(channel, TableGroup::group, command);             \
    }                                                                     \
    void ScpiServer::setter(int channel, const std::string& command) {    \
        setTableElement(channel, TableGroup::group, command);             \
    }
SCPI_CORRECTION_TABLES(SCPI_DEFINE_TABLE_ELEMENT)

// ---- Probe offsets

namespace {

// The parameter index of row,column; kNoEntry outside the map (also for
// numbers no int holds).
int offsetIndex(int (*map)(int, int), const std::string& row, const std::string& column) {
    const long long r = scpiarg::textInteger(row), c = scpiarg::textInteger(column);
    if (!scpiarg::inRange(r, 0LL, 4LL) || !scpiarg::inRange(c, 0LL, 3LL)) return kNoEntry;
    return map(static_cast<int>(r), static_cast<int>(c));
}

}  // namespace

void ScpiServer::getProbeOffset(int channel, int (*map)(int, int), int decimals, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    std::string fields[2], error;
    if (!readFields(command, fields, 2, error)) return write(error);
    const int index = offsetIndex(map, fields[0], fields[1]);
    if (index != kNoEntry) sendFixed(model->getCalParameter(index), decimals);
}

void ScpiServer::setProbeOffset(int channel, int (*map)(int, int), bool integerValue, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    std::string fields[3], error;
    if (!readFields(command, fields, 3, error)) return write(error);
    const int index = offsetIndex(map, fields[0], fields[1]);
    if (index == kNoEntry) return;
    const float value = integerValue ? static_cast<float>(scpiarg::textInteger(fields[2])) : scpiarg::textFloat(fields[2]);
    if (!std::isfinite(value)) return write("argument out of range");
    model->setCalParameter(index, value);
}

#define SCPI_DEFINE_PROBE_OFFSET(getter, setter, map, decimals, integerValue) \
    void ScpiServer::getter(int channel, const std::string& command) {      \
        getProbeOffset(channel, &ScpiServer::map, decimals, command);       \
    }                                                                       \
    void ScpiServer::setter(int channel, const std::string& command) {      \
        setProbeOffset(channel, &ScpiServer::map, integerValue, command);   \
    }
SCPI_PROBE_OFFSETS(SCPI_DEFINE_PROBE_OFFSET)

// ---- Reports

void ScpiServer::channelReport(int channel, std::vector<std::string> (ChannelModel::*report)()) {
    if (ChannelModel* model = validChannel(channel)) writeLines((model->*report)());
}

#define SCPI_DEFINE_CHANNEL_REPORT(handler, report) \
    void ScpiServer::handler(int channel, const std::string&) { channelReport(channel, &ChannelModel::report); }
SCPI_CHANNEL_REPORTS(SCPI_DEFINE_CHANNEL_REPORT)

// The card sends the probe's memory on option 6; its report follows a second later.
void ScpiServer::handleProbeReportMemoryDump(int channel, const std::string&) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    model->setDiagOption(kMemoryDumpOption, 0, 0, 0);
    std::this_thread::sleep_for(kMemoryDumpPause);
    writeLines(model->probeMemoryDump());
}

void ScpiServer::handleBackplaneCalReport(int, const std::string&) { writeLines(meter->backplaneInfoReport()); }

// The loader's record of the last loads, one duration per line, one word per reply.
void ScpiServer::handleBootloadReport(int, const std::string&) {
    std::ifstream file(platform::dataFile("bootload.log"));
    if (!file) return;
    std::vector<std::string> words;
    for (std::string word; file >> word;) words.push_back(word);
    writeLines(words);
}
