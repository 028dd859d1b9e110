#include "frontpanel/MenuElement.h"

#include "widgets/GuiThread.h"

#include <cstdio>

MenuElement::MenuElement(const char* text, void* elementData) : data(elementData) {
    std::snprintf(nameBuffer, sizeof nameBuffer, "%s", text ? text : "");
}

void MenuElement::setName(const char* text) {
    gui::Lock lock;
    std::snprintf(nameBuffer, sizeof nameBuffer, "%s", text ? text : "");
}

void MenuElement::activate() {
    if (data) dataSignal.emit(data);
    if (enabled.load()) activatedSignal.emit();
}
