#pragma once
#include <QString>

class QAbstractButton;
class QToolButton;
class QWidget;

namespace marlix {

// A hint "short|long": the short part becomes the tool tip, the long part the status tip.
// Without "|" the whole text is both.
void SetHint(QWidget* w, const QString& hint);

// A speed button with its component name, caption and hint; `toggle` makes it checkable.
QToolButton* MakeSpeedButton(QWidget* parent, const QString& name, const QString& text, const QString& hint,
                             bool toggle = false);

// Lit: button down and its text pure red; unlit: up and black. Each property is touched
// only when it changes, so a timer can call this every tick without repaints.
void SetLitSwitch(QAbstractButton* b, bool on);
// Changes the enabled state only when it differs.
void SetEnabledSwitch(QWidget* w, bool on);

} // namespace marlix
