#include "frontpanel/NumericKeypad.h"

#include "runtime/Speaker.h"
#include "widgets/Form.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <cstdlib>

namespace {

const char* const kKeyLabels[NumericKeypad::kKeyCount] = {"0", "1", "2", "3", "4", "5",
                                                          "6", "7", "8", "9", ".", "<-"};

struct KeyLook {
    Fl_Boxtype box;
    Fl_Color colour;
    int labelSize;
};
const KeyLook kNormalLook{FL_FLAT_BOX, FL_WHITE, 24};
const KeyLook kSelectedLook{FL_PLASTIC_UP_BOX, FL_GREEN, 30};

// False when w or a group it sits in (below its window) is hidden: the page
// it belongs to is not on the screen.
bool onItsPage(const Fl_Widget* w) {
    for (const Fl_Widget* o = w; o && o->type() < FL_WINDOW; o = o->parent())
        if (!o->visible()) return false;
    return true;
}

void applyLook(Fl_Button* key, const KeyLook& look) {
    key->box(look.box);
    key->color(look.colour);
    key->labelcolor(FL_BLACK);
    key->selection_color(FL_BLUE);
    key->labelsize(look.labelSize);
}

}  // namespace

NumericKeypad::NumericKeypad(int x, int y, int w, int h, const char* label)
    : Fl_Group(x, y, w, h, label) {
    color(Form::kPageColour);
    box(FL_RFLAT_BOX);
    const int keyWidth = (w - gap * (keyCount + 1)) / keyCount;
    const int keyHeight = h - 2 * verticalMargin;
    for (int i = 0; i < keyCount; ++i) {
        auto* key = new Fl_Button(x + 7 + i * (keyWidth + gap), y + verticalMargin, keyWidth,
                                  keyHeight, kKeyLabels[i]);
        applyLook(key, kNormalLook);
        key->callback(keyCallback, this);
        keys.push_back(key);
    }
    end();
    highlightKey(selected);
}

Fl_Button* NumericKeypad::key(int index) const {
    return index >= 0 && index < keyCount ? keys[index] : nullptr;
}

void NumericKeypad::keyCallback(Fl_Widget* widget, void* keypad) {
    static_cast<NumericKeypad*>(keypad)->onKeyButton(static_cast<Fl_Button*>(widget));
}

void NumericKeypad::detach() {
    if (!attachedInput) return;
    attachedInput->box(savedBox);
    attachedInput->color(savedColour);
    attachedInput->textcolor(savedTextColour);
    attachedInput->deactivate();
    attachedInput->redraw();
    attachedInput = nullptr;
}

void NumericKeypad::attachInput(Fl_Widget* widget) {
    auto* input = dynamic_cast<Fl_Input*>(widget);
    // The field attached before gets its own look back, so only one field
    // ever looks editable; attaching the same field again keeps the look
    // saved the first time.
    if (attachedInput != input) detach();
    if (input && input != attachedInput) {
        savedBox = input->box();
        savedColour = input->color();
        savedTextColour = input->textcolor();
        input->textcolor(FL_BLACK);
        input->box(FL_PLASTIC_DOWN_BOX);
        input->activate();
        input->redraw();
    }
    if (input) input->take_focus();
    intLimitOn = false;
    floatLimitOn = false;
    disabledKeys.clear();
    attachedInput = input;
}

void NumericKeypad::setIntMax(int max) {
    intLimitOn = true;
    intMax = max;
}

void NumericKeypad::setFloatMax(float max) {
    floatLimitOn = true;
    floatMax = max;
}

void NumericKeypad::disableKey(int index) {
    if (index > 0 && index < keyCount) disabledKeys.push_back(index);
}

bool NumericKeypad::isKeyDisabled(int index) const {
    return std::find(disabledKeys.begin(), disabledKeys.end(), index) != disabledKeys.end();
}

void NumericKeypad::highlightKey(int index) {
    if (Fl_Button* k = key(index)) applyLook(k, kSelectedLook);
}

void NumericKeypad::unhighlightKey(int index) {
    if (Fl_Button* k = key(index)) applyLook(k, kNormalLook);
}

void NumericKeypad::step(int direction) {
    gui::Lock lock;
    unhighlightKey(selected);
    // Ends: key 0 can never be disabled.
    do {
        selected = (selected + direction + keyCount) % keyCount;
    } while (isKeyDisabled(selected));
    highlightKey(selected);
    redraw();
}

void NumericKeypad::selectNextKey() { step(1); }

void NumericKeypad::selectPreviousKey() { step(-1); }

void NumericKeypad::pressSelectedKey() {
    int beeps;
    {
        gui::Lock lock;
        Fl_Button* k = keys[selected];
        deferBeeps = true;
        k->do_callback(k, k->user_data());
        deferBeeps = false;
        redraw();
        beeps = owedBeeps;
        owedBeeps = 0;
    }
    for (; beeps > 0; --beeps) Speaker::instance()->beep();
}

void NumericKeypad::onKeyButton(Fl_Button* key) {
    Fl_Input* field = attachedInput;
    if (!field || !key || !key->label()) return;
    // A page that was left keeps its fields: never type into a hidden one.
    if (!onItsPage(field) || !onItsPage(this)) {
        detach();
        return;
    }
    const char* text = key->label();
    if (text[0] == '<') {
        const int position = field->position();
        if (position > 0) field->replace(position - 1, position, nullptr, 0);
    } else {
        field->replace(field->position(), field->mark(), text);
        bool over = false;
        if (intLimitOn)
            over = std::strtol(field->value(), nullptr, 10) > intMax;
        else if (floatLimitOn)
            over = std::strtof(field->value(), nullptr) > floatMax;
        if (over) {
            const int position = field->position();
            if (position > 0) field->replace(position - 1, position, nullptr, 0);
            if (deferBeeps)
                ++owedBeeps;
            else
                Speaker::instance()->beep();
        }
    }
    if (field->parent()) field->parent()->redraw();
    field->take_focus();
}
