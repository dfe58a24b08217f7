#include "gui/player/rowtext.h"

#include <algorithm>
#include <cmath>

namespace marlix {

QFont ListFont(int points)
{
    QFont f(QStringLiteral("Noto Sans CJK JP"));
    // Points at 96 dots per inch, as the list sizes were laid out for.
    f.setPixelSize(std::max(1, int(std::lround(points * 96.0 / 72.0))));
    return f;
}

int RowHeight(const QFont& font) { return font.pixelSize() + 9; }

QString ElideRow(const QString& text, const QFontMetrics& metrics, int width, int rowHeight)
{
    if (metrics.horizontalAdvance(text) <= width - rowHeight)
        return text;
    // The longest head that fits; found by halving, so very long names stay cheap.
    qsizetype lo = 0;
    qsizetype hi = text.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (metrics.horizontalAdvance(text.left(mid)) <= width - 29)
            lo = mid;
        else
            hi = mid - 1;
    }
    return text.left(lo) + QStringLiteral("...");
}

} // namespace marlix
