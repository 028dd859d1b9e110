// The vector-sum readout on the program's meter model: three single-axis
// probes on scripted cards give the X, Y and Z components.
#include "PagesTestSupport.h"

#include "pages/VectorSumDisplay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace pagestest;
using V = VectorSumDisplay::Block;

namespace {

class VectorSumReadout : public ::testing::Test {
protected:
    void SetUp() override {
        for (int slot = 1; slot <= 3; ++slot) inst.makeReady(slot);
        for (int slot = 1; slot <= 3; ++slot) inst.channel(slot).setRange(0);
    }
    VectorSumDisplay& build(int h) {
        panel = &screen.make<VectorSumDisplay>(0, 360, 508, 120, FL_BLUE, FL_BLACK);
        panel->resize(0, 480 - h, 508, h);
        screen.show();
        return *panel;
    }
    ::testing::AssertionResult shows(V b, const std::string& text) {
        if (screen.waitFor([&] { return panel->block(b).shownText() == text; }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "cell " << b << " shows \"" << panel->block(b).shownText()
                                             << "\", not \"" << text << "\"";
    }
    // Feeds the three components until the cell shows the text (the
    // lowest ready slot's reading completes each sum).
    ::testing::AssertionResult showsFed(float x, float y, float z, V b, const std::string& text) {
        if (screen.waitFor([&] {
                inst.feed(2, y);
                inst.feed(3, z);
                inst.feed(1, x);
                return panel->block(b).shownText() == text;
            }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "cell " << b << " shows \"" << panel->block(b).shownText()
                                             << "\", not \"" << text << "\"";
    }

    Instrument& inst = instrument();
    Screen screen;
    VectorSumDisplay* panel = nullptr;
};

TEST_F(VectorSumReadout, MagnitudeAnglesAndTheLayoutsByHeight) {
    build(120);
    EXPECT_EQ(panel->layoutIndex(), 2);
    EXPECT_TRUE(showsFed(3.0f, 4.0f, 0.0f, V::kMagnitude, "5.0000"));
    EXPECT_TRUE(shows(V::kUnit, "G"));
    EXPECT_EQ(panel->block(V::kLabelX).shownText(), "X:");
    EXPECT_EQ(panel->block(V::kLabelZ).shownText(), "Z:");
    // Angles to the axes, in degrees: acos(3/5), acos(4/5), 90.
    EXPECT_TRUE(shows(V::kAngleX, "53.13\xB0"));
    EXPECT_TRUE(shows(V::kAngleY, "36.87\xB0"));
    EXPECT_TRUE(shows(V::kAngleZ, "90.00\xB0"));
    EXPECT_STREQ(panel->shownTitle(), "Vector Sum");
    screenshot(screen, "vectorsum-120", 0, 360, 508, 120);

    // At 120 pixels the labels share one row; at 480 they stack.
    struct Case {
        int h, layout;
        int xs[3], ys[3];
        int magnitudeSize;
    } cases[] = {
        {120, 2, {25, 145, 265}, {463, 463, 463}, 42},
        {240, 1, {25, 145, 265}, {459, 459, 459}, 55},
        {121, 1, {25, 145, 265}, {459, 459, 459}, 55},
        {241, 0, {25, 25, 25}, {403, 427, 451}, 68},
        {480, 0, {25, 25, 25}, {403, 427, 451}, 68},
    };
    for (const Case& c : cases) {
        panel->resize(0, 480 - c.h, 508, c.h);
        EXPECT_EQ(panel->layoutIndex(), c.layout) << c.h;
        EXPECT_EQ(panel->block(V::kMagnitude).getSize(), c.magnitudeSize) << c.h;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(panel->block(static_cast<V>(V::kLabelX + i)).getX(), c.xs[i]) << c.h << " label " << i;
            EXPECT_EQ(panel->block(static_cast<V>(V::kLabelX + i)).getCentreY(), c.ys[i]) << c.h << " label " << i;
        }
    }
    panel->resize(0, 0, 508, 480);
    panel->redraw();
    screen.pump();
    screenshot(screen, "vectorsum-480");

    // Radians.
    inst.meter()->setAngleUnits(1);
    EXPECT_TRUE(shows(V::kAngleZ, "1.571rad"));
    inst.meter()->setAngleUnits(0);
}

TEST_F(VectorSumReadout, RelativeSignFromTheStoredOffsetAndHolds) {
    build(160);
    MeterModel* meter = inst.meter();
    EXPECT_TRUE(showsFed(3.0f, 4.0f, 0.0f, V::kMagnitude, "5.0000"));

    meter->setVectorSumRelativeOffset(-2.0f);
    meter->setVectorSumManualRelative();
    EXPECT_TRUE(shows(V::kRelativeLabel, "Rel: -"));
    EXPECT_TRUE(shows(V::kRelativeValue, "2.0000"));
    EXPECT_TRUE(shows(V::kRelativeUnit, "G"));
    // Entering the offset: the entry's sign and the selected digit.
    meter->editVectorSumRelativeOffset();
    EXPECT_TRUE(shows(V::kRelativeValue, "02.0000"));
    EXPECT_EQ(panel->block(V::kRelativeValue).shownHighlightStart(), 6);
    EXPECT_EQ(panel->block(V::kRelativeLabel).shownText(), "Rel: -");
    meter->editToggleSign();
    EXPECT_TRUE(shows(V::kRelativeLabel, "Rel: "));
    meter->setVectorSumManualRelative();
    EXPECT_TRUE(shows(V::kRelativeValue, "2.0000"));
    // The stored offset, now positive; the entry is left positive too.
    EXPECT_EQ(panel->block(V::kRelativeLabel).shownText(), "Rel: ");
    // A stored negative offset with a positive entry left behind.
    meter->setVectorSumRelativeOffset(-1.5f);
    meter->setVectorSumManualRelative();
    EXPECT_FALSE(meter->isEditValueNegative());
    EXPECT_TRUE(shows(V::kRelativeLabel, "Rel: -"));
    EXPECT_TRUE(shows(V::kRelativeValue, "1.5000"));
    meter->disableVectorSumRelative();
    EXPECT_TRUE(shows(V::kRelativeLabel, ""));
    EXPECT_TRUE(showsFed(3.0f, 4.0f, 0.0f, V::kMagnitude, "5.0000"));

    // Only the minimum hold: the first row stays empty.
    meter->setVectorSumMinHoldEnabled(true);
    meter->setVectorSumMaxHoldEnabled(false);
    meter->resetVectorSumHolds();
    meter->setVectorSumHoldActive(true);
    EXPECT_TRUE(screen.waitFor([&] { return panel->shownHolds(); }));
    EXPECT_STREQ(panel->holdBox().shownValue(0), "");
    EXPECT_STREQ(panel->holdBox().shownValue(1), "5.0000");
    meter->setVectorSumMaxHoldEnabled(true);
    EXPECT_TRUE(screen.waitFor([&] { return std::string(panel->holdBox().shownValue(0)) == "5.0000"; }));
    screenshot(screen, "vectorsum-holds", 0, 320, 508, 160);
    meter->setVectorSumHoldActive(false);
    EXPECT_TRUE(screen.waitFor([&] { return !panel->shownHolds(); }));

    // Demo mode widens the title.
    meter->enterDemoMode();
    meter->setAngleUnits(0);
    EXPECT_TRUE(screen.waitFor([&] { return std::string(panel->shownTitle()) == "Vector Sum - Demo Mode"; }));
}

TEST_F(VectorSumReadout, EverySignalAsksForAFullRepaintFromAnyThread) {
    build(120);
    MeterModel* meter = inst.meter();
    std::function<void()> emits[] = {
        [&] { meter->signalVectorSumUpdated().emit(1, 0, 0, 0); },
        [&] { meter->signalVectorSumHoldsChanged().emit(true, true, true); },
        [&] { meter->signalAngleUnitsChanged().emit(0); },
        [&] { meter->signalVectorSumRelativeChanged().emit(0); },
    };
    for (auto& emit : emits) {
        screen.pump();
        panel->clear_damage();
        std::thread(emit).join();
        EXPECT_EQ(panel->damage(), 0);
        gui::runPending();
        EXPECT_EQ(panel->damage(), FL_DAMAGE_ALL);
    }
}

}  // namespace
