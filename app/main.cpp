// servoprog: the window program.
#include "AppLanguage.h"
#include "MainWidget.h"
#include "ServoprogVersion.h"

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

// Whether a window can be opened. Windows and macOS always have a screen;
// elsewhere Qt needs an X11 or Wayland display unless a platform is named
// (such as offscreen, which the tests and the screenshots use).
static bool canOpenWindow(const QStringList &arguments)
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    Q_UNUSED(arguments);
    return true;
#else
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || arguments.contains(QLatin1String("-platform"));
#endif
}

int main(int argc, char *argv[])
{
    // --version, and --help where no window can be opened (a shell over ssh,
    // a build machine), answer on standard output: the toolkit would end the
    // program with its own message when it finds no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const MainWidget::PrintRequest eRequest = MainWidget::printRequest(arguments);
    if (eRequest == MainWidget::PrintRequest::Version) {
        std::fputs(QStringLiteral("servoprog %1\n").arg(QLatin1String(kVersionText)).toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (eRequest == MainWidget::PrintRequest::Help && !canOpenWindow(arguments)) {
        QCoreApplication core(argc, argv);
        installLanguage(startupLanguage(QCoreApplication::arguments(), QLocale::system().name()));
        std::fputs(MainWidget::printedHelpText().toLocal8Bit().constData(), stdout);
        return 0;
    }

    QApplication app(argc, argv);

    // Sources are UTF-8, the toolkit's encoding for literal texts: no codec to set.

    const QString sLanguage = startupLanguage(QCoreApplication::arguments(), QLocale::system().name());
    installLanguage(sLanguage);

    MainWidget window;
    window.show();
    scheduleScreenshot(app, window);
    return app.exec();
}
