// Linked into every test program: run-time modules come from the build's program
// folder, and transform plans are estimated (measuring costs seconds per process).
#include <cstdlib>

namespace {

const bool kEnvironment = [] {
    setenv("MARLIX_AUDIO_LIBDIR", MARLIX_TEST_BIN_DIR, 0);
    setenv("MARLIX_FFT_PLANNER", "estimate", 0);
    return true;
}();

} // namespace
