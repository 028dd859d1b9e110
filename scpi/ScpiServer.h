// ScpiServer: the SCPI server core that every transport shares.  A transport
// (ScpiServerTcp, the in-memory ScpiServerMemory, the serial and GPIB ones)
// supplies open(), read() and write(); the core owns the rest:
//
//   - the command tree, built in the constructor from the command table file
//     (SCPItable.csv in the data folder: a header line, then one row per
//     command, "path","description","handlerName");
//   - the handler registry, a table from handler name to member function
//     (one table per family, see registerHandlers);
//   - the line core, processLine(): splits a line at ';', upper-cases each
//     command, puts ':' in front, rewrites the diagnostic channel 4, logs it,
//     dispatches it from the root on channel 1, and reports a command no leaf
//     takes (console line, error -100 with the command as received, standard
//     event bit 5); the console lines a line causes are limited to a few a
//     second per client (clientLines()) and show the client's bytes that are
//     not printable ASCII escaped (console/ClientLines.h);
//   - the reader loop, run(): read a line, process it, until stopped;
//   - operation complete: *OPC and *OPC? while the meter is busy (a zero
//     running) are answered when it stops being busy, exactly once;
//   - the client's session: a reply that comes later than its command (the
//     operation-complete "1", streamed readings) goes to the client that
//     asked, or nowhere: when the transport's client changes, its streams
//     stop and its pending replies are dropped (endClientSession);
//   - the routines the handlers share (channel check and mapping, fixed-point
//     and formatted replies, the no-probe report).
//
// Threads: the reader thread runs the handlers, one command at a time.  The
// meter's busy signal runs onMeterBusyChanged on the thread that reports it;
// it is connected once, in the constructor.  write() is called from the
// reader and from that thread, so each transport writes a reply and its
// CR LF as one unit under a lock of its own.
//
// Handlers take the channel number (1 unless the command's path carries a
// digit) and the command text from the leaf's element on, upper-cased:
// handleMeasFluxRequest(2, "FLUX?") for ":MEAS2:FLUX?".
#pragma once

#include "console/ClientLines.h"
#include "runtime/Signal.h"
#include "scpi/ScpiHandlerTables.h"

#include <sigc++/sigc++.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ChannelModel;
class ErrorList;
class MeterModel;
class ScpiCmdNodeBranch;
class ScpiErrorQueue;
class ScpiRegister;
class ScpiRegisterManager;
class TvlError;

class ScpiServer : public sigc::trackable {
public:
    using ScpiHandler = void (ScpiServer::*)(int channel, const std::string& command);
    struct HandlerEntry {
        const char* name;
        ScpiHandler handler;
    };

    // What a server works on.  The program's servers use the singletons and
    // the data folder's table; tests pass their own.
    struct Services {
        MeterModel* meter;
        ScpiErrorQueue* errors;
        ScpiRegisterManager* registers;
        ErrorList* catalogue;
        std::string tablePath;
        static Services instrument();
    };

    static constexpr int kLineBufferSize = 256;   // the reader's buffer; lines of at most 254

    // How a backplane constant's setter reads its argument; the groups of
    // correction tables (ScpiHandlerTables.h).
    enum class ConstantArgument { Real, Integer, PulseOffset };
    enum class TableGroup { DcLinearity, FrequencyCorrection, RmsLinearity };

    explicit ScpiServer(const Services& services);
    virtual ~ScpiServer();
    ScpiServer(const ScpiServer&) = delete;
    ScpiServer& operator=(const ScpiServer&) = delete;

    // open(); true when the server can be started.
    bool openPort();
    // Sets the running flag and starts the reader thread.
    virtual void start();
    // The start-up step's use of a server: openPort(), and when it opened,
    // connect the enable-buttons signal to the slot and start().  Returns
    // whether it started; the server is kept in every case.
    static bool openAndStart(ScpiServer* server, const sigc::slot<void, bool>& onRemoteState);

    tvl::Signal<bool>& signalEnableButtons() { return enableButtons; }

    // The line core: every command of one line, in order, on this thread.
    void processLine(const std::string& line);
    // The reader loop.
    void run();

    void onMeterBusyChanged(bool busy);

    // ---- Shared routines
    bool isValidChannel(int channel) const;
    ChannelModel* getChannelModel(int channel) const;
    void sendFixed(float value, int precision = 6);
    void setChannelParameter(int channel, int index, const std::string& command);
    static int probeOffsetIndex(int row, int column);
    static int probeRmsOffsetIndex(int row, int column);
    // The number of leading upper-case letters A-Z of a table path element.
    static int shortFormLength(const std::string& element);

    ScpiCmdNodeBranch* getRoot() const { return root.get(); }
    bool hasHandler(const std::string& name) const { return handlers.count(name) != 0; }
    std::size_t handlerCount() const { return handlers.size(); }

protected:
    // Transport operations.  read() fills buffer with one line (NUL-terminated,
    // at most max - 1 characters) and returns its length; below 1: no line
    // this time.  write() sends one reply; the transport adds CR LF.
    virtual bool open() = 0;
    virtual int read(char* buffer, int max) = 0;
    virtual void write(const std::string& text) = 0;
    // Whether the reader loop goes on; a transport may end it earlier.
    virtual bool keepReading() const { return running.load(); }
    // The console lines of the client whose line this thread handles: one
    // limiter for the port, unless the transport tells its clients apart.
    virtual console::Limiter& clientLines() { return portLines; }
    // Clears the running flag and waits for the reader thread that start()
    // made (the transport's read must return soon after).  For destructors.
    void stopReader();

    void loadCommandTable();
    void addCommand(const std::string& line);
    void registerHandlers();

    // Ends streaming for good: no reading is taken any more and the stream
    // writer has ended.  Transports call it first in their destructors
    // (write() must still work while it runs).
    void stopStreaming();

    // The transport's client has gone or been replaced (a TCP client, the
    // GPIB controller): what it asked for and has not had yet is dropped:
    // its streams stop, its pending *OPC? is not answered, and a late reply
    // of it that is on its way is not written.  Called before the next
    // client's first command is read, never while write() is in progress on
    // this thread.
    void endClientSession();

    // Replies.
    void reply(const std::string& text) { write(text); }
    // Several lines that stay together: no streamed line falls between them.
    void writeLines(const std::vector<std::string>& lines);
    void replyInt(int value);
    // One value printed with a printf format for one double (the range
    // table's formats); the text is cut at 79 characters.
    static std::string formatValue(const std::string& format, double value);
    void replyFormatted(const std::string& format, double value) { write(formatValue(format, value)); }
    // Error -200 with the detail on the error queue, standard event bit 4.
    void reportNoProbe(const std::string& detail);
    void reportExecutionError(const std::string& detail);

    // ---- Handler families, each with its registry table
    static const std::vector<HandlerEntry>& statusHandlers();
    static const std::vector<HandlerEntry>& systemHandlers();
    static const std::vector<HandlerEntry>& measureHandlers();
    static const std::vector<HandlerEntry>& settingsHandlers();
    static const std::vector<HandlerEntry>& outputHandlers();
    static const std::vector<HandlerEntry>& calibrationHandlers();
    static const std::vector<HandlerEntry>& identityHandlers();
    static const std::vector<HandlerEntry>& factoryHandlers();
    static const std::vector<HandlerEntry>& tableHandlers();
    static const std::vector<HandlerEntry>& dacHandlers();

    // Status registers and error queue
    void handleClsRequest(int channel, const std::string& command);
    void handleProgramEventEnable(int channel, const std::string& command);
    void handleQueryEventEnable(int channel, const std::string& command);
    void handleQueryEventStatus(int channel, const std::string& command);
    void handleSetOperationComplete(int channel, const std::string& command);
    void handleQueryOperationComplete(int channel, const std::string& command);
    void handleProgramSrqEnable(int channel, const std::string& command);
    void handleQuerySrqEnable(int channel, const std::string& command);
    void handleQueryStatusByte(int channel, const std::string& command);
    void handleSystErrorQuery(int channel, const std::string& command);
    void handleSystErrorNextQuery(int channel, const std::string& command);
    SCPI_STATUS_REGISTERS(SCPI_DECLARE_FOUR)
    void handleResetAllEventEnableRegisters(int channel, const std::string& command);

    // Identification and system
    void handleIdRequest(int channel, const std::string& command);
    void handleOptionQuery(int channel, const std::string& command);
    void handleResetToDefaultSettings(int channel, const std::string& command);
    void handleSaveProfile(int channel, const std::string& command);
    void handleRestoreProfile(int channel, const std::string& command);
    void handleQueryScpiVersion(int channel, const std::string& command);
    void handleSetSystemTime(int channel, const std::string& command);
    void handleQuerySystemTime(int channel, const std::string& command);
    void handleSetSystemDate(int channel, const std::string& command);
    void handleQuerySystemDate(int channel, const std::string& command);
    void handleQuerySystemNetworkAddress(int channel, const std::string& command);
    void handleRemoveAllDataLogs(int channel, const std::string& command);

    // Measurement queries
    void handleQueryVectorSumAndAngles(int channel, const std::string& command);
    void handleMeasFluxRequest(int channel, const std::string& command);
    void handleMeasFreqRequest(int channel, const std::string& command);
    void handleMeasTempRequest(int channel, const std::string& command);
    void handleMeasFluxAllRequest(int channel, const std::string& command);

    // Measurement settings
    void handleSetUnitsAngle(int channel, const std::string& command);
    void handleGetUnitsAngle(int channel, const std::string& command);
    void handleSetUnitsTemperature(int channel, const std::string& command);
    void handleGetUnitsTemperature(int channel, const std::string& command);
    void handleSetUnitsFlux(int channel, const std::string& command);
    void handleGetUnitsFlux(int channel, const std::string& command);
    void handleSetUnitsTime(int channel, const std::string& command);
    void handleGetUnitsTime(int channel, const std::string& command);
    void handleSetClassifierLower(int channel, const std::string& command);
    void handleGetClassifierLower(int channel, const std::string& command);
    void handleSetClassifierUpper(int channel, const std::string& command);
    void handleGetClassifierUpper(int channel, const std::string& command);
    void handleSetClassifierEnable(int channel, const std::string& command);
    void handleGetClassifierEnable(int channel, const std::string& command);
    void handleGetClassifierState(int channel, const std::string& command);
    void handleSetRelativeOffset(int channel, const std::string& command);
    void handleGetRelativeOffset(int channel, const std::string& command);
    void handleSetRelativeState(int channel, const std::string& command);
    void handleGetRelativeState(int channel, const std::string& command);
    SCPI_HOLDS(SCPI_DECLARE_FOUR)

    // Range, mode, zeroing and outputs
    void handleDisableButtons(int channel, const std::string& command);
    void handleEnableButtons(int channel, const std::string& command);
    void handleSetModeDc(int channel, const std::string& command);
    void handleSetModeAc(int channel, const std::string& command);
    SCPI_RANGE_SETTINGS(SCPI_DECLARE_FIRST)
    void handleQueryRange(int channel, const std::string& command);
    void handleSetInputFilter(int channel, const std::string& command);
    void handleSetDisplayRate(int channel, const std::string& command);
    void handleGetDisplayRate(int channel, const std::string& command);
    void handleZeroSingleChannel(int channel, const std::string& command);
    void handleSetZeroModeSingleChannel(int channel, const std::string& command);
    void handleGetZeroModeSingleChannel(int channel, const std::string& command);
    void handleZeroAllChannels(int channel, const std::string& command);
    void handleSetZeroModeAllChannels(int channel, const std::string& command);
    SCPI_CARD_OUTPUTS(SCPI_DECLARE_FOUR)
    void handleSetVectorSumOutputMode(int channel, const std::string& command);
    void handleGetVectorSumOutputMode(int channel, const std::string& command);
    void handleSetVectorSumOutputScaling(int channel, const std::string& command);
    void handleGetVectorSumOutputScaling(int channel, const std::string& command);

    // Calibration constants
    SCPI_CHANNEL_CONSTANTS(SCPI_DECLARE_PAIR)
    SCPI_BACKPLANE_CONSTANTS(SCPI_DECLARE_PAIR)
    void handleGetDadcReadingVolts(int channel, const std::string& command);
    void handleGetDadcReadingCounts(int channel, const std::string& command);

    // Board identity
    SCPI_BOARD_TEXTS(SCPI_DECLARE_FOUR)

    // Factory and diagnostics
    SCPI_CARD_MEMORY(SCPI_DECLARE_FIRST)
    SCPI_BACKPLANE_MEMORY(SCPI_DECLARE_FIRST)
    void handleDiagDataStreaming(int channel, const std::string& command);
    void handleSetDiagMode(int channel, const std::string& command);
    void handleCurrentRecal(int channel, const std::string& command);
    void handleGetZeroingState(int channel, const std::string& command);
    void handleDiagSetOption(int channel, const std::string& command);
    void handleDiagTempQuery(int channel, const std::string& command);
    void handleDiagClassifierControl(int channel, const std::string& command);
    void handleDiagDataRawDc(int channel, const std::string& command);
    void handleDiagSampleAverage(int channel, const std::string& command);
    void handleNewCalTables(int channel, const std::string& command);

    // Probe correction tables and reports
    SCPI_CORRECTION_TABLES(SCPI_DECLARE_PAIR)
    SCPI_PROBE_OFFSETS(SCPI_DECLARE_PAIR)
    SCPI_CHANNEL_REPORTS(SCPI_DECLARE_FIRST)
    void handleProbeReportMemoryDump(int channel, const std::string& command);
    void handleBackplaneCalReport(int channel, const std::string& command);
    void handleBootloadReport(int channel, const std::string& command);

    // Diagnostic multiplexers and DACs
    SCPI_CARD_SETTINGS(SCPI_DECLARE_FIRST)
    SCPI_BACKPLANE_SETTINGS(SCPI_DECLARE_FIRST)
    void handleSetDadcMode(int channel, const std::string& command);

    // ---- Family helpers (defined beside their families)
    enum class Register { Measurement, Operation, Questionable };
    enum class Hold { Min, Max, Peak, Valley };
    enum class Output { Corrected, Uncorrected };
    ScpiRegister& statusRegister(Register which) const;
    void setEnableFromArgument(ScpiRegister& reg, const std::string& command, long long limit);
    void replyError(const TvlError* record);
    void profileCommand(const std::string& command, bool (MeterModel::*operation)(unsigned));
    void setClock(const std::string& command, bool date);
    void replyClock(const char* format);
    void queryHoldValue(int channel, Hold hold);
    void queryHoldEnable(int channel, Hold hold);
    void setHoldEnable(int channel, Hold hold, const std::string& command);
    void resetHold(int channel, Hold hold);
    // The channel model for a valid channel, else null (the handler stays silent).
    ChannelModel* validChannel(int channel) const;
    void setRangeAndMode(int channel, const std::string& command, bool automatic, int mode);
    void setOutputMode(int channel, Output output, const std::string& command);
    void getOutputMode(int channel, Output output);
    void setOutputScaling(int channel, Output output, const std::string& command);
    void getOutputScaling(int channel, Output output);
    void setZeroMode(int channel, const std::string& command, bool allChannels);
    void getChannelConstant(int channel, int index, int decimals);
    void setBackplaneConstant(int index, ConstantArgument kind, const std::string& command);
    void getTableElement(int channel, TableGroup group, const std::string& command);
    void setTableElement(int channel, TableGroup group, const std::string& command);
    void getProbeOffset(int channel, int (*map)(int, int), int decimals, const std::string& command);
    void setProbeOffset(int channel, int (*map)(int, int), bool integerValue, const std::string& command);
    void channelReport(int channel, std::vector<std::string> (ChannelModel::*report)());
    // The argument as an integer within [low, high] (wide, before any
    // narrowing): true and value, or false after answering "argument out
    // of range" when reply is set.
    bool integerInRange(const std::string& command, long long low, long long high, bool reply, int& value);

    MeterModel* const meter;
    ScpiErrorQueue* const errors;
    ScpiRegisterManager* const registers;
    ErrorList* const catalogue;
    const std::string tablePath;

    std::atomic<int> running{0};
    std::unique_ptr<ScpiCmdNodeBranch> root;
    std::map<std::string, ScpiHandler> handlers;
    tvl::Signal<bool> enableButtons;

private:
    // A late reply for the client of that session; dropped when the client
    // has changed since.  The comparison and the write are one step under
    // sessionLock, which endClientSession takes to change the session.
    void writeToSession(std::uint64_t ofSession, const std::string& text);

    std::mutex sessionLock;
    std::atomic<std::uint64_t> session{0};   // changed under sessionLock

    // Operation complete: the meter's last busy state and the two pending
    // requests, changed together under opcLock; the query's session.
    std::mutex opcLock;
    bool busy = false;
    bool pendingOperationComplete = false;
    bool pendingOperationCompleteQuery = false;
    std::uint64_t pendingQuerySession = 0;

    std::thread readerThread;
    sigc::connection busyConnection;
    console::Limiter portLines{"the SCPI client"};

    // ---- Streaming (ScpiFactoryHandlers.cpp)
    static constexpr int kStreamSlots = 3;
    static constexpr std::size_t kStreamQueueLimit = 256;
    void connectStreams();
    void onNewReading(int slot);
    void startStream(int slot, long long seconds);
    void streamWriterLoop();

    struct StreamLine {
        std::uint64_t session;   // of the client that started the stream
        std::string text;
    };
    std::mutex replyGroupLock;                            // a group of lines, or one streamed line
    std::atomic<std::int64_t> streamUntil[kStreamSlots];  // steady-clock ns; 0: not streaming (set under streamLock)
    sigc::connection streamConnections[kStreamSlots];
    std::mutex streamLock;                                // guards the five below
    std::uint64_t streamSession[kStreamSlots] = {};
    std::condition_variable streamWake;
    std::deque<StreamLine> streamQueue;
    std::thread streamWriter;
    bool streamStopping = false;
};
