#pragma once
#include <QString>
#include <QWidget>
#include <array>
#include <functional>

class QLabel;

namespace marlix {
class TIniFile;
}

namespace marlix {

class TOnlineLibrary;
class TPendingAdditions;
class TPlayerSession;
class TPlayerState;
class TSettings;

// What the player windows are made from: the cores they work on.
struct TChildWindowCores {
    TPlayerSession& Session;
    TSettings& Settings;
    TPlayerState& State;
    TPendingAdditions& Pending;
    TOnlineLibrary* Online = nullptr; // none: the library pane is a stand-in
};

// The seven MDI children of the main window, each with the object name of its window.
struct TChildWindows {
    QWidget* Conductor = nullptr;   // "Fo_Conductor"
    QWidget* Information = nullptr; // "Fo_Information"
    QWidget* Browser = nullptr;     // "Fo_Browser"
    QWidget* Playlist = nullptr;    // "Fo_Playlist"
    QWidget* Spectrum = nullptr;    // "Fo_Spectrum"
    QWidget* Equalizer = nullptr;   // "Fo_Equalizer", the DSP window
    QWidget* Tonkara = nullptr;     // "Fo_Tonkara", the library pane
    // Opens the DSP window's page 1-4 ("エフェクタ", "コンボルバ", "マトリクス", "イコライザ").
    std::function<void(int)> SelectEqualizerPage;
    // The browser's root list: loaded when the main window is first shown, saved at exit.
    std::function<void(const TIniFile&)> LoadBrowserRoots;
    std::function<void(TIniFile&)> SaveBrowserRoots;

    // In the order their placements are saved ("ConductorWnd" ... "TonkaraWnd").
    std::array<QWidget*, 7> InSaveOrder() const
    {
        return {Conductor, Information, Browser, Playlist, Spectrum, Equalizer, Tonkara};
    }
};

// Creates the player windows, unparented; the main window puts each into an MDI child.
// Windows not built yet are stand-ins with the right name and caption.
TChildWindows CreateChildWindows(const TChildWindowCores& cores);

// A stand-in for a player window: its caption in the middle of an empty page.
class TPlaceholderWindow : public QWidget {
public:
    TPlaceholderWindow(const QString& objectName, const QString& caption, QSize clientSize);
    void SetNote(const QString& note);
    QSize sizeHint() const override { return Size; }

private:
    QLabel* Note;
    QSize Size;
};

} // namespace marlix
