#pragma once
#include <QString>

namespace marlix {

// Saves the transport, playlist, information, properties and version windows, each alone
// as DIR/<object name>.png, in a made-up state: a short playlist with one track playing
// through a running chain. Reports what could not be written in `error`.
bool SavePlayerWindowShots(const QString& dir, QString& error);

} // namespace marlix
