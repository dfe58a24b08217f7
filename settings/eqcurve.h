#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

class TIniFile;

// One EQ point. The defaults are those of a point the loader creates.
struct TEQ1 {
    int32_t Kind = 0;     // -2 low-pass, -1 low shelf, 0 peak, 1 high shelf, 2 high-pass
    double Freq = 1000;   // centre or corner frequency, Hz
    double Width = 0;     // band half-width: 2^(Width - 1) octaves
    double Shape = 0;     // flatness of the bell
    double Gain = 0;      // dB

    // "Kind/Freq/Width/Shape/Gain".
    std::string Format() const;
    // Reads the fields present in `text`; a missing or unreadable field keeps its value.
    void Parse(std::string_view text);

    // This point's contribution in dB at frequency x (Hz, > 0).
    double Response(double x) const;

    bool operator==(const TEQ1&) const = default;
};

// An EQ curve: an ordered list of points.
class TEQ {
public:
    // A count above this is taken as a corrupt file and clamped.
    static constexpr int MaxPoints = 10000;

    size_t Count() const { return Points.size(); }
    TEQ1& operator[](size_t i) { return Points[i]; }
    const TEQ1& operator[](size_t i) const { return Points[i]; }

    void Add(const TEQ1& point) { Points.push_back(point); }
    void Clear() { Points.clear(); }
    void Delete(size_t index);
    void ResetGains();
    // The sum of the points' responses in dB; an empty curve is 0 dB everywhere.
    double Response(double x) const;

    // Keys of curve `curve`: curve + "_Count" and curve + "_" + i.
    void Save(TIniFile& ini, const std::string& section, int curve) const;
    // Replaces the points by those stored; leaves the curve as it is when the count key
    // is missing or unreadable. A missing point key, or one whose frequency is not
    // positive, gives a default point.
    void Load(const TIniFile& ini, const std::string& section, int curve);

    bool operator==(const TEQ&) const = default;

    std::vector<TEQ1> Points;
};

} // namespace marlix
