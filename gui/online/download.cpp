#include "gui/online/download.h"

#include "gui/colour.h"
#include "gui/paintbox.h"
#include "gui/player/rowtext.h"
#include "gui/scrollframe.h"
#include "online/downloadthread.h"
#include "settings/settings.h"
#include "gui/windowtimer.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

namespace marlix {

namespace {

QColor Q(TColor32 c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

TColor32 W(const QColor& c)
{
    return WinRGB(c.red(), c.green(), c.blue());
}

} // namespace

QImage PaintDownloads(const TDownloadView& v)
{
    QImage img(std::max(v.Width, 1), std::max(v.Height, 1), QImage::Format_ARGB32);
    const TColor32 face = W(QApplication::palette().color(QPalette::Button));
    img.fill(Q(MixColor(face, WinRGB(255, 255, 255), 0.5)));
    const QFont font = ListFont(v.FontSize);
    const QFontMetrics metrics(font);
    const int rowHeight = RowHeight(font);
    QPainter p(&img);
    p.setFont(font);
    for (size_t r = 0; r < v.Items.size(); ++r) {
        const int e = v.First + static_cast<int>(r);
        const TDownloadItem& item = v.Items[r];
        const QRect row(0, static_cast<int>(r) * rowHeight, img.width(), rowHeight);
        const bool running = e == v.RunningIndex, hover = e == v.HoverIndex;
        if (running || hover || item.Selected) {
            TColor32 c = WinRGB(255, 255, 255);
            if (running)
                c = MixColor(c, WinRGB(255, 64, 64), 0.5);
            if (item.Selected)
                c = MixColor(c, WinRGB(64, 64, 255), 0.5);
            if (hover)
                c = MixColor(c, WinRGB(128, 128, 255), 0.5);
            p.fillRect(row, Q(c));
            if (running) {
                // A length-less transfer reports more than 100 %: the bar stops at the row's end.
                const int width = row.width() * std::clamp(v.Progress, 0, 100) / 100;
                p.fillRect(QRect(row.left(), row.top(), width, row.height()), Q(MixColor(c, WinRGB(255, 0, 0), 0.5)));
            }
        }
        p.setPen(item.Failed ? QColor(255, 0, 0)
                             : (item.Done || running) ? QColor(0, 0, 0) : QColor(128, 128, 128));
        const QString name = ElideRow(QString::fromStdString(TDownloadRequest::Split(item.Request).DisplayName()),
                                      metrics, img.width(), rowHeight);
        p.drawText(QPoint(3, row.top() + 3 + metrics.ascent()), name);
    }
    return img;
}

TFo_Download::TFo_Download(TDownloadlist& list, TDownloadThread& thread, TSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint),
      List(list),
      Thread(thread),
      Config(settings),
      PB_List(new TPaintBox(this)),
      Fr_Scroll(new TFr_Scroll(&settings.Operation, this)),
      PM_Menu(new QMenu(this)),
      Ti_Check(new TWindowTimer(this, [this] { Ti_CheckTimer(); }))
{
    setObjectName("Fo_Download");
    setWindowTitle(QStringLiteral("ダウンロードキュー"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Fr_Scroll->setObjectName("Fr_Scroll");
    Fr_Scroll->setFixedWidth(16);
    Fr_Scroll->hide();
    layout->addWidget(Fr_Scroll);
    layout->addWidget(PB_List, 1);
    PB_List->setObjectName("PB_List");
    PB_List->setMouseTracking(true);
    PB_List->OnMouseDown = [this](QMouseEvent* e) { MouseDown(e); };
    PB_List->OnMouseMove = [this](QMouseEvent* e) { MouseMove(e); };
    PB_List->OnMouseUp = [this](QMouseEvent*) { Dragging = false; };
    PB_List->OnResize = [this] { Repaint(); };
    PB_List->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(PB_List, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PM_Menu->exec(PB_List->mapToGlobal(at)); });
    BuildMenu();
    Ti_Check->setObjectName("Ti_Check");
    resize(160, 240);
}

void TFo_Download::BuildMenu()
{
    PM_Menu->setObjectName("PM_Menu");
    auto item = [this](const char* name, const QString& caption, auto slot) {
        QAction* a = PM_Menu->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
    };
    item("PM_Delete", QStringLiteral("削除(&D)"), [this] { RemoveSelectedClick(); });
    item("PM_Clear", QStringLiteral("クリア(&C)"), [this] {
        List.Clear();
        Ti_CheckTimer(); // a transfer of a cleared request stops at once
    });
    PM_Menu->addSeparator();
    item("PM_SelectAll", QStringLiteral("全て選択(&A)"), [this] { List.SelectAll(true); Repaint(); });
    item("PM_SelectNone", QStringLiteral("全選択解除(&N)"), [this] { List.SelectAll(false); Repaint(); });
    item("PM_SelectInvert", QStringLiteral("選択の切り替え(&H)"), [this] { List.InvertSelection(); Repaint(); });
}

void TFo_Download::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    resize(160, height());
}

void TFo_Download::RemoveSelectedClick()
{
    List.RemoveSelected();
    Ti_CheckTimer();
}

void TFo_Download::Ti_CheckTimer()
{
    const int change = List.ChangeCount.load();
    const int progress = Thread.Progress.load();
    bool repaint = Fr_Scroll->Changed;
    Fr_Scroll->Changed = false;
    if (change != SeenChange) {
        SeenChange = change;
        repaint = true;
        const std::string current = Thread.CurrentRequest();
        const auto items = List.Items();
        RunningIndex = -1;
        for (size_t i = 0; i < items.size() && !current.empty(); ++i)
            if (items[i].Request == current && !items[i].Done && !items[i].Failed)
                RunningIndex = static_cast<int>(i);
        // The running request was removed: stop its transfer.
        if (!current.empty() && RunningIndex < 0)
            Thread.CancelIfCurrent(current);
    }
    if (progress != SeenProgress) {
        SeenProgress = progress;
        repaint = true;
    }
    if (repaint)
        Repaint();
    const bool any = List.Count() > 0;
    PM_Menu->findChild<QAction*>("PM_Delete")->setEnabled(List.CountSelected() > 0);
    for (const char* name : {"PM_Clear", "PM_SelectAll", "PM_SelectNone", "PM_SelectInvert"})
        PM_Menu->findChild<QAction*>(name)->setEnabled(any);
}

void TFo_Download::Repaint()
{
    RowPixels = marlix::RowHeight(ListFont(Config.View.nBrowserFontSize));
    const auto items = List.Items();
    const int count = static_cast<int>(items.size());
    const bool scroll = PB_List->height() / RowPixels < count;
    if (Fr_Scroll->isVisible() != scroll)
        Fr_Scroll->setVisible(scroll);
    Fr_Scroll->SetRowHeight(RowPixels);
    Fr_Scroll->SetCount(count);
    TDownloadView v;
    v.First = scroll ? Fr_Scroll->Position() : 0;
    const int shown = PB_List->height() / RowPixels + 1;
    for (int i = v.First; i < count && i < v.First + shown; ++i)
        v.Items.push_back(items[static_cast<size_t>(i)]);
    v.HoverIndex = HoverIndex;
    v.RunningIndex = RunningIndex;
    v.Progress = Thread.Progress.load();
    v.Width = PB_List->width();
    v.Height = PB_List->height();
    v.FontSize = Config.View.nBrowserFontSize;
    PB_List->SetImage(PaintDownloads(v));
}

int TFo_Download::RowAt(int y) const
{
    const int first = Fr_Scroll->isVisible() ? Fr_Scroll->Position() : 0;
    const int row = first + y / std::max(RowPixels, 1);
    return row < static_cast<int>(List.Count()) ? row : -1;
}

void TFo_Download::MouseDown(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    const int row = RowAt(e->position().toPoint().y());
    if (row < 0)
        return;
    if (!(e->modifiers() & Qt::ControlModifier))
        List.SelectAll(false);
    if ((e->modifiers() & Qt::ShiftModifier) && Anchor < static_cast<int>(List.Count())) {
        const int from = std::max(Anchor, 0);
        for (int i = std::min(from, row); i <= std::max(from, row); ++i)
            List.SetSelected(static_cast<size_t>(i), true);
    } else {
        List.SetSelected(static_cast<size_t>(row), !List.Item(static_cast<size_t>(row))->Selected);
    }
    Anchor = row;
    HoverIndex = row;
    Dragging = true;
    Repaint();
}

void TFo_Download::MouseMove(QMouseEvent* e)
{
    const int row = RowAt(e->position().toPoint().y());
    if (row == HoverIndex)
        return;
    HoverIndex = row;
    if (Dragging && (e->buttons() & Qt::LeftButton) && row >= 0)
        List.SetSelected(static_cast<size_t>(row), !List.Item(static_cast<size_t>(row))->Selected);
    Repaint();
}

void TFo_Download::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Delete)
        RemoveSelectedClick();
    else
        QWidget::keyPressEvent(e);
}

} // namespace marlix
