// servoprog: the window program.
#include "AppLanguage.h"
#include "MainWidget.h"

#include <QApplication>
#include <QLocale>
#include <QTimer>

#include <cstdio>

// With SERVOPROG_SCREENSHOT=<file.png> the program grabs its window once the
// command line has been applied, writes the picture and ends (exit code 1
// when the file could not be written). tools/screenshot.sh uses this on the
// offscreen platform to refresh the pictures in docs/.
static void scheduleScreenshot(QApplication &app, MainWidget &window)
{
    const QString sFile = qEnvironmentVariable("SERVOPROG_SCREENSHOT");
    if (sFile.isEmpty())
        return;
    QTimer::singleShot(300, &window, [&app, &window, sFile]() {
        // A box of the command line still open would hide what the picture
        // is meant to show; say so.
        if (QWidget *modal = QApplication::activeModalWidget())
            std::fprintf(stderr, "dialog \"%s\" is open\n", qPrintable(modal->windowTitle()));
        const bool bSaved = window.grab().save(sFile, "PNG");
        std::fprintf(stderr, "window \"%s\" %s %s\n", qPrintable(window.windowTitle()),
                     bSaved ? "saved to" : "could not be saved to", qPrintable(sFile));
        app.exit(bSaved ? 0 : 1);
    });
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // Sources are UTF-8, the toolkit's encoding for literal texts: no codec to set.

    const QString sLanguage = startupLanguage(QCoreApplication::arguments(), QLocale::system().name());
    installLanguage(sLanguage);

    MainWidget window;
    window.show();
    scheduleScreenshot(app, window);
    return app.exec();
}
