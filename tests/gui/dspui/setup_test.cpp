#include "gui/dspui/setup.h"
#include "gui/plot.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "support/jackrecorder.h"
#include "support/jackregistry.h"
#include "support/testutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequenceEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <unistd.h>

namespace marlix {
namespace {

// Every record as the settings file would hold it.
std::string RecordsText(const TSettings& settings, const test::TempDir& dir)
{
    TIniFile ini(dir.File("setting.ini"));
    EXPECT_TRUE(settings.SaveRecords(ini, dir.Path()));
    return ini.Text();
}

template <class T> T* Find(QWidget& w, const char* name)
{
    T* child = w.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

QStringList Row(QTableWidget* table, int row)
{
    QStringList cells;
    for (int c = 0; c < 4; ++c)
        cells << (table->item(row, c) ? table->item(row, c)->text() : QString());
    return cells;
}

TEST(SetupDialog, ResamplingRowsOfTheExamplesAreComputedLive)
{
    struct TCase {
        const char* name;
        TResamplingChoice choice;
        int row; // index in the rate table
        QStringList cells;
    };
    const TResamplingChoice plain{{44100, 48000}, false, 96000, true, false, 48000};
    const TResamplingChoice up{{44100, 48000, 88200}, true, 96000, true, false, 48000};
    const std::vector<TCase> cases = {
        {"32000 plain", plain, 0, {"32000", "64000 (2x)", "←", "44100"}},
        {"44100 plain", plain, 1, {"44100", "←", "←", "←"}},
        {"88200 plain", plain, 3, {"88200", "←", "48000/88200", "48000"}},
        {"44100 up to 96000", up, 1, {"44100", "132300 (3x)", "←", "88200"}},
        {"192000 fixed at 48000", {{44100, 48000}, false, 96000, true, true, 48000}, 6, {"192000", "←", "48000/192000", "48000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto rows = ResamplingTable(c.choice);
        ASSERT_EQ(rows.size(), 7u);
        const auto& r = rows[c.row];
        EXPECT_EQ((QStringList{QString::number(r.Source), r.Up, r.Band, r.Out}), c.cells);
    }

    // The same rows in the dialog, following the controls.
    test::TempDir dir;
    TSettings settings;
    settings.ASIO.DriverName = "none";
    settings.Output.bFreq = {false, true, true, false, false, false, false};
    TFo_Setup dialog(settings, dir.Path());
    auto* table = Find<QTableWidget>(dialog, "SG_Table");
    EXPECT_EQ(Row(table, 0), cases[0].cells);
    EXPECT_EQ(Row(table, 3), cases[2].cells);
    auto* rates = Find<QListWidget>(dialog, "CL_Freq");
    rates->item(3)->setCheckState(Qt::Checked);
    Find<QComboBox>(dialog, "Co_UpFreq")->setCurrentText("96000");
    Find<QCheckBox>(dialog, "Ch_UpSampling")->setChecked(true);
    EXPECT_EQ(Row(table, 1), cases[3].cells);

    // Clearing every rate ticks 44100 again.
    for (int i = 0; i < 7; ++i)
        rates->item(i)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(rates->item(1)->checkState(), Qt::Checked);
    EXPECT_EQ(Find<QComboBox>(dialog, "Co_FixFreq")->count(), 1);

    // The filter check opens a plot window of the designed taps.
    Find<QComboBox>(dialog, "Co_ITaps")->setCurrentText("255");
    Find<QComboBox>(dialog, "Co_IWindow")->setCurrentIndex(3);
    Find<QPushButton>(dialog, "Bu_PlotFilter")->click();
    TFo_Plot* plot = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = dynamic_cast<TFo_Plot*>(w))
            plot = p;
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->windowTitle().toStdString(), "プロット - リサンプリングフィルタ  255 taps  Blackman window");
    delete plot;
}

TEST(SetupDialog, OkWritesTheRecordsCancelAndEscLeaveThemByteForByte)
{
    test::TempDir dir;
    TSettings settings;
    settings.ASIO.DriverName = "none";
    settings.Measure.MeasureSlope = -6;
    const std::string before = RecordsText(settings, dir);

    const auto edit = [](TFo_Setup& d) {
        Find<QCheckBox>(d, "Ch_ClickRoot")->toggle();
        Find<QComboBox>(d, "Co_HSCMode")->setCurrentIndex(0);
        Find<QComboBox>(d, "Co_EQTaps")->setCurrentText("many");
        Find<QComboBox>(d, "Co_MeasureSlope")->setCurrentIndex(1);
        Find<QKeySequenceEdit>(d, "HK_Play")->setKeySequence(QKeySequence(Qt::CTRL | Qt::Key_P));
    };
    for (const bool esc : {false, true}) {
        TFo_Setup dialog(settings, dir.Path());
        EXPECT_EQ(Find<QComboBox>(dialog, "Co_MeasureSlope")->currentText(), "-6");
        dialog.show();
        edit(dialog);
        if (esc)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            Find<QPushButton>(dialog, "Bu_Cancel")->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(RecordsText(settings, dir), before) << (esc ? "Esc" : "キャンセル");
    }

    TFo_Setup dialog(settings, dir.Path());
    dialog.show();
    edit(dialog);
    Find<QPushButton>(dialog, "Bu_OK")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(settings.Operation.bClickRoot);
    EXPECT_EQ(settings.Filter.HSCMode, 0);
    EXPECT_EQ(settings.Filter.EQFilterTaps, 1023) << "a text that is no number";
    EXPECT_EQ(settings.Measure.MeasureSlope, -3);
    EXPECT_EQ(settings.Operation.ShortCut[TSettingOperation::scPlay], 0x4000 | 'P');
    EXPECT_EQ(settings.ASIO.Device0, -1) << "no driver: no output pair";
}

TEST(SetupDialog, ListsTheJackDriverAndItsPortsAndOkWithoutChangesKeepsEveryRecord)
{
    test::ReclaimDeadJackServers();
    const std::string name = "marlix-setup-" + std::to_string(getpid());
    test::TempDir dir;
    test::TJackServer server(name, dir.File("jackd.log"));
    if (!server.Ready())
        GTEST_SKIP() << "jackd did not start: " << server.Output();
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);

    TSettings settings;
    settings.ASIO.DriverName = "JACK";
    const std::string before = RecordsText(settings, dir);
    {
        TFo_Setup dialog(settings, dir.Path());
        auto* drivers = Find<QComboBox>(dialog, "Co_ASIODriver");
        EXPECT_EQ(drivers->currentText(), "JACK");
        auto* outputs = Find<QComboBox>(dialog, "Co_ASIODevice0");
        ASSERT_GE(outputs->count(), 1);
        EXPECT_TRUE(outputs->itemText(0).contains(", ")) << outputs->itemText(0).toStdString();
        EXPECT_EQ(outputs->currentIndex(), 0);
        dialog.show();
        Find<QPushButton>(dialog, "Bu_OK")->click();
    }
    EXPECT_EQ(RecordsText(settings, dir), before);
    unsetenv("JACK_DEFAULT_SERVER");
}

} // namespace
} // namespace marlix
