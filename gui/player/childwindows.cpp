#include "gui/player/childwindows.h"

#include "gui/dspui/equalizer.h"
#include "gui/dspui/spectrum.h"
#include "gui/online/tonkara.h"
#include "gui/player/browser.h"
#include "gui/player/conductor.h"
#include "gui/player/information.h"
#include "gui/player/playlistwindow.h"
#include "player/playersession.h"

#include <QLabel>
#include <QVBoxLayout>

namespace marlix {

TPlaceholderWindow::TPlaceholderWindow(const QString& objectName, const QString& caption, QSize clientSize)
    : Size(clientSize)
{
    setObjectName(objectName);
    setWindowTitle(caption);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(0xF4, 0xF5, 0xF7));
    setPalette(p);
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(caption, this);
    title->setAlignment(Qt::AlignCenter);
    QFont f = title->font();
    f.setPointSize(f.pointSize() + 3);
    f.setBold(true);
    title->setFont(f);
    Note = new QLabel(this);
    Note->setAlignment(Qt::AlignCenter);
    Note->setStyleSheet("color: #707780");
    layout->addStretch();
    layout->addWidget(title);
    layout->addWidget(Note);
    layout->addStretch();
    resize(clientSize);
}

void TPlaceholderWindow::SetNote(const QString& note)
{
    Note->setText(note);
}

TChildWindows CreateChildWindows(const TChildWindowCores& c)
{
    TChildWindows w;
    w.Conductor = new TFo_Conductor(c.State, c.Session.Decoder, c.Session.Playlist);
    w.Information = new TFo_Information(c.State, c.Session.Decoder, c.Session.Control.Chain, c.Settings);
    auto* browser = new TFo_Browser(c.Settings, c.State, c.Pending);
    w.Browser = browser;
    w.LoadBrowserRoots = [browser](const TIniFile& ini) { browser->LoadRoots(ini); };
    w.SaveBrowserRoots = [browser](TIniFile& ini) { browser->SaveRoots(ini); };
    w.Playlist = new TFo_Playlist(c.State, c.Session.Playlist, c.Settings);
    w.Spectrum = new TFo_Spectrum(c.Session.Control.Chain.Spectrum, c.Settings);
    auto* dsp = new TFo_Equalizer({c.Settings, c.State, c.Session.Control.Chain, c.Session.Decoder,
                                   c.Session.EffectHost(), c.Session.ProgramFolderPath()});
    w.Equalizer = dsp;
    if (c.Online)
        w.Tonkara = new TFo_Tonkara(*c.Online, c.Pending);
    else
        w.Tonkara = new TPlaceholderWindow("Fo_Tonkara", "Tonkara", QSize(600, 400));
    w.SelectEqualizerPage = [dsp](int page) { dsp->SelectPage(page); };
    return w;
}

} // namespace marlix
