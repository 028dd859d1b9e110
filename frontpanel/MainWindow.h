// MainWindow: the one front-panel object.  It owns the soft buttons, the
// readouts and pages, the menu tree and the key link, creates the meter model
// and runs the start-up step that wires the models, the servers and the
// screen together.
//
// Start-up skeleton: the start-up step, the key link and the servers; the
// soft buttons, menus, readouts and pages are added by the front-panel work.
#pragma once

#include "runtime/Timer.h"

#include <FL/Fl_Group.H>
#include <sigc++/sigc++.h>

#include <array>
#include <memory>

class CANinterface;
class DelfinoBootloader;
class MeterModel;

class MainWindow : public Fl_Group, public sigc::trackable {
public:
    MainWindow(int x, int y, int w, int h, const char* canInterfaceName, bool skipBootload,
               const char* label = nullptr);
    ~MainWindow() override;

    // The start-up step: runs once, on the bootloader's thread when it
    // finishes, or inside the constructor with -skipBootload.
    void initializeMeter();
    void startKeyInterface();
    void initButtonBacklights();
    void onFrontPanelKey(int key);
    void onRemoteState(bool enabled);

private:
    MeterModel* meterModel = nullptr;
    DelfinoBootloader* bootloader = nullptr;
    char canInterfaceName[20] = {0};
    bool skipBootload = false;
    sigc::connection bootloadConnection;
    sigc::connection keyConnection;
    CANinterface* keyInterface = nullptr;
};

// The window, once its menus are built.
extern MainWindow* gMainWindow;
