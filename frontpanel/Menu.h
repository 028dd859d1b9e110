// Menu: up to six entries on the six soft buttons, a title for the footer,
// a parent (where the back key returns) and a back signal.
// RadioButtonMenu: a menu that marks one chosen entry.
//
// Item k-1 sits on soft key k (index 0 is the top button).  A menu does not
// own its entries: one entry may sit in several menus.  Menus and entries
// are made once, while the menu tree is built, and live until the end.
//
// Every operation takes the toolkit lock (gui::Lock, which is recursive),
// so a menu may be changed and shown from the GUI thread and from the
// threads allowed to run front-panel code (the key link's reader, timers)
// while the GUI thread draws it; a caller that makes several changes that
// belong together (empty a menu and fill it again) holds a gui::Lock around
// them.  Indices outside 0-5 are ignored.  select() runs the entry's action
// outside any lock it took itself.
#pragma once

#include <sigc++/sigc++.h>

class MenuElement;
class MenuFooter;
class SoftButton;

class Menu {
public:
    static constexpr int kMaxItems = 6;
    static constexpr int kMaxTitle = 39;

    explicit Menu(const char* title);
    virtual ~Menu() = default;
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;

    // Appends; returns the former item count (6: full, nothing added).
    int addItem(MenuElement* element);
    // Inserts at index (0-5), moving the items from there on down one place;
    // nothing when the menu is full.  An index past the last item appends.
    void insertItem(int index, MenuElement* element);
    // Removes the first slot holding element and closes the gap.
    void removeItem(MenuElement* element);
    // Overwrites slot index (0-5); the item count stays.
    void setItem(int index, MenuElement* element);
    // The element at index, null outside 0 .. count-1.
    MenuElement* getItem(int index) const;
    void removeItemAt(int index);
    void removeAllItems();
    bool hasItem(MenuElement* element) const;
    int getItemCount() const;

    void setParent(Menu* menu);
    Menu* getParent() const;

    // The title is copied (at most 39 characters kept).
    void setTitle(const char* text);
    const char* getTitle() const { return title; }
    void setTitleSize(int size);
    int getTitleSize() const;

    // 0 plain, 1 marked, for soft-button position index (0-5).
    void setItemStyle(int index, int style);
    int getItemStyle(int index) const;

    sigc::signal<void>& signalBack() { return backSignal; }
    void emitBack() { backSignal.emit(); }

    // Puts the items on the first count buttons (labels point into the
    // entries' name buffers; buttons past the items are blank and plain),
    // the title on the footer, and has them redrawn.
    virtual void show(SoftButton** buttons, int count, MenuFooter* footer);
    // show() again on the buttons and footer of the last show().
    virtual void refresh();
    // Activates the element on soft-button index, when there is one.
    virtual void select(int index);

protected:
    SoftButton** savedButtons = nullptr;
    int savedButtonCount = 0;
    MenuFooter* savedFooter = nullptr;
    int itemStyles[kMaxItems] = {0, 0, 0, 0, 0, 0};
    int itemCount = 0;
    MenuElement* items[kMaxItems] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    Menu* parent = nullptr;
    char title[kMaxTitle + 1];
    int titleSize = 20;
    sigc::signal<void> backSignal;
};

class RadioButtonMenu : public Menu {
public:
    explicit RadioButtonMenu(const char* title) : Menu(title) {}

    // The marked item, -1 for none; shown at the next show or refresh.
    void setSelected(int index);
    int getSelected() const;

    // Marks item selected (when it lies in 0-5) and no other.
    void show(SoftButton** buttons, int count, MenuFooter* footer) override;
    // Moves the mark to index and shows it, unless the button there is blank
    // or reads "N/A"; then activates the element.
    void select(int index) override;

private:
    int selected = -1;
};
