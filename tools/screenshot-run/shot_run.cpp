// Pictures the window while an update runs, for the README. Fills the window
// from the command line as the operator's shortcut would, confirms the
// start-option question the way the operator does, presses Start and grabs
// the window once the overall progress passes the given percentage.
//
//   servoprog-shot-run OUT.png PERCENT [servoprog arguments...]
#include "MainWidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: servoprog-shot-run OUT.png PERCENT [servoprog arguments...]\n");
        return 2;
    }
    const QString sPicture = QString::fromLocal8Bit(argv[1]);
    const int nPercent = QByteArray(argv[2]).toInt();
    // The window reads the process's own command line, as servoprog does:
    // hand it the arguments without the two of this program.
    std::vector<char *> windowArgv{argv[0]};
    windowArgv.insert(windowArgv.end(), argv + 3, argv + argc);
    int windowArgc = int(windowArgv.size());
    QApplication app(windowArgc, windowArgv.data());

    MainWidget window;
    window.show();

    auto *pStart = window.findChild<QPushButton *>(QStringLiteral("pushButtonStart"));
    auto *pOverall = window.findChild<QProgressBar *>(QStringLiteral("progressBarTotal"));
    if (!pStart || !pOverall) {
        std::fprintf(stderr, "servoprog-shot-run: window without Start button or progress bar\n");
        return 1;
    }

    int nResult = 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // The start-option question: answered as the operator would.
        if (auto *pBox = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            QAbstractButton *pYes = pBox->button(QMessageBox::Yes);
            QAbstractButton *pOk = pBox->button(QMessageBox::Ok);
            if (pBox->icon() == QMessageBox::Critical) {
                std::fprintf(stderr, "servoprog-shot-run: %s: %s\n", qPrintable(pBox->windowTitle()),
                             qPrintable(pBox->text()));
                app.exit(1);
            } else if (pYes) {
                pYes->click();
            } else if (pOk) {
                pOk->click();
            }
            return;
        }
        if (pOverall->value() >= nPercent) {
            nResult = window.grab().save(sPicture) ? 0 : 1;
            window.findChild<QPushButton *>(QStringLiteral("pushButtonCancel"))->click();
            poll.stop();
            // Let the worker see the cancel and close the port before leaving.
            QTimer::singleShot(2000, &app, [&] { app.exit(nResult); });
        }
    });
    // Start once the window has applied its command line.
    QTimer::singleShot(200, pStart, &QPushButton::click);
    poll.start(20);
    QTimer::singleShot(120000, &app, [&] {
        std::fprintf(stderr, "servoprog-shot-run: timed out\n");
        app.exit(1);
    });
    return app.exec();
}
