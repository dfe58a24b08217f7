#pragma once
#include <QWidget>
#include <string>

class QComboBox;
class QLineEdit;
class QRadioButton;
class QToolButton;

namespace marlix {

class TOnlineLibrary;
class TPendingAdditions;
class TWebView;
class TWindowTimer;

// The library pane "Tonkara": the library's pages in an embedded browser, which starts
// when the pane is first on screen; links to audio files become playlist entries; a quick
// search and "play all" feed the playlist too.
class TFo_Tonkara : public QWidget {
public:
    TFo_Tonkara(TOnlineLibrary& library, TPendingAdditions& pending, QWidget* parent = nullptr);
    ~TFo_Tonkara() override;

    // Navigates unless the browser already shows `url` (the control loop follows the
    // playing track's page this way).
    void Navigate(const std::string& url);
    // Runs a favourite search file: its results go to the playlist.
    bool RunFavourite(const std::string& file);
    void QuickSearchClick();
    void PlayAllClick();
    void Ti_CheckTimer();

    TWebView* Browser() const { return WB_Browser; }
    bool NavigationRequested() const { return Requested; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    QToolButton* Button(const char* name, const QString& caption);
    void OpenStartPage();
    void DocumentComplete(bool ok);

    TOnlineLibrary& Library;
    TPendingAdditions& Pending;
    TWebView* WB_Browser;
    QLineEdit* Ed_Address;
    QLineEdit* Ed_Artist;
    QLineEdit* Ed_Title;
    QComboBox* Ed_Genre;
    QRadioButton* Ra_Random;
    QRadioButton* Ra_New;
    TWindowTimer* Ti_Check;
    bool Requested = false;
    bool Started = false;
};

} // namespace marlix
