// Probe: the identity, configuration and calibration data of the Hall probe
// on one channel, filled item by item from the card's probe-data messages.
//
// Written only on the reader thread of the attached CANinterface; read from
// any thread.  The texts and the memory image sit behind a mutex and are read
// as copies, so a reader never sees a text half rewritten; every number is an
// atomic, so the per-sample readers (the probe class above all) take no lock.
// The changed signal is raised on the reader thread, with no lock held.
#pragma once

#include "runtime/Signal.h"
#include <sigc++/sigc++.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CANinterface;

class Probe : public sigc::trackable {
public:
    // Arguments of the changed signal.
    enum Event { kProbeRemoved = 0, kProbeFound = 1, kProbeDataRead = 2 };

    static constexpr int kTextSize = 15;         // bytes of each text buffer, with its zero
    static constexpr int kDcFactorCount = 61;    // -30 kG ... +30 kG in steps of 1 kG
    static constexpr int kAcFactorCount = 40;    // 1-30 kHz by 1, 32-50 kHz by 2
    static constexpr int kMemorySize = 768;

    using SignalChanged = tvl::Signal<int>;

    Probe();
    virtual ~Probe();

    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    // Connects the presence and probe-data signals of the interface (and
    // drops the connections of an earlier attach).  The interface is not
    // owned.
    void attach(CANinterface* can);

    // 0 probe removed, 1 probe found, 2 probe data read (the multiplier item).
    SignalChanged& signalChanged() { return changed; }

    // Presence state: 0 removed, 1 found; others are ignored.
    void onProbePresence(int state);
    // One probe-data item: its kind and its item bytes (at least seven).
    void onProbeData(int kind, const char* bytes);

    // Texts, copied.
    std::string getModel() const;
    std::string getSerialNumber() const;
    std::string getCalibrationDate() const;

    int getSeries() const { return series.load(); }                 // 0 unknown, 1 3700, 2 4700
    int getHallCurrentLevel() const { return hallCurrentLevel.load(); }   // 0 low, 1 high
    int getAxis() const { return axis.load(); }                     // 0 single, 1 X, 2 Y, 3 Z
    int getProbeType() const { return probeType.load(); }           // 0-7
    int getProbeClass() const { return probeClass.load(); }         // 0-6: 0.001X ... 1000X
    bool isSimulated() const { return simulated.load(); }

    float getLoadedSensitivity() const { return loadedSensitivity.load(); }       // G/V
    float getUnloadedSensitivity() const { return unloadedSensitivity.load(); }   // G/V
    float getSensitivityMultiplier() const { return sensitivityMultiplier.load(); }
    float getCalibrationCurrent() const { return calibrationCurrent.load(); }     // mA
    float getHallOutputImpedance() const { return hallOutputImpedance.load(); }   // ohm
    float getCableResistance() const { return cableResistance.load(); }           // ohm
    float getLinearizingResistor() const { return linearizingResistor.load(); }   // ohm
    float getAcCorrection200Hz() const { return acCorrection200Hz.load(); }
    float getAcCorrection500Hz() const { return acCorrection500Hz.load(); }

    // 1.0 beyond the table.
    float getDcLinearityFactor(unsigned index) const;
    float getAcCorrectionFactor(unsigned index) const;

    float getTemperature() const { return temperature.load(); }     // degrees Celsius
    bool hasTemperatureSensor() const { return temperatureSensor.load(); }

    int getMainDataStoredCrc() const { return mainDataStoredCrc.load(); }
    int getMainDataCalculatedCrc() const { return mainDataCalculatedCrc.load(); }
    int getTempCompStoredCrc() const { return tempCompStoredCrc.load(); }
    int getTempCompCalculatedCrc() const { return tempCompCalculatedCrc.load(); }

    // 0 beyond the image.
    unsigned getMemoryByte(unsigned index) const;

    bool isDataValid() const { return dataValid.load(); }
    void setDataValid(bool valid) { dataValid.store(valid); }

    // Zeroes the memory image and the four CRCs.
    void clearMemoryImage();

private:
    void storeText(char (&text)[kTextSize], bool clearFirst, int offset,
                   const unsigned char* bytes, int count);
    void storeConfiguration(const unsigned char* b);
    void storeMemoryBytes(unsigned index, const unsigned char* b);
    static std::string textOf(const char (&text)[kTextSize]);

    CANinterface* can = nullptr;   // not owned
    sigc::connection presenceConnection;
    sigc::connection dataConnection;

    mutable std::mutex dataMutex;  // the three texts and the memory image
    char model[kTextSize];
    char serialNumber[kTextSize];
    char calibrationDate[kTextSize];
    unsigned char memoryImage[kMemorySize];

    std::atomic<int> series{0};
    std::atomic<int> hallCurrentLevel{0};
    std::atomic<int> axis{0};
    std::atomic<int> probeType{0};
    std::atomic<int> probeClass{3};
    std::atomic<bool> simulated{false};

    std::atomic<float> loadedSensitivity{0.0f};
    std::atomic<float> unloadedSensitivity{0.0f};
    std::atomic<float> sensitivityMultiplier{1.0f};
    std::atomic<float> calibrationCurrent{0.0f};
    std::atomic<float> hallOutputImpedance{0.0f};
    std::atomic<float> cableResistance{0.0f};
    std::atomic<float> linearizingResistor{0.0f};
    std::atomic<float> acCorrection200Hz{0.0f};
    std::atomic<float> acCorrection500Hz{0.0f};
    std::array<std::atomic<float>, kDcFactorCount> dcLinearityFactors;
    std::array<std::atomic<float>, kAcFactorCount> acCorrectionFactors;
    std::atomic<float> temperature{20.0f};
    std::atomic<bool> temperatureSensor{false};
    std::atomic<bool> dataValid{true};

    std::atomic<int> mainDataStoredCrc{0};
    std::atomic<int> mainDataCalculatedCrc{0};
    std::atomic<int> tempCompStoredCrc{0};
    std::atomic<int> tempCompCalculatedCrc{0};

    SignalChanged changed;

    // Items that carry one float, by kind.
    struct FloatItem {
        int kind;
        std::atomic<float> Probe::*field;
    };
    static const FloatItem kFloatItems[];
};
