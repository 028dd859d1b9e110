// JsonServer: the TCP server of the web interface.  A listener thread accepts
// clients and hands each one to a JsonConnection of its own, which answers
// one-line JSON requests on its own thread (JsonConnection.h).
//
// Bounds: at most maxConnections clients are served at once (a client
// accepted beyond that is closed at once, without a reply), a connection that
// sends nothing for idleTimeout is closed, and a finished connection is
// joined and freed by the listener as soon as its thread reports that it has
// ended, not at the next accept.  Every wait is a poll(), so descriptor
// numbers have no upper limit.  An accept that fails (every descriptor
// taken) is tried again after a wait that doubles with each failure in a row
// (runtime/Backoff.h), and the listener's console lines are limited to a few
// a second (console/ClientLines.h).
//
// The program makes one server at start-up and never frees it; tests stop
// theirs with stop() (or the destructor), which closes every connection and
// joins every thread.
#pragma once

#include "console/ClientLines.h"
#include "runtime/Backoff.h"

#include <sigc++/sigc++.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class JsonConnection;
class MeterModel;

class JsonServer : public sigc::trackable {
public:
    static constexpr int kDefaultMaxConnections = 16;
    static constexpr std::chrono::seconds kDefaultIdleTimeout{120};

    struct Options {
        int port = -1;                  // -1: platform::tcpPort(Json); 0: a free port
        std::uint32_t address = 0;      // host order; used when addressSet
        bool addressSet = false;        // false: platform::listenAddress()
        int maxConnections = kDefaultMaxConnections;
        std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout;
        MeterModel* meter = nullptr;    // null: MeterModel::instance()
    };

    JsonServer();
    explicit JsonServer(const Options& options);
    virtual ~JsonServer();
    JsonServer(const JsonServer&) = delete;
    JsonServer& operator=(const JsonServer&) = delete;

    // Starts the listener thread.
    void start();
    // Closes the listening socket and every connection and joins all threads.
    void stop();

    // The accept loop, on the listener thread.  Returns when the listening
    // socket cannot be made or bound, or when the server stops.
    void listenForConnections();
    // Slot on each connection's closed signal (on the connection's thread).
    void onConnectionClosed(JsonConnection* connection);

    // The port bound (0 until then, -1 when binding failed).
    int getPort() const { return boundPort; }
    // Connections being served now.
    int getConnectionCount() const;
    // Connections that have ended and are not freed yet.
    int getFinishedCount() const;

private:
    bool openListener();
    void acceptClient();
    void wakeListener();
    void drainWake();
    // Joins and frees the connections whose threads have ended.
    void reapClosedConnections();

    Options options;
    MeterModel* meter = nullptr;
    std::thread listenerThread;
    int listenFd = -1;
    int wakeFd = -1;                    // eventfd: a connection ended, or stop
    std::atomic<int> boundPort{0};
    std::atomic<bool> stopping{false};
    Backoff acceptRetry;                // the listener thread's
    console::Limiter acceptLines;       // the listener's console lines

    mutable std::mutex connectionsMutex;
    std::condition_variable connectionsChanged;
    std::vector<JsonConnection*> liveConnections;
    std::vector<JsonConnection*> closedConnections;
};
