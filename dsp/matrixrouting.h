#pragma once

namespace marlix {

// The 2 × 2 matrix's routing, [input][output]: a switch, a polarity and a level each.
struct TMatrixRouting {
    bool bONOFF[2][2];
    bool bInv[2][2];
    int fLevel[2][2]; // tenths of a dB
};

} // namespace marlix
