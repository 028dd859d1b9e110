#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "console/ClientLines.h"
#include "meter/MeterModel.h"
#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "runtime/Logger.h"
#include "scpi/ScpiArguments.h"
#include "scpi/ScpiCmdNode.h"
#include "status/ScpiErrorQueue.h"
#include "status/ScpiRegisterManager.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kUnrecognisedCommand = -100;
constexpr int kExecutionError = -200;
constexpr int kOperationCompleteBit = 0;
constexpr int kExecutionErrorBit = 4;
constexpr int kCommandErrorBit = 5;
constexpr int kNoIndex = 93;

const int kProbeOffsetIndex[5][4] = {
    {45, 46, 47, 48}, {49, 50, 51, 52}, {53, 54, 55, 56}, {57, 58, 59, 60}, {41, 42, 43, 44}};
const int kProbeRmsOffsetIndex[5][4] = {
    {65, 66, 67, 68}, {69, 70, 71, 72}, {73, 74, 75, 76}, {77, 78, 79, 80}, {61, 62, 63, 64}};

int tableIndex(const int table[5][4], int row, int column) {
    if (row < 0 || row > 4 || column < 0 || column > 3) return kNoIndex;
    return table[row][column];
}

}  // namespace

ScpiServer::Services ScpiServer::Services::instrument() {
    return Services{MeterModel::instance(), ScpiErrorQueue::instance(), ScpiRegisterManager::instance(),
                    ErrorList::instance(), platform::dataFile("SCPItable.csv")};
}

ScpiServer::ScpiServer(const Services& services)
    : meter(services.meter),
      errors(services.errors),
      registers(services.registers),
      catalogue(services.catalogue),
      tablePath(services.tablePath) {
    for (auto& until : streamUntil) until = 0;
    loadCommandTable();
    connectStreams();
    // Connected once, for the life of the server.
    busyConnection = meter->signalBusyChanged().connect(sigc::mem_fun(*this, &ScpiServer::onMeterBusyChanged));
}

ScpiServer::~ScpiServer() {
    stopStreaming();
    running = 0;
    // Only tests destroy servers, once nothing reports the busy state any more.
    busyConnection.disconnect();
    if (readerThread.joinable()) readerThread.detach();
}

bool ScpiServer::openPort() { return open(); }

void ScpiServer::start() {
    running = 1;
    readerThread = std::thread(&ScpiServer::run, this);
}

void ScpiServer::stopReader() {
    running = 0;
    if (readerThread.joinable()) readerThread.join();
}

bool ScpiServer::openAndStart(ScpiServer* server, const sigc::slot<void, bool>& onRemoteState) {
    if (!server->openPort()) return false;
    server->signalEnableButtons().connect(onRemoteState);
    server->start();
    return true;
}

void ScpiServer::run() {
    char buffer[kLineBufferSize];
    while (keepReading()) {
        std::memset(buffer, 0, sizeof buffer);
        if (read(buffer, kLineBufferSize - 1) < 1) continue;
        processLine(buffer);
    }
}

void ScpiServer::processLine(const std::string& line) {
    std::string text = line;
    if (text.empty() || text.back() != ';') text += ';';
    console::Limiter& lines = clientLines();
    const console::ClientScope scope(lines);   // the command tree's lines count for this client too
    Logger* const logger = Logger::instance();

    std::size_t start = 0;
    for (std::size_t end = text.find(';'); end != std::string::npos; end = text.find(';', start)) {
        const std::string received = text.substr(start, end - start);
        start = end + 1;

        std::string command = received;
        for (char& c : command) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (command.empty() || command[0] != ':') command.insert(0, ":");
        // DIAG with channel digit 4 addresses the backplane's branch BACK,
        // except for the three DAC branches, which keep the default channel.
        if (command.compare(0, 5, ":DIAG") == 0) {
            const std::size_t colon = command.find(':', 4);
            if (colon != std::string::npos && command[colon - 1] == '4') {
                const bool dac = command.compare(colon, 5, ":SDAC") == 0 || command.compare(colon, 5, ":VDAC") == 0 ||
                                 command.compare(colon, 5, ":ADAC") == 0;
                command.replace(colon - 1, 1, dac ? "" : ":BACK");
            }
        }
        if (logger->getLevel() >= 2 && lines.admit()) logger->log(2, "ScpiServer", "Received: " + console::escaped(command));

        if (root->dispatch(command, 1) == -1) {
            lines.write(console::Stream::out, "unrecognized SCPI cmd: " + console::escaped(received) + "\n");
            std::unique_ptr<TvlError> record = catalogue->lookup(kUnrecognisedCommand);
            record->setDetail(received);
            errors->push(std::move(record));
            registers->getStandardEventRegister().setConditionBit(kCommandErrorBit);
        }
    }
}

// ---- Operation complete

void ScpiServer::onMeterBusyChanged(bool nowBusy) {
    bool answerQuery = false, setBit = false;
    std::uint64_t querySession = 0;
    {
        std::lock_guard<std::mutex> lock(opcLock);
        if (nowBusy == busy) return;
        busy = nowBusy;
        if (busy) return;
        answerQuery = pendingOperationCompleteQuery;
        querySession = pendingQuerySession;
        setBit = pendingOperationComplete;
        pendingOperationCompleteQuery = pendingOperationComplete = false;
    }
    if (answerQuery) writeToSession(querySession, "1");
    if (setBit) registers->getStandardEventRegister().setConditionBit(kOperationCompleteBit);
}

void ScpiServer::handleQueryOperationComplete(int, const std::string&) {
    {
        std::lock_guard<std::mutex> lock(opcLock);
        if (busy) {
            pendingOperationCompleteQuery = true;
            pendingQuerySession = session.load();
            return;
        }
    }
    write("1");
}

void ScpiServer::handleSetOperationComplete(int, const std::string&) {
    {
        std::lock_guard<std::mutex> lock(opcLock);
        if (busy) {
            pendingOperationComplete = true;
            return;
        }
    }
    registers->getStandardEventRegister().setConditionBit(kOperationCompleteBit);
}

// ---- The client's session

void ScpiServer::endClientSession() {
    {
        std::lock_guard<std::mutex> lock(sessionLock);
        ++session;
    }
    // From here on nothing of the old session is written; what is left of
    // it is cleared away.  (The *OPC of the register stays: it is no reply.)
    {
        std::lock_guard<std::mutex> lock(opcLock);
        pendingOperationCompleteQuery = false;
    }
    std::lock_guard<std::mutex> lock(streamLock);
    for (auto& until : streamUntil) until = 0;
    streamQueue.clear();
}

void ScpiServer::writeToSession(std::uint64_t ofSession, const std::string& text) {
    std::lock_guard<std::mutex> lock(sessionLock);
    if (ofSession == session.load()) write(text);
}

// ---- Shared routines

bool ScpiServer::isValidChannel(int channel) const {
    return channel >= 1 && channel <= (meter->isThreeChannelModel() ? 3 : 1);
}

ChannelModel* ScpiServer::getChannelModel(int channel) const {
    int slot = channel;
    if (!meter->isThreeChannelModel()) {
        if (channel == 1) slot = 2;
        else if (channel == 2) slot = 1;
    }
    return slot >= 1 ? meter->getChannel(static_cast<unsigned>(slot)) : nullptr;
}

ChannelModel* ScpiServer::validChannel(int channel) const {
    return isValidChannel(channel) ? getChannelModel(channel) : nullptr;
}

void ScpiServer::sendFixed(float value, int precision) {
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", precision, static_cast<double>(value));
    write(text);
}

// A calibration constant of the card: any finite value (NaN and the
// infinities would reach the card's calibration).
void ScpiServer::setChannelParameter(int channel, int index, const std::string& command) {
    ChannelModel* model = getChannelModel(channel);
    if (!model) return;
    const float value = scpiarg::textFloat(scpiarg::argumentWord(command));
    if (!std::isfinite(value)) return write("argument out of range");
    model->setCalParameter(index, value);
}

int ScpiServer::probeOffsetIndex(int row, int column) { return tableIndex(kProbeOffsetIndex, row, column); }
int ScpiServer::probeRmsOffsetIndex(int row, int column) { return tableIndex(kProbeRmsOffsetIndex, row, column); }

void ScpiServer::replyInt(int value) { write(std::to_string(value)); }

void ScpiServer::writeLines(const std::vector<std::string>& lines) {
    std::lock_guard<std::mutex> group(replyGroupLock);
    for (const std::string& line : lines) write(line);
}

std::string ScpiServer::formatValue(const std::string& format, double value) {
    char text[80];
    std::snprintf(text, sizeof text, format.c_str(), value);
    return text;
}

void ScpiServer::reportNoProbe(const std::string& detail) { reportExecutionError(detail); }

void ScpiServer::reportExecutionError(const std::string& detail) {
    std::unique_ptr<TvlError> record = catalogue->lookup(kExecutionError);
    record->setDetail(detail);
    errors->push(std::move(record));
    registers->getStandardEventRegister().setConditionBit(kExecutionErrorBit);
}
