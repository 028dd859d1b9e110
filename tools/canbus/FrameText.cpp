#include "tools/canbus/FrameText.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace canbus {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseHex(const std::string& text, canid_t& value) {
    if (text.empty() || text.size() > 8) return false;
    value = 0;
    for (char c : text) {
        int v = hexValue(c);
        if (v < 0) return false;
        value = (value << 4) | canid_t(v);
    }
    return true;
}

}  // namespace

bool parseFrame(const std::string& text, can_frame& frame) {
    frame = can_frame{};
    std::size_t hash = text.find('#');
    if (hash == std::string::npos) return false;
    std::string id = text.substr(0, hash);
    canid_t value;
    if (!parseHex(id, value)) return false;
    if (id.size() == 3) {
        if (value > CAN_SFF_MASK) return false;
        frame.can_id = value;
    } else if (id.size() == 8) {
        if (value > CAN_EFF_MASK) return false;
        frame.can_id = value | CAN_EFF_FLAG;
    } else {
        return false;
    }
    std::string data = text.substr(hash + 1);
    if (!data.empty() && (data[0] == 'R' || data[0] == 'r')) {
        frame.can_id |= CAN_RTR_FLAG;
        if (data.size() == 2 && data[1] >= '0' && data[1] <= '8') frame.can_dlc = __u8(data[1] - '0');
        else if (data.size() != 1) return false;
        return true;
    }
    std::size_t i = 0;
    while (i < data.size()) {
        if (data[i] == '.') {
            ++i;
            continue;
        }
        if (i + 1 >= data.size() || frame.can_dlc >= CAN_MAX_DLEN) return false;
        int hi = hexValue(data[i]), lo = hexValue(data[i + 1]);
        if (hi < 0 || lo < 0) return false;
        frame.data[frame.can_dlc++] = __u8(hi << 4 | lo);
        i += 2;
    }
    return true;
}

std::string formatFrame(const std::string& interfaceName, const can_frame& frame) {
    char buf[128];
    int n;
    if (frame.can_id & CAN_EFF_FLAG)
        n = std::snprintf(buf, sizeof buf, "  %s  %08X   [%d] ", interfaceName.c_str(),
                          unsigned(frame.can_id & CAN_EFF_MASK), int(frame.can_dlc));
    else
        n = std::snprintf(buf, sizeof buf, "  %s  %03X   [%d] ", interfaceName.c_str(),
                          unsigned(frame.can_id & CAN_SFF_MASK), int(frame.can_dlc));
    std::string line(buf, n > 0 ? std::size_t(n) : 0);
    if (frame.can_id & CAN_RTR_FLAG) return line + " remote request";
    int len = frame.can_dlc > CAN_MAX_DLEN ? CAN_MAX_DLEN : frame.can_dlc;
    for (int i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, " %02X", frame.data[i]);
        line += buf;
    }
    return line;
}

bool parseInterfaceArgument(const std::string& text, std::string& interfaceName, std::vector<can_filter>& filters) {
    filters.clear();
    std::size_t comma = text.find(',');
    interfaceName = text.substr(0, comma);
    if (interfaceName.empty()) return false;
    while (comma != std::string::npos) {
        std::size_t next = text.find(',', comma + 1);
        std::string item = text.substr(comma + 1, next == std::string::npos ? std::string::npos : next - comma - 1);
        comma = next;
        std::size_t sep = item.find_first_of(":~");
        if (sep == std::string::npos) return false;
        can_filter f;
        if (!parseHex(item.substr(0, sep), f.can_id) || !parseHex(item.substr(sep + 1), f.can_mask)) return false;
        if (item[sep] == '~') f.can_id |= CAN_INV_FILTER;
        filters.push_back(f);
    }
    return true;
}

}  // namespace canbus
