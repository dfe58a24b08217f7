#pragma once
#include "dsp/fft.h"

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace marlix {

// What a cut-off detector reports for one frame: the cut-off bin a, the
// reference bin r and the level L in dB (6 × log2 of the amplitude).
struct THiDetection {
    int Cutoff = 0;
    int Reference = 0;
    float Level = -192;
};

// High-frequency complement for one channel: finds where the spectrum of the
// signal is cut off and adds synthesised content above that bin. Frames of 512
// samples advance by 256. A hop's dry samples wait one hop in InBuf and one in
// Tail, so the output lags the input by 512 samples, in step with the
// synthesis of the frames that cover them.
class THiManager {
public:
    static constexpr int kWeights = 96;

    // mode: 1, 2, 3 (A, B, C) or 4; above 4 means 4, below 1 means 3.
    THiManager(int mode, double rate);

    // Seeds the random numbers of mode A; Reset restarts them from this seed.
    void Seed(uint32_t seed);
    void Reset();
    // In place; no allocation, no locks.
    void Process(double* samples, int count, bool wetOnly);

    // Detector of modes A and B (largest drop below a smoothed peak follower).
    // Updates cutoffAvg and levelHold. s holds bins 0 … n/2.
    static THiDetection DetectDrop(const float* s, int n, float rate, float& cutoffAvg,
                                   float& levelHold);
    // Detector of modes C and 4 (histogram of threshold crossings). Updates hits (n/2 entries).
    static THiDetection DetectHistogram(const float* s, int n, float rate, float* hits);
    // Index-weighted mean level of the rising peaks among bins from … to − 1 (−192 if none).
    static float PeakLevel(const float* s, int from, int to);

    int32_t Mode = 3;
    float Rate = 44100;
    int32_t FrameSize = 512; // the buffers are sized for it: do not change
    std::vector<double> InBuf;
    std::vector<double> OutBuf;
    std::vector<double> Tail;
    int32_t InPos = 0;
    int32_t OutPos = 0;
    std::vector<float> Hits;
    std::array<float, kWeights> WeightsRe{};
    std::array<float, kWeights> WeightsIm{};
    float CutoffAvg = 0;
    float LevelHold = -192;
    float MuB = 1.0f;
    float MuC = 1.0f;
    float MuD = 0.05f;
    float TopRatio = 0.95f;
    int32_t TopTaper = 7;
    TRealFFTTables Tables;

    // The last frame's cut-off bin and level as the synthesis used them, and its
    // synthesised spectrum (bins 0 … N/2).
    int LastCutoff = 0;
    float LastLevel = -192;
    std::vector<Complex> Synth;

private:
    void FrameStep(bool wetOnly);
    void Analyse();
    THiDetection DetectFromMagnitudes();
    bool AnyBinAboveMinus96() const;
    void FillIndexed(int bins);
    void SynthesiseA(int a, float level);
    void SynthesiseB(int a, float level);
    void SynthesiseC(int a, float level);
    void SynthesiseD(int a, float level);
    void FeaturesB(int i, double* x) const;
    void FeaturesC(int i, double* x) const;
    void FeaturesD(int i, double* x) const;
    void SubPredictions(int first, int top);
    void Adapt(const double* x, int count, double targetRe, double targetIm, float mu);
    void Normalise(int count, double limit);
    void KeepWeightsFinite();
    void Resynthesise(bool wetOnly);
    int RandomR();

    std::vector<double> Window;
    std::vector<double> Frame;  // N: the windowed frame, then the synthesis
    std::vector<Complex> Fft;   // Z[k], k = 0 … N/2
    std::vector<float> Mag;     // |Z[k]|, k = 0 … N/2
    std::vector<float> LogSpec; // S
    // q × Z[q] at index q + 1; index 0 and N/2 + 1 repeat their neighbours. Real and
    // imaginary parts side by side, as the feature rows take them.
    std::vector<Complex> Indexed;
    std::vector<int32_t> SubBins; // ⌊i/(j + 2)⌋ for i = 0 … N/2 − 1, j = 0 … 7
    // Indexed split into real and imaginary parts, for the mode C prediction.
    std::vector<double> IndexedRe, IndexedIm;
    // Mode C: a bin's prediction is the sum over j of the part that weights 6j … 6j + 5
    // give the features around q = ⌊i/(j + 2)⌋. That part (real and imaginary weights),
    // for each j and q, at j × 129 + q; many bins share it.
    std::vector<Complex> SubParts;
    std::vector<uint64_t> SubOffsets; // 2⌊i/(j + 2)⌋ in byte j of entry i
    std::vector<double> BinPairs;  // i at 2i and 2i + 1: the divisors of the bins' two parts
    std::mt19937 Random;
    uint32_t SeedValue = 20240611u;
};

} // namespace marlix
