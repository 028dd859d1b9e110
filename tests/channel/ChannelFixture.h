// A channel model on a private bus with its scripted card, and what the
// model announced, recorded under a lock.
#pragma once

#include "ScriptedCard.h"

#include "status/ScpiRegister.h"
#include "status/ScpiRegisterManager.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace channeltest {

constexpr int kChannel = 2;

inline bool conditionBit(ScpiRegister& reg, int bit) { return (reg.getCondition() >> bit) & 1; }
inline bool measurementBit(int bit) {
    return conditionBit(ScpiRegisterManager::instance()->getMeasurementRegister(), bit);
}
inline bool operationBit(int bit) {
    return conditionBit(ScpiRegisterManager::instance()->getOperationRegister(), bit);
}
inline bool questionableBit(int bit) {
    return conditionBit(ScpiRegisterManager::instance()->getQuestionableRegister(), bit);
}

class ChannelFixture : public ::testing::Test {
protected:
    ChannelFixture() : bus(testsupport::uniqueBusName("ch")), card(bus, kChannel), model(kChannel, bus.c_str()) {
        // Mode reports only where a test sends them: each one recomputes the
        // samples per average.
        card.echoMode = false;
        // The status registers are process-wide: start every test clean.
        auto* scpi = ScpiRegisterManager::instance();
        scpi->getMeasurementRegister().clear();
        scpi->getOperationRegister().clear();
        scpi->getQuestionableRegister().clear();
        model.signalNewReading().connect([this](int, float v, float, float, float, float, int status) {
            std::lock_guard<std::mutex> lock(mutex);
            readings.push_back(v);
            statuses.push_back(status);
        });
        model.signalChannelStatusChanged().connect([this](int, int s) {
            std::lock_guard<std::mutex> lock(mutex);
            channelStatuses.push_back(s);
        });
        model.signalZeroingStateChanged().connect([this](int, int s) {
            std::lock_guard<std::mutex> lock(mutex);
            zeroStates.push_back(s);
        });
        model.signalError().connect([this](int ch, int code) {
            std::lock_guard<std::mutex> lock(mutex);
            errors.push_back(code);
            EXPECT_EQ(ch, kChannel);
        });
        model.signalRangeChanged().connect([this](int, int r) {
            std::lock_guard<std::mutex> lock(mutex);
            rangeAnnouncements.push_back(r);
        });
        model.signalOverRangeChanged().connect([this](int, bool over) {
            std::lock_guard<std::mutex> lock(mutex);
            overRangeChanges.push_back(over);
        });
    }

    ~ChannelFixture() override { model.stopCan(); }

    // Link started and card-ready handled (the settings load has ended).
    void startAndCardReady() {
        testing::internal::CaptureStdout();
        model.startCan();
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(testsupport::waitUntil([this] { return model.isCardPresent(); }));
        card.out().sendCardReady(kChannel);
        ASSERT_TRUE(testsupport::waitUntil([this] { return model.saveTimer().isActive(); }))
            << "settings load did not end";
    }

    // Link, card-ready, probe found and settled: channel status 2.  The rate
    // timer is stopped so that sample skips stay 0 and the test deterministic.
    void makeReady(int probeClass = 3) {
        startAndCardReady();
        card.insertProbe(probeClass);
        ASSERT_TRUE(testsupport::waitUntil([this] { return model.getChannelStatus() == 2; }));
        model.rate().stop();
        // The range commands of the settings defaults and the settling have
        // been echoed once no operation bit is left.
        ASSERT_TRUE(testsupport::waitUntil([] { return !operationBit(kChannel); }));
    }

    // The channel announced status s: its signal comes after everything the
    // change does (zero state, status bits, timers).
    bool waitForStatus(int s) {
        return testsupport::waitUntil([this, s] {
            const auto all = copyOf(channelStatuses);
            return !all.empty() && all.back() == s;
        });
    }

    // The card confirmed range r and the model has taken its RangeSpec.
    bool waitForRange(int r) {
        return testsupport::waitUntil([this, r] {
            return model.getRange() == r && model.getRangeSpec()->getRangeName() == model.getRangeName(r);
        });
    }

    std::size_t readingCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return readings.size();
    }

    // Sends n samples and waits for the readings they make.
    void feed(float value, int n, std::size_t expectedReadings, int status = 0) {
        const std::size_t before = readingCount();
        card.sendSamples(value, n, status);
        ASSERT_TRUE(testsupport::waitUntil([&] { return readingCount() >= before + expectedReadings; }))
            << readingCount() - before << " of " << expectedReadings << " readings";
    }

    template <typename T>
    std::vector<T> copyOf(const std::vector<T>& v) {
        std::lock_guard<std::mutex> lock(mutex);
        return v;
    }

    testsupport::TempSandbox sandbox;
    std::string bus;
    ScriptedCard card;

    // Declared before the model, so they outlive it: a timer handler still
    // running while the model goes records into them until its thread ends.
    std::mutex mutex;
    std::vector<float> readings;
    std::vector<int> statuses;
    std::vector<int> channelStatuses;
    std::vector<int> zeroStates;
    std::vector<int> errors;
    std::vector<int> rangeAnnouncements;
    std::vector<bool> overRangeChanges;

    TestChannel model;
};

}  // namespace channeltest
