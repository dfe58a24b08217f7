#include "gui/dspui/analysisshots.h"

#include "engine/spectrumanalyser.h"
#include "gui/dspui/setup.h"
#include "gui/dspui/spectrum.h"
#include "gui/shot.h"
#include "settings/settings.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace marlix {
namespace {

// A block of something like music: a few partials falling with frequency over a little noise.
std::vector<double> MusicBlock(int channel, double loudness, std::mt19937& noise)
{
    std::normal_distribution<double> hiss(0.0, 0.0005);
    std::vector<double> x(512);
    for (int i = 0; i < 512; ++i) {
        double v = hiss(noise);
        for (int p = 1; p <= 12; ++p)
            v += loudness / (p * p + channel) * std::sin(2 * std::numbers::pi * 220.0 * p * (1 + 0.01 * channel) * i / 44100);
        x[i] = v;
    }
    return x;
}

bool SaveSpectrum(const QString& dir, QString& error)
{
    TSettings settings;
    settings.Operation.bSpectrumVertical = true;
    TSpectrumAnalyser analyser;
    TFo_Spectrum window(analyser, settings);
    window.resize(520, 380);
    window.show();
    analyser.Hook(2, 44100);
    window.Ti_RedrawTimer();
    std::mt19937 noise(7);
    for (int t = 0; t <= 400; t += 50) {
        const double loudness = t < 100 ? 0.9 : 0.35;
        const auto l = MusicBlock(0, loudness, noise), r = MusicBlock(1, loudness * 0.8, noise);
        if (analyser.BeginTap(512)) {
            analyser.Tap(0, l.data(), 512);
            analyser.Tap(1, r.data(), 512);
            analyser.EndTap();
        }
        analyser.Pass(t);
    }
    window.Ti_RedrawTimer();
    const bool ok = SaveShot(window, QDir(dir).filePath("Fo_Spectrum.png"), error);
    window.hide();
    window.Ti_RedrawTimer();
    return ok;
}

bool SaveSetupPages(const QString& dir, QString& error)
{
    QTemporaryDir folder;
    TSettings settings;
    settings.Output.bFreq = {false, true, true, true, false, false, false};
    settings.ReSampler.bUpSampling = true;
    settings.ASIO.DriverName = "JACK";
    TFo_Setup dialog(settings, folder.path().toStdString() + "/");
    dialog.show();
    bool ok = true;
    for (const QString& page : dialog.PageNames()) {
        dialog.SelectPage(page);
        QString name = page;
        name.remove(0, 3);
        ok = SaveShot(dialog, QDir(dir).filePath("Fo_Setup-" + name + ".png"), error) && ok;
    }
    dialog.reject();
    return ok;
}

} // namespace

bool SaveAnalysisWindowShots(const QString& dir, QString& error)
{
    const bool spectrum = SaveSpectrum(dir, error);
    return SaveSetupPages(dir, error) && spectrum;
}

} // namespace marlix
