#pragma once
#include "online/downloadlist.h"

#include <QImage>
#include <QWidget>
#include <vector>

class QMenu;
class QMouseEvent;

namespace marlix {

class TWindowTimer;
class TDownloadThread;
class TFr_Scroll;
class TPaintBox;
class TSettings;

// What the queue picture is made from.
struct TDownloadView {
    std::vector<TDownloadItem> Items; // the visible rows
    int First = 0;
    int HoverIndex = -1;
    int RunningIndex = -1;
    int Progress = 0;
    int Width = 0;
    int Height = 0;
    int FontSize = 9;
};

// Rows on button face mixed with white; hovered, selected and running rows tinted, the
// running row with its progress bar; names red when failed, black when done or running.
QImage PaintDownloads(const TDownloadView& view);

// The download queue window "ダウンロードキュー": the queue with the running download's
// progress; removing the running entry cancels its transfer.
class TFo_Download : public QWidget {
public:
    TFo_Download(TDownloadlist& list, TDownloadThread& thread, TSettings& settings, QWidget* parent = nullptr);

    void Ti_CheckTimer();
    int RowHeight() const { return RowPixels; }
    void RemoveSelectedClick();

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void MouseDown(QMouseEvent* e);
    void MouseMove(QMouseEvent* e);
    int RowAt(int y) const;
    void Repaint();
    void BuildMenu();

    TDownloadlist& List;
    TDownloadThread& Thread;
    TSettings& Config;
    TPaintBox* PB_List;
    TFr_Scroll* Fr_Scroll;
    QMenu* PM_Menu;
    TWindowTimer* Ti_Check;
    int RowPixels = 21;
    int SeenChange = -1;
    int SeenProgress = -1;
    int RunningIndex = -1;
    int HoverIndex = -1;
    int Anchor = -1;
    bool Dragging = false;
};

} // namespace marlix
