// Measurement queries: flux, frequency or period and probe temperature of a
// channel, the flux of every slot with the vector sum, the vector sum with
// its angles.  Values are read as the models hold them; nothing waits.
#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"

#include <vector>

namespace {
const char* const kOverRangeReply = "10000000000";
const char* const kNoProbeReply = "NPC";

}  // namespace

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::measureHandlers() {
    static const std::vector<HandlerEntry> table = {
        SCPI_HANDLER(handleQueryVectorSumAndAngles),
        SCPI_HANDLER(handleMeasFluxRequest),
        SCPI_HANDLER(handleMeasFreqRequest),
        SCPI_HANDLER(handleMeasTempRequest),
        SCPI_HANDLER(handleMeasFluxAllRequest),
    };
    return table;
}

void ScpiServer::handleMeasFluxRequest(int channel, const std::string&) {
    ChannelModel* model = validChannel(channel);
    if (!model || model->getDiagMode() != 0) return;
    if (!model->isReadingValid()) {
        reportNoProbe(":MEAS:FLUX? with no probe");
        write(kNoProbeReply);
    } else if (model->isOverRange()) {
        write(kOverRangeReply);
    } else {
        replyFormatted(model->getReportFormat(), model->getValueInUnits());
    }
}

void ScpiServer::handleMeasFreqRequest(int channel, const std::string&) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    if (!model->isReadingValid()) {
        reportNoProbe(":MEAS:FREQ? with no probe");
        write(kNoProbeReply);
    } else if (model->getMode() == 0) {
        reportNoProbe(":MEAS:FREQ? n/a in DC mode");
    } else {
        replyFormatted(model->getTimeUnits() != 0 ? "%1.8f" : "%5.1f", model->getSignalFreq());
    }
}

void ScpiServer::handleMeasTempRequest(int channel, const std::string&) {
    ChannelModel* model = validChannel(channel);
    if (!model || model->getChannelStatus() != kChannelProbeReady) return;
    replyFormatted("%3.1f", model->getTemperature());
}

void ScpiServer::handleMeasFluxAllRequest(int, const std::string&) {
    if (!meter->isThreeChannelModel()) {
        reportNoProbe(":MEAS:FLUX:ALL? n/a for 4710");
        return;
    }
    const std::vector<float> snapshot = meter->getFluxSnapshot();
    std::string text;
    int ready = 0;
    for (unsigned slot = 1; slot <= 3; ++slot) {
        ChannelModel* model = meter->getChannel(slot);
        if (model->isReadingValid()) {
            text += formatValue(model->getReportFormat(), snapshot[slot - 1]);
            ++ready;
        } else {
            text += kNoProbeReply;
        }
        text += ",";
    }
    if (ready == 0) {
        reportNoProbe(":MEAS:FLUX:ALL? with no probes");
        write(kNoProbeReply);
        return;
    }
    // The sum is a reading only while every channel gives one.
    write(text + (meter->isVectorSumValid() ? formatValue(meter->getVectorSumValueFormat(), snapshot[3])
                                            : std::string(kNoProbeReply)));
}

void ScpiServer::handleQueryVectorSumAndAngles(int, const std::string&) {
    if (!meter->isThreeChannelModel()) {
        reportNoProbe(":CALC:VSUM? n/a for 4710");
        return;
    }
    if (!meter->isVectorSumValid()) {
        reportNoProbe(":CALC:VSUM? with no probe");
        write(kNoProbeReply);
        return;
    }
    const std::vector<float> v = meter->getVectorSumAndAngles();
    const std::string angle = meter->getAngleFormat();
    write(formatValue(meter->getVectorSumValueFormat(), v[0]) + "," + formatValue(angle, v[1]) + "," +
          formatValue(angle, v[2]) + "," + formatValue(angle, v[3]));
}
