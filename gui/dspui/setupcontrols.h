#pragma once
#include <QString>
#include <QStringList>
#include <initializer_list>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QWidget;

namespace marlix {

// The small makers and readers the setup dialog's pages share.

// The number a text holds, or `fallback` when it holds none.
int NumberOr(const QString& text, int fallback);
QStringList Numbers(std::initializer_list<int> values);
// 2^k − 1 for k = from … to.
QStringList OddPowers(int from, int to);

QComboBox* Combo(QWidget* parent, const char* name, const QStringList& items, bool editable = false);
QCheckBox* Check(QWidget* parent, const char* name, const QString& caption);
QSpinBox* Spin(QWidget* parent, const char* name, int low, int high, const QString& unit = {});
QLabel* Label(QWidget* parent, const QString& text);
// A "..." button that puts the file chosen in an open dialog (`filter` as Qt writes
// filters) into `edit`; a cancelled dialog leaves it as it was.
QPushButton* FileButton(QWidget* parent, const char* name, QLineEdit* edit, const QString& filter);
// A row of widgets, left-aligned.
QWidget* Row(QWidget* parent, std::initializer_list<QWidget*> widgets);

// Selects `text` in a list box, or shows it in an editable one; a missing entry of a
// fixed list clears the selection.
void Show(QComboBox* c, const QString& text);

// The filter windows of the resampling pages, by item index.
const QStringList& WindowNames();

} // namespace marlix
