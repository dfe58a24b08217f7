#include "gui/player/browserframe.h"

#include "gui/colour.h"
#include "gui/paintbox.h"
#include "gui/player/browserlister.h"
#include "gui/player/rowtext.h"
#include "gui/scrollframe.h"
#include "gui/shading.h"
#include "gui/speedbutton.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "settings/settings.h"

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <filesystem>

namespace marlix {

namespace {

constexpr int kScrollWidth = 16;
const QColor kShadow(160, 160, 160);

QFont BrowserFont(int size, const QString& name)
{
    QFont f = ListFont(size);
    if (!name.isEmpty())
        f.setFamilies({name, QStringLiteral("Noto Sans CJK JP")});
    return f;
}

void HoverBar(QImage& img, const QRect& r)
{
    DrawBar(img, r, PixRGB(224, 224, 255), false, 0.25, PixRGB(160, 160, 255));
}

// A drawing pin seen from the side: round head, collar and needle.
QIcon PinIcon()
{
    QPixmap pin(16, 16);
    pin.fill(Qt::transparent);
    QPainter p(&pin);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(96, 96, 96), 1.5));
    p.drawLine(QPointF(8, 9), QPointF(8, 15));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(64, 64, 255));
    p.drawEllipse(QRectF(4, 1, 8, 6));
    p.drawRect(QRectF(6, 6, 4, 3));
    return QIcon(pin);
}

QChar FirstLetter(const QString& s) { return s.isEmpty() ? QChar() : s[0].toUpper(); }

void DrawCell(QPainter& p, const QFontMetrics& m, const QString& text, int x, int y, int width, int rowHeight)
{
    p.drawText(QPoint(x + 3, y + 3 + m.ascent()), ElideRow(text, m, width, rowHeight));
}

void DrawTriangle(QPainter& p, bool filled, int right, int top, int rowHeight)
{
    static const QImage outline = BrowserTriangle(false);
    static const QImage solid = BrowserTriangle(true);
    p.drawImage(right - 3 - 10, top + (rowHeight - 9) / 2, filled ? solid : outline);
}

void PaintSingle(QImage& img, QPainter& p, const TBrowserView& v, const std::vector<QString>& texts,
                 const std::vector<char>& folders, const QFontMetrics& m)
{
    const TBrowserGeometry& g = v.Geometry;
    const int rh = g.RowHeight;
    const QFont font = p.font();
    for (int r = 0; r <= g.Rows() + 1; ++r) {
        const int e = g.Scroll + r;
        if (e >= g.Count)
            break;
        if (e == v.Hover) {
            p.end();
            HoverBar(img, QRect(0, r * rh, img.width(), rh));
            p.begin(&img);
            p.setFont(font);
        }
        if (v.Separators && e > 0 && FirstLetter(texts[size_t(e)]) != FirstLetter(texts[size_t(e - 1)])) {
            p.setPen(kShadow);
            p.drawLine(0, r * rh, img.width() - 1, r * rh);
        }
        p.setPen(Qt::black);
        DrawCell(p, m, texts[size_t(e)], 0, r * rh, img.width(), rh);
        if (folders[size_t(e)])
            DrawTriangle(p, false, img.width(), r * rh, rh);
    }
}

void PaintPaged(QImage& img, QPainter& p, const TBrowserView& v, const std::vector<QString>& texts,
                const std::vector<char>& folders, const QFontMetrics& m)
{
    const TBrowserGeometry& g = v.Geometry;
    const int rh = g.RowHeight, cw = g.ColumnWidth, rows = g.Rows(), cols = g.Columns();
    const QFont font = p.font();
    const auto bar = [&](const QRect& r) {
        p.end();
        HoverBar(img, r);
        p.begin(&img);
        p.setFont(font);
    };
    for (int c = 0; c < cols; ++c) {
        if (c > 0) {
            p.setPen(kShadow);
            p.drawLine(c * cw - 1, 0, c * cw - 1, img.height() - 1);
        }
        for (int r = 0; r < rows; ++r) {
            const int e = g.Scroll + c * rows + r;
            if (e >= g.Count)
                break;
            if (e == v.Hover && !v.HoverInZone)
                bar(QRect(c * cw, r * rh, cw - 1, rh));
            p.setPen(Qt::black);
            DrawCell(p, m, texts[size_t(e)], c * cw, r * rh, cw, rh);
            if (folders[size_t(e)])
                DrawTriangle(p, e == v.Hover && v.HoverInZone, (c + 1) * cw - 1, r * rh, rh);
        }
    }
    const int y = rows * rh;
    const auto button = [&](int col, int code, const QString& text) {
        if (v.Hover == code)
            bar(QRect(col * cw, y, cw - 1, rh));
        QFont bold = font;
        bold.setBold(true);
        p.setFont(bold);
        p.setPen(QColor(0, 0, 192));
        p.drawText(QPoint(col * cw + 3, y + 3 + m.ascent()), text);
        p.setFont(font);
    };
    if (g.NeedsPageButtons()) {
        if (cols >= 2)
            button(0, bnPrevPage, QStringLiteral("前のページ"));
        button(cols >= 2 ? 1 : 0, bnNextPage, QStringLiteral("次のページ"));
    }
    if (cols > 2)
        button(cols - 1, bnBack, QStringLiteral("戻る"));
}

} // namespace

QImage BrowserTriangle(bool filled)
{
    QImage img(10, 9, QImage::Format_ARGB32);
    img.fill(QColor(255, 255, 255, 0));
    for (int i = 0; i <= 4; ++i) {
        const TColor32 c = MixColor(PixRGB(64, 64, 255), PixRGB(160, 160, 255), std::sqrt(i / 4.0)) | 0xFF000000u;
        const int end = int(std::lround(10.0 * (i + 1) / 5));
        for (int x = 0; x < end; ++x) {
            img.setPixel(x, i, c);
            img.setPixel(x, 8 - i, c);
        }
    }
    if (!filled)
        for (int row : {2, 3})
            for (int x = 1; x < 10 * (row + 1) / 5 - 2; ++x) {
                img.setPixel(x, row, 0xFFFFFFFFu);
                img.setPixel(x, 8 - row, 0xFFFFFFFFu);
            }
    return img;
}

QImage PaintBrowser(const TBrowserView& v, const std::vector<QString>& texts, const std::vector<char>& folders)
{
    QImage img(std::max(v.Geometry.Width, 1), std::max(v.Geometry.Height, 1), QImage::Format_ARGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    const QFont font = BrowserFont(v.FontSize, v.FontName);
    p.setFont(font);
    const QFontMetrics m(font);
    if (v.Geometry.Paged)
        PaintPaged(img, p, v, texts, folders, m);
    else
        PaintSingle(img, p, v, texts, folders, m);
    return img;
}

TFr_Browser::TFr_Browser(TBrowserContext& context, bool rootList, QWidget* parent)
    : QWidget(parent)
    , Context(context)
    , RootList(rootList)
    , Pa_Top(new QWidget(this))
    , La_Page(new QLabel(Pa_Top))
    , Bu_Pin(new QToolButton(Pa_Top))
    , PB_Browser(new TPaintBox(this))
    , Fr_Scroll(new TFr_Scroll(&context.Settings.Operation, this))
    , Ti_Slide(new QTimer(this))
{
    setObjectName("Fr_Browser");
    Separators = !rootList;
    Pa_Top->setObjectName("Pa_Top");
    Pa_Top->hide();
    La_Page->setObjectName("La_Page");
    La_Page->setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 9));
    Bu_Pin->setObjectName("Bu_Pin");
    Bu_Pin->setCheckable(true);
    Bu_Pin->setAutoRaise(true);
    Bu_Pin->setIcon(PinIcon());
    SetHint(Bu_Pin, QStringLiteral("ピン|押している間はクリックしてもポップアップを閉じません (予約モード)"));
    connect(Bu_Pin, &QToolButton::clicked, this, [this](bool on) { Context.State.Reserve = on; });
    PB_Browser->setObjectName("PB_Browser");
    PB_Browser->setMouseTracking(true);
    PB_Browser->OnMouseMove = [this](QMouseEvent* e) { MouseMove(e); };
    PB_Browser->OnMouseDown = [this](QMouseEvent* e) { MouseDown(e); };
    PB_Browser->OnResize = [this] { Repaint(); };
    PB_Browser->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(PB_Browser, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { ContextMenu(at); });
    Fr_Scroll->setObjectName("Fr_Scroll");
    Fr_Scroll->hide();
    Ti_Slide->setObjectName("Ti_Slide");
    connect(Ti_Slide, &QTimer::timeout, this, [this] { SlideStep(); });
    connect(&Context.Lister, &TBrowserLister::Listed, this, [this](const QString& key) { PreviewArrived(key); });
    SetHint(PB_Browser, QString::fromStdString("|" + HelpText()));
    BuildFavoritesMenu();
}

std::string TFr_Browser::HelpText() const
{
    return Paged ? "三角をクリックしてフォルダの中身を表示、ファイルのクリックで曲を、フォルダのクリックでフォルダにある全ての曲をプレイリストに追加します"
                 : "三角上にマウスを移動してフォルダの中身を表示、ファイルのクリックで曲を、フォルダのクリックでフォルダにある全ての曲をプレイリストに追加します";
}

void TFr_Browser::BuildFavoritesMenu()
{
    PM_Favorites = new QMenu(this);
    PM_Favorites->setObjectName("PM_Favorites");
    QAction* add = PM_Favorites->addAction(QStringLiteral("新規お気に入り検索条件(&N)"));
    add->setObjectName("PM_NewFavorite");
    connect(add, &QAction::triggered, this, [this] {
        Context.State.NewFavoriteRequest = true;
        Context.CloseRequest = true;
    });
    PM_FavDelete = PM_Favorites->addAction(QStringLiteral("削除(&D)"));
    PM_FavDelete->setObjectName("PM_FavDelete");
    PM_FavDelete->setShortcut(QKeySequence::Delete);
    connect(PM_FavDelete, &QAction::triggered, this, [this] {
        // Only a saved search is ever deleted, whatever else is hovered.
        const QString path = QString::fromStdString(HoverPath);
        std::error_code ec;
        if (path.endsWith(QStringLiteral(".mxp"), Qt::CaseInsensitive) &&
            std::filesystem::is_regular_file(HoverPath, ec))
            std::filesystem::remove(HoverPath, ec);
        Context.CloseRequest = true;
    });
}

void TFr_Browser::ShowFolder(const std::string& path, std::vector<std::string> entries)
{
    if (Context.Roots.IsFavoritesFolder(path))
        FavoritesMenu = true;
    Folder = WithSlash(path);
    Entries = std::move(entries);
    Texts.clear();
    Folders.clear();
    for (const auto& e : Entries) {
        const bool file = !e.empty() && e[0] == '!';
        Folders.push_back(!file);
        const std::string text = file ? e.substr(1) : Folder.empty() ? Context.Roots.DisplayName(e) : e;
        Texts.push_back(QString::fromStdString(text));
    }
    HoverIndex = -1;
    HoverInZone = false;
    HoverPath.clear();
    Preview = {};
    PreviewKey.clear();
    Scroll = std::clamp(Scroll, 0, std::max(0, int(Entries.size()) - 1));
    Layout();
    Repaint(true);
}

TBrowserGeometry TFr_Browser::Geometry() const
{
    return {PB_Browser->width(), PB_Browser->height(), RowHeight, ColumnWidth, Paged, int(Entries.size()), Scroll};
}

TBrowserListingRequest TFr_Browser::PreviewRequest(const std::string& folder) const
{
    const TSettings& s = Context.Settings;
    return {folder, s.Operation.BrowseExts, s.Operation.bBrowserSkipSubFolder,
            {Context.State.SortMode, Context.State.SortInv}};
}

bool TFr_Browser::HoveredFolderReady() const { return !PreviewKey.empty() && !Preview.Folder.empty(); }

const QImage& TFr_Browser::Picture() const { return PB_Browser->Image(); }

bool TFr_Browser::SlideRunning() const { return Ti_Slide->isActive(); }

std::string TFr_Browser::EntryPath(int index) const
{
    const std::string& e = Entries[size_t(index)];
    return WithoutSlash(Folder + (e[0] == '!' ? e.substr(1) : e));
}

void TFr_Browser::ShowTopPanel(bool show)
{
    Pa_Top->setVisible(show);
    Layout();
}

void TFr_Browser::resizeEvent(QResizeEvent*) { Layout(); }

void TFr_Browser::Layout()
{
    const QFont font = BrowserFont(Context.Settings.View.nBrowserFontSize,
                                   QString::fromStdString(Context.Settings.View.BrowserFontName));
    RowHeight = marlix::RowHeight(font);
    const int top = Pa_Top->isVisible() ? TopPanelHeight : 0;
    Pa_Top->setGeometry(0, 0, width(), TopPanelHeight);
    La_Page->setGeometry(4, 0, std::max(0, width() - 30), TopPanelHeight);
    Bu_Pin->setGeometry(width() - 24, 1, 22, 20);
    const int listHeight = std::max(0, height() - top);
    const bool scroll = !Paged && RowHeight > 0 && listHeight / RowHeight < int(Entries.size());
    Fr_Scroll->setVisible(scroll);
    const int listWidth = width() - (scroll ? kScrollWidth : 0);
    Fr_Scroll->setGeometry(listWidth, top, kScrollWidth, listHeight);
    Fr_Scroll->SetRowHeight(RowHeight);
    Fr_Scroll->SetCount(int(Entries.size()));
    Fr_Scroll->SetPosition(Scroll);
    PB_Browser->setGeometry(0, top, listWidth, listHeight);
}

void TFr_Browser::Repaint(bool force)
{
    if (SlideRunning())
        return;
    TBrowserView v;
    v.Geometry = Geometry();
    v.Hover = HoverIndex;
    v.HoverInZone = HoverInZone;
    v.Separators = Separators && Context.State.SortMode == 0;
    v.FontSize = Context.Settings.View.nBrowserFontSize;
    v.FontName = QString::fromStdString(Context.Settings.View.BrowserFontName);
    if (!force && v == Drawn && !PB_Browser->Image().isNull())
        return;
    Drawn = v;
    PB_Browser->SetImage(PaintBrowser(v, Texts, Folders));
    UpdateLabel();
}

void TFr_Browser::UpdateLabel()
{
    if (!Paged)
        return;
    const TBrowserGeometry g = Geometry();
    QString text = QStringLiteral("(%1/%2)").arg(g.Scroll / std::max(1, g.PageSize()) + 1).arg(g.Pages());
    const int last = std::min(g.Count, g.Scroll + g.PageSize()) - 1;
    if (Context.State.SortMode == 0 && last >= g.Scroll)
        text += QStringLiteral("  %1-%2").arg(FirstLetter(Texts[size_t(g.Scroll)]), FirstLetter(Texts[size_t(last)]));
    if (HoverIndex >= 0 && HoverIndex < g.Count)
        text += QStringLiteral("  ") + Texts[size_t(HoverIndex)];
    La_Page->setText(text);
    Bu_Pin->setChecked(Context.State.Reserve);
}

void TFr_Browser::Tick()
{
    Bu_Pin->setChecked(Context.State.Reserve);
    if (Fr_Scroll->Changed) {
        Fr_Scroll->Changed = false;
        Scroll = Fr_Scroll->Position();
        Repaint();
    }
}

void TFr_Browser::ScrollRows(int rows)
{
    const TBrowserGeometry g = Geometry();
    const int last = std::max(0, g.Count - g.Rows());
    Scroll = std::clamp(Scroll + rows, 0, last);
    Fr_Scroll->SetPosition(Scroll);
    Repaint();
}

void TFr_Browser::MouseMove(QMouseEvent* e)
{
    const int x = int(e->position().x()), y = int(e->position().y());
    const TBrowserGeometry g = Geometry();
    const int index = g.HitTest(x, y);
    const bool inZone = g.InTriangleZone(x);
    if (index < 0 || (index == HoverIndex && inZone == HoverInZone))
        return;
    QToolTip::hideText();
    HoverIndex = index;
    HoverX = x;
    HoverInZone = inZone;
    NeedsPopup = true;
    Repaint();
    MakePreview();
    if (OnHover)
        OnHover();
}

void TFr_Browser::MakePreview()
{
    const bool folder = HoverIndex >= 0 && HoverIndex < int(Entries.size()) && Folders[size_t(HoverIndex)];
    OpenWhenReady = false;
    if (!folder) {
        HoverPath = HoverIndex >= 0 && HoverIndex < int(Entries.size()) ? EntryPath(HoverIndex) : std::string();
        Preview = {};
        PreviewKey.clear();
        SetHint(PB_Browser, QString::fromStdString("|" + HelpText()));
        return;
    }
    HoverPath = EntryPath(HoverIndex);
    const TBrowserListingRequest request = PreviewRequest(HoverPath);
    PreviewKey = request.Key();
    Preview = {};
    if (const auto cached = Context.Lister.Cached(request))
        ApplyPreview(*cached);
    else
        SetHint(PB_Browser, QString::fromStdString("|" + HelpText()));
    Context.Lister.Request(request);
}

void TFr_Browser::ApplyPreview(const TBrowserListing& listing)
{
    Preview = listing;
    const std::string hint = PreviewHint(Preview.Entries, HelpText());
    SetHint(PB_Browser, QString::fromStdString(HoverInZone ? hint : "|" + HelpText()));
    if (HoverInZone && PB_Browser->underMouse())
        QToolTip::showText(QCursor::pos(), PB_Browser->toolTip(), PB_Browser);
}

void TFr_Browser::PreviewArrived(const QString& key)
{
    if (PreviewKey.empty() || key.toStdString() != PreviewKey)
        return;
    const auto listing = Context.Lister.Cache().Find(PreviewKey);
    if (!listing || *listing == Preview)
        return;
    ApplyPreview(*listing);
    if (OpenWhenReady) {
        OpenInPlace();
        return;
    }
    NeedsPopup = true;
    if (OnHover)
        OnHover();
}

void TFr_Browser::ContextMenu(const QPoint& at)
{
    QMenu* menu = FavoritesMenu ? PM_Favorites : RootMenu;
    if (!menu)
        return;
    const std::string& e = HoverIndex >= 0 && HoverIndex < int(Entries.size()) ? Entries[size_t(HoverIndex)] : "";
    const std::string lower = QString::fromStdString(e).toLower().toStdString();
    PM_FavDelete->setEnabled(lower.size() > 4 && lower.ends_with(".mxp"));
    menu->popup(PB_Browser->mapToGlobal(at));
}

void TFr_Browser::MouseDown(QMouseEvent* e)
{
    if (RootList && !Context.Settings.Operation.bClickRoot)
        return;
    if (!(e->button() == Qt::RightButton && FavoritesMenu) && !Context.State.Reserve)
        Context.CloseRequest = true;
    if (e->button() != Qt::LeftButton)
        return;
    const int x = int(e->position().x()), y = int(e->position().y());
    const TBrowserGeometry g = Geometry();
    const int index = g.HitTest(x, y);
    if (IsNavCode(index)) {
        Navigate(index);
        return;
    }
    if (index < 0)
        return;
    if (index != HoverIndex || g.InTriangleZone(x) != HoverInZone) {
        HoverIndex = index;
        HoverInZone = g.InTriangleZone(x);
        MakePreview();
    }
    if (Folders[size_t(index)] && HoverInZone) {
        if (Paged)
            OpenInPlace();
        else {
            NeedsPopup = true;
            if (OnHover)
                OnHover();
        }
        return;
    }
    AddEntry(Entries[size_t(index)]);
}

void TFr_Browser::OpenInPlace()
{
    Context.CloseRequest = false;
    if (!HoveredFolderReady()) {
        OpenWhenReady = true;
        return;
    }
    OpenWhenReady = false;
    ScrollStack.push_back(Scroll);
    TBrowserListing listing = Preview;
    Scroll = 0;
    ShowFolder(listing.Folder, std::move(listing.Entries));
    Context.CloseRequest = false;
}

void TFr_Browser::Navigate(int code)
{
    if (code == bnBack) {
        GoBack();
        return;
    }
    const TBrowserGeometry g = Geometry();
    const int to = g.Navigate(code);
    const int rows = std::max(1, g.Rows());
    const QImage from = PB_Browser->Image();
    Scroll = to;
    if (Context.Settings.View.bBrowserSmoothScroll && to != g.Scroll) {
        SlideFrom = from;
        StartSlide((to - g.Scroll) / rows);
    } else {
        Repaint(true);
    }
    Context.CloseRequest = false;
}

void TFr_Browser::GoBack()
{
    const std::string parent = ParentFolder(Folder);
    if (parent.empty() || !parent.starts_with(WithSlash(RootFolder))) {
        Context.CloseRequest = true;
        return;
    }
    Context.CloseRequest = false;
    const TSettingOperation& op = Context.Settings.Operation;
    Context.Lister.RequestParent(Folder, RootFolder, op.BrowseExts, op.bBrowserSkipSubFolder, this,
                                 [this](TBrowserListing up) {
                                     if (up.Folder.empty())
                                         return;
                                     Scroll = 0;
                                     if (!ScrollStack.empty()) {
                                         Scroll = ScrollStack.back();
                                         ScrollStack.pop_back();
                                     }
                                     ShowFolder(up.Folder, std::move(up.Entries));
                                 });
}

void TFr_Browser::AddEntry(const std::string& entry)
{
    const std::string path = WithoutSlash(Folder + (entry[0] == '!' ? entry.substr(1) : entry));
    Context.Pending.Clear();
    if (entry[0] == '!') {
        AddFiles({path});
        return;
    }
    const TSettingOperation& op = Context.Settings.Operation;
    if (op.bJukeBoxMode) {
        Context.CloseRequest = false;
        return;
    }
    Context.Lister.RequestAdditions(path, op.BrowseExts, {Context.State.SortMode, Context.State.SortInv}, false,
                                    this, [this](std::vector<std::string> files) { AddFiles(std::move(files)); });
}

void TFr_Browser::AddFiles(std::vector<std::string> files)
{
    Context.Pending.Clear();
    Context.Pending.Add(files);
    if (Context.Settings.Function.bSaveHistory)
        Context.Lister.RecordFolderPlays(std::move(files), RootFolder);
}

void TFr_Browser::StartSlide(int columns)
{
    const int steps = 8 * std::abs(columns);
    if (steps == 0 || SlideFrom.isNull()) {
        Repaint(true);
        return;
    }
    SlideDx = (columns > 0 ? -1 : 1) * ColumnWidth / 8;
    SlideStepsLeft = steps;
    SlideOffset = 0;
    Ti_Slide->start(steps * 20 > 300 ? 300 / steps : 20);
}

void TFr_Browser::SlideStep()
{
    if (SlideStepsLeft <= 0) {
        Ti_Slide->stop();
        Repaint(true);
        return;
    }
    --SlideStepsLeft;
    SlideOffset += SlideDx;
    QImage img(SlideFrom.size(), QImage::Format_ARGB32);
    const QColor face = palette().color(QPalette::Button);
    img.fill(QColor((face.red() + 255) / 2, (face.green() + 255) / 2, (face.blue() + 255) / 2));
    QPainter(&img).drawImage(SlideOffset, 0, SlideFrom);
    PB_Browser->SetImage(img);
}

} // namespace marlix
