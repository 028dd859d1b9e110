// NumericKeypad: a strip of twelve on-screen keys, "0" to "9", "." and
// "<-", that types into one attached field of a form.  The instrument has
// no pointer: three soft-button entries move the selected key left and
// right and press it.  An optional upper limit (whole or decimal) takes a
// digit back with a beep when it would take the field's value over it.
//
// Attaching makes the field editable (active, focused, pressed-in look);
// attaching null detaches it and gives the field back its look, read-only.
// Limits and disabled keys belong to one attachment: set them after
// attachInput.  A key pressed while the field or the keypad is hidden (its
// page was left) writes nothing and detaches the keypad.
//
// selectNextKey, selectPreviousKey and pressSelectedKey run on the thread
// that handles the front-panel keys and take the toolkit lock themselves;
// the other operations are called under it (or on the GUI thread).
#pragma once

#include <FL/Fl_Group.H>

#include <vector>

class Fl_Button;
class Fl_Input;

class NumericKeypad : public Fl_Group {
public:
    static constexpr int kKeyCount = 12;
    static constexpr int kDecimalPointKey = 10;
    static constexpr int kBackspaceKey = 11;

    NumericKeypad(int x, int y, int w, int h, const char* label = nullptr);
    ~NumericKeypad() override = default;

    // widget: an Fl_Input of a form, or null to detach.
    void attachInput(Fl_Widget* widget);
    Fl_Input* getAttachedInput() const { return attachedInput; }

    void setIntMax(int max);
    void setFloatMax(float max);
    // Keys the selection skips (1-11; key "0" stays selectable).
    void disableKey(int index);
    bool isKeyDisabled(int index) const;

    void highlightKey(int index);
    void unhighlightKey(int index);
    int selectedKey() const { return selected; }
    Fl_Button* key(int index) const;

    // The three soft-button actions "-->", "<--" and "Press".
    void selectNextKey();
    void selectPreviousKey();
    void pressSelectedKey();

    // Every key's callback: types the key into the attached field.
    void onKeyButton(Fl_Button* key);

private:
    static void keyCallback(Fl_Widget* widget, void* keypad);
    void step(int direction);
    void detach();

    std::vector<Fl_Button*> keys;
    Fl_Input* attachedInput = nullptr;
    int gap = 4;
    int keyCount = kKeyCount;
    int verticalMargin = 6;
    Fl_Boxtype savedBox = FL_NO_BOX;
    unsigned savedTextColour = FL_BLACK;
    unsigned savedColour = FL_BLACK;
    int selected = 0;
    bool intLimitOn = false;
    int intMax = 0;
    bool floatLimitOn = false;
    float floatMax = 0.0f;
    std::vector<int> disabledKeys;
    // Beeps owed by a key typed under pressSelectedKey's lock: sounded
    // after the lock is released, so the screen does not stall meanwhile.
    bool deferBeeps = false;
    int owedBeeps = 0;
};
