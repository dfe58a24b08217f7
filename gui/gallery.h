#pragma once
#include <QImage>
#include <QString>
#include <QWidget>

namespace marlix {

class TFr_Scroll;
class TFo_Plot;
class TPaintBox;

// Every piece of the drawing toolkit on one page: knobs with their scales, switches lit
// and unlit, gradient bars, a list with the scroll frame, and a plot window with a curve.
class TToolkitGallery : public QWidget {
public:
    explicit TToolkitGallery(QWidget* parent = nullptr);

    // Lays the page out offscreen and saves it as a PNG; false when it cannot be written.
    bool SaveTo(const QString& fileName);

private:
    void DrawList();

    TPaintBox* PB_Sprites;
    TPaintBox* PB_List;
    TFr_Scroll* Fr_Scroll;
    TFo_Plot* Fo_Plot;
};

// The sprites and bars of the gallery as one picture.
QImage PaintSpriteSheet();

} // namespace marlix
