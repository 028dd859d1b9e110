#include "pages/NumericDisplay.h"

#include "channel/ChannelModel.h"
#include "channel/ClassifierController.h"
#include "channel/ErrorHandler.h"
#include "meter/MeterModel.h"
#include "runtime/TvlError.h"

#include <FL/fl_draw.H>

#include <cmath>
#include <cstdio>
#include <cstring>

using readout::formatNumber;

namespace {

// A place in the panel: x from the inner left (or right) edge, y from the
// inner top (or bottom) edge.
struct At {
    bool fromRight;
    float dx;
    bool fromBottom;
    float dy;
};
constexpr bool L = false, R = true, T = false, B = true;

struct Layout {
    int minHeight;   // the layout serves heights from this one up
    int reading, unit, dcAc, small, status, overRange, error, holdTitle, holdRow;
    float readingX;  // from the inner left edge, on the centre line
    At signal, filter, probeTemperature, probeAxis, dcAc_, clip, range, autoLabel, zeroing, relative,
        classifier;
    float errorY[4];  // from the inner top edge, at x L + 10
    At hold;
    float holdWidth, holdHeight;
};

const Layout kLayouts[] = {
    {241, 68, 60, 60, 24, 24, 40, 22, 16, 24, 10.0f,
     {L, 15, T, 26}, {L, 15, T, 58}, {L, 15, T, 90}, {L, 15, T, 122}, {R, -75, T, 30}, {L, 15, B, -111},
     {L, 85, T, 300}, {L, 15, T, 300}, {L, 15, B, -24}, {L, 15, B, -53}, {L, 15, B, -82},
     {40, 80, 104, 128}, {R, -210, T, 300}, 200, 140},
    {161, 55, 40, 40, 16, 24, 40, 22, 12, 14, 10.0f,
     {L, 10, T, 18}, {L, 10, T, 34}, {L, 235, T, 18}, {L, 235, T, 34}, {R, -55, T, 24}, {L, 380, B, -128},
     {L, 270, B, -16}, {L, 215, B, -16}, {L, 10, B, -16}, {L, 10, B, -32}, {L, 215, B, -32},
     {40, 80, 104, 128}, {L, 380, B, -96}, 102, 86},
    {121, 55, 40, 40, 16, 24, 40, 22, 12, 14, 10.0f,
     {L, 10, T, 18}, {L, 10, T, 34}, {L, 235, T, 18}, {L, 235, T, 34}, {R, -55, T, 24}, {L, 385, T, 34},
     {L, 270, B, -16}, {L, 215, B, -16}, {L, 10, B, -16}, {L, 10, B, -32}, {L, 215, B, -32},
     {40, 80, 104, 128}, {L, 380, T, 50}, 102, 86},
    {0, 42, 40, 24, 12, 19, 30, 18, 12, 12, 60.0f,
     {L, 10, T, 16}, {L, 10, T, 28}, {L, 215, T, 16}, {L, 215, T, 28}, {R, -55, T, 18}, {L, 335, T, 28},
     {L, 270, B, -12}, {L, 215, B, -12}, {L, 10, B, -12}, {L, 10, B, -24}, {L, 215, B, -24},
     {25, 45, 65, 85}, {L, 380, T, 29}, 102, 70},
};

// Width in characters of each cell, in the order of NumericDisplay::Block.
constexpr int kBlockChars[NumericDisplay::kBlockCount] = {
    8, 4, 8, 5, 4, 20, 20, 2, 25, 6, 7, 4, 8, 7, 4, 20, 33, 33, 33, 33, 13, 5, 3, 7,
};

const char* zeroingText(int zeroMode) {
    switch (zeroMode) {
    case 1: return "ZEROING DC ONLY";
    case 4: return "ZEROING DC & BASIC AC";
    case 0: return "ZEROING DC & ADVANCED AC";
    default: return "ZEROING IN PROGRESS";
    }
}

}  // namespace

NumericDisplay::NumericDisplay(int x, int y, int w, int h, unsigned textColor, unsigned backgroundColor,
                               int channel, bool titleFlag, const char* label)
    : Fl_Widget(x, y, w, h, label), channel(channel), textColor(textColor), backgroundColor(backgroundColor),
      smallFont(FL_COURIER), boldFont(FL_COURIER_BOLD),
      zeroingBar(textColor, backgroundColor, 0.0f, 0.0f, 0.0f, 20.0f),
      holdDisplay(0.0f, 0.0f, 0.0f, 0.0f, textColor, backgroundColor, 14, 12, channel),
      titleFlag(titleFlag) {
    blocks.reserve(kBlockCount);
    for (int b = 0; b < kBlockCount; ++b) {
        const int font = b == kReading || b == kUnit ? boldFont : smallFont;
        blocks.emplace_back(textColor, backgroundColor, font, 16, kBlockChars[b], 0.0f, 0.0f);
    }
    MeterModel* meter = MeterModel::instance();
    model = meter->getChannel(static_cast<unsigned>(channel));
    classifier = model ? &model->getClassifierController() : nullptr;
    errorHandler = meter->getErrorHandler(static_cast<unsigned>(channel));
    // The blocks sit where the construction geometry puts them until the
    // owner resizes the panel.
    layOut();

    if (!model) return;
    const auto full = [](NumericDisplay& d, auto...) { d.onFullChange(); };
    model->signalModeChanged().connect(gate.slot<int, int, int>(full));
    model->signalRangeChanged().connect(gate.slot<int, int>(full));
    model->signalHoldsChanged().connect(gate.slot<int, bool, bool, bool, bool, bool>(full));
    model->signalNewReading().connect(gate.slot<int, float, float, float, float, float, int>(
        [](NumericDisplay& d, auto...) { d.onNewReading(); }));
    model->signalOverRangeChanged().connect(
        gate.slot<int, bool>([](NumericDisplay& d, auto...) { d.onOverRangeChanged(); }));
    model->signalChannelStatusChanged().connect(gate.slot<int, int>(full));
    model->signalDiagModeChanged().connect(gate.slot<int, int>(full));
    model->signalFluxUnitsChanged().connect(gate.slot<int, int>(full));
    model->signalTimeUnitsChanged().connect(gate.slot<int, int>(full));
    model->signalZeroingStateChanged().connect(gate.slot<int, int>(full));
    model->signalZeroingProgress().connect(gate.slot<int, float>(full));
    model->signalRelativeStateChanged().connect(gate.slot<int, int>(full));
    model->signalManualZeroStateChanged().connect(gate.slot<int, int>(full));
    model->signalTemperatureUnitsChanged().connect(gate.slot<int, int>(full));
    classifier->signalChanged().connect(gate.slot<int, int, int>(full));
    if (errorHandler)
        errorHandler->signalErrorChanged().connect(gate.slot<ErrorHandler::ErrorPtr>(full));
}

NumericDisplay::~NumericDisplay() { gate.close(); }

// ---- Slots (any thread) ------------------------------------------------------------

void NumericDisplay::onFullChange() { gui::redraw(this, FL_DAMAGE_ALL); }

void NumericDisplay::onNewReading() {
    if (errorShown()) return;
    gui::redraw(this, readout::kDamageReading);
}

void NumericDisplay::onOverRangeChanged() { gui::redraw(this, readout::kDamageReading); }

bool NumericDisplay::errorShown() const {
    if (!errorHandler) return false;
    ErrorHandler::ErrorPtr error = errorHandler->getCurrentError();
    return error && error->getCode() != 0;
}

// ---- Layout (GUI thread) --------------------------------------------------------------

void NumericDisplay::resize(int nx, int ny, int nw, int nh) {
    Fl_Widget::resize(nx, ny, nw, nh);
    layOut();
    redraw();
}

void NumericDisplay::layOut() {
    panel.fit(*this);
    const float innerLeft = panel.left, innerTop = panel.top, innerWidth = panel.width, innerHeight = panel.height;
    const float right = panel.right();
    const float bottom = panel.bottom();

    layout = 0;
    while (h() < kLayouts[layout].minHeight) ++layout;
    const Layout& l = kLayouts[layout];
    readingSize = l.reading;
    unitSize = l.unit;
    dcAcSize = l.dcAc;
    smallSize = l.small;
    statusSize = l.status;
    overRangeSize = l.overRange;
    errorSize = l.error;
    holdTitleSize = l.holdTitle;
    holdRowSize = l.holdRow;

    auto px = [&](const At& a) { return static_cast<float>(static_cast<int>((a.fromRight ? right : innerLeft) + a.dx)); };
    auto py = [&](const At& a) { return static_cast<float>(static_cast<int>((a.fromBottom ? bottom : innerTop) + a.dy)); };
    auto place = [&](Block b, int size, const At& a) { blocks[b].setGeometry(size, kBlockChars[b], py(a), px(a)); };
    // A row of cells, each gap pixels right of the one before.
    auto row = [&](std::initializer_list<Block> cells, const At& a, std::initializer_list<float> gaps) {
        float x = px(a);
        auto gap = gaps.begin();
        for (Block b : cells) {
            blocks[b].setGeometry(smallSize, kBlockChars[b], py(a), x);
            x = static_cast<float>(static_cast<int>(blocks[b].getX() + blocks[b].getWidth() + *gap));
            if (gap + 1 != gaps.end()) ++gap;
        }
    };

    const float middle = static_cast<float>(static_cast<int>(innerTop + 4.0f + innerHeight / 2.0f));
    blocks[kReading].setGeometry(readingSize, kBlockChars[kReading], middle,
                                 static_cast<float>(static_cast<int>(innerLeft + l.readingX)));
    blocks[kUnit].setGeometry(unitSize, kBlockChars[kUnit], middle,
                              static_cast<float>(static_cast<int>(blocks[kReading].getX() +
                                                                  blocks[kReading].getWidth() + 5.0f)));
    place(kSignal, smallSize, l.signal);
    place(kFilter, smallSize, l.filter);
    place(kProbeTemperature, smallSize, l.probeTemperature);
    place(kProbeAxis, smallSize, l.probeAxis);
    place(kDcAc, dcAcSize, l.dcAc_);
    place(kClip, smallSize, l.clip);
    place(kRange, smallSize, l.range);
    place(kAuto, smallSize, l.autoLabel);
    place(kZeroingText, smallSize, l.zeroing);
    row({kManualZeroLabel, kManualZeroValue, kManualZeroUnit}, l.zeroing, {2.0f});
    row({kRelativeLabel, kRelativeValue, kRelativeUnit}, l.relative, {2.0f});
    row({kClassifierLabel, kClassifierState, kClassifierThreshold}, l.classifier, {5.0f, 2.0f});
    for (int i = 0; i < 4; ++i)
        blocks[kError1 + i].setGeometry(errorSize, kBlockChars[kError1 + i],
                                        static_cast<float>(static_cast<int>(innerTop + l.errorY[i])),
                                        static_cast<float>(static_cast<int>(innerLeft + 10.0f)));

    holdX = static_cast<int>(px(l.hold));
    holdY = static_cast<int>(py(l.hold));
    holdWidth = static_cast<int>(l.holdWidth);
    holdHeight = static_cast<int>(l.holdHeight);
    holdDisplay.setGeometry(static_cast<float>(holdX), static_cast<float>(holdY), static_cast<float>(holdWidth),
                            static_cast<float>(holdHeight), holdRowSize, holdTitleSize);
    zeroingBar.setGeometry(innerTop + 4.0f + innerHeight / 2.0f, innerLeft + 10.0f, innerWidth - 20.0f, 20.0f);
}

// ---- Drawing (GUI thread) -------------------------------------------------------------

void NumericDisplay::draw() {
    // Texts longer than their cells (catalogue lines above all) stay
    // within the panel.
    fl_push_clip(x(), y(), w(), h());
    // A zero that has just ended may have its reading drawn before the
    // repaint that its end asks for: the reading would then land on the
    // zeroing bar, so the whole panel is drawn.
    const bool zeroEnded = progressShown >= 0.0f && model && model->getZeroingState() != ::kZeroing;
    if ((damage() & FL_DAMAGE_ALL) || zeroEnded) drawPanel();
    else drawReading();
    fl_pop_clip();
}

void NumericDisplay::drawPanel() {
    fl_color(FL_BLACK);
    fl_rectf(x(), y(), w(), h());
    for (TextBlock& b : blocks) b.markCleared();
    progressShown = -1.0f;
    holdsShown = false;

    const bool demo = model && model->isDemoMode();
    if (titleFlag) std::snprintf(title, sizeof title, demo ? "Channel %d - Demo Mode" : "Channel %d", channel);
    else std::snprintf(title, sizeof title, "%s", demo ? "Demo Mode" : "");
    panel.draw(textColor, backgroundColor, title);
    if (!model) return;

    if (errorHandler) {
        ErrorHandler::ErrorPtr error = errorHandler->getCurrentError();
        if (error && error->getCode() != 0) {
            char line[80];
            std::snprintf(line, sizeof line, "ERROR %04d", error->getCode());
            text(kError1, line, 2);
            // Catalogue texts are cut to the line's 79 characters.
            const std::string lines[3] = {error->getDisplayLine1(), error->getDisplayLine2(),
                                          error->getDisplayLine3()};
            for (int i = 0; i < 3; ++i) {
                std::snprintf(line, sizeof line, "%s", lines[i].c_str());
                text(static_cast<Block>(kError2 + i), line, 2);
            }
            return;
        }
    }

    const int zeroing = model->getZeroingState();
    if (zeroing != ::kZeroing) {
        drawReading();
    } else {
        text(kZeroingText, zeroingText(model->getZeroMode()));
        progressShown = model->getZeroingProgress();
        zeroingBar.draw(progressShown);
        return;
    }
    if (!model->isReadingValid()) {
        for (Block b : {kUnit, kRange, kClip, kAuto, kFilter}) clear(b);
        return;
    }
    drawIndicators();
}

void NumericDisplay::drawOffsetRow(Block label, Block value, Block unit, const char* name, bool negative,
                                   float magnitude, bool editing) {
    char labelText[16];
    std::snprintf(labelText, sizeof labelText, "%s%s", name, negative ? "-" : "");
    text(label, labelText);
    char valueText[128];
    const RangeSpec* spec = model->getRangeSpec();
    const int decimals = spec ? spec->getDecimals() : 0;
    if (editing) {
        formatNumber(valueText, readout::editFormat(decimals), magnitude);
        const int length = static_cast<int>(std::strlen(valueText));
        const int at = readout::editHighlightIndex(length, model->getEditSelectedDigit(), decimals);
        blocks[value].drawTextWithHighlight(1, valueText, at < 0 ? 0 : at, at < 0 ? 0 : 1);
    } else {
        text(value, formatNumber(valueText, model->getValueFormat(), magnitude), 1);
    }
    text(unit, model->getUnitName().c_str());
}

void NumericDisplay::drawIndicators() {
    // Manual zero, or what the zeroing left behind.  The sign of an offset
    // comes from the stored offset; while it is being edited, from the
    // digit editor.
    const int manualZero = model->getManualZeroState();
    if (manualZero == 1 || manualZero == 2) {
        clear(kZeroingText);
        const bool editing = manualZero == 2;
        const float offset = model->getDisplayManualZeroOffset();
        const bool negative = editing ? model->isEditValueNegative() : offset < 0.0f;
        drawOffsetRow(kManualZeroLabel, kManualZeroValue, kManualZeroUnit, "MZERO: ", negative, std::fabs(offset),
                      editing);
    } else {
        for (Block b : {kManualZeroLabel, kManualZeroValue, kManualZeroUnit}) clear(b);
        const int zeroing = model->getZeroingState();
        if (zeroing == kZeroTimedOut) text(kZeroingText, "ZEROING FAILED");
        else if (zeroing == kZeroNeeded) text(kZeroingText, "ZEROING NEEDED");
        else clear(kZeroingText);
    }

    const int mode = model->getMode();
    if (mode == 0) text(kDcAc, "DC");
    else if (mode == 1) text(kDcAc, "AC");

    const int relative = model->getRelativeState();
    if (relative != 0) {
        const bool editing = relative == 3;
        const float offset = model->getDisplayRelativeOffset();
        const bool negative = editing ? model->isEditValueNegative() : offset < 0.0f;
        drawOffsetRow(kRelativeLabel, kRelativeValue, kRelativeUnit, "Rel: ", negative, std::fabs(offset), editing);
    }

    const int classMode = classifier->getMode();
    if (classMode != kClassifierOff) text(kClassifierLabel, "CLASS");
    if (classMode == kClassifierOn) {
        const int state = classifier->getState();
        if (state == kClassHigh) text(kClassifierState, "HI");
        else if (state == kClassLow) text(kClassifierState, "LO");
        else clear(kClassifierState);
    } else if (classMode == kClassifierEditLower || classMode == kClassifierEditUpper) {
        const bool lower = classMode == kClassifierEditLower;
        char state[8];
        std::snprintf(state, sizeof state, "%s%s", lower ? "LO" : "HI", classifier->isEditValueNegative() ? "-" : "");
        text(kClassifierState, state);
        const float threshold =
            lower ? classifier->getDisplayLowerThreshold() : classifier->getDisplayUpperThreshold();
        const RangeSpec* spec = model->getRangeSpec();
        const int decimals = spec ? spec->getDecimals() : 0;
        char value[128];
        formatNumber(value, readout::editFormat(decimals), std::fabs(threshold));
        const int at = readout::editHighlightIndex(static_cast<int>(std::strlen(value)),
                                                   classifier->getEditSelectedDigit(), decimals);
        blocks[kClassifierThreshold].drawTextWithHighlight(1, value, at < 0 ? 0 : at, at < 0 ? 0 : 1);
    }

    if (model->isHoldActive()) {
        holdDisplay.drawFrame();
        holdsShown = true;
    }

    text(kRange, model->getCurrentRangeName().c_str());
    if (model->isAutorange()) text(kAuto, "AUTO");
    else clear(kAuto);

    if (mode == 1 && model->getProbeClass() != 0) text(kFilter, readout::filterText(model->getFreqRange()));
    else clear(kFilter);
}

void NumericDisplay::drawReading() {
    if (!model) return;
    if (errorShown() || model->getDiagMode() != 0 || model->getZeroingState() == ::kZeroing) return;
    drawStatusOrReading();
}

void NumericDisplay::drawStatusOrReading() {
    const int status = model->getChannelStatus();
    if (const char* message = readout::noReadingText(*model)) {
        blocks[kReading].drawTextSized(2, message, statusSize);
        for (Block b : {kSignal, kProbeTemperature, kProbeAxis}) clear(b);
        return;
    }

    const int mode = model->getMode();
    if (status == kChannelProbeReady && model->isOverRange()) {
        const char* over = "Overrange";
        if (mode == 0) over = model->getDisplayValue() > 0.0f ? "+Overrange" : "-Overrange";
        blocks[kReading].drawTextSized(2, over, overRangeSize);
        for (Block b : {kSignal, kProbeTemperature, kProbeAxis, kUnit}) clear(b);
        if (model->isClipped()) text(kClip, "CLIP");
        else clear(kClip);
        return;
    }

    char line[128];
    text(kReading, formatNumber(line, model->getValueFormat(), model->getDisplayValue()), 1);
    text(kUnit, model->getUnitName().c_str());
    if (model->isClipped()) text(kClip, "CLIP");
    else clear(kClip);

    if (mode == 1 && model->getProbeClass() != 0) {
        const ChannelModel::SignalFreqText signal = model->getSignalFreqText();
        char frequency[64];
        formatNumber(frequency, signal.format, signal.value);
        std::snprintf(line, sizeof line, "SIGNAL: %s %s", frequency, signal.unit.c_str());
        text(kSignal, line);
    } else {
        clear(kSignal);
    }

    if (model->hasProbeTemperatureSensor()) {
        if (model->isTemperatureValid())
            std::snprintf(line, sizeof line, "PROBE TEMP: %3.1f%c %s", static_cast<double>(model->getTemperature()),
                          static_cast<char>(176), model->getTemperatureUnitText().c_str());
        else
            std::snprintf(line, sizeof line, "PROBE TEMP ERROR");
        text(kProbeTemperature, line);
    } else {
        clear(kProbeTemperature);
    }

    static const char* const kAxes[] = {nullptr, "PROBE AXIS: X", "PROBE AXIS: Y", "PROBE AXIS: Z"};
    const int axis = model->getProbeAxis();
    if (axis >= 1 && axis <= 3) text(kProbeAxis, kAxes[axis]);
    else clear(kProbeAxis);
}
