#pragma once
#include <QImage>
#include <QWidget>
#include <functional>

class QMouseEvent;

namespace marlix {

// A paint box: shows an image drawn elsewhere and hands its mouse events to its owner.
// The owner redraws the image when its data change; painting only copies it.
class TPaintBox : public QWidget {
public:
    explicit TPaintBox(QWidget* parent = nullptr);

    void SetImage(QImage image);
    const QImage& Image() const { return Bitmap; }

    std::function<void(QMouseEvent*)> OnMouseDown;
    std::function<void(QMouseEvent*)> OnMouseMove;
    std::function<void(QMouseEvent*)> OnMouseUp;
    // Without it a double click arrives as a second press.
    std::function<void(QMouseEvent*)> OnDoubleClick;
    // Called after a size change so the owner can draw for the new size.
    std::function<void()> OnResize;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent*) override;

private:
    QImage Bitmap;
};

} // namespace marlix
