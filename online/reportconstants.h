#pragma once
#include <array>

namespace marlix {

// The multipliers of the play-count check code. The player and the library server must
// agree on them.
inline constexpr std::array<double, 8> kReportConstants{1.6180339887, 2.7182818284, 3.1415926535, 0.5772156649,
                                                        1.4142135623, 1.7320508075, 2.2360679774, 0.6931471805};

} // namespace marlix
