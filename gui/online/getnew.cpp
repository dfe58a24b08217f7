#include "gui/online/getnew.h"

#include "gui/online/webview.h"

#include <QVBoxLayout>

namespace marlix {

TFo_GetNew::TFo_GetNew(const std::string& programFolder, QWidget* parent)
    : QWidget(parent), Page(programFolder + "info.html"), WB_Browser(new TWebView(this))
{
    setObjectName("Fo_GetNew");
    setWindowTitle(QStringLiteral("Information"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(WB_Browser);
    resize(480, 360);
}

void TFo_GetNew::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (WB_Browser->Location().isEmpty())
        WB_Browser->Navigate(QUrl::fromLocalFile(QString::fromStdString(Page)));
}

} // namespace marlix
