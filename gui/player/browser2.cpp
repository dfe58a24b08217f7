#include "gui/player/browser2.h"

#include "gui/player/browserframe.h"
#include "settings/settings.h"

#include <QEvent>
#include <QKeyEvent>
#include <QWheelEvent>
#include <filesystem>

namespace marlix {

TFo_Browser2::TFo_Browser2(TBrowserContext& context, bool paged, int columnWidth, std::string root)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , Context(context)
    , Fr_Browser(new TFr_Browser(context, false, this))
{
    setObjectName("Fo_Browser2");
    setAttribute(Qt::WA_ShowWithoutActivating);
    const TSettingView& view = context.Settings.View;
    if (view.bBrowserAlphaBlend)
        setWindowOpacity((255 - std::clamp(view.nBrowserAlphaBlendValue, 0, 255)) / 255.0);
    Fr_Browser->SetPaged(paged);
    Fr_Browser->SetColumnWidth(columnWidth);
    Fr_Browser->RootFolder = std::move(root);
    Fr_Browser->OnHover = [this] { FrameHovered(); };
}

TFo_Browser2::~TFo_Browser2() { CloseChild(); }

void TFo_Browser2::MarkClosing()
{
    CloseRequested = true;
    if (ChildPopup)
        ChildPopup->MarkClosing();
}

void TFo_Browser2::CloseChild()
{
    if (!ChildPopup)
        return;
    ChildPopup->MarkClosing();
    delete ChildPopup;
    ChildPopup = nullptr;
}

void TFo_Browser2::FrameHovered()
{
    if (!Fr_Browser->NeedsPopup)
        return;
    Fr_Browser->NeedsPopup = false;
    CloseChild();
    if (Fr_Browser->Paged || !Fr_Browser->HoverInZone || !Fr_Browser->HoveredFolderReady())
        return;
    std::error_code ec;
    if (!std::filesystem::is_directory(Fr_Browser->HoverPath, ec))
        return;
    ChildPopup = new TFo_Browser2(Context, false, Fr_Browser->ColumnWidth, Fr_Browser->RootFolder);
    ChildPopup->Frame()->ShowFolder(Fr_Browser->Preview.Folder, Fr_Browser->Preview.Entries);
    ChildPopup->setGeometry(QRect(geometry().topRight() + QPoint(1, 0), size()));
    ChildPopup->show();
}

void TFo_Browser2::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && !isActiveWindow() && !ChildPopup && !CloseRequested)
        Context.CloseRequest = true;
}

void TFo_Browser2::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape)
        Context.CloseRequest = true;
    else
        QWidget::keyPressEvent(e);
}

void TFo_Browser2::wheelEvent(QWheelEvent* e)
{
    const int delta = e->angleDelta().y();
    if (Fr_Browser->Paged) {
        if (delta != 0)
            Fr_Browser->Navigate(delta > 0 ? bnScrollUp : bnScrollDown);
    } else {
        Fr_Browser->ScrollRows(-delta / 40);
    }
    e->accept();
}

void TFo_Browser2::resizeEvent(QResizeEvent*) { Fr_Browser->setGeometry(rect()); }

} // namespace marlix
