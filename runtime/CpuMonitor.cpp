#include "runtime/CpuMonitor.h"

#include "console/Console.h"
#include "platform/Platform.h"

#include <fstream>

CpuMonitor::CpuMonitor() : CpuMonitor(platform::resolve(platform::path::kProcStat)) {}

CpuMonitor::CpuMonitor(const std::string& statFile) : file(statFile) {
    Counters first;
    if (read(first)) last = first;
}

// First word of the file is the summary line's label ("cpu"), then user,
// nice, system and idle ticks; the rest of the line is not needed.
bool CpuMonitor::read(Counters& out) const {
    std::ifstream in(file);
    if (!in) {
        console::print("Cannot open %s for reading\n", file.c_str());
        return false;
    }
    std::string label;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0;
    if (!(in >> label >> user >> nice >> system >> idle)) return false;
    // The kernel's 64-bit counters are kept modulo 2^32; differences wrap.
    out.user = static_cast<std::uint32_t>(user);
    out.nice = static_cast<std::uint32_t>(nice);
    out.system = static_cast<std::uint32_t>(system);
    out.idle = static_cast<std::uint32_t>(idle);
    return true;
}

double CpuMonitor::sample() {
    Counters now;
    if (!read(now)) return 0.0;
    std::uint32_t newTotal = now.user + now.nice + now.system + now.idle;
    std::uint32_t oldTotal = last.user + last.nice + last.system + last.idle;
    std::uint32_t total = newTotal - oldTotal;
    std::uint32_t idle = now.idle - last.idle;
    last = now;
    if (total == 0) return 0.0;
    return 100.0 - 100.0 * static_cast<double>(idle) / static_cast<double>(total);
}
