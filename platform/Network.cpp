#include "platform/Network.h"

#include "platform/Platform.h"

#include <netinet/in.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>

namespace platform {

namespace {

const char* serviceName(Service service) { return service == Service::Scpi ? "scpi" : "json"; }
int defaultPort(Service service) { return service == Service::Scpi ? 5024 : 6001; }

// The services this process has announced.
std::atomic<bool> announced[2] = {{false}, {false}};
std::atomic<bool>& announcedFlag(Service service) { return announced[service == Service::Scpi ? 0 : 1]; }

}  // namespace

int tcpPort(Service service) {
    if (isInstrumentBuild()) return defaultPort(service);
    std::ifstream in(sandboxRoot() + "/ports.conf");
    const std::string key = std::string(serviceName(service)) + ":";
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        char* end = nullptr;
        const char* digits = line.c_str() + key.size();
        long port = std::strtol(digits, &end, 10);
        if (end != digits && port >= 0 && port <= 65535) return static_cast<int>(port);
    }
    return defaultPort(service);
}

std::uint32_t listenAddress() { return isInstrumentBuild() ? INADDR_ANY : INADDR_LOOPBACK; }

std::string announcedPortFile(Service service) {
    if (isInstrumentBuild()) return "";
    return sandboxRoot() + "/run/ports/" + serviceName(service);
}

void announcePort(Service service, int port) {
    if (isInstrumentBuild()) return;
    makeDirs(sandboxRoot() + "/run/ports");
    // Left by a program killed while it announced the service.
    removeStaleTempFiles(announcedPortFile(service));
    if (writeFileAtomic(announcedPortFile(service), std::to_string(port) + "\n")) announcedFlag(service) = true;
}

void withdrawAnnouncedPorts() {
    for (Service service : {Service::Scpi, Service::Json})
        if (announcedFlag(service).exchange(false)) unlink(announcedPortFile(service).c_str());
}

}  // namespace platform
