// MainWindow: the front-panel keys, one code at a time on the key link's
// reader thread.  Soft keys 1-6 select the current menu's entries, each
// channel's eight keys (7 + 8 x (channel - 1) + k) act on its model, 31 goes
// back a menu; 32 (Enter) belongs to the ButtonHandler.  Widgets change
// under the toolkit lock; the models and the menu actions are called with
// no lock held.
#include "frontpanel/MainWindow.h"

#include "channel/ChannelModel.h"
#include "frontpanel/ButtonView.h"
#include "frontpanel/Menu.h"
#include "frontpanel/SoftButton.h"
#include "meter/MeterModel.h"
#include "widgets/GuiThread.h"

namespace {
enum ChannelKey { kRange, kMode, kHold, kResetHolds, kRelative, kZero, kDown, kUp };
constexpr int kFirstChannelKey = 7;
constexpr int kLastChannelKey = 30;
constexpr int kBackKey = 31;
constexpr int kSequenceLength = 5;
}  // namespace

Menu* MainWindow::getCurrentMenu() {
    gui::Lock lock;
    return currentMenu;
}

void MainWindow::onFrontPanelKey(int key) {
    if (messageShown) return;   // the pop-up waits for Enter: keys are dropped

    if (key >= 1 && key <= 6) {
        {
            gui::Lock lock;
            softButtons[key - 1]->press();
        }
        softButtonTimers[key - 1].start();
        if (Menu* menu = getCurrentMenu()) menu->select(key - 1);
        return;   // soft keys take no part in the hidden sequence
    }

    // The hidden sequence that shows or hides "Engineering": its first two
    // keys keep their own function, the others are consumed.
    if (key == engineeringSequence[engineeringSequencePos]) {
        const int matched = engineeringSequencePos++;
        if (engineeringSequencePos == kSequenceLength) {
            engineeringSequencePos = 0;
            if (systemMoreMenu && engineeringElement) {
                if (systemMoreMenu->hasItem(engineeringElement))
                    systemMoreMenu->removeItem(engineeringElement);
                else
                    systemMoreMenu->addItem(engineeringElement);
            }
            gui::Lock lock;
            showMenu();
            return;
        }
        if (matched >= 2) return;
    } else {
        engineeringSequencePos = 0;
    }

    if (key >= kFirstChannelKey && key <= kLastChannelKey) {
        const int channel = (key - kFirstChannelKey) / 8 + 1;
        ChannelModel* model = MeterModel::instance()->getChannel(static_cast<unsigned>(channel));
        // Down and Up edit only while the channel's value-entry menu is shown.
        Menu* entryMenu = valueEntryMenus[channel - 1];
        const bool entering = entryMenu && getCurrentMenu() == entryMenu;
        switch ((key - kFirstChannelKey) % 8) {
        case kRange: model->cycleRange(); break;
        case kMode: model->toggleMode(); break;
        case kHold: model->toggleHoldActive(); break;
        case kResetHolds: model->resetHolds(); break;
        case kRelative: model->toggleRelative(); break;
        case kZero: model->startZero(); break;
        case kDown:
            if (entering) editDecrementDigit(channel);
            break;
        case kUp:
            if (entering) editIncrementDigit(channel);
            break;
        }
    } else if (key == kBackKey) {
        Menu* menu = getCurrentMenu();
        if (!menu || !menu->getParent()) return;
        menu->emitBack();   // a value-entry menu commits its entry here
        gui::Lock lock;
        Menu* parent = menu->getParent();
        currentMenu = parent;
        parent->show(softButtons, 6, menuFooter);
        if (buttonView) buttonView->setSoftButtonCount(parent->getItemCount());
    }
}
