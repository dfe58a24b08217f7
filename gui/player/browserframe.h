#pragma once
#include "player/browsercore.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QMenu;
class QMouseEvent;
class QTimer;
class QToolButton;

namespace marlix {

class TBrowserLister;
class TFr_Scroll;
class TPaintBox;
class TPendingAdditions;
class TPlayerState;
class TSettings;

// What the browser's windows share: the cores, the root list and the close request that
// clicks, Esc and leaving the pop-ups raise and the browser window's timer takes.
struct TBrowserContext {
    TSettings& Settings;
    TPlayerState& State;
    TPendingAdditions& Pending;
    TBrowserLister& Lister;
    TBrowserRoots& Roots;
    bool CloseRequest = false;
};

// What one picture of a folder is made from.
struct TBrowserView {
    TBrowserGeometry Geometry;
    int Hover = -1; // entry index or navigation code
    bool HoverInZone = false;
    bool Separators = false;
    int FontSize = 9;
    QString FontName;
    bool operator==(const TBrowserView&) const = default;
};

// The 10 × 9 triangle of a folder row, filled or as an outline, on transparent white.
QImage BrowserTriangle(bool filled);
// Rows (single list) or columns with page buttons (paged) on white. `texts` and `folders`
// cover every entry; only the visible ones are drawn.
QImage PaintBrowser(const TBrowserView& view, const std::vector<QString>& texts, const std::vector<char>& folders);

// The frame that lists, sorts and draws one folder, shared by the browser window and its
// pop-ups. Listings and history come from the lister's worker; hovering a folder asks
// for its preview, which arrives through the lister's Listed signal.
class TFr_Browser : public QWidget {
public:
    static constexpr int TopPanelHeight = 22;

    TFr_Browser(TBrowserContext& context, bool rootList, QWidget* parent = nullptr);

    // Shows `path` (empty for the root list) with `entries`; the download and favourites
    // folders switch the pop-up menu to the favourites menu for good.
    void ShowFolder(const std::string& path, std::vector<std::string> entries);
    // Scrolls the single list by `rows` (negative: up), within the list.
    void ScrollRows(int rows);
    // A navigation code of the paged style: page and column moves, back.
    void Navigate(int code);
    // The 50 ms step: follows the scroll bar.
    void Tick();
    void SetPaged(bool paged) { Paged = paged; }
    void SetColumnWidth(int w) { ColumnWidth = w; }
    void ShowTopPanel(bool show);
    void SetRootMenu(QMenu* menu) { RootMenu = menu; }

    TBrowserGeometry Geometry() const;
    TBrowserListingRequest PreviewRequest(const std::string& folder) const;
    bool HoveredFolderReady() const;
    // The picture as last drawn.
    const QImage& Picture() const;
    TPaintBox* PaintBox() const { return PB_Browser; }
    TFr_Scroll* ScrollFrame() const { return Fr_Scroll; }

    // The frame's data, read by the owning windows.
    std::string Folder;     // with a trailing "/"; empty for the root list
    std::string RootFolder; // where the pop-up chain started
    std::vector<std::string> Entries;
    TBrowserListing Preview; // the hovered folder's listing, when ready
    std::vector<int> ScrollStack;
    int Scroll = 0;
    int HoverIndex = -1;
    bool HoverInZone = false;
    std::string HoverPath;
    int HoverX = 0;
    int RowHeight = 21;
    int ColumnWidth = 145;
    bool Paged = false;
    bool Separators = true;
    bool NeedsPopup = false;
    bool SlideRunning() const;
    // Called after a mouse move and when a hovered folder's preview arrives.
    std::function<void()> OnHover;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void BuildFavoritesMenu();
    void MouseMove(QMouseEvent* e);
    void MouseDown(QMouseEvent* e);
    void ContextMenu(const QPoint& at);
    void MakePreview();
    void PreviewArrived(const QString& key);
    void ApplyPreview(const TBrowserListing& listing);
    void OpenInPlace();
    void GoBack();
    void AddEntry(const std::string& entry);
    void AddFiles(std::vector<std::string> files);
    void StartSlide(int columns);
    void SlideStep();
    void Layout();
    void Repaint(bool force = false);
    void UpdateLabel();
    std::string HelpText() const;
    std::string EntryPath(int index) const;

    TBrowserContext& Context;
    bool RootList;
    QWidget* Pa_Top;
    QLabel* La_Page;
    QToolButton* Bu_Pin;
    TPaintBox* PB_Browser;
    TFr_Scroll* Fr_Scroll;
    QMenu* RootMenu = nullptr;
    QMenu* PM_Favorites = nullptr;
    bool FavoritesMenu = false;
    QAction* PM_FavDelete = nullptr;
    std::vector<QString> Texts;
    std::vector<char> Folders;
    TBrowserView Drawn;
    QImage Image;
    std::string PreviewKey;
    bool OpenWhenReady = false;
    QTimer* Ti_Slide;
    QImage SlideFrom;
    int SlideDx = 0;
    int SlideStepsLeft = 0;
    int SlideOffset = 0;
};

} // namespace marlix
