#include "gui/player/playlistwindow.h"

#include "gui/colour.h"
#include "gui/paintbox.h"
#include "gui/player/properties.h"
#include "gui/player/rowtext.h"
#include "gui/scrollframe.h"
#include "gui/shading.h"
#include "gui/speedbutton.h"
#include "player/playerstate.h"
#include "settings/settings.h"
#include "gui/windowtimer.h"

#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>

namespace marlix {

namespace {

constexpr int kScrollWidth = 16;

// Fills one marked row: plain for a row that is only selected, else a bar in its colour.
void PaintRowBack(QImage& img, const QRect& row, bool hover, bool selected, bool playing, bool cursor)
{
    if (!(hover || selected || playing || cursor))
        return;
    const TColor32 white = PixRGB(255, 255, 255);
    TColor32 c = white;
    if (hover)
        c = MixColor(c, PixRGB(128, 128, 255), 0.5);
    if (selected)
        c = MixColor(c, PixRGB(0, 0, 255), 0.5);
    if (playing)
        c = MixColor(c, PixRGB(255, 0, 0), 0.5);
    if (selected && !hover && !playing && !cursor) {
        QPainter(&img).fillRect(row, QColor(192, 192, 255));
    } else {
        DrawBar(img, row, MixColor(c, white, 0.5), false, 0.25, MixColor(c, PixRGB(0, 0, 0), 1.0 / 6));
    }
    if (cursor) {
        QPainter p(&img);
        p.setPen(QColor(0, 0, 255));
        p.drawRect(row.adjusted(0, 0, -1, -1));
    }
}

} // namespace

QImage PaintPlaylist(const TPlaylistView& v)
{
    QImage img(std::max(v.Width, 1), std::max(v.Height, 1), QImage::Format_ARGB32);
    img.fill(Qt::white);
    const QFont font = ListFont(v.FontSize);
    const QFontMetrics metrics(font);
    const int rowHeight = RowHeight(font);
    const int shown = static_cast<int>(v.Items.size());
    for (int r = 0; r <= img.height() / rowHeight && r < shown; ++r) {
        const int e = v.First + r;
        const TPlayItem& item = v.Items[size_t(r)];
        const QRect row(0, r * rowHeight, img.width(), rowHeight);
        PaintRowBack(img, row, e == v.HoverIndex, item.Selected, e == v.PlayingIndex, e == v.CursorIndex);
        QPainter p(&img);
        p.setFont(font);
        p.setPen(item.Failed ? QColor(255, 0, 0) : item.Played ? QColor(128, 128, 128) : QColor(0, 0, 0));
        const QString name = ElideRow(QString::fromStdString(item.DisplayName()), metrics, img.width(), rowHeight);
        p.drawText(QPoint(3, r * rowHeight + 3 + metrics.ascent()), name);
    }
    return img;
}

TFo_Playlist::TFo_Playlist(TPlayerState& state, TPlaylist& playlist, TSettings& settings, QWidget* parent)
    : QWidget(parent)
    , State(state)
    , Playlist(playlist)
    , Config(settings)
    , PB_List(new TPaintBox(this))
    , Fr_Scroll(new TFr_Scroll(&settings.Operation, this))
    , PM_Menu(new QMenu(this))
    , Ti_Check(new TWindowTimer(this, [this] { Ti_CheckTimer(); }))
{
    setObjectName("Fo_Playlist");
    setWindowTitle(QStringLiteral("プレイリスト"));
    setFocusPolicy(Qt::StrongFocus);
    PB_List->setObjectName("PB_List");
    SetHint(PB_List, QStringLiteral("|ダブルクリックで再生、Deleteキーで選択中の項目を削除します"));
    PB_List->setMouseTracking(true);
    PB_List->installEventFilter(this);
    PB_List->OnMouseDown = [this](QMouseEvent* e) { MouseDown(e); };
    PB_List->OnMouseMove = [this](QMouseEvent* e) { MouseMove(e); };
    PB_List->OnMouseUp = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton)
            DragSelecting = false;
    };
    PB_List->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(PB_List, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PM_Menu->exec(PB_List->mapToGlobal(at)); });
    Fr_Scroll->setObjectName("Fr_Scroll");
    Fr_Scroll->hide();
    BuildMenu();
    resize(320, 400);

    Ti_Check->setObjectName("Ti_Check");
}

QAction* TFo_Playlist::MenuItem(const char* name, const QString& caption, const QString& hint,
                                void (TFo_Playlist::*slot)())
{
    QAction* a = PM_Menu->addAction(caption);
    a->setObjectName(name);
    a->setStatusTip(hint);
    connect(a, &QAction::triggered, this, [this, slot] { (this->*slot)(); });
    return a;
}

void TFo_Playlist::BuildMenu()
{
    PM_Menu->setObjectName("PM_Menu");
    MenuItem("PM_Delete", QStringLiteral("削除(&D)"), QStringLiteral("選択中の項目を削除します"),
             &TFo_Playlist::DeleteSelectedClick);
    MenuItem("PM_Clear", QStringLiteral("クリア(&C)"), QStringLiteral("全ての項目を削除します"),
             &TFo_Playlist::ClearClick);
    MenuItem("PM_Save", QStringLiteral("保存(&S)..."), QString(), &TFo_Playlist::SaveClick);
    // Shown by EnableDownloads when the online library is on.
    QAction* download = PM_Menu->addAction(QStringLiteral("ダウンロード(&O)"));
    download->setObjectName("PM_Download");
    download->setVisible(false);
    PM_Menu->addSeparator();
    MenuItem("PM_SelectAll", QStringLiteral("全て選択(&A)"), QStringLiteral("全ての項目を選択します"),
             &TFo_Playlist::SelectAllClick);
    MenuItem("PM_SelectNone", QStringLiteral("全選択解除(&N)"), QString(), &TFo_Playlist::SelectNoneClick);
    MenuItem("PM_SelectInvert", QStringLiteral("選択の切り替え(&H)"), QStringLiteral("選択/非選択を切り替えます"),
             &TFo_Playlist::InvertSelectionClick);
    PM_Menu->addSeparator();
    MenuItem("PM_Property", QStringLiteral("プロパティ(&R)"), QString(), &TFo_Playlist::PropertyClick);
}

int TFo_Playlist::FirstVisible() const { return !Fr_Scroll->isHidden() ? Fr_Scroll->Position() : 0; }

TPlaylistView TFo_Playlist::CurrentView() const
{
    TPlaylistView v;
    v.Count = Playlist.Count();
    v.First = FirstVisible();
    const int rows = std::max(PB_List->height(), 0) / RowPixels + 1;
    const auto& all = Playlist.Items();
    const auto begin = all.begin() + std::clamp(v.First, 0, v.Count);
    v.Items.assign(begin, begin + std::clamp(rows, 0, int(all.end() - begin)));
    v.HoverIndex = Playlist.HoverIndex;
    v.CursorIndex = Playlist.CursorIndex;
    v.PlayingIndex = Playlist.PlayingIndex;
    v.Width = PB_List->width();
    v.Height = PB_List->height();
    v.FontSize = Config.View.nBrowserFontSize;
    return v;
}

void TFo_Playlist::Ti_CheckTimer()
{
    if (Fr_Scroll->Changed)
        Fr_Scroll->Changed = false;
    if (CurrentView() != Drawn)
        Repaint();
    const bool any = Playlist.Count() > 0;
    const bool selected = Playlist.CountSelected() > 0;
    if (SelectionItems.empty()) {
        for (const char* name : {"PM_Delete", "PM_Download"})
            SelectionItems.push_back(PM_Menu->findChild<QAction*>(name));
        for (const char* name : {"PM_Save", "PM_Clear", "PM_SelectAll", "PM_SelectNone", "PM_SelectInvert"})
            ListItems.push_back(PM_Menu->findChild<QAction*>(name));
    }
    for (QAction* a : SelectionItems)
        a->setEnabled(selected);
    for (QAction* a : ListItems)
        a->setEnabled(any);
}

// The scroll frame shows exactly when the rows do not all fit; a change only toggles it,
// and the resize that follows repaints.
void TFo_Playlist::PlaceFrame()
{
    const bool wanted = height() / RowPixels < Playlist.Count();
    Fr_Scroll->setGeometry(width() - kScrollWidth, 0, kScrollWidth, height());
    PB_List->setGeometry(0, 0, wanted ? width() - kScrollWidth : width(), height());
    if (Fr_Scroll->isHidden() == wanted)
        Fr_Scroll->setVisible(wanted);
}

void TFo_Playlist::Repaint()
{
    RowPixels = marlix::RowHeight(ListFont(Config.View.nBrowserFontSize));
    Fr_Scroll->SetRowHeight(RowPixels);
    Fr_Scroll->SetCount(Playlist.Count());
    PlaceFrame();
    Drawn = CurrentView();
    PB_List->SetImage(PaintPlaylist(Drawn));
}

void TFo_Playlist::resizeEvent(QResizeEvent*) { Repaint(); }

int TFo_Playlist::RowAt(double y) const { return int(y) / RowPixels + FirstVisible(); }

void TFo_Playlist::MouseDown(QMouseEvent* e)
{
    setFocus();
    const int row = RowAt(e->position().y());
    if (row >= 0 && row < Playlist.Count())
        Playlist.HoverIndex = row;
    Playlist.CursorIndex = Playlist.HoverIndex;
    if (e->button() == Qt::LeftButton) {
        DragSelecting = true;
        if (row < Playlist.Count()) {
            if (!(e->modifiers() & Qt::ControlModifier))
                SelectNoneClick();
            if ((e->modifiers() & Qt::ShiftModifier) && Playlist.AnchorIndex < Playlist.Count()) {
                const int anchor = std::max(Playlist.AnchorIndex, 0);
                for (int i = std::min(anchor, row); i <= std::max(anchor, row); ++i)
                    Playlist.Item(i).Selected = true;
            } else {
                Playlist.Item(row).Selected = !Playlist.Item(row).Selected;
            }
            Playlist.AnchorIndex = row;
        }
    }
    Repaint();
}

void TFo_Playlist::MouseMove(QMouseEvent* e)
{
    const int row = RowAt(e->position().y());
    if (row < 0 || row >= Playlist.Count() || row == Playlist.HoverIndex || !State.Command.Empty())
        return;
    Playlist.HoverIndex = row;
    if (DragSelecting)
        Playlist.Item(row).Selected = !Playlist.Item(row).Selected;
    Repaint();
}

void TFo_Playlist::DoubleClick()
{
    if (Playlist.CursorIndex < 0)
        return;
    State.BGMActive = false;
    State.Command.Post("Play");
    Playlist.PlayingIndex = -1;
}

void TFo_Playlist::MoveCursor(int step, bool extend)
{
    if (Playlist.Count() == 0)
        return;
    const int row = std::clamp(Playlist.CursorIndex + step, 0, Playlist.Count() - 1);
    if (!extend || Playlist.AnchorIndex < 0 || Playlist.AnchorIndex >= Playlist.Count())
        Playlist.AnchorIndex = row;
    SelectNoneClick();
    const int anchor = Playlist.AnchorIndex;
    for (int i = std::min(anchor, row); i <= std::max(anchor, row); ++i)
        Playlist.Item(i).Selected = true;
    Playlist.CursorIndex = row;
    // Keep the cursor row in view.
    const int visible = std::max(1, PB_List->height() / RowPixels);
    if (row < FirstVisible())
        Fr_Scroll->SetPosition(row);
    else if (row >= FirstVisible() + visible)
        Fr_Scroll->SetPosition(row - visible + 1);
    Repaint();
}

void TFo_Playlist::Wheel(int delta)
{
    Fr_Scroll->SetPosition(Fr_Scroll->Position() - delta / 40);
    Repaint();
}

bool TFo_Playlist::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == PB_List) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                DoubleClick();
            return true;
        }
        if (event->type() == QEvent::Wheel) {
            Wheel(static_cast<QWheelEvent*>(event)->angleDelta().y());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFo_Playlist::keyPressEvent(QKeyEvent* e)
{
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    switch (e->key()) {
    case Qt::Key_Delete:
        DeleteSelectedClick();
        break;
    case Qt::Key_Up:
        MoveCursor(-1, shift);
        break;
    case Qt::Key_Down:
        MoveCursor(1, shift);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        DoubleClick();
        break;
    case Qt::Key_A:
        if (e->modifiers() & Qt::ControlModifier) {
            SelectAllClick();
            break;
        }
        [[fallthrough]];
    default:
        QWidget::keyPressEvent(e);
    }
}

void TFo_Playlist::DeleteSelectedClick()
{
    Playlist.DeleteSelected();
    Repaint();
}

void TFo_Playlist::ClearClick()
{
    Playlist.Clear();
    Repaint();
}

void TFo_Playlist::SaveClick()
{
    QFileDialog dialog(this, QString(), QString(), QStringLiteral("*.m3u (*.m3u);;*.* (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("m3u"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString file = dialog.selectedFiles().first();
    if (!Playlist.SavePlaylist(file.toStdString()))
        QMessageBox::warning(this, QStringLiteral("プレイリスト"),
                             QStringLiteral("%1 に保存できませんでした。").arg(file));
}

void TFo_Playlist::SelectAllClick()
{
    for (int i = 0; i < Playlist.Count(); ++i)
        Playlist.Item(i).Selected = true;
    Repaint();
}

void TFo_Playlist::SelectNoneClick()
{
    for (int i = 0; i < Playlist.Count(); ++i)
        Playlist.Item(i).Selected = false;
    Repaint();
}

void TFo_Playlist::InvertSelectionClick()
{
    for (int i = 0; i < Playlist.Count(); ++i)
        Playlist.Item(i).Selected = !Playlist.Item(i).Selected;
    Repaint();
}

void TFo_Playlist::PropertyClick()
{
    if (Playlist.HoverIndex < 0 || Playlist.HoverIndex >= Playlist.Count())
        return;
    TFo_Properties dialog(Playlist.Item(Playlist.HoverIndex).FileName, this);
    dialog.exec();
}

void TFo_Playlist::EnableDownloads(std::function<void(const std::vector<std::string>&)> download)
{
    QAction* item = PM_Menu->findChild<QAction*>("PM_Download");
    item->setVisible(true);
    connect(item, &QAction::triggered, this, [this, download] {
        std::vector<std::string> entries;
        for (int i = 0; i < Playlist.Count(); ++i)
            if (Playlist.Item(i).Selected)
                entries.push_back(Playlist.Item(i).Location());
        download(entries);
    });
}

} // namespace marlix
