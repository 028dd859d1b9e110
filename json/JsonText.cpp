#include "json/JsonText.h"

#include <cstdio>
#include <vector>

namespace jsontext {

std::string latin1ToUtf8(const std::string& latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string microAsU(const std::string& latin1) {
    std::string out = latin1;
    for (char& c : out)
        if (static_cast<unsigned char>(c) == 0xB5) c = 'u';
    return out;
}

std::string formatValue(const std::string& format, double value) {
    char small[64];
    const int n = std::snprintf(small, sizeof small, format.c_str(), value);
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::snprintf(big.data(), big.size(), format.c_str(), value);
    return std::string(big.data(), static_cast<std::size_t>(n));
}

}  // namespace jsontext
