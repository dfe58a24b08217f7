#pragma once
#include <QKeySequence>
#include <cstdint>

namespace marlix {

// The stored shortcut codes: a virtual key code in the low byte, plus 0x2000 for Shift,
// 0x4000 for Ctrl and 0x8000 for Alt (0: no shortcut). Codes without a key on this
// desktop give an empty sequence.
QKeySequence ShortCutToKeySequence(uint16_t code);
// The inverse: the first key of `keys` as a stored code, 0 for a key without one.
uint16_t KeySequenceToShortCut(const QKeySequence& keys);

} // namespace marlix
