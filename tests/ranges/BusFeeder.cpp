// Placeholder until the bus feeder is in.
#include "ProbeFeeder.h"

std::unique_ptr<ProbeFeeder> makeBusFeeder() { return nullptr; }
