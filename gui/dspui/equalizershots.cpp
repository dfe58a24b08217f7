#include "gui/dspui/equalizershots.h"

#include "base/flexfilebuf.h"
#include "engine/decoder.h"
#include "gui/dspui/convolverpage.h"
#include "gui/dspui/eqpage.h"
#include "gui/dspui/equalizer.h"
#include "gui/shot.h"
#include "player/outputchain.h"
#include "player/playerstate.h"
#include "settings/settings.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cmath>
#include <filesystem>

namespace marlix {

namespace {

// A decaying stereo room response, 0.25 s at 48 kHz.
bool WriteRoom(const std::string& path)
{
    TFlexFileBuf file;
    if (file.OpenFile(1, {path}, 48000, 16, 1, 2) != 0)
        return false;
    const int frames = 12000;
    file.SetBuf(nullptr, 2, 16, frames);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < frames; ++i)
            static_cast<int16_t*>(file.Data[c])[i] =
                static_cast<int16_t>(20000 * std::exp(-i / 2000.0) * std::sin(i * (0.3 + 0.1 * c)));
    const bool ok = file.WriteBlock(0, frames) == frames;
    file.CloseFile(1);
    return ok;
}

void MakeState(TSettings& s, TPlayerState& state)
{
    s.EQ.Curve(-1).Add({0, 80, 2, 0, 4});
    s.EQ.Curve(-1).Add({0, 3000, 1.5, -0.5, -3});
    s.EQ.Curve(-1).Add({-2, 20000, 1, 0, 0});
    s.EQ.Curve(0).Add({1, 8000, 2, 0, 2.5});
    s.Matrix.fLevel[0][1] = -60;
    s.Matrix.fLevel[1][0] = -60;
    s.Matrix.bONOFF[0][1] = s.Matrix.bONOFF[1][0] = true;
    s.Matrix.bInv[1][0] = true;
    s.Output.fLevel[0] = -15;
    s.Output.fLevel[1] = -30;
    s.Output.fDelay[1] = 1.25;
    s.Output.bInvPhase[1] = true;
    s.EFX.Slots[0].Present = true;
    s.EFX.Slots[0].Name = "Plate|Plate reverb";
    s.EFX.Slots[1].Present = true;
    s.EFX.Slots[1].On = false;
    s.EFX.Slots[1].Name = "Comp|Gentle compressor";
    state.EQ = state.Matrix = state.HSC = true;
}

} // namespace

bool SaveEqualizerShots(const QString& dir, QString& error)
{
    QTemporaryDir home;
    const std::string folder = home.path().toStdString() + "/";
    std::filesystem::create_directories(folder + "impulseresponce");
    if (!home.isValid() || !WriteRoom(folder + "impulseresponce/Small hall.wav")) {
        error = QStringLiteral("cannot make the sample response");
        return false;
    }
    TPlayerState state;
    TSettings settings(folder);
    MakeState(settings, state);
    TFo_Decoder decoder;
    TOutputChain chain(settings, state, decoder);
    TFo_Equalizer window({settings, state, chain, decoder, nullptr, folder});
    // The smallest client a layout gives the window on a 1280 × 720 screen.
    window.resize(618, 287);
    window.show();
    window.Convolver->ChooseResponse(0, 1);
    window.Equalizer->findChild<QComboBox*>("Co_Channel")->setCurrentIndex(1);
    window.Ti_CheckTimer();
    bool ok = true;
    for (int page = 0; page < TFo_Equalizer::PageCount; ++page) {
        window.PageControl->setCurrentIndex(page);
        const QString file = QDir(dir).filePath(QStringLiteral("TFo_Equalizer-%1.png").arg(TFo_Equalizer::PageNames[page]));
        ok = SaveShot(window, file, error) && ok;
    }
    return ok;
}

} // namespace marlix
