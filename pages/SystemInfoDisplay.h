// The system-information page: the identity of the meter, of its channel
// cards and of the probes on them, in aligned columns of a fixed-width font.
// SystemInfo4730Display shows the three card slots of the three-channel
// model, SystemInfo4710Display the one card (slot 2) of the single-channel
// model.  The text is rebuilt whole by refresh() and does not follow the
// models in between.
//
// Layout: every non-empty line starts with the indent (0 on the three-channel
// page, 14 on the single-channel page), then a 10-character label column and
// one 13-character column per slot, all left-aligned and blank-padded.  The
// three-channel page cuts board and probe texts to 12 characters so that the
// columns stay apart; the single-channel page writes them whole.
//
// refresh() runs on the GUI thread; the getters it calls hand out copies.
#pragma once

#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>

#include <string>
#include <vector>

class ChannelModel;

class SystemInfoDisplay : public Fl_Text_Display {
public:
    SystemInfoDisplay(int x, int y, int w, int h);
    ~SystemInfoDisplay() override;
    SystemInfoDisplay(const SystemInfoDisplay&) = delete;
    SystemInfoDisplay& operator=(const SystemInfoDisplay&) = delete;

    // Replaces the whole text with the models' present values.
    virtual void refresh() = 0;

    // The first valueWidth - 1 (12) characters of text; shorter text unchanged.
    std::string fitToColumn(const char* text) const;
    std::string fitToColumn(const std::string& text) const;

    // Names of the probe type and class codes ("Unknown" for any other code,
    // negative ones included).  Constant texts, valid for the program's life.
    static const char* probeTypeName(int code);
    static const char* probeClassName(int code);

    // The page's present text (what refresh wrote).
    std::string text() const;

protected:
    // What refresh writes: the meter block, then a card block and a probe
    // block with one column per channel in slots.  cut: values through
    // fitToColumn.  channelHeadings / probeHeadings: one per column;
    // headingLead: the blanks before them (the label column's width on the
    // three-channel page, the value column's on the single-channel page).
    std::string buildText(const std::vector<ChannelModel*>& slots, bool cut,
                          const std::vector<std::string>& channelHeadings,
                          const std::vector<std::string>& probeHeadings, int headingLead) const;
    // Clears the buffer and inserts text at position 0.
    void setText(const std::string& text);

    Fl_Text_Buffer textBuffer;
    int valueWidth = 13;
    int labelWidth = 10;
    int indent = 0;
};

class SystemInfo4730Display : public SystemInfoDisplay {
public:
    SystemInfo4730Display(int x, int y, int w, int h);
    void refresh() override;
};

class SystemInfo4710Display : public SystemInfoDisplay {
public:
    SystemInfo4710Display(int x, int y, int w, int h);
    void refresh() override;
};
