// Stand-in scripts written into a test's own sandbox.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

namespace rtmtest {

inline std::string readFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

inline bool exists(const std::string& file) {
    struct stat st;
    return stat(file.c_str(), &st) == 0;
}

// Writes an executable shell script.
inline void writeScript(const std::string& file, const std::string& body) {
    writeFile(file, "#!/bin/sh\n" + body);
    chmod(file.c_str(), 0755);
}

}  // namespace rtmtest
