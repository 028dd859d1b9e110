// Work handed to the GUI thread: order kept, redraws of a widget merged.
#include "frontpanel/GuiThread.h"

#include <FL/Fl_Box.H>
#include <gtest/gtest.h>

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

}  // namespace
