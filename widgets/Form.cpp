#include "widgets/Form.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>

Form::Form(int x, int y, int w, int h, const char* label)
    : Fl_Group(x, y, w, h, label), nextRowY(y + 50) {
    color(kPageColour);
    box(FL_RFLAT_BOX);
}

Fl_Widget* Form::row(unsigned i) const {
    return static_cast<int>(i) >= 0 && i < rows.size() ? rows[i] : nullptr;
}

Fl_Choice* Form::addChoice(const char* label, const char* items) {
    auto* choice = new Fl_Choice(x() + w() / 2, nextRowY, fieldWidth, rowHeight);
    choice->copy_label(label);
    choice->add(items);
    choice->labelcolor(labelColour);
    choice->color(fieldColour);
    choice->textcolor(textColour);
    choice->labelsize(textSize);
    choice->textsize(textSize);
    add(choice);
    rows.push_back(choice);
    nextRowY += rowStep;
    return choice;
}

Fl_Input* Form::addInput(const char* label) {
    auto* input = new Fl_Input(x() + w() / 2, nextRowY, fieldWidth, rowHeight);
    input->copy_label(label);
    input->labelcolor(labelColour);
    input->color(fieldColour);
    input->textcolor(textColour);
    input->labelsize(textSize);
    input->textsize(textSize);
    input->deactivate();
    add(input);
    rows.push_back(input);
    nextRowY += rowStep;
    return input;
}

Fl_Box* Form::addStatusBox() {
    auto* status = new Fl_Box(x() + 30, nextRowY, w() - 60, 2 * rowHeight, "Test\nTest");
    status->color(statusColour);
    status->labelcolor(statusTextColour);
    status->labelsize(textSize);
    status->box(FL_RFLAT_BOX);
    status->align(FL_ALIGN_CENTER);
    add(status);
    statusRowIndex = static_cast<int>(rows.size());
    rows.push_back(status);
    nextRowY += 2 * rowStep;
    return status;
}

Fl_Choice* Form::getChoice(unsigned i) const { return dynamic_cast<Fl_Choice*>(row(i)); }

Fl_Input* Form::getInput(unsigned i) const { return dynamic_cast<Fl_Input*>(row(i)); }

Fl_Box* Form::getStatusBox() const {
    return statusRowIndex < 0 ? nullptr : dynamic_cast<Fl_Box*>(row(statusRowIndex));
}

void Form::showMessage(const char* text) {
    if (Fl_Box* status = getStatusBox()) {
        status->copy_label(text);
        status->show();
    }
}

void Form::hideMessage() {
    if (Fl_Box* status = getStatusBox()) status->hide();
}
