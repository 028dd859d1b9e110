// The data files survive a kill during a write: a writer process rewrites
// one file in a loop through the model that owns it and is killed
// (SIGKILL) at a random moment, again and again; after every kill the file
// is one whole version, and it reads back through the model.
#include "channel/ChannelModel.h"
#include "meter/MeterTestSupport.h"
#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "status/ScpiErrorQueue.h"
#include "status/ScpiRegisterManager.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <regex>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr int kKills = 25;

std::string writerPath() { return std::string(TVL_BUILD_DIR) + "/tests/crash-writer"; }

// Starts the writer on the sandbox, lets it run for a random time (fixed
// seed: the same series of moments on every run) and kills it.
class KilledWriter {
public:
    explicit KilledWriter(const std::string& kind) : kind(kind) {}

    // One round; false (with a failure) when the writer did not come up.
    bool round(const testsupport::TempSandbox& sandbox) {
        testsupport::ChildProcess writer;
        if (!writer.start(writerPath(), {"-sandbox", sandbox.path(), kind})) {
            ADD_FAILURE() << "cannot start " << writerPath();
            return false;
        }
        if (!writer.waitForOutput("ready\n", 30s)) {
            ADD_FAILURE() << kind << " writer did not start: " << writer.output();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(writer.pid(), SIGKILL);
        const int status = writer.wait(30s);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << kind << " writer ended on its own";
        return true;
    }

private:
    std::string kind;
    std::mt19937 random{20240611};
    std::uniform_int_distribution<int> delay{0, 25000};
};

class CrashSafety : public ::testing::TestWithParam<const char*> {
protected:
    testsupport::TempSandbox sandbox;
};

// Settings files and the error queue: always one of the two versions the
// writer alternates between, and the model reads back what it says.
TEST_P(CrashSafety, FileIsAlwaysOneWholeVersion) {
    const std::string kind = GetParam();
    const std::string file = platform::dataFile(kind);
    ChannelModel::setSettingPause(0ms);
    KilledWriter writer(kind);
    std::string versions[2];
    for (int k = 0; k < kKills; ++k) {
        if (!writer.round(sandbox)) return;
        if (k == 0)
            for (int v = 0; v < 2; ++v) versions[v] = testsupport::readFile(file + ".expected" + std::to_string(v));
        const std::string text = testsupport::readFile(file);
        const int version = text == versions[0] ? 0 : text == versions[1] ? 1 : -1;
        ASSERT_NE(version, -1) << "after kill " << k << " " << kind << " holds:\n" << text;

        // Read back through the model: the value that tells the versions apart.
        if (kind == "bp") {
            metertest::TestMeter meter(testsupport::uniqueBusName("k"));
            meter.loadSettings();
            EXPECT_EQ(meter.getGpibAddress(), version == 0 ? 5 : 17);
        } else if (kind == "errs") {
            ErrorList catalogue;
            ScpiRegisterManager status;
            ScpiErrorQueue queue(file, catalogue, status);
            EXPECT_EQ(queue.size(), version == 0 ? 1u : 6u);
        } else {
            ChannelModel channel(kind[2] - '0', "unused");
            channel.loadSettings();
            EXPECT_EQ(channel.getCdacScaling(), version == 0 ? 30 : 100);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DataFiles, CrashSafety, ::testing::Values("bp", "ch1", "ch2", "ch3", "errs"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// The counters file: always whole, and its data-log number never goes back
// (a torn or empty file would start the numbers again and the next log
// would replace an old one).
TEST(CrashSafetyCounters, NumberNeverGoesBack) {
    testsupport::TempSandbox sandbox;
    KilledWriter writer("fileio");
    const std::regex whole("screenshotcounter: 0\ndatalogcounter: ([0-9]+)\n");
    long last = 0;
    for (int k = 0; k < kKills; ++k) {
        if (!writer.round(sandbox)) return;
        const std::string text = testsupport::readFile(platform::dataFile("fileio"));
        std::smatch m;
        ASSERT_TRUE(std::regex_match(text, m, whole)) << "after kill " << k << " fileio holds:\n" << text;
        const long number = std::stol(m[1].str());
        EXPECT_GE(number, last) << "after kill " << k;
        EXPECT_GE(number, 1);
        last = number;
    }
}

}  // namespace
