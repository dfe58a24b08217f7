#include "gui/measure/measure.h"

#include "gui/plot.h"
#include "settings/settings.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace marlix {
namespace {

template <class W> W* Named(W* w, const char* name)
{
    w->setObjectName(name);
    return w;
}

const QStringList kStep1 = {
    "スピーカーから、測定用信号を出力して、周波数", "特性とディレイを測定します。スピーカーの破損を",
    "防ぐために、アンプのボリュームを絞ってください。", "", "視聴位置に近い位置に、測定用のマイクを設置し",
    "てください。", "", "準備が出来たら、「次へ」をクリックしてください。"};
const QStringList kStep2 = {
    "各スピーカーに測定用信号を出力しています。", "", "１）測定用信号のボリュームを調節します。アンプ",
    "のボリュームを操作し、測定用信号の音量を適当", "なレベルまで上げてください。", "",
    "２）マイクのゲインを調節します。入力レベルが全", "てのスピーカーでクリップしない範囲でできるだけ",
    "大きくなるように（少なくとも-30dB以上になるように", "）調節します。", "",
    "調節が終わったら、「次へ」をクリックしてください。"};
const QStringList kStep3 = {
    "周波数特性、ディレイを測定しています。", "", "画面右の表に正しく測定が行われたチャンネルの",
    "測定値が表示されます。測定値が表示されない場", "合、Step2に戻りマイク、スピーカーのレベルを調",
    "節しなおしてください。", "", "測定をやりなおしたり、1chずつ測定を行う場合は",
    "、スピーカの切り替えを手動にし、測定するチャン", "ネルをクリックします。", "",
    "測定信号が出力されなくなったら自動測定は終了", "です。STEP 4に進んでください。"};
const QStringList kStep4 = {"測定結果を確認、保存、反映します。", "",
                            "測定結果をプロットして確認するには、右表から結果を確認するチャンネルをクリックします。"};

} // namespace

TFo_Measure::TFo_Measure(TSettings& settings, const std::string& programFolder, bool check, QWidget* parent)
    : QDialog(parent), Config(settings),
      Measure(settings, programFolder, check, QRandomGenerator::global()->generate()),
      PC(Named(new QTabWidget, "PC")), SG(Named(new QTableWidget(2, 4), "SG")),
      La_InLevel(Named(new QLabel("-192.0db"), "La_InLevel")),
      RB_Manual(Named(new QRadioButton("手動"), "RB_Manual")), RB_Auto(Named(new QRadioButton("自動"), "RB_Auto")),
      Bu_Back(Named(new QPushButton("戻る"), "Bu_Back")), Bu_Next(Named(new QPushButton("次へ"), "Bu_Next")),
      Bu_Cancel(Named(new QPushButton("キャンセル"), "Bu_Cancel")),
      Bu_Plot(Named(new QPushButton("測定用信号のプロット"), "Bu_Plot")),
      Bu_SaveResult(Named(new QPushButton("周波数特性を保存"), "Bu_SaveResult")),
      Bu_ApplyToMaster(Named(new QPushButton("マスターに反映"), "Bu_ApplyToMaster")),
      Ti_Check(Named(new QTimer(this), "Ti_Check"))
{
    setObjectName("Fo_Measure");
    setWindowTitle(check ? "音響特性補正結果の測定" : "音響特性の測定");
    QFont f(QStringLiteral("Noto Sans CJK JP"));
    f.setPointSize(9);
    setFont(f);
    Clock.start();

    PC->addTab(MakePage(kStep1, Bu_Plot), "STEP 1");
    PC->addTab(MakePage(kStep2, nullptr), "STEP 2");
    PC->addTab(MakePage(kStep3, nullptr), "STEP 3");
    PC->addTab(MakePage(kStep4, Bu_SaveResult, Bu_ApplyToMaster), "STEP 4");
    RB_Auto->setChecked(true);
    Bu_Back->setEnabled(false);
    Bu_Next->setDefault(true);

    auto* switching = new QGroupBox("スピーカの切り替え:");
    auto* radios = new QHBoxLayout(switching);
    radios->addWidget(RB_Manual);
    radios->addWidget(RB_Auto);
    auto* level = new QHBoxLayout;
    level->addWidget(new QLabel("入力レベル:"));
    level->addWidget(La_InLevel, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(MakeTable(), 1);
    right->addLayout(level);
    right->addWidget(switching);
    auto* top = new QHBoxLayout;
    top->addWidget(PC, 3);
    top->addLayout(right, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {Bu_Back, Bu_Next, Bu_Cancel})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);
    setFixedSize(760, 400);

    connect(PC, &QTabWidget::currentChanged, this, [this](int i) { PCChange(i); });
    connect(Bu_Next, &QPushButton::clicked, this, [this] { Bu_NextClick(); });
    connect(Bu_Back, &QPushButton::clicked, this, [this] { Bu_BackClick(); });
    connect(Bu_Cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(Bu_Plot, &QPushButton::clicked, this, [this] { Bu_PlotClick(); });
    connect(Bu_SaveResult, &QPushButton::clicked, this, [this] { Bu_SaveResultClick(); });
    connect(Bu_ApplyToMaster, &QPushButton::clicked, this, [this] { Bu_ApplyToMasterClick(); });
    connect(SG, &QTableWidget::cellClicked, this, [this](int row, int) { SGSelectCell(row); });
    Ti_Check->setInterval(50);
    connect(Ti_Check, &QTimer::timeout, this, [this] { Ti_CheckTimer(); });
}

TFo_Measure::~TFo_Measure()
{
    Ti_Check->stop();
    Measure.Close();
}

QWidget* TFo_Measure::MakePage(const QStringList& lines, QPushButton* extra, QPushButton* extra2)
{
    auto* page = new QWidget;
    auto* memo = new QPlainTextEdit(lines.join('\n'));
    memo->setReadOnly(true);
    memo->setFrameShape(QFrame::NoFrame);
    memo->viewport()->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(memo, 1);
    auto* row = new QHBoxLayout;
    for (QPushButton* b : {extra, extra2})
        if (b)
            row->addWidget(b);
    row->addStretch(1);
    layout->addLayout(row);
    return page;
}

QWidget* TFo_Measure::MakeTable()
{
    SG->setHorizontalHeaderLabels({"Ch", "相対レベル", "ディレイ(ms)", "位相"});
    SG->verticalHeader()->hide();
    SG->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SG->setSelectionBehavior(QAbstractItemView::SelectRows);
    SG->setSelectionMode(QAbstractItemView::SingleSelection);
    SG->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    SG->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c)
            SG->setItem(r, c, new QTableWidgetItem);
    return SG;
}

void TFo_Measure::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (Shown)
        return;
    Shown = true;
    const auto& names = Measure.RowNames();
    for (int r = 0; r < 2; ++r)
        SetCell(r, 0, QString::fromStdString(names[static_cast<size_t>(r)]));
    // A driver that does not start leaves the wizard silent, its input level at -192.
    [[maybe_unused]] const bool started = Measure.Open();
    ShowStage(1);
    PCChange(0);
    Ti_Check->start();
}

void TFo_Measure::done(int result)
{
    Ti_Check->stop();
    Measure.Close();
    QDialog::done(result);
}

void TFo_Measure::ShowStage(int stage)
{
    PC->setCurrentIndex(stage - 1);
}

void TFo_Measure::PCChange(int index)
{
    const int stage = index + 1;
    Bu_Next->setText(stage == 4 ? "終了" : "次へ");
    Bu_Back->setEnabled(stage > 1);
    Measure.SetStage(stage, RB_Auto->isChecked(), Now());
}

void TFo_Measure::Bu_NextClick()
{
    if (PC->currentIndex() == 3)
        accept();
    else
        ShowStage(PC->currentIndex() + 2);
}

void TFo_Measure::Bu_BackClick()
{
    if (PC->currentIndex() > 0)
        ShowStage(PC->currentIndex());
}

void TFo_Measure::Ti_CheckTimer()
{
    const TMeasureState& s = Measure.Measurement();
    const QString level = QString::number(s.InputLevel.load(), 'f', 2) + "dB";
    if (La_InLevel->text() != level)
        La_InLevel->setText(level);
    Measure.Tick(Now());
    const int channel = s.Channel.load();
    if (channel >= 0 && SG->currentRow() != channel)
        SG->selectRow(channel);
    RefreshTable();
}

void TFo_Measure::SetCell(int row, int column, const QString& text)
{
    QTableWidgetItem* item = SG->item(row, column);
    if (item->text() != text)
        item->setText(text);
}

void TFo_Measure::RefreshTable()
{
    const TMeasureTable table = Measure.Table();
    for (int c = 0; c < 2; ++c) {
        const TMeasureRow row = table.Row(c);
        SetCell(c, 1, row.Valid ? QString::number(row.Level, 'f', 1) : QString());
        SetCell(c, 2, row.Valid ? QString::number(row.Delay, 'f', 1) : QString());
        SetCell(c, 3, row.Valid ? QString(row.Inverted ? "逆" : "正") : QString());
    }
}

void TFo_Measure::SGSelectCell(int row)
{
    if (row < 0 || row > 1)
        return;
    const int stage = PC->currentIndex() + 1;
    if (stage == 4) {
        const QString name = SG->item(row, 0)->text();
        OpenPlot(Measure.Measurement().Response[static_cast<size_t>(row)], 2,
                 "プロット - インパルス応答  " + name);
    } else {
        Measure.SelectChannel(row, Now());
    }
}

TFo_Plot* TFo_Measure::OpenPlot(const std::vector<double>& block, int rangeIndex, const QString& caption)
{
    Plot = new TFo_Plot(this);
    Plot->setWindowFlag(Qt::Window);
    Plot->LoadBlock(block);
    Plot->SetSampleRate(Measure.Rate());
    Plot->SetFreqLog(true);
    Plot->SetSmooth(true);
    Plot->SetRangeIndex(rangeIndex);
    Plot->setWindowTitle(caption);
    Plot->resize(560, 360);
    Plot->show();
    connect(Plot, &QObject::destroyed, this, [this](QObject* gone) {
        if (gone == Plot)
            Plot = nullptr;
    });
    return Plot;
}

void TFo_Measure::Bu_PlotClick()
{
    OpenPlot(Measure.Measurement().Reference, 4, "プロット - 測定用信号");
}

void TFo_Measure::Bu_SaveResultClick()
{
    const std::vector<std::string> failed = Measure.SaveResults();
    if (!failed.empty())
        QMessageBox::warning(this, "周波数特性を保存", "ファイルを書き込めません: " + QString::fromStdString(failed.front()));
}

void TFo_Measure::Bu_ApplyToMasterClick()
{
    Measure.ApplyToMaster();
}

} // namespace marlix
