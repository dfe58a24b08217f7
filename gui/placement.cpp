#include "gui/placement.h"

#include "settings/inifile.h"

#include <QEvent>
#include <QWidget>

namespace marlix {

namespace {

int StateOf(const QWidget* w)
{
    if (w->isMinimized())
        return 1;
    if (w->isMaximized())
        return 2;
    return 0;
}

void ApplyState(QWidget* w, int state)
{
    const Qt::WindowStates s = state == 1 ? Qt::WindowMinimized
                             : state == 2 ? Qt::WindowMaximized
                                          : Qt::WindowNoState;
    w->setWindowState(s);
}

void WritePlacement(TIniFile& ini, std::string_view section, const QRect& normal, int state)
{
    ini.WriteInteger(section, "Left", normal.x());
    ini.WriteInteger(section, "Top", normal.y());
    ini.WriteInteger(section, "Width", normal.width());
    ini.WriteInteger(section, "Height", normal.height());
    ini.WriteInteger(section, "State", state);
}

} // namespace

void SaveWindowPlacement(TIniFile& ini, std::string_view section, QWidget* w)
{
    const int state = StateOf(w);
    QRect r = w->geometry();
    if (state != 0) {
        // A top-level window keeps its normal rectangle; a child (an MDI window) shows it
        // once set back to normal.
        if (w->isWindow() && w->normalGeometry().isValid()) {
            r = w->normalGeometry();
        } else {
            w->setWindowState(Qt::WindowNoState);
            r = w->geometry();
        }
    }
    WritePlacement(ini, section, r, state);
    if (state != 0 && StateOf(w) != state)
        ApplyState(w, state);
}

void SaveWindowPlacement(TIniFile& ini, std::string_view section, const QWidget* w, const QRect& normal)
{
    WritePlacement(ini, section, normal, StateOf(w));
}

void TNormalGeometry::Watch(QWidget* w)
{
    if (StateOf(w) == 0)
        Normal[w] = w->geometry();
    w->installEventFilter(this);
}

QRect TNormalGeometry::Of(const QWidget* w) const
{
    const auto found = Normal.find(w);
    return found != Normal.end() ? found->second : w->geometry();
}

bool TNormalGeometry::eventFilter(QObject* watched, QEvent* e)
{
    const auto type = e->type();
    if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::WindowStateChange) {
        const auto* w = static_cast<const QWidget*>(watched);
        if (StateOf(w) == 0)
            Normal[w] = w->geometry();
    }
    return false;
}

void LoadWindowPlacement(const TIniFile& ini, std::string_view section, QWidget* w,
                         const QRect& def, int defState)
{
    w->setWindowState(Qt::WindowNoState);
    int width = ini.ReadInteger(section, "Width", def.width());
    int height = ini.ReadInteger(section, "Height", def.height());
    if (width < 1 || height < 1) {
        width = def.width();
        height = def.height();
    }
    w->setGeometry(ini.ReadInteger(section, "Left", def.x()), ini.ReadInteger(section, "Top", def.y()),
                   width, height);
    int state = ini.ReadInteger(section, "State", -1);
    if (state < 0 || state > 2)
        state = defState;
    ApplyState(w, state);
}

} // namespace marlix
