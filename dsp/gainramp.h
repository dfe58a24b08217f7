#pragma once

namespace marlix {

// The gain of sample i of a raised-cosine rise over `length` samples: 0 before it,
// 1 from its end on. Its slope and curvature stay small, so a fade never clicks.
double RiseGain(int i, int length);

// A gain that glides to a new value: linearly over the ramp length given with the
// target, or at once. Applies itself to blocks of samples; allocates nothing.
class TGainRamp {
public:
    explicit TGainRamp(double gain = 1.0) : Current(gain), Target(gain) {}

    // Glides from the present gain to `target` over `length` samples (at once when 0).
    void Set(double target, int length);
    void Jump(double target);
    // x[i] ×= the gain of sample i; the ramp moves on by n samples.
    void Apply(double* x, int n);
    // y[i] += the gain of sample i × x[i]; the ramp moves on by n samples.
    void AddScaled(const double* x, double* y, int n);
    // The gain of the next sample, and whether a glide is under way.
    double Value() const { return Current; }
    double Goal() const { return Target; }
    bool Moving() const { return Left > 0; }
    // The gain of the next sample; the ramp moves on by one.
    double Next()
    {
        if (Left == 0)
            return Current;
        Current = --Left == 0 ? Target : Current + Increment;
        return Current;
    }

private:
    double Current;
    double Target;
    double Increment = 0;
    int Left = 0;
};

} // namespace marlix
