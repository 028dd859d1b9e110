// The on-screen keypad: layout, typing with the three soft-button actions,
// the upper limits with their beep, attaching and detaching fields, and
// keys that arrive once the page was left.
#include "../widgets/WidgetTestSupport.h"

#include "frontpanel/NumericKeypad.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "widgets/Form.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

class Page : public Form {
public:
    Page() : Form(5, 5, 498, 411) {
        addInput("First: ");
        addInput("Second: ");
        addStatusBox();
        hideMessage();
        end();
    }
};

class NumericKeypadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testgui::ensureGuiThread(); }

    // Moves the selection onto the key of c ("0"-"9", ".", "<" for "<-")
    // with "-->" and presses it.
    void press(char c) {
        const int target = c == '.' ? 10 : c == '<' ? 11 : c - '0';
        for (int i = 0; i < 12 && keypad.selectedKey() != target; ++i) keypad.selectNextKey();
        ASSERT_EQ(keypad.selectedKey(), target);
        keypad.pressSelectedKey();
    }
    void type(const char* keys) {
        for (const char* k = keys; *k; ++k) press(*k);
    }
    // Console tones requested so far (a beep is two).
    static unsigned long tones() { return platform::toneCount(); }

    testsupport::TempSandbox sandbox;
    Page page;
    NumericKeypad keypad{5, 420, 498, 50};
    Fl_Input* first = page.getInput(0);
    Fl_Input* second = page.getInput(1);
};

TEST_F(NumericKeypadTest, TwelveKeysInOneRowWithTheFirstSelected) {
    EXPECT_EQ(static_cast<unsigned>(keypad.color()), 0x271f8a00u);
    EXPECT_EQ(keypad.box(), FL_RFLAT_BOX);
    ASSERT_EQ(keypad.children(), 12);
    const char* labels[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", ".", "<-"};
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        Fl_Button* key = keypad.key(i);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(keypad.child(i), key);
        EXPECT_STREQ(key->label(), labels[i]);
        EXPECT_EQ(key->x(), 5 + 7 + 41 * i);
        EXPECT_EQ(key->y(), 426);
        EXPECT_EQ(key->w(), 37);
        EXPECT_EQ(key->h(), 38);
        const bool selected = i == 0;
        EXPECT_EQ(key->box(), selected ? FL_PLASTIC_UP_BOX : FL_FLAT_BOX);
        EXPECT_EQ(static_cast<unsigned>(key->color()), unsigned(selected ? FL_GREEN : FL_WHITE));
        EXPECT_EQ(static_cast<unsigned>(key->labelcolor()), unsigned(FL_BLACK));
        EXPECT_EQ(static_cast<unsigned>(key->selection_color()), unsigned(FL_BLUE));
        EXPECT_EQ(key->labelsize(), selected ? 30 : 24);
    }
    EXPECT_EQ(keypad.key(11)->x(), 5 + 458);
    EXPECT_EQ(keypad.key(12), nullptr);
    EXPECT_EQ(keypad.getAttachedInput(), nullptr);
}

TEST_F(NumericKeypadTest, SelectionWrapsAndSkipsDisabledKeys) {
    keypad.selectPreviousKey();
    EXPECT_EQ(keypad.selectedKey(), 11);
    EXPECT_EQ(keypad.key(11)->box(), FL_PLASTIC_UP_BOX);
    EXPECT_EQ(keypad.key(0)->box(), FL_FLAT_BOX);
    keypad.selectNextKey();
    EXPECT_EQ(keypad.selectedKey(), 0);

    keypad.attachInput(first);
    keypad.disableKey(10);
    for (int ignored : {0, -1, 12, 40}) keypad.disableKey(ignored);
    EXPECT_TRUE(keypad.isKeyDisabled(10));
    for (int i : {0, -1, 12}) EXPECT_FALSE(keypad.isKeyDisabled(i));
    keypad.selectPreviousKey();   // 0 -> 11
    keypad.selectPreviousKey();   // 11 -> 9, over the disabled "."
    EXPECT_EQ(keypad.selectedKey(), 9);
    keypad.selectNextKey();
    EXPECT_EQ(keypad.selectedKey(), 11);

    // Disabled keys belong to one attachment.
    keypad.attachInput(second);
    EXPECT_FALSE(keypad.isKeyDisabled(10));
    keypad.selectPreviousKey();
    EXPECT_EQ(keypad.selectedKey(), 10);
}

TEST_F(NumericKeypadTest, UpperLimitsTakeTheDigitBackWithABeep) {
    struct Case {
        const char* name;
        int intMax;       // -1: none
        float floatMax;   // < 0: none
        const char* keys;
        const char* text;
        bool beeps;
    };
    const Case cases[] = {
        {"GPIB address 30", 30, -1, "30", "30", false},
        {"31 is over 30", 30, -1, "31", "3", true},
        {"50 is over 30", 30, -1, "50", "5", true},
        {"profile 11 is over 10", 10, -1, "11", "1", true},
        {"profile 10", 10, -1, "10", "10", false},
        {"full scale 10.0 V", -1, 10.0f, "10.0", "10.0", false},
        {"10.05 is over 10", -1, 10.0f, "10.05", "10.0", true},
        {"a lone point counts as 0", -1, 10.0f, ".", ".", false},
        {"no limit", -1, -1, "192.168.001", "192.168.001", false},
        {"backspace", -1, -1, "12<3", "13", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        first->value("");
        keypad.attachInput(first);
        if (c.intMax >= 0) keypad.setIntMax(c.intMax);
        if (c.floatMax >= 0) keypad.setFloatMax(c.floatMax);
        const unsigned long before = tones();
        type(c.keys);
        EXPECT_STREQ(first->value(), c.text);
        EXPECT_EQ(tones() > before, c.beeps);
    }
    // Attaching again clears the limit set before.
    first->value("");
    keypad.attachInput(first);
    type("99");
    EXPECT_STREQ(first->value(), "99");
}

TEST_F(NumericKeypadTest, BackspaceDeletesBeforeTheCursorOnly) {
    keypad.attachInput(first);
    first->value("123");
    first->position(0);
    press('<');
    EXPECT_STREQ(first->value(), "123");
    first->position(2);
    press('<');
    EXPECT_STREQ(first->value(), "13");
    EXPECT_EQ(first->position(), 1);
}

TEST_F(NumericKeypadTest, AttachingMakesTheFieldEditableAndDetachingGivesItsLookBack) {
    const Fl_Boxtype box = first->box();
    const unsigned colour = first->color();
    const unsigned text = first->textcolor();
    keypad.attachInput(first);
    EXPECT_EQ(keypad.getAttachedInput(), first);
    EXPECT_TRUE(first->active());
    EXPECT_EQ(first->box(), FL_PLASTIC_DOWN_BOX);
    EXPECT_EQ(static_cast<unsigned>(first->textcolor()), unsigned(FL_BLACK));

    // Attached twice (the entry pressed again): the look saved first stays.
    keypad.attachInput(first);
    keypad.attachInput(nullptr);
    EXPECT_EQ(keypad.getAttachedInput(), nullptr);
    EXPECT_FALSE(first->active());
    EXPECT_EQ(first->box(), box);
    EXPECT_EQ(static_cast<unsigned>(first->color()), colour);
    EXPECT_EQ(static_cast<unsigned>(first->textcolor()), text);

    // Moving to another field gives the first its look back: one field at a
    // time looks editable.
    keypad.attachInput(first);
    keypad.attachInput(second);
    EXPECT_FALSE(first->active());
    EXPECT_EQ(first->box(), box);
    EXPECT_TRUE(second->active());
    keypad.attachInput(nullptr);
    EXPECT_FALSE(second->active());
    EXPECT_EQ(second->box(), box);
}

// The keypad's entries stay on the soft keys' menus; a key that arrives
// after the page was left must not write into the hidden form.
TEST_F(NumericKeypadTest, KeysWriteNothingOnceThePageIsLeft) {
    press('5');   // nothing attached
    keypad.attachInput(first);
    first->value("");
    type("12");
    ASSERT_STREQ(first->value(), "12");

    page.hide();
    press('3');
    EXPECT_STREQ(first->value(), "12");
    EXPECT_EQ(keypad.getAttachedInput(), nullptr);   // detached: read-only again
    EXPECT_FALSE(first->active());

    page.show();
    keypad.attachInput(first);
    keypad.hide();   // the keypad itself taken off the screen
    press('4');
    EXPECT_STREQ(first->value(), "12");
    EXPECT_EQ(keypad.getAttachedInput(), nullptr);
}

// The soft-button actions run on the key link's thread and change the keys
// under the toolkit lock.
TEST_F(NumericKeypadTest, SoftButtonActionsWaitForTheToolkitLock) {
    keypad.attachInput(first);
    EXPECT_FALSE(testgui::finishesWhileToolkitLocked([&] { keypad.selectNextKey(); }));
    EXPECT_FALSE(testgui::finishesWhileToolkitLocked([&] { keypad.selectPreviousKey(); }));
    EXPECT_FALSE(testgui::finishesWhileToolkitLocked([&] { keypad.pressSelectedKey(); }));
    EXPECT_STREQ(first->value(), "0");
}

}  // namespace
