// Work handed to the GUI thread: order kept, redraws of a widget merged.
#include "widgets/GuiThread.h"

#include <FL/Fl_Box.H>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

class GuiThreadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gui::initGuiThread(); }
    void TearDown() override { gui::runPending(); }
};

TEST_F(GuiThreadTest, PostedWorkRunsOnTheGuiThreadInOrder) {
    std::vector<int> order;
    std::vector<bool> onGui;
    std::thread worker([&] {
        EXPECT_FALSE(gui::isGuiThread());
        for (int i = 0; i < 5; ++i)
            gui::post([&order, &onGui, i] {
                order.push_back(i);
                onGui.push_back(gui::isGuiThread());
            });
    });
    worker.join();
    EXPECT_TRUE(order.empty());   // nothing runs on the posting thread
    gui::runPending();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(onGui, std::vector<bool>(5, true));
    EXPECT_EQ(gui::pendingCount(), 0u);
}

TEST_F(GuiThreadTest, RedrawsOfOneWidgetAreMergedAndForgettable) {
    Fl_Box box(0, 0, 10, 10);
    box.clear_damage();
    gui::redraw(&box, 0x01);
    gui::redraw(&box, 0x04);
    gui::redraw(&box, 0x01);
    EXPECT_EQ(gui::pendingCount(), 1u);
    gui::runPending();
    EXPECT_EQ(box.damage(), 0x05);

    box.clear_damage();
    gui::redraw(&box, 0x02);
    gui::forget(&box);
    gui::runPending();
    EXPECT_EQ(box.damage(), 0);
}

// The models' threads go on posting while the process exits (its static
// objects are destroyed under them): the queue must still be there.  The
// sanitizer builds catch a queue destroyed at exit; so may a plain build.
TEST(GuiThreadDeathTest, PostingGoesOnSafelyWhileTheProcessExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            gui::initGuiThread();
            static std::atomic<int> posted{0};
            for (int t = 0; t < 2; ++t)
                std::thread([] {
                    for (;;) {
                        gui::post([] {});
                        ++posted;
                    }
                }).detach();
            while (posted < 1000) std::this_thread::yield();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
