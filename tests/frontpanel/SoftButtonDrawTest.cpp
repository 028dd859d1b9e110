// The look of the soft buttons and the footer, read back from the display.
#include "../widgets/WidgetTestSupport.h"

#include "frontpanel/MenuFooter.h"
#include "frontpanel/SoftButton.h"

#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

namespace {

using testgui::rgbOf;

class SoftButtonDrawTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testgui::ensureGuiThread(); }
};

TEST_F(SoftButtonDrawTest, PlainMarkedAndPressedLooks) {
    struct Case {
        const char* name;
        int style;
        bool pressed;
        Fl_Color face, outline, text;
    };
    const Case cases[] = {
        {"plain", 0, false, FL_BLACK, FL_WHITE, FL_WHITE},
        {"marked", 1, false, FL_BLACK, FL_YELLOW, FL_YELLOW},
        {"pressed", 0, true, FL_WHITE, FL_BLACK, FL_BLACK},
        {"pressed and marked", 1, true, FL_WHITE, FL_YELLOW, FL_YELLOW},
    };
    Fl_Window win(4 * 140, 60);
    win.color(FL_RED);   // neither a face nor an outline colour
    SoftButton* buttons[4];
    for (int i = 0; i < 4; ++i) buttons[i] = new SoftButton(140 * i, 0, 132, 60, "Max\nHold");
    win.end();
    for (int i = 0; i < 4; ++i) {
        buttons[i]->setStyle(cases[i].style);
        if (cases[i].pressed) buttons[i]->press();
    }
    testgui::Canvas shot(&win);
    shot.paint();
    for (int i = 0; i < 4; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const int x = 140 * i;
        // Face: inset 5 pixels; the left edge of its outline runs down x + 5.
        EXPECT_EQ(shot.at(x + 20, 12), rgbOf(c.face));
        EXPECT_EQ(shot.at(x + 5, 30), rgbOf(c.outline));
        EXPECT_EQ(shot.at(x + 127, 30), rgbOf(c.outline));
        // The thick outline of a marked button reaches two pixels inward.
        EXPECT_EQ(shot.at(x + 7, 30) == rgbOf(c.outline), c.style == 1);
        // Two label lines, centred, in the outline's colour.
        EXPECT_EQ(shot.rowBands(x + 20, 10, 92, 40, c.text), 2);
        EXPECT_EQ(shot.count(x + 10, 10, 112, 40, c.face == FL_WHITE ? FL_BLACK : FL_WHITE) == 0,
                  c.style == 1);
    }

    // Redrawn alone (the mark moved, the key was released), a button leaves
    // nothing of its former look around its face.
    buttons[2]->release();
    buttons[1]->setStyle(0);
    buttons[1]->redraw();
    shot.paint(false);
    const testgui::Canvas& changed = shot;
    EXPECT_EQ(changed.at(2 * 140 + 20, 12), rgbOf(FL_BLACK));
    EXPECT_EQ(changed.at(2 * 140 + 5, 30), rgbOf(FL_WHITE));
    EXPECT_EQ(changed.at(140 + 5, 30), rgbOf(FL_WHITE));
    EXPECT_EQ(changed.count(140, 0, 132, 60, FL_YELLOW), 0);
}

TEST_F(SoftButtonDrawTest, FooterShowsATitleOfThreeLinesWhiteOnBlue) {
    Fl_Window win(132, 107);
    win.color(FL_BLACK);
    auto* footer = new MenuFooter(0, 0, 132, 107, "Main Menu");
    win.end();
    footer->setTitle("Channel 1\nAC Freq\nSetup", 20);
    testgui::Canvas shot(&win);
    shot.paint();
    EXPECT_EQ(shot.at(15, 10), rgbOf(FL_BLUE));
    EXPECT_EQ(shot.at(5, 53), rgbOf(FL_WHITE));
    EXPECT_EQ(shot.at(4, 53), rgbOf(FL_WHITE));   // two pixels wide
    EXPECT_EQ(shot.at(2, 53), rgbOf(FL_BLACK));   // outside the face
    EXPECT_EQ(shot.rowBands(10, 8, 112, 91, FL_WHITE), 3);
}

}  // namespace
