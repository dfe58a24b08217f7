#pragma once
#include <QIcon>

namespace marlix {

// The program's icon, drawn like share/marlixaudio.svg (the desktop entry's icon), so
// the windows need no picture reader.
QIcon ApplicationIcon();

} // namespace marlix
