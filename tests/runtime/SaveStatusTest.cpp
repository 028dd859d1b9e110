// A file's saves: the failure reported once per episode, on the console and
// to the sink, and the end of the episode on the console.
#include "runtime/SaveStatus.h"

#include "runtime/Logger.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

namespace {

class SaveStatusTest : public ::testing::Test {
protected:
    void SetUp() override {
        Logger::instance()->setOutput(&console);
        SaveStatus::setSink([this](const std::string& detail) { reports.push_back(detail); });
    }
    void TearDown() override {
        SaveStatus::setSink(nullptr);
        Logger::instance()->setOutput(nullptr);
    }
    std::vector<std::string> consoleLines() {
        std::vector<std::string> lines;
        std::istringstream in(console.str());
        std::string line;
        while (std::getline(in, line)) lines.push_back(line.substr(line.find("Storage")));
        return lines;
    }
    std::ostringstream console;
    std::vector<std::string> reports;
};

TEST_F(SaveStatusTest, AFailureIsReportedOncePerEpisode) {
    SaveStatus status("settings file bp");
    struct Save {
        bool ok;
        int error;
        bool failingAfter;
    };
    // Two episodes: the second failure of each is silent.
    const Save saves[] = {{true, 0, false},     {false, ENOSPC, true}, {false, ENOSPC, true},
                          {true, 0, false},     {true, 0, false},      {false, EMFILE, true},
                          {false, ENOSPC, true}, {true, 0, false}};
    for (const Save& s : saves) {
        EXPECT_EQ(s.ok, status.record(s.ok, s.error));
        EXPECT_EQ(s.failingAfter, status.isFailing());
    }
    EXPECT_EQ(reports, (std::vector<std::string>{"settings file bp not saved: No space left on device",
                                                 "settings file bp not saved: Too many open files"}));
    EXPECT_EQ(consoleLines(),
              (std::vector<std::string>{
                  "Storage             settings file bp not saved: No space left on device; trying again",
                  "Storage             settings file bp saved",
                  "Storage             settings file bp not saved: Too many open files; trying again",
                  "Storage             settings file bp saved"}));
}

TEST_F(SaveStatusTest, EachFileHasEpisodesOfItsOwn) {
    SaveStatus bp("settings file bp");
    SaveStatus ch1("settings file ch1");
    bp.record(false, ENOSPC);
    ch1.record(false, ENOSPC);
    bp.record(false, ENOSPC);
    EXPECT_EQ(reports, (std::vector<std::string>{"settings file bp not saved: No space left on device",
                                                 "settings file ch1 not saved: No space left on device"}));
    // Without a sink the console still has it.
    SaveStatus::setSink(nullptr);
    SaveStatus errs("error queue file errs");
    errs.record(false, EFBIG);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(consoleLines().back(), "Storage             error queue file errs not saved: File too large; trying again");
}

}  // namespace
