#pragma once
#include "dsp/fft.h"

#include <gtest/gtest.h>
#include <string>

namespace marlix::test {

// Runs a test with the external transform library loaded or with the built-in one.
class FFTModeTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam())
            ASSERT_TRUE(LoadFFTLibrary(std::string(MARLIX_TEST_BIN_DIR) + "nsp.so"));
        else
            UnloadFFTLibrary();
    }
    void TearDown() override { UnloadFFTLibrary(); }
    bool External() const { return GetParam(); }
};

inline std::string FFTModeName(const ::testing::TestParamInfo<bool>& info)
{
    return info.param ? "nsp" : "builtin";
}

} // namespace marlix::test
