// ScpiServerTcp: SCPI over TCP (port 5024 on the instrument; the PC build's
// sandbox may choose another, or 0 for a free one, announced in the sandbox).
//
// One client at a time.  An accept thread listens for the life of the
// server; each accepted client gets a connection of its own with one reader
// thread, and a new client replaces the one before it:
//
//   old connection: stop flag set, its socket shut down (its reader wakes at
//   once, even from a reply blocked on a client that has stopped reading),
//   its reader thread joined, then its socket closed and
//   "Closing connection on fd N due to new connection" logged;
//   new connection: made current, its reader thread started.
//
// So exactly one reader serves a client, none runs before the first client
// connects, and a reader only ever reads and writes the socket of its own
// connection: a descriptor number the system reuses for the next client is
// never read, written or closed by the previous one.  Replies of the reader
// go to its own client; late replies (the operation-complete "1", streamed
// readings) to the client that asked, or nowhere once it has gone: a client
// that goes or is replaced ends its session (ScpiServer::endClientSession),
// so its streams stop and its pending replies are dropped.
//
// Replies are the text and CR LF, sent as one unit under the connection's
// write lock, without SIGPIPE (a client that has gone makes the write fail,
// nothing more) and with a send time-out, so a client that stops reading
// cannot hold a writer for good.  Lines: see ScpiLineReader.
//
// Log lines (Logger, level 2, "ScpiServerTcp"): "Waiting for client
// connections", "Client at A.B.C.D connected on fd N", "Terminating Client
// Connection on fd N", "Closing connection on fd N due to new connection",
// "Error binding to socket", "Error accepting client connection".  The
// lines of clients coming and going (connected, closing, terminating) and of
// failed accepts are limited to a few a second together, and so are the
// lines each client's commands cause (console/ClientLines.h).  An accept that fails (every descriptor
// taken) is tried again after a wait that doubles with each failure in a row
// (runtime/Backoff.h).
#pragma once

#include "runtime/Backoff.h"
#include "scpi/ScpiServer.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class ScpiServerTcp : public ScpiServer {
public:
    ScpiServerTcp();
    explicit ScpiServerTcp(const Services& services);
    // Stops accepting, ends the client's connection, joins the threads
    // (only tests destroy servers).
    ~ScpiServerTcp() override;

    // The port the listener is bound to (0 before open()).
    int getPort() const { return port; }
    // Whether a client is connected now.
    bool hasClient() const;

    // Replaces the present client (if any) with this socket and starts its
    // reader.  Called by the accept thread.
    void acceptClient(int socket);
    // The accept thread's body.
    void waitForClientConnection();

    // No reader thread until a client connects.
    void start() override;

protected:
    // What the destructor does; a subclass calls it first in its own
    // destructor, so that no thread of the server calls its virtual
    // functions while it is being taken down.  Once only.
    void stopServing();
    // Creates, binds and listens on the socket, announces the port and starts
    // the accept thread; false when the socket cannot be set up.
    bool open() override;
    int read(char* buffer, int max) override;
    void write(const std::string& text) override;
    bool keepReading() const override;
    console::Limiter& clientLines() override;

private:
    struct Connection;
    void serve(std::shared_ptr<Connection> connection);
    void endConnection(Connection& connection);
    std::shared_ptr<Connection> currentConnection() const;

    mutable std::mutex clientLock;          // guards client and clientReader
    std::shared_ptr<Connection> client;     // the current client, null when none
    std::thread clientReader;               // the reader of the latest connection
    std::thread acceptThread;
    int listenSocket = -1;
    int port = 0;
    std::atomic<bool> stopping{false};
    // The accept thread's: its wait after a failed accept, ended by a stop,
    // and its console lines.
    Backoff acceptRetry;
    std::mutex acceptWaitLock;
    std::condition_variable acceptWake;
    console::Limiter acceptLines{"the SCPI listener"};
    void logFromListener(const std::string& text);

    // The connection this thread reads for this server, null when the thread
    // is no reader of this server.
    Connection* ownConnection() const;

    // What a reader thread serves (null on every other thread).
    struct ReaderContext {
        const ScpiServerTcp* server;
        Connection* connection;
    };
    static thread_local ReaderContext reader;
};
