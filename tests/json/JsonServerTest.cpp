// The server over TCP on the loopback address: the connection cap, the idle
// time-out, finished connections freed without waiting for the next client,
// descriptors numbered above 1023, accepts that fail while every descriptor
// is taken, a port that cannot be bound, and stop.
#include "JsonTestSupport.h"

#include "json/JsonServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

using namespace jsontest;

namespace {

const std::string kRequest = R"({"action":"getModelNumber"})";
const Json::Value kReply = parse(R"({"model":"4710"})");

class JsonServerTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    metertest::TestMeter meter{testsupport::uniqueBusName("j")};

    JsonServer::Options options(int maxConnections = 16, std::chrono::milliseconds idle = 120s) {
        JsonServer::Options o;
        o.port = 0;
        o.maxConnections = maxConnections;
        o.idleTimeout = idle;
        o.meter = &meter;
        return o;
    }

    int startAndWaitForPort(JsonServer& server) {
        server.start();
        EXPECT_TRUE(testsupport::waitUntil([&] { return server.getPort() != 0; }, 20s));
        return server.getPort();
    }
};

TEST_F(JsonServerTest, ClientsBeyondTheCapAreClosedAndTheOthersKeepBeingServed) {
    JsonServer server(options(2));
    const int port = startAndWaitForPort(server);
    ASSERT_GT(port, 0);

    auto a = LineClient::connectTcp(port);
    auto b = LineClient::connectTcp(port);
    EXPECT_EQ(a->ask(kRequest), kReply);
    EXPECT_EQ(b->ask(kRequest), kReply);

    std::vector<std::unique_ptr<LineClient>> refused;
    for (int i = 0; i < 5; ++i) {
        refused.push_back(LineClient::connectTcp(port));
        EXPECT_TRUE(refused.back()->waitForClose()) << "client " << i << " beyond the cap";
    }
    EXPECT_EQ(server.getConnectionCount(), 2);
    EXPECT_EQ(a->ask(kRequest), kReply);
    EXPECT_EQ(b->ask(kRequest), kReply);

    a->close();
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.getConnectionCount() == 1; }, 20s));
    auto c = LineClient::connectTcp(port);
    EXPECT_EQ(c->ask(kRequest), kReply);
    EXPECT_EQ(b->ask(kRequest), kReply);
}

TEST_F(JsonServerTest, FinishedConnectionsAreFreedWithoutWaitingForANewClient) {
    JsonServer server(options());
    const int port = startAndWaitForPort(server);
    for (int round = 0; round < 3; ++round) {
        auto client = LineClient::connectTcp(port);
        EXPECT_EQ(client->ask(kRequest), kReply);
        client->close();
        EXPECT_TRUE(testsupport::waitUntil(
            [&] { return server.getConnectionCount() == 0 && server.getFinishedCount() == 0; }, 20s));
    }
}

TEST_F(JsonServerTest, IdleClientsAreClosed) {
    JsonServer server(options(16, 300ms));
    const int port = startAndWaitForPort(server);
    auto quiet = LineClient::connectTcp(port);
    auto talker = LineClient::connectTcp(port);
    EXPECT_EQ(talker->ask(kRequest), kReply);
    EXPECT_TRUE(quiet->waitForClose());
    EXPECT_TRUE(talker->waitForClose());
    EXPECT_TRUE(testsupport::waitUntil([&] { return server.getConnectionCount() == 0; }, 20s));
}

// A select() on these descriptors would write past its descriptor set.
TEST_F(JsonServerTest, ServesClientsOnDescriptorsAbove1023) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlim_t wanted = 1200;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) GTEST_SKIP() << "descriptor limit too low";
    const rlimit saved = limit;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = wanted;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    std::vector<int> fillers;
    while (true) {
        const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        fillers.push_back(fd);
        if (fd >= 1100) break;
    }

    {
        JsonServer server(options());
        const int port = startAndWaitForPort(server);
        auto client = LineClient::connectTcp(port);
        ASSERT_GT(client->fd(), 1023);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(client->ask(kRequest), kReply);
    }
    for (int fd : fillers) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
}

// With every descriptor taken a client waits in the backlog and each accept
// fails: the listener tries again after waits that grow (100, 200, 400,
// 800 ms ...), not ten times a second, and serves the client once
// descriptors come free.
TEST_F(JsonServerTest, FailingAcceptsAreTriedAgainAfterGrowingWaits) {
    JsonServer server(options());
    const int port = startAndWaitForPort(server);
    ASSERT_GT(port, 0);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    LineClient client(fd);
    // Served once: the listener has announced its port (a file it opens and
    // closes) and waits in its loop; this client keeps its descriptor.
    auto first = LineClient::connectTcp(port);
    ASSERT_EQ(first->ask(kRequest), kReply);

    testing::internal::CaptureStderr();
    {
        testsupport::FailingWrites full(testsupport::FailingWrites::NoDescriptors);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        std::this_thread::sleep_for(1600ms);   // the time the failures are counted in
    }
    const std::string out = testing::internal::GetCapturedStderr();
    std::size_t failures = 0;
    for (std::size_t at = 0; (at = out.find("Error accepting client connection", at)) != std::string::npos; ++at)
        ++failures;
    EXPECT_GE(failures, 1u) << out;
    EXPECT_LE(failures, 6u) << "tries at 0, 0.1, 0.3, 0.7 and 1.5 s; ten a second would make 16\n" << out;
    EXPECT_EQ(client.ask(kRequest), kReply) << "served once descriptors are free";
}

TEST_F(JsonServerTest, APortInUseEndsTheListenerWithItsMessages) {
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    socklen_t len = sizeof addr;
    getsockname(holder, reinterpret_cast<sockaddr*>(&addr), &len);

    JsonServer::Options o = options();
    o.port = ntohs(addr.sin_port);
    testing::internal::CaptureStderr();
    {
        JsonServer server(o);
        server.start();
        EXPECT_TRUE(testsupport::waitUntil([&] { return server.getPort() == -1; }, 20s));
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error binding to socket\n"), std::string::npos) << err;
    EXPECT_NE(err.find("JsonServer::listenForConnections(): "), std::string::npos) << err;
    close(holder);
}

TEST_F(JsonServerTest, StopClosesConnectedClients) {
    auto server = std::make_unique<JsonServer>(options());
    const int port = startAndWaitForPort(*server);
    auto a = LineClient::connectTcp(port);
    auto b = LineClient::connectTcp(port);
    EXPECT_EQ(a->ask(kRequest), kReply);
    EXPECT_EQ(b->ask(kRequest), kReply);
    server.reset();   // joins every thread
    EXPECT_TRUE(a->waitForClose());
    EXPECT_TRUE(b->waitForClose());
}

}  // namespace
