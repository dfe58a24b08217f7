#include "gui/dspui/setup.h"

#include "base/flexbuf.h"
#include "dsp/firdesign.h"
#include "engine/asiothread.h"
#include "gui/plot.h"
#include "gui/shortcut.h"
#include "platform/waveout/alsawaveout.h"
#include "player/history.h"
#include "settings/outputrate.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

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

int NumberOr(const QString& text, int fallback)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? v : fallback;
}

QStringList Numbers(std::initializer_list<int> values)
{
    QStringList list;
    for (int v : values)
        list << QString::number(v);
    return list;
}

// 2^k − 1 for k = from … to.
QStringList OddPowers(int from, int to)
{
    QStringList list;
    for (int k = from; k <= to; ++k)
        list << QString::number((1 << k) - 1);
    return list;
}

QComboBox* Combo(QWidget* parent, const char* name, const QStringList& items, bool editable = false)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    c->setEditable(editable);
    return c;
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& caption)
{
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

QSpinBox* Spin(QWidget* parent, const char* name, int low, int high, const QString& unit = {})
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(low, high);
    if (!unit.isEmpty())
        s->setSuffix(" " + unit);
    return s;
}

// A row of widgets, left-aligned.
QWidget* Row(QWidget* parent, std::initializer_list<QWidget*> widgets)
{
    auto* row = new QWidget(parent);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : widgets)
        l->addWidget(w);
    l->addStretch();
    return row;
}

QLabel* Label(QWidget* parent, const QString& text)
{
    return new QLabel(text, parent);
}

// Selects `text` in a list box, or shows it in an editable one; a missing entry of a
// fixed list clears the selection.
void Show(QComboBox* c, const QString& text)
{
    if (c->isEditable())
        c->setCurrentText(text);
    else
        c->setCurrentIndex(c->findText(text));
}

// The cut-off box shows "+" before values that are not negative.
class TSignedSpin : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QString textFromValue(int v) const override { return (v >= 0 ? "+" : "") + QString::number(v); }
    int valueFromText(const QString& text) const override { return text.toInt(); }
};

// The host calls back for every buffer while the dialog reads the driver's names: silence.
void NoRender(int frames, int, int32_t* const*, int outputCount, int32_t* const* outputs)
{
    for (int k = 0; k < outputCount; ++k)
        std::fill_n(outputs[k], frames, 0);
}

const char* const kShortCutCaptions[] = {"前の曲:", "停止:", "一時停止:", "再生:", "次の曲:", "1曲再生:",
                                         "リピート:", "リピート1:", "ランダム:", "BGM:", "EFX:", "Conv.:",
                                         "Matrix:", "EQ:", "HSC:", "音量Up:", "音量Down:"};
using TOp = TSettingOperation;
constexpr int kShortCutOrder[] = {TOp::scRew,     TOp::scStop,   TOp::scPause,  TOp::scPlay,   TOp::scFF,
                                  TOp::scPlay1,   TOp::scRepeat, TOp::scRepeat1, TOp::scRandom, TOp::scBGM,
                                  TOp::scEFX,     TOp::scConv,   TOp::scMatrix, TOp::scEQ,     TOp::scHSC,
                                  TOp::scVolUp,   TOp::scVolDown};
const QStringList kWindows = {"Rectangle", "Hunning", "Humming", "Blackman", "Blackman-Harris", "Bartlett"};

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

TFo_Setup::TFo_Setup(TSettings& settings, std::string programFolder, QWidget* parent)
    : QDialog(parent), Config(settings), Folder(std::move(programFolder))
{
    setObjectName("Fo_Setup");
    setWindowTitle("環境の設定");
    QFont font("Noto Sans CJK JP");
    font.setPointSize(9);
    setFont(font);

    PC_Setup = new QTabWidget(this);
    PC_Setup->setObjectName("PC_Setup");
    PC_Setup->setUsesScrollButtons(false); // every page's tab in sight
    PC_Setup->addTab(MakeOperationPage(), "操作");
    PC_Setup->addTab(MakeViewPage(), "表示");
    PC_Setup->addTab(MakeFunctionPage(), "機能");
    PC_Setup->addTab(MakeOutputPage(), "オーディオ出力");
    PC_Setup->addTab(MakeMMEPage(), "標準ドライバ");
    PC_Setup->addTab(MakeASIOPage(), "ASIOドライバ");
    PC_Setup->addTab(MakeFilterPage(), "フィルタ");
    PC_Setup->addTab(MakeReSampling1Page(), "リサンプリング(1)");
    PC_Setup->addTab(MakeReSampling2Page(), "リサンプリング(2)");
    PC_Setup->addTab(MakeMeasurePage(), "音響特性の測定");

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("Bu_OK");
    ok->setDefault(true);
    auto* cancel = new QPushButton("キャンセル", this);
    cancel->setObjectName("Bu_Cancel");
    connect(ok, &QPushButton::clicked, this, [this] { Bu_OKClick(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(PC_Setup);
    column->addLayout(buttons);

    LoadControls();
    PC_Setup->setCurrentIndex(0);
}

QStringList TFo_Setup::PageNames() const
{
    QStringList names;
    for (int i = 0; i < PC_Setup->count(); ++i)
        names << PC_Setup->widget(i)->objectName();
    return names;
}

void TFo_Setup::SelectPage(const QString& name)
{
    if (QWidget* page = PC_Setup->findChild<QWidget*>(name))
        PC_Setup->setCurrentWidget(page);
}

QWidget* TFo_Setup::MakeOperationPage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_Operation");
    auto* form = new QVBoxLayout(page);
    Ch_ClickRoot = Check(page, "Ch_ClickRoot", "ルートフォルダのクリックを許可する");
    Co_BrowserType = Combo(page, "Co_BrowserType", {"1列に表示", "画面いっぱいに表示"});
    Ch_SkipSubFolder = Check(page, "Ch_SkipSubFolder", "フォルダが1つしかない階層をスキップ");
    Ed_BrowseExts = new QLineEdit(page);
    Ed_BrowseExts->setObjectName("Ed_BrowseExts");
    Ch_JukeBoxMode = Check(page, "Ch_JukeBoxMode", "ジュークボックスモード(1曲のみ選曲可能)");
    Ch_MouseScroll = Check(page, "Ch_MouseScroll", "マウスオーバーでスクロールする");
    Ch_PlayAtOpen = Check(page, "Ch_PlayAtOpen", "開くと同時に再生");
    Ch_CheckNew = Check(page, "Ch_CheckNew", "Marlix Audioの最新情報を通知する");
    form->addWidget(Ch_ClickRoot);
    form->addWidget(Row(page, {Label(page, "ブラウザタイプ"), Co_BrowserType}));
    form->addWidget(Ch_SkipSubFolder);
    form->addWidget(Row(page, {Label(page, "取り扱い拡張子:"), Ed_BrowseExts}));
    form->addWidget(Ch_JukeBoxMode);
    form->addWidget(Ch_MouseScroll);
    form->addWidget(Ch_PlayAtOpen);
    auto* keys = new QGroupBox("ショートカット", page);
    auto* grid = new QGridLayout(keys);
    for (int i = 0; i < 17; ++i) {
        auto* edit = new QKeySequenceEdit(keys);
        edit->setObjectName(QString("HK_%1").arg(TSettingOperation::ShortCutKeys[kShortCutOrder[i]] + 9));
        edit->setMinimumWidth(110);
        HK_ShortCut.push_back(edit);
        grid->addWidget(Label(keys, kShortCutCaptions[i]), i / 3, (i % 3) * 2);
        grid->addWidget(edit, i / 3, (i % 3) * 2 + 1);
    }
    form->addWidget(keys);
    form->addWidget(Ch_CheckNew);
    form->addStretch();
    return page;
}

QWidget* TFo_Setup::MakeViewPage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_View");
    auto* form = new QVBoxLayout(page);
    Ed_FontSize = Spin(page, "Ed_FontSize", 3, 200, "pt");
    Ch_AlphaBlend = Check(page, "Ch_AlphaBlend", "ブラウザを透過表示");
    TB_AlphaBlend = new QSlider(Qt::Horizontal, page);
    TB_AlphaBlend->setObjectName("TB_AlphaBlend");
    TB_AlphaBlend->setRange(0, 255);
    TB_AlphaBlend->setMinimumWidth(200);
    Ch_SmoothScroll = Check(page, "Ch_SmoothScroll", "スムーズにスクロール");
    Ed_WallPaper = new QLineEdit(page);
    Ed_WallPaper->setObjectName("Ed_WallPaper");
    Ed_WallPaper->setMinimumWidth(280);
    auto* browse = new QPushButton("...", page);
    browse->setObjectName("Bu_WallPaper");
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, {}, Ed_WallPaper->text(), "*.bmp (*.bmp);;*.* (*)");
        if (!file.isEmpty())
            Ed_WallPaper->setText(file);
    });
    form->addWidget(Row(page, {Label(page, "フォントサイズ:"), Ed_FontSize}));
    form->addWidget(Ch_AlphaBlend);
    form->addWidget(Row(page, {Label(page, "透過率:"), TB_AlphaBlend}));
    form->addWidget(Ch_SmoothScroll);
    form->addWidget(Row(page, {Label(page, "壁紙:"), Ed_WallPaper, browse}));
    form->addStretch();
    return page;
}

QWidget* TFo_Setup::MakeFunctionPage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_Function");
    auto* form = new QVBoxLayout(page);

    auto* tonkara = new QGroupBox("Tonkara", page);
    auto* t = new QVBoxLayout(tonkara);
    Ch_Download = Check(tonkara, "Ch_Download", "最後まで再生した曲を自動的にダウンロード");
    Ch_DownloadTonkaraOnly = Check(tonkara, "Ch_DownloadTonkaraOnly", "Tonkaraライブラリに登録された曲のみ");
    Ed_DownloadPath = new QLineEdit(tonkara);
    Ed_DownloadPath->setObjectName("Ed_DownloadPath");
    Ed_DownloadPath->setMinimumWidth(260);
    auto* folder = new QPushButton("...", tonkara);
    folder->setObjectName("Bu_DownloadPath");
    connect(folder, &QPushButton::clicked, this, [this] {
        QString dir = QFileDialog::getExistingDirectory(this, {}, Ed_DownloadPath->text());
        if (dir.isEmpty())
            return;
        if (!dir.endsWith('/'))
            dir += '/';
        Ed_DownloadPath->setText(dir);
    });
    t->addWidget(Ch_Download);
    t->addWidget(Ch_DownloadTonkaraOnly);
    t->addWidget(Row(tonkara, {Label(tonkara, "ダウンロード先フォルダ:"), Ed_DownloadPath, folder}));

    auto* bgm = new QGroupBox("BGM", page);
    auto* b = new QVBoxLayout(bgm);
    Ed_BGMPlaylist = new QLineEdit(bgm);
    Ed_BGMPlaylist->setObjectName("Ed_BGMPlaylist");
    Ed_BGMPlaylist->setMinimumWidth(260);
    auto* list = new QPushButton("...", bgm);
    list->setObjectName("Bu_BGMPlaylist");
    connect(list, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, {}, Ed_BGMPlaylist->text(), "*.m3u (*.m3u);;*.* (*)");
        if (!file.isEmpty())
            Ed_BGMPlaylist->setText(file);
    });
    Ed_BGMVolume = Spin(bgm, "Ed_BGMVolume", -36, 0, "dB");
    b->addWidget(Row(bgm, {Label(bgm, "BGMプレイリスト:"), Ed_BGMPlaylist, list}));
    b->addWidget(Row(bgm, {Label(bgm, "BGM音量"), Ed_BGMVolume}));

    auto* history = new QGroupBox("再生履歴", page);
    Ch_SaveHistory = Check(history, "Ch_SaveHistory", "再生履歴を記録する");
    auto* clear = new QPushButton("クリア", history);
    clear->setObjectName("Bu_ClearHistory");
    connect(clear, &QPushButton::clicked, this, [this] { Bu_ClearHistoryClick(); });
    (new QVBoxLayout(history))->addWidget(Row(history, {Ch_SaveHistory, clear}));

    auto* playlist = new QGroupBox("プレイリスト", page);
    Ch_SavePlaylist = Check(playlist, "Ch_SavePlaylist", "終了時のプレイリストを保存する");
    (new QVBoxLayout(playlist))->addWidget(Ch_SavePlaylist);

    for (QWidget* w : {static_cast<QWidget*>(tonkara), static_cast<QWidget*>(bgm), static_cast<QWidget*>(history),
                       static_cast<QWidget*>(playlist)})
        form->addWidget(w);
    form->addStretch();
    return page;
}

QWidget* TFo_Setup::MakeOutputPage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_Output");
    auto* form = new QVBoxLayout(page);
    Co_DriverType = Combo(page, "Co_DriverType", {"標準", "ASIO"});
    CL_Freq = new QListWidget(page);
    CL_Freq->setObjectName("CL_Freq");
    for (int rate : RateTable) {
        auto* item = new QListWidgetItem(QString::number(rate), CL_Freq);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(Qt::Unchecked);
    }
    CL_Freq->setMaximumSize(160, 7 * 22 + 6);
    connect(CL_Freq, &QListWidget::itemChanged, this, [this] { FreqListChange(); });
    auto* driver = new QGroupBox("オーディオドライバ", page);
    (new QVBoxLayout(driver))->addWidget(Co_DriverType);
    auto* rates = new QGroupBox("使用周波数", page);
    (new QVBoxLayout(rates))->addWidget(CL_Freq);
    form->addWidget(driver);
    form->addWidget(rates);
    form->addStretch();
    return page;
}

QWidget* TFo_Setup::MakeMMEPage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_MME");
    auto* form = new QVBoxLayout(page);
    QStringList devices;
    for (const std::string& name : TAlsaWaveOut::DeviceNames())
        devices << QString::fromStdString(name);
    Co_MMEDevice0 = Combo(page, "Co_MMEDevice0", devices);
    Co_MMEDevice0->setMinimumWidth(260);
    auto* assign = new QGroupBox("出力デバイスのアサイン", page);
    (new QVBoxLayout(assign))->addWidget(Row(assign, {Label(assign, "左右のスピーカ(L,R)"), Co_MMEDevice0}));
    Co_BufferSize = Combo(page, "Co_BufferSize", Numbers({1024, 2048, 4096, 8192}), true);
    Ed_BufferNum = Spin(page, "Ed_BufferNum", 3, 8);
    form->addWidget(assign);
    form->addWidget(Row(page, {Label(page, "バッファサイズ"), Co_BufferSize, Label(page, "samples/1fs")}));
    form->addWidget(Row(page, {Label(page, "バッファ数"), Ed_BufferNum}));
    form->addStretch();
    return page;
}

QWidget* TFo_Setup::MakeASIOPage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_ASIO");
    auto* form = new QVBoxLayout(page);
    Co_ASIODriver = Combo(page, "Co_ASIODriver", {});
    Co_ASIODriver->setMinimumWidth(260);
    connect(Co_ASIODriver, &QComboBox::activated, this, [this] {
        EditedDriver = Co_ASIODriver->currentText().toStdString();
        FillASIOLists();
    });
    auto* panel = new QPushButton("ASIOコントロールパネル", page);
    panel->setObjectName("Bu_ASIOControlPanel");
    connect(panel, &QPushButton::clicked, this, [this] { Bu_ASIOControlPanelClick(); });
    auto* driver = new QGroupBox("使用するASIOドライバ", page);
    (new QVBoxLayout(driver))->addWidget(Row(driver, {Co_ASIODriver, panel}));

    auto* out = new QGroupBox("出力デバイスのアサイン", page);
    Co_ASIODevice0 = Combo(out, "Co_ASIODevice0", {});
    Co_ASIODevice0->setMinimumWidth(260);
    Co_ASIOChAssign0 = Combo(out, "Co_ASIOChAssign0", {});
    Co_ASIOChAssign0->hide();
    auto* reset = new QPushButton("初期化", out);
    reset->setObjectName("Bu_ASIOReset");
    connect(reset, &QPushButton::clicked, this, [this] {
        Co_ASIODevice0->setCurrentIndex(-1);
        ChAssignReset = true;
    });
    (new QVBoxLayout(out))->addWidget(Row(out, {Label(out, "左右のスピーカ(L,R)"), Co_ASIODevice0, reset}));

    auto* in = new QGroupBox("入力デバイスのアサイン", page);
    Co_ASIOInDevice0 = Combo(in, "Co_ASIOInDevice0", {});
    Co_ASIOInDevice0->setMinimumWidth(260);
    auto* inReset = new QPushButton("初期化", in);
    inReset->setObjectName("Bu_ASIOInReset");
    connect(inReset, &QPushButton::clicked, this, [this] { Co_ASIOInDevice0->setCurrentIndex(-1); });
    (new QVBoxLayout(in))->addWidget(Row(in, {Label(in, "測定用マイク入力:"), Co_ASIOInDevice0, inReset}));

    form->addWidget(driver);
    form->addWidget(out);
    form->addWidget(in);
    form->addStretch();
    return page;
}

QWidget* TFo_Setup::MakeFilterPage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_Filter");
    auto* form = new QVBoxLayout(page);
    auto* eq = new QGroupBox("イコライザ", page);
    Co_EQTaps = Combo(eq, "Co_EQTaps", OddPowers(10, 16), true);
    (new QVBoxLayout(eq))->addWidget(Row(eq, {Label(eq, "タップ数:"), Co_EQTaps, Label(eq, "Taps")}));
    auto* buffer = new QGroupBox("バッファ", page);
    Co_Bufms = Combo(buffer, "Co_Bufms", Numbers({250, 500, 1000, 2000, 3000, 4000}), true);
    (new QVBoxLayout(buffer))->addWidget(Row(buffer, {Label(buffer, "バッファサイズ"), Co_Bufms, Label(buffer, "ms")}));
    auto* hsc = new QGroupBox("Rivor Edevu Vezirada", page);
    Co_HSCMode = Combo(hsc, "Co_HSCMode", {"A", "B", "C"});
    (new QVBoxLayout(hsc))->addWidget(Row(hsc, {Label(hsc, "モード:"), Co_HSCMode}));
    form->addWidget(eq);
    form->addWidget(buffer);
    form->addWidget(hsc);
    form->addStretch();
    return page;
}

QWidget* TFo_Setup::MakeReSampling1Page()
{
    auto* page = new QWidget;
    page->setObjectName("TS_ReSampling1");
    auto* form = new QVBoxLayout(page);
    Ch_UpSampling = Check(page, "Ch_UpSampling", "アップサンプリング");
    Co_UpFreq = Combo(page, "Co_UpFreq", Numbers({48000, 88200, 96000, 176400, 192000}), true);
    Ch_Rational = Check(page, "Ch_Rational", "元の周波数の整数倍にアップサンプリング");
    Ch_FixFreq = Check(page, "Ch_FixFreq", "出力周波数を固定");
    Co_FixFreq = Combo(page, "Co_FixFreq", {}, true);
    SG_Table = new QTableWidget(7, 4, page);
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
    auto* check = new QGroupBox("設定の確認", page);
    (new QVBoxLayout(check))->addWidget(SG_Table);
    form->addWidget(Row(page, {Ch_UpSampling, Co_UpFreq, Label(page, "Hz以上までアップサンプリング")}));
    form->addWidget(Ch_Rational);
    form->addWidget(Row(page, {Ch_FixFreq, Co_FixFreq, Label(page, "Hz")}));
    form->addWidget(check);
    form->addStretch();
    return page;
}

QWidget* TFo_Setup::MakeReSampling2Page()
{
    auto* page = new QWidget;
    page->setObjectName("TS_ReSampling2");
    auto* form = new QVBoxLayout(page);
    auto* filter = new QGroupBox("リサンプリングフィルタ設定", page);
    Co_IWindow = Combo(filter, "Co_IWindow", kWindows);
    Co_ITaps = Combo(filter, "Co_ITaps", OddPowers(4, 20), true);
    Ed_ICutoff = new TSignedSpin(filter);
    Ed_ICutoff->setObjectName("Ed_ICutoff");
    Ed_ICutoff->setRange(-10, 10);
    auto* f = new QVBoxLayout(filter);
    f->addWidget(Row(filter, {Label(filter, "窓関数"), Co_IWindow}));
    f->addWidget(Row(filter, {Label(filter, "タップ長"), Co_ITaps, Label(filter, "taps")}));
    f->addWidget(Row(filter, {Label(filter, "遮断周波数"), Ed_ICutoff}));

    auto* fraction = new QGroupBox("非整数倍リサンプリングフィルタ", page);
    RB_Linear = new QRadioButton("線形補間", fraction);
    RB_Linear->setObjectName("RB_Linear");
    RB_Filtering = new QRadioButton("フィルタリング", fraction);
    RB_Filtering->setObjectName("RB_Filtering");
    QStringList odd;
    for (int t = 5; t <= 31; t += 2)
        odd << QString::number(t);
    Co_RFTaps = Combo(fraction, "Co_RFTaps", odd, true);
    auto* tapsLabel = Label(fraction, "taps");
    connect(RB_Filtering, &QRadioButton::toggled, this, [this, tapsLabel](bool on) {
        Co_RFTaps->setEnabled(on);
        tapsLabel->setEnabled(on);
    });
    (new QVBoxLayout(fraction))->addWidget(Row(fraction, {RB_Linear, RB_Filtering, Co_RFTaps, tapsLabel}));

    auto* plot = new QPushButton("係数確認", page);
    plot->setObjectName("Bu_PlotFilter");
    connect(plot, &QPushButton::clicked, this, [this] { Bu_PlotFilterClick(); });

    // Kept for their keys, not shown.
    const char* const direct[] = {"3倍,1/3", "5倍,1/5", "7倍,1/7"};
    const char* const names[] = {"Ch_Direct3x", "Ch_Direct5x", "Ch_Direct7x"};
    for (int i = 0; i < 3; ++i) {
        Ch_Direct[i] = Check(page, names[i], direct[i]);
        Ch_Direct[i]->hide();
    }
    Co_DWindow = Combo(page, "Co_DWindow", kWindows);
    Co_DTaps = Combo(page, "Co_DTaps", OddPowers(4, 20), true);
    Ch_AutoTapLen = Check(page, "Ch_AutoTapLen", "3倍以上のダイレクトリサンプリング時に自動的にタップ長を延長");
    for (QWidget* w : {static_cast<QWidget*>(Co_DWindow), static_cast<QWidget*>(Co_DTaps),
                       static_cast<QWidget*>(Ch_AutoTapLen)})
        w->hide();

    form->addWidget(filter);
    form->addWidget(fraction);
    form->addWidget(Row(page, {plot}));
    form->addStretch();
    return page;
}

QWidget* TFo_Setup::MakeMeasurePage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_Measure");
    auto* form = new QVBoxLayout(page);
    QStringList rates;
    for (int r : RateTable)
        rates << QString::number(r);
    Co_MeasureFreq = Combo(page, "Co_MeasureFreq", rates);
    auto* signal = new QGroupBox("測定用信号", page);
    Co_MeasureMethod = Combo(signal, "Co_MeasureMethod", {"Noise", "TSP", "MLS"});
    Co_MeasureAmplitude = Combo(signal, "Co_MeasureAmplitude", {"-0", "-3", "-6", "-10", "-20"}, true);
    Co_MeasureLen = Combo(signal, "Co_MeasureLen", Numbers({8192, 16384, 32768, 65536}));
    Co_MeasureSlope = Combo(signal, "Co_MeasureSlope", {"-0", "-3", "-6"});
    auto* slopeLabel = Label(signal, "周波数バランス:");
    auto* slopeUnit = Label(signal, "dB/oct");
    connect(Co_MeasureMethod, &QComboBox::currentIndexChanged, this, [this, slopeLabel, slopeUnit](int index) {
        for (QWidget* w : {static_cast<QWidget*>(slopeLabel), static_cast<QWidget*>(Co_MeasureSlope),
                           static_cast<QWidget*>(slopeUnit)})
            w->setEnabled(index == 0);
    });
    Ed_MeasureAddNum = Spin(page, "Ed_MeasureAddNum", 1, 256, "回");
    auto* s = new QVBoxLayout(signal);
    s->addWidget(Row(signal, {Label(signal, "種類"), Co_MeasureMethod}));
    s->addWidget(Row(signal, {Label(signal, "ピーク音量:"), Co_MeasureAmplitude, Label(signal, "dB")}));
    s->addWidget(Row(signal, {Label(signal, "長さ:"), Co_MeasureLen, Label(signal, "Samples")}));
    s->addWidget(Row(signal, {slopeLabel, Co_MeasureSlope, slopeUnit}));
    form->addWidget(Row(page, {Label(page, "測定周波数:"), Co_MeasureFreq, Label(page, "Hz")}));
    form->addWidget(signal);
    form->addWidget(Row(page, {Label(page, "同期加算回数:"), Ed_MeasureAddNum}));
    form->addStretch();
    return page;
}

void TFo_Setup::LoadControls()
{
    Updating = true;
    TSettings& s = Config;
    EditedDriver = s.ASIO.DriverName;
    FillASIOLists();

    const TSettingOperation& op = s.Operation;
    Ch_ClickRoot->setChecked(op.bClickRoot);
    Co_BrowserType->setCurrentIndex(op.nBrowserType);
    Ch_SkipSubFolder->setChecked(op.bBrowserSkipSubFolder);
    Ed_BrowseExts->setText(QString::fromStdString(op.BrowseExts));
    Ch_JukeBoxMode->setChecked(op.bJukeBoxMode);
    Ch_MouseScroll->setChecked(op.bMouseScroll);
    Ch_PlayAtOpen->setChecked(op.bPlayAtOpen);
    for (int i = 0; i < 17; ++i)
        HK_ShortCut[i]->setKeySequence(ShortCutToKeySequence(op.ShortCut[kShortCutOrder[i]]));
    Ch_CheckNew->setChecked(op.bCheckNew);

    const TSettingView& v = s.View;
    Ed_FontSize->setValue(v.nBrowserFontSize);
    Ch_AlphaBlend->setChecked(v.bBrowserAlphaBlend);
    TB_AlphaBlend->setValue(v.nBrowserAlphaBlendValue);
    Ch_SmoothScroll->setChecked(v.bBrowserSmoothScroll);
    Ed_WallPaper->setText(QString::fromStdString(v.WallPaper));

    const TSettingFunction& f = s.Function;
    Ch_Download->setChecked(f.bDownload);
    Ch_DownloadTonkaraOnly->setChecked(f.bDownloadTonkaraOnly);
    Ed_DownloadPath->setText(QString::fromStdString(f.DownloadPath));
    Ed_BGMPlaylist->setText(QString::fromStdString(f.BGMPlaylist));
    Ed_BGMVolume->setValue(f.BGMVolume);
    Ch_SaveHistory->setChecked(f.bSaveHistory);
    Ch_SavePlaylist->setChecked(f.bSavePlaylist);

    Co_DriverType->setCurrentIndex(s.Output.nDriverType);
    for (int i = 0; i < 7; ++i)
        CL_Freq->item(i)->setCheckState(s.Output.bFreq[i] ? Qt::Checked : Qt::Unchecked);

    Co_MMEDevice0->setCurrentIndex(s.MME.Device0 < Co_MMEDevice0->count() ? s.MME.Device0 : -1);
    Co_BufferSize->setCurrentText(QString::number(s.MME.nBufferSize));
    Ed_BufferNum->setValue(s.MME.nBufferNum);

    Co_ASIODevice0->setCurrentIndex(s.ASIO.Device0 < Co_ASIODevice0->count() ? s.ASIO.Device0 : -1);
    Co_ASIOInDevice0->setCurrentIndex(s.ASIO.InDevice0 < Co_ASIOInDevice0->count() ? s.ASIO.InDevice0 : -1);

    Co_EQTaps->setCurrentText(QString::number(s.Filter.EQFilterTaps));
    Co_Bufms->setCurrentText(QString::number(s.Filter.Bufms));
    Co_HSCMode->setCurrentIndex(s.Filter.HSCMode);

    const TSettingReSampler& r = s.ReSampler;
    Ch_UpSampling->setChecked(r.bUpSampling);
    Co_UpFreq->setCurrentText(QString::number(r.nUpFreq));
    Ch_Rational->setChecked(r.bRational);
    Ch_FixFreq->setChecked(r.bFixFreq);
    Co_IWindow->setCurrentIndex(r.IWindow);
    Co_ITaps->setCurrentText(QString::number(r.nITaps));
    Ed_ICutoff->setValue(r.ICutoff);
    (r.RFType == 0 ? RB_Linear : RB_Filtering)->setChecked(true);
    Co_RFTaps->setEnabled(r.RFType != 0);
    Co_RFTaps->setCurrentText(QString::number(r.nRFFilterTaps));
    Ch_Direct[0]->setChecked(r.bDirect3x);
    Ch_Direct[1]->setChecked(r.bDirect5x);
    Ch_Direct[2]->setChecked(r.bDirect7x);
    Co_DWindow->setCurrentIndex(r.DWindow);
    Co_DTaps->setCurrentText(QString::number(r.nDTaps));
    Ch_AutoTapLen->setChecked(r.bAutoTapLen);

    const TSettingMeasure& m = s.Measure;
    const int freq = Co_MeasureFreq->findText(QString::number(m.MeasureFreq));
    Co_MeasureFreq->setCurrentIndex(freq >= 0 ? freq : Co_MeasureFreq->findText("48000"));
    Co_MeasureMethod->setCurrentIndex(m.MeasureMethod);
    Co_MeasureAmplitude->setCurrentText(m.MeasureAmplitude == 0 ? "-0" : QString::number(m.MeasureAmplitude));
    Show(Co_MeasureLen, QString::number(m.MeasureLen));
    Co_MeasureSlope->setCurrentIndex(-m.MeasureSlope / 3);
    Ed_MeasureAddNum->setValue(m.MeasureAddNum);

    RebuildFixFreqList();
    Co_FixFreq->setCurrentText(QString::number(r.nFixFreq));
    Updating = false;
    UpdateResamplingTable();
}

void TFo_Setup::Bu_OKClick()
{
    SaveControls();
    accept();
}

void TFo_Setup::SaveControls()
{
    TSettings& s = Config;
    TSettingOperation& op = s.Operation;
    op.bClickRoot = Ch_ClickRoot->isChecked();
    op.nBrowserType = Co_BrowserType->currentIndex();
    op.bBrowserSkipSubFolder = Ch_SkipSubFolder->isChecked();
    op.BrowseExts = Ed_BrowseExts->text().toStdString();
    op.bJukeBoxMode = Ch_JukeBoxMode->isChecked();
    op.bMouseScroll = Ch_MouseScroll->isChecked();
    op.bPlayAtOpen = Ch_PlayAtOpen->isChecked();
    for (int i = 0; i < 17; ++i) {
        uint16_t& code = op.ShortCut[kShortCutOrder[i]];
        // A key the box shows unchanged keeps its stored code (some keys have two codes).
        if (HK_ShortCut[i]->keySequence() != ShortCutToKeySequence(code))
            code = KeySequenceToShortCut(HK_ShortCut[i]->keySequence());
    }
    op.bCheckNew = Ch_CheckNew->isChecked();

    TSettingView& v = s.View;
    v.nBrowserFontSize = Ed_FontSize->value();
    v.bBrowserAlphaBlend = Ch_AlphaBlend->isChecked();
    v.nBrowserAlphaBlendValue = TB_AlphaBlend->value();
    v.bBrowserSmoothScroll = Ch_SmoothScroll->isChecked();
    v.WallPaper = Ed_WallPaper->text().toStdString();

    TSettingFunction& f = s.Function;
    f.bDownload = Ch_Download->isChecked();
    f.bDownloadTonkaraOnly = Ch_DownloadTonkaraOnly->isChecked();
    f.DownloadPath = Ed_DownloadPath->text().toStdString();
    f.BGMPlaylist = Ed_BGMPlaylist->text().toStdString();
    f.BGMVolume = Ed_BGMVolume->value();
    f.bSaveHistory = Ch_SaveHistory->isChecked();
    f.bSavePlaylist = Ch_SavePlaylist->isChecked();

    s.Output.nDriverType = Co_DriverType->currentIndex();
    for (int i = 0; i < 7; ++i)
        s.Output.bFreq[i] = CL_Freq->item(i)->checkState() == Qt::Checked;

    s.MME.Device0 = Co_MMEDevice0->currentIndex();
    s.MME.nBufferSize = std::clamp(NumberOr(Co_BufferSize->currentText(), s.MME.nBufferSize), 1024, 8192);
    s.MME.nBufferNum = Ed_BufferNum->value();

    s.ASIO.DriverName = EditedDriver;
    s.ASIO.Device0 = Co_ASIODevice0->currentIndex();
    s.ASIO.InDevice0 = Co_ASIOInDevice0->currentIndex();
    if (ChAssignReset)
        s.ASIO.ChAssign0 = 0;

    s.Filter.EQFilterTaps = TSettingFilter::ValidEQTaps(std::max(1023, NumberOr(Co_EQTaps->currentText(), 1023)));
    s.Filter.Bufms = std::clamp(NumberOr(Co_Bufms->currentText(), 500), 100, 3000);
    s.Filter.HSCMode = Co_HSCMode->currentIndex();

    TSettingReSampler& r = s.ReSampler;
    r.bUpSampling = Ch_UpSampling->isChecked();
    r.nUpFreq = NumberOr(Co_UpFreq->currentText(), 48000);
    r.bRational = Ch_Rational->isChecked();
    r.bFixFreq = Ch_FixFreq->isChecked();
    r.nFixFreq = NumberOr(Co_FixFreq->currentText(), 48000);
    r.IWindow = Co_IWindow->currentIndex();
    r.nITaps = NumberOr(Co_ITaps->currentText(), 1023);
    r.ICutoff = Ed_ICutoff->value();
    r.RFType = RB_Filtering->isChecked() ? 1 : 0;
    r.nRFFilterTaps = NumberOr(Co_RFTaps->currentText(), 7);
    r.bDirect3x = Ch_Direct[0]->isChecked();
    r.bDirect5x = Ch_Direct[1]->isChecked();
    r.bDirect7x = Ch_Direct[2]->isChecked();
    r.DWindow = Co_DWindow->currentIndex();
    r.nDTaps = NumberOr(Co_DTaps->currentText(), 1023);
    r.bAutoTapLen = Ch_AutoTapLen->isChecked();

    TSettingMeasure& m = s.Measure;
    m.MeasureFreq = NumberOr(Co_MeasureFreq->currentText(), 48000);
    m.MeasureMethod = Co_MeasureMethod->currentIndex();
    m.MeasureAmplitude = std::clamp(NumberOr(Co_MeasureAmplitude->currentText(), m.MeasureAmplitude), -96, 0);
    m.MeasureLen = Co_MeasureLen->currentIndex() < 0 ? 32768 : NumberOr(Co_MeasureLen->currentText(), 32768);
    m.MeasureSlope = -3 * std::max(0, Co_MeasureSlope->currentIndex());
    m.MeasureAddNum = Ed_MeasureAddNum->value();
}

void TFo_Setup::FillASIOLists()
{
    const bool started = asioStart(EditedDriver.c_str(), &NoRender);
    Co_ASIODriver->clear();
    for (int i = 0; i < ASIODriverCount(); ++i)
        Co_ASIODriver->addItem(QString::fromStdString(ASIODriverName(i)));
    Co_ASIODriver->setCurrentIndex(Co_ASIODriver->findText(QString::fromStdString(EditedDriver)));

    const int device = Co_ASIODevice0->currentIndex() >= 0 ? Co_ASIODevice0->currentIndex() : Config.ASIO.Device0;
    const int input = Co_ASIOInDevice0->currentIndex() >= 0 ? Co_ASIOInDevice0->currentIndex() : Config.ASIO.InDevice0;
    Co_ASIODevice0->clear();
    Co_ASIOInDevice0->clear();
    Co_ASIOChAssign0->clear();
    for (int i = 0; started && i < 32; ++i) {
        const std::string out = ASIOOutputName(2 * i);
        if (out.empty())
            break;
        const QString pair = QString::fromStdString(out) + ", " + QString::fromStdString(ASIOOutputName(2 * i + 1));
        Co_ASIODevice0->addItem(pair);
        if (i == 0)
            Co_ASIOChAssign0->addItem(pair);
    }
    for (int i = 0; started && i < 32; ++i) {
        const std::string in = ASIOInputName(2 * i);
        if (in.empty())
            break;
        Co_ASIOInDevice0->addItem(QString::fromStdString(in) + ", " + QString::fromStdString(ASIOInputName(2 * i + 1)));
    }
    Co_ASIODevice0->setCurrentIndex(device < Co_ASIODevice0->count() ? device : -1);
    Co_ASIOInDevice0->setCurrentIndex(input < Co_ASIOInDevice0->count() ? input : -1);
    asioStop(); // also a driver that failed to start leaves its host behind
}

void TFo_Setup::FreqListChange()
{
    if (Updating)
        return;
    bool any = false;
    for (int i = 0; i < 7; ++i)
        any = any || CL_Freq->item(i)->checkState() == Qt::Checked;
    if (!any) {
        Updating = true;
        CL_Freq->item(1)->setCheckState(Qt::Checked); // 44100
        Updating = false;
    }
    RebuildFixFreqList();
    UpdateResamplingTable();
}

void TFo_Setup::RebuildFixFreqList()
{
    const QString chosen = Co_FixFreq->currentText();
    const bool updating = std::exchange(Updating, true);
    Co_FixFreq->clear();
    for (int i = 0; i < 7; ++i)
        if (CL_Freq->item(i)->checkState() == Qt::Checked)
            Co_FixFreq->addItem(CL_Freq->item(i)->text());
    const int index = Co_FixFreq->findText(chosen);
    Co_FixFreq->setCurrentIndex(index);
    if (index < 0 && !updating)
        Ch_FixFreq->setChecked(false);
    Updating = updating;
}

TResamplingChoice TFo_Setup::CurrentChoice(bool* valid) const
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

void TFo_Setup::UpdateResamplingTable()
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

void TFo_Setup::Bu_ClearHistoryClick()
{
    if (QMessageBox::question(this, "履歴のクリア", "記録した再生履歴を全てクリアします。よろしいですか？",
                              QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    THistory(Folder + "history/").Clear();
}

void TFo_Setup::Bu_ASIOControlPanelClick()
{
    if (EditedDriver != "JACK") {
        QMessageBox::information(this, "ASIOコントロールパネル", "このドライバにはコントロールパネルがありません。");
        return;
    }
    for (const char* program : {"qpwgraph", "qjackctl"}) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty() && QProcess::startDetached(path, {}))
            return;
    }
    QMessageBox::information(this, "ASIOコントロールパネル",
                             "JACKのパッチベイ(qpwgraph または qjackctl)が見つかりません。インストールしてください。");
}

void TFo_Setup::Bu_PlotFilterClick()
{
    const QString tapsText = Co_ITaps->currentText();
    int length = std::max(2, NumberOr(tapsText, 1023));
    NextPow2(length);
    const double cutoff = 0.5 * std::exp2(Ed_ICutoff->value() / 300.0 * 1024.0 / length);
    const int points = length / 2 + 1;
    std::vector<double> magnitude(points);
    for (int i = 0; i < points; ++i)
        magnitude[i] = static_cast<double>(i) / (points - 1) < cutoff ? 1.0 : 0.0;
    const void* channel[] = {magnitude.data()};
    TFlexBuf block;
    block.SetBuf(channel, 1, 65, points);
    LinearPhaseFIR(block);
    block.Window(Co_IWindow->currentIndex());
    const double* taps = static_cast<const double*>(block.GetData(65)[0]);

    auto* plot = new TFo_Plot;
    plot->setWindowTitle("プロット - リサンプリングフィルタ  " + tapsText + " taps  " + Co_IWindow->currentText() +
                         " window");
    plot->LoadBlock(std::span<const double>(taps, static_cast<size_t>(block.GetLength())));
    plot->show();
}

} // namespace marlix
