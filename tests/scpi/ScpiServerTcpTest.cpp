// The TCP transport on loopback, on a port the system picks: line ends,
// replies whole, a client replacing another, clients that go away, accepts
// that keep failing.
#include "scpi/ScpiServerTcp.h"

#include "ScpiTestSupport.h"
#include "channel/ChannelModel.h"
#include "platform/Network.h"
#include "runtime/Logger.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// What the logger writes, readable while it writes.
class LogBuffer : public std::streambuf {
public:
    std::string str() {
        std::lock_guard<std::mutex> lock(mutex);
        return text;
    }
protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard<std::mutex> lock(mutex);
        text.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) {
            std::lock_guard<std::mutex> lock(mutex);
            text.push_back(static_cast<char>(c));
        }
        return c;
    }
private:
    std::mutex mutex;
    std::string text;
};

// A SCPI client on a plain socket.
class Client {
public:
    // receiveBuffer: the socket's receive buffer size (0: the system's).
    explicit Client(int port, int receiveBuffer = 0) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    void send(const std::string& text) {
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }
    // The next line with its CR LF; "" on time-out, "<closed>" at the end.
    std::string line(std::chrono::seconds deadline = std::chrono::seconds(20)) {
        const auto end = Clock::now() + deadline;
        while (true) {
            const auto lf = buffered.find('\n');
            if (lf != std::string::npos) {
                std::string out = buffered.substr(0, lf + 1);
                buffered.erase(0, lf + 1);
                return out;
            }
            const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            if (left <= 0) return "";
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) continue;
            char bytes[4096];
            const ssize_t n = ::recv(fd, bytes, sizeof bytes, 0);
            if (n <= 0) return "<closed>";
            buffered.append(bytes, static_cast<std::size_t>(n));
        }
    }
    std::string ask(const std::string& command) {
        send(command + "\n");
        return line();
    }
    bool connected = false;
    int fd = -1;

private:
    std::string buffered;
};

class Tcp : public ScpiServerTcp {
public:
    using ScpiServerTcp::ScpiServerTcp;
    using ScpiServerTcp::write;
    // The server's threads call its virtual functions until they end.
    ~Tcp() override { stopServing(); }
};

class TcpTest : public ::testing::Test {
protected:
    TcpTest() {
        std::ofstream(sandbox.path() + "/ports.conf") << "scpi: 0\n";
        Logger::instance()->setOutput(&log);
        Logger::instance()->setLevel(2);
        server = std::make_unique<Tcp>(services.forServer(meter));
        EXPECT_TRUE(ScpiServer::openAndStart(server.get(), [](bool) {}));
        port = server->getPort();
    }
    ~TcpTest() override {
        server.reset();
        Logger::instance()->setLevel(1);
        Logger::instance()->setOutput(nullptr);
    }
    bool logged(const std::string& text) {
        return testsupport::waitUntil([&] { return logText().find(text) != std::string::npos; },
                                      std::chrono::seconds(20));
    }
    std::string logText() { return logBuffer.str(); }

    testsupport::TempSandbox sandbox;
    scpitest::Meter meter{testsupport::uniqueBusName("p")};
    scpitest::Services services;
    LogBuffer logBuffer;
    std::ostream log{&logBuffer};
    std::unique_ptr<Tcp> server;
    int port = 0;
};

TEST_F(TcpTest, AnnouncesItsPortAndRunsNoReaderBeforeAClient) {
    ASSERT_GT(port, 0);
    std::ifstream announced(platform::announcedPortFile(platform::Service::Scpi));
    int read = 0;
    announced >> read;
    EXPECT_EQ(read, port);
    EXPECT_FALSE(server->hasClient());
    server->write("dropped");   // nobody to send it to
    Client c(port);
    ASSERT_TRUE(c.connected);
    EXPECT_EQ(c.ask("*ESE?"), "0\r\n");
    EXPECT_TRUE(server->hasClient());
}

TEST_F(TcpTest, LinesEndInCrOrLfAndRepliesInCrLf) {
    Client c(port);
    c.send("*ESE 5\r*ESE?\n\r\n\n*SRE 3\r\n*SRE?\r");
    EXPECT_EQ(c.line(), "5\r\n");
    EXPECT_EQ(c.line(), "3\r\n");
    EXPECT_EQ(services.errors->size(), 0u) << "empty lines are no commands";
}

TEST_F(TcpTest, ANewClientTakesOverAndTheOldOnesCloseNeverDisturbsIt) {
    Client first(port);
    ASSERT_EQ(first.ask("*ESE 7;*ESE?"), "7\r\n");
    Client second(port);
    EXPECT_EQ(first.line(), "<closed>") << "the first client's socket is closed";
    EXPECT_EQ(second.ask("*ESE?"), "7\r\n");
    EXPECT_TRUE(logged("Closing connection on fd "));
    EXPECT_TRUE(logged(" due to new connection"));
    first.close();
    EXPECT_EQ(second.ask("*ESE 9;*ESE?"), "9\r\n");
    EXPECT_EQ(logText().find("Terminating"), std::string::npos) << logText();
}

// A client that goes leaves the transport waiting; the next one (which may
// well get the same descriptor number) is served at once, every time.
TEST_F(TcpTest, ClientsThatComeAndGoOneAfterAnother) {
    for (int i = 0; i < 30; ++i) {
        {
            Client gone(port);
            ASSERT_EQ(gone.ask("*SRE " + std::to_string(i) + ";*SRE?"), std::to_string(i) + "\r\n");
        }
        Client next(port);
        ASSERT_EQ(next.ask("*SRE?"), std::to_string(i) + "\r\n") << "round " << i;
    }
    EXPECT_TRUE(logged("Terminating Client Connection on fd "));
}

// Replies to a client that has gone fail quietly: the process lives on.  The
// client closes while the server is still busy with the line's first command
// (saving a profile runs a script), so the replies meet a closed socket.
TEST_F(TcpTest, RepliesToAClosedConnectionNeverKillTheProcess) {
    std::signal(SIGPIPE, SIG_DFL);
    std::string line = "*SAV 1";
    for (int i = 0; i < 30; ++i) line += ";*IDN?";
    {
        Client gone(port);
        ASSERT_EQ(gone.ask("*ESE?"), "0\r\n");
        gone.send(line + "\n");
    }
    EXPECT_TRUE(logged("Terminating Client Connection on fd "));
    Client next(port);
    EXPECT_EQ(next.ask("*ESE?"), "0\r\n");
}

// A client that has stopped reading while a reply to it is on its way does
// not hold the port: the takeover wakes the blocked writer at once, long
// before the send time-out (5 s) would have given up on the old client.
TEST_F(TcpTest, AClientThatStopsReadingDoesNotHoldUpTheNextOne) {
    Client stalled(port, 4096);
    ASSERT_EQ(stalled.ask("*ESE 3;*ESE?"), "3\r\n");
    // Far more than the socket buffers hold (the server's send buffer grows
    // to 4 MB): the write blocks until the connection is shut down or the
    // send time-out ends it.
    std::thread writer([&] { server->write(std::string(16 << 20, 'x')); });
    pollfd arriving{stalled.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&arriving, 1, 20000), 1) << "the write has begun";
    Client next(port);
    next.send("*ESE?\n");
    EXPECT_EQ(next.line(std::chrono::seconds(3)), "3\r\n");
    writer.join();
}

// Late replies belong to the client that asked: a stream it started and an
// *OPC? it left pending (a zero running) never reach the client after it,
// whether that one takes over or comes after the first has gone.  The next
// client's first query gets its own reply, and its own stream comes.
TEST_F(TcpTest, StreamsAndPendingRepliesOfAClientNeverReachTheNextOne) {
    // The readings of slots 1-3 as streamed (the 30 kG range's %05.1f).
    const std::string streamLine[] = {"", "001.5\r\n", "-07.2\r\n", "033.0\r\n"};
    const float readings[] = {1.5f, -7.25f, 33.0f};
    for (unsigned slot = 1; slot <= 3; ++slot) {
        meter.channel(slot).insertProbe("P", "S");
        meter.channel(slot).setReading(readings[slot - 1]);
    }
    const std::string idn = "TARVEL, 4730 VAZID UVEDURIDER, 1.6.1, FP: unknown, PSU: unknown\r\n";

    // Round 0: the first client is replaced; round 1: the second goes first.
    auto first = std::make_unique<Client>(port);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const unsigned own = static_cast<unsigned>(round + 1);
        server->onMeterBusyChanged(true);
        first->send("*OPC?;:MEAS" + std::to_string(own) + ":FLUX:STR? 60\n");
        ASSERT_EQ(first->ask("*ESE?"), "0\r\n");
        meter.channel(own).signalNewReading().emit(static_cast<int>(own), 0, 0, 0, 0, 0, 0);
        ASSERT_EQ(first->line(), streamLine[own]) << "the stream runs for the client that asked";
        if (round == 1) {
            first->close();
            ASSERT_TRUE(testsupport::waitUntil([&] { return !server->hasClient(); }, std::chrono::seconds(20)));
        }
        auto next = std::make_unique<Client>(port);
        if (round == 0) {
            EXPECT_EQ(first->line(), "<closed>");
        }
        ASSERT_EQ(next->ask("*ESE?"), "0\r\n");
        // Readings of the old stream and the end of the zero, now.
        for (int i = 0; i < 3; ++i)
            meter.channel(own).signalNewReading().emit(static_cast<int>(own), 0, 0, 0, 0, 0, 0);
        server->onMeterBusyChanged(false);
        EXPECT_EQ(next->ask("*IDN?"), idn);
        // A stream of its own: the streamed lines come in order, so any left
        // of the old stream would come before it.
        const unsigned other = own + 1;
        ASSERT_EQ(next->ask(":MEAS" + std::to_string(other) + ":FLUX:STR? 60;*ESE?"), "0\r\n");
        meter.channel(other).signalNewReading().emit(static_cast<int>(other), 0, 0, 0, 0, 0, 0);
        EXPECT_EQ(next->line(), streamLine[other]);
        ASSERT_EQ(next->ask(":MEAS" + std::to_string(other) + ":FLUX:STR? 0;*ESE?"), "0\r\n");
        first = std::move(next);
    }
}

// The reader's replies and another thread's (as the operation-complete "1")
// never mix on the wire: every line arrives whole.
// An accept that keeps failing (every descriptor taken makes each accept
// fail with EMFILE; here the listening socket is shut down under the accept
// thread, which fails each accept at once and, unlike a process out of
// descriptors, leaves the sanitizers' own checks working): the accept
// thread tries again after waits that grow (100, 200, 400, 800 ms ...), not
// ten times a second, and a stop ends its wait.
TEST_F(TcpTest, FailingAcceptsAreTriedAgainAfterGrowingWaits) {
    int listener = -1;
    for (int fd = 0; fd < 4096 && listener < 0; ++fd) {
        int listening = 0;
        socklen_t size = sizeof listening;
        sockaddr_in a{};
        socklen_t length = sizeof a;
        if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0 && ntohs(a.sin_port) == port)
            listener = fd;
    }
    ASSERT_GE(listener, 0);
    const std::size_t before = logText().size();
    ASSERT_EQ(::shutdown(listener, SHUT_RDWR), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));   // the time the failures are counted in
    const std::string text = logText().substr(before);
    std::size_t failures = 0;
    for (std::size_t at = 0; (at = text.find("Error accepting client connection", at)) != std::string::npos; ++at)
        ++failures;
    EXPECT_GE(failures, 1u) << text;
    EXPECT_LE(failures, 6u) << "tries at 0, 0.1, 0.3, 0.7 and 1.5 s; ten a second would make 16\n" << text;
    server.reset();   // while the accept thread waits
}

// Clients that come and go as fast as they can get a few log lines a second
// from it ("Client at", "Closing connection", "Terminating"), not three each.
TEST_F(TcpTest, ClientsComingAndGoingGetAFewLogLinesASecond) {
    const auto start = Clock::now();
    for (int i = 0; i < 100; ++i) {
        Client c(port);
        ASSERT_EQ(c.ask("*ESE?"), "0\r\n") << i;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::string text = logText();
    std::size_t lines = 0;
    for (const char* what : {"Client at ", "Closing connection on fd ", "Terminating Client Connection on fd "})
        for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++lines;
    EXPECT_LE(lines, console::Limiter::kLinesPerSecond * (static_cast<std::size_t>(seconds) + 2))
        << seconds << " s\n" << text;
}

TEST_F(TcpTest, RepliesFromTwoThreadsNeverInterleave) {
    constexpr int kQueries = 3000;
    constexpr int kOthers = 3000;
    Client c(port);
    ASSERT_EQ(c.ask("*ESE 12345;*ESE?"), "12345\r\n");
    const std::string other(300, '1');
    std::thread writer([&] {
        for (int i = 0; i < kOthers; ++i) server->write(other);
    });
    std::string lines;
    for (int i = 0; i < kQueries; ++i) lines += "*ESE?\n";
    c.send(lines);
    int queries = 0, others = 0;
    for (int i = 0; i < kQueries + kOthers; ++i) {
        const std::string l = c.line();
        if (l == "12345\r\n") ++queries;
        else if (l == other + "\r\n") ++others;
        else ADD_FAILURE() << "broken line: " << l.substr(0, 40);
        if (l.empty()) break;
    }
    writer.join();
    EXPECT_EQ(queries, kQueries);
    EXPECT_EQ(others, kOthers);
}

}  // namespace
