#pragma once
#include <QString>

class QWidget;

namespace marlix {

// Saves what `w` shows now as the PNG `file` (events pending for it are processed first);
// a file that cannot be written is added to `error`, separated by a blank.
bool SaveShot(QWidget& w, const QString& file, QString& error);

} // namespace marlix
