// tvl4700: the instrument's main program.
//   tvl4700 [-can <interface>] [-skipBootload]      (PC build: [-sandbox DIR])
// Ends on SIGTERM, SIGINT or SIGHUP, and on the loss of its X server, with its
// settings written (frontpanel/ProgramStop.h).
#include "console/Console.h"
#include "frontpanel/MainWindow.h"
#include "frontpanel/ProgramStop.h"
#include "platform/CanTransport.h"
#include "platform/Platform.h"
#include "widgets/GuiThread.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);
    // Before any other thread exists, so that every thread inherits the mask
    // and only the stop thread takes the stop signals.
    programstop::blockStopSignals();
    // The toolkit lock is first taken here, before any other thread exists.
    gui::initGuiThread();
    // A client that goes away must never end the program: writes to a closed
    // socket fail with EPIPE instead.  Likewise a file that reaches the size
    // limit: its write fails with EFBIG and is reported like a full disk.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);

    char interfaceName[20] = "can0";
    const char* canName = interfaceName;
    bool skipBootload = false;
    for (int i = 1; i < argc; ++i) {
        console::print("argv[%d] = %s\n", i, argv[i]);
        if (std::strcmp(argv[i], "-can") == 0) {
            if (i + 1 >= argc) break;
            canName = argv[i + 1];
            std::strncpy(interfaceName, argv[i + 1], sizeof interfaceName - 1);
            interfaceName[sizeof interfaceName - 1] = '\0';
            ++i;
        } else if (std::strcmp(argv[i], "-skipBootload") == 0) {
            console::print("Skipping Delfino Bootload\n");
            skipBootload = true;
        }
    }
    // A name that no bus can have is refused before anything runs without a bus.
    const std::string nameProblem = platform::canInterfaceNameProblem(canName);
    if (!nameProblem.empty()) {
        console::printError("tvl4700: %s\n", nameProblem.c_str());
        return 2;
    }
    // A bus that cannot be had ends the program before it runs without one.
    std::unique_ptr<platform::CanTransport> busHold;
    if (!platform::holdEmulatedBus(canName, busHold)) {
        console::printError("tvl4700: cannot open CAN interface %s\n", canName);
        return 1;
    }
    // From here on SIGTERM, SIGINT and SIGHUP stop the program with its
    // settings written, also during the start-up that the window's
    // constructor runs; so does the toolkit's fatal error (the X server
    // gone).
    programstop::startStopThread();
    programstop::takeToolkitFatalErrors();

    // The instrument's screen is 640x480: the window fills it, at the top
    // left corner and without a border (the toolkit would move a bordered
    // window 20 pixels down to leave room for a title bar no one draws).
    Fl_Double_Window* window = new Fl_Double_Window(0, 0, 640, 480);
    window->border(0);
    window->end();
    window->color(FL_BLACK);
    MainWindow* mainWindow = new MainWindow(0, 0, window->w(), window->h(), interfaceName, skipBootload);
    window->add(mainWindow);
    Fl::visual(FL_DOUBLE | FL_INDEX);
    window->show();
    const int result = Fl::run();
    programstop::stop("the window closed", result);
}
