#pragma once
#include <QWidget>
#include <string>

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace marlix {

class TSettings;

// The setup page "機能": downloads from the library, background music, the play history
// (with its clearing) and saving the playlist at exit ("Function" record).
class TSetupFunctionPage : public QWidget {
public:
    // `programFolder` ends in "/": the history lives below it.
    explicit TSetupFunctionPage(std::string programFolder);
    void Load(const TSettings& s);
    void Save(TSettings& s) const;

    // Asks, then deletes the recorded play history.
    void Bu_ClearHistoryClick();

private:
    std::string Folder;
    QCheckBox* Ch_Download;
    QCheckBox* Ch_DownloadTonkaraOnly;
    QLineEdit* Ed_DownloadPath;
    QLineEdit* Ed_BGMPlaylist;
    QSpinBox* Ed_BGMVolume;
    QCheckBox* Ch_SaveHistory;
    QCheckBox* Ch_SavePlaylist;
};

} // namespace marlix
