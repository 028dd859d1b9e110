// CANinterface: the one class through which the programs talk on the CAN bus.
//
// Identifiers are 11 bits: source node << 8 | destination node << 5 | command.
// Nodes: 0 front-panel controller, 1 host (tvl4700), 2 backplane, 3-5 channel
// cards 1-3, 6 power-supply board.  Payloads are big-endian; floats travel as
// their IEEE-754 single-precision bit pattern, most significant byte first.
// Identifier 0x001 carries the channel-processor bootloader's program bytes.
//
// Each object owns one endpoint (platform::CanTransport), a receive filter
// list and at most one reader thread.  Every signal is raised on the object's
// reader thread, one frame at a time, in the order received.
#pragma once

#include <linux/can.h>
#include <sigc++/sigc++.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace platform { class CanTransport; }

class CANinterface : public sigc::trackable {
public:
    explicit CANinterface(const char* interfaceName);
    // Over an endpoint of the caller's (tests inject fakes through this).
    explicit CANinterface(std::unique_ptr<platform::CanTransport> transport);
    // Stops and joins a running reader first (detaches when called from the
    // reader itself, e.g. by a handler that deletes its own link).
    virtual ~CANinterface();

    CANinterface(const CANinterface&) = delete;
    CANinterface& operator=(const CANinterface&) = delete;

    int addFilter(int id, int mask);
    int setFilter(int id, int mask);
    int startReader();
    void stopReader();
    void setKeyEventsEnabled(bool enabled);

    // 0 when the frame was written; 17 after 18 writes failed with ENOBUFS;
    // otherwise non-zero (-1 when a write failed with another error).
    int sendFrame(const can_frame* frame);
    // length 0..8; a larger length sends nothing and returns -1.
    int sendRawFrame(int id, int length, const char* bytes);

    // Receives and decodes one frame; called by the reader thread.  Public so
    // that tests can decode without a thread.
    void readMessage();
    // Decodes one already received frame into its signal.
    void decodeFrame(const can_frame& frame);

    // ---- Host to front-panel controller (node 0) and power supply (node 6)
    int sendButtonBacklight(int button, int level);
    int sendButtonBacklightLevel(int level);
    int sendLcdBacklightLevel(int level);
    int sendBootloadNotice(int node, int value);   // node 0 or 6, else nothing sent (-1)
    int sendFrontPanelVersionRequest();
    int sendSetPowerOnMode(int mode);
    int sendHostReady();
    int sendPsuVersionRequest();

    // ---- Host to backplane (node 2)
    int sendTemperatureRequest();
    void sendSetSineWaveDacMode(unsigned mode);
    int sendSetSineWaveDacOutput(int value);
    int sendBackplaneEepromWrite();
    int sendBackplaneEepromLoad();
    int sendBackplaneRecalDefaults();
    int sendBackplaneFactoryDefaults();
    int sendSetBackplaneCalParameter(int index, float value);
    int sendSetBackplaneDacMode(int dac, int mode);
    void sendSetBackplaneDacScaling(int dac, unsigned value);
    int sendSetBackplaneDacOutput(int dac, int value);
    int sendVectorSumOutput(int word, float magnitude);
    void sendSetBackplaneDacRange(unsigned dac, unsigned range);
    void sendSetBackplaneBoardInfo(int slot, const char* text, int n);
    int sendClassifierOutput(int channel, int line, int level);

    // ---- Host to the channel card of channel c (1-3; other values: channel 2)
    int sendSetMode(int c, int mode, int freqRange);
    int sendSetRange(int c, int range);
    int sendTriggerMode(int c, int mode);
    int sendWaveformRequest(int c, int mode, int slope, int decimation, int points);
    int sendStopWaiting(int c);
    int sendTriggerLevel(int c, float level);
    void sendSetBoardInfo(int c, int slot, const char* text, int n);
    int sendResetPeaks(int c, int which);
    int sendSendAllRequest(int c);
    int sendCalSaveToEeprom(int c);
    int sendCalLoadFromEeprom(int c);
    int sendCalRecalDefaults(int c);
    int sendCalFactoryDefaults(int c);
    int sendCalSetParameter(int c, int index, float value);
    int sendCalCreateNewTables(int c, int a, int b, int c3);
    int sendSetCalTableElement(int c, int table, int index, float value);
    int sendSetDacMode(int c, int dac, int mode);
    void sendSetDacScaling(int c, int dac, unsigned value);
    int sendSetDacOutput(int c, int dac, int value);
    void sendSetGain(int c, int which, float gain);
    int sendHello(int c);
    void sendSetDiagMode(int c, unsigned mode);
    void sendSetMuxFampInput(int c, unsigned v);
    void sendSetMuxSampInput(int c, unsigned v);
    void sendSetMuxTampInput(int c, unsigned v);
    void sendSetMuxHpfValue(int c, unsigned v);
    void sendSetMuxMadcInput(int c, unsigned v);
    void sendSetMuxDcrefValue(int c, unsigned v);
    void sendSetMuxControlCurrentMode(int c, unsigned v);
    void sendSetMuxHallCurrent(int c, unsigned v);
    void sendSetMuxDadcInput(int c, unsigned input);
    int sendSetDadcMode(int c, int mode);
    int sendReadDadcCounts(int c);
    int sendReadDadcVolts(int c);
    void sendSetOutputSwitch(int c, unsigned sw, unsigned v);
    int sendStartZero(int c, int zeroMode);
    int sendCurrentRecal(int c);
    int sendDiagOption(int c, int code, int a, int b, int d);

    // ---- Replies of the channel card of channel c (sent by the simulator)
    int sendSample(int c, float value, int status);
    int sendModeReply(int c, int mode, int freqRange, float rate);
    int sendTriggerModeReply(int c, int mode);
    int sendWaveformStart(int c, int count);
    int sendWaveformEnd(int c);
    int sendWaveformData(int c, float a, float b);
    int sendProbePresence(int c, int state);
    int sendCardReady(int c);
    int sendPeakValley(int c, float peak, float valley);
    int sendRangeReply(int c, int range);
    int sendDiagModeReply(int c, int value, const char* unit);
    int sendHelloReply(int c);
    int sendZeroDone(int c, int result);
    int sendProbeDataIndexed(int c, int kind, int index, int value);
    int sendProbeDataValue(int c, int kind, int value);
    int sendProbeDataBytes(int c, int kind, const char* bytes, int n);   // n 0..7, else nothing sent (-1)
    int sendCalParameter(int c, int index, float value);
    int sendCalTableElement(int c, int table, int index, float value);
    int sendCalTableSizes(int c, int a, int b, int c3);
    int sendFrequency(int c, float hz);
    int sendCardEvent(int c, int code);
    int sendZeroingProgress(int c, float percent);
    int sendBoardInfo(int c, int slot, const char* text, int n);         // n 0..7, else nothing sent (-1)

    // ---- Front-panel controller side (the front-panel stand-in sends these)
    int sendKeyPressed(int key);
    int sendPowerOnMode(int mode);

    // ---- Replies of the backplane (sent by the simulator)
    int sendBackplaneTemperature(float value);
    int sendBackplaneCalParameter(int index, float value);
    int sendBackplaneBoardInfo(int slot, const char* text, int n);       // n 0..7, else nothing sent (-1)

    // ---- Signals (raised on the reader thread).  Text arguments point to an
    // 8-byte buffer: data[1..7] and a terminating zero, valid during the call.
    using Signal0 = sigc::signal<void>;
    using SignalI = sigc::signal<void, int>;
    using SignalII = sigc::signal<void, int, int>;
    using SignalIII = sigc::signal<void, int, int, int>;
    using SignalIIII = sigc::signal<void, int, int, int, int>;
    using SignalF = sigc::signal<void, float>;
    using SignalFF = sigc::signal<void, float, float>;
    using SignalFI = sigc::signal<void, float, int>;
    using SignalIF = sigc::signal<void, int, float>;
    using SignalIIF = sigc::signal<void, int, int, float>;
    using SignalIText = sigc::signal<void, int, const char*>;

    Signal0& signalHelloReply() { return HelloReply; }
    SignalI& signalKeyPressed() { return KeyPressed; }
    SignalFI& signalSample() { return Sample; }
    SignalI& signalWaveformStart() { return WaveformStart; }
    SignalFF& signalWaveformData() { return WaveformData; }
    Signal0& signalWaveformEnd() { return WaveformEnd; }
    SignalI& signalRangeReply() { return RangeReply; }
    SignalIIF& signalModeReply() { return ModeReply; }
    SignalFF& signalPeakValley() { return PeakValley; }
    SignalI& signalProbePresence() { return ProbePresence; }
    SignalIText& signalDiagModeReply() { return DiagModeReply; }
    SignalI& signalZeroDone() { return ZeroDone; }
    SignalF& signalZeroingProgress() { return ZeroingProgress; }
    SignalF& signalBackplaneTemperature() { return BackplaneTemperature; }
    SignalIF& signalBackplaneCalParameter() { return BackplaneCalParameter; }
    SignalIText& signalProbeData() { return ProbeData; }
    SignalIF& signalCalParameter() { return CalParameter; }
    SignalIII& signalCalTableSizes() { return CalTableSizes; }
    SignalIIF& signalCalTableElement() { return CalTableElement; }
    SignalF& signalFrequency() { return Frequency; }
    SignalIText& signalBoardInfo() { return BoardInfo; }
    SignalIText& signalBackplaneBoardInfo() { return BackplaneBoardInfo; }
    SignalF& signalQueryReply() { return QueryReply; }
    SignalI& signalCardEvent() { return CardEvent; }
    SignalII& signalFrontPanelVersion() { return FrontPanelVersion; }
    SignalII& signalPsuVersion() { return PsuVersion; }
    SignalI& signalTriggerModeReply() { return TriggerModeReply; }
    SignalI& signalPowerOnMode() { return PowerOnMode; }
    Signal0& signalCardReady() { return CardReady; }
    SignalI& signalBootloadNotice() { return BootloadNotice; }
    SignalII& signalButtonBacklightRequest() { return ButtonBacklightRequest; }
    SignalI& signalSetPowerOnModeRequest() { return SetPowerOnModeRequest; }
    Signal0& signalHostReady() { return HostReady; }
    Signal0& signalHelloRequest() { return HelloRequest; }
    SignalI& signalSetRangeRequest() { return SetRangeRequest; }
    Signal0& signalResetPeaksRequest() { return ResetPeaksRequest; }
    Signal0& signalSendAllRequest() { return SendAllRequest; }
    SignalII& signalSetModeRequest() { return SetModeRequest; }
    SignalI& signalSetDiagModeRequest() { return SetDiagModeRequest; }
    SignalII& signalZeroRequest() { return ZeroRequest; }
    Signal0& signalCalSaveToEepromRequest() { return CalSaveToEepromRequest; }
    Signal0& signalCalLoadFromEepromRequest() { return CalLoadFromEepromRequest; }
    SignalIF& signalCalSetParameterRequest() { return CalSetParameterRequest; }
    SignalIII& signalCalCreateNewTablesRequest() { return CalCreateNewTablesRequest; }
    SignalIIF& signalSetCalTableElementRequest() { return SetCalTableElementRequest; }
    SignalIText& signalBoardInfoRequest() { return BoardInfoRequest; }
    SignalIText& signalBackplaneBoardInfoRequest() { return BackplaneBoardInfoRequest; }
    SignalI& signalTriggerModeRequest() { return TriggerModeRequest; }
    SignalF& signalTriggerLevelRequest() { return TriggerLevelRequest; }
    SignalIIII& signalWaveformRequest() { return WaveformRequest; }
    Signal0& signalStopWaitingRequest() { return StopWaitingRequest; }
    Signal0& signalTemperatureRequest() { return TemperatureRequest; }

    // Frames this endpoint lost because its reader fell behind (emulated bus).
    std::uint64_t droppedFrames() const;

private:
    void readerLoop();
    static void* readerEntry(void* self);
    // Prints one line when the endpoint starts losing frames; a burst of
    // losses ends after a second without new ones.  Reader thread only.
    void noteOverrun();
    std::uint64_t overrunSeen = 0;
    std::chrono::steady_clock::time_point lastOverrun{};

    std::unique_ptr<platform::CanTransport> transport;
    std::atomic<int> running{0};
    std::atomic<bool> keyEventsEnabled{true};
    std::mutex filterMutex;
    std::vector<can_filter> filters;
    pthread_t readerThread{};
    bool readerStarted = false;

    Signal0 HelloReply;
    SignalI KeyPressed;
    SignalFI Sample;
    SignalI WaveformStart;
    SignalFF WaveformData;
    Signal0 WaveformEnd;
    SignalI RangeReply;
    SignalIIF ModeReply;
    SignalFF PeakValley;
    SignalI ProbePresence;
    SignalIText DiagModeReply;
    SignalI ZeroDone;
    SignalF ZeroingProgress;
    SignalF BackplaneTemperature;
    SignalIF BackplaneCalParameter;
    SignalIText ProbeData;
    SignalIF CalParameter;
    SignalIII CalTableSizes;
    SignalIIF CalTableElement;
    SignalF Frequency;
    SignalIText BoardInfo;
    SignalIText BackplaneBoardInfo;
    SignalF QueryReply;
    SignalI CardEvent;
    SignalII FrontPanelVersion;
    SignalII PsuVersion;
    SignalI TriggerModeReply;
    SignalI PowerOnMode;
    Signal0 CardReady;
    SignalI BootloadNotice;
    SignalII ButtonBacklightRequest;
    SignalI SetPowerOnModeRequest;
    Signal0 HostReady;
    Signal0 HelloRequest;
    SignalI SetRangeRequest;
    Signal0 ResetPeaksRequest;
    Signal0 SendAllRequest;
    SignalII SetModeRequest;
    SignalI SetDiagModeRequest;
    SignalII ZeroRequest;
    Signal0 CalSaveToEepromRequest;
    Signal0 CalLoadFromEepromRequest;
    SignalIF CalSetParameterRequest;
    SignalIII CalCreateNewTablesRequest;
    SignalIIF SetCalTableElementRequest;
    SignalIText BoardInfoRequest;
    SignalIText BackplaneBoardInfoRequest;
    SignalI TriggerModeRequest;
    SignalF TriggerLevelRequest;
    SignalIIII WaveformRequest;
    Signal0 StopWaitingRequest;
    Signal0 TemperatureRequest;
};
