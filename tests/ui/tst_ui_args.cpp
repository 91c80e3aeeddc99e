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

    QString substitute(const QString &s) const
    {
        QString result = s;
        result.replace(QLatin1String("%HW%"), tmp.filePath(QStringLiteral("hw.hex")));
        result.replace(QLatin1String("%SW%"), tmp.filePath(QStringLiteral("sw.srec")));
        result.replace(QLatin1String("%PTY%"), sPty);
        return result;
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
        modal.reset(new ModalAnswerer);
        window.reset(new MainWidget);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTest::qWait(50);
        modal->clear();
        // A known port list instead of this machine's.
        auto *ports = window->findChild<QComboBox *>(QStringLiteral("comboBoxPort"));
        ports->clear();
        ports->addItems({ "ttyUSB0", "COM3", "COM7" });
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
        auto error = [](const QString &s) { return QStringLiteral("Error|Unknown option: ") + s; };

        QTest::newRow("no arguments") << none << none << "ttyUSB0" << "off" << none;

        // ports
        QTest::newRow("-c 3") << QStringList{ "-c", "3" } << none << "COM3" << "off" << none;
        QTest::newRow("-c 03") << QStringList{ "-c", "03" } << none << "COM3" << "off" << none;
        QTest::newRow("-c word gives COM0") << QStringList{ "-S", "%HW%", "-c", "x" } << none << "ttyUSB0" << "off"
                                            << QStringList{ error("Serial device 'COM0'") };
        QTest::newRow("-P ignores case") << QStringList{ "-P", "com7" } << none << "COM7" << "off" << none;
        QTest::newRow("--port=") << QStringList{ "--port=COM3" } << none << "COM3" << "off" << none;
        QTest::newRow("empty --port= cancels -P") << QStringList{ "-P", "COM7", "--port=" } << none << "ttyUSB0"
                                                  << "off" << none;
        QTest::newRow("-P unknown port") << QStringList{ "-P", "COM9" } << none << "ttyUSB0" << "off"
                                         << QStringList{ error("Serial device 'COM9'") };
        QTest::newRow("-P value looks like an option") << QStringList{ "-P", "-S" } << none << "ttyUSB0" << "off"
                                                       << QStringList{ error("Serial device '-S'") };
        QTest::newRow("-P glued is unknown") << QStringList{ "-PCOM3" } << none << "ttyUSB0" << "off"
                                             << QStringList{ error("-PCOM3") };
        QTest::newRow("--port without =") << QStringList{ "--port", "COM3" } << none << "ttyUSB0" << "off"
                                          << QStringList{ error("COM3") };
        QTest::newRow("trailing -P ends the parse") << QStringList{ "-S", "%HW%", "-P" } << QStringList{ "0:hw.hex" }
                                                    << "ttyUSB0" << "off" << none;
        QTest::newRow("trailing -c ends the parse") << QStringList{ "-P", "COM3", "-c" } << none << "COM3" << "off"
                                                    << none;
#ifdef Q_OS_LINUX
        QTest::newRow("terminal device not listed") << QStringList{ "-P", "%PTY%" } << none << "%PTY%" << "off" << none;
        QTest::newRow("file that is no terminal") << QStringList{ "-P", "%HW%" } << none << "ttyUSB0" << "off"
                                                  << QStringList{ error("Serial device '%HW%'") };
        QTest::newRow("missing device") << QStringList{ "-P", "/dev/no-such-tty" } << none << "ttyUSB0" << "off"
                                        << QStringList{ error("Serial device '/dev/no-such-tty'") };
#endif

        // start option
        QTest::newRow("-B mon") << QStringList{ "-B", "mon" } << none << "ttyUSB0" << "mon" << none;
        QTest::newRow("--boottype=monitor") << QStringList{ "--boottype=monitor" } << none << "ttyUSB0" << "mon" << none;
        QTest::newRow("--boot-type=mon") << QStringList{ "--boot-type=mon" } << none << "ttyUSB0" << "mon" << none;
        QTest::newRow("-B off after mon") << QStringList{ "-B", "mon", "-B", "off" } << none << "ttyUSB0" << "off" << none;
        QTest::newRow("-B OFF ignored") << QStringList{ "-B", "mon", "-B", "OFF" } << none << "ttyUSB0" << "mon" << none;
        QTest::newRow("-B on ignored") << QStringList{ "-B", "mon", "--boottype=on" } << none << "ttyUSB0" << "mon"
                                       << none;
        QTest::newRow("trailing -B ignored") << QStringList{ "-B", "mon", "-B" } << none << "ttyUSB0" << "mon" << none;

        // rows and their order
        QTest::newRow("-S") << QStringList{ "-S", "%HW%" } << QStringList{ "0:hw.hex" } << "ttyUSB0" << "off" << none;
        QTest::newRow("-H") << QStringList{ "-H", "%HW%" } << QStringList{ "0:hw.hex" } << "ttyUSB0" << "off" << none;
        QTest::newRow("-X") << QStringList{ "--extended-image=%SW%" } << QStringList{ "1:sw.srec" } << "ttyUSB0"
                            << "off" << none;
        QTest::newRow("empty image ignored") << QStringList{ "--software-image=", "--hardware-image=" } << none
                                             << "ttyUSB0" << "off" << none;
        QTest::newRow("-F -I -T") << QStringList{ "-F", "p", "-I", "%SW%", "-T", "f1" } << QStringList{ "1:sw.srec" }
                                  << "ttyUSB0" << "off" << none;
        QTest::newRow("-I -T before -F have no effect") << QStringList{ "-I", "%SW%", "-T", "f1", "-F", "prog" }
                                                        << QStringList{ "0:" } << "ttyUSB0" << "off" << none;
        QTest::newRow("-F alone") << QStringList{ "--function=program" } << QStringList{ "0:" } << "ttyUSB0" << "off"
                                  << none;
        QTest::newRow("rows follow the moments they are complete")
                << QStringList{ "-F", "p", "-I", "%HW%", "-S", "%SW%", "-F", "prog", "--image=%SW%", "--type=flash1",
                                "-X", "%HW%" }
                << QStringList{ "0:sw.srec", "0:hw.hex", "1:hw.hex", "1:sw.srec" } << "ttyUSB0" << "off" << none;
        QTest::newRow("empty --image= clears") << QStringList{ "-F", "p", "-I", "%HW%", "--image=" }
                                               << QStringList{ "0:" } << "ttyUSB0" << "off" << none;
        QTest::newRow("trailing -I clears and ends") << QStringList{ "-F", "p", "-I", "%HW%", "-I" }
                                                     << QStringList{ "0:" } << "ttyUSB0" << "off" << none;
        QTest::newRow("-S value looks like an option")
                << QStringList{ "-S", "-X" } << QStringList{ "0:" } << "ttyUSB0" << "off"
                << QStringList{ "Error|Row 1: examine image file failed. Image file not valid." };

        // errors
        QTest::newRow("unknown function") << QStringList{ "-S", "%HW%", "-F", "x" } << none << "ttyUSB0" << "off"
                                          << QStringList{ error("function 'x'") };
        QTest::newRow("unknown type") << QStringList{ "-F", "p", "-T", "F0" } << none << "ttyUSB0" << "off"
                                      << QStringList{ error("type 'F0'") };
        QTest::newRow("trailing -F") << QStringList{ "-F" } << none << "ttyUSB0" << "off"
                                     << QStringList{ error("function ''") };
        QTest::newRow("trailing -T") << QStringList{ "-F", "p", "-T" } << none << "ttyUSB0" << "off"
                                     << QStringList{ error("type ''") };
        QTest::newRow("error empties the list, keeps settings")
                << QStringList{ "-S", "%HW%", "-P", "COM7", "-B", "mon", "-F", "p", "-I", "%SW%", "-bogus" } << none
                << "COM7" << "mon" << QStringList{ error("-bogus") };
        QTest::newRow("only the last error") << QStringList{ "-a", "-F", "x", "-b" } << none << "ttyUSB0" << "off"
                                             << QStringList{ error("-b") };
        QTest::newRow("port error wins over earlier ones") << QStringList{ "-a", "-P", "COM9" } << none << "ttyUSB0"
                                                           << "off" << QStringList{ error("Serial device 'COM9'") };

        // help
        QTest::newRow("help keeps rows") << QStringList{ "-h", "-S", "%HW%", "-B", "mon" } << QStringList{ "0:hw.hex" }
                                         << "ttyUSB0" << "mon" << QStringList{ help };
        QTest::newRow("help then error") << QStringList{ "--help", "-S", "%HW%", "-zz" } << none << "ttyUSB0" << "off"
                                         << QStringList{ help, error("-zz") };

        // language options were read at start-up and are passed over here
        QTest::newRow("-l de") << QStringList{ "-l", "de", "-S", "%HW%" } << QStringList{ "0:hw.hex" } << "ttyUSB0"
                               << "off" << none;
        QTest::newRow("--language=de") << QStringList{ "--language=de", "-X", "%SW%" } << QStringList{ "1:sw.srec" }
                                       << "ttyUSB0" << "off" << none;
        QTest::newRow("trailing -l") << QStringList{ "-S", "%HW%", "-l" } << QStringList{ "0:hw.hex" } << "ttyUSB0"
                                     << "off" << none;
    }

    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expectedRows);
        QFETCH(QString, port);
        QFETCH(QString, bootType);
        QFETCH(QStringList, messages);

        QStringList arguments{ QStringLiteral("servoprog") };
        for (const QString &arg : args)
            arguments << substitute(arg);
        window->processArgs(arguments);

        QCOMPARE(rows(), expectedRows);
        QCOMPARE(window->findChild<QComboBox *>(QStringLiteral("comboBoxPort"))->currentText(), substitute(port));
        QCOMPARE(window->findChild<QRadioButton *>(QStringLiteral("radioButtonRunningMonitor"))->isChecked(),
                 bootType == QLatin1String("mon"));
        QCOMPARE(window->findChild<QRadioButton *>(QStringLiteral("radioButtonPoweredOffDevice"))->isChecked(),
                 bootType == QLatin1String("off"));
        QStringList expectedMessages;
        for (const QString &m : messages)
            expectedMessages << substitute(m);
        QCOMPARE(modal->messages(), expectedMessages);
    }

    void helpText()
    {
        const QString text = MainWidget::helpText();
        QVERIFY(text.startsWith(QStringLiteral("generic args:\n-h, --help\n\t\tshow this help text\n"
                                               "-c PORTNUM\n\t\tCommunication COM port number\n")));
        QVERIFY(text.endsWith(QStringLiteral("-T TYPE, --type=TYPE\n\t\tset <f[lash]0 | f[lash]1> device type\n")));
        QVERIFY(!text.contains(QStringLiteral("--boot-type")));
        QCOMPARE(text.count(QLatin1Char('\n')), 25);
    }

    // The box a command line shows lies over the window and does not block
    // anything but the window.
    void boxesAreModalOverTheWindow()
    {
        QWidget *parent = nullptr;
        QTimer::singleShot(0, this, [&parent]() {
            if (QWidget *modalBox = QApplication::activeModalWidget())
                parent = modalBox->parentWidget();
        });
        window->processArgs({ QStringLiteral("servoprog"), QStringLiteral("-x") });
        QCOMPARE(parent, window.get());
    }
};

QTEST_MAIN(TestUiArgs)
#include "tst_ui_args.moc"
