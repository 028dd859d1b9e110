// Payload and identifier helpers shared by the frame builders, the decode
// table and the send path, and by programs that pack or read payloads of
// their own.
#pragma once

#include <linux/can.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace platform { class CanTransport; }

namespace can {

// Where a message travels.  Fixed messages have one identifier; card messages
// are a 5-bit command whose identifier follows from the channel.
enum class Route : std::uint8_t { Fixed, ToCard, FromCard };

constexpr unsigned kStandardIdMask = 0x7FF;
constexpr unsigned kHostNode = 1;

// Channel 1 is node 3, channel 3 node 5; every other value addresses channel 2.
constexpr unsigned cardNode(int channel) {
    return channel == 1 ? 3u : channel == 3 ? 5u : 4u;
}

// source << 8 | destination << 5 | command
constexpr unsigned identifier(Route route, unsigned code, int channel) {
    switch (route) {
    case Route::ToCard: return kHostNode << 8 | cardNode(channel) << 5 | code;
    case Route::FromCard: return cardNode(channel) << 8 | kHostNode << 5 | code;
    case Route::Fixed: break;
    }
    return code;
}

// Splits a received identifier into its route and code (the command for card
// messages of any of the three cards, the identifier itself otherwise).
constexpr Route routeOf(unsigned id, unsigned& code) {
    const unsigned source = id >> 8;
    const unsigned destination = (id >> 5) & 7;
    if (source == kHostNode && destination >= 3 && destination <= 5) {
        code = id & 0x1F;
        return Route::ToCard;
    }
    if (destination == kHostNode && source >= 3 && source <= 5) {
        code = id & 0x1F;
        return Route::FromCard;
    }
    code = id;
    return Route::Fixed;
}

inline std::uint32_t floatBits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float bitsFloat(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void putBE16(std::uint8_t* d, std::uint32_t v) {
    d[0] = static_cast<std::uint8_t>(v >> 8);
    d[1] = static_cast<std::uint8_t>(v);
}

inline void putBE32(std::uint8_t* d, std::uint32_t v) {
    d[0] = static_cast<std::uint8_t>(v >> 24);
    d[1] = static_cast<std::uint8_t>(v >> 16);
    d[2] = static_cast<std::uint8_t>(v >> 8);
    d[3] = static_cast<std::uint8_t>(v);
}

inline unsigned getBE16(const std::uint8_t* d) { return unsigned(d[0]) << 8 | d[1]; }

inline std::uint32_t getBE32(const std::uint8_t* d) {
    return std::uint32_t(d[0]) << 24 | std::uint32_t(d[1]) << 16 | std::uint32_t(d[2]) << 8 | d[3];
}

// An endpoint that is not open: writes, reads and filters fail with EBADF.
std::unique_ptr<platform::CanTransport> closedEndpoint();

// Writes one frame, retrying while the transmit path is full (ENOBUFS) after
// sleeps of 1 us, 2 us, 4 us ... 131.072 ms.  Returns 0 when the frame was
// written, 17 after 18 writes failed with ENOBUFS, and -(k + 1) when a write
// failed otherwise (another error or a short write) after k ENOBUFS; that
// failure prints "bytesSent = %d, errno = %d".
using SleepFn = void (*)(long nanoseconds);
void sleepNanoseconds(long nanoseconds);
int writeWithBackoff(platform::CanTransport& endpoint, const can_frame& frame,
                     SleepFn sleep = sleepNanoseconds);

}  // namespace can
