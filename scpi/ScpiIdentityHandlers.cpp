// Board identity: model, revision, serial number and calibration date of
// each card and of the backplane.  Getters answer the models' copies at
// once; setters send the argument's first 14 characters to the board in two
// frames of seven (card command 0x03, backplane 0x148), and the board's
// report updates the copy.  The argument is one word, upper-cased by the
// line core:
//
//   :DIAG2:ID:SER?        0000 (before the card reported its own)
//   :DIAG2:ID:SER abc     card 2: [4, "ABC", 0 x 4], [5, 0 x 7]
//   :DIAG4:ID:MOD DEMO    the backplane; once it reports the text back,
//                         the instrument is in demo mode
#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "scpi/ScpiArguments.h"

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::identityHandlers() {
    static const std::vector<HandlerEntry> table = {SCPI_BOARD_TEXTS(SCPI_ENTRY_FOUR)};
    return table;
}

#define SCPI_DEFINE_BOARD_TEXT(cardGet, cardSet, bpGet, bpSet, modelGet, modelSet, meterGet, meterSet) \
    void ScpiServer::cardGet(int channel, const std::string&) {                                     \
        if (ChannelModel* model = validChannel(channel)) write(model->modelGet());                  \
    }                                                                                               \
    void ScpiServer::cardSet(int channel, const std::string& command) {                             \
        if (ChannelModel* model = validChannel(channel))                                            \
            model->modelSet(scpiarg::argumentWord(command).c_str());                                \
    }                                                                                               \
    void ScpiServer::bpGet(int, const std::string&) { write(meter->meterGet()); }                   \
    void ScpiServer::bpSet(int, const std::string& command) {                                       \
        meter->meterSet(scpiarg::argumentWord(command).c_str());                                    \
    }
SCPI_BOARD_TEXTS(SCPI_DEFINE_BOARD_TEXT)
