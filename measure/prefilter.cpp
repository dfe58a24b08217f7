#include "measure/prefilter.h"

#include "base/flexbuf.h"
#include "dsp/firfilter.h"
#include "measure/measurestate.h"
#include "settings/settings.h"

#include <algorithm>
#include <cmath>

namespace marlix {

void PrefilterMeasureSignal(TMeasureState& state, const TSettings& settings, double amplitude)
{
    const int n = state.N;
    const int rate = state.Rate.load();
    TFIRFilter filter(2, false, false, n, settings.Filter.EQFilterTaps);
    settings.EQ.DesignEQ(filter, rate, settings.Filter.EQFilterTaps);
    double peak = 0;
    for (int i = 0; i < 2; ++i) {
        TFlexBuf block;
        filter.GetTaps(i, block);
        const auto* c = static_cast<const double*>(block.Data[0]);
        const int t = block.Length;
        const double g = std::exp2(settings.Output.fLevel[static_cast<size_t>(i)] / 60.0);
        const int d = static_cast<int>(std::lround(rate * settings.Output.fDelay[static_cast<size_t>(i)] / 1000.0));
        const double sign = settings.Output.bInvPhase[static_cast<size_t>(i)] ? -1.0 : 1.0;
        std::vector<double>& y = state.Excitation[static_cast<size_t>(i)];
        y.assign(static_cast<size_t>(n), 0.0);
        for (int k = 0; k < n; ++k) {
            double acc = 0;
            // Delayed by d like playback delays the channel; the taps centred on k.
            const int64_t first = static_cast<int64_t>(k) - d - t / 2;
            for (int m = 0; m < t; ++m) {
                const int64_t idx = ((first + m) % n + n) % n;
                acc += state.Reference[static_cast<size_t>(idx)] * c[m];
            }
            y[static_cast<size_t>(k)] = sign * g * acc;
            peak = std::max(peak, std::abs(y[static_cast<size_t>(k)]));
        }
    }
    if (peak > 0)
        for (auto& y : state.Excitation)
            for (double& v : y)
                v *= amplitude / peak;
}

} // namespace marlix
