// The desktop player. Until its windows exist it opens an empty main frame.
// "--screens DIR" saves the drawing toolkit's gallery as DIR/toolkit.png and the player
// windows as DIR/<object name>.png, and exits.
#include "gui/gallery.h"
#include "gui/player/windowshots.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QMainWindow>
#include <QMdiArea>
#include <cstdio>

namespace {

int SaveScreens(const QString& dir)
{
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "marlixaudio: cannot create %s\n", qPrintable(dir));
        return 2;
    }
    marlix::TToolkitGallery gallery;
    const QString file = QDir(dir).filePath("toolkit.png");
    if (!gallery.SaveTo(file)) {
        std::fprintf(stderr, "marlixaudio: cannot write %s\n", qPrintable(file));
        return 2;
    }
    QString error;
    if (!marlix::SavePlayerWindowShots(dir, error)) {
        std::fprintf(stderr, "marlixaudio: player windows: %s\n", qPrintable(error));
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Marlix Audio");
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 9));

    const QStringList args = QApplication::arguments();
    const qsizetype screens = args.indexOf("--screens");
    if (screens >= 0) {
        if (screens + 1 >= args.size()) {
            std::fprintf(stderr, "usage: marlixaudio --screens DIR\n");
            return 2;
        }
        return SaveScreens(args[screens + 1]);
    }

    QMainWindow main;
    main.setObjectName("Fo_Main");
    main.setWindowTitle("Marlix Audio");
    auto* mdi = new QMdiArea;
    mdi->setObjectName("MDIArea");
    main.setCentralWidget(mdi);
    main.resize(1024, 720);
    main.show();
    return QApplication::exec();
}
