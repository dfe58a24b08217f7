#pragma once
#include <QRect>
#include <QSize>
#include <array>

namespace marlix {

// The six player windows a layout places, in this index order.
enum TLayoutWindow { lwBrowser, lwConductor, lwInformation, lwPlaylist, lwSpectrum, lwEqualizer, LayoutWindowCount };

using TLayoutRects = std::array<QRect, LayoutWindowCount>;

// The outer rectangles of layout `layout` (1-6) for an MDI client of `client` size.
// `frame` is what a child's frame adds to its client size; `current` holds each window's
// present outer size, kept in the dimensions a layout does not set; `minimum` the
// smallest client size each window can take, which a client size the layout sets never
// goes below. An unknown layout returns the current sizes at 0, 0.
TLayoutRects ComputeLayout(int layout, QSize client, QSize frame, const std::array<QSize, LayoutWindowCount>& current,
                           const std::array<QSize, LayoutWindowCount>& minimum = {});

} // namespace marlix
