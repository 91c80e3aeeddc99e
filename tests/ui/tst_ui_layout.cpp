// The main window's widget tree: every object is where the window's users
// (operators, scripts that name objects, translators) expect it, with its
// texts, tool tips and icons.
#include "MainWidget.h"

#include <QAction>
#include <QDirIterator>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
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

    template<class T> T *child(const QString &sName)
    {
        return window->findChild<T *>(sName);
    }

    // Names of a layout's items in order; spacers show as "-".
    static QStringList itemNames(QLayout *layout)
    {
        QStringList names;
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem *item = layout->itemAt(i);
            if (item->widget())
                names << item->widget()->objectName();
            else if (item->layout())
                names << item->layout()->objectName();
            else
                names << QStringLiteral("-");
        }
        return names;
    }

private slots:
    void init()
    {
        window.reset(new MainWidget);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup()
    {
        window.reset();
    }

    void windowItself()
    {
        QCOMPARE(window->objectName(), QStringLiteral("MainWidget"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Programming tool AC Servo Drive V0.0.6 beta02"));
        QCOMPARE(window->locale(), QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(window->layout()->objectName(), QStringLiteral("verticalLayout_5"));
    }

    // Layouts: what holds them, their spacing and margins, their items in order.
    void layouts_data()
    {
        QTest::addColumn<QString>("holder"); // widget or layout the layout sits in
        QTest::addColumn<int>("spacing");
        QTest::addColumn<QMargins>("margins"); // (-1,...) : not checked (nested layouts carry 0)
        QTest::addColumn<QStringList>("items");

        const QMargins m11(11, 11, 11, 11), m0(0, 0, 0, 0);
        QTest::newRow("verticalLayout_5") << "MainWidget" << 6 << m11
            << QStringList{ "tabWidgetFunction", "-", "horizontalLayout_10", "-", "groupBoxProgress" };
        QTest::newRow("verticalLayout_4") << "tabProgram" << 6 << m11
            << QStringList{ "horizontalLayout", "tableWidgetPgmImages" };
        QTest::newRow("horizontalLayout") << "verticalLayout_4" << 6 << m0
            << QStringList{ "toolButtonPgmAddFile", "toolButtonPgmAddEntry", "toolButtonPgmRemoveEntry",
                            "toolButtonPgmClearEntries", "-", "toolButtonDE", "toolButtonEN" };
        QTest::newRow("horizontalLayout_10") << "verticalLayout_5" << 6 << m0
            << QStringList{ "groupBoxConnection", "groupBoxStartOptions", "groupBoxInfo" };
        QTest::newRow("verticalLayout_16") << "groupBoxConnection" << 6 << m11
            << QStringList{ "verticalLayout_2", "verticalLayout_3", "pushButtonRefreshPorts" };
        QTest::newRow("verticalLayout_2") << "verticalLayout_16" << 6 << m0
            << QStringList{ "labelPort", "comboBoxPort" };
        QTest::newRow("verticalLayout_3") << "verticalLayout_16" << 6 << m0
            << QStringList{ "labelBaudrate", "comboBoxBaudrate" };
        QTest::newRow("verticalLayout") << "groupBoxStartOptions" << 6 << m11
            << QStringList{ "radioButtonRunningFW", "radioButtonPoweredOffDevice", "radioButtonRunningMonitor" };
        QTest::newRow("verticalLayout_15") << "groupBoxInfo" << 6 << QMargins(9, 6, 9, 9)
            << QStringList{ "stackedWidgetInfo" };
        QTest::newRow("horizontalLayout_2") << "page" << 6 << m0
            << QStringList{ "verticalLayout_6", "verticalLayout_7" };
        QTest::newRow("verticalLayout_6") << "horizontalLayout_2" << 2 << m0
            << QStringList{ "labelInfoFlashHeader1", "labelInfoFlash1" };
        QTest::newRow("verticalLayout_7") << "horizontalLayout_2" << 2 << m0
            << QStringList{ "labelInfoFlashHeader2", "labelInfoFlash2" };
        QTest::newRow("verticalLayout_22") << "groupBoxProgress" << 6 << m11
            << QStringList{ "horizontalLayout_11", "progressBarProgress", "progressBarTotal", "horizontalLayout_3" };
        QTest::newRow("horizontalLayout_11") << "verticalLayout_22" << 6 << m0
            << QStringList{ "labelProgressStep", "labelProgressFile" };
        QTest::newRow("horizontalLayout_3") << "verticalLayout_22" << 6 << m0
            << QStringList{ "pushButtonStart", "pushButtonCancel", "-" };
    }

    void layouts()
    {
        QFETCH(QString, holder);
        QFETCH(int, spacing);
        QFETCH(QMargins, margins);
        QFETCH(QStringList, items);
        const QString name = QString::fromLatin1(QTest::currentDataTag());

        QLayout *layout = child<QLayout>(name);
        QVERIFY(layout);
        QObject *parent = layout->parent();
        QVERIFY(parent);
        QCOMPARE(parent->objectName(), holder);
        QCOMPARE(layout->spacing(), spacing);
        QCOMPARE(layout->contentsMargins(), margins);
        QCOMPARE(itemNames(layout), items);
    }

    void infoLabelStretch()
    {
        for (const char *sName : { "verticalLayout_6", "verticalLayout_7" }) {
            auto *layout = child<QBoxLayout>(QLatin1String(sName));
            QVERIFY(layout);
            QCOMPARE(layout->stretch(0), 1);
            QCOMPARE(layout->stretch(1), 6);
        }
        for (const char *sName : { "labelInfoFlash1", "labelInfoFlash2" })
            QCOMPARE(child<QLabel>(QLatin1String(sName))->alignment(), Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    }

    // Class and static texts of every widget that shows one.
    void widgets_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("value");

        auto row = [](const char *sName, const char *sClass, const char *sProperty, const QString &sValue) {
            QTest::newRow((QByteArray(sName) + '.' + sProperty).constData())
                    << QString::fromLatin1(sClass) << QString::fromLatin1(sProperty) << sValue;
        };
        row("tabWidgetFunction", "QTabWidget", "currentIndex", "0");
        row("tabProgram", "QWidget", "objectName", "tabProgram");
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
        row("radioButtonRunningFW", "QRadioButton", "toolTip",
            "<html><head/><body><p>Start the firmware update from a running firmware</p></body></html>");
        row("radioButtonPoweredOffDevice", "QRadioButton", "text", "Powered off device");
        row("radioButtonPoweredOffDevice", "QRadioButton", "toolTip",
            "<html><head/><body><p>Start the firmware update from a powered off device</p></body></html>");
        row("radioButtonRunningMonitor", "QRadioButton", "text", "Running boot monitor");
        row("radioButtonRunningMonitor", "QRadioButton", "toolTip",
            "<html><head/><body><p>Start the firmware update from a running boot monitor (LEDs error, ready, "
            "overload are blinking synchronously)</p></body></html>");
        row("groupBoxInfo", "QGroupBox", "title", "Info");
        row("stackedWidgetInfo", "QStackedWidget", "currentIndex", "0");
        row("page", "QWidget", "objectName", "page");
        row("labelInfoFlashHeader1", "QLabel", "text", "");
        row("labelInfoFlash1", "QLabel", "text", "");
        row("labelInfoFlashHeader2", "QLabel", "text", "");
        row("labelInfoFlash2", "QLabel", "text", "");
        row("groupBoxProgress", "QGroupBox", "title", "Progress information");
        // The two progress labels come up empty; their form texts return on retranslation.
        row("labelProgressStep", "QLabel", "text", "");
        row("labelProgressFile", "QLabel", "text", "");
        row("progressBarProgress", "QProgressBar", "invertedAppearance", "false");
        row("progressBarTotal", "QProgressBar", "invertedAppearance", "false");
        row("pushButtonStart", "QPushButton", "text", "Start");
        row("pushButtonCancel", "QPushButton", "text", "Cancel");
        for (const char *sButton : { "toolButtonPgmAddFile", "toolButtonPgmAddEntry", "toolButtonPgmRemoveEntry",
                                     "toolButtonPgmClearEntries", "toolButtonDE", "toolButtonEN" })
            row(sButton, "QToolButton", "iconSize", "22x22");
    }

    void widgets()
    {
        QFETCH(QString, className);
        QFETCH(QString, property);
        QFETCH(QString, value);
        const QString name = QString::fromLatin1(QTest::currentDataTag()).section(QLatin1Char('.'), 0, 0);

        QWidget *widget = child<QWidget>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        const QVariant v = widget->property(property.toLatin1().constData());
        QVERIFY(v.isValid());
        if (v.typeId() == QMetaType::QSize)
            QCOMPARE(QStringLiteral("%1x%2").arg(v.toSize().width()).arg(v.toSize().height()), value);
        else
            QCOMPARE(v.toString(), value);
    }

    void pagesAndHeaders()
    {
        auto *tabs = child<QTabWidget>(QStringLiteral("tabWidgetFunction"));
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("tabProgram"));
        QCOMPARE(tabs->tabText(0), QStringLiteral("Program"));
        auto *stack = child<QStackedWidget>(QStringLiteral("stackedWidgetInfo"));
        QCOMPARE(stack->count(), 1);
        QCOMPARE(stack->widget(0)->objectName(), QStringLiteral("page"));

        auto *table = child<QTableWidget>(QStringLiteral("tableWidgetPgmImages"));
        QStringList headers;
        for (int i = 0; i < table->columnCount(); ++i)
            headers << table->horizontalHeaderItem(i)->text();
        QCOMPARE(headers, (QStringList{ "Memory", "Operation", "Image", "Offset", "Length" }));
    }

    // Actions: icon, text, tool tip; each tool button shows its action.
    void actions_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");

        QTest::newRow("actionPgmAddFile") << "toolButtonPgmAddFile" << ":/icons/22x22/memory-rom.png"
            << "Add programming file" << "Add existing HW/SW flash file to the programming list";
        QTest::newRow("actionPgmAddEntry") << "toolButtonPgmAddEntry" << ":/icons/22x22/list-add-3.png"
            << "Add new entry" << "Add a new empty entry to the programming list";
        QTest::newRow("actionPgmRemoveEntry") << "toolButtonPgmRemoveEntry" << ":/icons/22x22/list-remove-3.png"
            << "Remove selected entry" << "Remove selected entry line from the programming action list";
        QTest::newRow("actionPgmClearEntries") << "toolButtonPgmClearEntries" << ":/icons/22x22/edit-clear-list.png"
            << "Clear programming list" << "Remove all entries from the programming list";
        QTest::newRow("actionDE") << "toolButtonDE" << ":/icons/22x22/flag-de.png"
            << "DE" << "Change language to german";
        QTest::newRow("actionEN") << "toolButtonEN" << ":/icons/22x22/flag-gb.png"
            << "EN" << "Change language to english";
    }

    void actions()
    {
        QFETCH(QString, button);
        QFETCH(QString, icon);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        const QString name = QString::fromLatin1(QTest::currentDataTag());

        auto *action = child<QAction>(name);
        QVERIFY(action);
        QCOMPARE(action->parent(), window.get());
        QCOMPARE(action->text(), text);
        QCOMPARE(action->toolTip(), toolTip);
        const QImage expected = QImage(icon).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QVERIFY2(!expected.isNull(), qPrintable(icon));
        QCOMPARE(action->icon().pixmap(QSize(22, 22)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), expected);

        auto *toolButton = child<QToolButton>(button);
        QCOMPARE(toolButton->defaultAction(), action);
        QCOMPARE(toolButton->toolTip(), toolTip);
        QVERIFY(toolButton->text() != QStringLiteral("..."));
        QCOMPARE(toolButton->icon().pixmap(QSize(22, 22)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), expected);
    }

    void tableContextMenu()
    {
        auto *table = child<QTableWidget>(QStringLiteral("tableWidgetPgmImages"));
        QCOMPARE(table->contextMenuPolicy(), Qt::ActionsContextMenu);
        QStringList names;
        for (QAction *action : table->actions())
            names << action->objectName();
        QCOMPARE(names, (QStringList{ "actionPgmAddFile", "actionPgmAddEntry", "actionPgmRemoveEntry",
                                      "actionPgmClearEntries" }));
    }

    void initialState()
    {
        QVERIFY(!child<QRadioButton>(QStringLiteral("radioButtonRunningFW"))->isEnabled());
        QVERIFY(child<QRadioButton>(QStringLiteral("radioButtonPoweredOffDevice"))->isChecked());
        QVERIFY(!child<QPushButton>(QStringLiteral("pushButtonCancel"))->isEnabled());
        QVERIFY(child<QPushButton>(QStringLiteral("pushButtonStart"))->isEnabled());
        QVERIFY(child<QTabWidget>(QStringLiteral("tabWidgetFunction"))->isEnabled());
        auto *progress = child<QProgressBar>(QStringLiteral("progressBarProgress"));
        QCOMPARE(progress->minimum(), 0);
        QCOMPARE(progress->maximum(), 100);
        QCOMPARE(progress->value(), 0);
        QVERIFY(!child<QProgressBar>(QStringLiteral("progressBarTotal"))->isEnabled());
    }

    // All thirteen icons are compiled in, as PNGs of their folder's size.
    void iconResources()
    {
        QStringList found;
        QDirIterator it(QStringLiteral(":/icons"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            found << path;
            const QImage image(path, "PNG");
            QVERIFY2(!image.isNull(), qPrintable(path));
            const int size = path.contains(QStringLiteral("/22x22/")) ? 22 : 16;
            QCOMPARE(image.size(), QSize(size, size));
            QVERIFY2(image.hasAlphaChannel(), qPrintable(path));
        }
        found.sort();
        QStringList expected{
            ":/icons/16x16/document-new-3.png", ":/icons/16x16/document-new-6.png", ":/icons/16x16/document-open.png",
            ":/icons/16x16/edit-clear-list.png", ":/icons/16x16/list-add-3.png", ":/icons/16x16/list-remove-3.png",
            ":/icons/16x16/memory-rom.png", ":/icons/22x22/edit-clear-list.png", ":/icons/22x22/flag-de.png",
            ":/icons/22x22/flag-gb.png", ":/icons/22x22/list-add-3.png", ":/icons/22x22/list-remove-3.png",
            ":/icons/22x22/memory-rom.png" };
        QCOMPARE(found, expected);
    }
};

QTEST_MAIN(TestUiLayout)
#include "tst_ui_layout.moc"
