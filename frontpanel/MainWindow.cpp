#include "frontpanel/MainWindow.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "frontpanel/GuiThread.h"
#include "json/JsonServer.h"
#include "meter/DelfinoBootloader.h"
#include "meter/MeterModel.h"
#include "runtime/ErrorList.h"
#include "runtime/Logger.h"
#include "scpi/ScpiErrorQueue.h"
#include "scpi/ScpiServerTcp.h"

#include <chrono>
#include <cstring>
#include <thread>

MainWindow* gMainWindow = nullptr;

namespace {
void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
}  // namespace

MainWindow::MainWindow(int x, int y, int w, int h, const char* name, bool skip, const char* label)
    : Fl_Group(x, y, w, h, label) {
    Logger::instance()->setLevel(2);
    Logger::instance()->log(1, "MainWindow", "Meter starting up");
    std::strncpy(canInterfaceName, name, sizeof canInterfaceName - 1);
    meterModel = MeterModel::instanceForInterface(canInterfaceName);
    initButtonBacklights();
    skipBootload = skip;
    bootloader = new DelfinoBootloader(canInterfaceName);
    color(FL_BLACK);
    box(FL_NO_BOX);
    end();
    gMainWindow = this;
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
    keyConnection.disconnect();
    bootloadConnection.disconnect();
}

void MainWindow::initButtonBacklights() {
    CANinterface link(canInterfaceName);
    for (int id = 1; id <= 32; ++id) {
        sleepMs(1);
        link.sendButtonBacklight(id, id <= 6 ? 1 : 0);
    }
}

void MainWindow::startKeyInterface() {
    keyInterface = new CANinterface(canInterfaceName);
    keyInterface->setFilter(0x020, 0x7E0);
    // Connected before the reader starts: the key signal is raised only on
    // that reader's thread.
    keyConnection = keyInterface->signalKeyPressed().connect(
        sigc::mem_fun(*this, &MainWindow::onFrontPanelKey));
    keyInterface->startReader();
}

void MainWindow::onFrontPanelKey(int /*key*/) {}

void MainWindow::onRemoteState(bool enabled) {
    Logger::instance()->log(2, "MainWindow", enabled ? "Enable buttons" : "Disable buttons");
    if (keyInterface) keyInterface->setKeyEventsEnabled(enabled);
}

void MainWindow::initializeMeter() {
    meterModel->startBackplane();
    startKeyInterface();
    sleepMs(2000);
    bootloadConnection.disconnect();
    meterModel->loadSettings();
    meterModel->sendHostReady();
    ScpiErrorQueue::instance()->push(ErrorList::instance()->lookup(-500));
    // SCPI servers (TCP, RS-232, GPIB) and the JSON server start here.
    ScpiServer::openAndStart(new ScpiServerTcp(), sigc::mem_fun(*this, &MainWindow::onRemoteState));
    JsonServer* jsonServer = new JsonServer();   // never freed: serves until the process ends
    jsonServer->start();
    {
        gui::Lock lock;
        redraw();
    }
    for (unsigned slot = 1; slot <= 3; ++slot) {
        meterModel->getChannel(slot)->requestAllData();
        sleepMs(200);
    }
    Logger::instance()->log(1, "MainWindow", "Meter Initialization Complete");
}
