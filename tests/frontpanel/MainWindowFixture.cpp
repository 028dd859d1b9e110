#include "MainWindowFixture.h"

#include "../widgets/WidgetTestSupport.h"

#include "frontpanel/MainWindow.h"
#include "frontpanel/Menu.h"
#include "support/TestSupport.h"
#include "widgets/GuiThread.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

namespace mwtest {

MainWindow* mw = nullptr;

namespace {

testsupport::TempSandbox* sandbox = nullptr;
testsupport::ChildProcess* mendra = nullptr;

class WindowEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        testgui::ensureGuiThread();
        sandbox = new testsupport::TempSandbox();
        std::ofstream(sandbox->path() + "/ports.conf") << "scpi: 0\njson: 0\n";   // servers on free ports
        const std::string bus = testsupport::uniqueBusName("v");
        if (withCards()) {
            mendra = new testsupport::ChildProcess();
            ASSERT_TRUE(mendra->start(testsupport::binPath("mendra"), {"-sandbox", sandbox->path(), "-can", bus}));
        }
        Fl_Double_Window* window = new Fl_Double_Window(640, 480);
        window->end();
        mw = new MainWindow(0, 0, 640, 480, bus.c_str(), true);
        window->add(mw);
    }
    void TearDown() override {
        if (mendra) mendra->stop();
        delete mendra;
        // The window and the model live until the process ends, as in the
        // program; the sandbox folder goes.
        delete sandbox;
    }
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new WindowEnvironment);

}  // namespace

bool pump(const std::function<bool()>& pred, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        gui::runPending();
        if (pred()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        Fl::unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Fl::lock();
    }
}

int occurrences(Menu* menu, MenuElement* element) {
    int n = 0;
    for (int i = 0; i < menu->getItemCount(); ++i) n += menu->getItem(i) == element;
    return n;
}

std::string sandboxFile(const std::string& instrumentPath) { return sandbox->file(instrumentPath); }

}  // namespace mwtest
