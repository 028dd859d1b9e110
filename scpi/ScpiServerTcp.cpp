#include "scpi/ScpiServerTcp.h"

#include "console/Console.h"
#include "platform/Network.h"
#include "runtime/Logger.h"
#include "scpi/ScpiLineReader.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

constexpr int kBacklog = 5;
constexpr int kPollMs = 1000;
constexpr int kSendTimeoutSeconds = 5;
const char* const kSource = "ScpiServerTcp";

void log(const std::string& text) { Logger::instance()->log(2, kSource, text); }

}  // namespace

// One client: its socket, the bytes read but not yet made into lines, the
// lock under which replies go out and the lock under which the socket is shut
// down or closed.
struct ScpiServerTcp::Connection {
    explicit Connection(int socket)
        : fd(socket), number(socket), consoleLines("SCPI client on fd " + std::to_string(socket)) {}

    // One reply with its line end, whole; dropped once the socket is closed.
    // A client that has gone, or has not read for the send time-out, is cut
    // off (its reader then ends): a reply is never left half sent with the
    // next one behind it.
    void send(const std::string& bytes) {
        std::lock_guard<std::mutex> lock(writeLock);
        std::size_t sent = 0;
        while (fd >= 0 && !broken && sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                broken = true;
                ::shutdown(fd, SHUT_RDWR);
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
    }
    // Wakes the reader (its poll and recv return) and a writer blocked on a
    // client that does not read (its send fails at once) without giving up
    // the descriptor number; so it never waits for the write lock.
    void shutdown() {
        std::lock_guard<std::mutex> lock(fdLock);
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    }
    // Closes once; afterwards nothing uses the number.  Never while a reply
    // goes out.
    bool close() {
        std::lock_guard<std::mutex> write(writeLock);
        std::lock_guard<std::mutex> lock(fdLock);
        if (fd < 0) return false;
        ::close(fd);
        fd = -1;
        return true;
    }

    int fd;               // -1 once closed (under both locks); read by the reader without a lock
                          // (only it and the accept thread, after joining the reader, close it)
    const int number;     // the descriptor number, for the log
    bool broken = false;  // a send failed: nothing more goes out (under writeLock)
    std::atomic<bool> stop{false};
    std::mutex writeLock;  // one reply at a time
    std::mutex fdLock;     // fd against shutdown() while it is being closed
    ScpiLineReader lines;
    console::Limiter consoleLines;   // the console lines this client's commands cause
};

thread_local ScpiServerTcp::ReaderContext ScpiServerTcp::reader{nullptr, nullptr};

ScpiServerTcp::ScpiServerTcp() : ScpiServerTcp(Services::instrument()) {}

ScpiServerTcp::ScpiServerTcp(const Services& services) : ScpiServer(services) {}

ScpiServerTcp::~ScpiServerTcp() { stopServing(); }

void ScpiServerTcp::stopServing() {
    if (stopping.exchange(true)) return;
    {
        std::lock_guard<std::mutex> lock(acceptWaitLock);   // no waiter misses the stop
    }
    acceptWake.notify_all();
    stopStreaming();
    running = 0;
    if (listenSocket >= 0) ::shutdown(listenSocket, SHUT_RDWR);
    if (acceptThread.joinable()) acceptThread.join();
    if (listenSocket >= 0) ::close(listenSocket);
    std::shared_ptr<Connection> last;
    {
        std::lock_guard<std::mutex> lock(clientLock);
        last.swap(client);
    }
    if (last) {
        last->stop = true;
        last->shutdown();
    }
    if (clientReader.joinable()) clientReader.join();
    if (last) last->close();
}

bool ScpiServerTcp::open() {
    listenSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenSocket < 0) {
        console::printError("Error opening listener\n");
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(platform::listenAddress());
    address.sin_port = htons(static_cast<std::uint16_t>(platform::tcpPort(platform::Service::Scpi)));
    if (::bind(listenSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        log("Error binding to socket");
        console::perror("ScpiServerTcp::waitForClientConnection()");
        ::close(listenSocket);
        listenSocket = -1;
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(listenSocket, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    log("Waiting for client connections");
    ::listen(listenSocket, kBacklog);
    platform::announcePort(platform::Service::Scpi, port);
    acceptThread = std::thread(&ScpiServerTcp::waitForClientConnection, this);
    return true;
}

void ScpiServerTcp::start() { running = 1; }

void ScpiServerTcp::waitForClientConnection() {
    while (!stopping) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int socket = ::accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (stopping) {
            if (socket >= 0) ::close(socket);
            break;
        }
        if (socket < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            logFromListener("Error accepting client connection");
            // Out of descriptors (or memory): the client stays in the backlog
            // and the next accept fails alike until some come free.  Waits
            // that grow, not a loop; a stop ends the wait.
            std::unique_lock<std::mutex> lock(acceptWaitLock);
            acceptWake.wait_for(lock, acceptRetry.failed(), [this] { return stopping.load(); });
            continue;
        }
        acceptRetry.succeeded();
        acceptClient(socket);
        char text[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        logFromListener(std::string("Client at ") + text + " connected on fd " + std::to_string(socket));
    }
}

void ScpiServerTcp::acceptClient(int socket) {
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval timeout{kSendTimeoutSeconds, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);

    std::shared_ptr<Connection> old;
    {
        std::lock_guard<std::mutex> lock(clientLock);
        old = client;
    }
    if (old) {
        old->stop = true;
        old->shutdown();
    }
    // The previous reader has ended (or ends now that its socket is shut
    // down) before the new one starts: never two readers at once.
    if (clientReader.joinable()) clientReader.join();
    if (old && old->close())
        logFromListener("Closing connection on fd " + std::to_string(old->number) + " due to new connection");
    // Nothing the clients before asked for reaches this one: no stream of
    // theirs, no late *OPC? answer.
    endClientSession();

    auto connection = std::make_shared<Connection>(socket);
    std::lock_guard<std::mutex> lock(clientLock);
    client = connection;
    running = 1;
    clientReader = std::thread(&ScpiServerTcp::serve, this, connection);
}

void ScpiServerTcp::serve(std::shared_ptr<Connection> connection) {
    reader = {this, connection.get()};
    run();
    reader = {nullptr, nullptr};
}

void ScpiServerTcp::logFromListener(const std::string& text) {
    if (Logger::instance()->getLevel() >= 2 && acceptLines.admit()) log(text);
}

console::Limiter& ScpiServerTcp::clientLines() {
    if (Connection* own = ownConnection()) return own->consoleLines;
    return ScpiServer::clientLines();
}

ScpiServerTcp::Connection* ScpiServerTcp::ownConnection() const {
    return reader.server == this ? reader.connection : nullptr;
}

bool ScpiServerTcp::keepReading() const {
    const Connection* connection = ownConnection();
    return !stopping && connection && !connection->stop;
}

bool ScpiServerTcp::hasClient() const {
    std::lock_guard<std::mutex> lock(clientLock);
    return client != nullptr;
}

std::shared_ptr<ScpiServerTcp::Connection> ScpiServerTcp::currentConnection() const {
    std::lock_guard<std::mutex> lock(clientLock);
    return client;
}

// The client went (or its socket failed): close it, and it is no longer the
// current client unless a newer one has taken its place already.
void ScpiServerTcp::endConnection(Connection& connection) {
    connection.stop = true;
    // Counted with the accept loop's lines: clients that come and go as fast
    // as they can get a few of these a second.
    if (connection.close()) logFromListener("Terminating Client Connection on fd " + std::to_string(connection.number));
    {
        std::lock_guard<std::mutex> lock(clientLock);
        if (client.get() == &connection) client.reset();
    }
    // Its streams stop now, not when the next client comes.
    endClientSession();
}

int ScpiServerTcp::read(char* buffer, int max) {
    Connection* connection = ownConnection();
    if (!connection || max <= 0) return 0;
    char bytes[512];
    while (!connection->stop && !stopping) {
        const int n = connection->lines.next(buffer, max);
        if (n >= 0) return n;
        pollfd p{connection->fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        const ssize_t received = ready < 0 ? -1 : ::recv(connection->fd, bytes, sizeof bytes, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) {
            // Stopped for a newer client: the accept thread closes the socket.
            if (!connection->stop) endConnection(*connection);
            return 0;
        }
        connection->lines.feed(bytes, static_cast<std::size_t>(received));
    }
    return 0;
}

void ScpiServerTcp::write(const std::string& text) {
    const std::string bytes = text + "\r\n";
    if (Connection* own = ownConnection()) {
        own->send(bytes);
    } else if (std::shared_ptr<Connection> connection = currentConnection()) {
        connection->send(bytes);
    }
}
