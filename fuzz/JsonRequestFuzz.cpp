// The web interface's request handling: the bytes a client sends, cut into
// lines by the connection's reader, parsed, dispatched to the actions of a
// meter model with three channels.  Every reply must be one line of valid
// JSON, and no request may get more than one.
#include "FuzzSupport.h"

#include "json/JsonConnection.h"

#include <json/json.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

// Every reply is one line of JSON, and no request gets more than one.
void checkReplies(const std::string& requests, const std::string& replies) {
    const auto requestLines = std::count(requests.begin(), requests.end(), '\n');
    if (std::count(replies.begin(), replies.end(), '\n') > requestLines)
        fuzz::fail("more replies than request lines: " + replies);
    std::size_t start = 0;
    while (start < replies.size()) {
        const std::size_t end = replies.find('\n', start);
        if (end == std::string::npos) fuzz::fail("reply without its line end: " + replies.substr(start));
        const std::string line = replies.substr(start, end - start);
        Json::CharReaderBuilder builder;
        builder["strictRoot"] = true;
        builder["failIfExtra"] = true;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value value;
        std::string errors;
        if (!reader->parse(line.data(), line.data() + line.size(), &value, &errors))
            fuzz::fail("reply is not JSON: " + line + " (" + errors + ")");
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Meter& m = fuzz::sharedMeter();
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) fuzz::fail("socketpair");
    std::string replies;
    {
        JsonConnection connection(fds[1], m);
        connection.start();
        // Send the input and read the replies at the same time, so neither
        // side waits for the other; then close the sending side and read
        // until the connection has closed.
        std::size_t sent = 0;
        bool writing = true;
        if (size == 0) {
            shutdown(fds[0], SHUT_WR);
            writing = false;
        }
        // 30 s without a byte moving either way is a hang.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            pollfd p{fds[0], static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
            const int ready = poll(&p, 1, 1000);
            if (std::chrono::steady_clock::now() > deadline) fuzz::fail("the connection neither reads nor answers");
            if (ready <= 0) continue;   // EINTR: the fuzzer's own timer signal
            if (p.revents & POLLIN || p.revents & POLLHUP) {
                char buffer[4096];
                const ssize_t n = recv(fds[0], buffer, sizeof buffer, MSG_DONTWAIT);
                if (n == 0) break;
                if (n > 0) {
                    replies.append(buffer, static_cast<std::size_t>(n));
                    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                } else if (errno != EAGAIN && errno != EINTR) break;
            }
            if (writing && (p.revents & POLLOUT)) {
                const ssize_t n = send(fds[0], data + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0) {
                    sent += static_cast<std::size_t>(n);
                    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                }
                if (sent == size) {
                    shutdown(fds[0], SHUT_WR);
                    writing = false;
                }
            }
        }
    }
    close(fds[0]);
    checkReplies(fuzz::text(data, size), replies);
    return 0;
}
