// The bus tools' text forms of frames and filters.
//
// Frame:  <can_id>#{data}     3 hex digits: standard frame, 8: extended
//         <can_id>#R          remote request
//   "123#DEADBEEF"   id 0x123, 4 bytes
//   "5AA#"           id 0x5AA, no data
//   "1F334455#11.22" extended id 0x1F334455, 2 bytes ('.' separators allowed)
// Filters (after the interface name, comma separated):
//   "<id>:<mask>"  passes when (frame id & mask) == (id & mask)
//   "<id>~<mask>"  passes when they differ
//   "vcan0,320:7FF,400~7F0"
#pragma once

#include <linux/can.h>

#include <string>
#include <vector>

namespace canbus {

// Parses a frame in the form above; false when it is not one.
bool parseFrame(const std::string& text, can_frame& frame);

// "  vcan0  320   [5]  3F 80 00 00 00", as the dump prints a received frame
// (no line end).
std::string formatFrame(const std::string& interfaceName, const can_frame& frame);

// Splits "name,filter,filter..." into the interface name and the filters;
// false when a filter is malformed.
bool parseInterfaceArgument(const std::string& text, std::string& interfaceName, std::vector<can_filter>& filters);

}  // namespace canbus
