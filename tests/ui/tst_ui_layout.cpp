// The main window's widget tree: every object is where the window's users
// (operators, scripts that name objects, translators) expect it, with its
// texts, tool tips and icons.
#include "MainWidget.h"

#include <QAction>
#include <QDirIterator>
#include <QImage>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <memory>

class TestUiLayout : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainWidget> window;

    template <class T> T *child(const QString &sName) { return window->findChild<T *>(sName); }

    static QImage iconImage(const QIcon &icon)
    {
        return icon.pixmap(QSize(22, 22)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }

private slots:
    void init()
    {
        window.reset(new MainWidget);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup() { window.reset(); }

    // Each layout: its holder, then its items in order; spacers show as "-".
    void layouts()
    {
        const char *const expected[] = {
            "verticalLayout_5 in MainWidget: tabWidgetFunction - horizontalLayout_10 - groupBoxProgress",
            "verticalLayout_4 in tabProgram: horizontalLayout tableWidgetPgmImages",
            "horizontalLayout in verticalLayout_4: toolButtonPgmAddFile toolButtonPgmAddEntry toolButtonPgmRemoveEntry "
            "toolButtonPgmClearEntries - toolButtonDE toolButtonEN",
            "horizontalLayout_10 in verticalLayout_5: groupBoxConnection groupBoxStartOptions groupBoxInfo",
            "verticalLayout_16 in groupBoxConnection: verticalLayout_2 verticalLayout_3 pushButtonRefreshPorts",
            "verticalLayout_2 in verticalLayout_16: labelPort comboBoxPort",
            "verticalLayout_3 in verticalLayout_16: labelBaudrate comboBoxBaudrate",
            "verticalLayout in groupBoxStartOptions: radioButtonRunningFW radioButtonPoweredOffDevice "
            "radioButtonRunningMonitor",
            "verticalLayout_15 in groupBoxInfo: stackedWidgetInfo",
            "horizontalLayout_2 in page: verticalLayout_6 verticalLayout_7",
            "verticalLayout_6 in horizontalLayout_2: labelInfoFlashHeader1 labelInfoFlash1",
            "verticalLayout_7 in horizontalLayout_2: labelInfoFlashHeader2 labelInfoFlash2",
            "verticalLayout_22 in groupBoxProgress: horizontalLayout_11 progressBarProgress progressBarTotal "
            "horizontalLayout_3",
            "horizontalLayout_11 in verticalLayout_22: labelProgressStep labelProgressFile",
            "horizontalLayout_3 in verticalLayout_22: pushButtonStart pushButtonCancel -",
        };
        for (const char *sExpected : expected) {
            const QString sName = QString::fromLatin1(sExpected).section(QLatin1Char(' '), 0, 0);
            QLayout *layout = child<QLayout>(sName);
            QVERIFY2(layout && layout->parent(), qPrintable(sName));
            QStringList names{sName, QStringLiteral("in"), layout->parent()->objectName() + QLatin1Char(':')};
            for (int i = 0; i < layout->count(); ++i) {
                QLayoutItem *item = layout->itemAt(i);
                names << (item->widget()   ? item->widget()->objectName()
                          : item->layout() ? item->layout()->objectName()
                                           : QStringLiteral("-"));
            }
            QCOMPARE(names.join(QLatin1Char(' ')), QLatin1String(sExpected));
        }
    }

    // Class and shown texts of every widget that shows one.
    void widgets_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("value");
        auto row = [](const char *sName, const char *sClass, const char *sProperty, const QString &sValue) {
            QTest::newRow((QByteArray(sName) + '.' + sProperty).constData())
                << QString::fromLatin1(sClass) << QString::fromLatin1(sProperty) << sValue;
        };
        const QString sHtml =
            QStringLiteral("<html><head/><body><p>Start the firmware update from a %1</p></body></html>");
        row("MainWidget", "MainWidget", "windowTitle", "Programming tool AC Servo Drive V0.0.6 beta02");
        row("tableWidgetPgmImages", "QTableWidget", "columnCount", "5");
        row("groupBoxConnection", "QGroupBox", "title", "Connection");
        row("labelPort", "QLabel", "text", "USB Serial port");
        row("comboBoxPort", "QComboBox", "toolTip", "Select communication port");
        row("labelBaudrate", "QLabel", "text", "Baudrate");
        row("comboBoxBaudrate", "QComboBox", "toolTip", "Select working baudrate");
        row("pushButtonRefreshPorts", "QPushButton", "text", "Refresh");
        row("pushButtonRefreshPorts", "QPushButton", "toolTip", "Refresh list of known ports");
        row("groupBoxStartOptions", "QGroupBox", "title", "Start options");
        row("radioButtonRunningFW", "QRadioButton", "text", "Running firmware");
        row("radioButtonRunningFW", "QRadioButton", "toolTip", sHtml.arg("running firmware"));
        row("radioButtonPoweredOffDevice", "QRadioButton", "text", "Powered off device");
        row("radioButtonPoweredOffDevice", "QRadioButton", "toolTip", sHtml.arg("powered off device"));
        row("radioButtonRunningMonitor", "QRadioButton", "text", "Running boot monitor");
        row("radioButtonRunningMonitor", "QRadioButton", "toolTip",
            sHtml.arg("running boot monitor (LEDs error, ready, overload are blinking synchronously)"));
        row("groupBoxInfo", "QGroupBox", "title", "Info");
        row("labelInfoFlash1", "QLabel", "text", "");
        row("groupBoxProgress", "QGroupBox", "title", "Progress information");
        // The two progress labels come up empty; their form texts return on retranslation.
        row("labelProgressStep", "QLabel", "text", "");
        row("labelProgressFile", "QLabel", "text", "");
        row("pushButtonStart", "QPushButton", "text", "Start");
        row("pushButtonCancel", "QPushButton", "text", "Cancel");
        for (const char *sButton : {"toolButtonPgmAddFile", "toolButtonPgmAddEntry", "toolButtonPgmRemoveEntry",
                                    "toolButtonPgmClearEntries", "toolButtonDE", "toolButtonEN"})
            row(sButton, "QToolButton", "iconSize", "22x22");
    }

    void widgets()
    {
        QFETCH(QString, className);
        QFETCH(QString, property);
        QFETCH(QString, value);
        const QString name = QString::fromLatin1(QTest::currentDataTag()).section(QLatin1Char('.'), 0, 0);
        QWidget *widget = name == window->objectName() ? window.get() : child<QWidget>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        const QVariant v = widget->property(property.toLatin1().constData());
        QVERIFY(v.isValid());
        if (v.typeId() == QMetaType::QSize)
            QCOMPARE(QStringLiteral("%1x%2").arg(v.toSize().width()).arg(v.toSize().height()), value);
        else
            QCOMPARE(v.toString(), value);
    }

    void pagesHeadersAndState()
    {
        auto *tabs = child<QTabWidget>(QStringLiteral("tabWidgetFunction"));
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("tabProgram"));
        QCOMPARE(tabs->tabText(0), QStringLiteral("Program"));
        auto *stack = child<QStackedWidget>(QStringLiteral("stackedWidgetInfo"));
        QCOMPARE(stack->count(), 1);
        QCOMPARE(stack->widget(0)->objectName(), QStringLiteral("page"));

        auto *table = child<QTableWidget>(QStringLiteral("tableWidgetPgmImages"));
        QStringList headers, actions;
        for (int i = 0; i < table->columnCount(); ++i)
            headers << table->horizontalHeaderItem(i)->text();
        QCOMPARE(headers, (QStringList{"Memory", "Operation", "Image", "Offset", "Length"}));
        QCOMPARE(table->contextMenuPolicy(), Qt::ActionsContextMenu);
        for (QAction *action : table->actions())
            actions << action->objectName();
        QCOMPARE(actions, (QStringList{"actionPgmAddFile", "actionPgmAddEntry", "actionPgmRemoveEntry",
                                       "actionPgmClearEntries"}));

        QVERIFY(!child<QRadioButton>(QStringLiteral("radioButtonRunningFW"))->isEnabled());
        QVERIFY(child<QRadioButton>(QStringLiteral("radioButtonPoweredOffDevice"))->isChecked());
        QVERIFY(child<QPushButton>(QStringLiteral("pushButtonStart"))->isEnabled());
        QVERIFY(!child<QPushButton>(QStringLiteral("pushButtonCancel"))->isEnabled());
        QCOMPARE(child<QProgressBar>(QStringLiteral("progressBarProgress"))->value(), 0);
        QVERIFY(!child<QProgressBar>(QStringLiteral("progressBarTotal"))->isEnabled());
    }

    // Actions: icon, text, tool tip; each tool button shows its action.
    void actions_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("actionPgmAddFile") << "toolButtonPgmAddFile"
                                          << "memory-rom"
                                          << "Add programming file"
                                          << "Add existing HW/SW flash file to the programming list";
        QTest::newRow("actionPgmAddEntry") << "toolButtonPgmAddEntry"
                                           << "list-add-3"
                                           << "Add new entry"
                                           << "Add a new empty entry to the programming list";
        QTest::newRow("actionPgmRemoveEntry") << "toolButtonPgmRemoveEntry"
                                              << "list-remove-3"
                                              << "Remove selected entry"
                                              << "Remove selected entry line from the programming action list";
        QTest::newRow("actionPgmClearEntries") << "toolButtonPgmClearEntries"
                                               << "edit-clear-list"
                                               << "Clear programming list"
                                               << "Remove all entries from the programming list";
        QTest::newRow("actionDE") << "toolButtonDE"
                                  << "flag-de"
                                  << "DE"
                                  << "Change language to german";
        QTest::newRow("actionEN") << "toolButtonEN"
                                  << "flag-gb"
                                  << "EN"
                                  << "Change language to english";
    }

    void actions()
    {
        QFETCH(QString, button);
        QFETCH(QString, icon);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        auto *action = child<QAction>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(action);
        QCOMPARE(action->parent(), window.get());
        QCOMPARE(action->text(), text);
        QCOMPARE(action->toolTip(), toolTip);
        const QImage expected = QImage(QStringLiteral(":/icons/22x22/%1.png").arg(icon))
                                    .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QVERIFY2(!expected.isNull(), qPrintable(icon));
        QCOMPARE(iconImage(action->icon()), expected);

        auto *toolButton = child<QToolButton>(button);
        QCOMPARE(toolButton->defaultAction(), action);
        QCOMPARE(toolButton->toolTip(), toolTip);
        QCOMPARE(iconImage(toolButton->icon()), expected);
    }

    // Every compiled-in icon is a PNG with alpha of its folder's size.
    void iconResources()
    {
        int nFound = 0;
        QDirIterator it(QStringLiteral(":/icons"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QImage image(path, "PNG");
            const int nSize = path.contains(QStringLiteral("/22x22/")) ? 22 : 16;
            QVERIFY2(!image.isNull() && image.hasAlphaChannel() && image.size() == QSize(nSize, nSize),
                     qPrintable(path));
            ++nFound;
        }
        QCOMPARE(nFound, 13);
    }
};

QTEST_MAIN(TestUiLayout)
#include "tst_ui_layout.moc"
