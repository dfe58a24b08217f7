#include "base/mainthread.h"
#include "engine/decoder.h"
#include "engine/waveoutput.h"
#include "gui/dspui/convolverpage.h"
#include "gui/dspui/effectpage.h"
#include "gui/dspui/equalizer.h"
#include "gui/dspui/eqgraph.h"
#include "gui/dspui/eqpage.h"
#include "gui/dspui/flowpage.h"
#include "gui/dspui/knob.h"
#include "gui/dspui/masterpage.h"
#include "gui/dspui/matrixpage.h"
#include "gui/dspui/presetbar.h"
#include "gui/paintbox.h"
#include "gui/player/windowtest.h"
#include "player/outputchain.h"
#include "player/pending.h"
#include "player/playersession.h"
#include "player/playerstate.h"
#include "player/remotecontrol.h"
#include "settings/settingeq.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <numbers>

namespace marlix {
namespace {

using test::SendMouse;
constexpr double kPi = std::numbers::pi;

class DSPWindowTest : public ::testing::Test {
protected:
    test::TempDir folder;
    TSettings settings{folder.Path()};
    TPlayerState state;
    TFo_Decoder decoder;
    TOutputChain chain{settings, state, decoder};
    std::unique_ptr<TFo_Equalizer> window;

    void SetUp() override
    {
        window = std::make_unique<TFo_Equalizer>(TEqualizerCores{settings, state, chain, decoder, nullptr, folder.Path()});
        window->resize(640, 420);
        window->show();
        QApplication::processEvents();
    }

    TPaintBox* Graph() { return window->Equalizer->PB_EQPaint; }
    const TEQ& Master() { return settings.EQ.Curve(-1); }
    // What the filter thread would take now.
    TEQ Published(int curve)
    {
        const TEQCurves* c = chain.Live.EQ.Acquire();
        TEQ copy = (*c)[static_cast<size_t>(curve + 1)];
        chain.Live.EQ.Release();
        return copy;
    }
    void Click(TPaintBox* box, QPoint p, Qt::MouseButton b = Qt::LeftButton)
    {
        SendMouse(box, QEvent::MouseMove, p, Qt::NoButton);
        SendMouse(box, QEvent::MouseButtonPress, p, b);
        SendMouse(box, QEvent::MouseButtonRelease, p, b);
    }
    void Wheel(QWidget* w, QPoint p, int notches)
    {
        QWheelEvent e(p, w->mapToGlobal(p), {}, {0, 120 * notches}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
        QApplication::sendEvent(w, &e);
    }
};

// The log axis runs from one bin (96000 / 4096 Hz) to 48000 Hz; the gain axis from +18 dB
// at the top to −18 dB at the bottom.
double AxisFreq(double x, double w) { return 23.4375 * std::pow(2048.0, (x - 48) / w); }
double AxisGain(double y, double h) { return 18 - 36 * (y - 29) / h; }

TEST_F(DSPWindowTest, CurveEditorFollowsEveryMouseRule)
{
    EXPECT_EQ(window->PageControl->currentIndex(), TFo_Equalizer::pgEqualizer);
    const int gw = Graph()->width() - 48, gh = Graph()->height() - 29;
    ASSERT_GT(gw, 100);
    const QPoint at(48 + gw / 2, 29 + gh / 4);

    // A click on empty space adds a peak there.
    Click(Graph(), at);
    ASSERT_EQ(Master().Count(), 1u);
    EXPECT_EQ(Master()[0].Kind, 0);
    EXPECT_NEAR(Master()[0].Freq, AxisFreq(at.x(), gw), 1e-6);
    EXPECT_NEAR(Master()[0].Gain, AxisGain(at.y(), gh), 1e-9);
    EXPECT_EQ(Master()[0].Width, 3.0);
    EXPECT_EQ(Master()[0].Shape, -0.5);
    EXPECT_EQ(Published(-1), Master());

    // A press within 4 pixels grabs it; dragging beyond the graph clamps to the axis ends.
    const QPoint near = at + QPoint(2, 2);
    SendMouse(Graph(), QEvent::MouseMove, near, Qt::NoButton);
    SendMouse(Graph(), QEvent::MouseButtonPress, near);
    SendMouse(Graph(), QEvent::MouseMove, QPoint(Graph()->width() + 50, Graph()->height() + 40));
    ASSERT_EQ(Master().Count(), 1u);
    EXPECT_NEAR(Master()[0].Freq, 48000, 1e-6);
    EXPECT_NEAR(Master()[0].Gain, -18, 1e-9);
    EXPECT_EQ(Published(-1), Master());
    SendMouse(Graph(), QEvent::MouseMove, at);
    SendMouse(Graph(), QEvent::MouseButtonRelease, at);
    EXPECT_NEAR(Master()[0].Freq, AxisFreq(at.x(), gw), 1e-6);
    EXPECT_EQ(window->findChild<QLabel*>("La_Freq")->text(), TEQGraph::FreqText(AxisFreq(at.x(), gw)));

    // Hovered, the point wears the selected (red) marker; elsewhere the normal (blue) one.
    const QPoint c = window->Equalizer->Graph.MarkerCentre(Master()[0]);
    SendMouse(Graph(), QEvent::MouseMove, c, Qt::NoButton);
    EXPECT_EQ(test::Rgb(Graph()->Image(), c.x(), c.y()), 0xFF4040u);
    SendMouse(Graph(), QEvent::MouseMove, c + QPoint(40, 0), Qt::NoButton);
    EXPECT_EQ(test::Rgb(Graph()->Image(), c.x(), c.y()), 0x4040FFu);

    // Wheel over the page: 0.1 per notch, within 0 … 4.5; nothing without a selected point.
    QWidget* page = window->Equalizer;
    Wheel(page, c + QPoint(40, 0), 3);
    EXPECT_EQ(Master()[0].Width, 3.0);
    SendMouse(Graph(), QEvent::MouseMove, c, Qt::NoButton);
    Wheel(page, c, 2);
    EXPECT_NEAR(Master()[0].Width, 3.2, 1e-12);
    Wheel(page, c, 20);
    EXPECT_EQ(Master()[0].Width, 4.5);
    Wheel(page, c, -60);
    EXPECT_EQ(Master()[0].Width, 0.0);
    EXPECT_EQ(Published(-1), Master());

    // Double clicks cycle peak → high shelf → high-pass → low-pass → low shelf → peak.
    for (int kind : {1, 2, -2, -1, 0}) {
        SendMouse(Graph(), QEvent::MouseButtonPress, c);
        SendMouse(Graph(), QEvent::MouseButtonRelease, c);
        SendMouse(Graph(), QEvent::MouseButtonDblClick, c);
        SendMouse(Graph(), QEvent::MouseButtonRelease, c);
        ASSERT_EQ(Master().Count(), 1u);
        EXPECT_EQ(Master()[0].Kind, kind);
    }

    // Right-click deletes even the last point; the curve is 0 dB again.
    Click(Graph(), c + QPoint(1, -1), Qt::RightButton);
    EXPECT_EQ(Master().Count(), 0u);
    EXPECT_EQ(Published(-1).Count(), 0u);
}

TEST_F(DSPWindowTest, ChannelCurvesAreDrawnLightRedOnlyForAChannel)
{
    settings.EQ.Curve(0).Add({0, 1000, 1, 0, 12});
    settings.EQ.Curve(-1).Add({0, 1000, 1, 0, -6});
    auto* channel = window->findChild<QComboBox*>("Co_Channel");
    const int gw = Graph()->width() - 48, gh = Graph()->height() - 29;
    // A column beside the marker: the channel's own curve is above the total there.
    const int x = static_cast<int>(std::lround(48 + std::log(1000 / 23.4375) / std::log(2048.0) * gw)) + 12;
    auto rows = [&](uint32_t colour) {
        std::vector<int> ys;
        for (int y = 29; y < Graph()->height(); ++y)
            if (test::Rgb(Graph()->Image(), x, y) == colour)
                ys.push_back(y);
        return ys;
    };
    channel->setCurrentIndex(1);
    const auto red = rows(0xFF8080u), blue = rows(0x0000FFu);
    ASSERT_FALSE(red.empty());
    ASSERT_FALSE(blue.empty());
    EXPECT_LT(red.front(), blue.front());
    EXPECT_LT(red.front(), 29 + gh / 2); // above 0 dB
    channel->setCurrentIndex(0);
    EXPECT_TRUE(rows(0xFF8080u).empty());
    EXPECT_FALSE(rows(0x0000FFu).empty());
}

// A curve beyond +18 dB runs on above the plot area, through the margin with the title
// and the scale, where the axis mapping puts it.
TEST(EQGraph, CurvesBeyondTheAxisAreNotClipped)
{
    TSettingEQ eq;
    eq.Curve(-1).Add({0, 1000, 1, 0, 21});
    TEQGraph graph;
    graph.Resize(400, 300);
    const QImage img = graph.Paint(eq, -1, "Master");
    // A column just beside the point's marker.
    const int x = static_cast<int>(std::lround(48 + std::log(1000 / 23.4375) / std::log(2048.0) * graph.GraphWidth())) + 8;
    const double gain = eq.GetEQ(-1, AxisFreq(x, graph.GraphWidth()));
    const int y = static_cast<int>(std::lround((18 - gain) / 36 * graph.GraphHeight() + 29));
    ASSERT_LT(y, 29) << "the point lies in the margin above the plot";
    ASSERT_GE(y, 0);
    EXPECT_EQ(test::Rgb(img, x, y), 0x0000FFu);
}

TEST_F(DSPWindowTest, KnobArithmeticAtTheEdges)
{
    EXPECT_NEAR(LevelKnobAngle(-180), -0.75 * kPi, 1e-12);
    EXPECT_NEAR(LevelKnobAngle(0), 0, 1e-12);
    EXPECT_NEAR(LevelKnobAngle(180), 0.75 * kPi, 1e-12);
    EXPECT_NEAR(DelayKnobAngle(0), -0.75 * kPi, 1e-12);
    EXPECT_NEAR(DelayKnobAngle(20), 0.75 * kPi, 1e-12);
    EXPECT_EQ(DelayMsText(10), "10.00ms");
    EXPECT_EQ(DelayMmText(10), "3403mm");
    EXPECT_EQ(DelayMmText(20), "6806mm");

    // Matrix: seven-thirty is −18 dB, past four-thirty stays at +18 dB, up is 0 dB.
    window->SelectPage(TFo_Equalizer::pgMatrix);
    QApplication::processEvents();
    TPaintBox* box = window->Matrix->PB_Matrix;
    const QPoint k = TMatrixPainter::KnobCentre(1, 0);
    auto drag = [&](TPaintBox* b, QPoint centre, double angle) {
        SendMouse(b, QEvent::MouseButtonPress, centre);
        SendMouse(b, QEvent::MouseMove, centre + QPointF(30 * std::sin(angle), -30 * std::cos(angle)));
    };
    drag(box, k, -0.75 * kPi);
    EXPECT_EQ(settings.Matrix.fLevel[1][0], -180);
    EXPECT_EQ(window->Matrix->La_Matrix->text(), "-18.0dB");
    SendMouse(box, QEvent::MouseMove, k + QPoint(20, 30));
    EXPECT_EQ(settings.Matrix.fLevel[1][0], 180);
    EXPECT_EQ(window->Matrix->La_Matrix->text(), "18.0dB");
    SendMouse(box, QEvent::MouseMove, k + QPoint(0, -30));
    SendMouse(box, QEvent::MouseButtonRelease, k + QPoint(0, -30));
    EXPECT_EQ(settings.Matrix.fLevel[1][0], 0);
    EXPECT_EQ(window->Matrix->La_Matrix->text(), "");
    const TMatrixRouting* published = chain.Live.Matrix.Acquire();
    EXPECT_EQ(published->fLevel[1][0], 0);
    chain.Live.Matrix.Release();
    const QPoint sw = TMatrixPainter::OnSwitch(0, 1) + QPoint(8, 8);
    const bool was = settings.Matrix.bONOFF[0][1];
    Click(box, sw);
    EXPECT_NE(settings.Matrix.bONOFF[0][1], was);
    EXPECT_NE(chain.Live.Matrix.Acquire()->bONOFF[0][1], was);
    chain.Live.Matrix.Release();

    // Master: the delay straight up is 10 ms; the level runs from −18 dB to +18 dB.
    window->SelectPage(TFo_Equalizer::pgMaster);
    QApplication::processEvents();
    TPaintBox* master = window->Master->PB_Master;
    drag(master, TMasterPage::DelayCentre(1), 0);
    SendMouse(master, QEvent::MouseButtonRelease, {0, 0});
    EXPECT_NEAR(settings.Output.fDelay[1], 10, 1e-9);
    drag(master, TMasterPage::DelayCentre(1), 0.75 * kPi + 0.3);
    SendMouse(master, QEvent::MouseButtonRelease, {0, 0});
    EXPECT_NEAR(settings.Output.fDelay[1], 20, 1e-9);
    drag(master, TMasterPage::LevelCentre(0), -0.75 * kPi - 0.3);
    EXPECT_EQ(settings.Output.fLevel[0], -180);
    SendMouse(master, QEvent::MouseMove, TMasterPage::LevelCentre(0) + QPoint(30, 0));
    EXPECT_EQ(settings.Output.fLevel[0], 120) << "three o'clock is +12 dB";
    SendMouse(master, QEvent::MouseMove, TMasterPage::LevelCentre(0) + QPoint(20, 30));
    SendMouse(master, QEvent::MouseButtonRelease, {0, 0});
    EXPECT_EQ(settings.Output.fLevel[0], 180) << "past four-thirty stays at +18 dB";
    Click(master, TMasterPage::InvSwitch(0) + QPoint(8, 8));
    EXPECT_TRUE(settings.Output.bInvPhase[0]);
}

TEST_F(DSPWindowTest, StageSwitchesAndEnablingWhileTheOutputRuns)
{
    // Any ON switch writes its stage, counts the change, and its twin follows on the tick.
    const int count = state.DSPChangeCount;
    window->Flow->Bu_EQ->click();
    EXPECT_TRUE(state.EQ);
    EXPECT_EQ(state.DSPChangeCount, count + 1);
    window->Ti_CheckTimer();
    EXPECT_TRUE(window->Equalizer->Bu_EQ2->isChecked());
    window->Effect->Bu_EFX2->click();
    EXPECT_TRUE(state.EFX);
    EXPECT_EQ(state.DSPChangeCount, count + 2);

    settings.Convolver.Conv[1].HasIR = true;
    settings.Convolver.Conv[1].IR = {1.0, 0.5};
    settings.Convolver.Conv[1].IRName = "hall (Ch 1)";
    settings.Convolver.Conv[1].Level = -12;
    window->Effect->Preset->Combo()->setEditText("mine");
    window->Convolver->Preset->Combo()->setEditText("mine");
    window->Equalizer->findChild<QComboBox*>("Co_Preset")->setEditText("mine");
    struct TCase {
        bool running;
    };
    for (TCase c : {TCase{true}, TCase{false}}) {
        state.OutputRunning = c.running;
        // Each page is mirrored as it comes forward; one in the back is left alone.
        window->SelectPage(TFo_Equalizer::pgEffect);
        const bool convolverBefore = window->Convolver->Bu_CReset->isEnabled();
        window->Ti_CheckTimer();
        EXPECT_EQ(window->Convolver->Bu_CReset->isEnabled(), convolverBefore) << "a page in the back";
        window->SelectPage(TFo_Equalizer::pgConvolver);
        window->SelectPage(TFo_Equalizer::pgEqualizer);
        const auto& conv = window->Convolver->Rows;
        SCOPED_TRACE(c.running);
        EXPECT_EQ(window->Effect->Bu_Plug[0]->isEnabled(), !c.running);
        EXPECT_FALSE(window->Effect->Bu_On[0]->isEnabled()); // empty slot
        EXPECT_EQ(window->Effect->Bu_EFXReset->isEnabled(), !c.running);
        EXPECT_EQ(window->Effect->Preset->SaveButton()->isEnabled(), !c.running);
        EXPECT_EQ(window->Convolver->Preset->Combo()->isEnabled(), !c.running);
        EXPECT_EQ(conv[0].IR->isEnabled(), !c.running);
        EXPECT_FALSE(conv[0].Lv->isEnabled()); // no response
        EXPECT_EQ(conv[0].IR->text(), "No IR");
        EXPECT_EQ(conv[1].On->isEnabled(), !c.running);
        EXPECT_EQ(conv[1].In->isEnabled(), !c.running);
        EXPECT_TRUE(conv[1].Lv->isEnabled());
        EXPECT_TRUE(conv[1].Plot->isEnabled());
        EXPECT_EQ(conv[1].Lv->value(), -12);
        EXPECT_EQ(conv[1].IR->text(), "hall (Ch 1)");
        EXPECT_EQ(conv[1].In->text(), QString::fromStdString(settings.Output.szChName[static_cast<size_t>(settings.Convolver.Conv[1].InCh)]));
        // EQ presets stay usable while playing.
        EXPECT_TRUE(window->findChild<QToolButton*>("Co_PresetSave")->isEnabled());
    }
    // An empty name disables save and delete.
    window->findChild<QComboBox*>("Co_Preset")->setEditText("");
    window->Ti_CheckTimer();
    EXPECT_FALSE(window->findChild<QToolButton*>("Co_PresetSave")->isEnabled());

    // The level box edits the record and publishes it; the transport's edit requests
    // open the numbered pages.
    window->Convolver->Rows[1].Lv->setValue(-20);
    EXPECT_EQ(settings.Convolver.Conv[1].Level, -20);
    EXPECT_EQ(chain.Live.Convolver.Acquire()->Conv[1].Level, -20);
    chain.Live.Convolver.Release();
    for (int page = 1; page <= 4; ++page) {
        window->SelectPage(page);
        EXPECT_EQ(window->PageControl->currentIndex(), page);
    }
}

TEST_F(DSPWindowTest, PresetThatFailsToLoadIsReportedAndChangesNothing)
{
    std::filesystem::create_directories(folder.File("convolverpreset"));
    test::WriteAll(folder.File("convolverpreset/broken.convolver"), {3, 0, 0}); // cut off
    settings.Convolver.DryWet = 1;
    TPresetBar* bar = window->Convolver->Preset;
    QString reported;
    bar->Failed = [&](const QString& name) { reported = name; };
    bar->Refresh();
    ASSERT_EQ(bar->Combo()->count(), 1);
    emit bar->Combo()->activated(0);
    EXPECT_EQ(reported, "broken");
    EXPECT_EQ(settings.Convolver.DryWet, 1);

    // A good one-channel preset saved from the master loads into channel 2.
    settings.EQ.Curve(-1).Add({1, 500, 2, 0, 3});
    auto* eqBox = window->findChild<QComboBox*>("Co_Preset");
    eqBox->setEditText("warm");
    window->Ti_CheckTimer();
    window->findChild<QToolButton*>("Co_PresetSave")->click();
    window->findChild<QComboBox*>("Co_Channel")->setCurrentIndex(2);
    ASSERT_EQ(eqBox->findText("warm"), 0);
    emit eqBox->activated(0);
    EXPECT_EQ(settings.EQ.Curve(1), settings.EQ.Curve(-1));
    EXPECT_EQ(Published(1), settings.EQ.Curve(1));
}

// Red pixels (the lit "ON") in a matrix switch.
int LitPixels(const QImage& image, QPoint corner)
{
    int lit = 0;
    for (int y = corner.y(); y < corner.y() + 16; ++y)
        for (int x = corner.x(); x < corner.x() + 20; ++x) {
            const QRgb p = image.pixel(x, y);
            lit += qRed(p) > 180 && qGreen(p) < 100 && qBlue(p) < 100;
        }
    return lit;
}

// A remote command changes the records without the window: the window's next tick shows
// the presets it saved itself, loaded by the command, and the stage the command set, on
// the page in front and on each page as it comes forward.
TEST(DSPWindowRemote, NextTickShowsWhatARemoteCommandLoaded)
{
    test::TempDir folder;
    TSettings settings{folder.Path()};
    TPlayerState state;
    TPendingAdditions pending;
    TWaveOutput output{TWaveOutput::CallerRenders};
    TPlayerSession session(folder.Path(), settings, state, pending, output, nullptr, TMainThread::Instance());
    TRemoteControl remote(session, settings, state, pending);
    TLiveSettings& live = session.Control.Chain.Live;
    TFo_Equalizer window(TEqualizerCores{settings, state, session.Control.Chain, session.Decoder, nullptr, folder.Path()});
    window.resize(640, 420);
    window.show();
    QApplication::processEvents();
    auto save = [&](const char* box, const char* name) {
        window.findChild<QComboBox*>(box)->setEditText(name);
        window.Ti_CheckTimer();
        window.findChild<QToolButton*>(QString(box) + "Save")->click();
    };
    settings.EQ.Curve(-1).Add({0, 1000, 3, -0.5, 12});
    save("Co_Preset", "peak");
    settings.Matrix.bONOFF[0][1] = true;
    save("Co_MatrixPreset", "cross");
    const TEQ1 peak = settings.EQ.Curve(-1)[0];
    settings.EQ.Curve(-1).Clear();
    settings.Matrix.Reset();
    live.PublishEQ(settings.EQ);
    live.PublishMatrix(settings.Matrix);
    window.SelectPage(TFo_Equalizer::pgMatrix);
    window.Ti_CheckTimer();

    const QPoint marker = window.Equalizer->Graph.MarkerCentre(peak);
    const QPoint onSwitch = TMatrixPainter::OnSwitch(0, 1);
    const QImage& graph = window.Equalizer->PB_EQPaint->Image();
    const QImage& matrix = window.Matrix->PB_Matrix->Image();
    EXPECT_NE(test::Rgb(graph, marker.x(), marker.y()), 0x4040FFu);
    EXPECT_EQ(LitPixels(matrix, onSwitch), 0);
    ASSERT_EQ(remote.Execute({"preset", "eq", "peak", "master"}).Status, TRemoteStatus::Ok);
    ASSERT_EQ(remote.Execute({"preset", "matrix", "cross"}).Status, TRemoteStatus::Ok);
    ASSERT_EQ(remote.Execute({"stage", "EQ", "on"}).Status, TRemoteStatus::Ok);
    window.Ti_CheckTimer(); // the page in front; the others as they come forward
    EXPECT_GT(LitPixels(window.Matrix->PB_Matrix->Image(), onSwitch), 0);
    window.SelectPage(TFo_Equalizer::pgEqualizer);
    EXPECT_EQ(test::Rgb(window.Equalizer->PB_EQPaint->Image(), marker.x(), marker.y()), 0x4040FFu);
    window.SelectPage(TFo_Equalizer::pgFlow);
    EXPECT_TRUE(window.Flow->Bu_EQ->isChecked());
}

} // namespace
} // namespace marlix
