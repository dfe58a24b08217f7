#pragma once
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QSlider;
class QSpinBox;

namespace marlix {

class TSettings;

// The setup page "表示": the browser's font size, translucency and scrolling, and the
// wallpaper ("View" record).
class TSetupViewPage : public QWidget {
public:
    TSetupViewPage();
    void Load(const TSettings& s);
    void Save(TSettings& s) const;

private:
    QSpinBox* Ed_FontSize;
    QCheckBox* Ch_AlphaBlend;
    QSlider* TB_AlphaBlend;
    QCheckBox* Ch_SmoothScroll;
    QLineEdit* Ed_WallPaper;
};

} // namespace marlix
