#include "engine/spectrumanalyser.h"
#include "gui/dspui/spectrum.h"
#include "gui/graph.h"
#include "gui/paintbox.h"
#include "settings/settings.h"
#include "../player/windowtest.h"

#include <QComboBox>
#include <QPainter>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace marlix {
namespace {

// Rows of graph `g` in the painted image that hold a pixel of `colour` in the columns
// around frequency bin 32 of 257 (3 kHz at 48 kHz on the linear axis).
std::vector<int> RowsWith(const QImage& img, QRect g, uint32_t colour)
{
    std::vector<int> rows;
    const int left = g.x() + 48, width = g.width() - 48;
    const int x0 = left + width * 32 / 256 - 2;
    for (int y = g.y() + 29; y <= g.bottom(); ++y)
        for (int x = x0; x <= x0 + 4; ++x)
            if (test::Rgb(img, x, y) == colour) {
                rows.push_back(y - g.y() - 29);
                break;
            }
    return rows;
}

TEST(SpectrumLayout, GraphsStackOrFormRowsAndAskForTheOtherLayoutWhenCramped)
{
    struct TCase {
        int channels, w, h;
        bool vertical;
        bool expectSwitch;
        std::vector<QRect> graphs;
    };
    const std::vector<TCase> cases = {
        {2, 400, 300, true, false, {QRect(0, 0, 400, 149), QRect(0, 151, 400, 149)}},
        {4, 399, 299, false, false, {QRect(0, 0, 199, 149), QRect(0, 150, 199, 149), QRect(200, 0, 199, 149), QRect(200, 150, 199, 149)}},
        {3, 400, 300, false, false, {QRect(0, 0, 199, 149), QRect(0, 151, 199, 149), QRect(201, 0, 199, 149)}},
        {1, 300, 200, false, false, {QRect(0, 0, 300, 200)}},
        {4, 129, 300, false, true, {}}, // graphs 64 wide: stacked
        {4, 130, 300, false, true, {}},
        {4, 131, 300, false, false, {QRect(0, 0, 65, 149), QRect(0, 151, 65, 149), QRect(66, 0, 65, 149), QRect(66, 151, 65, 149)}},
        {2, 64, 300, false, true, {}},
        {4, 400, 131, true, true, {}}, // graphs 32 high: two rows
        {2, 64, 300, true, false, {}}, // too narrow either way: nothing drawn
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels " << c.w << "x" << c.h);
        const TSpectrumLayout l = LayoutSpectrum(c.channels, c.w, c.h, c.vertical);
        EXPECT_EQ(l.Switch, c.expectSwitch);
        ASSERT_EQ(l.Graphs.size(), c.graphs.size());
        for (size_t i = 0; i < c.graphs.size(); ++i)
            EXPECT_EQ(l.Graphs[i], c.graphs[i]) << "graph " << i;
    }
}

// The picture draws every curve straight onto itself; it must equal the plain way of
// drawing each graph's curves on a copy of its frame and pasting the shown part, for both
// axes and for graphs smaller than their frames.
TEST(SpectrumPicture, DirectCurvesMatchCurvesDrawnOnEachFrame)
{
    std::vector<double> spectrum(257), peak(257);
    for (size_t k = 0; k < spectrum.size(); ++k) {
        spectrum[k] = std::pow(10.0, -double(k % 37) / 10) * (k % 5 ? 1 : 0);
        peak[k] = std::min(1.5, spectrum[k] * 2 + 1e-3);
    }
    for (const bool log : {true, false})
        for (const auto& [channels, size] : {std::pair{2, QSize(520, 330)}, {2, QSize(140, 300)}, {1, QSize(300, 200)}}) {
            TSpectrumPicture p;
            p.Width = size.width();
            p.Height = size.height();
            p.Log = log;
            p.Rate = 48000;
            p.Titles = {"L", "R"};
            p.Spectra = {spectrum, peak};
            p.Peaks = {peak, spectrum};
            p.Spectra.resize(size_t(channels));
            p.Peaks.resize(size_t(channels));
            const TSpectrumLayout layout = LayoutSpectrum(channels, p.Width, p.Height, true);
            ASSERT_FALSE(layout.Graphs.empty());
            const std::vector<QImage> frames = PaintSpectrumFrames(p, layout);
            QImage expected = PaintSpectrum(p, layout, std::vector<QImage>(frames.size()));
            for (size_t i = 0; i < frames.size(); ++i) {
                QImage graph = frames[i].copy();
                const QRect area(48, 29, graph.width() - 48, graph.height() - 29);
                auto draw = log ? [](QImage& g, const QRect& a, const TSpectrumPicture& q, QColor c,
                                     std::span<const double> v) { DrawLogCurve(g, a, q.Rate, c, v, 0, -q.RangeDb, q.Bins); }
                                : [](QImage& g, const QRect& a, const TSpectrumPicture& q, QColor c,
                                     std::span<const double> v) { DrawLinCurve(g, a, q.Rate, c, v, 0, -q.RangeDb); };
                draw(graph, area, p, QColor(0x10, 0x30, 0xFF), p.Spectra[i]);
                draw(graph, area, p, QColor(0xFF, 0x30, 0x10), p.Peaks[i]);
                QPainter paste(&expected);
                paste.drawImage(layout.Graphs[i].topLeft(), graph, QRect(QPoint(0, 0), layout.Graphs[i].size()));
            }
            EXPECT_EQ(PaintSpectrum(p, layout, frames), expected) << (log ? "log " : "linear ") << size.width() << "x"
                                                                  << size.height();
        }
}

class SpectrumWindowTest : public ::testing::Test {
protected:
    TSettings settings;
    TSpectrumAnalyser analyser;
    TFo_Spectrum window{analyser, settings};
    TPaintBox* box = window.findChild<TPaintBox*>("PB_Spectrum");

    void SetUp() override
    {
        settings.View.bSpectrumLog = false;
        settings.View.nSpectrumDB = 48;
        window.resize(500, 330);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        analyser.Hook(2, 48000); // what the output stage reports for a running stereo output
    }

    void TapSine()
    {
        std::vector<double> x(512);
        for (int i = 0; i < 512; ++i)
            x[i] = std::sin(2 * std::numbers::pi * 32 * i / 512);
        ASSERT_TRUE(analyser.BeginTap(512));
        analyser.Tap(0, x.data(), 512);
        analyser.Tap(1, x.data(), 512);
        analyser.EndTap();
    }
};

TEST_F(SpectrumWindowTest, ShowsTheRunningSignalAndItsPeakAndStopsWhenMinimised)
{
    window.Ti_RedrawTimer();
    ASSERT_TRUE(analyser.Active()) << "a shown window sets the analyser up";
    TapSine();
    analyser.Pass(0);
    for (int t = 50; t <= 1000; t += 50)
        analyser.Pass(t); // the spectrum falls 24 dB, the peak holds
    window.Ti_RedrawTimer();

    const QImage img = box->Image();
    const auto layout = LayoutSpectrum(2, box->width(), box->height(), true);
    ASSERT_EQ(layout.Graphs.size(), 2u);
    const int area = layout.Graphs[0].height() - 29;
    for (const QRect& g : layout.Graphs) {
        const auto red = RowsWith(img, g, 0xFF3010), blue = RowsWith(img, g, 0x1030FF);
        ASSERT_FALSE(red.empty());
        ASSERT_FALSE(blue.empty());
        EXPECT_LE(red.front(), 1) << "the held peak stays at 0 dB";
        // 24 dB down on a 48 dB range: half way.
        EXPECT_NEAR(blue.front(), area / 2, 3);
    }
    EXPECT_EQ(test::Rgb(img, 10, layout.Graphs[1].y() - 1), 0x000000u) << "separator above the second graph";
    window.Ti_RedrawTimer();
    EXPECT_EQ(box->Image().cacheKey(), img.cacheKey()) << "no curve moved: no repaint";
    analyser.Pass(1050);
    window.Ti_RedrawTimer();
    EXPECT_NE(box->Image().cacheKey(), img.cacheKey()) << "the spectrum fell";

    const uint64_t transforms = analyser.Transforms();
    window.showMinimized();
    window.Ti_RedrawTimer();
    EXPECT_FALSE(analyser.Active());
    analyser.Pass(1100);
    EXPECT_EQ(analyser.Transforms(), transforms);
}

// After the output stops, the display falls (12 dB/s after a 5 s hold); once every curve
// is below the 48 dB range shown, far above the -192 dB where levels vanish, there is
// nothing left to see and the analyser is torn down, leaving the graphs empty.
TEST_F(SpectrumWindowTest, AStoppedOutputEndsTheAnalyserOnceNothingShowsInTheRange)
{
    window.Ti_RedrawTimer();
    TapSine();
    analyser.Pass(0);
    analyser.Hook(0, 48000);
    int t = 0;
    auto fallUntil = [&](int end) {
        for (t += 50; t <= end; t += 50)
            analyser.Pass(t);
        t = end;
        window.Ti_RedrawTimer();
    };
    fallUntil(8000); // the peak is 36 dB down
    ASSERT_TRUE(analyser.Active()) << "the held peak still shows";
    const auto layout = LayoutSpectrum(2, box->width(), box->height(), true);
    EXPECT_FALSE(RowsWith(box->Image(), layout.Graphs[0], 0xFF3010).empty());
    fallUntil(10500); // 66 dB down
    EXPECT_FALSE(analyser.Active());
    for (const QRect& g : layout.Graphs) {
        EXPECT_TRUE(RowsWith(box->Image(), g, 0xFF3010).empty());
        EXPECT_TRUE(RowsWith(box->Image(), g, 0x1030FF).empty());
    }
}

TEST_F(SpectrumWindowTest, ControlsWriteTheSettingsAndNarrowGraphsStack)
{
    auto* db = window.findChild<QComboBox*>("Co_DB");
    ASSERT_NE(db, nullptr);
    db->clearFocus(); // a focused box is left alone
    window.Ti_RedrawTimer();
    EXPECT_EQ(db->currentText().toStdString(), "48") << "the timer mirrors the setting";
    db->setCurrentIndex(4);
    emit db->activated(4);
    EXPECT_EQ(settings.View.nSpectrumDB, 192);

    const bool vertical = settings.Operation.bSpectrumVertical;
    test::SendMouse(box, QEvent::MouseButtonDblClick, QPointF(100, 100));
    EXPECT_NE(settings.Operation.bSpectrumVertical, vertical);

    settings.Operation.bSpectrumVertical = false;
    window.resize(60, 330);
    window.Ti_RedrawTimer();
    EXPECT_LE(box->width(), 64);
    EXPECT_TRUE(settings.Operation.bSpectrumVertical);
}

} // namespace
} // namespace marlix
