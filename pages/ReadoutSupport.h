// What the readouts share: the gate their model slots go through, the
// rounded frame, number formatting that stays within its buffer, the digit
// editor's format and highlight, and the input-filter texts.
#pragma once

#include "widgets/GuiThread.h"

#include <FL/Fl_Widget.H>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

class ChannelModel;

namespace readout {

// The readouts' model slots run on the threads that emit (CAN readers,
// timers, servers).  They only record what changed and ask the GUI thread
// for a repaint.  Connections are made once and never broken; a readout
// that goes away closes its gate, after which its slots do nothing.
template <class Widget>
class SlotGate {
public:
    explicit SlotGate(Widget* widget) : state(std::make_shared<State>()) { state->widget = widget; }
    ~SlotGate() { close(); }
    SlotGate(const SlotGate&) = delete;
    SlotGate& operator=(const SlotGate&) = delete;

    // After close() no slot reaches the widget, and no repaint asked for
    // before it is carried out.
    void close() {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->widget) gui::forget(state->widget);
        state->widget = nullptr;
    }

    // A slot for a signal with arguments Args...: calls fn(widget, args...)
    // while the widget lives.
    template <class... Args, class Fn>
    auto slot(Fn fn) const {
        std::shared_ptr<State> s = state;
        return [s, fn](Args... args) {
            std::lock_guard<std::mutex> lock(s->mutex);
            if (s->widget) fn(*s->widget, args...);
        };
    }

    // A slot that drops the signal's arguments and marks the widget with
    // damage bits.
    template <class... Args>
    auto repaint(unsigned char bits) const {
        return slot<Args...>([bits](Widget& w, Args...) { gui::redraw(&w, bits); });
    }

private:
    struct State {
        std::mutex mutex;
        Widget* widget = nullptr;
    };
    std::shared_ptr<State> state;
};

// Damage bit of a reading repaint (FL_DAMAGE_USER1).
constexpr unsigned char kDamageReading = 0x10;

// ---- Frame ------------------------------------------------------------------

// Fills the rounded rectangle (l, t, w, h) with corner radius r in the
// current colour.
void fillRounded(float l, float t, float w, float h, float r);
// Outlines it in the current colour and line style, leaving the top edge
// open between gapLeft and gapRight (closed when gapRight <= gapLeft + r).
// The line starts at (gapRight, t) and runs through the top-right,
// bottom-right, bottom-left and top-left corners to (gapLeft, t).
void outlineRounded(float l, float t, float w, float h, float r, float gapLeft, float gapRight);

// A readout's rounded panel: its margins and corner radius, the inner
// rectangle they leave in the widget, and the frame drawn around it.
struct Panel {
    explicit Panel(int titleFont) : titleFont(titleFont) {}
    // The inner rectangle of the widget's geometry.
    void fit(const Fl_Widget& widget);
    float right() const { return left + width; }
    float bottom() const { return top + height; }
    // The inner rectangle in the background colour, the outline in the text
    // colour with a gap for the title, and the title (size 20).  An empty
    // title closes the outline.
    void draw(unsigned textColor, unsigned backgroundColor, const char* title) const;

    float cornerRadius = 10.0f;
    float sideMargin = 5.0f;
    float topMargin = 10.0f;
    float bottomMargin = 5.0f;
    int outlineWidth = 3;
    int titleFont;
    float left = 0.0f, top = 0.0f, width = 0.0f, height = 0.0f;
};

// ---- Numbers ------------------------------------------------------------------

// Widest field and most decimals a printed number may take.
constexpr int kMaxWidth = 12;
constexpr int kMaxPrecision = 9;

// Prints value with a printf format that holds one floating conversion
// ("%4.2f", "%2.3f", "%6.2fmT/div") into out.  Width and precision are held
// to kMaxWidth and kMaxPrecision; a format with no such conversion, with
// more than one, or with any other conversion prints the value with "%.3f".
// The result always ends within out.  Returns out.
char* formatNumber(char* out, std::size_t size, const std::string& format, double value);

template <std::size_t N>
char* formatNumber(char (&out)[N], const std::string& format, double value) {
    return formatNumber(out, N, format, value);
}

// The digit editor's format for a range with d decimals: seven characters,
// zero-padded, no sign ("%07.2f" for d = 2).  d is held to 0-5.
std::string editFormat(int decimals);

// Index in a printed edit text of length n of the digit selected by the
// digit editor (0 the last decimal, counted leftward, the decimal point
// stepped over); -1 when the selection lies outside the text.
int editHighlightIndex(int length, int selectedDigit, int decimals);

// The input-filter line for a frequency range 0-5; "" for any other.
const char* filterText(int freqRange);

// What a channel readout shows in place of a reading while the channel has
// none ("No Card Present", "Initializing...", "No Probe Connected",
// "Configuring Probe"; a ready probe that has given no reading yet still
// reads as one getting ready); null while it has a reading.
const char* noReadingText(const ChannelModel& channel);

}  // namespace readout
