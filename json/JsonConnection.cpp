#include "json/JsonConnection.h"

#include "console/Console.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <sstream>

namespace {

// A client that stops reading its replies holds a write at most this long.
constexpr int kWriteTimeoutSeconds = 10;

using Handler = void (JsonConnection::*)(const Json::Value&);

struct Action {
    const char* name;
    Handler handler;
};

// The actions, in the order their names are compared.
const Action kActions[] = {
    {"setRange", &JsonConnection::handleSetRange},
    {"setAutorange", &JsonConnection::handleSetAutorange},
    {"setMode", &JsonConnection::handleSetMode},
    {"setFreqRange", &JsonConnection::handleSetFreqRange},
    {"pollChannel", &JsonConnection::handlePollChannel},
    {"getModelNumber", &JsonConnection::handleGetModelNumber},
    {"pollMeter", &JsonConnection::handlePollMeter},
    {"setFluxUnits", &JsonConnection::handleSetFluxUnits},
    {"setAngleUnits", &JsonConnection::handleSetAngleUnits},
    {"setTimeUnits", &JsonConnection::handleSetTimeUnits},
    {"setTempUnits", &JsonConnection::handleSetTempUnits},
    {"setHoldState", &JsonConnection::handleSetHoldState},
    {"startDataLogging", &JsonConnection::handleStartDataLogging},
    {"stopDataLogging", &JsonConnection::handleStopDataLogging},
    {"cancelDataLogging", &JsonConnection::handleCancelDataLogging},
    {"deleteDataLogFiles", &JsonConnection::handleDeleteDataLogFiles},
    {"getDataLogRowCount", &JsonConnection::handleGetDataLogRowCount},
    {"getSystemInfo", &JsonConnection::handleGetSystemInfo},
    {"setUpdateRate", &JsonConnection::handleSetUpdateRate},
    {"setZeroMode", &JsonConnection::handleSetZeroMode},
    {"doZero", &JsonConnection::handleDoZero},
    {"setAutoRelative", &JsonConnection::handleSetAutoRelative},
    {"setManualRelative", &JsonConnection::handleSetManualRelative},
    {"disableRelative", &JsonConnection::handleDisableRelative},
    {"getRangeList", &JsonConnection::handleGetRangeList},
    {"setVsumHoldState", &JsonConnection::handleSetVsumHoldState},
    {"setVsumAutoRelative", &JsonConnection::handleSetVsumAutoRelative},
    {"setVsumManualRelative", &JsonConnection::handleSetVsumManualRelative},
    {"disableVsumRelative", &JsonConnection::handleDisableVsumRelative},
};

// What each kind of request member takes.  Only the JSON type counts: the
// library's own conversions take true as 1 and cut 1.5 to 1, so they are
// never used to judge a member.
struct MemberRule {
    const char* takes;
    bool (*accepts)(const Json::Value& v);
};
const MemberRule kMemberRules[] = {
    // A number with no fractional part, within int (2.0 too; never true).
    {"an integer", [](const Json::Value& v) { return v.isInt(); }},
    {"a number", [](const Json::Value& v) { return v.isNumeric(); }},
    {"true or false", [](const Json::Value& v) { return v.isBool(); }},
    {"a string", [](const Json::Value& v) { return v.isString(); }},
};

}  // namespace

// The member, or null when the request has none (it then reads as the
// type's zero); BadRequest when it is there with any other JSON type (null
// included).
const Json::Value* JsonConnection::member(const Json::Value& request, const char* name, Member kind) {
    const Json::Value* v = request.find(name, name + std::strlen(name));
    if (!v) return nullptr;
    const MemberRule& rule = kMemberRules[static_cast<int>(kind)];
    if (!rule.accepts(*v)) throw BadRequest(std::string("member \"") + name + "\" is not " + rule.takes);
    return v;
}

JsonConnection::JsonConnection(int socket, MeterModel& meterModel, std::chrono::milliseconds idle)
    : meter(meterModel),
      idleTimeout(idle),
      fd(socket),
      consoleLines("JSON client on fd " + std::to_string(socket)) {
    timeval timeout{kWriteTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["precision"] = 16;
    builder["emitUTF8"] = false;
    writer.reset(builder.newStreamWriter());
}

JsonConnection::~JsonConnection() {
    if (thread.joinable()) thread.join();
    closeSocket();   // a connection never started still owns its socket
}

void JsonConnection::start() {
    thread = std::thread(&JsonConnection::readRequests, this);
}

void JsonConnection::shutdown() {
    std::lock_guard<std::mutex> lock(socketMutex);
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void JsonConnection::closeSocket() {
    std::lock_guard<std::mutex> lock(socketMutex);
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void JsonConnection::readRequests() {
    char line[kLineBufferSize];
    std::size_t count = 0;
    bool dropping = false;   // inside a line too long for the buffer
    char chunk[1024];
    const int timeoutMs = idleTimeout.count() > INT_MAX ? INT_MAX : static_cast<int>(idleTimeout.count());

    while (!writeFailed) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, timeoutMs > 0 ? timeoutMs : -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) say("JsonConnection: no request for a while, closing\n");
        if (ready <= 0) break;
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;   // the client has gone; a partial line is dropped
        for (ssize_t i = 0; i < n && !writeFailed; ++i) {
            const char c = chunk[i];
            if (c == '\n') {
                if (!dropping) {
                    line[count] = '\0';
                    handleRequest(std::string(line));   // a zero byte ends the request
                }
                dropping = false;
                count = 0;
            } else if (dropping) {
                continue;
            } else if (count == kLineBufferSize - 1) {
                say("JsonConnection: request longer than 1023 bytes dropped\n");
                dropping = true;
                count = 0;
            } else {
                line[count++] = c;
            }
        }
    }
    consoleLines.flush();
    closeSocket();
    closed.emit(this);
}

void JsonConnection::handleRequest(const std::string& line) {
    Json::Value request;
    try {
        Json::Reader reader;
        if (!reader.parse(line, request, true)) {
            say("parse failed: " + reader.getFormattedErrorMessages());
            return;
        }
    } catch (const std::exception& e) {   // nesting too deep
        say(std::string("parse failed: ") + e.what() + "\n");
        return;
    }
    if (!request.isObject()) {
        say("bad request: the request is not an object\n");
        return;
    }
    // Only a string names an action; anything else names none.
    const Json::Value& name = request["action"];   // null when missing
    if (!name.isString()) return;
    const std::string action = name.asString();
    for (const Action& a : kActions) {
        if (action != a.name) continue;
        // A known action is always answered: {"success":false} when it
        // could not be carried out (its members are read before it changes
        // anything).
        replied = false;
        try {
            (this->*a.handler)(request);
        } catch (const BadRequest& e) {
            say(std::string("bad request: ") + e.what() + "\n");
        } catch (const std::exception& e) {
            say(std::string("request failed: ") + e.what() + "\n");
        }
        if (!replied) sendSuccess(false);
        return;
    }
}

void JsonConnection::say(std::string text) { consoleLines.write(console::Stream::out, std::move(text)); }

void JsonConnection::sendReply(const Json::Value& reply) {
    replied = true;
    std::ostringstream out;
    writer->write(reply, &out);
    out << '\n';
    const std::string text = out.str();
    std::size_t sent = 0;
    while (sent < text.size()) {
        // No SIGPIPE: a client that has gone fails the write instead.
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeFailed = true;
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

void JsonConnection::sendSuccess(bool success) {
    Json::Value reply(Json::objectValue);
    reply["success"] = success;
    sendReply(reply);
}

// ---- Typed request members

int JsonConnection::getInt(const Json::Value& request, const char* name) {
    const Json::Value* v = member(request, name, Member::integer);
    return v ? v->asInt() : 0;
}

bool JsonConnection::getBool(const Json::Value& request, const char* name) {
    const Json::Value* v = member(request, name, Member::boolean);
    return v ? v->asBool() : false;
}

float JsonConnection::getFloat(const Json::Value& request, const char* name) {
    const Json::Value* v = member(request, name, Member::real);
    const double value = v ? v->asDouble() : 0.0;
    if (!std::isfinite(value) || std::fabs(value) > FLT_MAX)
        throw BadRequest(std::string("member \"") + name + "\" is out of range");
    return static_cast<float>(value);
}

std::string JsonConnection::getString(const Json::Value& request, const char* name) {
    const Json::Value* v = member(request, name, Member::string);
    return v ? v->asString() : std::string();
}
