// Factory and diagnostic commands: calibration memory and defaults of the
// cards and the backplane, the raw diagnostic reading, the zeroing state,
// the probe-current recalibration, the backplane temperature, the card's
// sample averaging, diagnostic modes and options, the classifier lines, new
// correction tables, and streaming of readings.
//
//   :DIAG1:OPT 6             card option 6 with three zeros (0x17)
//   :DIAG1:OPT 7,1,2,3       the channel reads its settings file again
//   :DIAG1:CLAS 1            "missing argument"
//   :DIAG1:DAT:CAL:NEW 10,,20  new tables of lengths 10, 0 and 20
//   :DIAG1:MODE 256          ignored (a mode is 0-255)
//   :DIAG2:DAT:RAW:DC?       "1.234 V" (the card's decimals and unit)
//   :MEAS2:FLUX:STR? 5       channel 2's readings for 5 s, one line each
#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "scpi/ScpiArguments.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>

namespace {

constexpr int kMaxDiagMode = 255;              // what the card's mode byte carries
constexpr int kMaxDiagDecimals = 9;            // as the diagnostics page shows them
constexpr long long kMaxStreamSeconds = 2147483;   // the longest period in milliseconds an int holds
constexpr int kReloadSettingsOption = 7;
const char* const kMissingArgument = "missing argument";

// A 16-bit word of the diagnostic option frame (signed or unsigned).
bool isWord(long long value) { return scpiarg::inRange(value, -32768LL, 65535LL); }

std::int64_t steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::factoryHandlers() {
    static const std::vector<HandlerEntry> table = {
        SCPI_CARD_MEMORY(SCPI_ENTRY_FIRST)
        SCPI_BACKPLANE_MEMORY(SCPI_ENTRY_FIRST)
        SCPI_HANDLER(handleDiagDataStreaming),
        SCPI_HANDLER(handleSetDiagMode),
        SCPI_HANDLER(handleCurrentRecal),
        SCPI_HANDLER(handleGetZeroingState),
        SCPI_HANDLER(handleDiagSetOption),
        SCPI_HANDLER(handleDiagTempQuery),
        SCPI_HANDLER(handleDiagClassifierControl),
        SCPI_HANDLER(handleDiagDataRawDc),
        SCPI_HANDLER(handleDiagSampleAverage),
        SCPI_HANDLER(handleNewCalTables),
    };
    return table;
}

// ---- Calibration memory and defaults

#define SCPI_DEFINE_CARD_MEMORY(handler, operation)              \
    void ScpiServer::handler(int channel, const std::string&) {  \
        if (ChannelModel* model = validChannel(channel)) model->operation(); \
    }
SCPI_CARD_MEMORY(SCPI_DEFINE_CARD_MEMORY)

#define SCPI_DEFINE_BACKPLANE_MEMORY(handler, operation) \
    void ScpiServer::handler(int, const std::string&) { meter->operation(); }
SCPI_BACKPLANE_MEMORY(SCPI_DEFINE_BACKPLANE_MEMORY)

// ---- Diagnostic queries and actions

// The reading with the decimals and unit the card gave for its diagnostic
// mode; the decimals are kept to 0-9, as the diagnostics page shows them.
void ScpiServer::handleDiagDataRawDc(int channel, const std::string&) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    const int decimals = std::clamp(model->getDiagDecimals(), 0, kMaxDiagDecimals);
    char text[400];
    std::snprintf(text, sizeof text, "%0.*f %s", decimals, static_cast<double>(model->getDisplayValue()),
                  model->getDiagUnitText().c_str());
    write(text);
}

void ScpiServer::handleGetZeroingState(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel)) replyInt(model->getZeroingState());
}

void ScpiServer::handleCurrentRecal(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel)) model->startCurrentRecal();
}

void ScpiServer::handleDiagTempQuery(int, const std::string&) {
    replyFormatted("%0.1f", meter->getBackplaneTemperature());
}

// The number of card samples per reading, as it comes (the channel model
// keeps at least 1); one that no int holds is out of range.
void ScpiServer::handleDiagSampleAverage(int channel, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    int samples;
    if (model && integerInRange(command, INT_MIN, INT_MAX, true, samples)) model->setSamplesPerAverage(samples);
}

// Modes 0-255 (the card's mode byte); other values are ignored.
void ScpiServer::handleSetDiagMode(int channel, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    int mode;
    if (model && integerInRange(command, 0, kMaxDiagMode, false, mode)) model->setDiagMode(mode);
}

// code[,a[,b[,c]]]: code 7 reloads the channel's settings file, any other
// code goes to the card with a, b, c (0 where missing).  Each is a 16-bit
// word of the card's frame.
void ScpiServer::handleDiagSetOption(int channel, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    std::string fields[4];
    const int count = scpiarg::splitFields(scpiarg::argumentWord(command), fields, 4);
    if (count < 1) return write(kMissingArgument);
    long long values[4] = {0, 0, 0, 0};
    for (int i = 0; i < count; ++i) {
        values[i] = scpiarg::textInteger(fields[i]);
        if (!isWord(values[i])) return write("argument out of range");
    }
    if (values[0] == kReloadSettingsOption) return model->loadSettings();
    model->setDiagOption(static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[2]),
                         static_cast<int>(values[3]));
}

// line,state: line 0 or any other (line 1), driven on when state is not 0.
void ScpiServer::handleDiagClassifierControl(int channel, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    std::string fields[2];
    if (scpiarg::splitFields(scpiarg::argumentWord(command), fields, 2) < 2) return write(kMissingArgument);
    const int on = scpiarg::textInteger(fields[1]) != 0 ? 1 : 0;
    if (scpiarg::textInteger(fields[0]) != 0)
        model->setClassifierLine1(on);
    else
        model->setClassifierLine0(on);
}

// a,b,c: the lengths of the new tables, each a byte of the card's frame.
void ScpiServer::handleNewCalTables(int channel, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    std::string fields[3];
    if (scpiarg::splitFields(scpiarg::argumentWord(command), fields, 3) < 3) return write("syntax error in argument");
    long long lengths[3];
    for (int i = 0; i < 3; ++i) {
        lengths[i] = scpiarg::textInteger(fields[i]);
        if (!scpiarg::inRange(lengths[i], 0, 255)) return write("argument out of range");
    }
    model->createNewCalTables(static_cast<int>(lengths[0]), static_cast<int>(lengths[1]),
                              static_cast<int>(lengths[2]));
}

// ---- Streaming

void ScpiServer::handleDiagDataStreaming(int channel, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    if (model->getChannelStatus() != kChannelProbeReady) {
        reportNoProbe(":MEAS#:FLUX:STR? with no probe");
        return write("NPC");
    }
    startStream(model->getChannel(), scpiarg::textInteger(scpiarg::argumentWord(command)));
}

// Connected once, for the life of the server; readings pass only while the
// slot's deadline lies ahead.
void ScpiServer::connectStreams() {
    for (int slot = 1; slot <= kStreamSlots; ++slot) {
        ChannelModel* model = meter->getChannel(static_cast<unsigned>(slot));
        if (!model) continue;
        streamConnections[slot - 1] = model->signalNewReading().connect(
            [this](int channel, float, float, float, float, float, int) { onNewReading(channel); });
    }
}

// n seconds from now (a new command on the same channel replaces the
// deadline; n of 0 or less ends the stream); at most what a timer period of
// an int of milliseconds would hold.  The stream belongs to the client that
// asked: it ends with that client's session.
void ScpiServer::startStream(int slot, long long seconds) {
    if (slot < 1 || slot > kStreamSlots) return;
    seconds = std::min(seconds, kMaxStreamSeconds);
    std::lock_guard<std::mutex> lock(streamLock);
    if (!streamWriter.joinable() && !streamStopping) streamWriter = std::thread(&ScpiServer::streamWriterLoop, this);
    streamSession[slot - 1] = session.load();
    streamUntil[slot - 1] = seconds > 0 ? steadyNow() + seconds * 1000000000LL : 0;
}

// On the card's reader thread: the line is queued, never written here.
void ScpiServer::onNewReading(int slot) {
    if (slot < 1 || slot > kStreamSlots) return;
    // Not streaming, or the stream ran out: no work on the card's thread.
    const std::int64_t deadline = streamUntil[slot - 1].load();
    if (deadline == 0 || steadyNow() >= deadline) return;
    ChannelModel* model = meter->getChannel(static_cast<unsigned>(slot));
    if (!model) return;
    std::string line = formatValue(model->getReportFormat(), model->getValueInUnits());
    {
        std::lock_guard<std::mutex> lock(streamLock);
        const std::int64_t until = streamUntil[slot - 1].load();
        if (until == 0 || steadyNow() >= until) return;
        if (streamStopping || streamQueue.size() >= kStreamQueueLimit) return;
        streamQueue.push_back({streamSession[slot - 1], std::move(line)});
    }
    streamWake.notify_one();
}

void ScpiServer::streamWriterLoop() {
    std::unique_lock<std::mutex> lock(streamLock);
    while (true) {
        streamWake.wait(lock, [this] { return streamStopping || !streamQueue.empty(); });
        if (streamStopping) return;
        std::deque<StreamLine> lines;
        lines.swap(streamQueue);
        lock.unlock();
        {
            std::lock_guard<std::mutex> group(replyGroupLock);
            for (const StreamLine& line : lines) writeToSession(line.session, line.text);
        }
        lock.lock();
    }
}

void ScpiServer::stopStreaming() {
    // Only tests destroy servers, once the cards' readers no longer run.
    for (auto& connection : streamConnections) connection.disconnect();
    {
        std::lock_guard<std::mutex> lock(streamLock);
        for (auto& until : streamUntil) until = 0;
        streamStopping = true;
    }
    streamWake.notify_all();
    if (streamWriter.joinable()) streamWriter.join();
}
