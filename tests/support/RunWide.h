// An object that a whole test program shares: made on first use, destroyed
// after the last test (a GoogleTest environment), so that what it owns
// (links, child programs, a sandbox) ends before the program does.
//
//   namespace { auto* const shared = testsupport::RunWide<Instrument>::install(); }
//   Instrument& Instrument::get() { return shared->get(); }
#pragma once

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

template <class T>
class RunWide : public ::testing::Environment {
public:
    // Registers one with GoogleTest (which owns it); call at static
    // initialisation, before the tests run.
    static RunWide* install() {
        auto* environment = new RunWide;
        ::testing::AddGlobalTestEnvironment(environment);
        return environment;
    }
    T& get() {
        if (!object) object.reset(new T);
        return *object;
    }
    void TearDown() override { object.reset(); }

private:
    std::unique_ptr<T> object;
};

}  // namespace testsupport
