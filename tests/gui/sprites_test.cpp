#include "gui/shading.h"
#include "gui/sprites.h"

#include <gtest/gtest.h>

namespace marlix {
namespace {

struct TPixelCase {
    const char* what;
    const TFDIB* bitmap;
    int x, y;
    TColor32 expected;
};

// Each expected pixel is worked out by hand, layer by layer, from the generators' rules.
TEST(Sprites, PixelsAtChosenPoints)
{
    // Soft disc: edge 2, radius 4 around (5, 5); the rim adds (r − h)·255/e per call.
    TGUIDIB disc(10, 10);
    disc.SoftDisc(2, 4, 5, 5);
    TGUIDIB twice(10, 10);
    twice.SoftDisc(2, 4, 5, 5);
    twice.SoftDisc(2, 4, 5, 5);
    twice.SoftDisc(2, 4, 5, 5);
    TGUIDIB full(10, 10);
    full.FullDisc(1); // radius 4.5 around (5, 5)

    // Switch 40 × 20: glow of radius 15, edge 8 around (19.5, 9.5); face from (2, 2).
    const TColor32 face = PixRGB(212, 208, 200);
    const TSoftSW lit(40, face, 1, 20);
    const TSoftSW unlit(40, face, 0, 20);

    // Knob R 20, gloss 0.5, shadow 4, shading 1.25, grey body 100, cap 200, cap radius 10.
    const TDial3 knob(20, 0.5, 4, 1.25, PixRGB(200, 200, 200), PixRGB(100, 100, 100), 10);

    const TPixelCase cases[] = {
        {"disc centre", &disc, 5, 5, 0xFF000000},
        {"disc rim at h = 3: 127", &disc, 8, 5, 0x7F000000},
        {"disc rim at h = 2.83: 149", &disc, 7, 7, 0x95000000},
        {"disc edge at h = r unchanged", &disc, 9, 5, 0x00000000},
        {"rim grows per call, limited to 255", &twice, 8, 5, 0xFF000000},
        {"full disc left of the radius", &full, 0, 5, 0x00000000},
        {"full disc rim 0.5 × 255", &full, 9, 5, 0x7F000000},
        // Glow alpha int((15 − 9.513)·255/8) = 174 over the face colour at alpha 0.
        {"glow above the lit face", &lit, 19, 0, 0xAEF19940},
        {"no glow when unlit", &unlit, 19, 0, 0x00D4D0C8},
        // Face RGB(255, 224, 192) over the full glow over the base: 254, 223, 191.
        {"lit face centre", &lit, 20, 10, 0xFFFEDFBF},
        {"unlit face bevel dark corner", &unlit, 37, 17, 0xFF807060},
        // Left of the hot spot: shadow 83, body 103 → 102, cap 77 → 77, sheen cap colour → 199.
        {"knob beside its hot spot", &knob, 19, 20, 0xFFC7C7C7},
        {"knob corner stays clear", &knob, 0, 0, 0x00000000},
    };
    for (const TPixelCase& c : cases)
        EXPECT_EQ(c.bitmap->Pixel(c.x, c.y), c.expected) << c.what << std::hex << ": got 0x" << c.bitmap->Pixel(c.x, c.y);

    // The hot spot is the knob's centre and lands on the target point.
    EXPECT_EQ(knob.Width(), 44);
    EXPECT_EQ(knob.HotX, 20);
    EXPECT_EQ(knob.HotY, 20);
    QImage target(100, 100, QImage::Format_ARGB32);
    target.fill(0u);
    knob.DrawOnto(target, 50, 50);
    EXPECT_EQ(target.pixel(49, 50), AlphaOver(0, knob.Pixel(19, 20)));
    EXPECT_EQ(target.pixel(29, 50), 0u) << "left of the body";
}

TEST(Sprites, ScaleTicksAreSymmetricAndColoured)
{
    // Four ticks at 0°, 90°, 180° and 270°: mirror images of each other.
    const double pi = 3.14159265358979323846;
    const TDIVLine scale(4, 0, PixRGB(0, 0, 255), 3, 3, 6, 6, 10, 1, 1.5 * pi, 0);
    ASSERT_EQ(scale.Width(), 2 * 19);
    const int c = scale.Width() - 1;
    for (int r = 11; r <= 15; ++r) {
        const uint32_t right = scale.Pixel(c / 2 + r + 1, c / 2) >> 24;
        EXPECT_GT(right, 100u) << "tick at 0°, radius " << r;
        EXPECT_EQ(scale.Pixel(c - (c / 2 + r + 1), c / 2) >> 24, right) << "mirror at 180°";
        EXPECT_EQ(scale.Pixel(c / 2, c / 2 + r + 1) >> 24, right) << "tick at 90°";
    }
    EXPECT_EQ(scale.Pixel(c / 2, c / 2) >> 24, 0u) << "inside the ring";
    EXPECT_EQ(scale.Pixel(c / 2 + 12, c / 2) & 0xFFFFFFu, 0x0000FFu);
}

TEST(Sprites, BarsAreCylinders)
{
    QImage img(20, 4, QImage::Format_ARGB32);
    img.fill(0u);
    const TColor32 centre = PixRGB(160, 160, 255);
    const TColor32 edge = PixRGB(96, 96, 255);
    DrawBar(img, QRect(0, 0, 9, 4), centre, true, 0.5, edge); // halves of 4 and 5 columns
    EXPECT_EQ(img.pixel(0, 0), 0xFF000000u | edge);
    EXPECT_EQ(img.pixel(3, 2), 0xFF000000u | centre);
    EXPECT_EQ(img.pixel(4, 1), 0xFF000000u | centre);
    EXPECT_EQ(img.pixel(8, 3), 0xFF000000u | edge);
    // Second column of the first half: t = 1/3, t^0.5 = 0.577: 96 + 0.577·64 = 132.9.
    EXPECT_EQ(img.pixel(1, 0), 0xFF000000u | PixRGB(132, 132, 255));
    EXPECT_EQ(img.pixel(9, 0), 0u) << "outside the rectangle";
}

} // namespace
} // namespace marlix
