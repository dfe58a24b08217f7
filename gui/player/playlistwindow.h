#pragma once
#include "player/playlist.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <vector>

class QAction;
class QMenu;
class QMouseEvent;

namespace marlix {

class TWindowTimer;
class TFr_Scroll;
class TPaintBox;
class TPlayerState;
class TSettings;

// What the playlist picture is made from: the visible rows only, so that a long list
// costs nothing to compare or draw.
struct TPlaylistView {
    std::vector<TPlayItem> Items; // entries First, First + 1, … that fit the height
    int Count = 0;                // entries in the whole list
    int HoverIndex = -1;
    int CursorIndex = -1;
    int PlayingIndex = -1;
    int First = 0; // first visible entry
    int Width = 0;
    int Height = 0;
    int FontSize = 9;

    bool operator==(const TPlaylistView&) const = default;
};

// Rows on white: hover, cursor, playing and selected rows shaded, names red when failed
// and grey when played.
QImage PaintPlaylist(const TPlaylistView& view);

// The playlist window: draws the list, selects with mouse and keys, deletes, saves and
// shows properties. The playlist itself (and its pending additions) belongs to the
// player session; this window only shows it and posts "Play".
class TFo_Playlist : public QWidget {
public:
    TFo_Playlist(TPlayerState& state, TPlaylist& playlist, TSettings& settings, QWidget* parent = nullptr);

    // One 50 ms tick: repaints when the list, its marks or the scroll position changed,
    // and enables the menu items.
    void Ti_CheckTimer();
    int RowHeight() const { return RowPixels; }
    int FirstVisible() const;

    void DeleteSelectedClick();
    void ClearClick();
    void SaveClick();
    void SelectAllClick();
    void SelectNoneClick();
    void InvertSelectionClick();
    void PropertyClick();
    // Shows "ダウンロード(&O)", which hands the selected entries' strings to `download`.
    void EnableDownloads(std::function<void(const std::vector<std::string>&)> download);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildMenu();
    QAction* MenuItem(const char* name, const QString& caption, const QString& hint, void (TFo_Playlist::*slot)());
    TPlaylistView CurrentView() const;
    void Repaint();
    void PlaceFrame();
    int RowAt(double y) const;
    void MouseDown(QMouseEvent* e);
    void MouseMove(QMouseEvent* e);
    void DoubleClick();
    void MoveCursor(int step, bool extend);
    void Wheel(int delta);

    TPlayerState& State;
    TPlaylist& Playlist;
    TSettings& Config;
    TPaintBox* PB_List;
    TFr_Scroll* Fr_Scroll;
    QMenu* PM_Menu;
    // The menu items that follow the selection and the list, found at the first tick.
    std::vector<QAction*> SelectionItems, ListItems;
    TWindowTimer* Ti_Check;
    TPlaylistView Drawn;
    int RowPixels = 21;
    bool DragSelecting = false;
};

} // namespace marlix
