#pragma once
#include <QString>

namespace marlix {

// Saves the search dialog, the download queue, the library pane and the news window,
// each alone as DIR/<object name>.png, with made-up content. Reports what could not be
// written in `error`.
bool SaveOnlineWindowShots(const QString& dir, QString& error);

} // namespace marlix
