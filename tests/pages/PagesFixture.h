// The pages' test instrument: the program's meter model (a singleton, so one
// per test process) on a private bus, in a sandbox of its own, with three
// scripted channel cards and a stand-in for the backplane, the front-panel
// controller and the power supply.  The tests run on the GUI thread.
#pragma once

#include "../channel/ScriptedCard.h"

#include "can/CANinterface.h"
#include "meter/MeterModel.h"
#include "support/RunWide.h"
#include "support/TestSupport.h"

#include <memory>
#include <string>
#include <vector>

namespace pagestest {

class Instrument {
public:
    // The one instrument of this test process, started on first use and
    // taken down after the last test.
    static Instrument& get();
    ~Instrument();

    MeterModel& meter() { return *meterModel; }
    ChannelModel& channel(unsigned slot) { return *meterModel->getChannel(slot); }
    channeltest::ScriptedCard& card(unsigned slot) { return *cards.at(slot - 1); }
    const std::string& sandboxPath() const { return sandbox.path(); }
    std::string file(const std::string& instrumentPath) const { return sandbox.file(instrumentPath); }

    // Board texts of a card and of the backplane: model, revision, serial,
    // calibration date (up to 14 characters each), sent as the boards do.
    void sendBoardTexts(unsigned slot, const std::vector<std::string>& texts);
    void sendBackplaneTexts(const std::vector<std::string>& texts);
    void sendVersions(int fpMajor, int fpMinor, int psuMajor, int psuMinor);
    // A probe on the card: found, its texts (model up to 12, serial and date
    // up to 10 characters), configuration, multiplier; waits until ready.
    bool insertProbe(unsigned slot, int probeType, int probeClass, const std::string& model,
                     const std::string& serial, const std::string& calDate);
    bool removeProbe(unsigned slot);

    // Files of the sandbox, by instrument path.
    std::string readFile(const std::string& instrumentPath) const;
    void writeFile(const std::string& instrumentPath, const std::string& contents) const;
    // The stand-in commands' calls so far ("hwclock --systohc", ...).
    std::vector<std::string> standinCalls() const;

private:
    friend class testsupport::RunWide<Instrument>;   // makes the one of the run
    Instrument();
    testsupport::TempSandbox sandbox;
    std::string bus;
    std::vector<std::unique_ptr<channeltest::ScriptedCard>> cards;
    std::unique_ptr<CANinterface> boards;   // backplane, front panel, power supply
    MeterModel* meterModel = nullptr;
};

}  // namespace pagestest
