// MainWindow: the menu tree, built from the table of MenuTree.h.
#include "frontpanel/MainWindow.h"

#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "frontpanel/MenuFooter.h"
#include "frontpanel/MenuTree.h"
#include "frontpanel/SoftButton.h"
#include "pages/NetworkConfigDisplay.h"
#include "platform/Platform.h"
#include "runtime/Logger.h"
#include "widgets/GuiThread.h"

#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

using menutree::EntryId;
using menutree::MenuId;
using menutree::MenuSpec;

// "text" with a line break written \n, and " and \ escaped.
std::string quoted(const char* text) {
    std::string out = "\"";
    for (const char* p = text ? text : ""; *p; ++p) {
        if (*p == '\n') out += "\\n";
        else if (*p == '"' || *p == '\\') out += std::string("\\") + *p;
        else out += *p;
    }
    return out + "\"";
}

// One console line (level 2) each time the soft buttons come to show
// something other than the last line told: the footer's title and the
// labels of the buttons, a marked one followed by "*".  A debugging aid, and
// how the end-to-end tests read the screen's menu without a key.
void logShown(SoftButton** buttons, int count, MenuFooter* footer) {
    std::string line;
    {
        gui::Lock lock;
        line = "Menu " + quoted(footer ? footer->label() : "");
        for (int i = 0; buttons && i < count; ++i) {
            if (!buttons[i]) continue;
            line += ' ' + quoted(buttons[i]->label());
            if (buttons[i]->style() != 0) line += '*';
        }
    }
    static std::mutex lastMutex;
    static std::string last;
    {
        std::lock_guard<std::mutex> lock(lastMutex);
        if (line == last) return;
        last = line;
    }
    Logger::instance()->log(2, "MainWindow", line);
}

// The tree's menus: the framework's menus, telling what they put on the
// buttons.
template <class Base>
class ShownMenu final : public Base {
public:
    using Base::Base;
    void show(SoftButton** buttons, int count, MenuFooter* footer) override {
        Base::show(buttons, count, footer);
        logShown(buttons, count, footer);
    }
};

// A radio menu whose mark mirrors a model value (menutree::kMarkFromModel).
// A link there ("Custom\nFull Scale", "Manual") sets nothing by itself: its
// press leaves the mark where the model has it, and the model's handlers
// move it once a value is taken.  A value entry is marked as it is pressed.
class ModelMarkedMenu : public RadioButtonMenu {
public:
    using RadioButtonMenu::RadioButtonMenu;
    void select(int index) override {
        MenuElement* element = getItem(index);
        if (element && element->getData()) Menu::select(index);
        else RadioButtonMenu::select(index);
    }
};

bool demoMarkerExists() {
    const int fd = ::open(platform::dataFile(".demo").c_str(), O_RDONLY);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// Every menu and entry ever built: they live until the program ends (a menu
// may lose an entry at run time, and the entry must stay valid all the same).
std::vector<Menu*>& builtMenus() {
    static std::vector<Menu*>* all = new std::vector<Menu*>;
    return *all;
}
std::vector<MenuElement*>& builtEntries() {
    static std::vector<MenuElement*>* all = new std::vector<MenuElement*>;
    return *all;
}

// Makes the menus and entries of the table for one window.
class TreeBuilder {
public:
    explicit TreeBuilder(MainWindow& window) : window(window) {}

    void build() {
        for (const MenuSpec& spec : menutree::menus())
            for (int c : channelsOf(spec)) menus[{spec.id, c}] = makeMenu(spec, c);
        for (const MenuSpec& spec : menutree::menus())
            for (int c : channelsOf(spec)) fill(spec, c);
    }

    Menu* menu(MenuId id, int channel = 0) const {
        auto it = menus.find({id, channel});
        return it == menus.end() ? nullptr : it->second;
    }
    RadioButtonMenu* radio(MenuId id, int channel = 0) const {
        return dynamic_cast<RadioButtonMenu*>(menu(id, channel));
    }
    MenuElement* entry(EntryId id, int channel = 0) const {
        auto it = entries.find({id, channel});
        return it == entries.end() ? nullptr : it->second;
    }

private:
    static std::vector<int> channelsOf(const MenuSpec& spec) {
        return spec.perChannel ? std::vector<int>{1, 2, 3} : std::vector<int>{0};
    }
    // A per-channel kind at channel c, a single one at 0.
    static int instanceChannel(MenuId id, int c) { return menutree::menu(id).perChannel ? c : 0; }

    Menu* makeMenu(const MenuSpec& spec, int c) {
        const std::string title = menutree::format(spec.title, c);
        Menu* m;
        if (spec.radio) {
            RadioButtonMenu* r;
            if (spec.mark == menutree::kMarkFromModel)
                r = new ShownMenu<ModelMarkedMenu>(title.c_str());
            else
                r = new ShownMenu<RadioButtonMenu>(title.c_str());
            int mark = spec.mark;
            if (mark == menutree::kMarkFromDemoMarker) mark = demoMarkerExists() ? 1 : 0;
            if (mark >= 0) r->setSelected(mark);
            m = r;
        } else {
            m = new ShownMenu<Menu>(title.c_str());
        }
        if (spec.titleSize != 20) m->setTitleSize(spec.titleSize);
        builtMenus().push_back(m);
        return m;
    }

    void fill(const MenuSpec& spec, int c) {
        Menu* m = menu(spec.id, c);
        if (spec.parent != MenuId::None) m->setParent(menu(spec.parent, instanceChannel(spec.parent, c)));
        for (const menutree::EntrySpec& e : spec.entries) {
            MenuElement* element = makeEntry(e, c);
            if (e.placed) m->addItem(element);
        }
        for (const menutree::Action& action : spec.back) bind(m->signalBack(), action, c);
    }

    MenuElement* makeEntry(const menutree::EntrySpec& e, int menuChannel) {
        const bool shared = e.id == EntryId::KeypadPrevious || e.id == EntryId::KeypadNext ||
                            e.id == EntryId::KeypadPress;
        if (shared) {
            if (MenuElement* existing = entry(e.id)) return existing;
        }
        const int c = e.entryChannel ? e.entryChannel : menuChannel;
        const std::string name = menutree::format(e.name, c);
        MenuElement* element;
        if (e.opens.menu != MenuId::None) {
            const int target = instanceChannel(e.opens.menu, e.opens.channel ? e.opens.channel : c);
            element = window.makeSubmenuLink(name.c_str(), menu(e.opens.menu, target));
        } else {
            element = new MenuElement(name.c_str());
        }
        if (e.first) bind(element->signalActivated(), e.first, c);
        if (e.second) bind(element->signalActivated(), e.second, c);
        if (e.id != EntryId::None) entries[{e.id, shared ? 0 : c}] = element;
        builtEntries().push_back(element);
        return element;
    }

    // The table lives as long as the program: the slot keeps a pointer to it.
    void bind(sigc::signal<void>& signal, const menutree::Action& action, int channel) {
        MainWindow* w = &window;
        const menutree::Action* a = &action;
        signal.connect([w, a, channel] { (*a)(*w, channel); });
    }

    MainWindow& window;
    std::map<std::pair<MenuId, int>, Menu*> menus;
    std::map<std::pair<EntryId, int>, MenuElement*> entries;
};

}  // namespace

void MainWindow::buildMenus() {
    for (int i = 0; i < 5; ++i) engineeringSequence[i] = menutree::kEngineeringSequence[i];
    engineeringSequencePos = 0;

    TreeBuilder tree(*this);
    tree.build();
    using M = MenuId;
    using E = EntryId;

    mainMenu = tree.menu(M::Main);
    systemMenu = tree.menu(M::System);
    systemMoreMenu = tree.menu(M::SystemMore);
    engineerMenu = tree.menu(M::Engineer);
    engineeringElement = tree.entry(E::Engineering);
    networkConfigMenu = tree.menu(M::NetworkConfig);
    networkAddressEntries[0] = tree.entry(E::NetworkIpAddress);
    networkAddressEntries[1] = tree.entry(E::NetworkNetmask);
    networkAddressEntries[2] = tree.entry(E::NetworkGateway);
    networkAddressEntries[3] = tree.entry(E::NetworkDns);
    firmwareUpdateEntries[0] = tree.entry(E::FirmwareInternet);
    firmwareUpdateEntries[1] = tree.entry(E::FirmwareUsb);
    firmwareUpdateMenu = tree.menu(M::FirmwareUpdate);
    channelsMenu = tree.menu(M::Channels);
    for (int c = 1; c <= 3; ++c) {
        const int i = c - 1;
        channelMenus[i] = tree.menu(M::Channel, c);
        modeMenus[i] = tree.radio(M::ChannelMode, c);
        rangeMenus[i] = tree.radio(M::ChannelRange, c);
        holdMenus[i] = tree.menu(M::ChannelHold, c);
        acFreqMenus[i] = tree.radio(M::ChannelAcFreq, c);
        acFreqEntries[i] = tree.entry(E::AcFreqSetup, c);
        relativeMenus[i] = tree.radio(M::ChannelRelative, c);
        zeroMenus[i] = tree.menu(M::ChannelZero, c);
        autoZeroMenus[i] = tree.menu(M::ChannelAutoZero, c);
        valueEntryMenus[i] = tree.menu(M::ValueEntry, c);
        classifierMenus[i] = tree.menu(M::ChannelClassifiers, c);
        corrModeMenus[i] = tree.radio(M::CorrectedMode, c);
        corrScalingMenus[i] = tree.radio(M::CorrectedScaling, c);
        uncorrModeMenus[i] = tree.radio(M::UncorrectedMode, c);
        uncorrScalingMenus[i] = tree.radio(M::UncorrectedScaling, c);
        scaleMenus[i] = tree.radio(M::ChannelScale, c);
        triggerLevelEntries[i] = tree.entry(E::TriggerLevel, c);
        triggerChannelEntries[i] = tree.entry(E::TriggerChannel, c);
    }
    allChannelsModeMenu = tree.radio(M::AllMode);
    allChannelsRangeMenu = tree.radio(M::AllRange);
    allChannelsAcFreqMenu = tree.radio(M::AllAcFreq);
    allChannelsRelativeMenu = tree.radio(M::AllRelative);
    fluxUnitMenu = tree.radio(M::FluxUnits);
    temperatureUnitMenu = tree.radio(M::TemperatureUnits);
    angleUnitMenu = tree.radio(M::AngleUnits);
    timeUnitMenu = tree.radio(M::TimeUnits);
    vectorSumOutputModeMenu = tree.radio(M::VectorSumOutputMode);
    vectorSumScalingMenu = tree.radio(M::VectorSumScaling);
    updateRateMenu = tree.radio(M::UpdateRate);
    timeBaseMenu = tree.radio(M::TimeBase);
    scaleMenu = tree.menu(M::Scale);
    allChannelsHoldMenu = tree.menu(M::AllHold);
    allChannelsZeroMenu = tree.menu(M::AllZero);
    allChannelsClassifierMenu = tree.menu(M::AllClassifiers);
    // Channel 2's output menus once more, for the single-channel set-up.
    const M singleChannel[8] = {M::AnalogChannel,    M::CorrectedScaling,   M::CorrectedFullScale,
                                M::CorrectedMode,    M::UncorrectedScaling, M::UncorrectedMode,
                                M::UncorrectedFullScale, M::ChannelClassifiers};
    for (int i = 0; i < 8; ++i) singleChannelAnalogMenus[i] = tree.menu(singleChannel[i], 2);
    externalOutputsMenu = tree.menu(M::ExternalOutputs);
    displayMenu = tree.menu(M::Display);
    displayChannelsMenu = tree.menu(M::DisplayChannels);
    displayChannelsEntry = tree.entry(E::DisplayChannels);
    vectorSumDisplayEntry = tree.entry(E::VectorSumDisplay);
    vectorSumMenu = tree.menu(M::VectorSum);
    vectorSumHoldMenu = tree.menu(M::VectorSumHold);
    vectorSumRelativeMenu = tree.radio(M::VectorSumRelative);
    triggerSetupMenu = tree.menu(M::TriggerSetup);
    triggerModeMenu = tree.radio(M::TriggerMode);
    triggerSlopeMenu = tree.radio(M::TriggerSlope);
    triggerSlopeEntry = tree.entry(E::TriggerSlope);
    triggerChannelMenu = tree.radio(M::TriggerChannel);
    waveformMenu = tree.menu(M::Waveform);
    usbLoggingEntry = tree.entry(E::UsbLogging);
    internalLoggingEntry = tree.entry(E::InternalLogging);
    profilesMenu = tree.menu(M::Profiles);
    powerOnEntry = tree.entry(E::PowerOnOptions);
    powerOnMenu = tree.radio(M::PowerOn);

    // The network form starts in manual address mode: the address links are offered.
    if (networkConfigDisplay && networkConfigDisplay->isManual()) showNetworkAddressItems();
    markAllFromModels();
    gotoMenu(mainMenu);
}
