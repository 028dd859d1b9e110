// The settings a user changed before a settings file was first read: what is
// recorded and when, and the merge of those values into the file's.
#include "runtime/EarlySettings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <sstream>
#include <thread>

namespace {

using Pairs = EarlySettings::Pairs;

TEST(EarlySettingsMerge, KeptValuesTakeThePlaceOfTheFilesOrFollowIt) {
    struct Case {
        const char* what;
        Pairs file;
        Pairs kept;
        Pairs merged;
    };
    const Case cases[] = {
        {"nothing kept", {{"a:", "1"}, {"b:", "2"}}, {}, {{"a:", "1"}, {"b:", "2"}}},
        {"in place", {{"a:", "1"}, {"b:", "2"}, {"c:", "3"}}, {{"b:", "7"}}, {{"a:", "1"}, {"b:", "7"}, {"c:", "3"}}},
        {"every occurrence", {{"a:", "1"}, {"b:", "2"}, {"a:", "4"}}, {{"a:", "9"}},
         {{"a:", "9"}, {"b:", "2"}, {"a:", "9"}}},
        {"missing keys appended in the order kept", {{"a:", "1"}}, {{"c:", "3"}, {"b:", "2"}, {"a:", "0"}},
         {{"a:", "0"}, {"c:", "3"}, {"b:", "2"}}},
        {"no file", {}, {{"b:", "2"}}, {{"b:", "2"}}},
    };
    for (const Case& c : cases) EXPECT_EQ(EarlySettings::merge(c.file, c.kept), c.merged) << c.what;
}

TEST(EarlySettingsMerge, PairsAreReadAsTheChannelReaderTakesThem) {
    std::istringstream in("mode: 1\nrange:\n2 autorange: x\nlonely:");
    const Pairs pairs = EarlySettings::readPairs(in);
    EXPECT_EQ(pairs, (Pairs{{"mode:", "1"}, {"range:", "2"}, {"autorange:", "x"}}));
}

TEST(EarlySettings, RecordsTheLastValueOfEachKeyUntilTheFirstReadingOnly) {
    EarlySettings early;
    early.note("b:", 1);
    early.note("a:", true);
    early.note("b:", 4);
    early.noteFloat("f:", 0.1f);
    {
        EarlySettings::Applying applying;   // a file being applied on this thread
        early.note("c:", 5);
    }
    const Pairs kept = early.beginReading();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0], (std::pair<std::string, std::string>{"b:", "4"}));
    EXPECT_EQ(kept[1], (std::pair<std::string, std::string>{"a:", "1"}));
    EXPECT_EQ(kept[2].first, "f:");
    EXPECT_EQ(std::strtof(kept[2].second.c_str(), nullptr), 0.1f) << "the float reads back the same";
    early.endReading();

    early.note("d:", 1);
    EXPECT_TRUE(early.beginReading().empty()) << "a later reading keeps nothing";
}

TEST(EarlySettings, ADiscardDropsWhatWasRecorded) {
    EarlySettings early;
    early.note("a:", 1);
    early.discard();
    early.note("b:", 1);
    EXPECT_TRUE(early.beginReading().empty());
}

// A change made while the file is being read waits for the reading to end:
// applied after the file, it is not undone by it.
TEST(EarlySettings, AChangeDuringTheReadingWaitsForItsEnd) {
    EarlySettings early;
    EXPECT_TRUE(early.beginReading().empty());
    {
        EarlySettings::Applying applying;
        early.note("a:", 1);   // the reading thread itself never waits
    }
    auto change = std::async(std::launch::async, [&early] { early.note("a:", 2); });
    EXPECT_EQ(change.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    early.endReading();
    change.get();
    EXPECT_TRUE(early.beginReading().empty());
}

}  // namespace
