// Linked into every test program: run-time modules come from the build's program
// folder, transform plans are estimated (measuring costs seconds per process), and the
// system's LADSPA plug-ins stay out of the effect catalogue.
#include <cstdlib>

namespace {

const bool kEnvironment = [] {
    setenv("MARLIX_AUDIO_LIBDIR", MARLIX_TEST_BIN_DIR, 0);
    setenv("MARLIX_FFT_PLANNER", "estimate", 0);
    setenv("LADSPA_PATH", "", 1);
    return true;
}();

} // namespace
