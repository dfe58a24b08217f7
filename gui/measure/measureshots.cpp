#include "gui/measure/measureshots.h"

#include "gui/measure/measure.h"
#include "gui/shot.h"
#include "settings/settings.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

namespace marlix {
namespace {

// The recording of a speaker heard `delay` samples late with `gain`.
void Record(TFo_Measure& wizard, int delay, double gain)
{
    TMeasureState& s = wizard.Session().Measurement();
    for (int k = 0; k < s.N; ++k)
        s.Sum[static_cast<size_t>((k + delay) % s.N)] = gain * s.Reference[static_cast<size_t>(k)] * s.AddNum;
    s.Done.store(true);
    wizard.Ti_CheckTimer();
}

} // namespace

bool SaveMeasureWizardShots(const QString& dir, QString& error)
{
    QTemporaryDir folder;
    const std::string programFolder = folder.path().toStdString() + "/";
    TSettings settings(programFolder);
    settings.ASIO.DriverName = "ALSA: -"; // no such card: the wizard stays silent
    settings.Measure.MeasureLen = 8192;
    TFo_Measure wizard(settings, programFolder, false);
    wizard.show();
    QApplication::processEvents();
    bool ok = true;
    for (int page = 1; page <= 4; ++page) {
        wizard.ShowStage(page);
        if (page == 3) {
            Record(wizard, 200, 0.4);
            Record(wizard, 260, -0.3);
        }
        wizard.Ti_CheckTimer();
        const QString file = QDir(dir).filePath(QString("Fo_Measure-%1.png").arg(page));
        ok = SaveShot(wizard, file, error) && ok;
    }
    wizard.reject();
    return ok;
}

} // namespace marlix
