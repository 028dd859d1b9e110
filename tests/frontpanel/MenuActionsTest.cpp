// The menu actions: each entry activated as its soft key does, and the model
// state or the card command that it must leave.
#include "MenusFixture.h"

#include "channel/ClassifierController.h"
#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "status/ScpiErrorQueue.h"
#include "widgets/GuiThread.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using menustest::follow;
using menustest::Instrument;
using menustest::press;
namespace ct = channeltest;

namespace {

using testsupport::readFile;

MainWindow& window() { return Instrument::get().window(); }
MeterModel& meter() { return Instrument::get().meter(); }
ChannelModel& ch(unsigned slot) { return Instrument::get().channel(slot); }
ClassifierController& classifier(unsigned slot) { return Instrument::get().classifier(slot); }
ct::ScriptedCard& card(unsigned slot) { return Instrument::get().card(slot); }

// Frames of a command sent to a card, with data byte 0 equal to first.
std::size_t sent(unsigned slot, unsigned command, int first) {
    std::size_t n = 0;
    for (const can_frame& f : card(slot).frames(command))
        if (f.can_dlc > 0 && f.data[0] == first) ++n;
    return n;
}

bool eachChannel(const std::function<bool(ChannelModel&)>& holds) {
    return holds(ch(1)) && holds(ch(2)) && holds(ch(3));
}

// The names the builder gives a channel's waveform scale entries (the
// window renames them from the channel's range).
void nameScalesAsBuilt(int channel) {
    for (int i = 0; i < 6; ++i)
        window().scaleMenus[channel - 1]->getItem(i)->setName(("Scale " + std::to_string(i + 1)).c_str());
}

// An entry by name, or by index where the window renames the entries from
// the models (ranges, scales).
struct Pick {
    Pick(const char* name) : name(name) {}
    Pick(int index) : index(index) {}
    const char* name = nullptr;
    int index = -1;
};

// Polls done, running the work that the window's model handlers hand to the
// GUI thread (this thread) meanwhile.
bool settles(const std::function<bool()>& done) {
    return testsupport::waitUntil([&done] {
        gui::runPending();
        return done();
    });
}

struct Case {
    const char* what;
    std::vector<const char*> path;   // from "Main", by link names
    Pick entry;
    std::function<bool()> done;      // polled until it holds
    std::function<void()> before = {};
};

void run(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Menu* menu = window().mainMenu;
        for (const char* name : c.path) menu = follow(menu, {name});
        ASSERT_NE(menu, nullptr);
        if (c.before) c.before();
        if (c.entry.name) {
            ASSERT_TRUE(press(menu, c.entry.name)) << c.entry.name;
        } else {
            ASSERT_LT(c.entry.index, menu->getItemCount());
            menu->select(c.entry.index);
        }
        EXPECT_TRUE(settles(c.done));
    }
}

}  // namespace

// Menu entry -> model call, for the forwarding families: the value bound in,
// the channel of the menu, all channels in the all-channels menus.
TEST(MenuActions, EntriesForwardTheirValueToTheirChannelOrToAll) {
    Instrument::get();
    const std::vector<const char*> channel2 = {"Channels", "Channel 2"};
    const std::vector<const char*> all = {"Channels", "All\nChannels"};
    auto under = [](std::vector<const char*> path, std::initializer_list<const char*> more) {
        path.insert(path.end(), more);
        return path;
    };
    std::size_t ranges = card(2).count(ct::kSetRange);
    std::size_t resets2 = card(2).count(ct::kResetPeaks), resets3 = card(3).count(ct::kResetPeaks);
    const int zeroMode1 = ch(1).getZeroMode();
    int classifier1 = 0;
    run({
        {"flux units", {"Units", "Flux Density"}, "Tesla (T)",
         [] { return eachChannel([](ChannelModel& m) { return m.getFluxUnits() == 1; }); }},
        {"flux units back", {"Units", "Flux Density"}, "Gauss (G)",
         [] { return eachChannel([](ChannelModel& m) { return m.getFluxUnits() == 0; }); }},
        {"temperature units", {"Units", "Temperature"}, "Kelvin (K)",
         [] { return eachChannel([](ChannelModel& m) { return m.getTemperatureUnits() == 2; }); }},
        {"time units", {"Units", "Time"}, "Period (sec)",
         [] { return eachChannel([](ChannelModel& m) { return m.getTimeUnits() == 1; }); }},
        {"angle units", {"Units", "Angles"}, "Radians\n(rad)", [] { return meter().getAngleUnits() == 1; }},
        {"update rate", {"Display", "Update\nRate"}, "0.5/sec", [] { return meter().getDisplayRate() == 0.5f; }},
        {"mode of one channel", under(channel2, {"Mode"}), "AC",
         [] { return ch(2).getMode() == 1 && ch(1).getMode() == 0 && ch(3).getMode() == 0; }},
        {"mode of all channels", under(all, {"Mode"}), "AC",
         [] { return eachChannel([](ChannelModel& m) { return m.getMode() == 1; }); }},
        {"mode of all channels back", under(all, {"Mode"}), "DC",
         [] { return eachChannel([](ChannelModel& m) { return m.getMode() == 0; }); }},
        {"AC frequency of one channel", under(channel2, {"AC Freq\nSetup"}), "Low Freq\n20Hz - 500Hz",
         [] { return ch(2).getFreqRange() == 2 && ch(1).getFreqRange() != 2; }},
        {"AC frequency of all channels", under(all, {"AC Freq\nSetup"}), "Full BW\n1Hz - 50kHz",
         [] { return eachChannel([](ChannelModel& m) { return m.getFreqRange() == 4; }); }},
        {"range of one channel", under(channel2, {"Range"}), 2,
         [&ranges] { return card(2).count(ct::kSetRange) > ranges && ch(2).getRange() == 2 && !ch(2).isAutorange(); }},
        {"autorange of one channel", under(channel2, {"Range"}), 4, [] { return ch(2).isAutorange(); }},
        {"range of all channels", under(all, {"Range"}), 1,
         [] { return eachChannel([](ChannelModel& m) { return m.getRange() == 1 && !m.isAutorange(); }); }},
        {"autorange of all channels", under(all, {"Range"}), 4,
         [] { return eachChannel([](ChannelModel& m) { return m.isAutorange(); }); }},
        {"zero mode of one channel", {"Channels", "Channel 3", "Zero", "Auto"}, "Basic",
         [zeroMode1] { return ch(3).getZeroMode() == 4 && ch(1).getZeroMode() == zeroMode1; }},
        {"zero mode of all channels", under(all, {"Zero"}), "DC Only",
         [] { return eachChannel([](ChannelModel& m) { return m.getZeroMode() == 1; }); }},
        {"max hold of one channel", under(channel2, {"Hold"}), "Max",
         [] { return ch(2).isMaxHoldEnabled() && !ch(1).isMaxHoldEnabled() && !ch(3).isMaxHoldEnabled(); }},
        {"min hold of one channel", under(channel2, {"Hold"}), "Min", [] { return ch(2).isMinHoldEnabled(); }},
        {"peak hold of one channel", under(channel2, {"Hold"}), "Peak", [] { return ch(2).isPeakHoldEnabled(); }},
        {"valley hold of one channel", under(channel2, {"Hold"}), "Valley",
         [] { return ch(2).isValleyHoldEnabled(); }},
        {"hold display of one channel", under(channel2, {"Hold"}), "Active", [] { return ch(2).isHoldActive(); }},
        {"reset holds of one channel", under(channel2, {"Hold"}), "Reset",
         [&] { return card(2).count(ct::kResetPeaks) > resets2 && card(3).count(ct::kResetPeaks) == resets3; }},
        {"reset holds of all channels", under(all, {"Hold"}), "Reset",
         [&] { return card(3).count(ct::kResetPeaks) > resets3; }},
        {"relative of one channel", {"Channels", "Channel 1", "Relative"}, "Auto",
         [] { return ch(1).getRelativeState() == 1 && ch(2).getRelativeState() == 0; }},
        {"relative of all channels", under(all, {"Relative"}), "Auto",
         [] { return eachChannel([](ChannelModel& m) { return m.getRelativeState() == 1; }); }},
        {"relative off, all channels", under(all, {"Relative"}), "Off",
         [] { return eachChannel([](ChannelModel& m) { return m.getRelativeState() == 0; }); }},
        {"corrected output mode", {"External\nOutputs", "Analog\nOutputs", "Channel 3", "Corrected", "Output Mode"},
         "RMS", [] { return ch(3).getCdacMode() == 2 && ch(1).getCdacMode() == 0; }},
        {"corrected output scaling", {"External\nOutputs", "Analog\nOutputs", "Channel 3", "Corrected", "Scaling"},
         "10V Full\nScale", [] { return ch(3).getCdacScaling() == 100 && ch(2).getCdacScaling() == 30; }},
        {"uncorrected output mode",
         {"External\nOutputs", "Analog\nOutputs", "Channel 2", "Uncorrected", "Output Mode"}, "Wave Form",
         [] { return ch(2).getUdacMode() == 1 && ch(3).getUdacMode() == 0; }},
        {"uncorrected output scaling", {"External\nOutputs", "Analog\nOutputs", "Channel 1", "Uncorrected", "Scaling"},
         "10V Full\nScale", [] { return ch(1).getUdacScaling() == 100 && ch(2).getUdacScaling() == 30; }},
        {"vector-sum output mode", {"External\nOutputs", "Analog\nOutputs", "Vector\nSum", "Output\nMode"}, "On",
         [] { return meter().getVectorSumOutputMode() == 4; }},
        {"vector-sum output scaling", {"External\nOutputs", "Analog\nOutputs", "Vector\nSum", "Scaling"},
         "10V Full\nScale", [] { return meter().getVectorSumOutputScaling() == 100; }},
        {"vector-sum max hold", {"Channels", "Vector\nSum", "Hold"}, "Max",
         [] { return meter().isVectorSumMaxHoldEnabled(); }},
        {"vector-sum min hold", {"Channels", "Vector\nSum", "Hold"}, "Min",
         [] { return meter().isVectorSumMinHoldEnabled(); }},
        {"vector-sum hold display", {"Channels", "Vector\nSum", "Hold"}, "Active",
         [] { return meter().isVectorSumHoldActive(); }},
        {"vector-sum relative", {"Channels", "Vector\nSum", "Relative"}, "Auto",
         [] { return meter().getVectorSumRelativeState() == 1; }},
        {"vector-sum relative off", {"Channels", "Vector\nSum", "Relative"}, "Off",
         [] { return meter().getVectorSumRelativeState() == 0; }},
        {"time base", {"Display", "Waveform", "Time Base"}, 3, [] { return meter().getTimebase() == 3; }},
        {"waveform scale", {"Display", "Waveform", "Scale", "Channel 2\nScale"}, 3,
         [] { return ch(2).getWaveformScale() == 3 && ch(1).getWaveformScale() != 3; }},
        {"trigger slope", {"Display", "Waveform", "Trigger\nSetup", "Slope"}, "Negative",
         [] { return meter().getTriggerSlope() == 1; }},
        {"classifier of one channel", {"External\nOutputs", "Classifier\nOutputs", "Channel 2"}, "Active",
         [&classifier1] { return classifier(2).getMode() == 1 && classifier(1).getMode() == classifier1; },
         [&classifier1] {
             classifier(2).setMode(0);
             classifier1 = classifier(1).getMode();
         }},
        {"errors cleared", {"System", "More...", "Display\nErrors"}, "Clear\nAll",
         [] { return ScpiErrorQueue::instance()->size() == 0; }},
    });
}

TEST(MenuActions, ZeroingStartsOnTheMenusChannelOrOnAll) {
    Instrument::get();
    std::size_t zeros[4] = {0, card(1).count(ct::kZero), card(2).count(ct::kZero), card(3).count(ct::kZero)};
    run({{"one channel", {"Channels", "Channel 2", "Zero", "Auto"}, "Auto Zero", [&] {
              return card(2).count(ct::kZero) == zeros[2] + 1 && card(1).count(ct::kZero) == zeros[1];
          }}});
    // Channel 2 zeroes still and refuses a second zero by itself.
    run({{"all channels", {"Channels", "All\nChannels", "Zero"}, "Auto Zero", [&] {
              return card(1).count(ct::kZero) == zeros[1] + 1 && card(3).count(ct::kZero) == zeros[3] + 1;
          }}});
    for (unsigned slot = 1; slot <= 3; ++slot) {
        card(slot).out().sendZeroDone(static_cast<int>(slot), 0);
        EXPECT_TRUE(testsupport::waitUntil([slot] { return ch(slot).getZeroingState() != 1; }));
    }
}

// All channels: a flag toggles on the three together when they agree; a mixed
// state becomes all on first.  The all-channels marks follow.
TEST(MenuActions, AllChannelsHoldTogglesTurnAMixedStateOnFirst) {
    MainWindow& w = window();
    Menu* allHold = follow(w.mainMenu, {"Channels", "All\nChannels", "Hold"});
    ch(1).setMaxHoldEnabled(true);
    ch(2).setMaxHoldEnabled(true);
    ch(3).setMaxHoldEnabled(false);
    w.updateAllChannelsHoldMarks();
    EXPECT_EQ(allHold->getItemStyle(0), 0);
    ASSERT_TRUE(press(allHold, "Max"));
    EXPECT_TRUE(eachChannel([](ChannelModel& m) { return m.isMaxHoldEnabled(); }));
    w.updateAllChannelsHoldMarks();
    EXPECT_EQ(allHold->getItemStyle(0), 1);
    ASSERT_TRUE(press(allHold, "Max"));
    EXPECT_TRUE(eachChannel([](ChannelModel& m) { return !m.isMaxHoldEnabled(); }));

    // The same rule for each flag, and the mark of each item of its own.
    struct Flag {
        const char* entry;
        int item;
        bool (ChannelModel::*get)() const;
        void (ChannelModel::*set)(bool);
    };
    const Flag flags[] = {{"Min", 1, &ChannelModel::isMinHoldEnabled, &ChannelModel::setMinHoldEnabled},
                          {"Peak", 2, &ChannelModel::isPeakHoldEnabled, &ChannelModel::setPeakHoldEnabled},
                          {"Valley", 3, &ChannelModel::isValleyHoldEnabled, &ChannelModel::setValleyHoldEnabled},
                          {"Active", 4, &ChannelModel::isHoldActive, &ChannelModel::setHoldActive}};
    for (const Flag& f : flags) {
        SCOPED_TRACE(f.entry);
        (ch(1).*f.set)(false);
        (ch(2).*f.set)(false);
        (ch(3).*f.set)(true);
        ASSERT_TRUE(press(allHold, f.entry));
        EXPECT_TRUE((ch(1).*f.get)() && (ch(2).*f.get)() && (ch(3).*f.get)());
        w.updateAllChannelsHoldMarks();
        for (int i = 0; i < 6; ++i) EXPECT_EQ(allHold->getItemStyle(i), i == f.item ? 1 : 0) << "item " << i;
        ASSERT_TRUE(press(allHold, f.entry));
        EXPECT_FALSE((ch(1).*f.get)() || (ch(2).*f.get)() || (ch(3).*f.get)());
    }
}

// All Channels Mode, Range and Relative mark the channels' state, not the
// last row pressed there: a row while the three agree, none once one channel
// is changed on its own (its keys, another interface), the row again when it
// comes back in line.
TEST(MenuActions, AllChannelsMarksShowWhatTheThreeChannelsAgreeOn) {
    MainWindow& w = window();
    constexpr int kChannel1ModeKey = 8;
    struct Agreement {
        const char* menu;   // under "All\nChannels"
        const char* entry;
        int marked;
        std::function<bool(ChannelModel&)> took;
        std::function<void()> oneAlone, backInLine;
    };
    const Agreement cases[] = {
        {"Mode", "DC", 0, [](ChannelModel& m) { return m.getMode() == 0; },
         [&w] { w.onFrontPanelKey(kChannel1ModeKey); }, [] { ch(1).setMode(0); }},
        {"Range", "Auto", 4, [](ChannelModel& m) { return m.isAutorange(); }, [] { ch(2).setRange(1); },
         [] { ch(2).setAutorange(true); }},
        {"Relative", "Auto", 1, [](ChannelModel& m) { return m.getRelativeState() == 1; },
         [] { ch(3).disableRelative(); }, [] { ch(3).setAutoRelative(); }},
    };
    for (const Agreement& c : cases) {
        SCOPED_TRACE(c.menu);
        auto* menu = dynamic_cast<RadioButtonMenu*>(follow(w.mainMenu, {"Channels", "All\nChannels", c.menu}));
        ASSERT_NE(menu, nullptr);
        ASSERT_TRUE(press(menu, c.entry));
        EXPECT_TRUE(settles([&] { return eachChannel(c.took) && menu->getSelected() == c.marked; }));
        c.oneAlone();
        EXPECT_TRUE(settles([&] { return !eachChannel(c.took) && menu->getSelected() == -1; }))
            << "marks " << menu->getSelected();
        c.backInLine();
        EXPECT_TRUE(settles([&] { return eachChannel(c.took) && menu->getSelected() == c.marked; }));
    }
    // A manual offset has no row in the all-channels menu.
    ch(1).setManualRelative();
    ch(2).setManualRelative();
    ch(3).setManualRelative();
    EXPECT_TRUE(settles([&w] { return w.allChannelsRelativeMenu->getSelected() == -1; }));
    ASSERT_TRUE(press(w.allChannelsRelativeMenu, "Off"));
    EXPECT_TRUE(settles([&w] {
        return eachChannel([](ChannelModel& m) { return m.getRelativeState() == 0; }) &&
               w.allChannelsRelativeMenu->getSelected() == 0;
    }));
}

// "Custom\nFull Scale" opens the full-scale page and sets nothing: backing out
// of it leaves the mark on the full scale the output uses; a custom value
// taken moves it there.
TEST(MenuActions, CustomFullScaleIsMarkedOnlyWhileTheOutputUsesOne) {
    MainWindow& w = window();
    constexpr int kBackKey = 31;
    struct Output {
        const char* what;
        RadioButtonMenu* menu;
        std::function<void(int)> setTenths;
    };
    const Output outputs[] = {
        {"channel 1 corrected", w.corrScalingMenus[0], [](int t) { ch(1).setCdacScaling(t); }},
        {"channel 2 uncorrected", w.uncorrScalingMenus[1], [](int t) { ch(2).setUdacScaling(t); }},
        {"vector sum", w.vectorSumScalingMenu, [](int t) { meter().setVectorSumOutputScaling(t); }},
    };
    for (const Output& o : outputs) {
        SCOPED_TRACE(o.what);
        o.setTenths(30);
        EXPECT_TRUE(settles([&] { return o.menu->getSelected() == 0; }));
        w.gotoMenu(o.menu);
        ASSERT_TRUE(press(o.menu, "Custom\nFull Scale"));
        ASSERT_NE(w.currentMenu, o.menu) << "the full-scale page";
        w.onFrontPanelKey(kBackKey);
        gui::runPending();
        EXPECT_EQ(w.currentMenu, o.menu);
        EXPECT_EQ(o.menu->getSelected(), 0) << "3 V is still in use";
        o.setTenths(25);
        EXPECT_TRUE(settles([&] { return o.menu->getSelected() == 2; }));
        o.setTenths(30);
        EXPECT_TRUE(settles([&] { return o.menu->getSelected() == 0; }));
    }
    w.gotoMenu(w.mainMenu);
}

// One channel: on -> off, anything else (off, a threshold under entry) -> on.
// All channels: channel 1's classifier decides for the three.
TEST(MenuActions, ClassifierActiveFollowsChannelOneForAllChannels) {
    MainWindow& w = window();
    Instrument::get().drainChannelLinks();
    Menu* all = follow(w.mainMenu, {"External\nOutputs", "Classifier\nOutputs", "All\nChannels"});
    Menu* one = follow(w.mainMenu, {"External\nOutputs", "Classifier\nOutputs", "Channel 3"});
    classifier(1).setMode(1);
    classifier(2).setMode(0);
    classifier(3).setMode(1);
    ASSERT_TRUE(press(all, "Active"));
    EXPECT_EQ(classifier(1).getMode(), 0);
    EXPECT_EQ(classifier(2).getMode(), 0);
    EXPECT_EQ(classifier(3).getMode(), 0);
    classifier(2).setMode(1);
    ASSERT_TRUE(press(all, "Active"));
    EXPECT_EQ(classifier(1).getMode(), 1);
    EXPECT_EQ(classifier(2).getMode(), 1);
    EXPECT_EQ(classifier(3).getMode(), 1);

    classifier(3).setMode(3);   // upper threshold under entry
    ASSERT_TRUE(press(one, "Active"));
    EXPECT_EQ(classifier(3).getMode(), 1);
    ASSERT_TRUE(press(one, "Active"));
    EXPECT_EQ(classifier(3).getMode(), 0);
    EXPECT_EQ(classifier(1).getMode(), 1);
}

// A new trigger channel restarts only an acquisition that runs; a trigger
// mode also starts a stopped one.
TEST(MenuActions, TriggerChangesRestartTheAcquisitionByTheirRules) {
    MainWindow& w = window();
    Menu* channels = follow(w.mainMenu, {"Display", "Waveform", "Trigger\nSetup", "Channel"});
    Menu* modes = follow(w.mainMenu, {"Display", "Waveform", "Trigger\nSetup", "Mode"});
    const int kStop = 4, kStart = 0;
    // Stops the acquisition and forgets the frames sent so far, once the
    // card has seen the stop.
    auto stopAndForget = [] {
        const std::size_t before = sent(3, ct::kTrigger, kStop);
        meter().stopAcquisition();
        ASSERT_TRUE(testsupport::waitUntil([before] { return sent(3, ct::kTrigger, kStop) > before; }));
        card(3).clear();
    };
    // The trigger channel menu offers the ready channels in AC mode.
    for (unsigned slot = 1; slot <= 3; ++slot) ch(slot).setMode(1);
    ASSERT_TRUE(settles([&w] { return w.triggerChannelMenu->getItemCount() == 3; }));
    stopAndForget();
    ASSERT_EQ(meter().getAcquisitionState(), 0);
    ASSERT_TRUE(press(channels, "Channel 3"));
    EXPECT_EQ(meter().getTriggerChannel(), 3);
    EXPECT_EQ(card(3).count(ct::kTrigger), 0u) << "a stopped acquisition stays stopped";

    meter().setAcquisitionState(2);   // running
    ASSERT_TRUE(press(channels, "Channel 1"));
    EXPECT_EQ(meter().getTriggerChannel(), 1);
    EXPECT_TRUE(testsupport::waitUntil([] { return sent(3, ct::kTrigger, kStop) == 1 && sent(3, ct::kTrigger, kStart) == 1; }))
        << "stopped, then started again";

    stopAndForget();
    ASSERT_TRUE(press(modes, "Single"));
    EXPECT_EQ(meter().getTriggerMode(), 3);
    EXPECT_TRUE(testsupport::waitUntil([] { return sent(3, ct::kTrigger, kStart) == 1; })) << "started";
    EXPECT_EQ(sent(3, ct::kTrigger, kStop), 0u) << "nothing to stop";
    meter().stopAcquisition();
    for (unsigned slot = 1; slot <= 3; ++slot) ch(slot).setMode(0);
    EXPECT_TRUE(settles([] { return eachChannel([](ChannelModel& m) { return m.getMode() == 0; }); }));
}

// The digit editor of a value-entry menu goes, by edit mode, to the channel's
// offsets (1, 2, 6), its classifier (3, 4), the vector sum (5, channel 1's
// menu only), or nowhere (0 and anything above 6, negative values too).
TEST(MenuActions, ValueEntryGoesWhereTheEditModeSays) {
    MainWindow& w = window();
    enum Target { kNone, kChannel, kClassifier, kMeter };
    struct EditCase {
        int mode;
        unsigned slot;
        Target target;
    };
    const EditCase cases[] = {{0, 1, kNone},        {1, 2, kChannel},    {2, 3, kChannel},  {3, 2, kClassifier},
                              {4, 1, kClassifier},  {5, 1, kMeter},      {5, 2, kNone},     {5, 3, kNone},
                              {6, 3, kChannel},     {7, 2, kNone},       {-1, 1, kNone}};
    for (const EditCase& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + ", channel " + std::to_string(c.slot));
        ChannelModel& model = ch(c.slot);
        model.editRelativeOffset();
        model.setRelativeOffset(5.0f);
        ClassifierController& cl = classifier(c.slot);
        cl.setUpperThreshold(5.0f);
        meter().setVectorSumRelativeOffset(5.0f);
        w.editMode = c.mode;
        ASSERT_TRUE(press(w.valueEntryMenus[c.slot - 1], "Reset"));
        EXPECT_EQ(model.getRelativeOffset() == 0.0f, c.target == kChannel);
        EXPECT_EQ(cl.getUpperThreshold() == 0.0f, c.target == kClassifier);
        EXPECT_EQ(meter().getVectorSumRelativeOffset() == 0.0f, c.target == kMeter);
        model.disableRelative();
    }
    w.editMode = 0;
}

// Back on a value-entry menu ends the entry by the edit mode; editMode stays.
TEST(MenuActions, FinishEntryCommitsByTheEditMode) {
    MainWindow& w = window();
    Instrument::get().drainChannelLinks();
    auto back = [&w](unsigned slot) { w.valueEntryMenus[slot - 1]->emitBack(); };

    w.editMode = 1;   // relative offset: relative on with the entered offset
    ch(2).editRelativeOffset();
    back(2);
    EXPECT_EQ(ch(2).getRelativeState(), 2);
    ch(2).disableRelative();

    w.editMode = 2;   // manual zero: state 1 with an offset, else 0
    ch(1).editManualZero();
    EXPECT_EQ(ch(1).getManualZeroState(), 2);
    back(1);
    EXPECT_EQ(ch(1).getManualZeroState(), 0);

    w.editMode = 4;   // classifier threshold: back to the mode before the entry
    classifier(3).setMode(1);
    classifier(3).editUpperThreshold();
    EXPECT_EQ(classifier(3).getMode(), 3);
    back(3);
    EXPECT_EQ(classifier(3).getMode(), 1);

    w.editMode = 5;   // vector sum: only channel 1's menu
    meter().editVectorSumRelativeOffset();
    back(2);
    EXPECT_EQ(meter().getVectorSumRelativeState(), 3);
    back(1);
    EXPECT_EQ(meter().getVectorSumRelativeState(), 2);
    meter().disableVectorSumRelative();

    w.editMode = 6;   // trigger level
    ch(3).editTriggerLevel(true);
    EXPECT_TRUE(ch(3).isEditingTriggerLevel());
    back(3);
    EXPECT_FALSE(ch(3).isEditingTriggerLevel());
    EXPECT_EQ(w.editMode, 6);
    w.editMode = 0;
}

TEST(MenuActions, NetworkAddressItemsComeAndGoInOrderAndNeverTwice) {
    MainWindow& w = window();
    const std::vector<std::string> dhcp{"Save and\nReboot", "Change\nAddr Mode"};
    const std::vector<std::string> manual{"Save and\nReboot", "Change\nAddr Mode", "Change\nIP Addr",
                                          "Change\nNetmask",  "Change\nGateway",   "Change\nDNS #1"};
    w.hideNetworkAddressItems();
    EXPECT_EQ(menustest::names(w.networkConfigMenu), dhcp);
    w.showNetworkAddressItems();
    EXPECT_EQ(menustest::names(w.networkConfigMenu), manual);
    w.showNetworkAddressItems();
    EXPECT_EQ(menustest::names(w.networkConfigMenu), manual) << "a full menu takes no more";
    w.hideNetworkAddressItems();
    EXPECT_EQ(menustest::names(w.networkConfigMenu), dhcp);
    w.hideNetworkAddressItems();
    EXPECT_EQ(menustest::names(w.networkConfigMenu), dhcp);
}

// Entering the waveform view takes the channels' "AC Freq Setup" links out
// (the single-channel model: SingleChannelMenuActionsTest.cpp); the meter enters
// waveform mode.
TEST(MenuActions, RemoveAcFreqEntriesTakesTheChannelsLinksOut) {
    Instrument& inst = Instrument::get();
    MainWindow& w = inst.window();
    ASSERT_TRUE(inst.meter().isThreeChannelModel());
    w.removeAcFreqEntries();
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(w.channelMenus[i]->hasItem(w.acFreqEntries[i]));
        EXPECT_EQ(w.channelMenus[i]->getItemCount(), 5);
    }
    EXPECT_TRUE(inst.meter().isWaveformMode());
    inst.meter().leaveWaveformMode();
    for (int i = 0; i < 3; ++i) w.channelMenus[i]->insertItem(3, w.acFreqEntries[i]);
}

TEST(MenuActions, VectorSumRelativeStateMovesTheMarkOnTheGuiThread) {
    MainWindow& w = window();
    const std::pair<std::function<void()>, int> cases[] = {
        {[] { meter().setVectorSumAutoRelative(); }, 1},   {[] { meter().disableVectorSumRelative(); }, 0},
        {[] { meter().setVectorSumManualRelative(); }, 2}, {[] { meter().setVectorSumAutoRelative(); }, 1},
        {[] { meter().editVectorSumRelativeOffset(); }, 2}, {[] { meter().disableVectorSumRelative(); }, 0},
    };
    for (const auto& c : cases) {
        c.first();
        gui::runPending();
        EXPECT_EQ(w.vectorSumRelativeMenu->getSelected(), c.second) << "state " << meter().getVectorSumRelativeState();
    }
}

TEST(MenuActions, WaveformScaleItemsReadTheChannelsScales) {
    MainWindow& w = window();
    nameScalesAsBuilt(2);
    nameScalesAsBuilt(3);
    w.updateWaveformScaleItems(2);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(w.scaleMenus[1]->getItem(i)->name(), ch(2).getWaveformScaleText(i));
        EXPECT_STREQ(w.scaleMenus[2]->getItem(i)->name(), ("Scale " + std::to_string(i + 1)).c_str());
    }
    EXPECT_NE(ch(2).getWaveformScaleText(0), "");
}

// The engineering modes end the machine through the platform's commands (the
// sandbox's stand-ins log them); the demo marker is made or removed first,
// an existing marker is left as it is.
TEST(MenuActions, DemoNormalAndCommandLineModesRunTheirCommands) {
    Instrument& inst = Instrument::get();
    MainWindow& w = inst.window();
    Menu* demo = follow(w.engineerMenu, {"Demo"});
    Menu* testing = follow(w.engineerMenu, {"Testing"});
    const std::string marker = inst.file("/var/lib/tarvel/.demo");
    const std::string log = inst.file("/var/log/standin.log");
    std::remove(log.c_str());

    ASSERT_TRUE(press(demo, "Demo\nMode"));
    EXPECT_EQ(readFile(marker), "");
    std::ifstream made(marker);
    EXPECT_TRUE(made.good());
    EXPECT_EQ(readFile(log), "shutdown -h now\n");

    std::ofstream(marker) << "kept";
    ASSERT_TRUE(press(demo, "Demo\nMode"));
    EXPECT_EQ(readFile(marker), "kept");

    ASSERT_TRUE(press(demo, "Normal\nMode"));
    EXPECT_FALSE(std::ifstream(marker).good());
    ASSERT_TRUE(press(demo, "Normal\nMode"));   // no marker: halts all the same
    ASSERT_TRUE(press(testing, "Command\nLine Mode"));
    EXPECT_EQ(readFile(log), "shutdown -h now\nshutdown -h now\nshutdown -h now\nshutdown -h now\ntvlCLI.sh \n");
}
