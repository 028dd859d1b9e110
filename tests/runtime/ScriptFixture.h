// Stand-in scripts written into a test's own sandbox.
#pragma once

#include "support/TestSupport.h"

#include <sys/stat.h>

#include <string>

namespace rtmtest {

// Writes an executable shell script.
inline void writeScript(const std::string& file, const std::string& body) {
    testsupport::writeFile(file, "#!/bin/sh\n" + body);
    chmod(file.c_str(), 0755);
}

}  // namespace rtmtest
