// The message pop-up and the engineering password page.
#include "../widgets/WidgetTestSupport.h"

#include "frontpanel/EngineeringPasswordDisplay.h"
#include "frontpanel/MessagePopup.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Input.H>
#include <gtest/gtest.h>

#include <string>

namespace {

class PopupPasswordTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testgui::ensureGuiThread(); }
};

TEST_F(PopupPasswordTest, PopupShowsTheMessageAndAsksForEnter) {
    MessagePopup popup(50, 100, 400, 100);
    EXPECT_FALSE(popup.visible());
    ASSERT_EQ(popup.children(), 1);
    const Fl_Widget* box = popup.child(0);
    EXPECT_EQ(box->x(), 0);
    EXPECT_EQ(box->y(), 0);
    EXPECT_EQ(box->w(), 400);
    EXPECT_EQ(box->h(), 100);
    EXPECT_EQ(box->box(), FL_PLASTIC_UP_BOX);
    EXPECT_EQ(box->labelfont(), FL_COURIER);
    EXPECT_EQ(box->labelsize(), 16);
    EXPECT_EQ(static_cast<unsigned>(box->labelcolor()), unsigned(FL_BLACK));

    popup.showMessage("No probe connected.");
    EXPECT_STREQ(popup.message(), "No probe connected.\n\n(Press <Enter> button to continue.)");
    EXPECT_TRUE(popup.visible());
    popup.hide();

    const std::string longText(2000, 'x');   // no fixed buffer to overflow
    popup.showMessage(longText.c_str());
    EXPECT_EQ(std::string(popup.message()), longText + MessagePopup::kEnterPrompt);
    popup.hide();
}

TEST_F(PopupPasswordTest, PasswordMatchesOnlyTheFiveDigitsExactly) {
    EngineeringPasswordDisplay page(5, 5, 498, 240);
    ASSERT_NE(page.getInput(0), nullptr);
    EXPECT_STREQ(page.getInput(0)->label(), "Password: ");
    ASSERT_NE(page.getStatusBox(), nullptr);
    EXPECT_FALSE(page.getStatusBox()->visible());
    EXPECT_FALSE(page.checkPassword());   // empty field

    struct Case {
        const char* entry;
        bool accepted;
    };
    const Case cases[] = {{"58214", true}, {"582140", false}, {"5821", false},
                          {"58215", false}, {"58214.", false}, {"", false}};
    for (const Case& c : cases) {
        page.getInput(0)->value(c.entry);
        EXPECT_EQ(page.checkPassword(), c.accepted) << c.entry;
    }
    page.clear();
    EXPECT_STREQ(page.getInput(0)->value(), "");
}

}  // namespace
