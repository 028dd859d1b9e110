// MenuElement: one entry of a soft-button menu.
//
// An entry has a name (shown on its soft button; "\n" splits it into lines),
// an enabled flag and an optional data pointer.  Activating it first emits the
// data signal with the data pointer, when there is one (a submenu link opens
// its submenu this way), and then, only while enabled, the activation signal
// (the entry's action).
//
// The signals are connected once, while the menu tree is built, and emitted
// only by the thread that handles the front-panel keys.  setName runs under
// the toolkit lock: the soft buttons draw the name buffer itself.
#pragma once

#include <sigc++/sigc++.h>

#include <atomic>

class MenuElement : public sigc::trackable {
public:
    // Longest name kept, in characters; longer names are cut.
    static constexpr int kMaxName = 39;

    explicit MenuElement(const char* name, void* data = nullptr);
    virtual ~MenuElement() = default;
    MenuElement(const MenuElement&) = delete;
    MenuElement& operator=(const MenuElement&) = delete;

    // The name buffer itself (a soft button's label points into it).
    const char* name() const { return nameBuffer; }
    void setName(const char* text);

    bool isEnabled() const { return enabled.load(); }
    void setEnabled(bool on) { enabled.store(on); }
    void* getData() const { return data; }

    sigc::signal<void, void*>& signalData() { return dataSignal; }
    sigc::signal<void>& signalActivated() { return activatedSignal; }

    // Data signal (when data is set, whatever the enabled flag), then the
    // activation signal (only while enabled).
    void activate();

private:
    char nameBuffer[kMaxName + 1];
    sigc::signal<void, void*> dataSignal;
    sigc::signal<void> activatedSignal;
    std::atomic<bool> enabled{true};
    void* data;
};
