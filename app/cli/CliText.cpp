#include "CliText.h"

#include "PortDiscovery.h"

#include <QStringList>

#include <cstdio>

void printOut(const QString &sText)
{
    const QByteArray a = sText.toLocal8Bit();
    std::fwrite(a.constData(), 1, size_t(a.size()), stdout);
    std::fflush(stdout);
}

void printErr(const QString &sText)
{
    const QByteArray a = sText.toLocal8Bit();
    std::fwrite(a.constData(), 1, size_t(a.size()), stderr);
    std::fflush(stderr);
}

int fail(int nStatus, const QString &sText)
{
    printErr(QStringLiteral("error: %1\n").arg(indentFollowingLines(sText, QStringLiteral("  "))));
    return nStatus;
}

QString indentFollowingLines(const QString &sText, const QString &sIndent)
{
    QString s = sText;
    return s.replace(QLatin1Char('\n'), QLatin1Char('\n') + sIndent);
}

int usageFail(const char *sCommand, const QString &sText)
{
    printErr(QStringLiteral("error: %1\n").arg(sText));
    if (sCommand)
        printErr(QStringLiteral("Run \"servoprog-cli help %1\" for its usage.\n").arg(QLatin1String(sCommand)));
    else
        printErr(QStringLiteral("Run \"servoprog-cli --help\" for the list of commands.\n"));
    return 2;
}

bool parseCliNumber(const QString &sText, qint64 nMin, qint64 nMax, qint64 &nValue)
{
    QString s = sText.trimmed();
    int nBase = 10;
    if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        s = s.mid(2);
        nBase = 16;
    }
    // toLongLong would accept a sign; an address or length never has one.
    if (s.isEmpty() || s.startsWith(QLatin1Char('+')) || s.startsWith(QLatin1Char('-')))
        return false;
    bool bOk = false;
    const qint64 n = s.toLongLong(&bOk, nBase);
    if (!bOk || n < nMin || n > nMax)
        return false;
    nValue = n;
    return true;
}

bool parseCliBaudRate(const QString &sText, quint32 &nBaud, QString &sError)
{
    qint64 n = 0;
    QStringList rates;
    for (uint32_t nRate : baudRates()) {
        if (parseCliNumber(sText, 0, 0xFFFFFFFFll, n) && quint32(n) == nRate) {
            nBaud = nRate;
            return true;
        }
        rates << QString::number(nRate);
    }
    sError = QStringLiteral("--baud: '%1' is not one of the rates %2").arg(sText, rates.join(QStringLiteral(", ")));
    return false;
}

QString hexText(quint64 nValue)
{
    return QStringLiteral("0x%1").arg(nValue, 0, 16);
}
