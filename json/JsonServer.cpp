#include "json/JsonServer.h"

#include "console/Console.h"
#include "json/JsonConnection.h"
#include "meter/MeterModel.h"
#include "platform/Network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <system_error>

JsonServer::JsonServer() : JsonServer(Options()) {}

JsonServer::JsonServer(const Options& opts) : options(opts), acceptLines("the JSON listener") {
    if (options.port < 0) options.port = platform::tcpPort(platform::Service::Json);
    if (!options.addressSet) options.address = platform::listenAddress();
    if (options.maxConnections < 1) options.maxConnections = 1;
    meter = options.meter ? options.meter : MeterModel::instance();
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

JsonServer::~JsonServer() {
    stop();
    if (wakeFd >= 0) close(wakeFd);
}

void JsonServer::start() {
    try {
        listenerThread = std::thread(&JsonServer::listenForConnections, this);
    } catch (const std::system_error& e) {
        console::printError("JsonServer: no listener thread: %s\n", e.what());
    }
}

void JsonServer::stop() {
    stopping = true;
    wakeListener();
    if (listenerThread.joinable()) listenerThread.join();

    // The listener has gone: close what is left here.
    std::vector<JsonConnection*> live;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        live = liveConnections;
    }
    for (JsonConnection* c : live) c->shutdown();
    {
        std::unique_lock<std::mutex> lock(connectionsMutex);
        connectionsChanged.wait(lock, [this] { return liveConnections.empty(); });
    }
    reapClosedConnections();
}

int JsonServer::getConnectionCount() const {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    return static_cast<int>(liveConnections.size());
}

int JsonServer::getFinishedCount() const {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    return static_cast<int>(closedConnections.size());
}

void JsonServer::wakeListener() {
    if (wakeFd < 0) return;
    const std::uint64_t one = 1;
    ssize_t ignored = write(wakeFd, &one, sizeof one);
    (void)ignored;
}

void JsonServer::drainWake() {
    std::uint64_t count;
    ssize_t ignored = read(wakeFd, &count, sizeof count);
    (void)ignored;
}

bool JsonServer::openListener() {
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0) {
        console::printError("Error opening listener\n");
        return false;
    }
    // The server closes idle connections itself, which leaves them in
    // TIME_WAIT on its port: without this a restart could not bind for a
    // minute.  Another listener on the port still makes the bind fail.
    const int on = 1;
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(options.address);
    addr.sin_port = htons(static_cast<std::uint16_t>(options.port));
    if (bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        console::printError("Error binding to socket\n");
        console::perror("JsonServer::listenForConnections()");
        close(listenFd);
        listenFd = -1;
        boundPort = -1;
        return false;
    }
    listen(listenFd, 5);
    socklen_t len = sizeof addr;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    boundPort = ntohs(addr.sin_port);
    platform::announcePort(platform::Service::Json, boundPort);
    return true;
}

void JsonServer::listenForConnections() {
    if (!openListener()) return;
    while (!stopping) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) break;
        if (fds[1].revents) {
            drainWake();
            reapClosedConnections();
        }
        if (!stopping && (fds[0].revents & POLLIN)) acceptClient();
    }
    close(listenFd);
    listenFd = -1;
}

void JsonServer::acceptClient() {
    const int client = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) return;
        acceptLines.write(console::Stream::err, "Error accepting client connection\n");
        // The client waits in the backlog and the next accept fails alike
        // until descriptors come free: waits that grow, not a spin; a stop
        // ends the wait.
        pollfd wake{wakeFd, POLLIN, 0};
        poll(&wake, 1, static_cast<int>(acceptRetry.failed().count()));
        return;
    }
    acceptRetry.succeeded();
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        if (static_cast<int>(liveConnections.size()) >= options.maxConnections) {
            acceptLines.write(console::Stream::out, "JsonServer: " + std::to_string(options.maxConnections) +
                                                        " clients connected, one more refused\n");
            close(client);
            return;
        }
    }
    JsonConnection* connection = new JsonConnection(client, *meter, options.idleTimeout);
    connection->signalClosed().connect(sigc::mem_fun(*this, &JsonServer::onConnectionClosed));
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        liveConnections.push_back(connection);
    }
    try {
        connection->start();
    } catch (const std::system_error& e) {
        console::printError("JsonServer: no thread for a client: %s\n", e.what());
        connection->shutdown();
        connection->readRequests();   // closes the socket and parks the connection at once
    }
}

void JsonServer::onConnectionClosed(JsonConnection* connection) {
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        liveConnections.erase(std::remove(liveConnections.begin(), liveConnections.end(), connection),
                              liveConnections.end());
        closedConnections.push_back(connection);
    }
    connectionsChanged.notify_all();
    wakeListener();
}

void JsonServer::reapClosedConnections() {
    std::vector<JsonConnection*> closed;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex);
        closed.swap(closedConnections);
    }
    for (JsonConnection* c : closed) delete c;   // joins its finished thread
}
