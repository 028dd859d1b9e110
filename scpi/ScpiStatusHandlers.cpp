// Status and error-queue commands: the IEEE 488.2 common status commands,
// the measurement, operation and questionable registers, the error queue.
// Setters answer nothing; an enable value outside 0..limit (negative ones
// included) is ignored, a missing one reads as 0.
#include "scpi/ScpiServer.h"

#include "runtime/TvlError.h"
#include "scpi/ScpiArguments.h"
#include "status/ScpiErrorQueue.h"
#include "status/ScpiRegisterManager.h"

namespace {
constexpr long long kEnableLimit = 65535;
constexpr long long kSrqEnableLimit = 255;

// Text as IEEE 488.2 string data: in double quotes, each quote inside
// doubled.  A byte outside printable ASCII (a control character, a byte of
// 0x80 and above, which a client decoding ASCII chokes on) becomes '?', so
// every client can parse the reply whatever the command held.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += "\"\"";
        else if (c >= 0x20 && c <= 0x7e) out += c;
        else out += '?';
    }
    return out + "\"";
}
}  // namespace

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::statusHandlers() {
    static const std::vector<HandlerEntry> table = {
        SCPI_HANDLER(handleClsRequest),
        SCPI_HANDLER(handleProgramEventEnable),
        SCPI_HANDLER(handleQueryEventEnable),
        SCPI_HANDLER(handleQueryEventStatus),
        SCPI_HANDLER(handleSetOperationComplete),
        SCPI_HANDLER(handleQueryOperationComplete),
        SCPI_HANDLER(handleProgramSrqEnable),
        SCPI_HANDLER(handleQuerySrqEnable),
        SCPI_HANDLER(handleQueryStatusByte),
        SCPI_HANDLER(handleSystErrorQuery),
        SCPI_HANDLER(handleSystErrorNextQuery),
        SCPI_STATUS_REGISTERS(SCPI_ENTRY_FOUR)
        SCPI_HANDLER(handleResetAllEventEnableRegisters),
    };
    return table;
}

ScpiRegister& ScpiServer::statusRegister(Register which) const {
    switch (which) {
    case Register::Measurement: return registers->getMeasurementRegister();
    case Register::Operation: return registers->getOperationRegister();
    case Register::Questionable: break;
    }
    return registers->getQuestionableRegister();
}

void ScpiServer::setEnableFromArgument(ScpiRegister& reg, const std::string& command, long long limit) {
    const long long value = scpiarg::textInteger(scpiarg::argumentWord(command));
    if (scpiarg::inRange(value, 0, limit)) reg.setEnable(static_cast<std::uint32_t>(value));
}

void ScpiServer::replyError(const TvlError* record) {
    if (!record) {
        write("0,\"No error\"");
        return;
    }
    std::string text = record->getScpiText();
    if (!record->getDetail().empty()) text += "; " + record->getDetail();
    write(std::to_string(record->getCode()) + "," + quoted(text));
}

void ScpiServer::handleClsRequest(int, const std::string&) {
    registers->ClearAll();
    errors->clear();
}

void ScpiServer::handleProgramEventEnable(int, const std::string& command) {
    setEnableFromArgument(registers->getStandardEventRegister(), command, kEnableLimit);
}

void ScpiServer::handleQueryEventEnable(int, const std::string&) {
    replyInt(registers->getStandardEventRegister().getEnable());
}

void ScpiServer::handleQueryEventStatus(int, const std::string&) {
    replyInt(registers->getStandardEventRegister().readEvent());
}

void ScpiServer::handleProgramSrqEnable(int, const std::string& command) {
    const long long value = scpiarg::textInteger(scpiarg::argumentWord(command));
    if (scpiarg::inRange(value, 0, kSrqEnableLimit)) registers->setSrqEnable(static_cast<int>(value));
}

void ScpiServer::handleQuerySrqEnable(int, const std::string&) { replyInt(registers->getSrqEnable()); }
void ScpiServer::handleQueryStatusByte(int, const std::string&) { replyInt(registers->getStatusByte()); }

void ScpiServer::handleSystErrorQuery(int, const std::string&) { replyError(errors->newest().get()); }
void ScpiServer::handleSystErrorNextQuery(int, const std::string&) { replyError(errors->popOldest().get()); }

#define SCPI_DEFINE_STATUS_REGISTER(eventQuery, enableSetter, enableQuery, conditionQuery, which) \
    void ScpiServer::eventQuery(int, const std::string&) {                                         \
        replyInt(statusRegister(Register::which).readEvent());                                     \
    }                                                                                              \
    void ScpiServer::enableSetter(int, const std::string& command) {                               \
        setEnableFromArgument(statusRegister(Register::which), command, kEnableLimit);             \
    }                                                                                              \
    void ScpiServer::enableQuery(int, const std::string&) {                                        \
        replyInt(statusRegister(Register::which).getEnable());                                     \
    }                                                                                              \
    void ScpiServer::conditionQuery(int, const std::string&) {                                     \
        replyInt(statusRegister(Register::which).getCondition());                                  \
    }
SCPI_STATUS_REGISTERS(SCPI_DEFINE_STATUS_REGISTER)

void ScpiServer::handleResetAllEventEnableRegisters(int, const std::string&) {
    for (Register which : {Register::Measurement, Register::Operation, Register::Questionable})
        statusRegister(which).clearEnable();
}
