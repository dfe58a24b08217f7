#include "app/plancommand.h"

#include "base/dynlib.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace marlix::cli {
namespace {

using TMeasurePlan = int (*)(int order, int real, int inverse, int fd);

int Usage()
{
    std::fprintf(stderr, "usage: marlixaudio-cli plan ORDER complex|real forward|inverse | plan --common\n");
    return 2;
}

} // namespace

int Plan(const std::vector<std::string>& args)
{
    const bool common = args.size() == 1 && args[0] == "--common";
    int order = -1;
    if (!common) {
        if (args.size() != 3 || (args[1] != "complex" && args[1] != "real") ||
            (args[2] != "forward" && args[2] != "inverse"))
            return Usage();
        try {
            order = std::stoi(args[0]);
        } catch (...) {
            return Usage();
        }
    }
    TDynLib lib = OpenModule("nsp.so");
    TMeasurePlan measure = nullptr;
    if (!lib || !lib.Resolve("nspMeasurePlan", measure)) {
        std::fprintf(stderr, "marlixaudio-cli: the transform library nsp.so cannot be loaded\n");
        return 3;
    }
    // Background work: it yields to the audio threads of a player.
    setpriority(PRIO_PROCESS, 0, 10);
    if (!common)
        return measure(order, args[1] == "real", args[2] == "inverse", STDOUT_FILENO) == 0 ? 0 : 3;
    // The FIR transforms of 1023 … 65535 taps and the HSC's real frames.
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    int failed = 0;
    for (int real = 0; real < 2; ++real) {
        for (int o = real ? 9 : 11; o <= (real ? 10 : 17); ++o) {
            for (int inverse = 0; inverse < 2; ++inverse) {
                std::fprintf(stderr, "measuring %s transforms of 2^%d, %s\n", real ? "real" : "complex", o,
                             inverse ? "inverse" : "forward");
                failed += measure(o, real, inverse, devnull) != 0;
            }
        }
    }
    close(devnull);
    return failed ? 3 : 0;
}

} // namespace marlix::cli
