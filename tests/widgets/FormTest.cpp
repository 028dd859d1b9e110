// The base of the settings pages: rows stacked 50 pixels apart at the
// form's middle, the status box, and the row lookups.
#include "WidgetTestSupport.h"

#include "widgets/Form.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Geometry {
    int x, y, w, h;
    bool operator==(const Geometry& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};
Geometry geometryOf(const Fl_Widget* w) { return {w->x(), w->y(), w->w(), w->h()}; }
std::ostream& operator<<(std::ostream& os, const Geometry& g) {
    return os << "(" << g.x << ", " << g.y << ", " << g.w << ", " << g.h << ")";
}

// A page as the settings pages make theirs.
class SamplePage : public Form {
public:
    SamplePage(int x, int y, int w, int h) : Form(x, y, w, h) {
        addChoice("Address Mode: ", "DHCP|Manual");
        addInput("IP Address: ");
        addStatusBox();
        hideMessage();
        addInput("After Status: ");
        end();
    }
    int nextRow() const { return nextRowY; }
};

class FormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testgui::ensureGuiThread(); }
};

TEST_F(FormTest, RowsStackFiftyApartAtTheMiddleWithTheStatusBoxTwoRowsHigh) {
    SamplePage page(5, 100, 498, 300);
    EXPECT_EQ(static_cast<unsigned>(page.color()), 0x271f8a00u);
    EXPECT_EQ(page.box(), FL_RFLAT_BOX);
    ASSERT_EQ(page.children(), 4);

    Fl_Choice* choice = page.getChoice(0);
    Fl_Input* input = page.getInput(1);
    Fl_Box* status = page.getStatusBox();
    Fl_Input* after = page.getInput(3);
    ASSERT_TRUE(choice && input && status && after);
    EXPECT_EQ(geometryOf(choice), (Geometry{254, 150, 200, 40}));
    EXPECT_EQ(geometryOf(input), (Geometry{254, 200, 200, 40}));
    EXPECT_EQ(geometryOf(status), (Geometry{35, 250, 438, 80}));
    EXPECT_EQ(geometryOf(after), (Geometry{254, 350, 200, 40}));
    EXPECT_EQ(page.nextRow(), 400);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(page.child(i)->parent(), &page);

    // Choices and inputs: grey on dark grey, size 20; inputs read-only.
    const unsigned grey = 0xa0a0a000;
    EXPECT_STREQ(choice->label(), "Address Mode: ");
    EXPECT_EQ(choice->size(), 3);   // two items and the end mark
    EXPECT_STREQ(choice->menu()[1].label(), "Manual");
    for (Fl_Widget* w : {static_cast<Fl_Widget*>(choice), static_cast<Fl_Widget*>(input)}) {
        EXPECT_EQ(static_cast<unsigned>(w->labelcolor()), grey);
        EXPECT_EQ(static_cast<unsigned>(w->color()), 0x40404000u);
        EXPECT_EQ(w->labelsize(), 20);
    }
    EXPECT_EQ(static_cast<unsigned>(choice->textcolor()), grey);
    EXPECT_EQ(static_cast<unsigned>(input->textcolor()), grey);
    EXPECT_EQ(choice->textsize(), 20);
    EXPECT_EQ(input->textsize(), 20);
    EXPECT_TRUE(choice->active());
    EXPECT_FALSE(input->active());

    // The status box: white on red, hidden until a message comes.
    EXPECT_EQ(static_cast<unsigned>(status->color()), unsigned(FL_RED));
    EXPECT_EQ(static_cast<unsigned>(status->labelcolor()), unsigned(FL_WHITE));
    EXPECT_EQ(status->labelsize(), 20);
    EXPECT_EQ(status->box(), FL_RFLAT_BOX);
    EXPECT_FALSE(status->visible());
}

TEST_F(FormTest, LookupsReturnNullForMissingRowsOrRowsOfTheOtherKind) {
    SamplePage page(5, 5, 498, 411);
    EXPECT_EQ(page.getChoice(1), nullptr);   // an input
    EXPECT_EQ(page.getInput(0), nullptr);    // a choice
    EXPECT_EQ(page.getInput(2), nullptr);    // the status box
    EXPECT_EQ(page.getInput(4), nullptr);
    EXPECT_EQ(page.getChoice(static_cast<unsigned>(-1)), nullptr);
    EXPECT_EQ(page.getInput(0x80000000u), nullptr);

    Form bare(5, 5, 498, 411);
    bare.end();
    EXPECT_EQ(bare.getStatusBox(), nullptr);
    bare.showMessage("nowhere to show");   // no status box: nothing happens
    bare.hideMessage();
}

TEST_F(FormTest, ShowMessageKeepsItsOwnCopy) {
    SamplePage page(5, 5, 498, 411);
    char text[64];
    std::strcpy(text, "Invalid IP Address and\nGateway");
    page.showMessage(text);
    std::strcpy(text, "overwritten");
    EXPECT_STREQ(page.getStatusBox()->label(), "Invalid IP Address and\nGateway");
    EXPECT_TRUE(page.getStatusBox()->visible());
    page.hideMessage();
    EXPECT_FALSE(page.getStatusBox()->visible());
}

}  // namespace
