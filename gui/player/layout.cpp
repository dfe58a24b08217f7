#include "gui/player/layout.h"

#include <algorithm>

namespace marlix {
namespace {

// Places the windows one after the other: each step may set a client width or height,
// and then the bounds, reading the outer sizes of the windows placed before it.
class TLayoutBuilder {
public:
    TLayoutBuilder(QSize frame, const std::array<QSize, LayoutWindowCount>& current,
                   const std::array<QSize, LayoutWindowCount>& minimum)
        : Frame(frame), Minimum(minimum)
    {
        for (int i = 0; i < LayoutWindowCount; ++i)
            Rects[i] = QRect(QPoint(0, 0), current[i]);
    }

    TLayoutBuilder& Client(TLayoutWindow w, int width, int height)
    {
        if (width >= 0)
            Rects[w].setWidth(std::max(width, Minimum[w].width()) + Frame.width());
        if (height >= 0)
            Rects[w].setHeight(std::max(height, Minimum[w].height()) + Frame.height());
        return *this;
    }
    TLayoutBuilder& At(TLayoutWindow w, int left, int top)
    {
        Rects[w].moveTo(left, top);
        return *this;
    }
    TLayoutBuilder& At(TLayoutWindow w, int left, int top, int width, int height)
    {
        Rects[w] = QRect(left, top, width, height);
        return *this;
    }
    int W(TLayoutWindow w) const { return Rects[w].width(); }
    int H(TLayoutWindow w) const { return Rects[w].height(); }

    TLayoutRects Rects;

private:
    QSize Frame;
    std::array<QSize, LayoutWindowCount> Minimum;
};

void Layout1(TLayoutBuilder& l, int W, int H)
{
    l.Client(lwConductor, 388, 120).At(lwConductor, 0, 0);
    const int Hc = l.H(lwConductor), Wc = l.W(lwConductor);
    l.Client(lwBrowser, 145, -1);
    const int Wb = l.W(lwBrowser);
    l.At(lwBrowser, 0, Hc, Wb, H - Hc - 4);
    l.At(lwPlaylist, Wb, Hc, Wc - Wb, H - Hc - 4);
    l.Client(lwInformation, 240, 320).At(lwInformation, Wc, 0);
    const int Wi = l.W(lwInformation), Hi = l.H(lwInformation);
    l.At(lwSpectrum, Wc + Wi, 0, W - Wc - Wi - 4, Hi);
    const int Hs = l.H(lwSpectrum);
    l.At(lwEqualizer, Wc, Hs, W - Wc - 4, H - Hs - 4);
}

void Layout2(TLayoutBuilder& l, int W, int H)
{
    l.Client(lwConductor, 388, 120).At(lwConductor, 0, 0);
    const int Hc = l.H(lwConductor), Wc = l.W(lwConductor);
    l.Client(lwBrowser, 145, -1);
    const int Wb = l.W(lwBrowser);
    l.At(lwBrowser, 0, Hc, Wb, H - Hc - 4);
    l.At(lwInformation, Wb, Hc, Wc - Wb, H - Hc - 4);
    l.Client(lwPlaylist, 240, -1);
    const int Wp = l.W(lwPlaylist);
    l.At(lwPlaylist, W - Wp - 4, 0, Wp, H - 4);
    l.Client(lwSpectrum, -1, 320);
    const int Hs = l.H(lwSpectrum);
    l.At(lwEqualizer, Wc, 0, W - Wc - Wp - 4, H - Hs - 4);
    l.At(lwSpectrum, Wc, l.H(lwEqualizer), W - Wc - Wp - 4, Hs);
}

void Layout3(TLayoutBuilder& l, int W, int H)
{
    l.Client(lwConductor, 388, 120);
    const int Hc = l.H(lwConductor), Wc = l.W(lwConductor);
    l.At(lwConductor, 0, H - Hc - 4);
    l.Client(lwBrowser, 145, -1);
    const int Wb = l.W(lwBrowser);
    l.At(lwBrowser, 0, 0, Wb, H - Hc - 4);
    l.At(lwInformation, Wb, 0, Wc - Wb, H - Hc - 4);
    l.Client(lwPlaylist, 240, -1);
    const int Wp = l.W(lwPlaylist);
    l.At(lwPlaylist, W - Wp - 4, 0, Wp, H - 4);
    l.Client(lwSpectrum, -1, 320);
    const int Hs = l.H(lwSpectrum);
    l.At(lwSpectrum, Wc, 0, W - Wc - Wp - 4, Hs);
    l.At(lwEqualizer, Wc, Hs, W - Wc - Wp - 4, H - Hs - 4);
}

// Layouts 4 and 6 share the left column of browser over information.
void LeftColumn(TLayoutBuilder& l, int H)
{
    l.Client(lwBrowser, 240, -1);
    l.At(lwBrowser, 0, 0, l.W(lwBrowser), (H - 4) / 2);
    l.Client(lwInformation, 240, -1);
    l.At(lwInformation, 0, l.H(lwBrowser), l.W(lwInformation), (H - 4) / 2);
}

void Layout4(TLayoutBuilder& l, int W, int H)
{
    LeftColumn(l, H);
    const int Wb = l.W(lwBrowser);
    l.Client(lwConductor, 388, 120).At(lwConductor, Wb, 0);
    const int Hc = l.H(lwConductor), Wc = l.W(lwConductor);
    l.At(lwPlaylist, Wb, Hc, Wc, H - Hc - 4);
    l.Client(lwSpectrum, -1, 320);
    const int Hs = l.H(lwSpectrum);
    l.At(lwSpectrum, Wb + Wc, 0, W - Wb - Wc - 4, Hs);
    l.At(lwEqualizer, Wb + Wc, Hs, W - Wb - Wc - 4, H - Hs - 4);
}

void Layout5(TLayoutBuilder& l, int W, int H)
{
    l.Client(lwBrowser, 145, -1);
    const int Wb = l.W(lwBrowser);
    l.At(lwBrowser, 0, 0, Wb, H - 4);
    l.Client(lwPlaylist, 240, -1);
    const int Wp = l.W(lwPlaylist);
    l.At(lwPlaylist, W - Wp - 4, 0, Wp, H - 4);
    l.Client(lwConductor, 388, 120).At(lwConductor, Wb, 0);
    const int Hc = l.H(lwConductor), Wc = l.W(lwConductor);
    l.Client(lwSpectrum, -1, 320);
    const int Hs = l.H(lwSpectrum);
    l.At(lwInformation, Wb, Hc, Wc, Hs - Hc);
    l.At(lwSpectrum, Wb + Wc, 0, W - Wb - Wc - Wp - 4, Hs);
    l.At(lwEqualizer, Wb, Hs, W - Wb - Wp - 4, H - Hs - 4);
}

void Layout6(TLayoutBuilder& l, int W, int H)
{
    LeftColumn(l, H);
    const int Wb = l.W(lwBrowser);
    l.Client(lwConductor, 388, 120);
    const int Hc = l.H(lwConductor), Wc = l.W(lwConductor);
    l.At(lwConductor, W - Wc - 4, H - Hc - 4);
    l.At(lwPlaylist, W - Wc - 4, 0, Wc, H - Hc - 4);
    l.Client(lwSpectrum, -1, 320);
    const int Hs = l.H(lwSpectrum);
    l.At(lwSpectrum, Wb, 0, W - Wb - Wc - 4, Hs);
    l.At(lwEqualizer, Wb, Hs, W - Wb - Wc - 4, H - Hs - 4);
}

} // namespace

TLayoutRects ComputeLayout(int layout, QSize client, QSize frame, const std::array<QSize, LayoutWindowCount>& current,
                           const std::array<QSize, LayoutWindowCount>& minimum)
{
    using TStep = void (*)(TLayoutBuilder&, int, int);
    static constexpr TStep kLayouts[] = {Layout1, Layout2, Layout3, Layout4, Layout5, Layout6};
    TLayoutBuilder builder(frame, current, minimum);
    if (layout >= 1 && layout <= 6)
        kLayouts[layout - 1](builder, client.width(), client.height());
    return builder.Rects;
}

} // namespace marlix
