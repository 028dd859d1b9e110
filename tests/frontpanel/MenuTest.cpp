// The soft-button menus: item operations, what show puts on the buttons,
// the radio mark, activation of entries, and the toolkit lock around every
// change (menus are changed from the key link's thread and timers while the
// GUI thread draws them).
#include "../widgets/WidgetTestSupport.h"

#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "frontpanel/MenuFooter.h"
#include "frontpanel/SoftButton.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// Six named entries "a" .. "f" and the names a menu holds, as "a b c".
struct Entries {
    std::array<std::unique_ptr<MenuElement>, 7> e;
    Entries() {
        const char* names[] = {"a", "b", "c", "d", "e", "f", "x"};
        for (int i = 0; i < 7; ++i) e[i] = std::make_unique<MenuElement>(names[i]);
    }
    MenuElement* operator[](char name) { return e[name == 'x' ? 6 : name - 'a'].get(); }
    void fill(Menu& m, const char* names) {
        for (const char* p = names; *p; ++p) m.addItem((*this)[*p]);
    }
};

std::string contents(const Menu& m) {
    std::string s;
    for (int i = 0; i < m.getItemCount(); ++i) {
        if (!s.empty()) s += ' ';
        s += m.getItem(i) ? m.getItem(i)->name() : "-";
    }
    return s;
}

class MenuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testgui::ensureGuiThread(); }
    MenuTest() {
        for (int i = 0; i < 6; ++i) {
            owned[i] = std::make_unique<SoftButton>(508, 62 * i, 132, 60, "Button");
            buttons[i] = owned[i].get();
        }
    }
    std::array<std::unique_ptr<SoftButton>, 6> owned;
    SoftButton* buttons[6];
    MenuFooter footer{508, 374, 132, 107, "Main Menu"};
    Entries entries;
};

TEST_F(MenuTest, ItemOperationsKeepTheItemsContiguous) {
    struct Case {
        const char* name;
        const char* start;
        std::function<void(Menu&, Entries&)> change;
        const char* after;
    };
    const Case cases[] = {
        {"insert in the middle of five", "abcde", [](Menu& m, Entries& e) { m.insertItem(3, e['x']); }, "a b c x d e"},
        {"insert at the top", "ab", [](Menu& m, Entries& e) { m.insertItem(0, e['x']); }, "x a b"},
        {"insert into a full menu", "abcdef", [](Menu& m, Entries& e) { m.insertItem(3, e['x']); }, "a b c d e f"},
        {"insert past the last item appends", "abc", [](Menu& m, Entries& e) { m.insertItem(5, e['x']); }, "a b c x"},
        {"insert at -1 or 6", "abc", [](Menu& m, Entries& e) { m.insertItem(-1, e['x']); m.insertItem(6, e['x']); }, "a b c"},
        {"remove the middle item", "abcde", [](Menu& m, Entries& e) { m.removeItem(e['c']); }, "a b d e"},
        {"remove an absent item", "abc", [](Menu& m, Entries& e) { m.removeItem(e['x']); }, "a b c"},
        {"remove at an index", "abc", [](Menu& m, Entries&) { m.removeItemAt(0); m.removeItemAt(5); m.removeItemAt(-1); }, "b c"},
        {"set an item", "abc", [](Menu& m, Entries& e) { m.setItem(1, e['x']); }, "a x c"},
        {"set at -1 or 6", "abc", [](Menu& m, Entries& e) { m.setItem(-1, e['x']); m.setItem(6, e['x']); }, "a b c"},
        {"remove all", "abcdef", [](Menu& m, Entries&) { m.removeAllItems(); }, ""},
        {"remove all with a slot set to null", "abc", [](Menu& m, Entries&) { m.setItem(0, nullptr); m.removeAllItems(); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Menu m("Test");
        entries.fill(m, c.start);
        c.change(m, entries);
        EXPECT_EQ(contents(m), c.after);
        // Slots past the items hold nothing.
        EXPECT_EQ(m.getItem(m.getItemCount()), nullptr);
        EXPECT_EQ(m.getItem(-1), nullptr);
    }
}

TEST_F(MenuTest, AddItemReportsTheSlotOrSixWhenFull) {
    Menu m("Test");
    for (int i = 0; i < 6; ++i) EXPECT_EQ(m.addItem(entries['a' + i]), i);
    EXPECT_EQ(m.addItem(entries['x']), 6);
    EXPECT_EQ(contents(m), "a b c d e f");
    EXPECT_TRUE(m.hasItem(entries['f']));
    EXPECT_FALSE(m.hasItem(entries['x']));
}

TEST_F(MenuTest, ShowPutsTheItemsOnTheTopButtonsAndBlanksTheRest) {
    Menu m("Channel 1\nAC Freq\nSetup");
    entries.fill(m, "abc");
    m.setItemStyle(1, 1);
    m.setItemStyle(4, 1);   // no item there: the button stays plain
    m.setItemStyle(-1, 1);
    m.setItemStyle(6, 1);
    m.setTitleSize(16);
    buttons[3]->setStyle(1);
    m.show(buttons, 6, &footer);

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(buttons[i]->label(), m.getItem(i)->name());   // the name buffer itself
        EXPECT_EQ(buttons[i]->style(), i == 1 ? 1 : 0);
    }
    for (int i = 3; i < 6; ++i) {
        EXPECT_STREQ(buttons[i]->label(), "");
        EXPECT_EQ(buttons[i]->style(), 0);
    }
    for (SoftButton* b : buttons) EXPECT_EQ(b->damage() & FL_DAMAGE_ALL, FL_DAMAGE_ALL);
    EXPECT_STREQ(footer.label(), "Channel 1\nAC Freq\nSetup");
    EXPECT_NE(footer.label(), m.getTitle());   // the footer keeps a copy
    EXPECT_EQ(footer.titleSize(), 16);
    EXPECT_EQ(m.getItemStyle(6), 0);

    // A new name shows at the next refresh, on the same buttons.
    entries['b']->setName("Stop Data\nLogging");
    m.removeItem(entries['a']);
    m.refresh();
    EXPECT_STREQ(buttons[0]->label(), "Stop Data\nLogging");
    EXPECT_STREQ(buttons[2]->label(), "");
}

TEST_F(MenuTest, NamesAndTitlesAreCutToTheirBuffers) {
    const std::string longText(60, 'W');
    MenuElement element(longText.c_str());
    EXPECT_EQ(std::string(element.name()), longText.substr(0, 39));
    element.setName(longText.c_str());
    EXPECT_EQ(std::string(element.name()), longText.substr(0, 39));
    Menu m(longText.c_str());
    EXPECT_EQ(std::string(m.getTitle()), longText.substr(0, 39));
    m.setTitle(longText.c_str());
    EXPECT_EQ(std::string(m.getTitle()), longText.substr(0, 39));
}

// What activating an entry emits, in order: the data signal whenever the
// entry carries data, the activation signal only while it is enabled.
TEST_F(MenuTest, ActivationEmitsDataThenActionWhileEnabled) {
    struct Case {
        bool withData;
        bool enabled;
        const char* events;
    };
    const Case cases[] = {{false, true, "action"}, {true, true, "data action"},
                          {true, false, "data"}, {false, false, ""}};
    int target = 0;
    for (const Case& c : cases) {
        MenuElement element("Link", c.withData ? &target : nullptr);
        element.setEnabled(c.enabled);
        std::string events;
        element.signalData().connect([&](void* data) {
            EXPECT_EQ(data, &target);
            events += events.empty() ? "data" : " data";
        });
        element.signalActivated().connect([&] { events += events.empty() ? "action" : " action"; });
        Menu m("Test");
        m.addItem(&element);
        m.select(0);
        EXPECT_EQ(events, c.events) << c.withData << c.enabled;
        m.select(1);   // an empty button
        m.select(-1);
        m.select(9);
        EXPECT_EQ(events, c.events);
    }
}

TEST_F(MenuTest, RadioMenuMarksTheSelectedItemOnly) {
    RadioButtonMenu m("Flux\nDensity");
    entries.fill(m, "abcd");
    m.show(buttons, 6, &footer);
    for (SoftButton* b : buttons) EXPECT_EQ(b->style(), 0);

    m.setItemStyle(0, 1);   // a radio menu's marks follow its selection alone
    m.setSelected(2);
    m.refresh();
    for (int i = 0; i < 6; ++i) EXPECT_EQ(buttons[i]->style(), i == 2 ? 1 : 0) << i;

    for (int none : {5, 7, -1}) {   // 5: no item there, a blank button is never marked
        m.setSelected(none);
        m.refresh();
        for (SoftButton* b : buttons) EXPECT_EQ(b->style(), 0) << none;
    }
}

TEST_F(MenuTest, RadioSelectMovesTheMarkExceptOntoBlankOrNotApplicable) {
    RadioButtonMenu m("Channel 1\nRange");
    entries.fill(m, "abcd");
    entries['c']->setName("N/A");
    entries['c']->setEnabled(false);
    int actions = 0;
    for (char n : {'a', 'b', 'c', 'd'}) entries[n]->signalActivated().connect([&] { ++actions; });

    // Never shown: nothing to read the labels from, the mark stays.
    m.select(1);
    EXPECT_EQ(m.getSelected(), -1);
    EXPECT_EQ(actions, 1);

    m.setSelected(0);
    m.show(buttons, 6, &footer);
    m.select(1);
    EXPECT_EQ(m.getSelected(), 1);
    EXPECT_EQ(buttons[1]->style(), 1);   // shown at once
    EXPECT_EQ(buttons[0]->style(), 0);
    EXPECT_EQ(actions, 2);

    m.select(2);   // "N/A": no mark, no action
    m.select(4);   // blank
    m.select(-1);
    m.select(6);
    m.select(40);
    EXPECT_EQ(m.getSelected(), 1);
    EXPECT_EQ(buttons[1]->style(), 1);
    EXPECT_EQ(actions, 2);
}

// Three cards becoming ready together change menus from three threads while
// the GUI thread draws them: every change waits for the toolkit lock.
TEST_F(MenuTest, EveryChangeWaitsForTheToolkitLock) {
    RadioButtonMenu m("Test");
    entries.fill(m, "abc");
    m.show(buttons, 6, &footer);
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"addItem", [&] { m.addItem(entries['d']); }},
        {"insertItem", [&] { m.insertItem(0, entries['e']); }},
        {"removeItem", [&] { m.removeItem(entries['e']); }},
        {"setItem", [&] { m.setItem(0, entries['a']); }},
        {"removeAllItems", [&] { m.removeAllItems(); m.addItem(entries['a']); }},
        {"setItemStyle", [&] { m.setItemStyle(1, 1); }},
        {"setSelected", [&] { m.setSelected(0); }},
        {"setTitle", [&] { m.setTitle("Other"); }},
        {"setName", [&] { entries['a']->setName("Renamed"); }},
        {"show", [&] { m.show(buttons, 6, &footer); }},
        {"refresh", [&] { m.refresh(); }},
        {"select", [&] { m.select(0); }},
    };
    for (const auto& change : changes)
        EXPECT_FALSE(testgui::finishesWhileToolkitLocked(change.second)) << change.first;
    EXPECT_STREQ(buttons[0]->label(), "Renamed");
}

}  // namespace
