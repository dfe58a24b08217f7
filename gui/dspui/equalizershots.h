#pragma once
#include <QString>

namespace marlix {

// Saves the DSP window's six pages as DIR/TFo_Equalizer-<page>.png, in a made-up state:
// EQ points on the master and a channel, a response loaded in a convolver, a crossed
// matrix, trims and delays. Reports what could not be written in `error`.
bool SaveEqualizerShots(const QString& dir, QString& error);

} // namespace marlix
