#include "dsp/gainramp.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace marlix {

double RiseGain(int i, int length)
{
    if (i < 0)
        return 0.0;
    if (i >= length)
        return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * (i + 0.5) / length);
}

void TGainRamp::Set(double target, int length)
{
    if (target == Target && (Left > 0 || Current == target))
        return;
    if (length <= 0) {
        Jump(target);
        return;
    }
    Target = target;
    Left = length;
    Increment = (Target - Current) / length;
}

void TGainRamp::Jump(double target)
{
    Current = Target = target;
    Left = 0;
    Increment = 0;
}

void TGainRamp::Apply(double* x, int n)
{
    int i = 0;
    for (; i < n && Left > 0; ++i)
        x[i] *= Next();
    if (Current != 1.0)
        for (; i < n; ++i)
            x[i] *= Current;
}

void TGainRamp::AddScaled(const double* x, double* y, int n)
{
    int i = 0;
    for (; i < n && Left > 0; ++i)
        y[i] += Next() * x[i];
    if (Current != 0)
        for (; i < n; ++i)
            y[i] += Current * x[i];
}

} // namespace marlix
