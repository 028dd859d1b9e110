// JsonConnection: one web-interface client.  Its thread reads newline-ended
// request lines (at most 1023 bytes each), parses each as JSON, runs the
// action its "action" member names and writes the reply as one JSON line.
//
// Requests that get no reply: a line that does not parse, a line longer than
// 1023 bytes (dropped up to its newline), a root that is not an object, and
// an unknown or missing action.  The connection stays open after each of
// them.  Every request of a known action is answered: a member it reads that
// is missing reads as 0, false, 0.0 or ""; one that is there must be of its
// kind's JSON type (an integer: a number with no fractional part; a real: a
// number; a flag: true or false; a text: a string), else, as for a number
// beyond what it reads, the answer is {"success":false}, with nothing
// changed.
//
// Console lines that a client's requests cause ("parse failed: ...", "bad
// request: ...") are limited to a few a second per connection; what is left
// out is counted (console/ClientLines.h).
//
// The connection closes when the client goes, when it sends nothing for the
// idle time-out, when a reply cannot be written (the client stopped reading),
// or when the server shuts it down.  Then it closes its socket and emits the
// closed signal with itself, on its own thread; the destructor joins that
// thread.
//
// Texts of the instrument are ISO-8859-1; replies carry them as UTF-8 (JSON
// escapes), so every reply is valid JSON.
#pragma once

#include "console/ClientLines.h"
#include "runtime/Signal.h"

#include <json/json.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

class ChannelModel;
class MeterModel;

class JsonConnection {
public:
    static constexpr std::size_t kLineBufferSize = 1024;   // 1023 bytes + terminator

    using SignalClosed = tvl::Signal<JsonConnection*>;

    // Takes over the socket.  meter: the model the actions work on.
    JsonConnection(int socket, MeterModel& meter,
                   std::chrono::milliseconds idleTimeout = std::chrono::seconds(120));
    virtual ~JsonConnection();
    JsonConnection(const JsonConnection&) = delete;
    JsonConnection& operator=(const JsonConnection&) = delete;

    void start();
    SignalClosed& signalClosed() { return closed; }
    // Ends the connection from another thread: its thread then closes the
    // socket and emits the closed signal.
    void shutdown();

    // The reading loop, on the connection's thread.
    void readRequests();
    // Parses one request line and runs its action.
    void handleRequest(const std::string& line);

    static bool isValidChannel(int channel) { return channel >= 1 && channel <= 3; }

    // A request member of a type that does not convert.
    class BadRequest : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Typed request members, used by every action: a missing member reads
    // as 0, false, 0.0 or ""; one that is there must have its kind's JSON
    // type (else BadRequest, also for null).
    static int getInt(const Json::Value& request, const char* name);
    static bool getBool(const Json::Value& request, const char* name);
    static float getFloat(const Json::Value& request, const char* name);
    static std::string getString(const Json::Value& request, const char* name);

    // ---- The actions (JsonActions.cpp)
    void handleSetRange(const Json::Value& request);
    void handleSetAutorange(const Json::Value& request);
    void handleSetMode(const Json::Value& request);
    void handleSetFreqRange(const Json::Value& request);
    void handlePollChannel(const Json::Value& request);
    void handleGetModelNumber(const Json::Value& request);
    void handlePollMeter(const Json::Value& request);
    void handleSetFluxUnits(const Json::Value& request);
    void handleSetAngleUnits(const Json::Value& request);
    void handleSetTimeUnits(const Json::Value& request);
    void handleSetTempUnits(const Json::Value& request);
    void handleSetHoldState(const Json::Value& request);
    void handleStartDataLogging(const Json::Value& request);
    void handleStopDataLogging(const Json::Value& request);
    void handleCancelDataLogging(const Json::Value& request);
    void handleDeleteDataLogFiles(const Json::Value& request);
    void handleGetDataLogRowCount(const Json::Value& request);
    void handleGetSystemInfo(const Json::Value& request);
    void handleSetUpdateRate(const Json::Value& request);
    void handleSetZeroMode(const Json::Value& request);
    void handleDoZero(const Json::Value& request);
    void handleSetAutoRelative(const Json::Value& request);
    void handleSetManualRelative(const Json::Value& request);
    void handleDisableRelative(const Json::Value& request);
    void handleGetRangeList(const Json::Value& request);
    void handleSetVsumHoldState(const Json::Value& request);
    void handleSetVsumAutoRelative(const Json::Value& request);
    void handleSetVsumManualRelative(const Json::Value& request);
    void handleDisableVsumRelative(const Json::Value& request);

    // The reply objects of "pollChannel" and "pollMeter".
    static Json::Value channelObject(const ChannelModel& ch);
    static Json::Value meterObject(const MeterModel& meter, bool vsum);

private:
    enum class Member { integer, real, boolean, string };   // the order of the rules in JsonConnection.cpp
    static const Json::Value* member(const Json::Value& request, const char* name, Member kind);

    // A console line the client's input caused: at most a few a second
    // (console::Limiter).
    void say(std::string text);
    void sendReply(const Json::Value& reply);
    void sendSuccess(bool success);
    // The channel model of the request's "channel", or null (then
    // {"success":false} has been sent).
    ChannelModel* requestChannel(const Json::Value& request);
    // A channel setter: the channel check, then fn(channel) when valid,
    // then {"success": true}.
    template <class Fn>
    void channelAction(const Json::Value& request, Fn fn);
    void closeSocket();

    MeterModel& meter;
    std::chrono::milliseconds idleTimeout;
    bool replied = false;                   // the present request has its reply (connection thread)
    std::mutex socketMutex;                 // guards fd against shutdown()
    int fd;
    std::atomic<bool> writeFailed{false};
    std::unique_ptr<Json::StreamWriter> writer;
    console::Limiter consoleLines;          // this client's console lines
    SignalClosed closed;
    std::thread thread;
};
