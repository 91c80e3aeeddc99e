#include "AppLanguage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTranslator>

#include <cstdio>

QTranslator &appTranslator()
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

QString translationFileName(const QString &sExecutable, const QString &sLanguage)
{
    return QFileInfo(sExecutable).baseName() + QLatin1Char('_') + sLanguage;
}

bool installAppTranslation(const QString &sName, const QString &sDirectory)
{
    QTranslator &translator = appTranslator();
    QCoreApplication::removeTranslator(&translator);
    const bool bLoaded = translator.load(sName, sDirectory);
    if (bLoaded)
        QCoreApplication::installTranslator(&translator);
    if (qEnvironmentVariableIsSet("SERVOPROG_TRACE_TRANSLATION")) {
        const QString sLine = QStringLiteral("translation %1: %2\n")
                .arg(sName, bLoaded ? translator.filePath() : QStringLiteral("none"));
        std::fputs(sLine.toLocal8Bit().constData(), stderr);
    }
    return bLoaded;
}
