#include "platform/asiohost/pacer.h"

#include <thread>

namespace marlix::asiohost {

void TPacer::Reset(unsigned rate, uint64_t allowance)
{
    Rate = rate ? rate : 1;
    Allowance = allowance;
    Written = 0;
    Origin = TClock::now();
}

TPacer::TClock::duration TPacer::Span(uint64_t frames) const
{
    return std::chrono::duration_cast<TClock::duration>(
        std::chrono::duration<double>(static_cast<double>(frames) / Rate));
}

void TPacer::Advance(uint64_t frames)
{
    Written += frames;
    const auto now = TClock::now();
    const auto played = Origin + Span(Written);
    const auto slack = Span(Allowance);
    if (played - now < -slack) {
        Origin = now - Span(Written);
        return;
    }
    if (played - now > slack)
        std::this_thread::sleep_until(played - slack);
}

} // namespace marlix::asiohost
