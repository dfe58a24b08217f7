#pragma once
#include "gui/player/browserframe.h"
#include "gui/player/browserlister.h"
#include "player/browsercore.h"

#include <QWidget>
#include <string>

class QAction;
class QCheckBox;
class QMenu;
class QToolButton;

namespace marlix {

class TWindowTimer;
class TFo_Browser2;
class TIniFile;

// The browser window: the root list of music folders, its pop-up chain, the reservation
// switch and the sort order of every listing.
class TFo_Browser : public QWidget {
public:
    // `music` is the user's music folder (the XDG one when empty).
    TFo_Browser(TSettings& settings, TPlayerState& state, TPendingAdditions& pending, QWidget* parent = nullptr,
                THistory history = THistory(), std::string music = {});
    ~TFo_Browser() override;

    // Rebuilds the root list from the settings and section "FolderList".
    void LoadRoots(const TIniFile& ini);
    void SaveRoots(TIniFile& ini) const;

    void Ti_CheckTimer();
    void Bu_AddFolderClick();
    void AddFolder(const std::string& folder);
    void PM_DeleteClick();
    void SetSortMode(int mode);
    void Bu_OrderClick();
    void ClosePopups();

    TFr_Browser* Frame() const { return Fr_Browser; }
    TFo_Browser2* Popup() const { return PopupForm; }
    TBrowserContext& Context() { return Shared; }
    TBrowserLister& Lister() { return Worker; }
    const TBrowserRoots& Roots() const { return RootList; }
    QSize sizeHint() const override { return {145, 400}; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void BuildTopPanel();
    void ShowRoots();
    void FrameHovered();
    void OpenPopup();

    TBrowserLister Worker;
    std::string Music;
    TBrowserRoots RootList;
    TBrowserContext Shared;
    QWidget* Pa_Top;
    QToolButton* Bu_AddFolder;
    QCheckBox* Ch_Reserve;
    QToolButton* Bu_Sort;
    QToolButton* Bu_Order;
    QMenu* PM_Sort;
    QMenu* PM_Root;
    QAction* PM_Delete;
    TFr_Browser* Fr_Browser;
    TWindowTimer* Ti_Check;
    TFo_Browser2* PopupForm = nullptr;
    // What the sort buttons show (-1: nothing yet).
    int ShownSortMode = -1, ShownSortInv = -1;
};

} // namespace marlix
