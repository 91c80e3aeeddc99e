// The window around an update: progress, whole runs against the simulated
// drive, refusals, Cancel and closing while running, its size in both languages.
#include "AppLanguage.h"
#include "Pty.h"
#include "SimDrive.h"
#include "UiTestUtil.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>

#include <array>

static const int nRunTimeoutMs = 120000; // a loaded machine may run several suites at once

class TestUiRun : public WindowTest
{
    Q_OBJECT

private:
    const QString sInfo = "HW 2.0\nFW 1.0.6\n2026-12-07\nwindow test firmware\nb42";
    QByteArray swData = firmwareInfoBlock(sInfo.split('\n'));

    int bar(const char *sBar) const { return child<QProgressBar>(sBar)->value(); }
    // Idle, everything but Cancel is usable; while running only Cancel.
    bool controlsFor(bool bRunning) const
    {
        bool bMatch = window->isUpdateRunning() == bRunning && child("pushButtonCancel")->isEnabled() == bRunning;
        for (const char *sName : {"tabWidgetFunction", "groupBoxConnection", "groupBoxStartOptions", "pushButtonStart"})
            bMatch = bMatch && child(sName)->isEnabled() != bRunning;
        return bMatch;
    }
    void start(const QStringList &rows, const QString &sPort, const QString &sBoot, int nConfirm)
    {
        window->processArgs(QStringList{"servoprog", "-B", sBoot, "-P", sPort} + rows);
        modal->plan << QString::number(nConfirm);
        child<QPushButton>("pushButtonStart")->click();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        swData += randomBytes(6000, 1) + QByteArray(6000, '\x33');
        QVERIFY(writeImageFile(tmp.filePath("sw.srec"), {{0x400000, swData}}));
        QVERIFY(writeImageFile(tmp.filePath("fw1.hex"), {{0x10000, randomBytes(3000, 2)}}));
        QVERIFY(writeImageFile(tmp.filePath("big.hex"), {{0, randomBytes(96 * 1024, 3)}}));
    }

    void init() { QVERIFY(openWindow()); }

    void cleanup()
    {
        window.reset();
        QCoreApplication::removeTranslator(&appTranslator()); // back to the built-in English texts
        QCoreApplication::removeTranslator(&qtTranslator());
    }

    // Steps announced, steps begun, the step's value; the total bar after
    // each, -1 while it is off.
    void totalProgress()
    {
        QList<int> totals;
        for (const auto &[nSteps, nStep, nValue] :
             {std::array{4, 2, 50}, {4, 4, 100}, {4, 0, 50}, {3, 7, 100}, {3, 1, 99}, {1, 1, 80}}) {
            window->UpdateProgressSteps(nSteps);
            for (int i = 0; i < nStep; ++i)
                window->UpdateProgressStep();
            window->UpdateProgressValue(nValue);
            QCOMPARE(bar("progressBarProgress"), nValue);
            totals << (child("progressBarTotal")->isEnabled() ? bar("progressBarTotal") : -1);
        }
        QCOMPARE(totals, (QList<int>{37, 100, 0, 100, 32, -1}));
    }

    // Flash1 first: the information read after connecting comes from the
    // device the monitor has selected last. A second run on the same window,
    // the drive now in its boot monitor, reads back what the first wrote.
    void wholeUpdate()
    {
        SimDrive drive;
        QVERIFY2(
            drive.start({"--flash0", drive.filePath("f0.bin"), "--flash1", drive.filePath("f1.bin"), "--powered-off"}),
            qPrintable(drive.errorString()));
        start({"-X", tmp.filePath("fw1.hex"), "-S", tmp.filePath("sw.srec")}, drive.portName(), "off", QMessageBox::Ok);
        QCOMPARE(text("labelInfoFlash1"), sInfo);
        QVERIFY(controlsFor(true));
        QTRY_VERIFY_WITH_TIMEOUT(controlsFor(false), nRunTimeoutMs);
        QCOMPARE(modal->seen, QStringList{"Info|Power off device, press ok and turn on device"});
        QCOMPARE(bar("progressBarProgress") + bar("progressBarTotal"), 200);
        QCOMPARE(text("labelProgressStep") + '|' + text("labelProgressFile"), QString("Update finished|sw"));
        QCOMPARE(text("labelInfoFlash2"), QString()); // the flash was empty

        child<QRadioButton>("radioButtonRunningMonitor")->setChecked(true);
        modal->plan << QString::number(QMessageBox::Yes);
        child<QPushButton>("pushButtonStart")->click();
        QTRY_VERIFY_WITH_TIMEOUT(controlsFor(false), nRunTimeoutMs);
        QCOMPARE(modal->seen.size(), 2);
        QVERIFY(modal->seen.at(1).startsWith("Check|Please check whether the LED's Fault/Störung, Ready/Bereit"));
        QCOMPARE(text("labelInfoFlashHeader2") + text("labelInfoFlash2"), "Flash image info:\n" + sInfo);

        QVERIFY(drive.stop());
        QVERIFY(readFile(drive.filePath("f0.bin")).mid(0x400000, swData.size() + 1) == swData + '\xff');
        QVERIFY(readFile(drive.filePath("f1.bin")).mid(0x10000, 3000) == randomBytes(3000, 2));
    }

    // A refused confirmation starts nothing, yet clears what the last run
    // showed. Closing asks: No keeps the run; Cancel ends it as a failure
    // with a critical box (the kinds of failure are the worker's); Yes
    // cancels and waits for the worker. A window destroyed without a close
    // event must not crash.
    void startAndClose()
    {
        Pty pty;
        for (const auto &[sBoot, nAnswer] : {std::pair{"mon", QMessageBox::No}, {"off", QMessageBox::Cancel}}) {
            window->UpdateProgressState("Update finished");
            window->UpdateProgressValue(100);
            start({"-S", tmp.filePath("sw.srec")}, pty.path(), sBoot, nAnswer);
            QVERIFY(controlsFor(false));
            QCOMPARE(text("labelProgressStep") + QString::number(bar("progressBarProgress")), QString("0"));
        }
        modal->seen.clear();
        modal->icons.clear();
        start({}, pty.path(), "off", QMessageBox::Ok);
        modal->plan << QString::number(QMessageBox::No);
        QVERIFY(!window->close());
        QVERIFY(controlsFor(true) && window->isVisible());
        child<QPushButton>("pushButtonCancel")->click(); // the wake loop looks at it every few ms
        QTRY_VERIFY_WITH_TIMEOUT(controlsFor(false), 10000);
        start({}, pty.path(), "off", QMessageBox::Ok);
        modal->plan << QString::number(QMessageBox::Yes);
        QVERIFY(!window->close());
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), nRunTimeoutMs);
        QVERIFY(!window->isUpdateRunning());
        const QString sCanceled = "Init boot monitor|Canceled from user!";
        QCOMPARE(modal->seen.size(), 6);
        QCOMPARE(modal->seen.at(2) + modal->seen.at(5), sCanceled + sCanceled);
        QCOMPARE(modal->seen.at(1).section('|', 0, 0) + modal->seen.at(4).section('|', 0, 0),
                 QString("Update runningUpdate running"));
        QCOMPARE(modal->icons.at(2), QMessageBox::Critical);

        QVERIFY(openWindow());
        start({"-S", tmp.filePath("sw.srec")}, pty.path(), "off", QMessageBox::Ok);
        QVERIFY(controlsFor(true));
        window.reset();
        QVERIFY(openWindow() && window->close()); // an idle window closes at once
        QVERIFY(modal->seen.isEmpty());
    }

    // The window keeps its size whatever it shows (firmware information, the
    // longer German texts, a long file name); what does not fit is cut with the
    // full text as tool tip. Texts follow the language, Qt's too; English has
    // no file: the built-in texts come back.
    void languageAndSize()
    {
        QCOMPARE(window->size(), QSize(625, 598));
        window->processArgs({"servoprog", "-S", SERVOPROG_SAMPLE_IMAGE, "-X", tmp.filePath("fw1.hex")});
        child<QComboBox>("comboBoxBaudrate")->setCurrentIndex(5);
        window->UpdateInfoText(1, "SRV-FPGA-HW3-REV-B\nFW 2.14.0-rc1\n2026-11-30\n"
                                  "AC servo drive sample firmware image 40c\nSAMPLE-0001-ABCD");
        window->UpdateProgressFile("servo-fw-sample-with-a-rather-long-name-for-a-file");
        auto *table = child<QTableWidget>("tableWidgetPgmImages");
        // button, title, rate "auto", operation, header, Cancel, Qt's No, info header
        for (const QStringList &texts :
             {QStringList{"DE", "Programmierwerkzeug AC-Servoantrieb V0.0.6 beta02", "automatisch", "Programmieren",
                          "Länge", "Abbrechen", "&Nein", "Software-Abbild:\n"},
              QStringList{"EN", "Programming tool AC Servo Drive V0.0.6 beta02", "auto", "Program", "Length", "Cancel",
                          "&No", "Software image info:\n"}}) {
            child<QToolButton>("toolButton" + texts.at(0))->click(); // a posted event
            QTRY_COMPARE(window->windowTitle(), texts.at(1));
            QCOMPARE(
                (QStringList{texts.at(0), window->windowTitle(), child<QComboBox>("comboBoxBaudrate")->itemText(0),
                             qobject_cast<QComboBox *>(table->cellWidget(1, 1))->currentText(),
                             table->horizontalHeaderItem(4)->text(), child<QPushButton>("pushButtonCancel")->text(),
                             QDialogButtonBox(QDialogButtonBox::No).button(QDialogButtonBox::No)->text(),
                             text("labelInfoFlashHeader1")}),
                texts);
            QCOMPARE(child<QComboBox>("comboBoxBaudrate")->currentIndex(), 5);
            QCOMPARE(qobject_cast<QComboBox *>(table->cellWidget(1, 0))->currentData().toInt(), int(Flash1));
            QVERIFY(text("labelInfoFlash2").startsWith("SRV-FPGA-HW3-REV-B\n"));
            QTest::qWait(50);
            QCOMPARE(window->size(), QSize(625, 598));
            window->grab(); // painting brings the tool tips up to date
            for (QWidget *w : window->findChildren<QWidget *>()) {
                auto *label = qobject_cast<QLabel *>(w);
                if (w->isVisible() && w->width() < w->sizeHint().width()
                    && !(label && label->toolTip() == label->text())
                    && (label || qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w)))
                    QFAIL(qPrintable(w->objectName() + " is cut"));
            }
        }
        QVERIFY(modal->seen.isEmpty());
    }
};

QTEST_MAIN(TestUiRun)
#include "tst_ui_run.moc"
