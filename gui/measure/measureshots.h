#pragma once
#include <QString>

namespace marlix {

// Saves each page of the measurement wizard alone as DIR/Fo_Measure-<page>.png, with a
// made-up measurement of both channels in the table (no device is opened). Reports what
// could not be written in `error`.
bool SaveMeasureWizardShots(const QString& dir, QString& error);

} // namespace marlix
