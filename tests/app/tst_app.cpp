// The window program's start-up: the language it picks, the translation
// file it loads (the real program, also renamed beside a copied .qm file),
// and the shipped German translation, complete for today's sources.
#include "AppLanguage.h"
#include "TestData.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

// "context\x1fsource" -> translation ("\x1e" first when unfinished).
static QMap<QString, QString> readTs(const QString &sPath)
{
    QMap<QString, QString> messages;
    QXmlStreamReader xml(readFile(sPath));
    QString sContext, sSource;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            sContext = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            sSource = xml.readElementText();
        else if (xml.name() == QLatin1String("translation"))
            messages[sContext + '\x1f' + sSource] =
                (xml.attributes().value("type") == QLatin1String("unfinished") ? "\x1e" : "") + xml.readElementText();
    }
    return messages;
}

class TestApp : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;

private slots:
    void language_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("language"); // the system's: de_DE
        QTest::newRow("system locale") << QStringList() << "de_DE";
        QTest::newRow("-l en") << QStringList{"-l", "en"} << "en";
        QTest::newRow("empty --language=") << QStringList{"--language="} << "";
        QTest::newRow("the first wins") << QStringList{"--language=fr", "-l", "en"} << "fr";
        QTest::newRow("value looking like an option") << QStringList{"-P", "COM3", "-l", "-S"} << "-S";
        QTest::newRow("--language without =, -L, trailing -l")
            << QStringList{"--language", "en", "-L", "en", "-l"} << "de_DE";
    }

    void language()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, language);
        args.prepend("/usr/bin/servoprog");
        const QStringList before = args;
        QCOMPARE(startupLanguage(args, "de_DE"), language);
        QCOMPARE(args, before);
    }

    // The real program offscreen, as built beside the shipped German file or
    // renamed beside a copy of it under its new name: the trace names the
    // file loaded, the screenshot's trace the window's title. What it prints
    // instead of opening a window: the version, and the help where there is
    // no display.
    void realProgram_data()
    {
        QTest::addColumn<QString>("name"); // empty: as built
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("qm");  // empty: none, English
        QTest::addColumn<QString>("out"); // on standard output, no window; empty: a window, nothing printed
        auto row = [](const char *sTag, const char *sName, const QStringList &args, const char *sLocale,
                      const char *sQm, const QString &sOut = "") {
            QTest::newRow(sTag) << sName << args << sLocale << sQm << sOut;
        };
        row("renamed, -l de", "drive-flasher.bin", {"-l", "de"}, "C", "drive-flasher_de");
        row("renamed, en", "drive-flasher", {"--language=en"}, "de_DE.UTF-8", "");
        row("German locale", "", {}, "de_DE.UTF-8", "servoprog_de");
        row("--version", "", {"-B", "mon", "--version"}, "C", "", "servoprog 0.0.6 beta02\n");
        row("-l's value is no --version", "", {"-l", "--version"}, "C", "");
        row("help in its box", "", {"-h"}, "C", "");
        row("no display: help printed in German", "", {"-h", "-l", "de"}, "C", "servoprog_de",
            "\n-T TYPE, --type=TYPE\n\t\tSpeichertyp <f[lash]0 | f[lash]1> festlegen\n\nbeim Start gelesen:\n-l "
            "LANGUAGE, --language=LANGUAGE\n");
    }

    void realProgram()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, args);
        QFETCH(QString, locale);
        QFETCH(QString, qm);
        QFETCH(QString, out);
        QTemporaryDir dir(tmp.path() + "/prog-XXXXXX");
        QString sProgram = SERVOPROG_PROGRAM;
        if (!name.isEmpty()) {
            sProgram = dir.filePath(name);
            QVERIFY(QFile::copy(SERVOPROG_PROGRAM, sProgram));
            QVERIFY(QFile::copy(QFileInfo(SERVOPROG_PROGRAM).path() + "/servoprog_de.qm",
                                dir.filePath("drive-flasher_de.qm")));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SERVOPROG_TRACE_TRANSLATION", "1");
        env.insert("SERVOPROG_SCREENSHOT", dir.filePath("shot.png"));
        env.insert("LC_ALL", locale);
        env.insert("LANG", locale);
        env.remove("LANGUAGE");
        if (QTest::currentDataTag() == QLatin1String("no display: help printed in German"))
            for (const char *sName : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                env.remove(sName);
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(sProgram, args);
        QVERIFY(program.waitForFinished(120000));
        const QString sErr = program.readAllStandardError();
        const QString sOut = QString::fromLocal8Bit(program.readAllStandardOutput());
        QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0, qPrintable(sErr));
        QVERIFY2(out.isEmpty() ? sOut.isEmpty() : sOut.contains(out), qPrintable(sOut));
        const QString sQm = qm.isEmpty() ? "none" : QFileInfo(sProgram).path() + '/' + qm + ".qm";
        QVERIFY2(sErr.contains(": " + sQm + '\n') || (!out.isEmpty() && qm.isEmpty()), qPrintable(sErr));
        const QString sTitle = qm.isEmpty() ? "Programming tool AC Servo Drive" : "Programmierwerkzeug AC-Servoantrieb";
        QVERIFY2(sErr.contains("window \"" + sTitle + " V0.0.6 beta02\" saved") == out.isEmpty(), qPrintable(sErr));
        QCOMPARE(sErr.contains("dialog \"Help\" is open"), args == QStringList{"-h"});
    }

    // Every text lupdate finds in today's sources is in the shipped file,
    // translated, with the same placeholders and line structure.
    void everyTextTranslated()
    {
        const QString sFresh = tmp.filePath("fresh.ts");
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(SERVOPROG_LUPDATE, {"-silent", "-locations", "none", SERVOPROG_SOURCE_DIR "/ui",
                                          SERVOPROG_SOURCE_DIR "/worker", "-ts", sFresh});
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());
        const QMap<QString, QString> shipped = readTs(SERVOPROG_TS), fresh = readTs(sFresh);
        QVERIFY(fresh.size() > 100);
        static const QRegularExpression shape("%\\d|\n|\t|^<html>");
        auto shapeOf = [](const QString &s) {
            QStringList list;
            for (auto it = shape.globalMatch(s); it.hasNext();)
                list << it.next().captured();
            list.sort();
            return list;
        };
        for (auto it = fresh.begin(); it != fresh.end(); ++it) {
            const QString sTranslation = shipped.value(it.key(), "\x1e");
            const QString sSource = it.key().section('\x1f', 1);
            QVERIFY2(!sTranslation.startsWith('\x1e') && !sTranslation.isEmpty(), qPrintable(it.key()));
            QVERIFY2(shapeOf(sSource) == shapeOf(sTranslation), qPrintable(it.key()));
        }
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
