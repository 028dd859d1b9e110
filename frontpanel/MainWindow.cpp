// MainWindow: construction, the backlights at start, the soft-button release
// timers and the re-initialisation of the channel processors.
#include "frontpanel/MainWindow.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "frontpanel/EngineeringPasswordDisplay.h"
#include "frontpanel/MenuFooter.h"
#include "frontpanel/MessagePopup.h"
#include "frontpanel/NumericKeypad.h"
#include "frontpanel/SoftButton.h"
#include "meter/DelfinoBootloader.h"
#include "meter/MeterModel.h"
#include "pages/AnalogOutScalingDisplay.h"
#include "pages/DateTimeDisplay.h"
#include "pages/DiagDisplay.h"
#include "pages/ErrorDisplay.h"
#include "pages/FirmwareUpdateDisplay.h"
#include "pages/GpibConfigDisplay.h"
#include "pages/NetworkConfigDisplay.h"
#include "pages/NumericDisplay.h"
#include "pages/ProfilesDisplay.h"
#include "pages/RS232ConfigDisplay.h"
#include "pages/SystemInfoDisplay.h"
#include "pages/VectorSumDisplay.h"
#include "pages/WaveFormDisplay.h"
#include "runtime/Logger.h"
#include "widgets/GuiThread.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {
constexpr int kSoftButtonWidth = 132;
constexpr int kSoftButtonHeight = 60;
// The step from button 3 to button 4 is 64 pixels, every other one 62.
constexpr int kSoftButtonTop[6] = {0, 62, 124, 188, 250, 312};
const char* const kSoftButtonLabel[6] = {"Button 1", "Button 2", "Button 3",
                                         "Button 4", "Button 5", "Button 6"};
// Readout colours by channel (RGB colour values); the background is black.
constexpr unsigned kChannelColour[3] = {0x00FFFF00, 0xFF108C00, 0x00EF0000};
}  // namespace

MainWindow::MainWindow(int x, int y, int w, int h, const char* name, bool skip, const char* label)
    : Fl_Group(x, y, w, h, label),
      // A run exists only once the start-up step has made the key link.
      backlightTest([this](int key, int level) { keyInterface->sendButtonBacklight(key, level); }) {
    Logger::instance()->setLevel(2);
    Logger::instance()->log(1, "MainWindow", "Meter starting up");
    std::strncpy(canInterfaceName, name, sizeof canInterfaceName - 1);
    meterModel = MeterModel::instanceForInterface(canInterfaceName);
    initButtonBacklights();
    // The timers' threads start with the timers; their signals are connected
    // here, before any timer is started.
    for (int k = 0; k < 6; ++k)
        softButtonTimers[k].signalTimeout().connect(
            sigc::bind(sigc::mem_fun(*this, &MainWindow::releaseSoftButton), k));
    panelWidth = 508;
    skipBootload = skip;
    bootloader = std::make_unique<DelfinoBootloader>(canInterfaceName);

    color(FL_BLACK);
    box(FL_NO_BOX);
    for (int k = 0; k < 6; ++k)
        softButtons[k] = new SoftButton(x + panelWidth, y + kSoftButtonTop[k], kSoftButtonWidth,
                                        kSoftButtonHeight, kSoftButtonLabel[k]);
    menuFooter = new MenuFooter(x + panelWidth, y + 374, kSoftButtonWidth, 107, "Main Menu");
    end();

    // The readouts: added to the window when the screen is laid out.
    for (int c = 1; c <= 3; ++c)
        numericDisplays[c - 1] = new NumericDisplay(x, y + 160 * (c - 1), panelWidth, 160, kChannelColour[c - 1],
                                                    FL_BLACK, c, true);
    vectorSumDisplay = new VectorSumDisplay(x, y + 360, panelWidth, 120, FL_BLUE, FL_BLACK);
    for (int c = 1; c <= 3; ++c)
        diagDisplays[c - 1] = new DiagDisplay(x, y + 160 * (c - 1), panelWidth, 160, kChannelColour[c - 1],
                                              FL_BLACK, c);
    singleNumericDisplay = new NumericDisplay(x, y, panelWidth, 480, kChannelColour[1], FL_BLACK, 2, false);
    singleNumericDisplay->resize(x, y, panelWidth, 480);
    singleDiagDisplay = new DiagDisplay(x, y, panelWidth, 480, kChannelColour[1], FL_BLACK, 2);

    // Pages exist outside the window's children until an action shows them:
    // each is added and removed again at once.
    auto park = [this](Fl_Widget* page) {
        add(page);
        remove(page);
    };
    const int formH = h - 69;
    park(waveFormDisplay = new WaveFormDisplay(x, y, panelWidth, h));
    park(networkConfigDisplay = new NetworkConfigDisplay(x + 5, y + 5, 498, formH));
    park(firmwareUpdateDisplay = new FirmwareUpdateDisplay(x + 5, y + 5, 498, formH));
    park(numericKeypad = new NumericKeypad(x + 5, y + h - 60, 498, 50));
    park(passwordDisplay = new EngineeringPasswordDisplay(x + 5, y + 5, 498, h / 2));
    park(gpibConfigDisplay = new GpibConfigDisplay(x + 5, y + 5, 498, formH));
    park(rs232ConfigDisplay = new RS232ConfigDisplay(x + 5, y + 5, 498, formH));
    park(dateTimeDisplay = new DateTimeDisplay(x + 5, y + 5, 498, formH));
    park(systemInfoDisplay = new SystemInfo4730Display(x + 5, y + 5, 498, h - 10));
    park(errorDisplay = new ErrorDisplay(x + 5, y + 5, 498, h - 10));
    park(profilesDisplay = new ProfilesDisplay(x + 5, y + 5, 498, formH));
    for (unsigned slot = 1; slot <= 3; ++slot) {
        ChannelModel* channel = meterModel->getChannel(slot);
        corrScalingDisplays[slot - 1] = new AnalogOutCorrScalingDisplay(channel, x + 5, y + 5, 498, formH);
        uncorrScalingDisplays[slot - 1] = new AnalogOutUncorrScalingDisplay(channel, x + 5, y + 5, 498, formH);
    }
    vsumScalingDisplay = new AnalogOutVsumScalingDisplay(x + 5, y + 5, 498, formH);

    messagePopup = new MessagePopup(x + 50, y + 100, 400, 100);
    add(messagePopup);
    messagePopup->hide();

    buildMenus();

    if (skipBootload) {
        Logger::instance()->log(1, "MainWindow", "Skipping Delfino bootload");
        initializeMeter();
    } else {
        meterModel->stopCan();
        bootloadConnection =
            bootloader->signalFinished().connect(sigc::mem_fun(*this, &MainWindow::initializeMeter));
        bootloader->start();
    }
}

MainWindow::~MainWindow() {
    // The reverse of the order of making: the backlight test's runs (the
    // last things started), then the servers of the start-up step.
    backlightTest.stop();
    startedObjects.stop();
    keyConnection.disconnect();
    bootloadConnection.disconnect();
    // A load still going is waited for while the window is whole: it ends
    // without its slot now, or in a slot that is already running.  A
    // reload's slot takes no toolkit lock; the start-up step's does, and so
    // must have ended before the window goes (with -skipBootload it runs
    // inside the constructor).
    bootloader.reset();
}

void MainWindow::initButtonBacklights() {
    CANinterface link(canInterfaceName);
    for (int id = 1; id <= 32; ++id) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        link.sendButtonBacklight(id, id <= 6 ? 1 : 0);
    }
}

// On the timer's thread, inside its signal: the GUI thread gives the button
// its normal look back (this thread must not wait for the toolkit lock).
void MainWindow::releaseSoftButton(int index) {
    SoftButton* button = softButtons[index];
    gui::post([button] { button->release(); });
}

// Engineering menu: the channel processors are loaded again while the
// window stays usable; the links come back when the load ends.
void MainWindow::reinitChannelProcessors() {
    if (bootloader->isRunning()) return;   // one load at a time
    meterModel->stopCan();   // joins the readers: no toolkit lock held here
    // No card is heard while the processors load: no reading is shown as
    // live until each card has been synced again.
    for (unsigned slot = 1; slot <= 3; ++slot) meterModel->getChannel(slot)->markNoCard();
    bootloadConnection =
        bootloader->signalFinished().connect(sigc::mem_fun(*this, &MainWindow::onReinitFinished));
    bootloader->start();
}

void MainWindow::onReinitFinished() {
    meterModel->startBackplane();
    // On the bootloader's thread, inside the signal's emission: the signal
    // is raised by no other thread.
    bootloadConnection.disconnect();
    for (unsigned slot = 1; slot <= 3; ++slot) {
        ChannelModel* channel = meterModel->getChannel(slot);
        channel->setMode(0);
        channel->setRange(1);
    }
    // The cards are synced as at start-up: each sends all it has and, at its
    // card-ready, gets the channel's settings again.
    syncCards();
}
