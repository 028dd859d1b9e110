// MessagePopup: a small window over the screen that shows one message and
// asks for the Enter button.  The main window hides it when Enter arrives.
// Called with the toolkit lock held.
#pragma once

#include <FL/Fl_Menu_Window.H>

class Fl_Box;

class MessagePopup : public Fl_Menu_Window {
public:
    static constexpr const char* kEnterPrompt = "\n\n(Press <Enter> button to continue.)";

    MessagePopup(int x, int y, int w, int h, const char* label = nullptr);
    ~MessagePopup() override = default;

    // Shows text followed by the Enter prompt (the text is copied).
    void showMessage(const char* text);
    const char* message() const;

private:
    Fl_Box* messageBox;
};
