#pragma once
#include <QWidget>
#include <vector>

class QCheckBox;
class QComboBox;
class QKeySequenceEdit;
class QLineEdit;

namespace marlix {

class TSettings;

// The setup page "操作": the browser's behaviour, the handled extensions, playing at
// open, the 17 shortcuts and the news check ("Operation" record).
class TSetupOperationPage : public QWidget {
public:
    TSetupOperationPage();
    void Load(const TSettings& s);
    void Save(TSettings& s) const;

private:
    QCheckBox* Ch_ClickRoot;
    QComboBox* Co_BrowserType;
    QCheckBox* Ch_SkipSubFolder;
    QLineEdit* Ed_BrowseExts;
    QCheckBox* Ch_JukeBoxMode;
    QCheckBox* Ch_MouseScroll;
    QCheckBox* Ch_PlayAtOpen;
    std::vector<QKeySequenceEdit*> HK_ShortCut; // in the page's order
    QCheckBox* Ch_CheckNew;
};

} // namespace marlix
