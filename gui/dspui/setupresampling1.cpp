#include "gui/dspui/setupresampling1.h"

#include "gui/dspui/setupcontrols.h"
#include "settings/outputrate.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdlib>
#include <utility>

namespace marlix {
namespace {

const QString kSame = "←";

// Smallest multiple of s that is at least t.
int MultipleAtLeast(int s, int t)
{
    return s <= 0 ? t : (t + s - 1) / s * s;
}

// Among the allowed rates, the one at least b that is closest to t (the first on ties),
// else the last allowed rate.
int DeviceChoice(const std::vector<int>& allowed, int t, int b)
{
    int best = -1;
    for (int r : allowed)
        if (r >= b && (best < 0 || std::abs(r - t) < std::abs(best - t)))
            best = r;
    if (best >= 0)
        return best;
    return allowed.empty() ? b : allowed.back();
}

} // namespace

std::vector<TResamplingRow> ResamplingTable(const TResamplingChoice& c)
{
    std::vector<TResamplingRow> rows;
    for (int s : RateTable) {
        int o;
        if (c.FixFreq) {
            o = c.FixFreqValue;
        } else if (c.UpSampling) {
            const int u = c.UpFreq;
            const int t = s >= u ? s : (c.Rational ? MultipleAtLeast(s, u) : u);
            o = u < s ? DeviceChoice(c.Allowed, t, s) : DeviceChoice(c.Allowed, t, u);
        } else {
            o = DeviceChoice(c.Allowed, s, s);
        }
        const int r = c.UpSampling && o < c.UpFreq ? MultipleAtLeast(s, c.UpFreq) : MultipleAtLeast(s, o);
        TResamplingRow row;
        row.Source = s;
        row.Up = r == s ? kSame : QString("%1 (%2x)").arg(r).arg(r / s);
        row.Band = o < s ? QString("%1/%2").arg(o).arg(r) : kSame;
        row.Out = o == r ? kSame : QString::number(o);
        rows.push_back(row);
    }
    return rows;
}

TSetupReSampling1Page::TSetupReSampling1Page()
{
    setObjectName("TS_ReSampling1");
    auto* form = new QVBoxLayout(this);
    Ch_UpSampling = Check(this, "Ch_UpSampling", "アップサンプリング");
    Co_UpFreq = Combo(this, "Co_UpFreq", Numbers({48000, 88200, 96000, 176400, 192000}), true);
    Ch_Rational = Check(this, "Ch_Rational", "元の周波数の整数倍にアップサンプリング");
    Ch_FixFreq = Check(this, "Ch_FixFreq", "出力周波数を固定");
    Co_FixFreq = Combo(this, "Co_FixFreq", {}, true);
    SG_Table = new QTableWidget(7, 4, this);
    SG_Table->setObjectName("SG_Table");
    SG_Table->setHorizontalHeaderLabels({"ソースの周波数", "アップサンプリング", "帯域制限周波数", "出力周波数"});
    SG_Table->verticalHeader()->hide();
    SG_Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SG_Table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    for (int i = 0; i < 7; ++i)
        SG_Table->setItem(i, 0, new QTableWidgetItem(QString::number(RateTable[i])));
    SG_Table->resizeRowsToContents();
    int height = SG_Table->horizontalHeader()->sizeHint().height() + 2 * SG_Table->frameWidth();
    for (int i = 0; i < 7; ++i)
        height += SG_Table->rowHeight(i);
    SG_Table->setMinimumSize(520, height);
    SG_Table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (QCheckBox* c : {Ch_UpSampling, Ch_Rational, Ch_FixFreq})
        connect(c, &QCheckBox::toggled, this, [this] { UpdateResamplingTable(); });
    for (QComboBox* c : {Co_UpFreq, Co_FixFreq})
        connect(c, &QComboBox::currentTextChanged, this, [this] { UpdateResamplingTable(); });
    auto* check = new QGroupBox("設定の確認", this);
    (new QVBoxLayout(check))->addWidget(SG_Table);
    form->addWidget(Row(this, {Ch_UpSampling, Co_UpFreq, Label(this, "Hz以上までアップサンプリング")}));
    form->addWidget(Ch_Rational);
    form->addWidget(Row(this, {Ch_FixFreq, Co_FixFreq, Label(this, "Hz")}));
    form->addWidget(check);
    form->addStretch();
}

void TSetupReSampling1Page::Load(const TSettings& s, const std::vector<int>& allowed)
{
    Updating = true;
    const TSettingReSampler& r = s.ReSampler;
    Ch_UpSampling->setChecked(r.bUpSampling);
    Co_UpFreq->setCurrentText(QString::number(r.nUpFreq));
    Ch_Rational->setChecked(r.bRational);
    Ch_FixFreq->setChecked(r.bFixFreq);
    RebuildFixFreqList(allowed);
    Co_FixFreq->setCurrentText(QString::number(r.nFixFreq));
    Updating = false;
}

void TSetupReSampling1Page::Save(TSettings& s) const
{
    TSettingReSampler& r = s.ReSampler;
    r.bUpSampling = Ch_UpSampling->isChecked();
    r.nUpFreq = NumberOr(Co_UpFreq->currentText(), 48000);
    r.bRational = Ch_Rational->isChecked();
    r.bFixFreq = Ch_FixFreq->isChecked();
    r.nFixFreq = NumberOr(Co_FixFreq->currentText(), 48000);
}

void TSetupReSampling1Page::AllowedRatesChanged(const std::vector<int>& allowed)
{
    RebuildFixFreqList(allowed);
    UpdateResamplingTable();
}

void TSetupReSampling1Page::RebuildFixFreqList(const std::vector<int>& allowed)
{
    const QString chosen = Co_FixFreq->currentText();
    const bool updating = std::exchange(Updating, true);
    Co_FixFreq->clear();
    for (int rate : allowed)
        Co_FixFreq->addItem(QString::number(rate));
    const int index = Co_FixFreq->findText(chosen);
    Co_FixFreq->setCurrentIndex(index);
    if (index < 0 && !updating)
        Ch_FixFreq->setChecked(false);
    Updating = updating;
}

TResamplingChoice TSetupReSampling1Page::CurrentChoice(bool* valid) const
{
    TResamplingChoice c;
    for (int i = 0; i < Co_FixFreq->count(); ++i)
        c.Allowed.push_back(Co_FixFreq->itemText(i).toInt());
    c.UpSampling = Ch_UpSampling->isChecked();
    c.Rational = Ch_Rational->isChecked();
    c.FixFreq = Ch_FixFreq->isChecked();
    bool upOk = false, fixOk = false;
    c.UpFreq = Co_UpFreq->currentText().toInt(&upOk);
    c.FixFreqValue = Co_FixFreq->currentText().toInt(&fixOk);
    *valid = (!c.UpSampling || (upOk && c.UpFreq > 0)) && (!c.FixFreq || (fixOk && c.FixFreqValue > 0));
    return c;
}

void TSetupReSampling1Page::UpdateResamplingTable()
{
    if (Updating)
        return;
    bool valid = false;
    const TResamplingChoice choice = CurrentChoice(&valid);
    if (!valid)
        return;
    const auto rows = ResamplingTable(choice);
    for (int i = 0; i < int(rows.size()); ++i) {
        const QString cells[] = {rows[i].Up, rows[i].Band, rows[i].Out};
        for (int col = 1; col <= 3; ++col) {
            if (!SG_Table->item(i, col))
                SG_Table->setItem(i, col, new QTableWidgetItem);
            SG_Table->item(i, col)->setText(cells[col - 1]);
        }
    }
}

} // namespace marlix
