#ifndef CLITEXT_H
#define CLITEXT_H

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Output helpers. Results go to standard output, every error and warning to
// standard error, so a script can capture the one without the other.
void printOut(const QString &sText);
void printErr(const QString &sText);
// "error: <text>" on standard error; returns nStatus for "return fail(...)".
// Further lines of the text (the cause of a port error and its fix) are
// indented below the first.
int fail(int nStatus, const QString &sText);
// sText with every line after the first started by sIndent.
QString indentFollowingLines(const QString &sText, const QString &sIndent);

// A usage error: the text and a pointer to the help of the command (or of
// the tool when sCommand is null) on standard error; returns ExitUsage.
int usageFail(const char *sCommand, const QString &sText);

// "; did you mean 'NAME'?" for the name of names that sWord was most likely
// meant to be: the one name sWord begins, else the nearest within two typing
// mistakes (letters left out, added, changed); nothing when none is near.
QString didYouMean(const QString &sWord, const QStringList &names);

// Parses "0x"-prefixed hexadecimal or decimal, nothing else (no sign, no
// suffix), and checks the range [nMin, nMax]; nValue is set only with Ok.
enum class CliNumber
{
    Ok,
    NotANumber,
    TooSmall,
    TooLarge // also a number beyond what 64 bits hold
};
CliNumber parseCliNumber(const QString &sText, qint64 nMin, qint64 nMax, qint64 &nValue);

// A working baud rate as --baud takes it: one of the rates of the rate
// table (0 = the transport's default), decimal or 0x. On failure sError
// holds the usage message.
bool parseCliBaudRate(const QString &sText, quint32 &nBaud, QString &sError);

// "0x" followed by lower-case hexadecimal, the way addresses are shown
// everywhere in the tool.
QString hexText(quint64 nValue);

#endif // CLITEXT_H
