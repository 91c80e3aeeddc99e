// The window around an update run: progress arithmetic, start refusals,
// the language switch, whole updates against the simulated drive, Cancel,
// errors from the worker and closing the window while a run is active.
#include "AppLanguage.h"
#include "MainWidget.h"
#include "SimDrive.h"
#include "UiTestUtil.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

#ifdef Q_OS_LINUX
#include <pty.h>
#include <unistd.h>
#endif

// Generous: a loaded 2-core machine may run several suites at once.
static const int nRunTimeoutMs = 120000;

// A pseudo-terminal nobody answers on; no name where there is none.
struct SilentPort
{
    QString sName;
    int nMaster = -1, nSlave = -1;
    SilentPort()
    {
#ifdef Q_OS_LINUX
        char name[256];
        if (::openpty(&nMaster, &nSlave, name, nullptr, nullptr) == 0)
            sName = QString::fromLocal8Bit(name);
#endif
    }
    ~SilentPort()
    {
#ifdef Q_OS_LINUX
        if (nMaster >= 0) {
            ::close(nSlave);
            ::close(nMaster);
        }
#endif
    }
};

class TestUiRun : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    std::unique_ptr<MainWidget> window;
    std::unique_ptr<ModalAnswerer> modal;
    QByteArray swData;
    QByteArray fw1Data;

    template <class T> T *child(const char *sName) const { return window->findChild<T *>(QLatin1String(sName)); }
    QString text(const char *sLabel) const { return child<QLabel>(sLabel)->text(); }
    static QString noButtonText()
    {
        return QDialogButtonBox(QDialogButtonBox::No).button(QDialogButtonBox::No)->text();
    }
    int bar(const char *sBar) const { return child<QProgressBar>(sBar)->value(); }

    // Idle: everything but Cancel usable; running: only Cancel.
    bool controls(bool bRunning) const
    {
        for (QWidget *w : std::initializer_list<QWidget *>{
                 child<QTabWidget>("tabWidgetFunction"), child<QGroupBox>("groupBoxConnection"),
                 child<QGroupBox>("groupBoxStartOptions"), child<QPushButton>("pushButtonStart")})
            if (w->isEnabled() == bRunning)
                return false;
        return child<QPushButton>("pushButtonCancel")->isEnabled() == bRunning;
    }

    void useRows() { window->processArgs({"servoprog", "-S", tmp.filePath("sw.srec"), "-X", tmp.filePath("fw1.hex")}); }

    void start(const QString &sPort, const QString &sBoot, QMessageBox::StandardButton nConfirm)
    {
        auto *ports = child<QComboBox>("comboBoxPort");
        if (ports->findText(sPort) < 0)
            ports->addItem(sPort);
        ports->setCurrentText(sPort);
        window->processArgs({"servoprog", "-B", sBoot});
        modal->answer(nConfirm);
        child<QPushButton>("pushButtonStart")->click();
    }

    static QByteArray randomBytes(int nSize, quint32 nSeed)
    {
        QByteArray data(nSize, '\0');
        quint32 x = nSeed;
        for (int i = 0; i < nSize; ++i) {
            x = x * 1664525u + 1013904223u;
            data[i] = char(x >> 24);
        }
        return data;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        swData = firmwareInfoBlock({"HW 2.0", "FW 1.0.6", "2026-12-07", "window test firmware", "b42"})
                 + randomBytes(20000, 1) + QByteArray(20000, '\x33');
        fw1Data = randomBytes(3000, 2);
        QVERIFY(makeImageFile(tmp.filePath("sw.srec"), "srec", 0x400000, swData));
        QVERIFY(makeImageFile(tmp.filePath("fw1.hex"), "ihex", 0x10000, fw1Data));
        QVERIFY(makeImageFile(tmp.filePath("big.hex"), "ihex", 0x0, randomBytes(192 * 1024, 3)));
    }

    void init() { QVERIFY(openWindow(window, modal)); }

    void cleanup()
    {
        window.reset();
        modal.reset();
        // Every test starts with the built-in English texts.
        QCoreApplication::removeTranslator(&appTranslator());
        QCoreApplication::removeTranslator(&qtTranslator());
    }

    // ---- without a worker ------------------------------------------------------

    void totalProgress_data()
    {
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("stepSignals");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("total");
        QTest::addColumn<bool>("totalEnabled");

        QTest::newRow("4 steps, step 2, 50%") << 4 << 2 << 50 << 37 << true;
        QTest::newRow("4 steps, step 2, 100%") << 4 << 2 << 100 << 50 << true;
        QTest::newRow("4 steps, last step done") << 4 << 4 << 100 << 100 << true;
        QTest::newRow("value before the first step is clamped") << 4 << 0 << 50 << 0 << true;
        QTest::newRow("more steps than announced") << 3 << 7 << 100 << 100 << true;
        QTest::newRow("3 steps, step 1, 99%") << 3 << 1 << 99 << 32 << true;
        QTest::newRow("one step: no total") << 1 << 1 << 80 << 0 << false;
        QTest::newRow("no steps") << 0 << 0 << 100 << 0 << false;
    }

    void totalProgress()
    {
        QFETCH(int, steps);
        QFETCH(int, stepSignals);
        QFETCH(int, value);
        QFETCH(int, total);
        QFETCH(bool, totalEnabled);
        window->UpdateProgressSteps(steps);
        for (int i = 0; i < stepSignals; ++i)
            window->UpdateProgressStep();
        window->UpdateProgressValue(value);
        QCOMPARE(bar("progressBarProgress"), value);
        QCOMPARE(bar("progressBarTotal"), total);
        QCOMPARE(child<QProgressBar>("progressBarTotal")->isEnabled(), totalEnabled);
    }

    void startRefused_data()
    {
        QTest::addColumn<QString>("boot");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("message");
        QTest::newRow("monitor, No")
            << "mon" << int(QMessageBox::No)
            << "Check|Please check whether the LED's Fault/Störung, Ready/Bereit, and Overload/Überlast at the "
               "front panel are flashing.";
        QTest::newRow("powered off, Cancel")
            << "off" << int(QMessageBox::Cancel) << "Info|Power off device, press ok and turn on device";
    }

    void startRefused()
    {
        QFETCH(QString, boot);
        QFETCH(int, answer);
        QFETCH(QString, message);
        useRows();
        // What the last run showed goes once Start is pressed.
        window->UpdateProgressState(QStringLiteral("Update finished"));
        window->UpdateProgressFile(QStringLiteral("sw"));
        window->UpdateProgressSteps(2);
        window->UpdateProgressStep();
        window->UpdateProgressValue(100);
        start(QStringLiteral("COM1"), boot, QMessageBox::StandardButton(answer));
        QCOMPARE(modal->messages(), QStringList{message});
        QCOMPARE(text("labelProgressStep") + text("labelProgressFile"), QString());
        QCOMPARE(bar("progressBarProgress") + bar("progressBarTotal"), 0);
        QCOMPARE(modal->seen.value(0).nIcon, boot == "mon" ? QMessageBox::Question : QMessageBox::Information);
        QVERIFY(!window->isUpdateRunning());
        QVERIFY(controls(false));
    }

    void languageSwitch()
    {
        useRows();
        window->UpdateInfoText(1, QStringLiteral("drive info"));
        window->UpdateProgressState(QStringLiteral("Update finished"));
        auto *rates = child<QComboBox>("comboBoxBaudrate");
        rates->setCurrentIndex(5);
        auto *table = child<QTableWidget>("tableWidgetPgmImages");

        // The language change reaches the window as a posted event.
        child<QToolButton>("toolButtonDE")->click();
        QTRY_COMPARE(window->windowTitle(), QStringLiteral("Programmierwerkzeug AC-Servoantrieb V0.0.6 beta02"));
        QCOMPARE(rates->itemText(0), QStringLiteral("automatisch"));
        QCOMPARE(rates->currentIndex(), 5);
        QCOMPARE(qobject_cast<QComboBox *>(table->cellWidget(1, 1))->currentText(), QStringLiteral("Programmieren"));
        QCOMPARE(qobject_cast<QComboBox *>(table->cellWidget(1, 0))->currentData().toInt(), int(Flash1));
        QCOMPARE(table->cellWidget(0, 2)->findChild<QToolButton *>("toolButtonSelImage")->toolTip(),
                 QStringLiteral("Abbilddatei wählen"));
        QCOMPARE(table->horizontalHeaderItem(4)->text(), QStringLiteral("Länge"));
        QCOMPARE(child<QPushButton>("pushButtonCancel")->text(), QStringLiteral("Abbrechen"));
        QCOMPARE(child<QToolButton>("toolButtonEN")->toolTip(), QStringLiteral("Sprache auf Englisch umstellen"));
        QCOMPARE(text("labelInfoFlash2"), QStringLiteral("drive info"));
        QCOMPARE(text("labelInfoFlashHeader2"), QStringLiteral("Inhalt des Flash:\n"));
        QCOMPARE(text("labelInfoFlashHeader1"), QStringLiteral("Software-Abbild:\n"));
        QCOMPARE(text("labelProgressStep"), QStringLiteral("Update finished"));
        QCOMPARE(MainWidget::helpText().left(22), QStringLiteral("Allgemeine Argumente:\n"));
        // Qt's own texts follow: the buttons of message boxes and file dialogs.
        QCOMPARE(noButtonText(), QStringLiteral("&Nein"));

        // No English file is shipped: the built-in texts come back.
        child<QToolButton>("toolButtonEN")->click();
        QTRY_COMPARE(window->windowTitle(), QStringLiteral("Programming tool AC Servo Drive V0.0.6 beta02"));
        QCOMPARE(rates->itemText(0), QStringLiteral("auto"));
        QCOMPARE(qobject_cast<QComboBox *>(table->cellWidget(0, 1))->currentText(), QStringLiteral("Program"));
        QCOMPARE(qobject_cast<QComboBox *>(table->cellWidget(0, 0))->currentText(), QStringLiteral("Flash0 (HW/FW)"));
        QCOMPARE(table->cellWidget(1, 2)->findChild<QToolButton *>("toolButtonSelImage")->toolTip(),
                 QStringLiteral("Select image file"));
        QCOMPARE(text("labelInfoFlashHeader2"), QStringLiteral("Flash image info:\n"));
        QCOMPARE(noButtonText(), QStringLiteral("&No"));
        QVERIFY(modal->seen.isEmpty());
    }

    // The window keeps its size whatever it shows: firmware information (a
    // line of 40 characters), the longer German texts, a long file name.
    // What does not fit is cut with the full text as tool tip.
    void windowKeepsItsSize_data()
    {
        QTest::addColumn<bool>("german");
        QTest::newRow("English") << false;
        QTest::newRow("German") << true;
    }

    void windowKeepsItsSize()
    {
        QFETCH(bool, german);
        const QSize size = window->size();
        QCOMPARE(size, QSize(625, 598));
        if (german) {
            child<QToolButton>("toolButtonDE")->click();
            QTRY_COMPARE(window->windowTitle(), QStringLiteral("Programmierwerkzeug AC-Servoantrieb V0.0.6 beta02"));
        }
        window->processArgs({"servoprog", "-S", QStringLiteral(SERVOPROG_SAMPLE_IMAGE)});
        QVERIFY(!text("labelInfoFlash1").isEmpty());
        window->UpdateInfoText(1, QStringLiteral("SRV-FPGA-HW3-REV-B\nFW 2.14.0-rc1\n2026-11-30\n"
                                                 "AC servo drive sample firmware image 40c\nSAMPLE-0001-ABCD"));
        window->UpdateProgressState(QStringLiteral("Program flash"));
        window->UpdateProgressFile(QStringLiteral("servo-fw-sample-with-a-rather-long-name-for-a-file"));
        QTest::qWait(50);
        QCOMPARE(window->size(), size);
        window->grab(); // painting brings the tool tips up to date
        for (QWidget *w : window->findChildren<QWidget *>()) {
            if (!w->isVisible() || w->width() >= w->sizeHint().width())
                continue;
            auto *label = qobject_cast<QLabel *>(w);
            if (label && label->toolTip() == label->text())
                continue;
            if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w) || label)
                QFAIL(qPrintable(QStringLiteral("%1 (%2) is cut: %3 of %4 pixels")
                                     .arg(w->objectName(), QLatin1String(w->metaObject()->className()))
                                     .arg(w->width())
                                     .arg(w->sizeHint().width())));
        }
        QVERIFY(!child<QLabel>("labelInfoFlash2")->toolTip().isEmpty());
    }

    // ---- runs against the simulated drive -----------------------------------------

    void wholeUpdate_data()
    {
        QTest::addColumn<QString>("boot");
        QTest::newRow("running boot monitor") << "mon";
        QTest::newRow("powered off device") << "off";
    }

    void wholeUpdate()
    {
        QFETCH(QString, boot);
        if (!SimDrive::isSupported())
            QSKIP("the simulated drive needs a POSIX system");
        SimDrive drive;
        QStringList simArgs{"--flash0", drive.filePath("f0.bin"), "--flash1", drive.filePath("f1.bin")};
        if (boot == QLatin1String("off"))
            simArgs << "--powered-off";
        QVERIFY2(drive.start(simArgs), qPrintable(drive.errorString()));

        // Flash1 first: the monitor keeps the last device selected, and the
        // information read after connecting comes from the selected device.
        window->processArgs({"servoprog", "-X", tmp.filePath("fw1.hex"), "-S", tmp.filePath("sw.srec")});
        QCOMPARE(text("labelInfoFlash1"), QStringLiteral("HW 2.0\nFW 1.0.6\n2026-12-07\nwindow test firmware\nb42"));
        start(drive.portName(), boot, boot == QLatin1String("off") ? QMessageBox::Ok : QMessageBox::Yes);
        QVERIFY(window->isUpdateRunning());
        QVERIFY(controls(true));
        QTRY_VERIFY_WITH_TIMEOUT(!window->isUpdateRunning(), nRunTimeoutMs);

        QVERIFY(controls(false));
        QCOMPARE(modal->messages().size(), 1); // the start confirmation, no error
        QCOMPARE(bar("progressBarProgress"), 100);
        QCOMPARE(bar("progressBarTotal"), 100);
        QVERIFY(child<QProgressBar>("progressBarTotal")->isEnabled());
        QCOMPARE(text("labelProgressStep"), QStringLiteral("Update finished"));
        QCOMPARE(text("labelProgressFile"), QStringLiteral("sw"));
        // The drive's flash was empty when the run began: nothing to show from it.
        QCOMPARE(text("labelInfoFlash2"), QString());

        // A second run on the same window (the drive now sits in its boot
        // monitor) reads back the information the first one wrote.
        child<QRadioButton>("radioButtonRunningMonitor")->setChecked(true);
        modal->answer(QMessageBox::Yes);
        child<QPushButton>("pushButtonStart")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->isUpdateRunning(), nRunTimeoutMs);
        QCOMPARE(modal->messages().size(), 2);
        QCOMPARE(text("labelInfoFlash2"), QStringLiteral("HW 2.0\nFW 1.0.6\n2026-12-07\nwindow test firmware\nb42"));
        QCOMPARE(text("labelInfoFlashHeader2"), QStringLiteral("Flash image info:\n"));

        QVERIFY(drive.stop());
        auto flash = [&drive](const char *sName) {
            QFile f(drive.filePath(QLatin1String(sName)));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray flash0 = flash("f0.bin");
        QVERIFY(flash0.mid(0x400000, swData.size()) == swData);
        QVERIFY(flash("f1.bin").mid(0x10000, fw1Data.size()) == fw1Data);
        QCOMPARE(flash0.at(0x400000 + swData.size()), '\xff');
    }

    void cancelDuringProgramming()
    {
        if (!SimDrive::isSupported())
            QSKIP("the simulated drive needs a POSIX system");
        SimDrive drive;
        QVERIFY2(drive.start({"--throttle"}), qPrintable(drive.errorString()));
        window->processArgs({"servoprog", "-S", tmp.filePath("big.hex")});
        child<QComboBox>("comboBoxBaudrate")->setCurrentText(QStringLiteral("115200"));
        start(drive.portName(), QStringLiteral("mon"), QMessageBox::Yes);
        QVERIFY(window->isUpdateRunning());
        QTRY_VERIFY_WITH_TIMEOUT(text("labelProgressStep") == QLatin1String("Program flash")
                                     && bar("progressBarProgress") > 0,
                                 nRunTimeoutMs);
        child<QPushButton>("pushButtonCancel")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->isUpdateRunning(), nRunTimeoutMs);
        QVERIFY(controls(false));
        QVERIFY(bar("progressBarProgress") < 100);
        QCOMPARE(text("labelProgressStep"), QStringLiteral("Update failed!"));
        QCOMPARE(modal->messages().value(1), QStringLiteral("Program flash|Canceled from user!"));
        QCOMPARE(modal->seen.value(1).nIcon, QMessageBox::Critical);
        QVERIFY(drive.commandCount(QStringLiteral("flash-program")) > 0);
    }

    // A drive that stops answering after a few requests, and a port that
    // cannot be opened: a critical box after the confirmation, controls back.
    void errorShownAsCritical_data()
    {
        QTest::addColumn<bool>("simulated");
        QTest::newRow("drive falls silent") << true;
        QTest::newRow("port cannot be opened") << false;
    }

    void errorShownAsCritical()
    {
        QFETCH(bool, simulated);
        if (simulated && !SimDrive::isSupported())
            QSKIP("the simulated drive needs a POSIX system");
        SimDrive drive;
        if (simulated)
            QVERIFY2(drive.start({"--fault", "silent:2"}), qPrintable(drive.errorString()));
        useRows();
        start(simulated ? drive.portName() : tmp.filePath("no-such-port"), QStringLiteral("mon"), QMessageBox::Yes);
        QTRY_VERIFY_WITH_TIMEOUT(!window->isUpdateRunning(), nRunTimeoutMs);
        QVERIFY(controls(false));
        QCOMPARE(modal->seen.size(), 2);
        QCOMPARE(modal->seen.at(1).nIcon, QMessageBox::Critical);
        QVERIFY(!modal->seen.at(1).sTitle.isEmpty() && !modal->seen.at(1).sText.isEmpty());
    }

    // ---- closing while a run is active ------------------------------------------------

    // A drive that never answers keeps the worker in its wake-up loop.
    void closeWhileRunningAsksAndWaits()
    {
        SilentPort port;
        if (port.sName.isEmpty())
            QSKIP("needs a pseudo-terminal");
        useRows();
        start(port.sName, QStringLiteral("off"), QMessageBox::Ok);
        QVERIFY(window->isUpdateRunning());
        QTest::qWait(200);

        modal->answer(QMessageBox::No);
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QVERIFY(window->isUpdateRunning());

        modal->answer(QMessageBox::Yes);
        QVERIFY(!window->close()); // the window waits for the worker
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), nRunTimeoutMs);
        QVERIFY(!window->isUpdateRunning());
        QStringList titles;
        for (const ModalAnswerer::Seen &box : modal->seen)
            titles << box.sTitle;
        QCOMPARE(titles, (QStringList{"Info", "Update running", "Update running", "Init boot monitor"}));
        QCOMPARE(modal->seen.last().sText, QStringLiteral("Canceled from user!"));
    }

    // A window destroyed without a close event must not take the process
    // down with a running worker thread.
    void destroyedWhileRunning()
    {
        SilentPort port;
        if (port.sName.isEmpty())
            QSKIP("needs a pseudo-terminal");
        useRows();
        start(port.sName, QStringLiteral("off"), QMessageBox::Ok);
        QVERIFY(window->isUpdateRunning());
        QTest::qWait(100);
        window.reset();
        QTest::qWait(100);
    }

    void idleWindowClosesAtOnce()
    {
        QVERIFY(window->close());
        QVERIFY(modal->seen.isEmpty());
    }
};

QTEST_MAIN(TestUiRun)
#include "tst_ui_run.moc"
