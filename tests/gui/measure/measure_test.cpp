// The measurement wizard offscreen, without a device: the pages and their controls,
// and a measurement whose recordings the test writes into the session's sums.
#include "gui/measure/measure.h"
#include "gui/plot.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

namespace marlix {
namespace {

class MeasureWizard : public ::testing::Test {
protected:
    MeasureWizard()
    {
        Config.Measure.MeasureLen = 8192;
        Config.Measure.MeasureAddNum = 1;
        Config.ASIO.DriverName = "ALSA: no such card"; // no device: nothing plays
    }
    template <class W> W* Find(const char* name) { return Wizard->findChild<W*>(name); }
    QString Cell(int row, int column) { return Find<QTableWidget>("SG")->item(row, column)->text(); }
    void Open(bool check = false)
    {
        Wizard = std::make_unique<TFo_Measure>(Config, Folder.Path(), check);
        Wizard->show();
        QApplication::processEvents();
    }
    // Completes the current channel's recording: the reference moved by `delay` samples
    // and scaled by `gain`, as the microphone would have summed it.
    void Record(int delay, double gain)
    {
        TMeasureState& s = Wizard->Session().Measurement();
        for (int k = 0; k < s.N; ++k)
            s.Sum[static_cast<size_t>((k + delay) % s.N)] = gain * s.Reference[static_cast<size_t>(k)] * s.AddNum;
        s.Done.store(true);
        Wizard->Ti_CheckTimer();
    }

    test::TempDir Folder;
    TSettings Config{Folder.Path()};
    std::unique_ptr<TFo_Measure> Wizard;
};

TEST_F(MeasureWizard, PagesButtonsAndCaptions)
{
    Open();
    EXPECT_EQ(Wizard->windowTitle(), "音響特性の測定");
    EXPECT_EQ(Find<QLabel>("La_InLevel")->text(), "-192.0db");
    Wizard->Ti_CheckTimer();
    EXPECT_EQ(Find<QLabel>("La_InLevel")->text(), "-192.00dB");
    EXPECT_TRUE(Find<QRadioButton>("RB_Auto")->isChecked());
    auto* next = Find<QPushButton>("Bu_Next");
    auto* back = Find<QPushButton>("Bu_Back");
    auto* pages = Find<QTabWidget>("PC");
    const struct {
        int Page;
        const char* Next;
        bool Back;
        int Channel; // what plays: automatic switching starts with channel 0 on pages 2 and 3
        const char* FirstLine;
    } steps[] = {{0, "次へ", false, -1, "スピーカーから、測定用信号を出力して、周波数"},
                 {1, "次へ", true, 0, "各スピーカーに測定用信号を出力しています。"},
                 {2, "次へ", true, 0, "周波数特性、ディレイを測定しています。"},
                 {3, "終了", true, -1, "測定結果を確認、保存、反映します。"}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.Page);
        EXPECT_EQ(pages->currentIndex(), s.Page);
        EXPECT_EQ(next->text(), s.Next);
        EXPECT_EQ(back->isEnabled(), s.Back);
        EXPECT_EQ(Wizard->Session().Measurement().Channel.load(), s.Channel);
        EXPECT_TRUE(pages->currentWidget()->findChild<QPlainTextEdit*>()->toPlainText().startsWith(s.FirstLine));
        QTest::mouseClick(next, Qt::LeftButton);
    }
    EXPECT_FALSE(Wizard->isVisible()); // "終了" closed it
    EXPECT_EQ(Wizard->result(), QDialog::Accepted);

    Open(true);
    EXPECT_EQ(Wizard->windowTitle(), "音響特性補正結果の測定");
    QTest::mouseClick(Find<QPushButton>("Bu_Plot"), Qt::LeftButton);
    ASSERT_TRUE(Wizard->LastPlot());
    EXPECT_EQ(Wizard->LastPlot()->windowTitle(), "プロット - 測定用信号");
    EXPECT_EQ(Wizard->LastPlot()->Data().Time.size(), 8192u);
    QTest::keyClick(Wizard.get(), Qt::Key_Escape);
    EXPECT_FALSE(Wizard->isVisible());
}

// Automatic measurement of both channels: the table shows channel 1 relative to channel
// 0, the plot, save and apply work on those results; a manual click measures one channel.
TEST_F(MeasureWizard, AutomaticRunFillsTheTableAndStepFourCarriesItOver)
{
    Open();
    Wizard->ShowStage(3);
    Record(96, 0.5);
    EXPECT_EQ(Wizard->Session().Measurement().Channel.load(), 1);
    EXPECT_EQ(Find<QTableWidget>("SG")->currentRow(), 1);
    EXPECT_EQ(Cell(0, 1), "0.0");
    Record(144, -0.25); // 48 samples (1 ms) later, 6 dB quieter, inverted
    EXPECT_EQ(Wizard->Session().Measurement().Channel.load(), -1);
    const QString rows[2][4] = {{"L", "0.0", "0.0", "正"}, {"R", "-6.0", "1.0", "逆"}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(Cell(r, c), rows[r][c]) << r << "," << c;

    Wizard->ShowStage(4);
    Find<QTableWidget>("SG")->cellClicked(1, 0);
    ASSERT_TRUE(Wizard->LastPlot());
    EXPECT_EQ(Wizard->LastPlot()->windowTitle(), "プロット - インパルス応答  R");
    QTest::mouseClick(Find<QPushButton>("Bu_ApplyToMaster"), Qt::LeftButton);
    EXPECT_EQ(Config.Output.fLevel[0], -60);
    EXPECT_EQ(Config.Output.fLevel[1], 0);
    EXPECT_NEAR(Config.Output.fDelay[0], 1.0, 1e-9);
    EXPECT_TRUE(Config.Output.bInvPhase[1]);
    QTest::mouseClick(Find<QPushButton>("Bu_SaveResult"), Qt::LeftButton);
    EXPECT_TRUE(std::filesystem::exists(Folder.File("ir0.wav")));
    EXPECT_TRUE(std::filesystem::exists(Folder.File("ir1.wav")));
    EXPECT_TRUE(Config.EQ.MeasurePresent[1]);

    // Manual: a click on row 0 in step 3 measures channel 0 alone, then stops.
    Find<QRadioButton>("RB_Manual")->setChecked(true);
    Wizard->ShowStage(3);
    EXPECT_EQ(Wizard->Session().Measurement().Channel.load(), -1);
    Find<QTableWidget>("SG")->cellClicked(0, 0);
    EXPECT_EQ(Wizard->Session().Measurement().Channel.load(), 0);
    Record(96, 0.125); // now 6 dB below channel 1
    EXPECT_EQ(Wizard->Session().Measurement().Channel.load(), -1);
    EXPECT_EQ(Cell(0, 1), "-6.0");
    EXPECT_EQ(Cell(1, 1), "0.0");
}

} // namespace
} // namespace marlix
