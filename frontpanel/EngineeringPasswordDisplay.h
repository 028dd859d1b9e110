// EngineeringPasswordDisplay: the page that asks for the engineering
// password, typed with the numeric keypad into its one field.
#pragma once

#include "widgets/Form.h"

class EngineeringPasswordDisplay : public Form {
public:
    EngineeringPasswordDisplay(int x, int y, int w, int h, const char* label = nullptr);

    // True when the field holds exactly the engineering password.
    bool checkPassword() const;
    // Empties the field.
    void clear();
};
