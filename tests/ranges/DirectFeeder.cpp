#include "ProbeFeeder.h"

namespace {

class DirectFeeder : public ProbeFeeder {
public:
    void attach(Probe& p) override { probe = &p; }
    void item(int kind, const ItemBytes& bytes) override {
        // The interface hands the item bytes in an 8-byte buffer, zero last.
        char buffer[8] = {};
        for (int i = 0; i < 7; ++i) buffer[i] = static_cast<char>(bytes[i]);
        probe->onProbeData(kind, buffer);
    }
    void presence(int state) override { probe->onProbePresence(state); }
    void flush() override {}

private:
    Probe* probe = nullptr;
};

}  // namespace

std::unique_ptr<ProbeFeeder> makeDirectFeeder() { return std::make_unique<DirectFeeder>(); }
