#include "gui/colour.h"
#include "gui/fdib.h"

#include <gtest/gtest.h>

namespace marlix {
namespace {

enum class TOp { Mix, Scale, Over, Swap };

struct TColourCase {
    const char* what;
    TOp op;
    TColor32 a, b;
    double f;
    TColor32 expected;
};

// Expected values worked out by hand from the per-byte formulas.
TEST(Colour, ArithmeticMatchesTheFormulasToTheBit)
{
    const TColourCase cases[] = {
        {"mix halfway keeps a's top byte", TOp::Mix, 0x7F102030, 0x00F0E0D0, 0.5, 0x7F808080},
        {"mix truncates 191.25", TOp::Mix, 0x000000FF, 0x00000000, 0.25, 0x000000BF},
        {"mix t = 1.5 gives b", TOp::Mix, 0xAA112233, 0x55445566, 1.5, 0xAA445566},
        {"mix t = -1 gives a", TOp::Mix, 0xAA112233, 0x55445566, -1.0, 0xAA112233},
        {"scale doubles", TOp::Scale, 0x40102030, 0, 2.0, 0x40204060},
        {"scale limits to 255 and truncates", TOp::Scale, 0x00FF8001, 0, 1.5, 0x00FFC001},
        {"scale 1.5 truncated to 1", TOp::Scale, 0x00030303, 0, 0.5, 0x00010101},
        {"scale never wraps below 0", TOp::Scale, 0x00102030, 0, -1.0, 0x00000000},
        {"source alpha 0 leaves the colour", TOp::Over, 0x40C8641E, 0x00FFFFFF, 0, 0x40C8641E},
        {"source alpha 255 gives 254 over black", TOp::Over, 0x00000000, 0xFFFFFFFF, 0, 0xFFFEFEFE},
        {"half alpha over opaque black", TOp::Over, 0xFF000000, 0x80FF8040, 0, 0xFF7F4020},
        {"alpha is the larger one", TOp::Over, 0x10FFFFFF, 0x20000000, 0, 0x20DFDFDF},
        {"swap exchanges red and blue", TOp::Swap, 0xAA112233, 0, 0, 0x00332211},
    };
    for (const TColourCase& c : cases) {
        TColor32 got = 0;
        switch (c.op) {
        case TOp::Mix: got = MixColor(c.a, c.b, c.f); break;
        case TOp::Scale: got = ScaleColor(c.a, c.f); break;
        case TOp::Over: got = AlphaOver(c.a, c.b); break;
        case TOp::Swap: got = SwapColor(c.a); break;
        }
        EXPECT_EQ(got, c.expected) << c.what << std::hex << ": got 0x" << got;
    }
    EXPECT_EQ(SwapColor(WinRGB(1, 2, 3)), PixRGB(1, 2, 3));
}

TEST(Colour, BitmapsDrawWithTheirHotSpotClippedOnEverySide)
{
    TFDIB src(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src.Canvas().setPixel(x, y, 0xFF000000u | uint32_t(16 * y + x));
    src.HotX = 1;
    src.HotY = 2;
    QImage target(3, 3, QImage::Format_ARGB32);
    target.fill(0u);
    src.DrawOnto(target, 0, 0); // source (1, 2) lands on (0, 0)
    // Opaque source over transparent black: (s·255) div 256, so byte 16y + x becomes one less
    // unless it is 0.
    auto expect = [](int x, int y) { const uint32_t v = 16 * y + x; return 0xFF000000u | (v * 255 / 256); };
    EXPECT_EQ(target.pixel(0, 0), expect(1, 2));
    EXPECT_EQ(target.pixel(2, 1), expect(3, 3));
    EXPECT_EQ(target.pixel(2, 2), 0u); // below the source's last row
    src.DrawOnto(target, -10, -10);     // entirely outside: nothing changes
    EXPECT_EQ(target.pixel(0, 0), expect(1, 2));
}

} // namespace
} // namespace marlix
