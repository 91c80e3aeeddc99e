// The window without a drive: its widget tree, its command line and the
// programming list with real image files written by srec_cat.
#include "MainWidget.h"
#include "Pty.h"
#include "UiTestUtil.h"

#include <QAction>
#include <QComboBox>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>

class TestUiWindow : public WindowTest
{
    Q_OBJECT

private:
    Pty pty;
    QTableWidget *table = nullptr;
    const QString sInfo = "HW 1.2\nFW 3.4.5\n2026-12-01\nservo drive firmware\nbuild 77";

    QString path(const QString &sName) const { return tmp.filePath(sName); }
    void trigger(const char *sAction) { child<QAction>(sAction)->trigger(); }
    QLineEdit *cell(int nRow, int nColumn) const
    {
        QWidget *w = table->cellWidget(nRow, nColumn);
        return nColumn == 2 ? w->findChild<QLineEdit *>("lineEditImage") : qobject_cast<QLineEdit *>(w);
    }
    // "image|offset|length" of a row, the image by its file name.
    QString cells(int nRow) const
    {
        return QFileInfo(cell(nRow, 2)->text()).fileName() + '|' + cell(nRow, 3)->text() + '|' + cell(nRow, 4)->text();
    }
    QStringList substitute(QStringList list) const
    {
        list.replaceInStrings("%PTY%", pty.path());
        return list.replaceInStrings("%T/", tmp.path() + '/');
    }
    void processArgs(const QStringList &args) { window->processArgs(QStringList{"servoprog"} + substitute(args)); }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid() && pty.isValid());
        const QByteArray info = firmwareInfoBlock(sInfo.split('\n'));
        QVERIFY(makeImageFile(path("sw.hex"), "ihex", 0x300000, info + QByteArray(300, 'Z')));
        QVERIFY(makeImageFile(path("sw.srec"), "srec", 0x300000, info + QByteArray(300, 'Z')));
        QVERIFY(makeImageFile(path("hw.hex"), "ihex", 0, QByteArray(0x1a, 'h')));
        QVERIFY(makeImageFile(path("garbled.srec"), "srec", 0x300000, firmwareInfoBlock({"bad\x01", "x", "x"})));
        for (const auto &file : {std::pair<const char *, const char *>{"notes.txt", "hello world\n"},
                                 {"bad-sum.hex", ":0400000001020304F0\n:00000001FF\n"},
                                 {"high.hex", ":0200000400807A\n:0400000001020304F2\n:00000001FF\n"}}) {
            QFile f(path(file.first));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file.second) > 0);
        }
        // As /dev/serial/by-id links lead to a converter's device.
        QVERIFY(QFile::link(pty.path(), path("by-id")) && QFile::link(path("unplugged"), path("gone")));
    }

    void init()
    {
        QVERIFY(openWindow());
        table = child<QTableWidget>("tableWidgetPgmImages");
        auto *ports = child<QComboBox>("comboBoxPort"); // a known port list instead of this machine's
        ports->clear();
        ports->addItems({"ttyUSB0", "COM3", "COM7"});
    }

    void cleanup() { window.reset(); }

    // Each object where scripts, translators and operators expect it:
    // its class, the layout that holds it ("#" its place), its texts.
    void layout_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        auto row = [](const char *sName, const char *sClass, const char *sHolder, const QString &sText = "",
                      const QString &sTip = "") { QTest::newRow(sName) << sClass << sHolder << sText << sTip; };
        const QString sStart = "<html><head/><body><p>Start the firmware update from a %1</p></body></html>";
        row("tabWidgetFunction", "QTabWidget", "verticalLayout_5#0");
        row("horizontalLayout_10", "QHBoxLayout", "verticalLayout_5#2");
        row("groupBoxProgress", "QGroupBox", "verticalLayout_5#4", "Progress information");
        row("horizontalLayout", "QHBoxLayout", "verticalLayout_4#0");
        row("tableWidgetPgmImages", "QTableWidget", "verticalLayout_4#1");
        row("toolButtonPgmAddFile", "QToolButton", "horizontalLayout#0", "Add programming file",
            "Add existing HW/SW flash file to the programming list");
        row("toolButtonPgmAddEntry", "QToolButton", "horizontalLayout#1", "Add new entry",
            "Add a new empty entry to the programming list");
        row("toolButtonPgmRemoveEntry", "QToolButton", "horizontalLayout#2", "Remove selected entry",
            "Remove selected entry line from the programming action list");
        row("toolButtonPgmClearEntries", "QToolButton", "horizontalLayout#3", "Clear programming list",
            "Remove all entries from the programming list");
        row("toolButtonDE", "QToolButton", "horizontalLayout#5", "DE", "Change language to german");
        row("toolButtonEN", "QToolButton", "horizontalLayout#6", "EN", "Change language to english");
        row("groupBoxConnection", "QGroupBox", "horizontalLayout_10#0", "Connection");
        row("labelPort", "QLabel", "verticalLayout_2#0", "USB Serial port");
        row("comboBoxPort", "QComboBox", "verticalLayout_2#1", "", "Select communication port");
        row("labelBaudrate", "QLabel", "verticalLayout_3#0", "Baudrate");
        row("comboBoxBaudrate", "QComboBox", "verticalLayout_3#1", "", "Select working baudrate");
        row("pushButtonRefreshPorts", "QPushButton", "verticalLayout_16#2", "Refresh", "Refresh list of known ports");
        row("groupBoxStartOptions", "QGroupBox", "horizontalLayout_10#1", "Start options");
        row("radioButtonRunningFW", "QRadioButton", "verticalLayout#0", "Running firmware",
            sStart.arg("running firmware"));
        row("radioButtonPoweredOffDevice", "QRadioButton", "verticalLayout#1", "Powered off device",
            sStart.arg("powered off device"));
        row("radioButtonRunningMonitor", "QRadioButton", "verticalLayout#2", "Running boot monitor",
            sStart.arg("running boot monitor (LEDs error, ready, overload are blinking synchronously)"));
        row("groupBoxInfo", "QGroupBox", "horizontalLayout_10#2", "Info");
        row("stackedWidgetInfo", "QStackedWidget", "verticalLayout_15#0");
        row("labelInfoFlashHeader1", "QLabel", "verticalLayout_6#0");
        row("labelInfoFlash1", "QLabel", "verticalLayout_6#1");
        row("labelInfoFlashHeader2", "QLabel", "verticalLayout_7#0");
        row("labelInfoFlash2", "QLabel", "verticalLayout_7#1");
        row("labelProgressStep", "QLabel", "horizontalLayout_11#0");
        row("labelProgressFile", "QLabel", "horizontalLayout_11#1");
        row("progressBarProgress", "QProgressBar", "verticalLayout_22#1");
        row("progressBarTotal", "QProgressBar", "verticalLayout_22#2");
        row("pushButtonStart", "QPushButton", "horizontalLayout_3#0", "Start");
        row("pushButtonCancel", "QPushButton", "horizontalLayout_3#1", "Cancel");
    }

    void layout()
    {
        QFETCH(QString, className);
        QFETCH(QString, holder);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        QObject *object = child<QObject>(QTest::currentDataTag());
        QVERIFY(object);
        QCOMPARE(QString::fromLatin1(object->metaObject()->className()), className);
        QString sHolder;
        for (QLayout *layout : window->findChildren<QLayout *>())
            for (int i = 0; i < layout->count(); ++i)
                if (layout->itemAt(i)->widget() == object || layout->itemAt(i)->layout() == object)
                    sHolder = layout->objectName() + '#' + QString::number(i);
        QCOMPARE(sHolder, holder);
        if (!text.isEmpty())
            QCOMPARE(object->property(object->property("title").isValid() ? "title" : "text").toString(), text);
        if (!toolTip.isEmpty())
            QCOMPARE(object->property("toolTip").toString(), toolTip);
        if (auto *button = qobject_cast<QToolButton *>(object))
            QVERIFY(button->defaultAction() && !button->icon().isNull());
    }

    // Before anything happened: the list's columns and context menu, the
    // options that cannot be chosen, and the help text.
    void initialState()
    {
        QStringList headers;
        for (int i = 0; i < table->columnCount(); ++i)
            headers << table->horizontalHeaderItem(i)->text();
        QCOMPARE(headers, (QStringList{"Memory", "Operation", "Image", "Offset", "Length"}));
        QCOMPARE(table->actions().size(), 4);
        QVERIFY(!child("radioButtonRunningFW")->isEnabled() && !child("progressBarTotal")->isEnabled());
        const QString sHelp = MainWidget::helpText();
        QVERIFY(sHelp.startsWith("generic args:\n-h, --help\n\t\tshow this help text\n-c PORTNUM\n"));
        QVERIFY(sHelp.endsWith("-T TYPE, --type=TYPE\n\t\tset <f[lash]0 | f[lash]1> device type\n"));
        QCOMPARE(sHelp.count('\n'), 25);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("rows"); // "memory:file" each
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("monitor");
        const QString sHelp = "Help|" + MainWidget::helpText();
        auto error = [](const QString &s) { return QStringList{"Error|Unknown option: " + s}; };
        auto row = [](const char *sTag, const QStringList &args, const QStringList &rows = {},
                      const QStringList &boxes = {}, const QString &sPort = "ttyUSB0",
                      bool bMonitor = false) { QTest::newRow(sTag) << args << rows << boxes << sPort << bMonitor; };
        row("-c 03, -B mon", {"-c", "03", "-B", "mon"}, {}, {}, "COM3", true);
        row("-P ignores case", {"-P", "com7"}, {}, {}, "COM7");
        row("--port=, --boottype=monitor", {"--port=COM3", "--boottype=monitor"}, {}, {}, "COM3", true);
        row("empty --port= cancels -P", {"-P", "COM7", "--port="});
        row("-P unknown port", {"-P", "COM9"}, {}, error("Serial device 'COM9'"));
        row("-P glued, only the last error", {"-a", "-F", "x", "-PCOM3"}, {}, error("-PCOM3"));
        row("terminal not listed", {"-P", "%PTY%"}, {}, {}, "%PTY%");
        row("link to a terminal", {"-P", "%T/by-id"}, {}, {}, "%PTY%");
        row("file that is no terminal", {"-P", "%T/hw.hex"}, {}, error("Serial device '%T/hw.hex'"));
        row("link leading nowhere", {"-S", "%T/hw.hex", "-P", "%T/gone"}, {},
            error("Serial device '%T/gone'\n%T/gone: no such port, and no USB serial port was found; is the "
                  "converter plugged in?"));
        row("usb: not an identity", {"-P", "usb:0403:xyz"}, {},
            error("Serial device 'usb:0403:xyz'\nusb:0403:xyz is not a USB identity; use usb:SERIAL, usb:VID:PID or "
                  "usb:VID:PID:SERIAL with hexadecimal ids."));
        row("OFF, on and trailing -B ignored", {"-B", "mon", "-B", "OFF", "--boottype=on", "-B"}, {}, {}, "ttyUSB0",
            true);
        row("-B off after mon", {"-B", "mon", "-B", "off"});
        row("-S -H -X", {"-S", "%T/hw.hex", "-H", "%T/sw.srec", "--extended-image=%T/sw.srec"},
            {"0:hw.hex", "0:sw.srec", "1:sw.srec"});
        row("-I -T before -F have no effect", {"-I", "%T/sw.srec", "-T", "f1", "-F", "prog"}, {"0:"});
        row("rows follow the moments they are complete",
            {"-F", "p", "-I", "%T/hw.hex", "-S", "%T/sw.srec", "-F", "prog", "--image=%T/sw.srec", "--type=flash1"},
            {"0:sw.srec", "0:hw.hex", "1:sw.srec"});
        row("empty --image= clears", {"-F", "p", "-I", "%T/hw.hex", "--image="}, {"0:"});
        row("-S value looks like an option", {"-S", "-X"}, {"0:"},
            {"Error|Row 1: examine image file failed. Image file not valid.|-X: no such file"});
        row("unknown function", {"-S", "%T/hw.hex", "-F", "x"}, {}, error("function 'x'"));
        row("unknown type", {"-F", "p", "-T", "F0"}, {}, error("type 'F0'"));
        row("error empties the list, keeps settings",
            {"-S", "%T/hw.hex", "-P", "COM7", "-B", "mon", "-F", "p", "-I", "%T/sw.srec", "-bogus"}, {},
            error("-bogus"), "COM7", true);
        row("help keeps rows", {"-h", "-S", "%T/hw.hex", "-B", "mon"}, {"0:hw.hex"}, {sHelp}, "ttyUSB0", true);
        row("help then error", {"--help", "-zz"}, {}, {sHelp, error("-zz").at(0)});
        row("language was read at start-up", {"-l", "de", "--language=de", "-S", "%T/hw.hex", "-l"}, {"0:hw.hex"});
    }

    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, boxes);
        QFETCH(QString, port);
        QFETCH(bool, monitor);
        processArgs(args);
        QStringList shown;
        for (int r = 0; r < table->rowCount(); ++r)
            shown << QString::number(qobject_cast<QComboBox *>(table->cellWidget(r, 0))->currentData().toInt()) + ':'
                         + QFileInfo(cell(r, 2)->text()).fileName();
        QCOMPARE(shown, rows);
        QCOMPARE(child<QComboBox>("comboBoxPort")->currentText(), substitute({port}).at(0));
        QCOMPARE(child<QRadioButton>("radioButtonRunningMonitor")->isChecked(), monitor);
        QCOMPARE(child<QRadioButton>("radioButtonPoweredOffDevice")->isChecked(), !monitor);
        QCOMPARE(modal->seen, substitute(boxes));
        if (port == "%PTY%") { // Refresh keeps a device given with -P
            child<QPushButton>("pushButtonRefreshPorts")->click();
            QCOMPARE(child<QComboBox>("comboBoxPort")->currentText(), pty.path());
        }
    }

    // Offsets and lengths as the window reads them, and what the cell accepts.
    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("acceptable");
        QTest::newRow("hex") << "0x1a" << 26 << true;
        QTest::newRow("decimal, leading zeros") << "007" << 7 << true;
        QTest::newRow("0x7fffffff") << "0x7fffffff" << 2147483647 << true;
        QTest::newRow("2147483648 does not fit") << "2147483648" << -1 << true;
        QTest::newRow("0xffffffff does not fit") << "0xffffffff" << -1 << true;
        QTest::newRow("capital X") << "0X10" << -1 << false;
        QTest::newRow("bare prefix") << "0x" << -1 << false;
        QTest::newRow("hex digits without prefix") << "1a" << -1 << false;
    }

    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(bool, acceptable);
        QCOMPARE(MainWidget::parseNumber(text), value);
        window->addPgmRow(Flash0, Program, QString(), -1, -1);
        int nPos = 0;
        QCOMPARE(cell(0, 3)->validator()->validate(text, nPos) == QValidator::Acceptable, acceptable);
    }

    // Add file (Flash0) or a Flash1 row's button: the dialog, the cells, the
    // info panel, or the refusal with its reason as detailed text.
    void examine_data()
    {
        QTest::addColumn<QString>("file"); // empty: dialog cancelled
        QTest::addColumn<int>("memory");
        QTest::addColumn<QString>("cells"); // "||": the row stays, empty
        QTest::addColumn<bool>("info");
        QTest::addColumn<QString>("reason");
        auto row = [](const char *sTag, const char *sFile, int nMemory, const char *sCells, bool bInfo = false,
                      const char *sReason = "") {
            QTest::newRow(sTag) << sFile << nMemory << sCells << bInfo << sReason;
        };
        auto refused = [&](const char *sTag, const char *sFile, int nMemory, const char *sReason) {
            row(sTag, sFile, nMemory, "||", false, sReason);
        };
        row("cancelled", "", Flash0, "");
        row("software image", "sw.hex", Flash0, "sw.hex|0x300000|0x19c", true);
        row("software image on flash1", "sw.srec", Flash1, "sw.srec|0x300000|0x19c");
        row("hardware image", "hw.hex", Flash0, "hw.hex|0x0|0x1a");
        row("info not printable", "garbled.srec", Flash0, "garbled.srec|0x300000|0x70");
        refused("unknown type", "notes.txt", Flash1,
                "%1: neither an Intel HEX nor an S-record file (decided by its first four bytes)");
        refused("missing file", "gone.hex", Flash0, "%1: no such file");
        refused("directory", ".", Flash0, "%1 is not a regular file (it is a directory)");
        refused("checksum", "bad-sum.hex", Flash0, "hex2bin error: crc checksum error");
        refused("data above the flash", "high.hex", Flash0, "%1: its data lie above 0x7fffff, outside the flash");
    }

    void examine()
    {
        QFETCH(QString, file);
        QFETCH(int, memory);
        QFETCH(QString, cells);
        QFETCH(bool, info);
        QFETCH(QString, reason);
        const QString sPath = path(file);
        QStringList boxes;
        if (file == "gone.hex" || file == ".") { // no dialog picks these
            window->addPgmRow(memory, Program, QString(), -1, -1);
            QCOMPARE(window->examineRowImage(0, memory, &sPath), -1);
        } else {
            modal->plan << "file:" + (file.isEmpty() ? QString() : sPath);
            boxes << "Select image file to flash|Flash files (*.flash *.hexout *.hex);S-record files (*.srec *.s19 "
                     "*.s28 *.s37 *.mot);All files (*)";
            if (memory == Flash0) {
                trigger("actionPgmAddFile");
            } else {
                window->addPgmRow(memory, Program, QString(), -1, -1);
                table->cellWidget(0, 2)->findChild<QToolButton *>("toolButtonSelImage")->click();
            }
        }
        if (!reason.isEmpty())
            boxes << "Error|Row 1: examine image file failed. Image file not valid.|" + reason.arg(sPath);
        QCOMPARE(modal->seen, boxes);
        QCOMPARE(table->rowCount(), cells.isEmpty() ? 0 : 1);
        if (!cells.isEmpty())
            QCOMPARE(this->cells(0), cells);
        QCOMPARE(text("labelInfoFlash1"), info ? sInfo : QString());
        QCOMPARE(text("labelInfoFlashHeader1"), info ? "Software image info:\n" : QString());
    }

    // The panel describes one row's image: it goes with that row and stays
    // while other rows go; the drive's information is no row's.
    void rowsAndInfoPanel_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("kept");
        const QString hw = "hw.hex|0x0|0x1a", sw = "sw.hex|0x300000|0x19c";
        auto row = [](const char *sTag, const char *sStep, const QStringList &rows, bool bKept) {
            QTest::newRow(sTag) << QString(sStep) << rows << bKept;
        };
        row("its row removed", "remove 1", {hw, hw}, false);
        row("another row removed", "remove 0", {sw, hw}, true);
        row("no current row", "remove -1", {hw, sw, hw}, true);
        row("list cleared", "clear", {}, false);
        row("a later image without information", "garbled.srec", {hw, sw, "garbled.srec|0x300000|0x70"}, true);
        row("its row gets an image without information", "1 hw.hex", {hw, hw, hw}, false);
        row("its row's image refused", "1 notes.txt", {hw, "||", hw}, false);
        row("flash1 and back keeps the row", "memory 1", {hw, sw, hw}, true);
        row("a memory outside the flash clears it", "memory eeprom", {hw, sw, "||"}, true);
    }

    void rowsAndInfoPanel()
    {
        QFETCH(QString, step);
        QFETCH(QStringList, rows);
        QFETCH(bool, kept);
        processArgs({"-S", "%T/hw.hex", "-S", "%T/sw.hex", "-S", "%T/hw.hex"});
        window->UpdateInfoText(1, "drive");
        const QString sArg = step.section(' ', 1);
        if (step.startsWith("remove")) {
            table->setCurrentCell(sArg.toInt(), sArg.toInt() < 0 ? -1 : 3);
            trigger("actionPgmRemoveEntry");
        } else if (step == "clear") {
            trigger("actionPgmClearEntries");
        } else if (step.startsWith("memory")) {
            auto *combo = qobject_cast<QComboBox *>(table->cellWidget(2, 0));
            if (sArg == "eeprom")
                combo->addItem("EEPROM", int(Eeprom0)); // a valid job code the window does not offer
            combo->setCurrentIndex(sArg == "eeprom" ? 2 : 1);
            if (sArg != "eeprom")
                combo->setCurrentIndex(0);
        } else { // "[row] file": examine a file in that row (default: the last)
            const QString sFile = path(step.section(' ', -1));
            window->examineRowImage(step.contains(' ') ? step.section(' ', 0, 0).toInt() : 2, Flash0, &sFile);
        }
        QStringList shown, headers;
        for (int r = 0; r < table->rowCount(); ++r)
            shown << cells(r), headers << table->verticalHeaderItem(r)->text();
        QCOMPARE(shown, rows);
        QCOMPARE(headers.join(""), QString("123").left(rows.size()));
        QCOMPARE(text("labelInfoFlash1").isEmpty(), !kept);
        QCOMPARE(text("labelInfoFlash2"), QString("drive"));
        // The tool buttons still find their own rows after a shift.
        if (table->rowCount() > 1)
            QCOMPARE(window->rowOfCellWidget(table->cellWidget(1, 2)->findChild<QToolButton *>()), 1);
    }

    // Start measures every file anew; what it refuses.
    void jobList_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("box"); // empty: the list is built
        QTest::newRow("empty table") << QStringList() << "Error|Nothing to do!";
        QTest::newRow("row without image")
            << QStringList{"-S", "%T/hw.hex", "-F", "p"} << "Error|Row 2: no image file specified";
        QTest::newRow("file deleted since chosen")
            << QStringList{"-S", "%T/deleted.hex"}
            << "Error|Row 1: examine image file failed. Image file not valid.|%T/deleted.hex: no such file";
        QTest::newRow("file changed since chosen") << QStringList{"-S", "%T/sw.srec", "-X", "%T/changing.hex"} << "";
    }

    void jobList()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, box);
        QVERIFY(makeImageFile(path("changing.hex"), "ihex", 0x1000, QByteArray(16, 'c')));
        QVERIFY(QFile::copy(path("hw.hex"), path("deleted.hex")));
        processArgs(args);
        QVERIFY(QFile::remove(path("deleted.hex")) && QFile::remove(path("changing.hex")));
        QVERIFY(makeImageFile(path("changing.hex"), "ihex", 0x2000, QByteArray(64, 'c')));
        QVector<PgmEntry> jobs;
        QCOMPARE(window->buildJobList(&jobs), box.isEmpty());
        QCOMPARE(modal->seen, substitute(box.isEmpty() ? QStringList() : QStringList{box}));
        if (!box.isEmpty())
            return;
        QCOMPARE(jobs.size(), 2);
        const PgmEntry &sw = jobs.at(0), &changed = jobs.at(1);
        QCOMPARE((QList<int>{sw.nMemory, sw.nOperation, sw.nOffset, sw.nLength, int(sw.bCompress)}),
                 (QList<int>{Flash0, Program, 0x300000, 0x19c, 1}));
        QCOMPARE(sw.sImage, path("sw.srec"));
        QCOMPARE((QList<int>{changed.nMemory, changed.nOffset, changed.nLength}), (QList<int>{Flash1, 0x2000, 64}));
        QCOMPARE(cells(1), QString("changing.hex|0x2000|0x40"));
    }
};

QTEST_MAIN(TestUiWindow)
#include "tst_ui_window.moc"
