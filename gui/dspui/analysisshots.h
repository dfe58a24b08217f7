#pragma once
#include <QString>

namespace marlix {

// Saves the spectrum analyser with a running signal (DIR/Fo_Spectrum.png) and every
// page of the setup dialog (DIR/Fo_Setup-<page>.png, the page's name without "TS_").
// Reports what could not be written in `error`.
bool SaveAnalysisWindowShots(const QString& dir, QString& error);

} // namespace marlix
