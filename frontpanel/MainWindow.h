// MainWindow: the one front-panel object.  It owns the six soft buttons and
// the menu footer, every readout and page of the screen (created once, shown
// and hidden later), the menu tree, the soft-button release timers, the key
// link and the objects that light the key backlights and answer the Enter
// button.  Its constructor creates the meter model and runs the start-up
// step, at once or when the channel processors have been loaded.  The
// servers that the start-up step starts have one owner, startedObjects; the
// backlight test's threads are owned by backlightTest.  The destructor stops
// both (the program itself ends without destroying the window:
// frontpanel/ProgramStop.h).
//
// Sources, by concern:
//   MainWindow.cpp          construction, backlights at start, re-initialisation
//   MainWindowStartup.cpp   the start-up step and the model-signal handlers
//   MainWindowKeys.cpp      front-panel keys
//   MainWindowPanels.cpp    menus on the soft buttons, prompts, pages, actions
//   MainWindowMenus.cpp     the menu tree
//   MainWindowActions.cpp   the menu actions
//   MainWindowMarks.cpp     the radio marks that mirror model values
//
// Threads: see runtime/Signal.h and widgets/GuiThread.h.  Model-signal
// handlers run on the emitting thread and hand widget work to the GUI thread;
// key handling, menu actions and the start-up step change widgets under
// gui::Lock.
#pragma once

#include "frontpanel/BacklightTest.h"
#include "frontpanel/StartupOwner.h"
#include "runtime/Timer.h"

#include <FL/Fl_Group.H>
#include <sigc++/sigc++.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class AnalogOutCorrScalingDisplay;
class AnalogOutUncorrScalingDisplay;
class AnalogOutVsumScalingDisplay;
class ButtonHandler;
class ButtonView;
class CANinterface;
class DateTimeDisplay;
class DelfinoBootloader;
class DiagDisplay;
class EngineeringPasswordDisplay;
class ErrorDisplay;
class FirmwareUpdateDisplay;
class Form;
class GpibConfigDisplay;
class Menu;
class MenuElement;
class MenuFooter;
class MessagePopup;
class MeterModel;
class NetworkConfigDisplay;
class NumericDisplay;
class NumericKeypad;
class ProfilesDisplay;
class RadioButtonMenu;
class RS232ConfigDisplay;
class SoftButton;
class SystemInfoDisplay;
class VectorSumDisplay;
class WaveFormDisplay;
namespace menutree {
enum class MenuId;
}

class MainWindow : public Fl_Group, public sigc::trackable {
public:
    MainWindow(int x, int y, int w, int h, const char* canInterfaceName, bool skipBootload,
               const char* label = nullptr);
    ~MainWindow() override;

    // ==== Construction, start-up step, keys, panels and prompts ============
    // Construction (MainWindow.cpp).
    void initButtonBacklights();
    void releaseSoftButton(int index);     // a release timer's thread
    void reinitChannelProcessors();
    void onReinitFinished();               // the bootloader's thread
    void syncCards();                      // asks each card for its data, 200 ms apart

    // The start-up step (MainWindowStartup.cpp), on the bootloader's thread
    // or, with -skipBootload, on the GUI thread inside the constructor.
    void initializeMeter();
    void startKeyInterface();
    void setupThreeChannelScreen();        // the caller holds the toolkit lock
    void setupSingleChannelScreen();       // the caller holds the toolkit lock
    void showMeasurementDisplays();        // the caller holds the toolkit lock
    void showMeasurementScreen();
    void restoreAcFreqEntries();
    void updateDisplayCheckMarks();
    void refreshRangeMenu(int channel);
    void refreshTriggerChannelMenu();

    // Model-signal handlers: run on the emitting thread (CAN readers,
    // timers, servers), call the models there and post their menu and
    // screen work to the GUI thread.
    void onModeChanged(int channel, int mode, int freqRange);
    void onRangeChanged(int channel, int range);
    void onChannelStatusChanged(int channel, int status);
    void onHoldsChanged(int channel, bool active, bool min, bool max, bool peak, bool valley);
    void onFluxUnitsChanged(int channel, int unit);
    void onTemperatureUnitsChanged(int channel, int unit);
    void onTimeUnitsChanged(int channel, int unit);
    void onCdacModeChanged(int channel, int mode);
    void onCdacScalingChanged(int channel, int tenths);
    void onUdacModeChanged(int channel, int mode);
    void onUdacScalingChanged(int channel, int tenths);
    void onRelativeStateChanged(int channel, int state);
    void onDiagModeChanged(int channel, int mode);
    void onWaveformScaleChanged(int channel, int scale);
    void onClassifierChanged(int channel, int mode, int state);
    void onZeroModeChanged(int channel, int mode);
    void onVectorSumHoldsChanged(bool active, bool min, bool max);
    void onVectorSumOutputModeChanged(int mode);
    void onVectorSumOutputScalingChanged(int tenths);
    void onDisplayRateChanged(float rate);
    void onAngleUnitsChanged(int units);
    void onTimebaseChanged(int index);
    void onTriggerChannelChanged(int slot);
    void onTriggerModeChanged(int mode);
    void onTriggerSlopeChanged(int slope);
    void onBusyChanged(bool busy);
    void onDefaultsRestored();
    void onPowerOnModeReceived();
    void onDataLogFailed(int destination);

    // Front-panel keys (MainWindowKeys.cpp), on the key link's reader.
    void onFrontPanelKey(int key);

    // Menus on the soft buttons, prompts, pages and actions
    // (MainWindowPanels.cpp).
    void showMenu();
    void gotoMenu(Menu* menu);
    MenuElement* makeSubmenuLink(const char* name, Menu* submenu);
    void showMessage(const char* text);
    void onMessageDismissed();
    void onRemoteState(bool enabled);
    void enterWaveformView();
    void displayBrighter();
    void displayDimmer();
    void buttonsBrighter();
    void buttonsDimmer();
    void toggleDisplay(int readout);       // 0-2 channels 1-3, 3 vector sum
    void toggleVectorSumDisplay();
    // The page of a custom full scale, and Enter armed to apply it.
    void promptScaling(Form* page);
    void promptScreenCapture();
    void promptInternetFirmwareUpdate();
    void promptUsbFirmwareUpdate();
    void toggleUsbLogging();
    void toggleInternalLogging();
    void showFirmwareUpdatePanel();
    void showDateTimePanel();
    void showSystemInfoPanel();
    void showProfilesPanel();
    void showErrorPanel();
    void showRs232Panel();
    void showPasswordPanel();
    void leavePasswordPanel();
    void hideKeypad();
    void applyNetworkConfig();
    void toggleNetworkAddressMode();
    void applyRs232Settings();
    void applyGpibSettings();
    void startButtonTest();
    // What a value-entry menu edits (editMode).
    enum EditMode {
        kEditNothing = 0,
        kEditRelativeOffset = 1,
        kEditManualZero = 2,
        kEditLowerClassifier = 3,
        kEditUpperClassifier = 4,
        kEditVectorSumOffset = 5,   // on channel 1's menu
        kEditTriggerLevel = 6,
    };
    // The value-entry menu of the channel, titled for what it edits, and the
    // model's value loaded into the digit editor.
    void startValueEntry(int channel, int mode);
    void editVectorSumRelativeOffset();
    void updateFirmwareFromInternet();
    void updateFirmwareFromUsb();
    void captureScreen();
    void onPasswordEntered();
    // Shared steps of the families above.
    void stepBrightness(bool display, int step);
    void applyScaling(Form* page);
    void showPage(Fl_Widget* page, const std::function<void()>& prepare);
    Menu* getCurrentMenu();                // under the toolkit lock
    // ==== end of construction, start-up step, keys, panels and prompts =====

    // ==== Menu tree and menu actions =======================================
    // The tree (MainWindowMenus.cpp), built from the table of MenuTree.h:
    // every menu and entry, their actions, the references below, the marks
    // at start; ends by making "Main" current.  Once, after the panels exist.
    void buildMenus();

    // Actions (MainWindowActions.cpp).  They run on the thread that activates
    // the entry (the key link's reader).  `channel` is a card slot 1-3, or 0
    // for all three in turn.  Actions that only call models take no lock;
    // those that change widgets take the toolkit lock (gui::Lock).
    void setUpdateRate(float readingsPerSecond);
    void setPowerOnMode(int mode);
    void runWaveform();
    void stopWaveform();
    void setTriggerChannel(int slot);   // restarts a running acquisition
    void setTriggerMode(int mode);      // restarts or starts the acquisition
    void setTriggerSlope(int slope);
    void setTimebase(int index);
    void setWaveformScale(int channel, int scale);
    void setAngleUnits(int units);
    void setTimeUnits(int units);
    void setTemperatureUnits(int units);
    void setFluxUnits(int units);
    void setMode(int channel, int mode);
    void setRange(int channel, int range);
    void setAutorange(int channel);
    void setFreqRange(int channel, int freqRange);
    void relativeOff(int channel);
    void relativeAuto(int channel);
    void setZeroMode(int channel, int mode);
    void startZero(int channel);
    void resetHolds(int channel);
    // All channels: toggled together when the three agree, else all on.
    void toggleHoldActive(int channel);
    void toggleMaxHold(int channel);
    void toggleMinHold(int channel);
    void togglePeakHold(int channel);
    void toggleValleyHold(int channel);
    // All channels: off when channel 1's classifier is on, else all on.
    void toggleClassifier(int channel);
    void setCorrectedOutputMode(int channel, int mode);
    void setCorrectedOutputScaling(int channel, int tenthsOfVolt);
    void setUncorrectedOutputMode(int channel, int mode);
    void setUncorrectedOutputScaling(int channel, int tenthsOfVolt);
    void setVectorSumOutputMode(int mode);
    void setVectorSumOutputScaling(int tenthsOfVolt);
    void vectorSumRelativeOff();
    void vectorSumRelativeAuto();
    void toggleVectorSumMaxHold();
    void toggleVectorSumMinHold();
    void toggleVectorSumHoldActive();
    void resetVectorSumHolds();
    void commandLineMode();
    void setDemoMode();
    void setNormalMode();
    void applyDateTime();
    void saveProfile();
    void restoreProfile();
    void restoreFactoryDefaults();
    void changeRs232Setting(int setting);   // 0 speed, 1 data bits, 2 stop bits, 3 parity, 4 flow control
    void refreshErrorPanel();
    void clearOldestError();
    void clearAllErrors();

    // The digit editor of the value-entry menus and the channel Up/Down
    // keys, dispatched by editMode; finishEntry ends the entry (the menu's
    // back key).  Channels 2 and 3 do nothing in mode 5 (vector sum).
    void editDigitLeft(int channel);
    void editDigitRight(int channel);
    void editIncrementDigit(int channel);
    void editDecrementDigit(int channel);
    void editToggleSign(int channel);
    void editReset(int channel);
    void finishEntry(int channel);

    // The radio menus whose mark mirrors a model value (MainWindowMarks.cpp),
    // on the GUI thread or under the toolkit lock: the mark of the menu of
    // kind id (a per-channel kind: channel c's, all three for 0) from the
    // model's present value.  A whole-meter menu that shows a channel's value
    // (the units) shows channel c's, for 0 the first channel on the screen.
    void markFromModel(menutree::MenuId id, int channel = 0);
    void markAllFromModels();
    // From any thread: markFromModel on the GUI thread, then the menu shown.
    void markLater(menutree::MenuId id, int channel = 0);
    // Whether the kind has such a rule.
    static bool hasModelMark(menutree::MenuId id);

    // Menu contents that follow the models and the other actions.  Menu
    // contents are changed on the GUI thread or under the toolkit lock.
    void onVectorSumRelativeChanged(int state);   // any thread: posts its work
    void updateAllChannelsHoldMarks();
    void updateWaveformScaleItems(int channel);
    void removeAcFreqEntries();
    void hideNetworkAddressItems();
    void showNetworkAddressItems();

    // Panels and the keypad.  The first four: the caller holds the toolkit
    // lock; the others take it.
    void hideAllPanels();
    void showKeypad();
    void showNetworkPanel();
    void showGpibPanel();
    void showScalingPanel(Form* form);
    void openNetworkConfig();
    void editGpibAddress();
    void editNetworkField(int row);     // 1 IP address, 2 netmask, 3 gateway, 4 DNS server
    void editDateTimeField(int row);    // 0 year, 1 month, 2 day, 3 hour, 4 minute
    void editOutputFullScale(Form* form);
    // ==== end of menu tree and menu actions ================================

    // ---- Data, in declaration order -----------------------------------------
    MeterModel* meterModel = nullptr;
    SoftButton* softButtons[6] = {};
    Timer softButtonTimers[6] = {{100, false}, {100, false}, {100, false},
                                 {100, false}, {100, false}, {100, false}};
    // The key link and the two objects on it (made by the start-up step)
    // are never freed: the link's reader runs menu actions under the
    // toolkit lock, which the GUI thread holds while it destroys the window,
    // so joining that reader here could wait for ever; and the view and the
    // handler are connected to the meter model's and channels' signals,
    // which other threads raise for as long as the process lives (the
    // models outlive the window).  The program ends by exit_group, never by
    // destroying the window.
    ButtonView* buttonView = nullptr;
    ButtonHandler* buttonHandler = nullptr;
    std::unique_ptr<DelfinoBootloader> bootloader;
    char canInterfaceName[20] = {0};
    bool skipBootload = false;
    sigc::connection bootloadConnection;
    sigc::connection keyConnection;
    int panelWidth = 508;
    Menu* currentMenu = nullptr;

    // Menus, first block.
    Menu* mainMenu = nullptr;
    Menu* systemMenu = nullptr;
    Menu* systemMoreMenu = nullptr;
    Menu* engineerMenu = nullptr;
    MenuElement* engineeringElement = nullptr;
    Menu* networkConfigMenu = nullptr;
    MenuElement* networkAddressEntries[4] = {};
    MenuElement* firmwareUpdateEntries[2] = {};
    Menu* firmwareUpdateMenu = nullptr;
    Menu* channelsMenu = nullptr;
    Menu* channelMenus[3] = {};
    int engineeringSequence[5] = {};
    int engineeringSequencePos = 0;

    CANinterface* keyInterface = nullptr;   // never freed: see buttonView above

    // Readouts and pages.
    NumericDisplay* numericDisplays[3] = {};
    VectorSumDisplay* vectorSumDisplay = nullptr;
    DiagDisplay* diagDisplays[3] = {};
    NetworkConfigDisplay* networkConfigDisplay = nullptr;
    NumericKeypad* numericKeypad = nullptr;
    FirmwareUpdateDisplay* firmwareUpdateDisplay = nullptr;
    EngineeringPasswordDisplay* passwordDisplay = nullptr;
    GpibConfigDisplay* gpibConfigDisplay = nullptr;
    RS232ConfigDisplay* rs232ConfigDisplay = nullptr;
    DateTimeDisplay* dateTimeDisplay = nullptr;
    SystemInfoDisplay* systemInfoDisplay = nullptr;
    ErrorDisplay* errorDisplay = nullptr;
    ProfilesDisplay* profilesDisplay = nullptr;
    NumericDisplay* singleNumericDisplay = nullptr;
    DiagDisplay* singleDiagDisplay = nullptr;
    WaveFormDisplay* waveFormDisplay = nullptr;
    AnalogOutCorrScalingDisplay* corrScalingDisplays[3] = {};
    AnalogOutUncorrScalingDisplay* uncorrScalingDisplays[3] = {};
    AnalogOutVsumScalingDisplay* vsumScalingDisplay = nullptr;
    MessagePopup* messagePopup = nullptr;
    MenuFooter* menuFooter = nullptr;

    // The backlight test's runs, each on a thread of its own (startButtonTest).
    BacklightTest backlightTest;

    // Menus, second block.
    RadioButtonMenu* modeMenus[3] = {};
    RadioButtonMenu* rangeMenus[3] = {};
    Menu* holdMenus[3] = {};
    RadioButtonMenu* acFreqMenus[3] = {};
    MenuElement* acFreqEntries[3] = {};
    RadioButtonMenu* relativeMenus[3] = {};
    Menu* zeroMenus[3] = {};
    Menu* autoZeroMenus[3] = {};
    Menu* valueEntryMenus[3] = {};
    Menu* classifierMenus[3] = {};
    RadioButtonMenu* corrModeMenus[3] = {};
    RadioButtonMenu* corrScalingMenus[3] = {};
    RadioButtonMenu* uncorrModeMenus[3] = {};
    RadioButtonMenu* uncorrScalingMenus[3] = {};
    RadioButtonMenu* scaleMenus[3] = {};
    MenuElement* triggerLevelEntries[3] = {};
    RadioButtonMenu* allChannelsModeMenu = nullptr;
    RadioButtonMenu* allChannelsRangeMenu = nullptr;
    RadioButtonMenu* allChannelsAcFreqMenu = nullptr;
    RadioButtonMenu* allChannelsRelativeMenu = nullptr;
    RadioButtonMenu* fluxUnitMenu = nullptr;
    RadioButtonMenu* temperatureUnitMenu = nullptr;
    RadioButtonMenu* angleUnitMenu = nullptr;
    RadioButtonMenu* timeUnitMenu = nullptr;
    RadioButtonMenu* vectorSumOutputModeMenu = nullptr;
    RadioButtonMenu* vectorSumScalingMenu = nullptr;
    RadioButtonMenu* updateRateMenu = nullptr;
    RadioButtonMenu* timeBaseMenu = nullptr;
    Menu* scaleMenu = nullptr;
    Menu* allChannelsHoldMenu = nullptr;
    Menu* allChannelsZeroMenu = nullptr;
    Menu* allChannelsClassifierMenu = nullptr;
    Menu* singleChannelAnalogMenus[8] = {};
    Menu* externalOutputsMenu = nullptr;
    Menu* displayMenu = nullptr;
    Menu* displayChannelsMenu = nullptr;
    MenuElement* displayChannelsEntry = nullptr;
    MenuElement* vectorSumDisplayEntry = nullptr;
    Menu* vectorSumHoldMenu = nullptr;
    RadioButtonMenu* vectorSumRelativeMenu = nullptr;
    Menu* vectorSumMenu = nullptr;
    Menu* triggerSetupMenu = nullptr;
    RadioButtonMenu* triggerModeMenu = nullptr;
    RadioButtonMenu* triggerSlopeMenu = nullptr;
    MenuElement* triggerSlopeEntry = nullptr;
    RadioButtonMenu* triggerChannelMenu = nullptr;
    MenuElement* triggerChannelEntries[3] = {};
    Menu* waveformMenu = nullptr;
    MenuElement* usbLoggingEntry = nullptr;
    MenuElement* internalLoggingEntry = nullptr;
    Menu* profilesMenu = nullptr;
    MenuElement* powerOnEntry = nullptr;
    RadioButtonMenu* powerOnMenu = nullptr;

    bool showChannel[3] = {true, true, true};
    bool showVectorSum = false;
    int shownDisplayCount = 0;
    std::atomic<int> editMode{0};
    std::atomic<bool> messageShown{false};

    // What the start-up step starts and keeps running: the SCPI servers (TCP,
    // RS-232, GPIB) and the JSON server, in that order; the destructor stops
    // them, the JSON server first.  As for any SCPI server, that is once the
    // meter reports its busy state no more (ScpiServer's destructor).
    StartupOwner startedObjects;
};
