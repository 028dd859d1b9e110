// The owner of what the start-up step starts: it frees its objects the last
// kept first, at stop() and at its own end, and each once.
#include "frontpanel/StartupOwner.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Part {
    Part(std::vector<std::string>& log, std::string name) : log(log), name(std::move(name)) {}
    ~Part() { log.push_back(name); }
    std::vector<std::string>& log;
    std::string name;
};

struct OtherPart : Part {
    using Part::Part;
};

TEST(StartupOwner, StopFreesTheLastKeptFirstAndOnlyOnce) {
    std::vector<std::string> freed;
    StartupOwner owner;
    Part* tcp = owner.keep(std::make_unique<Part>(freed, "tcp"));
    owner.keep(std::make_unique<Part>(freed, "serial"));
    owner.keep(std::make_unique<OtherPart>(freed, "gpib"));
    owner.keep(std::make_unique<Part>(freed, "json"));
    EXPECT_EQ(owner.keep(std::unique_ptr<Part>()), nullptr) << "nothing to keep";
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(tcp->name, "tcp") << "keep hands the object back";
    EXPECT_EQ(owner.size(), 4u);
    EXPECT_TRUE(freed.empty());

    owner.stop();
    EXPECT_EQ(freed, (std::vector<std::string>{"json", "gpib", "serial", "tcp"}));
    EXPECT_EQ(owner.size(), 0u);
    owner.stop();
    EXPECT_EQ(freed.size(), 4u);
}

TEST(StartupOwner, ItsEndStopsWhatItStillKeeps) {
    std::vector<std::string> freed;
    {
        StartupOwner owner;
        owner.keep(std::make_unique<Part>(freed, "first"));
        owner.keep(std::make_unique<Part>(freed, "second"));
    }
    EXPECT_EQ(freed, (std::vector<std::string>{"second", "first"}));
}

}  // namespace
