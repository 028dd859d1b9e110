#include "frontpanel/Menu.h"

#include "frontpanel/MenuElement.h"
#include "frontpanel/MenuFooter.h"
#include "frontpanel/SoftButton.h"
#include "widgets/GuiThread.h"

#include <cstdio>
#include <cstring>

namespace {
bool validIndex(int index) { return index >= 0 && index < Menu::kMaxItems; }
}  // namespace

Menu::Menu(const char* text) { std::snprintf(title, sizeof title, "%s", text ? text : ""); }

int Menu::addItem(MenuElement* element) {
    gui::Lock lock;
    const int former = itemCount;
    if (itemCount < kMaxItems) items[itemCount++] = element;
    return former;
}

void Menu::insertItem(int index, MenuElement* element) {
    gui::Lock lock;
    if (itemCount >= kMaxItems || !validIndex(index)) return;
    if (index > itemCount) index = itemCount;
    for (int i = itemCount; i > index; --i) items[i] = items[i - 1];
    items[index] = element;
    ++itemCount;
}

void Menu::removeItem(MenuElement* element) {
    gui::Lock lock;
    for (int i = 0; i < itemCount; ++i) {
        if (items[i] != element) continue;
        for (int j = i; j + 1 < itemCount; ++j) items[j] = items[j + 1];
        items[--itemCount] = nullptr;
        return;
    }
}

void Menu::setItem(int index, MenuElement* element) {
    gui::Lock lock;
    if (validIndex(index)) items[index] = element;
}

MenuElement* Menu::getItem(int index) const {
    gui::Lock lock;
    return index >= 0 && index < itemCount ? items[index] : nullptr;
}

void Menu::removeItemAt(int index) {
    gui::Lock lock;
    if (MenuElement* element = getItem(index)) removeItem(element);
}

void Menu::removeAllItems() {
    gui::Lock lock;
    while (itemCount > 0) {
        // A slot overwritten with null is dropped like any other.
        if (items[0]) {
            removeItemAt(0);
        } else {
            for (int j = 0; j + 1 < itemCount; ++j) items[j] = items[j + 1];
            items[--itemCount] = nullptr;
        }
    }
}

bool Menu::hasItem(MenuElement* element) const {
    gui::Lock lock;
    for (int i = 0; i < itemCount; ++i)
        if (items[i] == element) return true;
    return false;
}

int Menu::getItemCount() const {
    gui::Lock lock;
    return itemCount;
}

void Menu::setParent(Menu* menu) {
    gui::Lock lock;
    parent = menu;
}

Menu* Menu::getParent() const {
    gui::Lock lock;
    return parent;
}

void Menu::setTitle(const char* text) {
    gui::Lock lock;
    std::snprintf(title, sizeof title, "%s", text ? text : "");
}

void Menu::setTitleSize(int size) {
    gui::Lock lock;
    titleSize = size;
}

int Menu::getTitleSize() const {
    gui::Lock lock;
    return titleSize;
}

void Menu::setItemStyle(int index, int style) {
    gui::Lock lock;
    if (validIndex(index)) itemStyles[index] = style;
}

int Menu::getItemStyle(int index) const {
    gui::Lock lock;
    return validIndex(index) ? itemStyles[index] : 0;
}

void Menu::show(SoftButton** buttons, int count, MenuFooter* footer) {
    gui::Lock lock;
    savedButtons = buttons;
    savedButtonCount = buttons ? count : 0;
    savedFooter = footer;
    for (int i = 0; i < savedButtonCount; ++i) {
        SoftButton* button = buttons[i];
        if (!button) continue;
        if (i < itemCount && items[i]) {
            button->label(items[i]->name());
            button->setStyle(itemStyles[i]);
        } else {
            button->setStyle(0);
            button->label("");
        }
        button->damage(FL_DAMAGE_ALL);
    }
    if (footer) footer->setTitle(title, titleSize);
}

void Menu::refresh() {
    gui::Lock lock;
    show(savedButtons, savedButtonCount, savedFooter);
}

void Menu::select(int index) {
    MenuElement* element = getItem(index);
    if (element) element->activate();
}

void RadioButtonMenu::setSelected(int index) {
    gui::Lock lock;
    selected = index;
}

int RadioButtonMenu::getSelected() const {
    gui::Lock lock;
    return selected;
}

void RadioButtonMenu::show(SoftButton** buttons, int count, MenuFooter* footer) {
    gui::Lock lock;
    for (int i = 0; i < kMaxItems; ++i) itemStyles[i] = 0;
    if (validIndex(selected)) itemStyles[selected] = 1;
    Menu::show(buttons, count, footer);
}

void RadioButtonMenu::select(int index) {
    {
        gui::Lock lock;
        if (index >= 0 && index < savedButtonCount && savedButtons[index]) {
            const char* shown = savedButtons[index]->label();
            if (shown && shown[0] != '\0' && std::strcmp(shown, "N/A") != 0) {
                selected = index;
                refresh();
            }
        }
    }
    Menu::select(index);
}
