#include "ranges/Probe.h"

#include "can/CANinterface.h"
#include "can/FrameCodec.h"

#include <cstring>

namespace {

// Probe-data item kinds (byte 0 of the probe-data message).
enum ItemKind {
    kModelFirst = 0,          // model characters 1-6, clears the model first
    kModelSecond = 1,         // model characters 7-12
    kSerialFirst = 2,         // serial-number characters 1-6, clears first
    kSerialSecond = 3,        // serial-number characters 7-10
    kCalDateFirst = 4,        // calibration-date characters 1-6, clears first
    kCalDateSecond = 5,       // calibration-date characters 7-10
    kConfiguration = 6,       // seven configuration bytes
    kSensitivityMultiplier = 9,
    kDcLinearityFactor = 16,  // index byte, float
    kAcCorrectionFactor = 17, // index byte, float
    kMainDataCrcs = 21,       // calculated BE16, stored BE16
    kTempCompCrcs = 22,       // calculated BE16, stored BE16
    kMemoryImage = 23,        // index BE16, four bytes
};

float beFloat(const unsigned char* b) { return can::bitsFloat(can::getBE32(b)); }

}  // namespace

const Probe::FloatItem Probe::kFloatItems[] = {
    {7, &Probe::loadedSensitivity},
    {8, &Probe::unloadedSensitivity},
    {kSensitivityMultiplier, &Probe::sensitivityMultiplier},
    {10, &Probe::calibrationCurrent},
    {11, &Probe::hallOutputImpedance},
    {12, &Probe::cableResistance},
    {13, &Probe::linearizingResistor},
    {14, &Probe::acCorrection200Hz},
    {15, &Probe::acCorrection500Hz},
    {20, &Probe::temperature},
};

Probe::Probe() {
    std::memset(model, 0, sizeof model);
    std::memset(serialNumber, 0, sizeof serialNumber);
    std::memset(calibrationDate, 0, sizeof calibrationDate);
    std::strcpy(model, "Test");
    std::strcpy(serialNumber, "0123");
    std::strcpy(calibrationDate, "01-01-2001");
    for (auto& f : dcLinearityFactors) f.store(1.0f);
    for (auto& f : acCorrectionFactors) f.store(1.0f);
    clearMemoryImage();
}

Probe::~Probe() = default;

void Probe::attach(CANinterface* interface) {
    presenceConnection.disconnect();
    dataConnection.disconnect();
    can = interface;
    if (interface == nullptr) return;
    presenceConnection = interface->signalProbePresence().connect(sigc::mem_fun(*this, &Probe::onProbePresence));
    dataConnection = interface->signalProbeData().connect(sigc::mem_fun(*this, &Probe::onProbeData));
}

void Probe::onProbePresence(int state) {
    if (state == 0) {
        {
            std::lock_guard<std::mutex> lock(dataMutex);
            std::memset(model, 0, sizeof model);
            std::strcpy(model, "No Probe");
            std::memset(serialNumber, 0, sizeof serialNumber);
            std::memset(calibrationDate, 0, sizeof calibrationDate);
        }
        clearMemoryImage();
        dataValid.store(true);
        changed.emit(kProbeRemoved);
    } else if (state == 1) {
        changed.emit(kProbeFound);
    }
}

void Probe::onProbeData(int kind, const char* bytes) {
    if (bytes == nullptr) return;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);

    switch (kind) {
    case kModelFirst: storeText(model, true, 0, b, 6); return;
    case kModelSecond: storeText(model, false, 6, b, 6); return;
    case kSerialFirst: storeText(serialNumber, true, 0, b, 6); return;
    case kSerialSecond: storeText(serialNumber, false, 6, b, 4); return;
    case kCalDateFirst: storeText(calibrationDate, true, 0, b, 6); return;
    case kCalDateSecond: storeText(calibrationDate, false, 6, b, 4); return;
    case kConfiguration: storeConfiguration(b); return;
    case kDcLinearityFactor:
        if (b[0] < kDcFactorCount) dcLinearityFactors[b[0]].store(beFloat(b + 1));
        return;
    case kAcCorrectionFactor:
        if (b[0] < kAcFactorCount) acCorrectionFactors[b[0]].store(beFloat(b + 1));
        return;
    case kMainDataCrcs:
        mainDataCalculatedCrc.store(static_cast<int>(can::getBE16(b)));
        mainDataStoredCrc.store(static_cast<int>(can::getBE16(b + 2)));
        return;
    case kTempCompCrcs:
        tempCompCalculatedCrc.store(static_cast<int>(can::getBE16(b)));
        tempCompStoredCrc.store(static_cast<int>(can::getBE16(b + 2)));
        return;
    case kMemoryImage: storeMemoryBytes(can::getBE16(b), b + 2); return;
    default: break;
    }

    for (const FloatItem& item : kFloatItems) {
        if (item.kind != kind) continue;
        (this->*item.field).store(beFloat(b));
        if (kind == kSensitivityMultiplier) changed.emit(kProbeDataRead);
        return;
    }
    // Kinds 18, 19 and above 23 carry nothing for the record.
}

void Probe::storeText(char (&text)[kTextSize], bool clearFirst, int offset,
                      const unsigned char* bytes, int count) {
    std::lock_guard<std::mutex> lock(dataMutex);
    if (clearFirst) std::memset(text, 0, sizeof text);
    std::memcpy(text + offset, bytes, static_cast<std::size_t>(count));
}

void Probe::storeConfiguration(const unsigned char* b) {
    series.store(b[0] == 1 || b[0] == 2 ? b[0] : 0);
    axis.store(b[1] >= 1 && b[1] <= 3 ? b[1] : 0);
    probeType.store(b[2] <= 7 ? b[2] : 0);
    hallCurrentLevel.store(b[3] == 1 ? 1 : 0);
    simulated.store(b[4] != 0);
    temperatureSensor.store(b[5] != 0);
    probeClass.store(b[6] <= 6 ? b[6] : 3);
}

// Bytes that would land beyond the image are dropped; those that fit are
// kept.
void Probe::storeMemoryBytes(unsigned index, const unsigned char* b) {
    std::lock_guard<std::mutex> lock(dataMutex);
    for (unsigned k = 0; k < 4; ++k)
        if (index + k < static_cast<unsigned>(kMemorySize)) memoryImage[index + k] = b[k];
}

std::string Probe::textOf(const char (&text)[kTextSize]) {
    return std::string(text, strnlen(text, kTextSize));
}

std::string Probe::getModel() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return textOf(model);
}

std::string Probe::getSerialNumber() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return textOf(serialNumber);
}

std::string Probe::getCalibrationDate() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return textOf(calibrationDate);
}

float Probe::getDcLinearityFactor(unsigned index) const {
    return index < static_cast<unsigned>(kDcFactorCount) ? dcLinearityFactors[index].load() : 1.0f;
}

float Probe::getAcCorrectionFactor(unsigned index) const {
    return index < static_cast<unsigned>(kAcFactorCount) ? acCorrectionFactors[index].load() : 1.0f;
}

unsigned Probe::getMemoryByte(unsigned index) const {
    if (index >= static_cast<unsigned>(kMemorySize)) return 0;
    std::lock_guard<std::mutex> lock(dataMutex);
    return memoryImage[index];
}

void Probe::clearMemoryImage() {
    {
        std::lock_guard<std::mutex> lock(dataMutex);
        std::memset(memoryImage, 0, sizeof memoryImage);
    }
    mainDataStoredCrc.store(0);
    mainDataCalculatedCrc.store(0);
    tempCompStoredCrc.store(0);
    tempCompCalculatedCrc.store(0);
}
