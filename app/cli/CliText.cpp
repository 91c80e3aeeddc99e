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

CliNumber parseCliNumberChecked(const QString &sText, qint64 nMin, qint64 nMax, qint64 &nValue)
{
    QString s = sText.trimmed();
    int nBase = 10;
    if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        s = s.mid(2);
        nBase = 16;
    }
    // toLongLong would accept a sign and spaces; an address or a length
    // has neither.
    if (s.isEmpty())
        return CliNumber::NotANumber;
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        const bool bDecimal = u >= u'0' && u <= u'9';
        const bool bHex = nBase == 16 && ((u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F'));
        if (!bDecimal && !bHex)
            return CliNumber::NotANumber;
    }
    bool bOk = false;
    const qint64 n = s.toLongLong(&bOk, nBase);
    if (!bOk || n > nMax) // only digits: what does not fit is too large
        return CliNumber::TooLarge;
    if (n < nMin)
        return CliNumber::TooSmall;
    nValue = n;
    return CliNumber::Ok;
}

bool parseCliNumber(const QString &sText, qint64 nMin, qint64 nMax, qint64 &nValue)
{
    return parseCliNumberChecked(sText, nMin, nMax, nValue) == CliNumber::Ok;
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
