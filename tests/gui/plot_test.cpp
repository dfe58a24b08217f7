#include "gui/paintbox.h"
#include "gui/plot.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QRadioButton>
#include <QScrollBar>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace marlix {
namespace {

constexpr uint32_t kNavy = 0xFF000080;
constexpr uint32_t kSilver = 0xFFC0C0C0;

TEST(Plot, BlockAnalysis)
{
    struct TCase {
        int length, bins;
    } cases[] = {{8192, 8193}, {5, 9}, {8, 9}, {0, 2}};
    for (const auto& c : cases) {
        TPlotData d;
        d.Load(std::vector<double>(c.length, 0.0));
        EXPECT_EQ(int(d.Magnitude.size()), c.bins) << c.length;
        EXPECT_EQ(int(d.PhaseStep.size()), c.bins) << c.length;
    }
    // An impulse delayed by 2 samples in a block of 8 (L = 16): |X| = 1 and the phase falls
    // by 2π·2/16 = π/4 per bin.
    TPlotData d;
    std::vector<double> block(8, 0.0);
    block[2] = 1;
    d.Load(block);
    for (int k = 0; k < 9; ++k) {
        EXPECT_NEAR(d.Magnitude[k], 1.0, 1e-6) << k;
        EXPECT_NEAR(d.PhaseStep[k], k == 0 ? 0.0 : -std::numbers::pi / 4, 1e-6) << k;
    }
    // A delay of 4: steps of −π/2; of 6: −3π/4, still inside (−π, π].
    block.assign(8, 0.0);
    block[6] = 1;
    d.Load(block);
    EXPECT_NEAR(d.PhaseStep[3], -3 * std::numbers::pi / 4, 1e-6);
}

// A window rendered offscreen: a flat response at 0 dB sits at mid-height, the grid is
// silver, the range list sets the zoom bar and a hand move clears it.
TEST(Plot, WindowRendersGridAndCurve)
{
    TFo_Plot plot;
    plot.resize(700, 420);
    std::vector<double> impulse(8192, 0.0);
    impulse[0] = 1;
    plot.LoadBlock(impulse);
    plot.SetSampleRate(48000);
    plot.SetFreqLog(true);
    plot.SetRangeIndex(2);
    plot.show();
    QApplication::processEvents();

    auto* zoomA = plot.findChild<QScrollBar*>("Sc_SpectrumZoomA");
    auto* range = plot.findChild<QComboBox*>("Co_FRLevel");
    ASSERT_TRUE(zoomA && range);
    EXPECT_EQ(zoomA->value(), 14336);
    EXPECT_DOUBLE_EQ(plot.View().LevelZoom(), 16) << "half-height 384/16 = 24 dB";

    const QImage img = plot.findChild<TPaintBox*>("PB_Spectrum")->Image();
    ASSERT_GT(img.width(), 300);
    const int w = img.width() - 65;
    const int h = img.height() - 32;
    const int mid = 32 + h / 2;
    // 1 kHz: bin spacing 48000/16384.
    const double fmin = 48000.0 / 16384;
    const int x1k = 65 + int(std::lround((std::log(1000) - std::log(fmin)) / (std::log(24000) - std::log(fmin)) * w));
    EXPECT_EQ(img.pixel(x1k, 32 + h / 8), kSilver) << "1 kHz line";
    EXPECT_EQ(img.pixel(x1k, mid), kNavy) << "curve crosses 1 kHz at 0 dB";
    EXPECT_EQ(img.pixel(65 + w / 3, mid), kNavy);
    EXPECT_NE(img.pixel(65 + w / 3, mid - 1), kNavy);
    EXPECT_NE(img.pixel(65 + w / 3, mid + 1), kNavy);
    // 12 dB above 0 dB: 12·Z·h/768 pixels up at Z = 16.
    const int y12 = 32 + h - int(std::lround((12 + 24) * h / 48.0));
    EXPECT_EQ(img.pixel(x1k + 2, y12), kSilver) << "12 dB line";

    // Watermark: silver pixels inside its corner, nothing of it in the margins.
    bool mark = false;
    for (int y = img.height() - 40; y < img.height() - 8; ++y)
        for (int x = img.width() - 120; x < img.width() - 8; ++x)
            mark = mark || img.pixel(x, y) == kSilver;
    EXPECT_TRUE(mark);

    zoomA->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(range->currentIndex(), -1) << "a hand-moved bar clears the range";

    // Silence draws nothing inside the plot area.
    plot.LoadBlock(std::vector<double>(64, 0.0));
    const QImage silent = plot.findChild<TPaintBox*>("PB_Spectrum")->Image();
    int navy = 0;
    for (int y = 32; y < silent.height(); ++y)
        for (int x = 65; x < silent.width(); ++x)
            navy += silent.pixel(x, y) == kNavy;
    EXPECT_EQ(navy, 0);
}

TEST(Plot, ImpulsePageAndClipboard)
{
    TFo_Plot plot;
    plot.resize(600, 400);
    std::vector<double> block{0.5, -0.25, 1e-05, 0, 0, 0, 0, 0};
    block[4] = 0.5; // the middle sample T/2 lands on the centre line
    plot.LoadBlock(block);
    plot.show();
    QApplication::processEvents();

    const QImage img = plot.findChild<TPaintBox*>("PB_Impulse")->Image();
    const int w = img.width() - 64;
    const int h = img.height() - 32;
    const int cx = 64 + w / 2;
    const int mid = 32 + h / 2;
    EXPECT_EQ(img.pixel(cx, int(std::lround(mid - 0.5 * (h / 2)))), kNavy) << "0.5 at half the half-height";
    EXPECT_EQ(img.pixel(cx - 20, mid), kSilver) << "zero line";
    EXPECT_EQ(img.pixel(cx, 40), kSilver) << "centre line";

    plot.CopyFR();
    const QImage copied = QApplication::clipboard()->image();
    EXPECT_EQ(copied.size(), QSize(512, 256));
    plot.CopyCoef();
    EXPECT_EQ(QApplication::clipboard()->text(), "0.5\r\n-0.25\r\n1e-05\r\n0\r\n0.5\r\n0\r\n0\r\n0\r\n");
    auto* hidden = plot.findChild<QWidget*>("CopyCoef");
    ASSERT_NE(hidden, nullptr);
    EXPECT_FALSE(hidden->isVisible());
}

} // namespace
} // namespace marlix
