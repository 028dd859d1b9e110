// How the probe tests deliver items to a Probe: straight into its slots, or
// as frames over the emulated bus from a second CAN endpoint.
#pragma once

#include "ranges/Probe.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

using ItemBytes = std::array<std::uint8_t, 7>;

class ProbeFeeder {
public:
    virtual ~ProbeFeeder() = default;
    virtual void attach(Probe& probe) = 0;
    virtual void item(int kind, const ItemBytes& bytes) = 0;
    virtual void presence(int state) = 0;
    // Returns once everything sent so far has reached the probe.
    virtual void flush() = 0;
};

enum class FeederKind { Direct, Bus };

std::unique_ptr<ProbeFeeder> makeFeeder(FeederKind kind);
std::string feederName(FeederKind kind);
