#pragma once
// A test program's private ALSA file device, made before any test runs: ALSA reads its
// configuration once per process. Include it in the test files that play through it.
#include "engine/alsafiledevice.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <memory>

namespace marlix::test {

class TAlsaEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        Dir = std::make_unique<TempDir>();
        Device = std::make_unique<TAlsaFileDevice>(Dir->Path());
        Device->Export();
    }
    void TearDown() override
    {
        Device.reset();
        Dir.reset();
    }
    static inline std::unique_ptr<TempDir> Dir;
    static inline std::unique_ptr<TAlsaFileDevice> Device;
};

inline testing::Environment* const gAlsaEnvironment = testing::AddGlobalTestEnvironment(new TAlsaEnvironment);

inline const TAlsaFileDevice& FileDevice() { return *TAlsaEnvironment::Device; }

} // namespace marlix::test
