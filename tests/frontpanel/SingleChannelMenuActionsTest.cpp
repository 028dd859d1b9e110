// The menu actions on the single-channel model (only the card in slot 2).
#include "MenusFixture.h"

#include "frontpanel/Menu.h"

#include <gtest/gtest.h>

std::vector<unsigned> menustest::answeringSlots() { return {2}; }

// The channels' menus keep their "AC Freq Setup" links; the meter still
// enters waveform mode.
TEST(SingleChannelMenuActions, RemoveAcFreqEntriesLeavesTheMenus) {
    menustest::Instrument& inst = menustest::Instrument::get();
    MainWindow& w = inst.window();
    ASSERT_FALSE(inst.meter().isThreeChannelModel());
    int counts[3];
    for (int i = 0; i < 3; ++i) counts[i] = w.channelMenus[i]->getItemCount();
    w.removeAcFreqEntries();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(w.channelMenus[i]->hasItem(w.acFreqEntries[i]));
        EXPECT_EQ(w.channelMenus[i]->getItemCount(), counts[i]);
    }
    EXPECT_TRUE(inst.meter().isWaveformMode());
}
