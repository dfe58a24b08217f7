#pragma once
#include <QString>

class QAbstractButton;
class QWidget;

namespace marlix {

// A hint "short|long": the short part becomes the tool tip, the long part the status tip.
// Without "|" the whole text is both.
void SetHint(QWidget* w, const QString& hint);

// Lit: button down and its text pure red; unlit: up and black. Each property is touched
// only when it changes, so a timer can call this every tick without repaints.
void SetLitSwitch(QAbstractButton* b, bool on);
// Changes the enabled state only when it differs.
void SetEnabledSwitch(QWidget* w, bool on);

} // namespace marlix
