#include "CliText.h"

#include "PortDiscovery.h"

#include <QRegularExpression>
#include <QStringList>
#include <QVector>

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

namespace {

// The Levenshtein distance: letters inserted, deleted or replaced.
int editDistance(const QString &sA, const QString &sB)
{
    QVector<int> row(sB.size() + 1);
    for (int j = 0; j <= sB.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= sA.size(); ++i) {
        int nDiagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= sB.size(); ++j) {
            const int nAbove = row[j];
            row[j] = qMin(qMin(row[j] + 1, row[j - 1] + 1), nDiagonal + (sA[i - 1] == sB[j - 1] ? 0 : 1));
            nDiagonal = nAbove;
        }
    }
    return row[sB.size()];
}

QString nearestName(const QString &sWord, const QStringList &names)
{
    if (sWord.isEmpty())
        return QString();
    const QStringList begun = names.filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(sWord),
                                                              QRegularExpression::CaseInsensitiveOption));
    if (begun.size() == 1)
        return begun.first();
    // Two mistakes, but never more than half the word: "ab" is no "info".
    const int nLimit = qMin(2, int(sWord.size()) / 2);
    QString sNearest;
    int nBest = nLimit + 1;
    for (const QString &sName : names) {
        const int n = editDistance(sWord.toLower(), sName.toLower());
        if (n < nBest) {
            nBest = n;
            sNearest = sName;
        }
    }
    return sNearest;
}

} // namespace

QString didYouMean(const QString &sWord, const QStringList &names)
{
    const QString sName = nearestName(sWord, names);
    return sName.isEmpty() ? QString() : QStringLiteral("; did you mean '%1'?").arg(sName);
}

CliNumber parseCliNumber(const QString &sText, qint64 nMin, qint64 nMax, qint64 &nValue)
{
    // toLongLong would accept a sign and spaces; an address or a length
    // has neither.
    static const QRegularExpression number(
        QRegularExpression::anchoredPattern(QStringLiteral("0[xX]([0-9a-fA-F]+)|([0-9]+)")));
    const QRegularExpressionMatch match = number.match(sText.trimmed());
    if (!match.hasMatch())
        return CliNumber::NotANumber;
    const QString sHex = match.captured(1);
    bool bOk = false;
    const qint64 n = sHex.isEmpty() ? match.captured(2).toLongLong(&bOk, 10) : sHex.toLongLong(&bOk, 16);
    if (!bOk || n > nMax) // only digits: what does not fit is too large
        return CliNumber::TooLarge;
    if (n < nMin)
        return CliNumber::TooSmall;
    nValue = n;
    return CliNumber::Ok;
}

bool parseCliBaudRate(const QString &sText, quint32 &nBaud, QString &sError)
{
    qint64 n = 0;
    QStringList rates;
    for (uint32_t nRate : baudRates()) {
        if (parseCliNumber(sText, 0, 0xFFFFFFFFll, n) == CliNumber::Ok && quint32(n) == nRate) {
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
