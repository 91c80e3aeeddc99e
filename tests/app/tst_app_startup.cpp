// Which translation the window program loads, for the language options and
// the system locale, with real .qm files compiled by lrelease.
#include "AppLanguage.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

static const char *const sTitle = "Programming tool AC Servo Drive V%1";

class TestAppStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;

    // Compiles a translation whose window title names the file it came from,
    // so a test sees which file the search picked.
    static bool makeQm(const QString &sDir, const QString &sBaseName)
    {
        const QString sTs = sDir + QLatin1Char('/') + sBaseName + QStringLiteral(".ts");
        QFile ts(sTs);
        if (!ts.open(QIODevice::WriteOnly))
            return false;
        ts.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n"
                                "<TS version=\"2.1\"><context><name>MainWidget</name>\n"
                                "<message><source>%1</source><translation>from %2 V%3</translation></message>\n"
                                "</context></TS>\n")
                     .arg(QLatin1String(sTitle), sBaseName, QStringLiteral("%1"))
                     .toUtf8());
        ts.close();
        QProcess lrelease;
        lrelease.start(QStringLiteral(SERVOPROG_LRELEASE),
                       {QStringLiteral("-silent"), sTs, QStringLiteral("-qm"),
                        sDir + QLatin1Char('/') + sBaseName + QStringLiteral(".qm")});
        return lrelease.waitForFinished(60000) && lrelease.exitCode() == 0;
    }

    // Runs the window program offscreen with a screenshot and the trace of
    // the translation it loaded; returns its error output.
    static QString runProgram(const QString &sProgram, const QStringList &args, const QString &sShot,
                              const QString &sLocale)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("SERVOPROG_TRACE_TRANSLATION"), QStringLiteral("1"));
        env.insert(QStringLiteral("SERVOPROG_SCREENSHOT"), sShot);
        env.insert(QStringLiteral("LC_ALL"), sLocale);
        env.insert(QStringLiteral("LANG"), sLocale);
        env.remove(QStringLiteral("LANGUAGE"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(sProgram, args);
        if (!program.waitForFinished(120000))
            return QStringLiteral("did not finish");
        const QString sErr = QString::fromLocal8Bit(program.readAllStandardError());
        if (program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0)
            return QStringLiteral("failed: ") + sErr;
        return sErr;
    }

    // The window title as the loaded translation renders it.
    static QString translatedTitle() { return QCoreApplication::translate("MainWidget", sTitle); }

private slots:
    void initTestCase() { QVERIFY(tmp.isValid()); }

    void language_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("systemLocale");
        QTest::addColumn<QString>("language");

        const QString de = QStringLiteral("de_DE");
        QTest::newRow("system locale") << QStringList() << de << de;
        QTest::newRow("-l en on a German system") << QStringList{"-l", "en"} << de << "en";
        QTest::newRow("--language=") << QStringList{"--language=fr"} << de << "fr";
        QTest::newRow("empty --language=") << QStringList{"--language="} << de << "";
        QTest::newRow("trailing -l") << QStringList{"-S", "a.hex", "-l"} << de << de;
        QTest::newRow("-l first wins") << QStringList{"-l", "en", "--language=fr"} << de << "en";
        QTest::newRow("--language= first wins") << QStringList{"--language=fr", "-l", "en"} << de << "fr";
        QTest::newRow("-l value looking like an option") << QStringList{"-l", "-S"} << de << "-S";
        QTest::newRow("options between") << QStringList{"-P", "COM3", "-B", "mon", "-l", "it"} << de << "it";
        QTest::newRow("-l is case-sensitive") << QStringList{"-L", "en", "--Language=fr"} << de << de;
        QTest::newRow("--language without =") << QStringList{"--language", "en"} << de << de;
    }

    void language()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, systemLocale);
        QFETCH(QString, language);
        args.prepend(QStringLiteral("/usr/bin/servoprog"));
        const QStringList before = args;
        QCOMPARE(startupLanguage(args, systemLocale), language);
        QCOMPARE(args, before);
    }

    // The standard search: name.qm, name, then cut at the last "_" or "."
    // until nothing is left to cut.
    void loadedFile_data()
    {
        QTest::addColumn<QStringList>("available");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("loaded"); // empty: nothing loaded

        QTest::newRow("exact locale file") << QStringList{"servoprog_de_DE", "servoprog_de"} << "de_DE"
                                           << "servoprog_de_DE";
        QTest::newRow("language file serves the locale") << QStringList{"servoprog_de"} << "de_DE"
                                                         << "servoprog_de";
        QTest::newRow("english asked, only german there") << QStringList{"servoprog_de"} << "en"
                                                          << "";
        QTest::newRow("english asked and there") << QStringList{"servoprog_de", "servoprog_en"} << "en"
                                                 << "servoprog_en";
        QTest::newRow("empty language falls back to the base name") << QStringList{"servoprog"} << ""
                                                                    << "servoprog";
        QTest::newRow("other program's file is not taken") << QStringList{"servoprog-cli_de"} << "de"
                                                           << "";
    }

    void loadedFile()
    {
        QFETCH(QStringList, available);
        QFETCH(QString, language);
        QFETCH(QString, loaded);

        QTemporaryDir dir(tmp.path() + QStringLiteral("/case-XXXXXX"));
        QVERIFY(dir.isValid());
        for (const QString &sBase : available + QStringList{"earlier"})
            QVERIFY2(makeQm(dir.path(), sBase), qPrintable(sBase));
        // A load that fails must not leave an earlier translation installed.
        QVERIFY(installAppTranslation(QStringLiteral("earlier"), {dir.path()}));

        const bool bLoaded =
            installAppTranslation(translationFileName(QStringLiteral("/somewhere/servoprog"), language), {dir.path()});
        QCOMPARE(bLoaded, !loaded.isEmpty());
        if (bLoaded) {
            QCOMPARE(appTranslator().filePath(), dir.path() + QLatin1Char('/') + loaded + QStringLiteral(".qm"));
            QCOMPARE(translatedTitle(), QStringLiteral("from %1 V%2").arg(loaded, QStringLiteral("%1")));
        } else {
            QCOMPARE(translatedTitle(), QLatin1String(sTitle));
        }
    }

    // The real program, stored under another name, beside translation files
    // for both names: it must take the one of its own name.
    void realProgram_data()
    {
        QTest::addColumn<QString>("programName");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("localeEnv");
        QTest::addColumn<QString>("expectedQm"); // empty: none
        QTest::addColumn<QString>("expectedTitle");

        const QString english = QStringLiteral("Programming tool AC Servo Drive V0.0.6 beta02");
        QTest::newRow("renamed, -l de") << "drive-flasher" << QStringList{"-l", "de"} << "C"
                                        << "drive-flasher_de"
                                        << "from drive-flasher_de V0.0.6 beta02";
        QTest::newRow("renamed, German locale") << "drive-flasher" << QStringList() << "de_DE.UTF-8"
                                                << "drive-flasher_de"
                                                << "from drive-flasher_de V0.0.6 beta02";
        QTest::newRow("renamed, --language=en") << "drive-flasher" << QStringList{"--language=en"} << "de_DE.UTF-8"
                                                << "" << english;
        QTest::newRow("suffix after a dot, -l de") << "drive-flasher.bin" << QStringList{"-l", "de"} << "C"
                                                   << "drive-flasher_de"
                                                   << "from drive-flasher_de V0.0.6 beta02";
    }

    void realProgram()
    {
        QFETCH(QString, programName);
        QFETCH(QStringList, args);
        QFETCH(QString, localeEnv);
        QFETCH(QString, expectedQm);
        QFETCH(QString, expectedTitle);

        QTemporaryDir dir(tmp.path() + QStringLiteral("/prog-XXXXXX"));
        QVERIFY(dir.isValid());
        const QString sProgram = dir.path() + QLatin1Char('/') + programName;
        QVERIFY(QFile::copy(QStringLiteral(SERVOPROG_PROGRAM), sProgram));
        QVERIFY(QFile::setPermissions(sProgram, QFile::permissions(sProgram) | QFileDevice::ExeOwner));
        for (const char *sBase : {"servoprog_de", "drive-flasher_de"})
            QVERIFY(makeQm(dir.path(), QLatin1String(sBase)));

        const QString sErr = runProgram(sProgram, args, dir.path() + QStringLiteral("/shot.png"), localeEnv);
        QVERIFY2(!sErr.startsWith(QLatin1String("failed")) && !sErr.startsWith(QLatin1String("did not")),
                 qPrintable(sErr));
        if (expectedQm.isEmpty())
            QVERIFY2(sErr.contains(QStringLiteral(": none\n")), qPrintable(sErr));
        else
            QVERIFY2(sErr.contains(QStringLiteral(": %1/%2.qm\n").arg(dir.path(), expectedQm)), qPrintable(sErr));
        QVERIFY2(sErr.contains(QStringLiteral("window \"%1\" saved").arg(expectedTitle)), qPrintable(sErr));
        QVERIFY(QFile::exists(dir.path() + QStringLiteral("/shot.png")));
    }

    // The program as built, with the German file compiled beside it. The
    // language options are passed over by the command line: no box; an
    // unknown option does open its box.
    void shippedGermanTranslation()
    {
        const QString sProgram = QStringLiteral(SERVOPROG_PROGRAM);
        const QString sShot = tmp.filePath(QStringLiteral("shipped.png"));
        QString sErr = runProgram(
            sProgram, {QStringLiteral("-l"), QStringLiteral("de"), QStringLiteral("--language=fr")}, sShot, "C");
        QVERIFY2(!sErr.startsWith(QLatin1String("failed")), qPrintable(sErr));
        QVERIFY2(sErr.contains(QStringLiteral("window \"Programmierwerkzeug AC-Servoantrieb V0.0.6 beta02\" saved")),
                 qPrintable(sErr));
        QVERIFY2(!sErr.contains(QStringLiteral("dialog \"")), qPrintable(sErr));
        sErr = runProgram(sProgram, {QStringLiteral("--bogus")}, sShot, "C");
        QVERIFY2(sErr.contains(QStringLiteral("dialog \"Error\" is open")), qPrintable(sErr));
    }
};

QTEST_GUILESS_MAIN(TestAppStartup)
#include "tst_app_startup.moc"
