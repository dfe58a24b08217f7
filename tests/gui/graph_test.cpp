#include "gui/graph.h"

#include <QFontMetrics>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

namespace marlix {
namespace {

constexpr double kRate = 48000;
constexpr int kBins = 8193; // bin spacing 48000 / 16384 = 2.9296875 Hz

TEST(Graph, MappingsAndTheirInverses)
{
    struct TCase {
        double f, pos;
    } cases[] = {{2.9296875, 0.0}, {24000, 1.0}, {std::sqrt(2.9296875 * 24000), 0.5}, {2.9296875 * 2, 1.0 / 13}};
    for (const auto& c : cases) {
        EXPECT_NEAR(FreqToLogPos(kBins, kRate, c.f), c.pos, 1e-12) << c.f;
        EXPECT_NEAR(LogPosToFreq(kBins, kRate, c.pos), c.f, 1e-9 * c.f) << c.pos;
    }
    EXPECT_DOUBLE_EQ(ValueToPos(24, -24, 0), 0.5);
    EXPECT_DOUBLE_EQ(ValueToPos(24, -24, -12), 0.25);
    EXPECT_DOUBLE_EQ(PosToValue(24, -24, 0.75), 12);
    EXPECT_DOUBLE_EQ(LevelGridStep(224.0 / 48), 6);    // 28 px per 6 dB; 3 dB would be 14
    EXPECT_DOUBLE_EQ(LevelGridStep(8), 3);             // 24 px; 1.5 dB would be 12
    EXPECT_DOUBLE_EQ(LevelGridStep(0.01), 6 * 512);    // beyond 6 dB: powers of two upward
    EXPECT_DOUBLE_EQ(LevelGridStep(0), 0);
}

TEST(Graph, LogGridLinesAndLabelsAt48kHz)
{
    QImage img(800, 256, QImage::Format_ARGB32);
    const QRect rect(65, 32, 735, 224);
    const auto lines = LogFreqGridLines(rect, img.width(), kRate, kBins);

    // Every i·10^d from the bin spacing up to below 24 kHz: 3 … 9, 10 … 90, …, 10k, 20k.
    std::vector<double> freqs;
    for (double d = 1; d < 24000; d *= 10)
        for (int i = 1; i <= 9 && i * d < 24000; ++i)
            if (i * d >= 48000.0 / 16384)
                freqs.push_back(i * d);
    ASSERT_EQ(lines.size(), freqs.size());
    EXPECT_EQ(freqs.front(), 3);

    const QFontMetrics fm(GraphFont());
    const double fmin = 48000.0 / 16384;
    std::map<QString, int> labelled;
    int prevEnd = -1000;
    for (size_t k = 0; k < lines.size(); ++k) {
        const double pos = (std::log(freqs[k]) - std::log(fmin)) / (std::log(24000.0) - std::log(fmin));
        EXPECT_EQ(lines[k].Pos, 65 + int(std::lround(pos * 735))) << freqs[k];
        if (lines[k].Label.isEmpty())
            continue;
        const int w = fm.horizontalAdvance(lines[k].Label);
        EXPECT_EQ(lines[k].LabelLeft, lines[k].Pos - w / 2);
        EXPECT_GE(lines[k].LabelLeft, prevEnd + 8) << "labels never crowd";
        EXPECT_LE(lines[k].LabelLeft + w, 800);
        prevEnd = lines[k].LabelLeft + w;
        labelled[lines[k].Label] = lines[k].Pos;
    }
    for (const char* l : {"10", "20", "50", "100", "200", "500", "1k", "2k", "5k", "10k", "20k"})
        EXPECT_TRUE(labelled.count(l)) << l;
    EXPECT_FALSE(labelled.count("30")) << "only 1, 2 and 5 are labelled";

    // Drawn: silver lines at their x, white plot area between them, label in the margin.
    DrawLogFreqGraph(img, rect, kRate, "title", 24, -24, kBins);
    const int x1k = labelled.at("1k");
    EXPECT_EQ(img.pixel(x1k, 100), 0xFFC0C0C0u);
    EXPECT_EQ(img.pixel(x1k + 3, 100), 0xFFFFFFFFu);
    EXPECT_EQ(img.pixel(64, 100), 0xFF000000u) << "margin border";
}

TEST(Graph, LevelLinearGridAndCurves)
{
    // 224 px for 48 dB: 6 dB steps, y = 256 − round((dB + 24)·224/48).
    const QRect rect(65, 32, 447, 224);
    const auto level = LevelGridLines(rect, 24, -24);
    ASSERT_EQ(level.size(), 8u);
    for (size_t k = 0; k < level.size(); ++k) {
        const double db = -18 + 6.0 * k;
        EXPECT_EQ(level[k].Pos, 256 - int(std::lround((db + 24) * 224 / 48))) << db;
        EXPECT_EQ(level[k].Label, QString::number(db) + "dB");
        EXPECT_EQ(level[k].Zero, db == 0);
    }

    // 447 px for 24 kHz: 10k and 5k are wider than 64 px, 2k is not.
    const auto lin = LinFreqGridLines(rect, 512, kRate);
    ASSERT_EQ(lin.size(), 13u);
    EXPECT_EQ(lin[0].Label, "0");
    EXPECT_EQ(lin[1].Pos, 65 + int(std::lround(2000 * 447 / 24000.0)));
    EXPECT_EQ(lin[12].Pos, 65 + 447);

    // A flat +6 dB curve lies at 256 − 30·224/48 = 116; zeros go to the bottom row.
    QImage img(512, 256, QImage::Format_ARGB32);
    DrawLinFreqGraph(img, rect, kRate, QString(), 24, -24, 9);
    std::vector<double> spectrum(9, 2.0);
    DrawLinCurve(img, rect, kRate, GraphCurveColor(), spectrum, 24, -24);
    EXPECT_EQ(img.pixel(300, 116), 0xFF000080u);
    EXPECT_NE(img.pixel(300, 115), 0xFF000080u);
    std::vector<double> silent(9, 0.0);
    DrawLogCurve(img, rect, kRate, GraphCurveColor(), silent, 24, -24, 9);
    EXPECT_EQ(img.pixel(300, 255), 0xFF000080u);

    // Bins sit at their true frequencies: bin 4096 of 8193 is 12 kHz, the middle of a
    // linear axis (a spacing rounded to 3 Hz would put it at 12288 Hz, 5 px to the right).
    std::vector<double> peak(kBins, 0.0);
    peak[4096] = 1;
    QImage linImg(513, 256, QImage::Format_ARGB32);
    const QRect even(65, 32, 448, 224);
    DrawLinFreqGraph(linImg, even, kRate, QString(), 24, -24, kBins);
    DrawLinCurve(linImg, even, kRate, GraphCurveColor(), peak, 24, -24);
    const int xMid = 65 + 224;
    EXPECT_EQ(linImg.pixel(xMid, 144), 0xFF000080u) << "0 dB at 12 kHz";
    EXPECT_NE(linImg.pixel(xMid + 5, 144), 0xFF000080u);
}

} // namespace
} // namespace marlix
