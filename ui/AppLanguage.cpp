#include "AppLanguage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <algorithm>
#include <cstdio>

QTranslator &appTranslator()
{
    static QTranslator translator;
    return translator;
}

QTranslator &qtTranslator()
{
    static QTranslator translator;
    return translator;
}

QString startupLanguage(const QStringList &args, const QString &sSystemLocale)
{
    static const QString sLongOption = QStringLiteral("--language=");
    for (int i = 1; i < args.size(); ++i) {
        const QString &sArg = args.at(i);
        if (sArg == QLatin1String("-l"))
            return i + 1 < args.size() ? args.at(i + 1) : sSystemLocale;
        if (sArg.startsWith(sLongOption))
            return sArg.mid(sLongOption.size());
    }
    return sSystemLocale;
}

namespace {

// Where the program's translations are looked for, in this order: the
// directory that holds the executable (a build tree, a copied program), then
// the installed data folder, found relative to the executable so that an
// installation under another root (DESTDIR, dpkg --root) finds its own files.
QStringList translationDirectories(const QString &sExecutableDir)
{
    QStringList directories{sExecutableDir};
#ifdef SERVOPROG_INSTALLED_TRANSLATIONS
    // Set by the build: the installed translation folder relative to the
    // installed programs, e.g. "../share/servoprog/translations".
    directories << QDir::cleanPath(QDir(sExecutableDir).filePath(QStringLiteral(SERVOPROG_INSTALLED_TRANSLATIONS)));
#endif
    return directories;
}

// Loads sName into translator from the first of directories that has it,
// each with the toolkit's standard search (".qm" suffix, then cutting the
// name at its last "_" or "." step by step), and installs it; the translator
// is out of the application otherwise. With SERVOPROG_TRACE_TRANSLATION set
// in the environment the outcome is written to standard error, so tests and
// users can see which file won.
bool loadAndInstall(QTranslator &translator, const QString &sName, const QStringList &directories)
{
    QCoreApplication::removeTranslator(&translator);
    const bool bLoaded = std::any_of(directories.begin(), directories.end(),
                                     [&](const QString &sDirectory) { return translator.load(sName, sDirectory); });
    if (bLoaded)
        QCoreApplication::installTranslator(&translator);
    if (qEnvironmentVariableIsSet("SERVOPROG_TRACE_TRANSLATION")) {
        const QString sLine =
            QStringLiteral("translation %1: %2\n").arg(sName, bLoaded ? translator.filePath() : QStringLiteral("none"));
        std::fputs(sLine.toLocal8Bit().constData(), stderr);
    }
    return bLoaded;
}

} // namespace

bool installLanguage(const QString &sLanguage)
{
    // "servoprog_de_DE": the executable's name up to its first dot, "_", the language.
    const QString sName = QFileInfo(QCoreApplication::applicationFilePath()).baseName() + QLatin1Char('_') + sLanguage;
    const bool bLoaded =
        loadAndInstall(appTranslator(), sName, translationDirectories(QCoreApplication::applicationDirPath()));
    if (bLoaded)
        loadAndInstall(qtTranslator(), QStringLiteral("qtbase_") + sLanguage,
                       {QLibraryInfo::path(QLibraryInfo::TranslationsPath)});
    else
        QCoreApplication::removeTranslator(&qtTranslator());
    return bLoaded;
}
