// A web client for the tests: JSON lines over a socket, replies read with a
// deadline.  The connection side is either a real JsonServer (TCP) or one
// JsonConnection on a socket pair.
#pragma once

#include "json/JsonConnection.h"
#include "meter/MeterTestSupport.h"
#include "support/TestSupport.h"

#include <json/json.h>

#include <chrono>
#include <memory>
#include <string>

namespace jsontest {

using namespace std::chrono_literals;

class LineClient {
public:
    explicit LineClient(int fd) : socketFd(fd) {}
    ~LineClient();
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    // A client of a TCP port on the loopback address (fd() < 0 on failure).
    static std::unique_ptr<LineClient> connectTcp(int port);

    int fd() const { return socketFd; }
    bool send(const std::string& bytes);
    // The next line without its newline; false on time-out or end of stream.
    bool readLine(std::string& line, std::chrono::milliseconds deadline = 20s);
    // True when the other side closes the connection within the deadline
    // (lines still arriving before that are skipped).
    bool waitForClose(std::chrono::milliseconds deadline = 20s);
    // Sends one request line and parses the reply line (null when none came
    // or it did not parse).
    Json::Value ask(const std::string& requestLine);
    Json::Value ask(const Json::Value& request);
    void close();

private:
    int socketFd;
    std::string pending;
};

// A request line from a JSON value (compact).
std::string line(const Json::Value& request);
// A parsed reply, for building expectations.
Json::Value parse(const std::string& text);

// One JsonConnection on a socket pair, over a meter model of the test's own
// on a private bus (no links started).
class ConnectionFixture {
public:
    explicit ConnectionFixture(std::chrono::milliseconds idle = 120s);
    ~ConnectionFixture();

    testsupport::TempSandbox sandbox;
    metertest::TestMeter meter{testsupport::uniqueBusName("j")};
    std::unique_ptr<LineClient> client;
    std::unique_ptr<JsonConnection> connection;
    std::atomic<int> closedSignals{0};
};

}  // namespace jsontest
