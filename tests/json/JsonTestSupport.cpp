#include "JsonTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace jsontest {

LineClient::~LineClient() { close(); }

void LineClient::close() {
    if (socketFd >= 0) ::close(socketFd);
    socketFd = -1;
}

std::unique_ptr<LineClient> LineClient::connectTcp(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        fd = -1;
    }
    return std::make_unique<LineClient>(fd);
}

bool LineClient::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socketFd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool LineClient::readLine(std::string& out, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (true) {
        const std::size_t nl = pending.find('\n');
        if (nl != std::string::npos) {
            out = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{socketFd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[4096];
        const ssize_t n = recv(socketFd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

bool LineClient::waitForClose(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{socketFd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = recv(socketFd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    }
    return false;
}

Json::Value LineClient::ask(const std::string& requestLine) {
    std::string reply;
    if (!send(requestLine + "\n") || !readLine(reply)) return Json::Value();
    return parse(reply);
}

Json::Value LineClient::ask(const Json::Value& request) { return ask(line(request)); }

std::string line(const Json::Value& request) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, request);
}

Json::Value parse(const std::string& text) {
    Json::Value value;
    Json::Reader reader;
    if (!reader.parse(text, value, false)) return Json::Value();
    return value;
}

ConnectionFixture::ConnectionFixture(std::chrono::milliseconds idle) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) fds[0] = fds[1] = -1;
    client = std::make_unique<LineClient>(fds[0]);
    connection = std::make_unique<JsonConnection>(fds[1], meter, idle);
    connection->signalClosed().connect([this](JsonConnection*) { ++closedSignals; });
    connection->start();
}

ConnectionFixture::~ConnectionFixture() {
    client->close();
    connection.reset();   // joins its thread, which ends with the client
}

}  // namespace jsontest
