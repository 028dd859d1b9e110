#include "status/ScpiRegister.h"
#include "status/ScpiRegisterManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

// Counts a register's summary signals and keeps the last value.
struct SummaryProbe {
    int count = 0;
    bool last = false;
    explicit SummaryProbe(ScpiRegister& r) {
        r.signalSummary().connect([this](bool on) {
            ++count;
            last = on;
        });
    }
};

// Every status byte the manager announces.
struct StatusProbe {
    std::vector<int> bytes;
    explicit StatusProbe(ScpiRegisterManager& m) {
        m.signalStatusByteChanged().connect([this](int b) { bytes.push_back(b); });
    }
};

}  // namespace

TEST(ScpiRegister, ConditionBitsLatchIntoTheEventWord) {
    ScpiRegister r;
    r.setConditionBit(3);
    r.setConditionBit(10);
    r.clearConditionBit(3);
    EXPECT_EQ(1 << 10, r.getCondition());
    EXPECT_EQ((1 << 3) | (1 << 10), r.getEvent());   // a cleared condition stays latched
    // Reading returns the latch and leaves event = condition.
    EXPECT_EQ((1 << 3) | (1 << 10), r.readEvent());
    EXPECT_EQ(1 << 10, r.getEvent());
    EXPECT_EQ(1 << 10, r.readEvent());
    // clear() drops both words, keeps the enable.
    r.setEnable(0xFF);
    r.clear();
    EXPECT_EQ(0, r.getCondition());
    EXPECT_EQ(0, r.getEvent());
    EXPECT_EQ(0xFF, r.getEnable());
    // Bits outside 0-31 are ignored.
    r.setConditionBit(32);
    r.setConditionBit(-1);
    EXPECT_EQ(0, r.getCondition());
    r.setConditionBit(31);
    EXPECT_EQ(INT32_MIN, r.getCondition());
}

TEST(ScpiRegister, ClearOnReadEmptiesBothWords) {
    ScpiRegister r;
    r.setClearOnRead();
    r.setConditionBit(5);
    EXPECT_EQ(32, r.readEvent());
    EXPECT_EQ(0, r.getCondition());
    EXPECT_EQ(0, r.readEvent());
}

TEST(ScpiRegister, SummaryFollowsTheEnabledPartOfTheEvent) {
    ScpiRegister r;
    SummaryProbe probe(r);
    r.setConditionBit(1);                  // not enabled: no summary
    EXPECT_EQ(0, probe.count);
    r.setEnable(1 << 2);                   // setEnable always emits
    EXPECT_EQ(1, probe.count);
    EXPECT_FALSE(probe.last);
    r.setConditionBit(2);
    EXPECT_EQ(2, probe.count);
    EXPECT_TRUE(probe.last);
    r.setConditionBit(2);                  // enabled part unchanged: no summary
    r.setConditionBit(4);
    EXPECT_EQ(2, probe.count);
    r.setEnable(1 << 2);                   // same value: emits again
    EXPECT_EQ(3, probe.count);
    EXPECT_TRUE(probe.last);
    r.clearConditionBit(2);                // the event keeps bit 2: no summary
    EXPECT_EQ(3, probe.count);
    r.readEvent();                         // event := condition, bit 2 gone
    EXPECT_EQ(4, probe.count);
    EXPECT_FALSE(probe.last);
    r.clearEnable();
    EXPECT_EQ(5, probe.count);
}

TEST(ScpiRegisterManager, PowerOnState) {
    ScpiRegisterManager m;
    EXPECT_EQ(128, m.getStandardEventRegister().getCondition());
    EXPECT_EQ(128, m.getStandardEventRegister().getEvent());
    EXPECT_TRUE(m.getStandardEventRegister().isClearOnRead());
    EXPECT_EQ(0, m.getOperationRegister().getCondition());
    EXPECT_EQ(1, m.getOperationRegister().getEvent());
    EXPECT_EQ(0, m.getMeasurementRegister().getEvent());
    EXPECT_EQ(0, m.getQuestionableRegister().getEvent());
    EXPECT_EQ(0, m.getStatusByte());
    EXPECT_EQ(0, m.getSrqEnable());
}

TEST(ScpiRegisterManager, EachSummaryDrivesItsStatusBit) {
    struct Case {
        const char* name;
        ScpiRegister& (ScpiRegisterManager::*reg)();
        int statusBit;
    } cases[] = {
        {"measurement", &ScpiRegisterManager::getMeasurementRegister, 0},
        {"questionable", &ScpiRegisterManager::getQuestionableRegister, 3},
        {"standard event", &ScpiRegisterManager::getStandardEventRegister, 5},
        {"operation", &ScpiRegisterManager::getOperationRegister, 7},
    };
    for (const Case& c : cases) {
        ScpiRegisterManager m;
        StatusProbe status(m);
        ScpiRegister& r = (m.*c.reg)();
        r.setEnable(1 << 9);
        r.setConditionBit(9);
        EXPECT_EQ(1 << c.statusBit, m.getStatusByte()) << c.name;
        ASSERT_FALSE(status.bytes.empty());
        EXPECT_EQ(m.getStatusByte(), status.bytes.back()) << c.name;
        r.clear();
        EXPECT_EQ(0, m.getStatusByte()) << c.name;
        EXPECT_EQ(0, status.bytes.back()) << c.name;
    }
}

TEST(ScpiRegisterManager, MasterSummaryAndServiceRequestEnable) {
    ScpiRegisterManager m;
    StatusProbe status(m);
    m.setStatusBit(2);
    EXPECT_EQ(4, m.getStatusByte());
    ASSERT_EQ(1u, status.bytes.size());

    m.setSrqEnable(4);                      // bit 6 comes on: signalled
    EXPECT_EQ(4 | 64, m.getStatusByte());
    EXPECT_EQ(2u, status.bytes.size());
    m.setSrqEnable(4 | 8);                  // byte unchanged: not signalled
    EXPECT_EQ(2u, status.bytes.size());

    m.setSrqEnable(64 | 4);                 // with bit 6 enabled, bit 6 keeps itself on ...
    m.clearStatusBit(2);
    EXPECT_EQ(64, m.getStatusByte());
    EXPECT_EQ(64, status.bytes.back());
    m.setSrqEnable(4);                      // ... until an enable without bit 6 recomputes it
    EXPECT_EQ(0, m.getStatusByte());
    EXPECT_EQ(0, status.bytes.back());

    m.setStatusBit(8);                      // outside the byte: ignored
    m.setStatusBit(-1);
    EXPECT_EQ(0, m.getStatusByte());
}

TEST(ScpiRegisterManager, ClearAllClearsEventsButKeepsConditionsAndEnables) {
    ScpiRegisterManager m;
    m.getMeasurementRegister().setEnable(8);
    m.getMeasurementRegister().setConditionBit(3);
    m.getOperationRegister().setEnable(0xFFFF);
    m.getStandardEventRegister().setEnable(128);
    m.setSrqEnable(255);
    m.setStatusBit(2);
    ASSERT_EQ(1 | 4 | 32 | 64 | 128, m.getStatusByte());

    testing::internal::CaptureStdout();
    m.ClearAll();
    EXPECT_EQ("ScpiRegisterManager::ClearAll()\n", testing::internal::GetCapturedStdout());
    for (ScpiRegister* r : {&m.getStandardEventRegister(), &m.getMeasurementRegister(),
                            &m.getOperationRegister(), &m.getQuestionableRegister()})
        EXPECT_EQ(0, r->getEvent());
    EXPECT_EQ(8, m.getMeasurementRegister().getEnable());
    EXPECT_EQ(255, m.getSrqEnable());
    EXPECT_EQ(4 | 64, m.getStatusByte());   // the error-queue bit is not the registers'

    // A condition that still holds (a probe ready) is still reported, and
    // latches into the event again when it next changes.
    EXPECT_EQ(0, m.getStandardEventRegister().getCondition());
    EXPECT_EQ(8, m.getMeasurementRegister().getCondition());
    m.getMeasurementRegister().clearConditionBit(3);
    EXPECT_EQ(0, m.getMeasurementRegister().getEvent());
    m.getMeasurementRegister().setConditionBit(3);
    EXPECT_EQ(8, m.getMeasurementRegister().getEvent());
    EXPECT_EQ(1 | 4 | 64, m.getStatusByte());
}

TEST(ScpiRegisterManager, ConcurrentUpdatesLoseNothing) {
    ScpiRegisterManager m;
    ScpiRegister& meas = m.getMeasurementRegister();
    meas.setEnable(0xFFFF);
    std::atomic<int> lastDelivered{-1};
    m.signalStatusByteChanged().connect([&](int b) { lastDelivered = b; });
    std::vector<std::thread> threads;
    for (int bit = 0; bit < 16; ++bit)
        threads.emplace_back([&meas, bit] {
            for (int i = 0; i < 2000; ++i) {
                meas.setConditionBit(bit);
                if (i != 1999) meas.clearConditionBit(bit);
            }
        });
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&m] {
            for (int k = 0; k < 2000; ++k) {
                m.setStatusBit(2);
                m.clearStatusBit(2);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(0xFFFF, meas.getCondition());
    EXPECT_EQ(0xFFFF, meas.getEvent());
    EXPECT_EQ(1, m.getStatusByte());
    EXPECT_EQ(m.getStatusByte(), lastDelivered.load());
}
