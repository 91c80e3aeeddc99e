// The window without a drive: its widget tree, its command line and the
// programming list with real image files written by srec_cat.
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
    QLineEdit *cell(int nRow, int nColumn) const
    {
        QWidget *w = table->cellWidget(nRow, nColumn);
        return nColumn == 2 ? w->findChild<QLineEdit *>("lineEditImage") : qobject_cast<QLineEdit *>(w);
    }
    // Each row as "memory:image|offset|length" (the file's name; " misnumbered"
    // after a wrong row number), then "port=NAME" unless ttyUSB0, "mon" (or
    // "firmware") unless the drive starts powered off, "info" while the panel
    // shows an image's firmware information.
    QStringList state() const
    {
        QStringList list;
        for (int r = 0; r < table->rowCount(); ++r)
            list << QString::number(qobject_cast<QComboBox *>(table->cellWidget(r, 0))->currentData().toInt()) + ':'
                        + QFileInfo(cell(r, 2)->text()).fileName() + '|' + cell(r, 3)->text() + '|' + cell(r, 4)->text()
                        + (table->verticalHeaderItem(r)->text() == QString::number(r + 1) ? "" : " misnumbered");
        if (const QString sPort = child<QComboBox>("comboBoxPort")->currentText(); sPort != "ttyUSB0")
            list << "port=" + sPort;
        if (!child<QRadioButton>("radioButtonPoweredOffDevice")->isChecked())
            list << (child<QRadioButton>("radioButtonRunningMonitor")->isChecked() ? "mon" : "firmware");
        if (!text("labelInfoFlash1").isEmpty())
            list << "info";
        return list;
    }
    QStringList substitute(QStringList list) const
    {
        list.replaceInStrings("%PTY%", pty.path());
        return list.replaceInStrings("%T/", tmp.path() + '/');
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid() && pty.isValid());
        QVERIFY(
            writeImageFile(path("sw.srec"), {{0x300000, firmwareInfoBlock(sInfo.split('\n')) + QByteArray(300, 'Z')}}));
        QVERIFY(writeImageFile(path("hw.hex"), {{0, QByteArray(0x1a, 'h')}}));
        QVERIFY(writeImageFile(path("garbled.srec"), {{0x300000, firmwareInfoBlock({"bad\x01", "x", "x"})}}));
        for (const auto &file : {std::pair<const char *, const char *>{"notes.txt", "hello world\n"},
                                 {"bad-sum.hex", ":0400000001020304F0\n:00000001FF\n"},
                                 {"high.hex", ":0200000400807A\n:0400000001020304F2\n:00000001FF\n"},
                                 {"cut.hex", ":0400000001020304F2\n:0400040005060708DE\n"}})
            QVERIFY(writeFile(path(file.first), file.second));
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
    // its class, the layout that holds it ("#" its place), its texts (all
    // of them: no row, no text).
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
        row("groupBoxProgress", "QGroupBox", "verticalLayout_5#4", "Progress information");
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
        row("progressBarProgress", "QProgressBar", "verticalLayout_22#1", "0%");
        row("progressBarTotal", "QProgressBar", "verticalLayout_22#2", "0%");
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
        QCOMPARE(object->property(object->property("title").isValid() ? "title" : "text").toString(), text);
        QCOMPARE(object->property("toolTip").toString(), toolTip);
        if (auto *button = qobject_cast<QToolButton *>(object))
            QVERIFY(button->defaultAction() && !button->icon().isNull());
    }

    // Before anything happened: the list's columns and context menu, the
    // options that cannot be chosen, the help text; offsets and lengths as
    // the window reads them ("=value") and what their cells refuse.
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
        window->addPgmRow(Flash0, Program, QString(), -1, -1);
        QStringList read;
        for (QString sText : {"0x1a", "007", "0x7fffffff", "2147483648", "0xffffffff", "0X10", "0x", "1a"}) {
            int nPos = 0;
            const bool bAccepted = cell(0, 3)->validator()->validate(sText, nPos) == QValidator::Acceptable;
            read << sText + '=' + QString::number(MainWidget::parseNumber(sText)) + (bAccepted ? "" : " refused");
        }
        QCOMPARE(read, (QStringList{"0x1a=26", "007=7", "0x7fffffff=2147483647", "2147483648=-1", "0xffffffff=-1",
                                    "0X10=-1 refused", "0x=-1 refused", "1a=-1 refused"}));
    }

    // The list and settings as the command line, the list's actions and Start
    // leave them. Steps: "add [FILE]" (Add file; no file: cancelled), "pick ROW
    // FILE" (a row's image button), "remove ROW", "clear", "memory ROW CODE",
    // "rewrite" (deleted.hex goes, changing.hex grows), "start" (the jobs).
    void programmingList_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("state"); // see state(), then what Start made
        QTest::addColumn<QStringList>("boxes");
        const QString sHelp = "Help|" + MainWidget::helpText();
        const QString sPick = "Select image file to flash|Flash files (*.flash *.hexout *.hex);S-record files (*.srec "
                              "*.s19 *.s28 *.s37 *.mot);All files (*)";
        const QString sNoType = "%T/notes.txt: neither an Intel HEX nor an S-record file (decided by its first four "
                                "bytes)";
        const QString hw = "0:hw.hex|0x0|0x1a", sw = "0:sw.srec|0x300000|0x19c", swx = "1:sw.srec|0x300000|0x19c";
        const QStringList three{"-S", "%T/hw.hex", "-S", "%T/sw.srec", "-S", "%T/hw.hex"};
        auto error = [](const QString &s) { return QStringList{"Error|Unknown option: " + s}; };
        auto refused = [](int nRow, const QString &sReason) {
            return QString("Error|Row %1: examine image file failed. Image file not valid.|%2").arg(nRow).arg(sReason);
        };
        auto row = [](const char *sTag, const QStringList &args, const QStringList &steps, const QStringList &state,
                      const QStringList &boxes = {}) { QTest::newRow(sTag) << args << steps << state << boxes; };
        // The command line
        row("-c 03, -B off after mon", {"-B", "mon", "-c", "03", "-B", "off"}, {}, {"port=COM3"});
        row("--port= ignores case, --boottype=", {"--port=com7", "--boottype=monitor"}, {}, {"port=COM7", "mon"});
        row("empty --port= cancels -P", {"-P", "COM7", "--port="}, {}, {});
        row("-P unknown port", {"-P", "COM9"}, {}, {},
            error("Serial device 'COM9'\n/dev/COM9: no such device. Ports found: ttyUSB0, COM3, COM7."));
        row("-P glued, only the last error", {"-a", "-F", "x", "-PCOM3"}, {}, {}, error("-PCOM3"));
        row("link to a terminal", {"-P", "%T/by-id"}, {}, {"port=%PTY%"});
        row("file that is no terminal", {"-P", "%T/hw.hex"}, {}, {},
            error("Serial device '%T/hw.hex'\n%T/hw.hex is not a serial device."));
        row("link leading nowhere", {"-S", "%T/hw.hex", "-P", "%T/gone"}, {}, {},
            error("Serial device '%T/gone'\n%T/gone: no such port, and no USB serial port was found; is the "
                  "converter plugged in?"));
        row("OFF, on and trailing -B ignored", {"-B", "mon", "-B", "OFF", "--boottype=on", "-B"}, {}, {"mon"});
        row("-S -H -X", {"-S", "%T/hw.hex", "-H", "%T/sw.srec", "--extended-image=%T/sw.srec"}, {},
            {hw, sw, swx, "info"});
        row("-I -T before -F have no effect", {"-I", "%T/sw.srec", "-T", "f1", "-F", "prog"}, {}, {"0:||"});
        row("rows follow the moments they are complete",
            {"-F", "p", "-I", "%T/hw.hex", "-S", "%T/sw.srec", "-F", "prog", "--image=%T/sw.srec", "--type=flash1"}, {},
            {sw, hw, swx, "info"});
        row("empty --image= clears", {"-F", "p", "-I", "%T/hw.hex", "--image="}, {}, {"0:||"});
        row("-S value looks like an option", {"-S", "-X"}, {}, {"0:||"}, {refused(1, "-X: no such file")});
        row("unknown function", {"-S", "%T/hw.hex", "-F", "x"}, {}, {}, error("function 'x'"));
        row("unknown type", {"-F", "p", "-T", "F0"}, {}, {}, error("type 'F0'"));
        row("error empties the list, keeps settings",
            {"-S", "%T/hw.hex", "-P", "COM7", "-B", "mon", "-F", "p", "-I", "%T/sw.srec", "-bogus"}, {},
            {"port=COM7", "mon"}, error("-bogus"));
        row("help keeps rows", {"-h", "-S", "%T/hw.hex", "-B", "mon"}, {}, {hw, "mon"}, {sHelp});
        row("help then error", {"--help", "-zz"}, {}, {}, {sHelp, error("-zz").at(0)});
        row("language was read at start-up", {"-l", "de", "--language=de", "-S", "%T/hw.hex", "-l"}, {}, {hw});
        // Examining an image: the cells, the information panel, or the refusal
        // with its reason as detailed text; a refused row stays, empty.
        row("add file cancelled", {}, {"add"}, {}, {sPick});
        row("add file", {}, {"add sw.srec"}, {sw, "info"}, {sPick});
        row("flash1 row's button", {"-F", "p", "-T", "f1"}, {"pick 0 sw.srec"}, {swx}, {sPick});
        row("directory", {"-S", "%T/."}, {}, {"0:||"}, {refused(1, "%T/. is not a regular file (it is a directory)")});
        row("checksum", {"-S", "%T/bad-sum.hex"}, {}, {"0:||"},
            {refused(1, "%T/bad-sum.hex:1: hex2bin error: crc checksum error")});
        row("cut short", {"-S", "%T/cut.hex"}, {}, {"0:||"},
            {refused(1, "%T/cut.hex: the image is incomplete (it has no end-of-file record (type 01)); it is not "
                        "programmed\n%T/cut.hex:2: hex2bin warning: no end-of-file record; the image is incomplete")});
        row("data above the flash", {"-S", "%T/high.hex"}, {}, {"0:||"},
            {refused(1, "%T/high.hex: its data lie above 0x7fffff, outside the flash")});
        // The panel describes one row's image: it goes with that row and stays
        // while other rows go.
        row("its row removed", three, {"remove 1"}, {hw, hw});
        row("another row removed, a shifted row's button", three, {"remove 0", "pick 1 garbled.srec"},
            {sw, "0:garbled.srec|0x300000|0x70", "info"}, {sPick});
        row("no current row", three, {"remove -1"}, {hw, sw, hw, "info"});
        row("list cleared", three, {"clear"}, {});
        row("a later image without information", three, {"pick 2 garbled.srec"},
            {hw, sw, "0:garbled.srec|0x300000|0x70", "info"}, {sPick});
        row("its row gets an image without information", three, {"pick 1 hw.hex"}, {hw, hw, hw}, {sPick});
        row("its row's image refused", three, {"pick 1 notes.txt"}, {hw, "0:||", hw}, {sPick, refused(2, sNoType)});
        row("flash1 and back keeps the row", three, {"memory 2 1", "memory 2 0"}, {hw, sw, hw, "info"});
        row("a memory outside the flash clears it", three, {"memory 2 2"}, {hw, sw, "2:||", "info"});
        // Start measures every file anew; what it refuses.
        row("start: empty list", {}, {"start"}, {"refused"}, {"Error|Nothing to do!"});
        row("start: row without image", {"-S", "%T/hw.hex", "-F", "p"}, {"start"}, {hw, "0:||", "refused"},
            {"Error|Row 2: no image file specified"});
        row("start: file deleted since chosen", {"-S", "%T/deleted.hex"}, {"rewrite", "start"}, {"0:||", "refused"},
            {refused(1, "%T/deleted.hex: no such file")});
        row("start: file changed since chosen", {"-S", "%T/sw.srec", "-X", "%T/changing.hex"}, {"rewrite", "start"},
            {sw, "1:changing.hex|0x2000|0x40", "info", "job 0:%T/sw.srec|0x300000|0x19c|1|lz",
             "job 1:%T/changing.hex|0x2000|0x40|1|lz"});
    }

    void programmingList()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, state);
        QFETCH(QStringList, boxes);
        if (steps.contains("rewrite")) {
            QVERIFY(writeImageFile(path("changing.hex"), {{0x1000, QByteArray(16, 'c')}}));
            QVERIFY(QFile::copy(path("hw.hex"), path("deleted.hex")));
        }
        window->processArgs(QStringList{"servoprog"} + substitute(args));
        window->UpdateInfoText(1, "drive"); // the drive's information is no row's
        QStringList jobs;
        for (const QString &sStep : steps) {
            const QStringList words = sStep.split(' ');
            const int nRow = words.value(1).toInt();
            if (words[0] == "add" || words[0] == "pick")
                modal->plan << (words.size() > 1 ? path(words.last()) : QString());
            if (words[0] == "add") {
                child<QAction>("actionPgmAddFile")->trigger();
            } else if (words[0] == "pick") {
                table->cellWidget(nRow, 2)->findChild<QToolButton *>()->click();
            } else if (words[0] == "remove") {
                table->setCurrentCell(nRow, nRow < 0 ? -1 : 3);
                child<QAction>("actionPgmRemoveEntry")->trigger();
            } else if (words[0] == "clear") {
                child<QAction>("actionPgmClearEntries")->trigger();
            } else if (words[0] == "memory") { // a code the combo lacks is added, as a valid one it does not offer
                auto *combo = qobject_cast<QComboBox *>(table->cellWidget(nRow, 0));
                if (combo->findData(words[2].toInt()) < 0)
                    combo->addItem("other", words[2].toInt());
                combo->setCurrentIndex(combo->findData(words[2].toInt()));
            } else if (words[0] == "rewrite") {
                QVERIFY(QFile::remove(path("deleted.hex")) && QFile::remove(path("changing.hex")));
                QVERIFY(writeImageFile(path("changing.hex"), {{0x2000, QByteArray(64, 'c')}}));
            } else if (words[0] == "start") {
                QVector<PgmEntry> entries;
                if (!window->buildJobList(&entries)) {
                    jobs << "refused";
                    entries.clear(); // the caller drops what it made so far
                }
                for (const PgmEntry &job : entries)
                    jobs << QStringList{"job " + QString::number(job.nMemory) + ':' + job.sImage,
                                        MainWidget::formatNumber(job.nOffset), MainWidget::formatNumber(job.nLength),
                                        QString::number(job.nOperation), job.bCompress ? "lz" : "raw"}
                                .join('|');
            }
        }
        QCOMPARE(this->state() + jobs, substitute(state));
        QCOMPARE(modal->seen, substitute(boxes));
        QCOMPARE(text("labelInfoFlash1"), state.contains("info") ? sInfo : QString());
        QCOMPARE(text("labelInfoFlashHeader1"), state.contains("info") ? "Software image info:\n" : QString());
        QCOMPARE(text("labelInfoFlash2"), QString("drive"));
        if (state.contains("port=%PTY%")) { // Refresh keeps a device given with -P
            child<QPushButton>("pushButtonRefreshPorts")->click();
            QCOMPARE(child<QComboBox>("comboBoxPort")->currentText(), pty.path());
        }
    }
};

QTEST_MAIN(TestUiWindow)
#include "tst_ui_window.moc"
