// The front panel's soft-button menu tree, as data.
//
// MainWindow::buildMenus makes the menus and entries from this table once,
// at construction; nothing of it is read from a file.  Each MenuSpec is one
// menu, or, when perChannel is set, one menu per channel 1-3 (its title and
// entry names are formats filled in with the channel number, and its
// actions act on that channel).  A menu's entries follow by soft key: the
// first placed entry is on soft key 1 (item index 0).
//
// An entry either opens a submenu (a link: activating it makes the submenu
// current, with the menu it was entered from as its parent) or not; either
// way it may carry up to two actions, which run after the submenu is shown,
// in table order.  Actions are MainWindow member functions bound with their
// constant and with the channel of the menu (0 in menus that act on all
// channels), or of the entry when it stands for a channel of its own: the
// rows carry the channel, so one member serves all three.
//
// The table is the tree's one description: the builder reads it, and so do
// the tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

class MainWindow;
class NumericKeypad;

namespace menutree {

// Every kind of menu of the tree.  Per-channel kinds stand for three menus.
enum class MenuId {
    None,
    Main, Channels, Channel, ChannelMode, ChannelRange, ChannelHold, ChannelAcFreq, ChannelRelative,
    ValueEntry, ChannelZero, ChannelAutoZero,
    AllChannels, AllMode, AllRange, AllHold, AllAcFreq, AllRelative, AllZero,
    VectorSum, VectorSumHold, VectorSumRelative,
    Units, FluxUnits, TemperatureUnits, AngleUnits, TimeUnits,
    Display, UpdateRate, Brightness, DisplayChannels,
    Waveform, TimeBase, Scale, ChannelScale, TriggerSetup, TriggerMode, TriggerSlope, TriggerChannel,
    ExternalOutputs, AnalogOutputs, AnalogChannel, CorrectedOutput, CorrectedMode, CorrectedScaling,
    CorrectedFullScale, UncorrectedOutput, UncorrectedMode, UncorrectedScaling, UncorrectedFullScale,
    VectorSumAnalog, VectorSumOutputMode, VectorSumScaling, VectorSumFullScale,
    ClassifierOutputs, ChannelClassifiers, AllClassifiers,
    DataLogging, DataLoggingUsb, DataLoggingInternal,
    System, CommSetup, NetworkConfig, Rs232Config, GpibConfig, FirmwareUpdate, DateTime,
    ChangeYear, ChangeMonth, ChangeDay, ChangeHour, ChangeMinute, SystemInfo, Profiles,
    SystemMore, SystemErrors, ChangeIpAddress, ChangeNetmask, ChangeGateway, ChangeDns,
    EngineerPassword, Engineer, Testing, Demo, PowerOn,
    Count
};

// Entries that other code keeps or changes at run time (the window's entry
// references), and the keypad entries that every keypad page shares.
enum class EntryId {
    None,
    AcFreqSetup,          // "AC Freq\nSetup" of "Channel %d" (per channel)
    DisplayChannels,      // "Channels" of "Display"
    VectorSumDisplay,     // "Vector\nSum" of the display-selection "Channels"
    TriggerSlope,         // "Slope" of "Trigger\nSetup"
    TriggerLevel,         // the "Level" links (per channel)
    TriggerChannel,       // "Channel 1" .. "Channel 3" of "Trigger\nChannel" (per channel)
    UsbLogging, InternalLogging,
    FirmwareInternet, FirmwareUsb,
    NetworkIpAddress, NetworkNetmask, NetworkGateway, NetworkDns,
    Engineering, PowerOnOptions,
    KeypadPrevious, KeypadNext, KeypadPress,
    Count
};

// An action bound to an entry or to a menu's back signal: runs with the
// window and the channel of the menu or entry (0: all channels, or none).
using Action = std::function<void(MainWindow& window, int channel)>;

// Where a link leads: a menu kind and, for per-channel kinds, the channel
// (0: the channel of the menu that holds the link).
struct Target {
    MenuId menu = MenuId::None;
    int channel = 0;
};

struct EntrySpec {
    const char* name;          // may hold one %d, filled in with the channel
    Target opens;              // MenuId::None: a plain entry
    Action first;              // run when the entry is activated (may be empty)
    Action second;             // run after first (may be empty)
    EntryId id = EntryId::None;
    // The channel this entry stands for when it is one of a set of per-channel
    // entries in a single menu ("Level" of channel 2 ...); 0 otherwise.
    int entryChannel = 0;
    // False: made and kept in its reference, but not put into the menu at
    // start (run-time code adds it).
    bool placed = true;
};

constexpr int kNoMark = -1;
constexpr int kMarkFromDemoMarker = -2;   // 1 when the demo marker file exists, else 0
// The mark mirrors a model value: the window takes it from the model when the
// menu is built and whenever the value changes (MainWindow::markFromModel).
constexpr int kMarkFromModel = -3;

struct MenuSpec {
    MenuId id;
    const char* title;         // a format with %d for per-channel menus
    bool perChannel;
    bool radio;
    int mark;                  // radio menus: item marked at start (kNoMark: none), or where it comes from
    int titleSize;
    MenuId parent;             // set by the builder (MenuId::None: set when entered)
    std::vector<EntrySpec> entries;
    std::vector<Action> back;  // run by the back key before the parent is shown
};

// The whole tree, in building order: the menus that the rest refer to come
// first.  Every MenuId except None and Count appears once.
const std::vector<MenuSpec>& menus();
const MenuSpec& menu(MenuId id);

// The text of a title or entry-name format for a channel ("Channel %d\nMode"
// and 2 give "Channel 2\nMode"); a text without %d is returned as it is.
std::string format(const char* text, int channel);

// The five front-panel key codes of the hidden sequence that shows or hides
// the "Engineering" entry: Back, Back, then channel 1's Down, Up, Down.
constexpr int kEngineeringSequence[5] = {31, 31, 13, 14, 13};

}  // namespace menutree
