// MainWindow: the radio menus whose mark mirrors a model value (the table's
// kMarkFromModel menus).  One rule per menu says which item the model's
// present value marks; the mark is taken from it when the tree is built, once
// more when the start-up step has connected the handlers (a value may change
// before that), and by the handlers whenever the value changes.  So a menu
// never marks another value than the one the instrument uses, a first start
// without settings files included.
//
// The rules read the models; they run on the GUI thread or under the toolkit
// lock, as every change of a menu does.
#include "frontpanel/MainWindow.h"

#include "channel/ChannelModel.h"
#include "channel/SettingRanges.h"
#include "frontpanel/Menu.h"
#include "frontpanel/MenuTree.h"
#include "meter/MeterModel.h"
#include "widgets/GuiThread.h"

#include <optional>

namespace {

using menutree::MenuId;
// The item that marks a value (kNoItem: no mark); none: the value has no
// item, the mark stays where it is.
using Mark = std::optional<int>;
constexpr int kNoItem = -1;

ChannelModel& channelOf(MainWindow& w, int c) { return *w.meterModel->getChannel(static_cast<unsigned>(c)); }

// The channel whose value a whole-meter menu shows (the units): the one that
// changed, or the first one on the screen.
ChannelModel& shownChannelOf(MainWindow& w, int c) {
    if (c < 1 || c > 3) c = w.meterModel->isThreeChannelModel() ? 1 : 2;
    return channelOf(w, c);
}

// A channel's item in its "... Mode", "... Range", "... AC Freq" and
// "... Relative" menus.
int modeItem(const ChannelModel& m) { return m.getMode() == settingrange::kModeAc ? 1 : 0; }
int rangeItem(const ChannelModel& m) {
    const int range = m.getRange();
    return m.isAutorange() ? 4 : settingrange::isRange(range) ? range : 0;
}
int acFreqItem(const ChannelModel& m) {
    switch (m.getFreqRange()) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 3;
    case 3: return 4;
    case 5: return 5;
    default: return 0;
    }
}
constexpr int kManualRelativeItem = 2;
int relativeItem(const ChannelModel& m) {
    const int state = m.getRelativeState();
    return state == 2 || state == 3 ? kManualRelativeItem : state == 1 ? 1 : 0;
}
// An "All\nChannels" menu marks the channels' item when all three agree and
// nothing otherwise: never the last row pressed there when a channel has
// been changed on its own since.
Mark agreed(MainWindow& w, int (*item)(const ChannelModel&)) {
    const int first = item(channelOf(w, 1));
    return item(channelOf(w, 2)) == first && item(channelOf(w, 3)) == first ? first : kNoItem;
}
// The item of a "... Scaling" menu for a full scale in tenths of a volt.
int scalingItem(int tenths) { return tenths == 30 ? 0 : tenths == 100 ? 1 : 2; }
// An output mode's item: 1 and 2 as they are, anything else 0.
int outputModeItem(int mode) { return mode == 1 || mode == 2 ? mode : 0; }
Mark within(int value, int last) { return value >= 0 && value <= last ? Mark(value) : std::nullopt; }
// A unit's item: the unit itself, when it is one.
Mark unitItem(int unit, bool (*isUnit)(long long)) { return isUnit(unit) ? Mark(unit) : std::nullopt; }

struct MarkRule {
    MenuId id;
    // The menu of channel c (per-channel kinds) or the one menu (c ignored).
    RadioButtonMenu* (*menu)(MainWindow& w, int c);
    Mark (*item)(MainWindow& w, int c);
};

const MarkRule kRules[] = {
    // ---- Per channel
    {MenuId::ChannelMode, [](MainWindow& w, int c) { return w.modeMenus[c - 1]; },
     [](MainWindow& w, int c) -> Mark { return modeItem(channelOf(w, c)); }},
    {MenuId::ChannelRange, [](MainWindow& w, int c) { return w.rangeMenus[c - 1]; },
     [](MainWindow& w, int c) -> Mark { return rangeItem(channelOf(w, c)); }},
    {MenuId::ChannelAcFreq, [](MainWindow& w, int c) { return w.acFreqMenus[c - 1]; },
     [](MainWindow& w, int c) -> Mark { return acFreqItem(channelOf(w, c)); }},
    {MenuId::ChannelRelative, [](MainWindow& w, int c) { return w.relativeMenus[c - 1]; },
     [](MainWindow& w, int c) -> Mark { return relativeItem(channelOf(w, c)); }},
    {MenuId::ChannelScale, [](MainWindow& w, int c) { return w.scaleMenus[c - 1]; },
     [](MainWindow& w, int c) -> Mark {
         const int scale = channelOf(w, c).getWaveformScale();
         return scale >= 0 && scale <= 4 ? scale : 5;
     }},
    {MenuId::CorrectedMode, [](MainWindow& w, int c) { return w.corrModeMenus[c - 1]; },
     [](MainWindow& w, int c) -> Mark { return outputModeItem(channelOf(w, c).getCdacMode()); }},
    {MenuId::CorrectedScaling, [](MainWindow& w, int c) { return w.corrScalingMenus[c - 1]; },
     [](MainWindow& w, int c) -> Mark { return scalingItem(channelOf(w, c).getCdacScaling()); }},
    {MenuId::UncorrectedMode, [](MainWindow& w, int c) { return w.uncorrModeMenus[c - 1]; },
     [](MainWindow& w, int c) -> Mark { return outputModeItem(channelOf(w, c).getUdacMode()); }},
    {MenuId::UncorrectedScaling, [](MainWindow& w, int c) { return w.uncorrScalingMenus[c - 1]; },
     [](MainWindow& w, int c) -> Mark { return scalingItem(channelOf(w, c).getUdacScaling()); }},

    // ---- The channels together
    {MenuId::AllMode, [](MainWindow& w, int) { return w.allChannelsModeMenu; },
     [](MainWindow& w, int) { return agreed(w, modeItem); }},
    {MenuId::AllRange, [](MainWindow& w, int) { return w.allChannelsRangeMenu; },
     [](MainWindow& w, int) { return agreed(w, rangeItem); }},
    {MenuId::AllAcFreq, [](MainWindow& w, int) { return w.allChannelsAcFreqMenu; },
     [](MainWindow& w, int) { return agreed(w, acFreqItem); }},
    // The menu has no "Manual" row.
    {MenuId::AllRelative, [](MainWindow& w, int) { return w.allChannelsRelativeMenu; },
     [](MainWindow& w, int) -> Mark {
         const Mark item = agreed(w, relativeItem);
         return item == kManualRelativeItem ? kNoItem : item;
     }},
    {MenuId::FluxUnits, [](MainWindow& w, int) { return w.fluxUnitMenu; },
     [](MainWindow& w, int c) {
         return unitItem(shownChannelOf(w, c).getFluxUnits(), settingrange::isFluxUnit);
     }},
    {MenuId::TemperatureUnits, [](MainWindow& w, int) { return w.temperatureUnitMenu; },
     [](MainWindow& w, int c) {
         return unitItem(shownChannelOf(w, c).getTemperatureUnits(), settingrange::isTemperatureUnit);
     }},
    {MenuId::TimeUnits, [](MainWindow& w, int) { return w.timeUnitMenu; },
     [](MainWindow& w, int c) {
         return unitItem(shownChannelOf(w, c).getTimeUnits(), settingrange::isTimeUnit);
     }},

    // ---- The meter
    {MenuId::AngleUnits, [](MainWindow& w, int) { return w.angleUnitMenu; },
     [](MainWindow& w, int) { return unitItem(w.meterModel->getAngleUnits(), settingrange::isAngleUnit); }},
    {MenuId::UpdateRate, [](MainWindow& w, int) { return w.updateRateMenu; },
     // The rows run from the fastest rate down.
     [](MainWindow& w, int) -> Mark {
         return settingrange::kDisplayRateCount - 1 - settingrange::displayRateIndex(w.meterModel->getDisplayRate());
     }},
    {MenuId::VectorSumRelative, [](MainWindow& w, int) { return w.vectorSumRelativeMenu; },
     [](MainWindow& w, int) -> Mark {
         const int state = w.meterModel->getVectorSumRelativeState();
         return state == 3 ? 2 : within(state, 2);
     }},
    {MenuId::VectorSumOutputMode, [](MainWindow& w, int) { return w.vectorSumOutputModeMenu; },
     [](MainWindow& w, int) -> Mark {
         return w.meterModel->getVectorSumOutputMode() != settingrange::kVectorSumOutputOff ? 1 : 0;
     }},
    {MenuId::VectorSumScaling, [](MainWindow& w, int) { return w.vectorSumScalingMenu; },
     [](MainWindow& w, int) -> Mark { return scalingItem(w.meterModel->getVectorSumOutputScaling()); }},
    {MenuId::TimeBase, [](MainWindow& w, int) { return w.timeBaseMenu; },
     [](MainWindow& w, int) -> Mark {
         const int index = w.meterModel->getTimebase();
         return index >= 0 && index <= 4 ? index : 5;
     }},
    {MenuId::TriggerMode, [](MainWindow& w, int) { return w.triggerModeMenu; },
     [](MainWindow& w, int) -> Mark {
         const int mode = w.meterModel->getTriggerMode();
         return mode >= 0 && mode <= 3 ? mode : kNoItem;
     }},
    {MenuId::TriggerSlope, [](MainWindow& w, int) { return w.triggerSlopeMenu; },
     [](MainWindow& w, int) -> Mark { return w.meterModel->getTriggerSlope() == 1 ? 1 : 0; }},
    // The menu lists the channels that can trigger: the mark is where the
    // trigger channel's entry stands, none when it is not listed.
    {MenuId::TriggerChannel, [](MainWindow& w, int) { return w.triggerChannelMenu; },
     [](MainWindow& w, int) -> Mark {
         const int slot = w.meterModel->getTriggerChannel();
         if (slot < 1 || slot > 3 || !w.triggerChannelMenu) return kNoItem;
         for (int i = 0; i < w.triggerChannelMenu->getItemCount(); ++i)
             if (w.triggerChannelMenu->getItem(i) == w.triggerChannelEntries[slot - 1]) return i;
         return kNoItem;
     }},
    {MenuId::PowerOn, [](MainWindow& w, int) { return w.powerOnMenu; },
     [](MainWindow& w, int) { return within(w.meterModel->getPowerOnMode(), 1); }},
};

}  // namespace

namespace {
const MarkRule* ruleOf(MenuId id) {
    for (const MarkRule& rule : kRules)
        if (rule.id == id) return &rule;
    return nullptr;
}
}  // namespace

bool MainWindow::hasModelMark(menutree::MenuId id) { return ruleOf(id) != nullptr; }

void MainWindow::markFromModel(menutree::MenuId id, int channel) {
    const MarkRule* rule = ruleOf(id);
    if (!rule) return;
    auto apply = [&](RadioButtonMenu* menu, int c) {
        if (!menu) return;
        if (const Mark item = rule->item(*this, c)) menu->setSelected(*item);
    };
    if (menutree::menu(id).perChannel) {
        for (int c = 1; c <= 3; ++c)
            if (channel == 0 || channel == c) apply(rule->menu(*this, c), c);
    } else {
        apply(rule->menu(*this, 0), channel);
    }
}

void MainWindow::markAllFromModels() {
    for (const MarkRule& rule : kRules) markFromModel(rule.id);
}

void MainWindow::markLater(menutree::MenuId id, int channel) {
    gui::post([this, id, channel] {
        markFromModel(id, channel);
        showMenu();
    });
}
