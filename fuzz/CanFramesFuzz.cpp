// The CAN frame handling of the host, driven without a bus: frames from the
// input are decoded by the links that would receive them (each card link
// takes what its card sends, the backplane link what is addressed to the
// host) into a meter model with three channels, and by a link without
// filters, which runs the whole decode table.  Then everything the frames
// can have changed is read back as the reports, pages and JSON replies read
// it; the JSON objects must stay valid JSON.
//
// Input: records of 11 bytes, identifier (2 bytes, big-endian, 11 bits),
// length (0-8; more counts as 8) and 8 data bytes (those past the length are
// sent as zero, as the kernel hands them over).
#include "FuzzSupport.h"

#include "can/CANinterface.h"
#include "json/JsonConnection.h"

#include <json/json.h>

#include <cstring>

namespace {

constexpr std::size_t kRecordSize = 11;

CANinterface& everyFrame() {
    static std::shared_ptr<CANinterface> link = fuzz::nullLink();   // kept for the life of the process
    return *link;
}

void checkJson(const Json::Value& value) {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["precision"] = 16;
    writer["emitUTF8"] = false;
    const std::string text = Json::writeString(writer, value);
    if (text.find('\n') != std::string::npos) fuzz::fail("JSON reply of more than one line: " + text);
    Json::CharReaderBuilder builder;
    builder["strictRoot"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value back;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &back, &errors))
        fuzz::fail("JSON reply does not parse: " + text + " (" + errors + ")");
}

void readBack(fuzz::Meter& m) {
    for (unsigned slot = 1; slot <= MeterModel::kSlotCount; ++slot) {
        fuzz::Channel& ch = m.channel(slot);
        ch.configurationDump();
        ch.parameterTableReport();
        ch.probeDataReport();
        ch.probeDcLinearityReport();
        ch.probeAcCorrectionReport();
        ch.probeMemoryDump();
        ch.getRangeNames();
        ch.getCurrentRangeName();
        ch.getBoardModel();
        ch.getProbeModel();
        ch.getProbeSerialNumber();
        ch.getDiagUnitText();
        ch.getTemperature();
        checkJson(JsonConnection::channelObject(ch));
    }
    m.getBackplaneModel();
    m.getBackplaneSerial();
    m.getFrontPanelFirmwareVersion();
    m.getPsuFirmwareVersion();
    m.getVectorSumAndAngles();
    m.getTimebasePerDivText();
    checkJson(JsonConnection::meterObject(m, true));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Meter& m = fuzz::sharedMeter();
    for (std::size_t at = 0; at + kRecordSize <= size; at += kRecordSize) {
        const std::uint8_t* r = data + at;
        can_frame frame;
        std::memset(&frame, 0, sizeof frame);
        frame.can_id = (static_cast<canid_t>(r[0]) << 8 | r[1]) & CAN_SFF_MASK;
        frame.can_dlc = r[2] > 8 ? 8 : r[2];
        std::memcpy(frame.data, r + 3, frame.can_dlc);
        // The receive filters of startCan (source node = the card's) and of
        // the backplane link (destination node = the host).
        for (unsigned slot = 1; slot <= MeterModel::kSlotCount; ++slot)
            if ((frame.can_id & 0x700) == (slot + 2) << 8) m.channel(slot).cardLink().decodeFrame(frame);
        if ((frame.can_id & 0x0E0) == 0x020) m.busLink().decodeFrame(frame);
        // And the whole decode table, as a link without filters sees it.
        everyFrame().decodeFrame(frame);
    }
    readBack(m);
    return 0;
}
