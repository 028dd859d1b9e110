// MeterModel: the instrument-wide singleton that owns the three channel
// models, one per card slot (slot n is channel card n, CAN node n + 2).
//
// This is the part the channel model and its callers rely on: the singleton,
// the channel look-up by slot and the three-channel flag.
#pragma once

#include <sigc++/sigc++.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>

class ChannelModel;

class MeterModel : public sigc::trackable {
public:
    static constexpr unsigned kSlotCount = 3;

    // The singleton; the first call creates it on "can0".  Never null.
    static MeterModel* instance();
    // The singleton; the first call creates it on the named CAN interface
    // (the command line's "-can" option, or a test's private bus).  Later
    // calls return the existing one whatever the name.
    static MeterModel* instance(const char* canInterfaceName);

    virtual ~MeterModel();
    MeterModel(const MeterModel&) = delete;
    MeterModel& operator=(const MeterModel&) = delete;

    // The channel model of slot 1-3; null for any other slot.
    ChannelModel* getChannel(unsigned slot) const;

    // True on the three-channel model: every card answered the hello within
    // 1.5 s of startChannelLinks.  False until then and on the single-channel
    // model.
    bool isThreeChannelModel() const { return threeChannelModel; }

    // Starts the three channel links, waits 1.5 s and sets the three-channel
    // flag from the cards that answered.
    void startChannelLinks();

    const std::string& getCanInterfaceName() const { return canInterfaceName; }

protected:
    explicit MeterModel(const char* canInterfaceName);

    std::string canInterfaceName;
    std::array<std::unique_ptr<ChannelModel>, kSlotCount> channels;
    std::atomic<bool> threeChannelModel{false};
};
