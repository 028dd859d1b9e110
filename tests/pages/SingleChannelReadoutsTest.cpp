// The readouts on the single-channel model: only the card in slot 2
// answers.
#include "PagesTestSupport.h"

#include "pages/NumericDisplay.h"
#include "pages/WaveFormDisplay.h"

#include <gtest/gtest.h>

using namespace pagestest;
using W = WaveFormDisplay;

namespace {

class SingleChannel : public ::testing::Test {
protected:
    Instrument& inst = instrument({2}, true);
    Screen screen;
};

TEST_F(SingleChannel, ASlotWithoutACardShowsSo) {
    ASSERT_FALSE(inst.meter()->isThreeChannelModel());
    auto& panel = screen.make<NumericDisplay>(0, 0, 508, 160, rgb(0, 255, 255), FL_BLACK, 1, true);
    screen.show();
    EXPECT_TRUE(screen.waitFor([&] { return panel.block(NumericDisplay::kReading).shownText() == "No Card Present"; }))
        << panel.block(NumericDisplay::kReading).shownText();
}

TEST_F(SingleChannel, TheWaveformViewShowsSlotTwoOnly) {
    inst.makeReady(2);
    ChannelModel& ch = inst.channel(2);
    inst.card(2).out().sendModeReply(2, 1, 0, 610.0f);
    ASSERT_TRUE(testsupport::waitUntil([&] { return ch.getMode() == 1; }));
    auto& view = screen.make<W>(0, 0, 508, 480);
    screen.show();
    EXPECT_TRUE(screen.waitFor([&] {
        inst.feed(2, 3.0f);
        return view.cell(W::headerCell(2, W::kReading)).shownText() != "";
    }));
    EXPECT_EQ(view.cell(W::headerCell(2, W::kLabel)).shownText(), "");
    EXPECT_NE(view.cell(W::headerCell(2, W::kRange)).shownText(), "");
    for (int slot : {1, 3})
        for (int c = 0; c < W::kHeaderCells; ++c)
            EXPECT_EQ(view.cell(W::headerCell(slot, static_cast<W::Cell>(c))).shownText(), "") << slot << " " << c;
    EXPECT_EQ(view.cell(W::kTriggerChannel).shownText(), "");
    EXPECT_EQ(view.cell(W::kTriggerLabel).shownText(), "Trig");
    screenshot(screen, "waveform-single");
}

}  // namespace
