#pragma once
#include <QWidget>
#include <array>

class QToolButton;

namespace marlix {

// The signal-flow page: the chain from decoder to output as boxes joined by lines, with
// the stages' ON switches and the Edit buttons that open their pages.
class TSignalFlowPage : public QWidget {
public:
    enum TBox { Decoder, Effect, Convolver, Matrix, Equalizer, ReSampler, HSC, Master, Output, BoxCount };
    static QRect BoxRect(int box);

    explicit TSignalFlowPage(QWidget* parent);

    QToolButton* Bu_EFX;
    QToolButton* Bu_C;
    QToolButton* Bu_Matrix;
    QToolButton* Bu_EQ;
    QToolButton* Bu_HSC;
    // Edit buttons of the effect, convolver, matrix, equaliser, resampler and master boxes.
    std::array<QToolButton*, BoxCount> Edit{};

protected:
    void paintEvent(QPaintEvent*) override;
    QSize sizeHint() const override { return {580, 230}; }

private:
    QToolButton* AddButton(int box, const char* name, const QString& text, const QString& hint, bool right);
};

} // namespace marlix
