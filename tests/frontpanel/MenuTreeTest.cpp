// The menu tree as built by the main window: every menu of the table, with
// its title, kind, mark, title size, parent and entries, reached through the
// links, and the window's references to menus and entries.
#include "MenusFixture.h"

#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "frontpanel/MenuTree.h"
#include "widgets/GuiThread.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <utility>

using menustest::Instrument;
using menustest::follow;
using menutree::EntryId;
using menutree::MenuId;

namespace {

using Key = std::pair<MenuId, int>;

// A per-channel kind at channel c, a single one at 0.
Key keyOf(MenuId id, int c) { return {id, menutree::menu(id).perChannel ? c : 0}; }

// The built tree, walked along the table from "Main" and from the entries
// that are not in a menu at start: each instance of the table is checked
// against its menu, and the map tells which menu each instance is.
class TreeWalk {
public:
    explicit TreeWalk(MainWindow& w) {
        reach({MenuId::Main, 0}, w.mainMenu);
        reach({MenuId::Engineer, 0}, w.engineerMenu);
        while (!pending.empty()) {
            const Key key = pending.front();
            pending.pop_front();
            visit(key, built[key]);
        }
    }

    Menu* at(MenuId id, int c = 0) const {
        auto it = built.find(keyOf(id, c));
        return it == built.end() ? nullptr : it->second;
    }
    const std::map<Key, Menu*>& menus() const { return built; }

    // The entries that leave their menus at run time lead where the table says.
    void reachDetached(MenuElement* element, MenuId id, int c = 0) {
        ASSERT_NE(element, nullptr);
        reach(keyOf(id, c), static_cast<Menu*>(element->getData()));
        while (!pending.empty()) {
            const Key key = pending.front();
            pending.pop_front();
            visit(key, built[key]);
        }
    }

private:
    void reach(const Key& key, Menu* menu) {
        ASSERT_NE(menu, nullptr) << "menu kind " << static_cast<int>(key.first) << " channel " << key.second;
        auto it = built.find(key);
        if (it != built.end()) {
            EXPECT_EQ(it->second, menu) << "two menus for kind " << static_cast<int>(key.first) << " channel "
                                        << key.second;
            return;
        }
        built[key] = menu;
        pending.push_back(key);
    }

    void visit(const Key& key, Menu* menu) {
        const menutree::MenuSpec& spec = menutree::menu(key.first);
        const int c = key.second;
        const std::string title = menutree::format(spec.title, c);
        SCOPED_TRACE(title);
        EXPECT_STREQ(menu->getTitle(), title.c_str());
        EXPECT_EQ(menu->getTitleSize(), spec.titleSize);
        auto* radio = dynamic_cast<RadioButtonMenu*>(menu);
        EXPECT_EQ(radio != nullptr, spec.radio);
        // A mark that mirrors a model value has its rule (the test below
        // checks the marks); every other one is the table's.
        EXPECT_EQ(MainWindow::hasModelMark(key.first), spec.mark == menutree::kMarkFromModel);
        if (radio && spec.mark != menutree::kMarkFromModel) {
            const int mark = spec.mark == menutree::kMarkFromDemoMarker ? 0 : spec.mark;   // no marker file
            EXPECT_EQ(radio->getSelected(), mark);
        }
        if (spec.parent != MenuId::None) {
            const Key parent = keyOf(spec.parent, c);
            if (built.count(parent)) EXPECT_EQ(menu->getParent(), built[parent]);
            else parentsToCheck.emplace_back(menu, parent);
        }
        int index = 0;
        for (const menutree::EntrySpec& e : spec.entries) {
            if (!e.placed) continue;
            const int ec = e.entryChannel ? e.entryChannel : c;
            MenuElement* element = menu->getItem(index++);
            ASSERT_NE(element, nullptr) << menutree::format(e.name, ec);
            EXPECT_EQ(element->name(), menutree::format(e.name, ec));
            if (e.opens.menu == MenuId::None) {
                EXPECT_EQ(element->getData(), nullptr) << element->name();
            } else {
                reach(keyOf(e.opens.menu, e.opens.channel ? e.opens.channel : ec),
                      static_cast<Menu*>(element->getData()));
            }
        }
        EXPECT_EQ(menu->getItemCount(), index);
    }

public:
    void checkLateParents() {
        for (auto& p : parentsToCheck) EXPECT_EQ(p.first->getParent(), built.at(p.second));
    }

private:
    std::map<Key, Menu*> built;
    std::deque<Key> pending;
    std::vector<std::pair<Menu*, Key>> parentsToCheck;
};

// A fresh tree: what the builder leaves, before any handler has moved a mark.
MainWindow& freshTree() {
    MainWindow& w = Instrument::get().window();
    w.buildMenus();
    return w;
}

}  // namespace

TEST(MenuTree, EveryMenuOfTheTableIsBuiltAndReachedAsTheTableSays) {
    MainWindow& w = freshTree();
    TreeWalk tree(w);
    tree.reachDetached(w.engineeringElement, MenuId::EngineerPassword);
    tree.reachDetached(w.powerOnEntry, MenuId::PowerOn);
    const MenuId addressPages[4] = {MenuId::ChangeIpAddress, MenuId::ChangeNetmask, MenuId::ChangeGateway,
                                    MenuId::ChangeDns};
    for (int i = 0; i < 4; ++i) tree.reachDetached(w.networkAddressEntries[i], addressPages[i]);
    for (int c = 1; c <= 3; ++c) tree.reachDetached(w.triggerLevelEntries[c - 1], MenuId::ValueEntry, c);
    tree.checkLateParents();

    // Every kind of the table, per-channel kinds three times, and no menu twice.
    std::size_t expected = 0;
    for (const menutree::MenuSpec& spec : menutree::menus()) expected += spec.perChannel ? 3 : 1;
    EXPECT_EQ(tree.menus().size(), expected);
    EXPECT_GT(expected, 70u);
    std::set<Menu*> distinct;
    for (const auto& m : tree.menus()) distinct.insert(m.second);
    EXPECT_EQ(distinct.size(), expected);

    // "Main" is its own parent and current.
    EXPECT_EQ(w.mainMenu->getParent(), w.mainMenu);
    EXPECT_EQ(w.currentMenu, w.mainMenu);
}

TEST(MenuTree, ReferencesHoldTheMenusAndEntriesTheOtherCodeChanges) {
    MainWindow& w = freshTree();
    TreeWalk tree(w);
    tree.reachDetached(w.engineeringElement, MenuId::EngineerPassword);
    tree.reachDetached(w.powerOnEntry, MenuId::PowerOn);
    using M = MenuId;
    const std::vector<std::tuple<Menu*, M, int>> menus = {
        {w.mainMenu, M::Main, 0}, {w.systemMenu, M::System, 0}, {w.systemMoreMenu, M::SystemMore, 0},
        {w.engineerMenu, M::Engineer, 0}, {w.networkConfigMenu, M::NetworkConfig, 0},
        {w.firmwareUpdateMenu, M::FirmwareUpdate, 0}, {w.channelsMenu, M::Channels, 0},
        {w.allChannelsAcFreqMenu, M::AllAcFreq, 0}, {w.fluxUnitMenu, M::FluxUnits, 0},
        {w.temperatureUnitMenu, M::TemperatureUnits, 0}, {w.angleUnitMenu, M::AngleUnits, 0},
        {w.timeUnitMenu, M::TimeUnits, 0}, {w.vectorSumOutputModeMenu, M::VectorSumOutputMode, 0},
        {w.vectorSumScalingMenu, M::VectorSumScaling, 0}, {w.updateRateMenu, M::UpdateRate, 0},
        {w.timeBaseMenu, M::TimeBase, 0}, {w.scaleMenu, M::Scale, 0}, {w.allChannelsHoldMenu, M::AllHold, 0},
        {w.allChannelsZeroMenu, M::AllZero, 0}, {w.allChannelsClassifierMenu, M::AllClassifiers, 0},
        {w.externalOutputsMenu, M::ExternalOutputs, 0}, {w.displayMenu, M::Display, 0},
        {w.displayChannelsMenu, M::DisplayChannels, 0}, {w.vectorSumMenu, M::VectorSum, 0},
        {w.vectorSumHoldMenu, M::VectorSumHold, 0}, {w.vectorSumRelativeMenu, M::VectorSumRelative, 0},
        {w.triggerSetupMenu, M::TriggerSetup, 0}, {w.triggerModeMenu, M::TriggerMode, 0},
        {w.triggerSlopeMenu, M::TriggerSlope, 0}, {w.triggerChannelMenu, M::TriggerChannel, 0},
        {w.waveformMenu, M::Waveform, 0}, {w.profilesMenu, M::Profiles, 0}, {w.powerOnMenu, M::PowerOn, 0},
        // Channel 2's output menus once more, in the order of the single-channel set-up.
        {w.singleChannelAnalogMenus[0], M::AnalogChannel, 2}, {w.singleChannelAnalogMenus[1], M::CorrectedScaling, 2},
        {w.singleChannelAnalogMenus[2], M::CorrectedFullScale, 2}, {w.singleChannelAnalogMenus[3], M::CorrectedMode, 2},
        {w.singleChannelAnalogMenus[4], M::UncorrectedScaling, 2},
        {w.singleChannelAnalogMenus[5], M::UncorrectedMode, 2},
        {w.singleChannelAnalogMenus[6], M::UncorrectedFullScale, 2},
        {w.singleChannelAnalogMenus[7], M::ChannelClassifiers, 2},
    };
    for (const auto& r : menus)
        EXPECT_EQ(std::get<0>(r), tree.at(std::get<1>(r), std::get<2>(r))) << std::get<0>(r)->getTitle();
    for (int c = 1; c <= 3; ++c) {
        const int i = c - 1;
        const std::vector<std::pair<Menu*, M>> perChannel = {
            {w.channelMenus[i], M::Channel},           {w.modeMenus[i], M::ChannelMode},
            {w.rangeMenus[i], M::ChannelRange},        {w.holdMenus[i], M::ChannelHold},
            {w.acFreqMenus[i], M::ChannelAcFreq},      {w.relativeMenus[i], M::ChannelRelative},
            {w.zeroMenus[i], M::ChannelZero},          {w.autoZeroMenus[i], M::ChannelAutoZero},
            {w.valueEntryMenus[i], M::ValueEntry},     {w.classifierMenus[i], M::ChannelClassifiers},
            {w.corrModeMenus[i], M::CorrectedMode},    {w.corrScalingMenus[i], M::CorrectedScaling},
            {w.uncorrModeMenus[i], M::UncorrectedMode}, {w.uncorrScalingMenus[i], M::UncorrectedScaling},
            {w.scaleMenus[i], M::ChannelScale},
        };
        for (const auto& r : perChannel) EXPECT_EQ(r.first, tree.at(r.second, c)) << "channel " << c;
        EXPECT_EQ(w.channelMenus[i]->getItem(3), w.acFreqEntries[i]);
        EXPECT_STREQ(w.acFreqEntries[i]->name(), "AC Freq\nSetup");
        EXPECT_EQ(w.triggerChannelMenu->getItem(i), w.triggerChannelEntries[i]);
        EXPECT_EQ(w.triggerLevelEntries[i]->getData(), w.valueEntryMenus[i]);
    }
    // Only channel 1's "Level" sits in "Trigger Setup" at start.
    EXPECT_EQ(w.triggerSetupMenu->getItem(2), w.triggerLevelEntries[0]);
    EXPECT_FALSE(w.triggerSetupMenu->hasItem(w.triggerLevelEntries[1]));
    EXPECT_FALSE(w.triggerSetupMenu->hasItem(w.triggerLevelEntries[2]));
    EXPECT_EQ(w.triggerSetupMenu->getItem(1), w.triggerSlopeEntry);
    EXPECT_EQ(w.displayMenu->getItem(2), w.displayChannelsEntry);
    EXPECT_EQ(w.displayChannelsMenu->getItem(3), w.vectorSumDisplayEntry);
    EXPECT_EQ(follow(w.mainMenu, {"Data\nLogging", "Log to\nUSB Drive"})->getItem(0), w.usbLoggingEntry);
    EXPECT_EQ(follow(w.mainMenu, {"Data\nLogging", "Log to\nInternal Drive"})->getItem(0), w.internalLoggingEntry);
    EXPECT_STREQ(w.engineeringElement->name(), "Engineering");
    EXPECT_STREQ(w.powerOnEntry->name(), "Power On\nOptions");
    EXPECT_STREQ(w.firmwareUpdateEntries[0]->name(), "Update from\nInternet");
    EXPECT_STREQ(w.firmwareUpdateEntries[1]->name(), "Update from\nUSB drive");
    const char* addressNames[4] = {"Change\nIP Addr", "Change\nNetmask", "Change\nGateway", "Change\nDNS #1"};
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(w.networkAddressEntries[i]->name(), addressNames[i]);
}

// What the screen holds before anything has been reported or pressed.
TEST(MenuTree, AtStartTheRunTimeEntriesAreOutOfTheirMenus) {
    MainWindow& w = freshTree();
    EXPECT_EQ(menustest::names(w.mainMenu),
              (std::vector<std::string>{"Channels", "Units", "Display", "External\nOutputs", "Data\nLogging", "System"}));
    EXPECT_EQ(menustest::names(w.systemMoreMenu), std::vector<std::string>{"Display\nErrors"});
    EXPECT_EQ(w.firmwareUpdateMenu->getItemCount(), 0);
    // DHCP: the address links are not offered.
    EXPECT_EQ(menustest::names(w.networkConfigMenu),
              (std::vector<std::string>{"Save and\nReboot", "Change\nAddr Mode"}));
    // One set of keypad entries serves every keypad page.
    Menu* gpib = follow(w.mainMenu, {"System", "Comm\nSetup", "GPIB\nConfiguration"});
    Menu* year = follow(w.mainMenu, {"System", "Set Date\nand Time", "Change\nYear"});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(gpib->getItem(i), w.profilesMenu->getItem(i));
        EXPECT_EQ(year->getItem(i), w.profilesMenu->getItem(i));
    }
    EXPECT_EQ(menustest::names(gpib), (std::vector<std::string>{"<--", "-->", "Press"}));
    // The hidden key sequence: five codes, none of them a soft key.
    for (int code : w.engineeringSequence) EXPECT_GT(code, 6);
    EXPECT_EQ(w.engineeringSequencePos, 0);
}

TEST(MenuTree, TheDemoMenuMarksTheModeOfTheMarkerFile) {
    Instrument& inst = Instrument::get();
    const std::string marker = inst.file("/var/lib/tarvel/.demo");
    std::ofstream(marker).close();
    MainWindow& w = freshTree();
    auto* demo = dynamic_cast<RadioButtonMenu*>(follow(w.engineerMenu, {"Demo"}));
    ASSERT_NE(demo, nullptr);
    EXPECT_EQ(demo->getSelected(), 1) << "Demo Mode";
    std::remove(marker.c_str());
    freshTree();
    demo = dynamic_cast<RadioButtonMenu*>(follow(w.engineerMenu, {"Demo"}));
    EXPECT_EQ(demo->getSelected(), 0) << "Normal Mode";
}

// Radio marks that mirror a model value show that value when the tree is
// built (the first start: no settings file has set the waveform scales, and
// the view's header shows the model's scale 5, "2/3 of full scale") and
// follow it when it changes, from whatever thread the change comes.
TEST(MenuTree, MarksMirroringAModelValueFollowItWhenBuiltAndWhenItChanges) {
    Instrument& inst = Instrument::get();
    MeterModel& meter = inst.meter();
    for (unsigned c = 1; c <= 3; ++c) ASSERT_EQ(inst.channel(c).getWaveformScale(), 5) << "the model's default";
    MainWindow* w = &freshTree();
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(w->scaleMenus[c - 1]->getSelected(), 5) << "channel " << c;

    struct Case {
        const char* what;
        std::function<RadioButtonMenu*()> menu;
        std::function<void()> set, restore;
        int marked;
    };
    auto allChannels = [&inst](void (ChannelModel::*f)(int), int v) {
        return [&inst, f, v] {
            for (unsigned c = 1; c <= 3; ++c) (inst.channel(c).*f)(v);
        };
    };
    const Case cases[] = {
        {"channel 2 scale", [w] { return w->scaleMenus[1]; }, [&] { inst.channel(2).setWaveformScale(2); },
         [&] { inst.channel(2).setWaveformScale(5); }, 2},
        {"time base", [w] { return w->timeBaseMenu; }, [&] { meter.setTimebase(1); }, [&] { meter.setTimebase(5); },
         1},
        {"trigger mode", [w] { return w->triggerModeMenu; }, [&] { meter.setTriggerMode(2); },
         [&] { meter.setTriggerMode(0); }, 2},
        {"trigger slope", [w] { return w->triggerSlopeMenu; }, [&] { meter.setTriggerSlope(1); },
         [&] { meter.setTriggerSlope(0); }, 1},
        {"update rate", [w] { return w->updateRateMenu; }, [&] { meter.setDisplayRate(5.0f); },
         [&] { meter.setDisplayRate(1.0f); }, 0},
        {"time units", [w] { return w->timeUnitMenu; }, allChannels(&ChannelModel::setTimeUnits, 1),
         allChannels(&ChannelModel::setTimeUnits, 0), 1},
        {"channel 3 corrected scaling", [w] { return w->corrScalingMenus[2]; },
         [&] { inst.channel(3).setCdacScaling(100); }, [&] { inst.channel(3).setCdacScaling(30); }, 1},
        {"vector-sum output", [w] { return w->vectorSumOutputModeMenu; }, [&] { meter.setVectorSumOutputMode(4); },
         [&] { meter.setVectorSumOutputMode(0); }, 1},
    };
    for (const Case& c : cases) {
        const int before = c.menu()->getSelected();
        // A server's thread changes the value; the mark follows on the GUI
        // thread.
        std::thread server(c.set);
        server.join();
        EXPECT_TRUE(testsupport::waitUntil([&] {
            gui::runPending();
            return c.menu()->getSelected() == c.marked;
        })) << c.what << " on change";
        w = &freshTree();
        EXPECT_EQ(c.menu()->getSelected(), c.marked) << c.what << " when built";
        c.restore();
        gui::runPending();
        EXPECT_EQ(c.menu()->getSelected(), before) << c.what << " restored";
    }
}
