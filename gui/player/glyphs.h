#pragma once
#include <QIcon>

namespace marlix {

// The pictures on the transport and mode buttons.
enum class TGlyph { Back, Stop, Pause, Play, Next, Play1, Repeat, Repeat1, Random, BGM };

// A 20 × 16 icon of `glyph`, drawn in dark grey.
QIcon GlyphIcon(TGlyph glyph);

} // namespace marlix
