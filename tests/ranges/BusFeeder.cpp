// Items as frames from a second endpoint on a private emulated bus, the way a
// channel card sends them.
#include "ProbeFeeder.h"

#include "can/CANinterface.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

constexpr int kChannel = 1;

class BusFeeder : public ProbeFeeder {
public:
    BusFeeder() : bus(testsupport::uniqueBusName("rp")), host(bus.c_str()), card(bus.c_str()) {}

    void attach(Probe& probe) override {
        probe.attach(&host);
        // Counted after the probe's slots have run.
        host.signalProbeData().connect([this](int, const char*) { ++received; });
        host.signalProbePresence().connect([this](int) { ++received; });
        EXPECT_EQ(host.startReader(), 0);
    }

    void item(int kind, const ItemBytes& bytes) override {
        EXPECT_EQ(card.sendProbeDataBytes(kChannel, kind, reinterpret_cast<const char*>(bytes.data()), 7), 0);
        ++sent;
    }

    void presence(int state) override {
        EXPECT_EQ(card.sendProbePresence(kChannel, state), 0);
        ++sent;
    }

    void flush() override {
        EXPECT_TRUE(testsupport::waitUntil([this] { return received.load() == sent; }))
            << received.load() << " of " << sent << " frames arrived";
    }

private:
    testsupport::TempSandbox sandbox{false};   // the bus file lives in it
    std::string bus;
    CANinterface host;   // the channel's link, which the probe listens to
    CANinterface card;   // stands in for the channel card
    std::atomic<long> received{0};
    long sent = 0;
};

}  // namespace

std::unique_ptr<ProbeFeeder> makeBusFeeder() { return std::make_unique<BusFeeder>(); }
