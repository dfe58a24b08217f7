#include "gui/shot.h"

#include <QApplication>
#include <QPixmap>
#include <QWidget>

namespace marlix {

bool SaveShot(QWidget& w, const QString& file, QString& error)
{
    QApplication::processEvents();
    if (w.grab().save(file, "PNG"))
        return true;
    error += file + QStringLiteral(" ");
    return false;
}

} // namespace marlix
