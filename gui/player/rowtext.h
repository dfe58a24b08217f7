#pragma once
#include <QFont>
#include <QFontMetrics>
#include <QString>

namespace marlix {

// The font of the hand-drawn lists: the system's sans serif at `points` (nBrowserFontSize).
QFont ListFont(int points);
// |font height| + 9: the height of one list row.
int RowHeight(const QFont& font);
// `text` as a row of an image `width` wide shows it: when wider than width − rowHeight,
// characters go from its end until it fits width − 29, and "..." follows.
QString ElideRow(const QString& text, const QFontMetrics& metrics, int width, int rowHeight);

} // namespace marlix
