#pragma once
#include <QObject>
#include <QRect>
#include <array>
#include <map>
#include <string_view>

class QWidget;

namespace marlix {

class TIniFile;

// The sections of the player windows' placements, in the order they are saved.
inline constexpr std::array<std::string_view, 7> kWindowSections{
    "ConductorWnd", "InformationWnd", "BrowserWnd", "PlaylistWnd",
    "SpectrumWnd", "EqualizerWnd", "TonkaraWnd"};

// Writes the window's normal rectangle as "Left", "Top", "Width", "Height" and its state
// as "State" (0 normal, 1 minimised, 2 maximised). The window keeps its state.
void SaveWindowPlacement(TIniFile& ini, std::string_view section, QWidget* w);

// The same keys with `normal` as the normal rectangle, for when the window cannot be set
// back to normal to learn it (the display is gone). Nothing is asked of the window
// system.
void SaveWindowPlacement(TIniFile& ini, std::string_view section, const QWidget* w, const QRect& normal);

// Follows the windows it watches and keeps the last rectangle each had in the normal
// state (an MDI child keeps no public normal rectangle while minimised or maximised).
class TNormalGeometry : public QObject {
public:
    void Watch(QWidget* w);
    // The last normal rectangle, or the present one when the window was never normal.
    QRect Of(const QWidget* w) const;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    std::map<const QObject*, QRect> Normal;
};

// Sets the window to normal, places it from the section with `def` for missing keys,
// then applies "State", or `defState` when it is missing or not one of 0, 1, 2.
// A width or height below 1 keeps the default size.
void LoadWindowPlacement(const TIniFile& ini, std::string_view section, QWidget* w,
                         const QRect& def, int defState);

} // namespace marlix
