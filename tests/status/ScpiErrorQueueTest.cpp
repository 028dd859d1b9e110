#include "status/ScpiErrorQueue.h"

#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "status/ScpiRegisterManager.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

// A queue on a file of its own, with its own catalogue and status model.
class ErrorQueueTest : public ::testing::Test {
protected:
    ErrorQueueTest() {
        catalogue.add(-100, 2, "", "", "", "Command error", false, false);
        catalogue.add(-200, 2, "", "", "", "Execution error", false, false);
        catalogue.add(-350, 2, "", "", "", "Queue overflow", false, false);
        catalogue.add(-500, 2, "", "", "", "Power on", false, false);
        catalogue.add(4, 3, "PROBE", "", "", "Probe data error", true, true);
        status.signalStatusByteChanged().connect([this](int) { ++statusSignals; });
    }
    std::unique_ptr<ScpiErrorQueue> makeQueue() {
        return std::make_unique<ScpiErrorQueue>(path, catalogue, status);
    }
    std::unique_ptr<TvlError> error(int code, const std::string& detail = "") {
        auto e = catalogue.lookup(code);
        e->setDetail(detail);
        return e;
    }
    bool errorQueueBit() const { return (status.getStatusByte() & 4) != 0; }

    testsupport::TempSandbox sandbox;
    const std::string path = platform::dataFile("errs");
    ErrorList catalogue;
    ScpiRegisterManager status;
    int statusSignals = 0;
};

}  // namespace

TEST_F(ErrorQueueTest, HoldsTwentyFourThenTheOverflowEntry) {
    auto q = makeQueue();
    for (int i = 0; i < 30; ++i) q->push(error(-200, "entry " + std::to_string(i)));
    ASSERT_EQ(25u, q->size());
    EXPECT_TRUE(errorQueueBit());
    const std::vector<TvlError> all = q->getErrors();
    for (int i = 0; i < 24; ++i) EXPECT_EQ("entry " + std::to_string(i), all[i].getDetail());
    EXPECT_EQ(-350, all[24].getCode());
    EXPECT_EQ("Queue overflow", all[24].getScpiText());
    EXPECT_EQ("", all[24].getDetail());

    // Popping walks from the oldest; bit 2 goes with the last entry.
    for (int i = 0; i < 24; ++i) EXPECT_EQ("entry " + std::to_string(i), q->popOldest()->getDetail());
    EXPECT_EQ(-350, q->popOldest()->getCode());
    EXPECT_FALSE(errorQueueBit());
    EXPECT_EQ(nullptr, q->popOldest());
}

TEST_F(ErrorQueueTest, NewestIsACopyLeftInTheQueue) {
    auto q = makeQueue();
    EXPECT_EQ(nullptr, q->newest());
    q->push(error(-100, "FOO"));
    q->push(error(-200, ":MEAS:FLUX? with no probe"));
    auto a = q->newest();
    auto b = q->newest();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(-200, a->getCode());
    a->setDetail("changed");
    EXPECT_EQ(":MEAS:FLUX? with no probe", q->newest()->getDetail());
    EXPECT_EQ(2u, q->size());
    EXPECT_TRUE(errorQueueBit());
    q->push(nullptr);   // nothing to keep
    EXPECT_EQ(2u, q->size());
}

TEST_F(ErrorQueueTest, ChangedFlagAndStatusSignals) {
    auto q = makeQueue();
    EXPECT_FALSE(q->isChanged());
    const int before = statusSignals;
    EXPECT_EQ(nullptr, q->popOldest());   // empty: bit 2 cleared and signalled, not changed
    EXPECT_EQ(before + 1, statusSignals);
    EXPECT_FALSE(q->isChanged());
    q->clear();                           // empty clear still counts as a change
    EXPECT_TRUE(q->isChanged());
    q->saveIfDirty();
    EXPECT_FALSE(q->isChanged());
    EXPECT_EQ("", readFile(path));
    // A full queue ignores further pushes entirely.
    for (int i = 0; i < 25; ++i) q->push(error(-100));
    q->saveIfDirty();
    const int full = statusSignals;
    q->push(error(-100));
    EXPECT_FALSE(q->isChanged());
    EXPECT_EQ(full, statusSignals);
}

TEST_F(ErrorQueueTest, FileFormat) {
    auto q = makeQueue();
    q->push(error(-500));
    q->push(error(-200, ":MEAS:FLUX? with no probe"));
    q->push(error(-100, "BAD\r\nLINE"));
    q->save();
    EXPECT_EQ("-500,,\n-200,:MEAS:FLUX? with no probe,\n-100,BAD  LINE,\n", readFile(path));
    // Replaced whole, no temporary file left behind.
    q->clear();
    q->save();
    EXPECT_EQ("", readFile(path));
    DIR* dir = opendir(platform::resolve(platform::path::kDataDir).c_str());
    ASSERT_NE(nullptr, dir);
    int others = 0;
    while (dirent* d = readdir(dir)) {
        const std::string name = d->d_name;
        if (name.rfind("errs", 0) == 0 && name != "errs") ++others;
    }
    closedir(dir);
    EXPECT_EQ(0, others);
}

TEST_F(ErrorQueueTest, LoadingTheFile) {
    struct Case {
        const char* line;
        int code;               // 0: nothing loaded
        const char* detail;
        const char* printed;
    } cases[] = {
        {"-200,:MEAS:FLUX? with no probe,", -200, ":MEAS:FLUX? with no probe", ""},
        {"-500,,", -500, "", ""},
        {"-100,A,B,C,", -100, "A", ""},     // a detail is cut at its first comma
        {"-100,tail", -100, "tail", ""},    // no second comma: to the end of the line
        {"4,Channel 2,", 4, "Channel 2", ""},
        {"-200", 0, "", "error field 2 (-200)\n"},
        {"-200,", 0, "", "error field 2 (-200,)\n"},
        {",detail,", 0, "", ""},
        {"", 0, "", ""},
    };
    for (const Case& c : cases) {
        writeFile(path, std::string(c.line) + "\n");
        testing::internal::CaptureStdout();
        auto q = makeQueue();
        EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout()) << c.line;
        if (c.code == 0) {
            EXPECT_EQ(0u, q->size()) << c.line;
            continue;
        }
        ASSERT_EQ(1u, q->size()) << c.line;
        auto e = q->newest();
        EXPECT_EQ(c.code, e->getCode()) << c.line;
        EXPECT_EQ(c.detail, e->getDetail()) << c.line;
        EXPECT_FALSE(q->isChanged()) << c.line;   // a freshly loaded queue is not rewritten
    }
    // The message text comes from the catalogue again.
    writeFile(path, "-200,:MEAS:FLUX? with no probe,\n");
    EXPECT_EQ("Execution error", makeQueue()->newest()->getScpiText());
}

TEST_F(ErrorQueueTest, ThirtyLineFileLoadsTwentyFourAndOverflow) {
    std::string contents;
    for (int i = 0; i < 30; ++i) contents += "-100,cmd" + std::to_string(i) + ",\n";
    writeFile(path, contents);
    auto q = makeQueue();
    ASSERT_EQ(25u, q->size());
    EXPECT_EQ("cmd23", q->getErrors()[23].getDetail());
    EXPECT_EQ(-350, q->newest()->getCode());
    EXPECT_TRUE(errorQueueBit());   // already set before anyone pushes
    q->push(error(-500));           // the start-up's power-on entry is dropped
    EXPECT_EQ(-350, q->newest()->getCode());
}

TEST_F(ErrorQueueTest, RoundTripKeepsEveryEntryAfterALongDetail) {
    const std::string longDetail = ":SYST:" + std::string(2000, 'X') + "? with no probe";
    {
        auto q = makeQueue();
        q->push(error(-500));
        q->push(error(-100, longDetail));
        q->push(error(-200, ":MEAS:FLUX? with no probe"));
        q->push(error(4, "Channel 3"));
        q->saveIfDirty();
    }
    auto restored = makeQueue();
    const std::vector<TvlError> all = restored->getErrors();
    ASSERT_EQ(4u, all.size());
    EXPECT_EQ(-500, all[0].getCode());
    EXPECT_EQ(-100, all[1].getCode());
    EXPECT_EQ(longDetail, all[1].getDetail());
    EXPECT_EQ(-200, all[2].getCode());
    EXPECT_EQ(":MEAS:FLUX? with no probe", all[2].getDetail());
    EXPECT_EQ(4, all[3].getCode());
    EXPECT_EQ("Probe data error", all[3].getScpiText());
    EXPECT_EQ("Channel 3", all[3].getDetail());
}

TEST_F(ErrorQueueTest, MissingFile) {
    std::remove(path.c_str());
    auto q = makeQueue();
    EXPECT_EQ(0u, q->size());
}

// Disk full, no descriptor left, or no folder: the old file stays whole,
// the failure is reported once, and the tick writes the queue as soon as it
// can, with no other change in between.
TEST_F(ErrorQueueTest, AFailedSaveIsReportedOnceAndTriedAgainUntilItSucceeds) {
    using testsupport::FailingWrites;
    for (FailingWrites::Kind kind : {FailingWrites::FileSizeLimit, FailingWrites::NoDescriptors}) {
        SCOPED_TRACE(FailingWrites::name(kind));
        std::vector<std::string> reports;
        SaveStatus::setSink([&](const std::string& detail) { reports.push_back(detail); });
        auto q = makeQueue();
        q->clear();
        q->push(error(-500));
        ASSERT_TRUE(q->saveIfDirty());
        q->push(error(-100, "NEW"));
        {
            FailingWrites full(kind);
            EXPECT_FALSE(q->saveIfDirty());
            EXPECT_FALSE(q->saveIfDirty());
        }
        EXPECT_EQ("-500,,\n", readFile(path));
        EXPECT_TRUE(q->isChanged());
        EXPECT_EQ(reports, std::vector<std::string>{"error queue file errs not saved: " + FailingWrites::reason(kind)});
        EXPECT_TRUE(q->saveIfDirty());
        EXPECT_EQ("-500,,\n-100,NEW,\n", readFile(path));
        EXPECT_FALSE(q->isChanged());
        EXPECT_EQ(reports.size(), 1u);
        SaveStatus::setSink(nullptr);
    }
    ScpiErrorQueue nowhere("/tmp/tvl-no-such-dir/errs", catalogue, status);
    nowhere.push(error(-100));
    EXPECT_FALSE(nowhere.saveIfDirty());
    EXPECT_TRUE(nowhere.isChanged());
}

// The program's own files that cannot be written are -250 entries.
TEST_F(ErrorQueueTest, MassStorageErrorIsInTheShippedCatalogue) {
    ErrorList shipped;
    shipped.load(platform::dataFile("ErrorDefinitions.csv"));
    auto q = std::make_unique<ScpiErrorQueue>(path, shipped, status);
    q->clear();
    q->pushError(ScpiErrorQueue::kMassStorageErrorCode, "settings file bp not saved: No space left on device");
    const std::unique_ptr<TvlError> e = q->newest();
    EXPECT_EQ(-250, e->getCode());
    EXPECT_EQ("Mass storage error", e->getScpiText());
    EXPECT_EQ("settings file bp not saved: No space left on device", e->getDetail());
}

TEST_F(ErrorQueueTest, InstanceUsesTheDataFolderFile) {
    writeFile(path, "-200,from file,\n");
    ScpiErrorQueue* q = ScpiErrorQueue::instance();
    ASSERT_NE(nullptr, q);
    EXPECT_EQ(q, ScpiErrorQueue::instance());
    EXPECT_EQ(path, q->getPath());
    ASSERT_EQ(1u, q->size());
    EXPECT_EQ("from file", q->newest()->getDetail());
    EXPECT_EQ("Execution error", q->newest()->getScpiText());   // the shipped catalogue
    EXPECT_NE(0, ScpiRegisterManager::instance()->getStatusByte() & 4);
    q->clear();
    q->save();
}

TEST_F(ErrorQueueTest, ConcurrentProducersAndConsumers) {
    auto q = makeQueue();
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 3000; ++i) q->push(error(-200, "producer " + std::to_string(t)));
        });
    threads.emplace_back([&] {
        while (!stop) q->popOldest();
    });
    threads.emplace_back([&] {
        while (!stop) {
            if (auto n = q->newest()) {
                EXPECT_TRUE(n->getCode() == -350 || n->getDetail().rfind("producer", 0) == 0);
            }
            for (const TvlError& e : q->getErrors()) EXPECT_NE(0, e.getCode());
        }
    });
    threads.emplace_back([&] {
        while (!stop) q->saveIfDirty();
    });
    for (int t = 0; t < 3; ++t) threads[t].join();
    stop = true;
    for (std::size_t t = 3; t < threads.size(); ++t) threads[t].join();
    while (q->popOldest()) {
    }
    EXPECT_FALSE(errorQueueBit());
    q->saveIfDirty();
    EXPECT_EQ("", readFile(path));
}
