// The window's command line: rows and their order, port, start option, help
// and error boxes.
#include "MainWidget.h"
#include "UiTestUtil.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_LINUX
#include <pty.h>
#include <unistd.h>
#endif

class TestUiArgs : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    std::unique_ptr<MainWidget> window;
    std::unique_ptr<ModalAnswerer> modal;
    QString sPty;
    int nMaster = -1;
    int nSlave = -1;

    // "memory:file name" for each row, e.g. "1:sw.srec"; "0:" for a row without image.
    QStringList rows() const
    {
        auto *table = window->findChild<QTableWidget *>(QStringLiteral("tableWidgetPgmImages"));
        QStringList list;
        for (int r = 0; r < table->rowCount(); ++r) {
            const int memory = qobject_cast<QComboBox *>(table->cellWidget(r, 0))->currentData().toInt();
            const QString image =
                table->cellWidget(r, 2)->findChild<QLineEdit *>(QStringLiteral("lineEditImage"))->text();
            list << QStringLiteral("%1:%2").arg(memory).arg(QFileInfo(image).fileName());
        }
        return list;
    }

    QStringList substitute(QStringList list) const
    {
        list.replaceInStrings(QLatin1String("%HW%"), tmp.filePath(QStringLiteral("hw.hex")));
        list.replaceInStrings(QLatin1String("%SW%"), tmp.filePath(QStringLiteral("sw.srec")));
        list.replaceInStrings(QLatin1String("%LINK%"), tmp.filePath(QStringLiteral("by-id-link")));
        list.replaceInStrings(QLatin1String("%GONE%"), tmp.filePath(QStringLiteral("gone-link")));
        return list.replaceInStrings(QLatin1String("%PTY%"), sPty);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QVERIFY(makeImageFile(tmp.filePath("hw.hex"), "ihex", 0, QByteArray(64, 'h')));
        QVERIFY(makeImageFile(tmp.filePath("sw.srec"), "srec", 0x300000, QByteArray(64, 's')));
#ifdef Q_OS_LINUX
        char name[256];
        QVERIFY(::openpty(&nMaster, &nSlave, name, nullptr, nullptr) == 0);
        sPty = QString::fromLocal8Bit(name);
        // As /dev/serial/by-id links lead to a converter's device.
        QVERIFY(QFile::link(sPty, tmp.filePath("by-id-link")));
        QVERIFY(QFile::link(tmp.filePath("unplugged"), tmp.filePath("gone-link")));
#endif
    }

    void cleanupTestCase()
    {
#ifdef Q_OS_LINUX
        ::close(nSlave);
        ::close(nMaster);
#endif
    }

    void init()
    {
        QVERIFY(openWindow(window, modal));
        // A known port list instead of this machine's.
        auto *ports = window->findChild<QComboBox *>(QStringLiteral("comboBoxPort"));
        ports->clear();
        ports->addItems({"ttyUSB0", "COM3", "COM7"});
        ports->setCurrentIndex(0);
    }

    void cleanup()
    {
        window.reset();
        modal.reset();
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expectedRows");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("bootType");     // "off" or "mon"
        QTest::addColumn<QStringList>("messages"); // "title|text" of each box, in order

        const QStringList none;
        const QString help = QStringLiteral("Help|") + MainWidget::helpText();
        auto error = [](const QString &s) { return QStringList{QStringLiteral("Error|Unknown option: ") + s}; };
        auto row = [](const char *sTag, const QStringList &args, const QStringList &rows = {},
                      const QString &sPort = QStringLiteral("ttyUSB0"), const QString &sBoot = QStringLiteral("off"),
                      const QStringList &messages = {}) {
            QTest::newRow(sTag) << args << rows << sPort << sBoot << messages;
        };

        row("no arguments", none);

        // ports
        row("-c 3", {"-c", "3"}, none, "COM3");
        row("-c 03", {"-c", "03"}, none, "COM3");
        row("-c word gives COM0", {"-S", "%HW%", "-c", "x"}, none, "ttyUSB0", "off", error("Serial device 'COM0'"));
        row("-P ignores case", {"-P", "com7"}, none, "COM7");
        row("--port=", {"--port=COM3"}, none, "COM3");
        row("empty --port= cancels -P", {"-P", "COM7", "--port="});
        row("-P unknown port", {"-P", "COM9"}, none, "ttyUSB0", "off", error("Serial device 'COM9'"));
        row("-P value looks like an option", {"-P", "-S"}, none, "ttyUSB0", "off", error("Serial device '-S'"));
        row("-P glued is unknown", {"-PCOM3"}, none, "ttyUSB0", "off", error("-PCOM3"));
        row("--port without =", {"--port", "COM3"}, none, "ttyUSB0", "off", error("COM3"));
        row("trailing -P ends the parse", {"-S", "%HW%", "-P"}, {"0:hw.hex"});
        row("trailing -c ends the parse", {"-P", "COM3", "-c"}, none, "COM3");
#ifdef Q_OS_LINUX
        row("terminal device not listed", {"-P", "%PTY%"}, none, "%PTY%");
        row("file that is no terminal", {"-P", "%HW%"}, none, "ttyUSB0", "off", error("Serial device '%HW%'"));
        row("missing device", {"-P", "/dev/no-such-tty"}, none, "ttyUSB0", "off",
            error("Serial device '/dev/no-such-tty'"));
        row("link to a terminal", {"-P", "%LINK%"}, none, "%PTY%");
        // A pattern that names no port says so and names the candidates
        // (this machine has no USB converter: none).
        const QString sNoUsb = "\n%1: no such port, and no USB serial port was found; is the converter plugged in?";
        row("link leading nowhere", {"-S", "%HW%", "-P", "%GONE%"}, none, "ttyUSB0", "off",
            {error("Serial device '%GONE%'").at(0) + sNoUsb.arg("%GONE%")});
        row("usb:VID:PID not found", {"-P", "usb:0403:6001"}, none, "ttyUSB0", "off",
            {error("Serial device 'usb:0403:6001'").at(0) + sNoUsb.arg("usb:0403:6001")});
        row("usb:SERIAL not found", {"--port=usb:A9XYZ"}, none, "ttyUSB0", "off",
            {error("Serial device 'usb:A9XYZ'").at(0) + sNoUsb.arg("usb:A9XYZ")});
        row("usb: not an identity", {"-P", "usb:0403:xyz"}, none, "ttyUSB0", "off",
            {error("Serial device 'usb:0403:xyz'").at(0)
             + "\nusb:0403:xyz is not a USB identity; use usb:SERIAL, usb:VID:PID or usb:VID:PID:SERIAL with "
               "hexadecimal ids."});
#endif

        // start option
        row("-B mon", {"-B", "mon"}, none, "ttyUSB0", "mon");
        row("--boottype=monitor", {"--boottype=monitor"}, none, "ttyUSB0", "mon");
        row("--boot-type=mon", {"--boot-type=mon"}, none, "ttyUSB0", "mon");
        row("-B off after mon", {"-B", "mon", "-B", "off"});
        row("OFF, on and trailing -B ignored", {"-B", "mon", "-B", "OFF", "--boottype=on", "-B"}, none, "ttyUSB0",
            "mon");

        // rows and their order
        row("-S", {"-S", "%HW%"}, {"0:hw.hex"});
        row("-H", {"-H", "%HW%"}, {"0:hw.hex"});
        row("-X", {"--extended-image=%SW%"}, {"1:sw.srec"});
        row("empty image ignored", {"--software-image=", "--hardware-image="});
        row("-F -I -T", {"-F", "p", "-I", "%SW%", "-T", "f1"}, {"1:sw.srec"});
        row("-I -T before -F have no effect", {"-I", "%SW%", "-T", "f1", "-F", "prog"}, {"0:"});
        row("-F alone", {"--function=program"}, {"0:"});
        row("rows follow the moments they are complete",
            {"-F", "p", "-I", "%HW%", "-S", "%SW%", "-F", "prog", "--image=%SW%", "--type=flash1", "-X", "%HW%"},
            {"0:sw.srec", "0:hw.hex", "1:hw.hex", "1:sw.srec"});
        row("empty --image= clears", {"-F", "p", "-I", "%HW%", "--image="}, {"0:"});
        row("trailing -I clears and ends", {"-F", "p", "-I", "%HW%", "-I"}, {"0:"});
        row("-S value looks like an option", {"-S", "-X"}, {"0:"}, "ttyUSB0", "off",
            {"Error|Row 1: examine image file failed. Image file not valid."});

        // errors
        row("unknown function", {"-S", "%HW%", "-F", "x"}, none, "ttyUSB0", "off", error("function 'x'"));
        row("unknown type", {"-F", "p", "-T", "F0"}, none, "ttyUSB0", "off", error("type 'F0'"));
        row("trailing -F", {"-F"}, none, "ttyUSB0", "off", error("function ''"));
        row("trailing -T", {"-F", "p", "-T"}, none, "ttyUSB0", "off", error("type ''"));
        row("error empties the list, keeps settings",
            {"-S", "%HW%", "-P", "COM7", "-B", "mon", "-F", "p", "-I", "%SW%", "-bogus"}, none, "COM7", "mon",
            error("-bogus"));
        row("only the last error", {"-a", "-F", "x", "-b"}, none, "ttyUSB0", "off", error("-b"));
        row("port error wins over earlier ones", {"-a", "-P", "COM9"}, none, "ttyUSB0", "off",
            error("Serial device 'COM9'"));

        // help
        row("help keeps rows", {"-h", "-S", "%HW%", "-B", "mon"}, {"0:hw.hex"}, "ttyUSB0", "mon", {help});
        row("help then error", {"--help", "-S", "%HW%", "-zz"}, none, "ttyUSB0", "off", {help, error("-zz").at(0)});

        // language options were read at start-up and are passed over here
        row("-l de", {"-l", "de", "-S", "%HW%"}, {"0:hw.hex"});
        row("--language=de", {"--language=de", "-X", "%SW%"}, {"1:sw.srec"});
        row("trailing -l", {"-S", "%HW%", "-l"}, {"0:hw.hex"});
    }

    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expectedRows);
        QFETCH(QString, port);
        QFETCH(QString, bootType);
        QFETCH(QStringList, messages);

        window->processArgs(QStringList{QStringLiteral("servoprog")} + substitute(args));
        QCOMPARE(rows(), expectedRows);
        QCOMPARE(window->findChild<QComboBox *>(QStringLiteral("comboBoxPort"))->currentText(),
                 substitute({port}).at(0));
        QCOMPARE(window->findChild<QRadioButton *>(QStringLiteral("radioButtonRunningMonitor"))->isChecked(),
                 bootType == QLatin1String("mon"));
        QCOMPARE(window->findChild<QRadioButton *>(QStringLiteral("radioButtonPoweredOffDevice"))->isChecked(),
                 bootType == QLatin1String("off"));
        QCOMPARE(modal->messages(), substitute(messages));
        if (port == QLatin1String("%PTY%")) {
            // Refresh lists the ports again and keeps the device given with -P.
            window->findChild<QPushButton *>(QStringLiteral("pushButtonRefreshPorts"))->click();
            QCOMPARE(window->findChild<QComboBox *>(QStringLiteral("comboBoxPort"))->currentText(), sPty);
        }
    }

    void helpText()
    {
        const QString text = MainWidget::helpText();
        QVERIFY(text.startsWith(QStringLiteral("generic args:\n-h, --help\n\t\tshow this help text\n"
                                               "-c PORTNUM\n\t\tCommunication COM port number\n")));
        QVERIFY(text.endsWith(QStringLiteral("-T TYPE, --type=TYPE\n\t\tset <f[lash]0 | f[lash]1> device type\n")));
        QCOMPARE(text.count(QLatin1Char('\n')), 25);
    }

    // The box a command line shows lies over the window.
    void boxesAreModalOverTheWindow()
    {
        QWidget *parent = nullptr;
        QTimer::singleShot(0, this, [&parent]() {
            if (QWidget *modalBox = QApplication::activeModalWidget())
                parent = modalBox->parentWidget();
        });
        window->processArgs({QStringLiteral("servoprog"), QStringLiteral("-x")});
        QCOMPARE(parent, window.get());
    }
};

QTEST_MAIN(TestUiArgs)
#include "tst_ui_args.moc"
