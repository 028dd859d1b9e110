// ChannelSim: one simulated channel-processor card on the CAN bus (node
// channel + 2).  Its CAN reader thread answers the host's card commands; the
// process's stream ticker (StreamTicker, one thread for every card) sends
// its samples while the card is synced and probe-ready; a zero thread runs
// per zero request; a capture thread serves waveform requests, so that a
// capture waiting for its trigger never holds up the reader.  Fields that
// those threads share are atomics.
#pragma once

#include "simulator/BoardInfo.h"
#include "simulator/SineWave.h"
#include "simulator/StopFlag.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class CANinterface;
class RangeSpec;
class RangeSpecTable;

class ChannelSim {
public:
    static constexpr int kCalParameterCount = 93;
    static constexpr int kTableCount = 20;
    static constexpr int kFixedTableLength = 15;

    // channel 1-3; the third number is not used by the card; noiseLevel in
    // percent of full scale.
    ChannelSim(int channel, const char* interfaceName, double unused, double noiseLevel);
    // Stops every thread of the card and closes its link.
    virtual ~ChannelSim();

    ChannelSim(const ChannelSim&) = delete;
    ChannelSim& operator=(const ChannelSim&) = delete;

    // Called by main.
    void _setChannelId(int axisCode);
    void _setProbeType(int probeClass);
    void _setStatus(int status);   // 2 sends the probe data block, others the presence
    void _lookupRangeSpec();

    void setFieldLevel(double percent) { fieldLevel = percent; }
    void setNoiseLevel(double percent) { noiseLevel = percent; }
    void setStatusBit0(bool on) { statusBit0 = on; }
    void setStatusBit1(bool on) { statusBit1 = on; }
    bool isEnabled() const { return enabled; }
    // Starts or stops the card's reader thread when the flag changes.
    void setEnabled(bool on);
    void _sendCardEvent(int code);
    // Sends a probe memory image as probe items 23 (four bytes per item).
    void _sendProbeMemoryImage(const unsigned char* image, int size);

    int getChannel() const { return channel; }

private:
    // Request handlers, on the card's CAN reader thread.
    void _handleSetMode(int mode, int freqRange);
    void _handleSetRange(int range);
    void _handleTriggerMode(int mode);
    void _handleWaveformRequest(int mode, int slope, int decimation, int count);
    void _handleStopWaiting();
    void _handleTriggerLevel(float level);
    void _handleBoardInfo(int slot, const char* text);
    void _handleResetPeaks();
    void _handleSendAll();
    void _handleCalSaveToEeprom();
    void _handlCalLoadFromEeprom();
    void _handleCalSetParameter(int index, float value);
    void _handleCalCreatNewTables(int a, int b, int c);
    void _handleSetCalTableElement(int table, int index, float value);
    void _handleHello();
    void _handleSetDiagMode(int mode);
    void _handleZero(int zeroMode, int unused);

    void _setDefaultCalParameters();
    void _createTablesA(int length);
    void _createTablesB(int length);
    void _createTablesC(int length);
    void _sendCalTables();
    void _sendProbeData();
    void _sendBoardInfoString(int k);

    // Timed behaviour: one tick of the stream (on the stream ticker's
    // thread), zero runs and captures (own threads).
    void _streamTick();
    void _zeroLoop();
    void _captureLoop();
    void _captureWaveform(const WaveformRequest& request);
    long long _findTrigger(const WaveformRequest& request, const SineTable& table);
    const SineTable& _sineTable();
    float fullScale() const;

    struct ZeroRun {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    int channel;
    sim::BoardInfo board;   // _model, _rev, _serial, _calDate
    std::atomic<double> fieldLevel{0.0};
    std::atomic<double> noiseLevel{0.0};
    CANinterface* const link;   // owned; deleted last, which joins its reader
    // The captured signal at the sample period of the frequency range; the
    // capture thread's own (made anew there when the period changes).
    std::unique_ptr<SineTable> sine;
    std::atomic<bool> autorange{false};
    std::atomic<float> peakMax{0.0f};
    std::atomic<float> peakMin{0.0f};
    std::atomic<int> probeStatus{0};
    std::atomic<bool> synced{false};
    std::atomic<bool> zeroing{false};
    std::atomic<int> range{0};
    std::atomic<int> probeClass{3};
    std::atomic<int> axisCode{0};
    std::atomic<bool> enabled{true};
    std::atomic<int> tickPeriodUs{1800};
    std::atomic<int> freqRange{0};   // the last command 0x00
    RangeSpecTable* rangeTable = nullptr;
    std::atomic<const RangeSpec*> currentRange{nullptr};
    std::atomic<bool> waitingForTrigger{false};
    std::atomic<int> triggerMode{0};
    std::atomic<float> triggerLevel{0.0f};
    std::atomic<bool> statusBit0{false};
    std::atomic<bool> statusBit1{false};

    // Touched only by the reader thread.
    std::vector<float> calParameters;
    std::vector<std::vector<float>> tables;
    int lengthA = 0;
    int lengthB = 0;
    int lengthC = 0;

    sim::StopFlag stopFlag;
    int streamHandle = 0;   // with the stream ticker
    // Touched only by the stream ticker.
    int peakTicks = 0;
    int autorangeTicks = 0;
    int autorangeCycle = 0;
    std::mutex zeroMutex;
    std::vector<ZeroRun> zeroRuns;

    std::mutex captureMutex;
    std::condition_variable captureCv;
    std::optional<WaveformRequest> pendingCapture;
    bool captureStopping = false;
    std::thread captureThread;
};
