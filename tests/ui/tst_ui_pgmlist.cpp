// The programming list: rows, their cell widgets, examination of real image
// files (written by srec_cat), the info panel and the job list that Start
// hands to the worker.
#include "MainWidget.h"
#include "QExtComboBox.h"
#include "UiTestUtil.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

Q_DECLARE_METATYPE(QVector<PgmEntry>)

class TestUiPgmList : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    std::unique_ptr<MainWidget> window;
    std::unique_ptr<ModalAnswerer> modal;
    QTableWidget *table = nullptr;

    QString path(const QString &sName) const { return tmp.filePath(sName); }

    QString image(int row) const
    {
        return table->cellWidget(row, 2)->findChild<QLineEdit *>(QStringLiteral("lineEditImage"))->text();
    }
    QLineEdit *cell(int row, int column) const { return qobject_cast<QLineEdit *>(table->cellWidget(row, column)); }
    QStringList rowHeaders() const
    {
        QStringList list;
        for (int r = 0; r < table->rowCount(); ++r)
            list << table->verticalHeaderItem(r)->text();
        return list;
    }
    QString label(const char *sName) const { return window->findChild<QLabel *>(QLatin1String(sName))->text(); }
    void trigger(const char *sAction) { window->findChild<QAction *>(QLatin1String(sAction))->trigger(); }

    static QByteArray filler(int nSize, char c = 0x5A) { return QByteArray(nSize, c); }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        const QStringList info{"HW 1.2", "FW 3.4.5", "2026-12-01", "servo drive firmware", "build 77"};
        QVERIFY(makeImageFile(path("sw.hex"), "ihex", 0x300000, firmwareInfoBlock(info) + filler(300)));
        QVERIFY(makeImageFile(path("sw.srec"), "srec", 0x300000, firmwareInfoBlock(info) + filler(300)));
        QVERIFY(makeImageFile(path("below.hex"), "ihex", 0x2FFFFF, QByteArray(1, '\x11') + firmwareInfoBlock(info)));
        QVERIFY(makeImageFile(path("hw.hex"), "ihex", 0x0, filler(0x1a)));
        QVERIFY(makeImageFile(path("garbled-info.srec"), "srec", 0x300000,
                              firmwareInfoBlock({QString::fromLatin1("bad\x01"), "x", "x", "x", "x"})));
        for (const auto &file : {std::pair<const char *, const char *>{"short.hex", ":10"}, // fewer than four bytes
                                 {"notes.txt", "hello world\n"},
                                 {"bad-sum.hex", ":0400000001020304F0\n:00000001FF\n"},
                                 {"bad-sum.s19", "S1070000010203046F\nS9030000FC\n"},
                                 {"high.hex", ":0200000400807A\n:0400000001020304F2\n:00000001FF\n"}}) {
            QFile f(path(QLatin1String(file.first)));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file.second) > 0);
        }
    }

    void init()
    {
        QVERIFY(openWindow(window, modal));
        table = window->findChild<QTableWidget *>(QStringLiteral("tableWidgetPgmImages"));
        QVERIFY(table);
    }

    void cleanup()
    {
        window.reset();
        modal.reset();
    }

    // ---- numbers ---------------------------------------------------------------

    // Number forms: what parseNumber reads, and what the offset cell accepts.
    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("acceptable");
        QTest::newRow("empty") << "" << -1 << false;
        QTest::newRow("hex") << "0x1a" << 26 << true;
        QTest::newRow("hex upper digits") << "0xFF" << 255 << true;
        QTest::newRow("decimal") << "4096" << 4096 << true;
        QTest::newRow("leading zeros") << "007" << 7 << true;
        QTest::newRow("largest decimal") << "2147483647" << 2147483647 << true;
        QTest::newRow("one above") << "2147483648" << -1 << true;
        QTest::newRow("0xffffffff does not fit") << "0xffffffff" << -1 << true;
        QTest::newRow("0x7fffffff") << "0x7fffffff" << 2147483647 << true;
        QTest::newRow("capital X is decimal and fails") << "0X10" << -1 << false;
        QTest::newRow("bare prefix") << "0x" << -1 << false;
        QTest::newRow("hex digits without prefix") << "1a" << -1 << false;
        QTest::newRow("negative") << "-5" << -1 << false;
        QTest::newRow("nine hex digits") << "0x123456789" << -1 << false;
        QTest::newRow("eleven decimal digits") << "12345678901" << -1 << false;
    }

    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(bool, acceptable);
        QCOMPARE(MainWidget::parseNumber(text), value);
        window->addPgmRow(Flash0, Program, QString(), -1, -1);
        int pos = 0;
        QCOMPARE(cell(0, 3)->validator()->validate(text, pos) == QValidator::Acceptable, acceptable);
    }

    // ---- rows ------------------------------------------------------------------

    void addNewEntry()
    {
        trigger("actionPgmAddEntry");
        QCOMPARE(table->rowCount(), 1);
        auto *memory = qobject_cast<QExtComboBox *>(table->cellWidget(0, 0));
        auto *operation = qobject_cast<QComboBox *>(table->cellWidget(0, 1));
        QVERIFY(memory && operation);
        QCOMPARE(memory->currentText(), QStringLiteral("Flash0 (HW/FW)"));
        QCOMPARE(memory->itemData(1).toInt(), int(Flash1));
        QCOMPARE(operation->currentData().toInt(), int(Program));
        QCOMPARE(image(0) + cell(0, 3)->text() + cell(0, 4)->text(), QString());
        QVERIFY(!cell(0, 3)->isEnabled() && !cell(0, 4)->isEnabled());
        auto *button = table->cellWidget(0, 2)->findChild<QToolButton *>(QStringLiteral("toolButtonSelImage"));
        QVERIFY(button && button->isEnabled() && !button->icon().isNull());
        QCOMPARE(button->toolTip(), QStringLiteral("Select image file"));
        QCOMPARE(rowHeaders(), QStringList{"1"});
        QVERIFY(modal->seen.isEmpty());
    }

    void addRowWithValues()
    {
        window->addPgmRow(Flash1, Program, QStringLiteral("x.hex"), 26, 4096);
        QCOMPARE(cell(0, 3)->text(), QStringLiteral("0x1a"));
        QCOMPARE(cell(0, 4)->text(), QStringLiteral("0x1000"));
        int memory = -1, operation = -1, offset = -2, length = -2;
        QString sImage;
        QCOMPARE(window->readPgmRow(0, &memory, &operation, &sImage, &offset, &length), 0);
        QCOMPARE((QList<int>{memory, operation, offset, length}), (QList<int>{int(Flash1), int(Program), 26, 4096}));
        QCOMPARE(sImage, QStringLiteral("x.hex"));
        QCOMPARE(window->readPgmRow(1, &memory, nullptr, nullptr, nullptr, nullptr), -1);
        QCOMPARE(window->readPgmRow(-1, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    }

    // The Add file action: the dialog cancelled, a valid and an invalid file.
    void addFile_data()
    {
        QTest::addColumn<QString>("file"); // empty: dialog cancelled
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<QString>("cells"); // image|offset|length
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("cancelled") << "" << 0 << "" << QStringList();
        QTest::newRow("chosen") << "hw.hex" << 1 << "%1|0x0|0x1a" << QStringList();
        QTest::newRow("invalid keeps an empty row")
            << "notes.txt" << 1 << "||" << QStringList{"Error|Row 1: examine image file failed. Image file not valid."};
    }

    void addFile()
    {
        QFETCH(QString, file);
        QFETCH(int, rowCount);
        QFETCH(QString, cells);
        QFETCH(QStringList, messages);
        if (file.isEmpty())
            modal->cancelFile();
        else
            modal->chooseFile(path(file));
        trigger("actionPgmAddFile");
        QCOMPARE(table->rowCount(), rowCount);
        QCOMPARE(modal->seen.value(0).sTitle, QStringLiteral("Select image file to flash"));
        QCOMPARE(modal->seen.value(0).sText, QStringLiteral("Flash files (*.flash *.hexout *.hex);S-record files "
                                                            "(*.srec *.s19 *.s28 *.s37 *.mot);All files (*)"));
        QCOMPARE(modal->messages(), messages);
        if (!messages.isEmpty())
            QCOMPARE(modal->seen.last().nIcon, QMessageBox::Critical);
        if (rowCount == 0)
            return;
        QCOMPARE(QStringList({image(0), cell(0, 3)->text(), cell(0, 4)->text()}).join(QLatin1Char('|')),
                 QString(cells).replace(QLatin1String("%1"), path(file)));
        QCOMPARE(table->cellWidget(0, 2)->findChild<QLineEdit *>(QStringLiteral("lineEditImage"))->toolTip(), image(0));
    }

    // Examination through the row tool button, then what the info panel shows.
    void examine_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("memory");
        QTest::addColumn<QString>("offset"); // empty: examination fails
        QTest::addColumn<QString>("length");
        QTest::addColumn<bool>("infoShown");
        QTest::addColumn<QString>("detail"); // the error box's detailed text; %1: the file

        QTest::newRow("software image, hex") << "sw.hex" << int(Flash0) << "0x300000"
                                             << "0x19c" << true << "";
        QTest::newRow("software image, srec") << "sw.srec" << int(Flash0) << "0x300000"
                                              << "0x19c" << true << "";
        QTest::newRow("software image on flash1") << "sw.hex" << int(Flash1) << "0x300000"
                                                  << "0x19c" << false << "";
        QTest::newRow("starts at 0x2fffff") << "below.hex" << int(Flash0) << "0x2fffff"
                                            << "0x71" << false << "";
        QTest::newRow("hardware image") << "hw.hex" << int(Flash0) << "0x0"
                                        << "0x1a" << false << "";
        QTest::newRow("info not printable") << "garbled-info.srec" << int(Flash0) << "0x300000"
                                            << "0x70" << false << "";
        const QString sNoType = "%1: neither an Intel HEX nor an S-record file (decided by its first four bytes)";
        QTest::newRow("fewer than four bytes") << "short.hex" << int(Flash0) << ""
                                               << "" << false << sNoType;
        QTest::newRow("unknown type") << "notes.txt" << int(Flash0) << ""
                                      << "" << false << sNoType;
        QTest::newRow("missing file") << "gone.hex" << int(Flash0) << ""
                                      << "" << false << "%1: no such file";
        QTest::newRow("directory") << "." << int(Flash0) << ""
                                   << "" << false << "%1 is not a regular file (it is a directory)";
        QTest::newRow("hex checksum") << "bad-sum.hex" << int(Flash0) << ""
                                      << "" << false << "hex2bin error: crc checksum error";
        QTest::newRow("srec checksum") << "bad-sum.s19" << int(Flash0) << ""
                                       << "" << false << "srec2bin error: checksum error";
        QTest::newRow("data above the flash") << "high.hex" << int(Flash0) << ""
                                              << "" << false << "%1: its data lie above 0x7fffff, outside the flash";
    }

    void examine()
    {
        QFETCH(QString, file);
        QFETCH(int, memory);
        QFETCH(QString, offset);
        QFETCH(QString, length);
        QFETCH(bool, infoShown);
        QFETCH(QString, detail);

        window->addPgmRow(memory, Program, QString(), -1, -1);
        modal->chooseFile(path(file));
        if (file == QLatin1String("gone.hex") || file == QLatin1String(".")) {
            // A dialog cannot pick a missing file or a folder; the row examines it directly.
            const QString sPath = path(file);
            QCOMPARE(window->examineRowImage(0, memory, &sPath), -1);
        } else {
            table->cellWidget(0, 2)->findChild<QToolButton *>(QStringLiteral("toolButtonSelImage"))->click();
        }
        const bool bFailed = offset.isEmpty();
        QCOMPARE(cell(0, 3)->text(), offset);
        QCOMPARE(cell(0, 4)->text(), length);
        QCOMPARE(image(0), bFailed ? QString() : path(file));
        QCOMPARE(modal->messages(), bFailed
                                        ? QStringList{"Error|Row 1: examine image file failed. Image file not valid."}
                                        : QStringList());
        if (bFailed)
            QCOMPARE(modal->seen.last().sMore, "|" + QString(detail).replace("%1", path(file)));
        QCOMPARE(label("labelInfoFlash1"),
                 infoShown ? QStringLiteral("HW 1.2\nFW 3.4.5\n2026-12-01\nservo drive firmware\nbuild 77")
                           : QString());
        QCOMPARE(label("labelInfoFlashHeader1"), infoShown ? QStringLiteral("Software image info:\n") : QString());
        QCOMPARE(label("labelInfoFlashHeader2"), QString());
    }

    // A later image without information leaves the panel as it was.
    void infoPanelKeptByLaterImages()
    {
        window->addPgmRow(Flash0, Program, path("sw.hex"), -1, -1);
        QCOMPARE(window->examineRowImage(0, Flash0, nullptr), 0);
        const QString sInfo = label("labelInfoFlash1");
        QVERIFY(!sInfo.isEmpty());
        window->addPgmRow(Flash0, Program, path("garbled-info.srec"), -1, -1);
        QCOMPARE(window->examineRowImage(1, Flash0, nullptr), 0);
        window->addPgmRow(Flash1, Program, path("sw.srec"), -1, -1);
        QCOMPARE(window->examineRowImage(2, Flash1, nullptr), 0);
        QCOMPARE(label("labelInfoFlash1"), sInfo);
    }

    // The panel describes the image of one row: it goes with that row, and
    // stays while other rows go.
    void infoPanelFollowsItsRow_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("kept");
        QTest::newRow("its row removed") << "remove 1" << false;
        QTest::newRow("another row removed") << "remove 0" << true;
        QTest::newRow("list cleared") << "clear" << false;
        QTest::newRow("its row gets an image without information") << "hw.hex" << false;
        QTest::newRow("its row's image refused") << "notes.txt" << false;
    }

    void infoPanelFollowsItsRow()
    {
        QFETCH(QString, step);
        QFETCH(bool, kept);
        window->addPgmRow(Flash0, Program, path("hw.hex"), -1, -1);
        window->addPgmRow(Flash0, Program, path("sw.hex"), -1, -1);
        QCOMPARE(window->examineRowImage(1, Flash0, nullptr), 0);
        window->UpdateInfoText(1, QStringLiteral("drive"));
        if (step.startsWith(QLatin1String("remove"))) {
            table->setCurrentCell(step.back().digitValue(), 0);
            trigger("actionPgmRemoveEntry");
        } else if (step == QLatin1String("clear")) {
            trigger("actionPgmClearEntries");
        } else {
            const QString sPath = path(step);
            window->examineRowImage(1, Flash0, &sPath);
        }
        QCOMPARE(label("labelInfoFlash1").isEmpty(), !kept);
        QCOMPARE(label("labelInfoFlashHeader1").isEmpty(), !kept);
        // The drive's information is no row's.
        QCOMPARE(label("labelInfoFlash2"), QStringLiteral("drive"));
    }

    // Switching between the two flash memories keeps the row; a memory outside
    // the flash group (not offered by the window, but a valid job code)
    // clears what belonged to the other group.
    void switchMemory_data()
    {
        QTest::addColumn<int>("memory");
        QTest::addColumn<QString>("cells"); // image|offset|length afterwards
        QTest::newRow("flash1 and back") << int(Flash1) << "%1|0x0|0x1a";
        QTest::newRow("eeprom") << int(Eeprom0) << "||";
    }

    void switchMemory()
    {
        QFETCH(int, memory);
        QFETCH(QString, cells);
        window->addPgmRow(Flash0, Program, path("hw.hex"), -1, -1);
        QCOMPARE(window->examineRowImage(0, Flash0, nullptr), 0);
        auto *combo = qobject_cast<QComboBox *>(table->cellWidget(0, 0));
        if (memory == int(Eeprom0)) {
            combo->addItem(QStringLiteral("EEPROM"), int(Eeprom0));
            combo->setCurrentIndex(2);
        } else {
            combo->setCurrentIndex(1);
            combo->setCurrentIndex(0);
        }
        QCOMPARE(QStringList({image(0), cell(0, 3)->text(), cell(0, 4)->text()}).join(QLatin1Char('|')),
                 QString(cells).replace(QLatin1String("%1"), path("hw.hex")));
    }

    void removeRows()
    {
        for (const char *sName : {"a", "b", "c", "d"})
            window->addPgmRow(Flash0, Program, QLatin1String(sName), -1, -1);
        table->setCurrentCell(1, 3);
        trigger("actionPgmRemoveEntry");
        QCOMPARE(rowHeaders(), (QStringList{"1", "2", "3"}));
        QCOMPARE((QStringList{image(0), image(1), image(2)}), (QStringList{"a", "c", "d"}));
        // The tool buttons still find their own rows after the shift.
        QCOMPARE(window->rowOfCellWidget(table->cellWidget(2, 2)->findChild<QToolButton *>()), 2);
        QCOMPARE(window->rowOfCellWidget(table->cellWidget(1, 0)), 1);

        window->removePgmRow(7);
        table->setCurrentCell(-1, -1);
        trigger("actionPgmRemoveEntry"); // no current row: nothing removed
        QCOMPARE(table->rowCount(), 3);
        trigger("actionPgmClearEntries");
        QCOMPARE(table->rowCount(), 0);
        QVERIFY(modal->seen.isEmpty());
    }

    // ---- job list --------------------------------------------------------------

    void jobListRefusals_data()
    {
        QTest::addColumn<QStringList>("rows"); // image per Flash0 Program row
        QTest::addColumn<QString>("message");
        QTest::newRow("empty table") << QStringList() << "Error|Nothing to do!";
        QTest::newRow("row without image") << QStringList{"hw.hex", ""} << "Error|Row 2: no image file specified";
        QTest::newRow("file deleted since chosen")
            << QStringList{"deleted.hex"} << "Error|Row 1: examine image file failed. Image file not valid.";
    }

    void jobListRefusals()
    {
        QFETCH(QStringList, rows);
        QFETCH(QString, message);
        QVERIFY(QFile::copy(path("hw.hex"), path("deleted.hex")));
        for (const QString &sRow : rows) {
            window->addPgmRow(Flash0, Program, sRow.isEmpty() ? QString() : path(sRow), -1, -1);
            if (!sRow.isEmpty())
                QCOMPARE(window->examineRowImage(table->rowCount() - 1, Flash0, nullptr), 0);
        }
        QVERIFY(QFile::remove(path("deleted.hex")));
        QVector<PgmEntry> jobs;
        QVERIFY(!window->buildJobList(&jobs));
        QCOMPARE(modal->messages(), QStringList{message});
    }

    // Start measures every file anew: stale numbers in a row, a file changed
    // since it was examined.
    void jobListBuilt()
    {
        QVERIFY(makeImageFile(path("changing.hex"), "ihex", 0x1000, filler(16)));
        window->addPgmRow(Flash0, Program, path("sw.srec"), 5, 6);
        window->addPgmRow(Flash1, Program, path("changing.hex"), -1, -1);
        QCOMPARE(window->examineRowImage(1, Flash1, nullptr), 0);
        QCOMPARE(cell(1, 4)->text(), QStringLiteral("0x10"));
        QFile::remove(path("changing.hex"));
        QVERIFY(makeImageFile(path("changing.hex"), "ihex", 0x2000, filler(64)));
        QVector<PgmEntry> jobs;
        QVERIFY(window->buildJobList(&jobs));
        QCOMPARE(jobs.size(), 2);
        QCOMPARE(jobs.at(0).nMemory, int(Flash0));
        QCOMPARE(jobs.at(0).nOperation, int(Program));
        QCOMPARE(jobs.at(0).nOffset, 0x300000);
        QCOMPARE(jobs.at(0).nLength, 0x19c);
        QCOMPARE(jobs.at(0).sImage, path("sw.srec"));
        QVERIFY(jobs.at(0).bCompress);
        QCOMPARE(cell(0, 3)->text(), QStringLiteral("0x300000"));
        QCOMPARE(jobs.at(1).nMemory, int(Flash1));
        QCOMPARE(jobs.at(1).nOffset, 0x2000);
        QCOMPARE(jobs.at(1).nLength, 64);
        QCOMPARE(modal->messages(), QStringList());
    }
};

QTEST_MAIN(TestUiPgmList)
#include "tst_ui_pgmlist.moc"
