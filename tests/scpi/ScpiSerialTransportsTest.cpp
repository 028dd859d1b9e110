// The RS-232 and GPIB transports on pseudo-terminals: the sandbox's
// dev/ttyS0 or dev/gpib links to the slave end, the test holds the master
// end and plays the far side (a terminal, or the GPIB-USB controller).
#include "ScpiTestSupport.h"

#include "platform/Platform.h"
#include "runtime/RS232Configuration.h"
#include "scpi/ScpiServerGPIB.h"
#include "scpi/ScpiServerSerial.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

// The far end of a pseudo-terminal whose slave the sandbox's device path
// links to.
class FarEnd {
public:
    explicit FarEnd(const std::string& linkPath) : link(linkPath) {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slaveName = ptsname(master);
        // The slave stays open here too, so the master never sees a hang-up
        // while the transport has it closed; raw, so that nothing is echoed.
        slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        platform::makeDirs(link.substr(0, link.rfind('/')));
        ::unlink(link.c_str());
        ::symlink(slaveName.c_str(), link.c_str());
    }
    ~FarEnd() { unplug(); }

    bool ok() const { return master >= 0 && slave >= 0; }
    // The far end goes: the transport's next read fails.
    void unplug() {
        if (master < 0) return;
        ::unlink(link.c_str());
        ::close(slave);
        ::close(master);
        master = slave = -1;
    }
    void send(const std::string& bytes) { ASSERT_EQ(::write(master, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }
    // The next line the transport wrote (without its CR LF); "" on time-out.
    std::string line(std::chrono::milliseconds deadline = 10s) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (true) {
            const std::size_t lf = pending.find('\n');
            if (lf != std::string::npos) {
                std::string l = pending.substr(0, lf);
                pending.erase(0, lf + 1);
                if (!l.empty() && l.back() == '\r') l.pop_back();
                return l;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return "";
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) != 1) continue;
            char buffer[256];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) pending.append(buffer, static_cast<std::size_t>(n));
        }
    }
    // The slave's line settings, as the transport set them.
    termios settings() const {
        termios t{};
        tcgetattr(slave, &t);
        return t;
    }

private:
    std::string link;
    std::string slaveName;
    std::string pending;
    int master = -1;
    int slave = -1;
};

// ---- RS-232

class SerialTransportTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    scpitest::Meter meter{testsupport::uniqueBusName("r")};
    scpitest::Services services;
    std::string path = platform::resolve(platform::path::kSerialPort);
};

TEST_F(SerialTransportTest, CommandLinesInRepliesOutWithTheConfiguredFraming) {
    FarEnd far(path);
    ASSERT_TRUE(far.ok());
    testing::internal::CaptureStdout();
    auto server = std::make_unique<ScpiServerSerial>(services.forServer(meter), path);
    ASSERT_TRUE(ScpiServer::openAndStart(server.get(), [](bool) {}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "RS232 Speed set to 9600\n");
    termios t = far.settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);

    // One command per line, however the lines end; empty lines give nothing.
    far.send("*ESE 4\r\n*ESE?\r\n\r\n\n\r*SRE 8;*SRE?\n:SYST:VERS?\r");
    EXPECT_EQ(far.line(), "4");
    EXPECT_EQ(far.line(), "8");
    EXPECT_EQ(far.line(), "1999.0");
    // 255 characters without a line end are dropped; the next line is read.
    far.send(std::string(255, 'X') + "*ESE?\n");
    EXPECT_EQ(far.line(), "4");
    EXPECT_EQ(services.errors->size(), 0u);   // no command made of the X

    // Settings follow the meter's; a code outside its table keeps that one.
    // (A pseudo-terminal keeps 8 data bits and no parity bit whatever it is
    // told, so of those two only the parity's sense, odd or not, shows.)
    RS232Configuration config;
    config.setSpeed(7);
    config.setDataBits(0);
    config.setStopBits(1);
    config.setParity(2);
    config.setFlowControl(1);
    testing::internal::CaptureStdout();
    meter.setRS232Configuration(config);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    t = far.settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), static_cast<tcflag_t>(PARODD | CSTOPB));
    EXPECT_TRUE(t.c_iflag & IXON);
    config.setSpeed(6);
    config.setParity(1);
    config.setFlowControl(2);
    meter.setRS232Configuration(config);
    t = far.settings();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), static_cast<tcflag_t>(CSTOPB));
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & IXON);
    far.send("*SRE?\n");
    EXPECT_EQ(far.line(), "8");
    // Odd, then none: nothing of the odd parity stays.
    for (const int parity : {2, 0}) {
        config.setParity(parity);
        meter.setRS232Configuration(config);
        t = far.settings();
        EXPECT_EQ(t.c_cflag & PARODD, parity == 2 ? static_cast<tcflag_t>(PARODD) : 0u) << parity;
    }
    far.send("*SRE?\n");
    EXPECT_EQ(far.line(), "8");
}

// The far end goes for good: the reader looks at the port once a second, and
// the server still ends cleanly (the port's settings cannot be restored on a
// pseudo-terminal whose master is gone).
TEST_F(SerialTransportTest, AFailedPortIsNoBusyLoopAndClosesCleanly) {
    auto far = std::make_unique<FarEnd>(path);
    auto server = std::make_unique<ScpiServerSerial>(services.forServer(meter), path);
    ASSERT_TRUE(ScpiServer::openAndStart(server.get(), [](bool) {}));
    far->send("*ESE 1;*ESE?\n");
    EXPECT_EQ(far->line(), "1");
    far.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->failedReads() >= 1; }));
    std::this_thread::sleep_for(2500ms);
    EXPECT_LE(server->failedReads(), 5u);
    server.reset();
}

// A settings change the port refuses (its device pulled out: every line
// setting fails with EIO) is reported on standard error and in the error
// queue, setting by setting; nothing claims it was set.
TEST_F(SerialTransportTest, ASettingsChangeThePortRefusesIsReported) {
    auto far = std::make_unique<FarEnd>(path);
    testing::internal::CaptureStdout();
    auto server = std::make_unique<ScpiServerSerial>(services.forServer(meter), path);
    ASSERT_TRUE(ScpiServer::openAndStart(server.get(), [](bool) {}));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(services.errors->size(), 0u);
    far.reset();

    RS232Configuration config;
    config.setSpeed(6);
    config.setParity(1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    meter.setRS232Configuration(config);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.find("RS232 Speed set to"), std::string::npos) << out;
    for (const char* setting : {"speed", "data bits", "stop bits", "parity", "flow control"}) {
        EXPECT_NE(err.find(std::string("ScpiServerSerial: RS-232 ") + setting + " not set on " + path + ": "),
                  std::string::npos)
            << setting << " in\n" << err;
        std::unique_ptr<TvlError> record = services.errors->popOldest();
        ASSERT_TRUE(record) << setting;
        EXPECT_EQ(record->getCode(), -200);
        EXPECT_EQ(record->getDetail().rfind(std::string("RS-232 ") + setting + " not set: ", 0), 0u)
            << record->getDetail();
    }
    server.reset();
}

TEST_F(SerialTransportTest, OnlyAPseudoTerminalOrASandboxFileIsOpened) {
    platform::makeDirs(sandbox.file("/dev"));
    ::unlink(path.c_str());
    // A device outside the sandbox that is no pseudo-terminal (never a real
    // serial port: the check under test is what would keep it closed).
    ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0);
    testing::internal::CaptureStderr();
    ScpiServerSerial server(services.forServer(meter), path);
    EXPECT_FALSE(ScpiServer::openAndStart(&server, [](bool) {}));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("neither a pseudo-terminal nor inside the sandbox"),
              std::string::npos);
    ::unlink(path.c_str());
    ScpiServerSerial missing(services.forServer(meter), path);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ScpiServer::openAndStart(&missing, [](bool) {}));
    testing::internal::GetCapturedStderr();
}

// ---- GPIB

// A stand-in GPIB-USB controller: answers "++ver" (or not), records every
// "++" command, and collects the replies the transport writes.
class Controller {
public:
    // IdentifyThenGo: identifies, and is pulled out as the set-up's status
    // byte arrives.  IdentifyThenStall: identifies, and reads nothing more
    // after the first status byte until resume().
    enum class Answer { Identify, WrongText, Silent, IdentifyThenGo, IdentifyThenStall };
    Controller(const std::string& path, Answer answer) : far(path), answer(answer) {
        reader = std::thread([this] {
            while (!stopping) {
                if (stalled) {
                    std::this_thread::sleep_for(10ms);
                    continue;
                }
                const std::string l = far.line(100ms);
                if (l.empty()) continue;
                std::lock_guard<std::mutex> lock(mutex);
                if (l.compare(0, 2, "++") != 0) {
                    replies.push_back(l);
                    continue;
                }
                commands.push_back(l);
                if (this->answer == Answer::IdentifyThenGo && l.compare(0, 9, "++status ") == 0) {
                    far.unplug();
                    gone = true;
                }
                if (this->answer == Answer::IdentifyThenStall && !stalledOnce && l.compare(0, 9, "++status ") == 0)
                    stalled = stalledOnce = true;
                if (l == "++ver" && this->answer != Answer::WrongText && this->answer != Answer::Silent)
                    far.send(std::string(ScpiServerGPIB::kIdentification) + " version 1.0\r\n");
                if (l == "++ver" && this->answer == Answer::WrongText) far.send("GPIB-USB Controller\r\n");
            }
        });
    }
    ~Controller() { stop(); }
    void stop() {
        stopping = true;
        if (reader.joinable()) reader.join();
        far.unplug();
    }
    void send(const std::string& line) { far.send(line + "\r\n"); }
    void resume() { stalled = false; }
    std::string lastCommand() {
        std::lock_guard<std::mutex> lock(mutex);
        return commands.empty() ? "" : commands.back();
    }
    Lines takeCommands() {
        std::lock_guard<std::mutex> lock(mutex);
        Lines out;
        out.swap(commands);
        return out;
    }
    Lines takeReplies() {
        std::lock_guard<std::mutex> lock(mutex);
        Lines out;
        out.swap(replies);
        return out;
    }
    std::size_t count(const std::string& command) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), command));
    }
    bool isGone() const { return gone; }
    bool waitFor(const std::string& command, std::chrono::milliseconds deadline = 15s) {
        return testsupport::waitUntil([&] { return count(command) > 0; }, deadline);
    }
    bool waitForReply(const std::string& reply) {
        return testsupport::waitUntil([&] {
            std::lock_guard<std::mutex> lock(mutex);
            return std::find(replies.begin(), replies.end(), reply) != replies.end();
        });
    }

private:
    FarEnd far;
    Answer answer;
    std::atomic<bool> stopping{false};
    std::atomic<bool> gone{false};
    std::atomic<bool> stalled{false};
    bool stalledOnce = false;   // the reader thread's
    std::mutex mutex;
    Lines commands;
    Lines replies;
    std::thread reader;
};

class GpibTransportTest : public ::testing::Test {
protected:
    void startServer() {
        server = std::make_unique<ScpiServerGPIB>(services.forServer(meter), path);
        ASSERT_TRUE(ScpiServer::openAndStart(server.get(), [](bool) {}));
    }
    testsupport::TempSandbox sandbox;
    scpitest::Meter meter{testsupport::uniqueBusName("g")};
    scpitest::Services services;
    std::string path = platform::resolve(platform::path::kGpibPort);
    std::unique_ptr<ScpiServerGPIB> server;
};

// The controller plugged in after the start: set up at the next look, with
// the address and the status byte of that moment; then it passes SCPI both
// ways and follows every change of the address and the status byte.
TEST_F(GpibTransportTest, ControllerFoundLateIsSetUpAndFollowsAddressAndStatus) {
    testing::internal::CaptureStdout();
    startServer();
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(server->isConnected());
    services.errors->push(services.catalogue.lookup(-100));   // status byte 4
    Controller controller(path, Controller::Answer::Identify);
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->isConnected(); }, 15s));
    // Connected once the set-up is written; the controller reads it on its own thread.
    ASSERT_TRUE(controller.waitFor("++status 4"));
    EXPECT_EQ(controller.takeCommands(), (Lines{"++ver", "++savecfg 0", "++mode 0", "++addr 1", "++status 4"}));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("opened " + path + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("device responds: " + std::string(ScpiServerGPIB::kIdentification) + " version 1.0\n"),
              std::string::npos) << out;
    EXPECT_NE(out.find("GPIB address set to 1\n"), std::string::npos) << out;

    controller.send(":SYST:ERR:NEXT?;*ESE 32;*ESE?");
    EXPECT_TRUE(controller.waitForReply("-100,\"Command error\""));
    EXPECT_TRUE(controller.waitForReply("32"));
    EXPECT_TRUE(controller.waitFor("++status 0"));
    meter.setGpibAddress(7);
    EXPECT_TRUE(controller.waitFor("++addr 7"));
}

// A controller that stops reading holds up no thread that changes the status
// byte (the status model's lock is held while its slots run), and once it
// reads again the latest status byte is the last one it gets.
TEST_F(GpibTransportTest, AControllerThatStopsReadingHoldsUpNoStatusChange) {
    testing::internal::CaptureStdout();
    Controller controller(path, Controller::Answer::IdentifyThenStall);
    startServer();
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->isConnected(); }, 15s));
    // Far more status lines than the pseudo-terminal holds; each write to the
    // full device would wait for room up to the write time-out (2 s).
    constexpr int kChanges = 8000;
    std::atomic<int> done{0};
    std::atomic<bool> giveUp{false};
    std::thread changer([&] {
        for (int i = 0; i < kChanges && !giveUp; ++i) {
            services.status.setStatusBit(3);
            services.status.clearStatusBit(3);
            ++done;
        }
        services.status.setStatusBit(3);
    });
    EXPECT_TRUE(testsupport::waitUntil([&] { return done == kChanges; }, 30s)) << done << " changes made";
    giveUp = true;
    changer.join();
    controller.resume();
    const std::string latest = "++status " + std::to_string(services.status.getStatusByte());
    EXPECT_TRUE(testsupport::waitUntil([&] { return controller.lastCommand() == latest; }, 15s))
        << controller.lastCommand() << " not " << latest;
    controller.stop();
    server.reset();
    testing::internal::GetCapturedStdout();
}

TEST_F(GpibTransportTest, AWrongIdentificationIsAskedAgainEverySecond) {
    Controller controller(path, Controller::Answer::WrongText);
    startServer();
    EXPECT_TRUE(testsupport::waitUntil([&] { return controller.count("++ver") >= 3; }, 15s));
    EXPECT_FALSE(server->isConnected());
    EXPECT_EQ(controller.count("++mode 0"), 0u);
}

// A controller that never answers "++ver" holds the retry timer only for the
// wait's time-out: it is asked again and again.
TEST_F(GpibTransportTest, ASilentControllerDoesNotHoldTheSearchForGood) {
    auto silent = std::make_unique<Controller>(path, Controller::Answer::Silent);
    startServer();
    EXPECT_TRUE(testsupport::waitUntil([&] { return silent->count("++ver") >= 2; }, 15s));
    EXPECT_FALSE(server->isConnected());
    silent.reset();
    Controller controller(path, Controller::Answer::Identify);
    EXPECT_TRUE(testsupport::waitUntil([&] { return server->isConnected(); }, 15s));
}

// Pulled out while connected: replies are dropped, the address waits, and
// the controller plugged in again is set up with the values of then; an
// *OPC? asked through the first is never answered to the second.
TEST_F(GpibTransportTest, ControllerPulledOutIsSearchedForAgain) {
    auto first = std::make_unique<Controller>(path, Controller::Answer::Identify);
    startServer();
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->isConnected(); }, 15s));
    server->onMeterBusyChanged(true);
    first->send("*OPC?;*ESE 5;*ESE?");
    ASSERT_TRUE(first->waitForReply("5"));
    first->stop();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !server->isConnected(); }, 15s));
    meter.setGpibAddress(12);
    services.errors->push(services.catalogue.lookup(-100));
    first.reset();
    Controller second(path, Controller::Answer::Identify);
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->isConnected(); }, 15s));
    ASSERT_TRUE(second.waitFor("++status 4"));
    EXPECT_EQ(second.takeCommands(), (Lines{"++ver", "++savecfg 0", "++mode 0", "++addr 12", "++status 4"}));
    server->onMeterBusyChanged(false);
    second.send("*ESE 16;*ESE?");
    EXPECT_TRUE(second.waitForReply("16"));
    EXPECT_EQ(second.takeReplies(), Lines{"16"});
}

// A controller gone just as its set-up ends: the transport's reader finds it
// gone while the retry timer is deciding whether the set-up made it
// connected; the search must go on, whichever of the two comes first.
TEST_F(GpibTransportTest, AControllerGoneRightAfterItsSetUpIsSearchedForAgain) {
    startServer();
    for (int i = 0; i < 3; ++i) {
        Controller brief(path, Controller::Answer::IdentifyThenGo);
        ASSERT_TRUE(testsupport::waitUntil([&] { return brief.isGone(); }, 15s)) << i;
        ASSERT_TRUE(testsupport::waitUntil([&] { return !server->isConnected(); }, 15s)) << i;
    }
    Controller controller(path, Controller::Answer::Identify);
    EXPECT_TRUE(testsupport::waitUntil([&] { return server->isConnected(); }, 15s));
}

}  // namespace
