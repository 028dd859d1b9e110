// bench-channel: what one card sample frame costs the host, from the decoded
// frame to the reading, with three channel models fed in turn as the three
// cards stream at their fastest rate.  Each channel has its own interface;
// the frames are handed to CANinterface::decodeFrame directly, so the figure
// is the pipeline's own CPU without the bus.  Not a test: it reports figures,
// the target being under 2 us per frame.
//
//   bench-channel [--benchmark_...]
#include "can/CANinterface.h"
#include "can/FrameCodec.h"
#include "channel/ChannelModel.h"
#include "platform/CanTransport.h"
#include "platform/Platform.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>

namespace {

// A transport that never carries anything: the benchmark decodes by hand.
class NullTransport : public platform::CanTransport {
public:
    bool valid() const override { return true; }
    ssize_t write(const can_frame&) override { return sizeof(can_frame); }
    ssize_t read(can_frame&, int) override { return 0; }
    int setFilters(const can_filter*, std::size_t) override { return 0; }
    void wake() override {}
    std::uint64_t droppedFrames() const override { return 0; }
    const char* backendName() const override { return "null"; }
};

// Card command 0x00: the sample, big-endian float, then its status byte.
can_frame sampleFrame(int channel, float value, int status) {
    can_frame f{};
    f.can_id = can::identifier(can::Route::FromCard, 0x00, channel);
    f.can_dlc = 5;
    can::putBE32(f.data, can::floatBits(value));
    f.data[4] = static_cast<std::uint8_t>(status);
    return f;
}

struct Rig {
    std::string sandbox;
    std::array<std::unique_ptr<ChannelModel>, 3> models;
    std::array<std::unique_ptr<CANinterface>, 3> links;
    std::array<std::array<can_frame, 16>, 3> frames;

    explicit Rig(float displayRate) {
        char dir[] = "/tmp/tvl-bench-XXXXXX";
        sandbox = mkdtemp(dir) ? dir : "/tmp";
        platform::setSandboxRoot(sandbox);
        for (int c = 1; c <= 3; ++c) {
            auto& m = models[c - 1];
            m = std::make_unique<ChannelModel>(c, "bench");
            m->setAutorange(false);                 // a fixed 30 kG range: no range changes
            m->onModeReply(0, 0, 610.0f);           // the card's rate
            m->setDisplayRate(displayRate);
            m->getClassifierController().setUpperThreshold(25000.0f);
            m->getClassifierController().setLowerThreshold(-25000.0f);
            m->getClassifierController().setMode(1);
            links[c - 1] = std::make_unique<CANinterface>(std::make_unique<NullTransport>());
            links[c - 1]->signalSample().connect(sigc::mem_fun(*m, &ChannelModel::onSample));
            for (int i = 0; i < 16; ++i) frames[c - 1][i] = sampleFrame(c, 1000.0f + 37.0f * i, i == 5 ? 1 : 0);
        }
    }
    ~Rig() {
        for (auto& m : models) m.reset();
        if (sandbox.rfind("/tmp/tvl-bench-", 0) == 0) {
            std::error_code ec;
            std::filesystem::remove_all(sandbox, ec);
        }
    }
};

// One iteration is one frame (the Time and CPU columns are per frame); the
// three channels take turns.
void runFrames(benchmark::State& state, float displayRate) {
    Rig rig(displayRate);
    int i = 0;
    for (auto _ : state) {
        const int c = i % 3;
        rig.links[c]->decodeFrame(rig.frames[c][(i / 3) & 15]);
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}

// The readout's usual pace: 10 readings a second, 61 samples each.
void BM_SampleFrameTenReadingsPerSecond(benchmark::State& state) { runFrames(state, 10.0f); }
// The worst case: every sample becomes a reading (signals, classifier, holds).
void BM_SampleFrameEverySampleAReading(benchmark::State& state) { runFrames(state, 700.0f); }

BENCHMARK(BM_SampleFrameTenReadingsPerSecond);
BENCHMARK(BM_SampleFrameEverySampleAReading);

}  // namespace

BENCHMARK_MAIN();
