// The probe record and its item decoder, each case run once with the items
// handed straight to the probe's slots and once as frames over the emulated
// bus from a second CAN endpoint.
#include "ProbeFeeder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

std::unique_ptr<ProbeFeeder> makeDirectFeeder();
std::unique_ptr<ProbeFeeder> makeBusFeeder();

std::unique_ptr<ProbeFeeder> makeFeeder(FeederKind kind) {
    return kind == FeederKind::Bus ? makeBusFeeder() : makeDirectFeeder();
}

std::string feederName(FeederKind kind) { return kind == FeederKind::Bus ? "Bus" : "Direct"; }

namespace {

ItemBytes text(const char* s) {
    ItemBytes b{};
    for (std::size_t i = 0; i < b.size() && s[i] != '\0'; ++i) b[i] = static_cast<std::uint8_t>(s[i]);
    return b;
}

// A float item: the bit pattern, most significant byte first, after the
// index byte when the item is indexed.
ItemBytes floatItem(float f, std::uint8_t index = 0, bool indexed = false) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    ItemBytes b{};
    const int at = indexed ? 1 : 0;
    if (indexed) b[0] = index;
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(u >> (24 - 8 * i));
    return b;
}

struct FieldsSnapshot {
    std::string model, serial, date;
    int series, hall, axis, type, cls;
    bool simulated, tempSensor, valid;
    std::vector<float> floats;
    std::vector<int> crcs;
    std::vector<unsigned> memory;

    explicit FieldsSnapshot(const Probe& p)
        : model(p.getModel()), serial(p.getSerialNumber()), date(p.getCalibrationDate()),
          series(p.getSeries()), hall(p.getHallCurrentLevel()), axis(p.getAxis()),
          type(p.getProbeType()), cls(p.getProbeClass()), simulated(p.isSimulated()),
          tempSensor(p.hasTemperatureSensor()), valid(p.isDataValid()) {
        floats = {p.getLoadedSensitivity(), p.getUnloadedSensitivity(), p.getSensitivityMultiplier(),
                  p.getCalibrationCurrent(), p.getHallOutputImpedance(), p.getCableResistance(),
                  p.getLinearizingResistor(), p.getAcCorrection200Hz(), p.getAcCorrection500Hz(),
                  p.getTemperature()};
        for (unsigned i = 0; i < Probe::kDcFactorCount; ++i) floats.push_back(p.getDcLinearityFactor(i));
        for (unsigned i = 0; i < Probe::kAcFactorCount; ++i) floats.push_back(p.getAcCorrectionFactor(i));
        crcs = {p.getMainDataCalculatedCrc(), p.getMainDataStoredCrc(), p.getTempCompCalculatedCrc(),
                p.getTempCompStoredCrc()};
        for (unsigned i = 0; i < Probe::kMemorySize; ++i) memory.push_back(p.getMemoryByte(i));
    }
    bool operator==(const FieldsSnapshot& o) const {
        return model == o.model && serial == o.serial && date == o.date && series == o.series &&
               hall == o.hall && axis == o.axis && type == o.type && cls == o.cls &&
               simulated == o.simulated && tempSensor == o.tempSensor && valid == o.valid &&
               floats == o.floats && crcs == o.crcs && memory == o.memory;
    }
};

class ProbeDecode : public ::testing::TestWithParam<FeederKind> {
protected:
    void SetUp() override {
        feeder = makeFeeder(GetParam());
        probe.signalChanged().connect([this](int e) {
            std::lock_guard<std::mutex> lock(eventMutex);
            events.push_back(e);
        });
        feeder->attach(probe);
    }

    void send(int kind, const ItemBytes& b) { feeder->item(kind, b); }

    std::vector<int> takeEvents() {
        feeder->flush();
        std::lock_guard<std::mutex> lock(eventMutex);
        std::vector<int> out;
        out.swap(events);
        return out;
    }

    // A probe as the card reports it in full.
    void sendFullProbe() {
        send(0, text("ABC123"));
        send(1, text("456789"));
        send(2, text("012345"));
        send(3, text("6789"));
        send(4, text("04-20-"));
        send(5, text("2020"));
        send(6, {2, 3, 7, 1, 1, 1, 6});
        for (int kind : {7, 8, 10, 11, 12, 13, 14, 15}) send(kind, floatItem(static_cast<float>(kind) + 0.5f));
        send(20, floatItem(26.3f));
        for (int i = 0; i < Probe::kDcFactorCount; ++i) send(16, floatItem(0.9f + i * 0.001f, i, true));
        for (int i = 0; i < Probe::kAcFactorCount; ++i) send(17, floatItem(1.1f + i * 0.001f, i, true));
        send(21, {0x12, 0x34, 0x56, 0x78});
        send(22, {0xFF, 0xFF, 0x00, 0x01});
        for (int i = 0; i < Probe::kMemorySize; i += 4)
            send(23, {static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i), 1, 2, 3, 4});
        send(9, floatItem(10.0f));
        feeder->flush();
    }

    Probe probe;
    std::unique_ptr<ProbeFeeder> feeder;
    std::mutex eventMutex;
    std::vector<int> events;
};

TEST(Probe, FreshRecord) {
    Probe p;
    EXPECT_EQ(p.getModel(), "Test");
    EXPECT_EQ(p.getSerialNumber(), "0123");
    EXPECT_EQ(p.getCalibrationDate(), "01-01-2001");
    EXPECT_EQ(p.getProbeClass(), 3);
    EXPECT_EQ(p.getSeries(), 0);
    EXPECT_EQ(p.getAxis(), 0);
    EXPECT_EQ(p.getProbeType(), 0);
    EXPECT_EQ(p.getHallCurrentLevel(), 0);
    EXPECT_FALSE(p.isSimulated());
    EXPECT_EQ(p.getSensitivityMultiplier(), 1.0f);
    EXPECT_EQ(p.getTemperature(), 20.0f);
    EXPECT_TRUE(p.isDataValid());
    for (unsigned i = 0; i < Probe::kDcFactorCount; ++i) EXPECT_EQ(p.getDcLinearityFactor(i), 1.0f);
    for (unsigned i = 0; i < Probe::kAcFactorCount; ++i) EXPECT_EQ(p.getAcCorrectionFactor(i), 1.0f);
    for (unsigned i = 0; i < Probe::kMemorySize; ++i) EXPECT_EQ(p.getMemoryByte(i), 0u);
    EXPECT_EQ(p.getMainDataStoredCrc(), 0);
    EXPECT_EQ(p.getTempCompCalculatedCrc(), 0);
}

TEST(Probe, GettersBeyondTheTables) {
    Probe p;
    for (unsigned i : {61u, 62u, 1000u, 0xFFFFFFFFu}) EXPECT_EQ(p.getDcLinearityFactor(i), 1.0f);
    for (unsigned i : {40u, 41u, 1000u, 0xFFFFFFFFu}) EXPECT_EQ(p.getAcCorrectionFactor(i), 1.0f);
    for (unsigned i : {768u, 769u, 0xFFFFu, 0xFFFFFFFFu}) EXPECT_EQ(p.getMemoryByte(i), 0u);
    p.setDataValid(false);
    EXPECT_FALSE(p.isDataValid());
}

TEST_P(ProbeDecode, TextsBuiltFromTwoItems) {
    send(0, text("ABC123"));
    send(1, text("456789"));
    send(2, text("012345"));
    send(3, text("6789"));
    send(4, text("04-20-"));
    send(5, text("2020"));
    feeder->flush();
    EXPECT_EQ(probe.getModel(), "ABC123456789");
    EXPECT_EQ(probe.getSerialNumber(), "0123456789");
    EXPECT_EQ(probe.getCalibrationDate(), "04-20-2020");

    // A first half clears the whole text; a lone second half overwrites
    // only its own characters.
    send(0, text("XY"));
    send(3, text("WXYZ"));
    send(5, text("1999"));
    feeder->flush();
    EXPECT_EQ(probe.getModel(), "XY");
    EXPECT_EQ(probe.getSerialNumber(), "012345WXYZ");
    EXPECT_EQ(probe.getCalibrationDate(), "04-20-1999");

    // Only six (first half) and four (serial and date second half) bytes
    // are taken from the seven.
    send(2, text("ABCDEFG"));
    send(3, text("HIJKLMN"));
    feeder->flush();
    EXPECT_EQ(probe.getSerialNumber(), "ABCDEFHIJK");
    EXPECT_TRUE(takeEvents().empty());
}

struct ConfigCase {
    ItemBytes bytes;
    int series, axis, type, hall;
    bool simulated, tempSensor;
    int cls;
};

TEST_P(ProbeDecode, ConfigurationItemRewritesAllSevenFields) {
    const ConfigCase cases[] = {
        {{2, 3, 7, 1, 0, 1, 6}, 2, 3, 7, 1, false, true, 6},
        {{3, 4, 8, 2, 5, 0, 9}, 0, 0, 0, 0, true, false, 3},
        {{1, 1, 0, 1, 1, 1, 0}, 1, 1, 0, 1, true, true, 0},
        {{0, 0, 5, 0, 0, 0, 5}, 0, 0, 5, 0, false, false, 5},
        {{255, 255, 255, 255, 255, 255, 255}, 0, 0, 0, 0, true, true, 3},
        {{2, 2, 3, 0, 0, 0, 7}, 2, 2, 3, 0, false, false, 3},
    };
    for (const ConfigCase& c : cases) {
        send(6, c.bytes);
        feeder->flush();
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        EXPECT_EQ(probe.getSeries(), c.series);
        EXPECT_EQ(probe.getAxis(), c.axis);
        EXPECT_EQ(probe.getProbeType(), c.type);
        EXPECT_EQ(probe.getHallCurrentLevel(), c.hall);
        EXPECT_EQ(probe.isSimulated(), c.simulated);
        EXPECT_EQ(probe.hasTemperatureSensor(), c.tempSensor);
        EXPECT_EQ(probe.getProbeClass(), c.cls);
    }
    EXPECT_TRUE(takeEvents().empty());
}

TEST_P(ProbeDecode, FloatItemsAndOnlyTheMultiplierAnnounces) {
    struct FloatCase {
        int kind;
        float (Probe::*getter)() const;
    };
    const FloatCase cases[] = {
        {7, &Probe::getLoadedSensitivity},    {8, &Probe::getUnloadedSensitivity},
        {9, &Probe::getSensitivityMultiplier}, {10, &Probe::getCalibrationCurrent},
        {11, &Probe::getHallOutputImpedance}, {12, &Probe::getCableResistance},
        {13, &Probe::getLinearizingResistor}, {14, &Probe::getAcCorrection200Hz},
        {15, &Probe::getAcCorrection500Hz},   {20, &Probe::getTemperature},
    };
    for (const FloatCase& c : cases) {
        const float value = -123.456f + static_cast<float>(c.kind);
        send(c.kind, floatItem(value));
        feeder->flush();
        EXPECT_EQ((probe.*c.getter)(), value) << "kind " << c.kind;
        EXPECT_EQ(takeEvents(), c.kind == 9 ? std::vector<int>{2} : std::vector<int>{}) << "kind " << c.kind;
    }
    // The multiplier announces every time, even unchanged.
    send(9, floatItem(-114.456f));
    send(9, floatItem(-114.456f));
    EXPECT_EQ(takeEvents(), (std::vector<int>{2, 2}));
}

TEST_P(ProbeDecode, CorrectionFactorsWithinTheirTables) {
    send(16, floatItem(0.5f, 0, true));
    send(16, floatItem(0.75f, 60, true));
    send(16, floatItem(9.0f, 61, true));
    send(16, floatItem(9.0f, 255, true));
    send(17, floatItem(1.25f, 0, true));
    send(17, floatItem(1.5f, 39, true));
    send(17, floatItem(9.0f, 40, true));
    send(17, floatItem(9.0f, 255, true));
    feeder->flush();
    EXPECT_EQ(probe.getDcLinearityFactor(0), 0.5f);
    EXPECT_EQ(probe.getDcLinearityFactor(60), 0.75f);
    for (unsigned i = 1; i < 60; ++i) EXPECT_EQ(probe.getDcLinearityFactor(i), 1.0f);
    EXPECT_EQ(probe.getDcLinearityFactor(61), 1.0f);
    EXPECT_EQ(probe.getAcCorrectionFactor(0), 1.25f);
    EXPECT_EQ(probe.getAcCorrectionFactor(39), 1.5f);
    for (unsigned i = 1; i < 39; ++i) EXPECT_EQ(probe.getAcCorrectionFactor(i), 1.0f);
    EXPECT_EQ(probe.getAcCorrectionFactor(40), 1.0f);
    EXPECT_TRUE(takeEvents().empty());
}

TEST_P(ProbeDecode, ChecksumsAreUnsigned16Bit) {
    send(21, {0x12, 0x34, 0x56, 0x78});
    send(22, {0xFF, 0xFF, 0x80, 0x00});
    feeder->flush();
    EXPECT_EQ(probe.getMainDataCalculatedCrc(), 0x1234);
    EXPECT_EQ(probe.getMainDataStoredCrc(), 0x5678);
    EXPECT_EQ(probe.getTempCompCalculatedCrc(), 65535);
    EXPECT_EQ(probe.getTempCompStoredCrc(), 0x8000);
}

TEST_P(ProbeDecode, MemoryImageNeverWrittenPastItsEnd) {
    send(6, {2, 3, 7, 1, 1, 1, 6});   // the fields stored after the image
    send(23, {0x00, 0x10, 0xDE, 0xAD, 0xBE, 0xEF});
    send(23, {0x02, 0xFC, 0x11, 0x22, 0x33, 0x44});   // 764: the last full item
    feeder->flush();
    EXPECT_EQ(probe.getMemoryByte(16), 0xDEu);
    EXPECT_EQ(probe.getMemoryByte(17), 0xADu);
    EXPECT_EQ(probe.getMemoryByte(18), 0xBEu);
    EXPECT_EQ(probe.getMemoryByte(19), 0xEFu);
    EXPECT_EQ(probe.getMemoryByte(15), 0u);
    EXPECT_EQ(probe.getMemoryByte(20), 0u);
    EXPECT_EQ(probe.getMemoryByte(764), 0x11u);
    EXPECT_EQ(probe.getMemoryByte(767), 0x44u);

    // Straddling the end: the bytes that fit are kept.
    send(23, {0x02, 0xFE, 0xA1, 0xA2, 0xA3, 0xA4});   // 766
    // Wholly beyond the end.
    for (unsigned index : {768u, 769u, 1000u, 0xFFFCu, 0xFFFFu})
        send(23, {static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index), 0xAA, 0xAA, 0xAA, 0xAA});
    feeder->flush();
    EXPECT_EQ(probe.getMemoryByte(765), 0x22u);
    EXPECT_EQ(probe.getMemoryByte(766), 0xA1u);
    EXPECT_EQ(probe.getMemoryByte(767), 0xA2u);
    EXPECT_EQ(probe.getMemoryByte(768), 0u);
    EXPECT_EQ(probe.getSeries(), 2);
    EXPECT_EQ(probe.getHallCurrentLevel(), 1);
    EXPECT_EQ(probe.getAxis(), 3);
    EXPECT_EQ(probe.getProbeType(), 7);
    EXPECT_EQ(probe.getProbeClass(), 6);
    EXPECT_EQ(probe.getModel(), "Test");
}

TEST_P(ProbeDecode, UnusedKindsChangeNothing) {
    sendFullProbe();
    takeEvents();
    const FieldsSnapshot before(probe);
    for (int kind : {18, 19, 24, 25, 100, 255}) send(kind, {1, 2, 3, 4, 5, 6, 7});
    feeder->flush();
    EXPECT_TRUE(FieldsSnapshot(probe) == before);
    EXPECT_TRUE(takeEvents().empty());
}

TEST_P(ProbeDecode, RemovedProbeClearsIdentityAndKeepsCalibration) {
    sendFullProbe();
    EXPECT_EQ(takeEvents(), (std::vector<int>{2}));
    probe.setDataValid(false);
    EXPECT_EQ(probe.getMemoryByte(767), 4u);

    feeder->presence(0);
    EXPECT_EQ(takeEvents(), (std::vector<int>{0}));
    EXPECT_EQ(probe.getModel(), "No Probe");
    EXPECT_EQ(probe.getSerialNumber(), "");
    EXPECT_EQ(probe.getCalibrationDate(), "");
    for (unsigned i = 0; i < Probe::kMemorySize; ++i) ASSERT_EQ(probe.getMemoryByte(i), 0u) << i;
    EXPECT_EQ(probe.getMainDataCalculatedCrc(), 0);
    EXPECT_EQ(probe.getMainDataStoredCrc(), 0);
    EXPECT_EQ(probe.getTempCompCalculatedCrc(), 0);
    EXPECT_EQ(probe.getTempCompStoredCrc(), 0);
    EXPECT_TRUE(probe.isDataValid());
    // What the removed probe said of itself stays.
    EXPECT_EQ(probe.getSeries(), 2);
    EXPECT_EQ(probe.getAxis(), 3);
    EXPECT_EQ(probe.getProbeType(), 7);
    EXPECT_EQ(probe.getHallCurrentLevel(), 1);
    EXPECT_TRUE(probe.isSimulated());
    EXPECT_TRUE(probe.hasTemperatureSensor());
    EXPECT_EQ(probe.getProbeClass(), 6);
    EXPECT_EQ(probe.getSensitivityMultiplier(), 10.0f);
    EXPECT_EQ(probe.getLoadedSensitivity(), 7.5f);
    EXPECT_EQ(probe.getAcCorrection500Hz(), 15.5f);
    EXPECT_EQ(probe.getTemperature(), 26.3f);
    EXPECT_EQ(probe.getDcLinearityFactor(60), 0.9f + 60 * 0.001f);
    EXPECT_EQ(probe.getAcCorrectionFactor(39), 1.1f + 39 * 0.001f);
}

TEST_P(ProbeDecode, FoundProbeOnlyAnnouncesAndOtherStatesDoNothing) {
    sendFullProbe();
    takeEvents();
    const FieldsSnapshot before(probe);
    feeder->presence(1);
    EXPECT_EQ(takeEvents(), (std::vector<int>{1}));
    EXPECT_TRUE(FieldsSnapshot(probe) == before);
    for (int state : {2, 3, 255}) feeder->presence(state);
    EXPECT_TRUE(takeEvents().empty());
    EXPECT_TRUE(FieldsSnapshot(probe) == before);
}

// Readers on other threads see each text either before or after an item,
// never part-way through one.
TEST_P(ProbeDecode, TextsAreReadWhole) {
    const std::vector<std::string> allowed = {"Test", "AAAAAA", "AAAAAAAAAAAA", "BBBBBB", "BBBBBBBBBBBB"};
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&] {
            while (!done.load()) {
                const std::string m = probe.getModel();
                if (std::find(allowed.begin(), allowed.end(), m) == allowed.end()) ++torn;
                ++reads;
            }
        });
    // Let the readers get going before the writes start (a loaded machine may
    // not schedule them until the writer is done otherwise).
    EXPECT_TRUE(testsupport::waitUntil([&] { return reads.load() > 0; }));
    const int rounds = GetParam() == FeederKind::Bus ? 300 : 20000;
    for (int i = 0; i < rounds; ++i) {
        send(0, text("AAAAAA"));
        send(1, text("AAAAAA"));
        send(0, text("BBBBBB"));
        send(1, text("BBBBBB"));
        if (GetParam() == FeederKind::Bus && i % 25 == 0) feeder->flush();
    }
    feeder->flush();
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(probe.getModel(), "BBBBBBBBBBBB");
}

INSTANTIATE_TEST_SUITE_P(Feeders, ProbeDecode, ::testing::Values(FeederKind::Direct, FeederKind::Bus),
                         [](const ::testing::TestParamInfo<FeederKind>& info) { return feederName(info.param); });

}  // namespace
