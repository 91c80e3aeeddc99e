#include "SimOptions.h"

#include "LinkFrame.h"
#include "ServoprogPaths.h"

#include <QCommandLineParser>

namespace {

// Sizes accept decimal, 0x-hexadecimal and a K or M suffix (1024-based).
bool parseSize(QString sText, quint32 &nValue)
{
    const QChar cSuffix = sText.isEmpty() ? QChar() : sText.back().toUpper();
    const int nShift = cSuffix == QLatin1Char('K') ? 10 : cSuffix == QLatin1Char('M') ? 20 : 0;
    if (nShift != 0)
        sText.chop(1);
    bool bOk = false;
    const quint64 n = sText.toULongLong(&bOk, 0) << nShift;
    if (!bOk || n == 0 || n > 0x40000000u)
        return false;
    nValue = quint32(n);
    return true;
}

// The fault kinds: how --fault spells each, from which request on it may
// come (silent and stream: also before the first), the value it takes
// (nMax 0: none) and its line in the help.
struct FaultKind
{
    SimFault::Kind nKind;
    const char *sSynopsis; // the kind's name up to the first ':'
    int nFirst;
    int nDefault;
    int nMin;
    int nMax;
    const char *sHelp;
};

constexpr FaultKind kFaultKinds[] = {
    {SimFault::Drop, "drop:N", 1, 0, 0, 0, "request N is lost on the line: not carried out, no answer"},
    {SimFault::Corrupt, "corrupt:N", 1, 0, 0, 0, "request N is carried out, its answer has a wrong checksum"},
    {SimFault::Busy, "busy:N[:S]", 1, 203, 1, 255, "request N is refused with status S (default 203)"},
    {SimFault::Verify, "verify:N", 1, 0, 0, 0, "the N-th verify command (flash or EEPROM) reports a difference"},
    {SimFault::Silent, "silent:N", 0, 0, 0, 0, "requests after the N-th get no answer (0: none at all)"},
    {SimFault::Life, "life:N[:C]", 1, 16, 1, 100000, "C LIFE_TRIGGER characters '*' (default 16) before answer N"},
    {SimFault::Stream, "stream:N[:B]", 0, LinkFrame::kLifeTrigger, 0, 255,
     "after answer N (0: from the start) the line carries byte B\n"
     "(default 0x2A, '*') at the line rate without end; no more answers"},
};

bool parseFault(const QString &sText, SimFault &fault)
{
    const QStringList parts = sText.split(QLatin1Char(':'));
    for (const FaultKind &k : kFaultKinds) {
        if (parts[0] != QString::fromLatin1(k.sSynopsis).section(QLatin1Char(':'), 0, 0))
            continue;
        if (parts.size() < 2 || parts.size() > (k.nMax > 0 ? 3 : 2))
            return false;
        bool bOk = false;
        fault = {k.nKind, parts[1].toInt(&bOk), k.nDefault};
        if (!bOk || fault.nWhen < k.nFirst)
            return false;
        if (parts.size() == 3) {
            fault.nValue = parts[2].toInt(&bOk, 0);
            bOk = bOk && fault.nValue >= k.nMin && fault.nValue <= k.nMax;
        }
        return bOk;
    }
    return false;
}

// Every option with its help and its default.
QList<QCommandLineOption> optionList()
{
    auto option = [](const char *sNames, const char *sValue, const QString &sHelp, const char *sDefault = "") {
        return QCommandLineOption(QString::fromLatin1(sNames).split(QLatin1Char(',')), sHelp,
                                  QString::fromLatin1(sValue), QString::fromLatin1(sDefault));
    };
    return {
        option("baud", "RATE", "power-on line rate", "9600"),
        option("powered-off", "", "silent until the wake pattern FE ED C0 DE arrives"),
        option("wake-delay", "MS", "with --powered-off: deaf to the pattern for the first\nMS ms after start", "0"),
        option("throttle", "", "every byte takes its wire time (10 bits) at the line rate"),
        option("erase-ms,erase-time", "MS",
               "a sector erase takes MS ms before it is answered; a real\n"
               "serial configuration flash: about 1000 to 3000 ms per\n"
               "64 KiB sector",
               "0"),
        option("page-us", "US",
               "programming takes US microseconds per page; a real flash:\n"
               "about 700 to 1400 us per 256-byte page",
               "0"),
        option("flash0", "FILE", "raw image of flash device 0, loaded at start, written at exit"),
        option("flash1", "FILE", "the same for flash device 1"),
        option("eeprom,eeprom0", "FILE", "the same for EEPROM device 0"),
        option("eeprom1", "FILE", "the same for EEPROM device 1"),
        option("flash-size", "SIZE", "size of each flash device", "8M"),
        option("sector-size", "SIZE", "flash erase sector", "64K"),
        option("page-size", "SIZE", "flash page", "256"),
        option("regions", "N", "region count answered to the device query", "1"),
        option("eeprom-size", "SIZE", "size of each EEPROM device", "32K"),
        option("log", "FILE", "one line per request, in the format described in\n" + installedDoc("simulator.md")),
        option("fault", "KIND:N[:V]", "inject a fault, repeatable; KIND:N[:V] is one of these:"),
        option("exit-on-stdin-eof", "", "stop when standard input closes (parent went away)"),
        option("h,help", "", "show this help and exit"),
        option("version", "", "show the version and exit"),
    };
}

// The parser's refusal in the simulator's own form: lower case, no full
// stop, an unknown option with its dashes.
QString parserError(const QCommandLineParser &parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("unknown option '%1%2'")
            .arg(QLatin1String(unknown.first().size() == 1 ? "-" : "--"), unknown.first());
    QString sText = parser.errorText();
    if (sText.endsWith(QLatin1Char('.')))
        sText.chop(1);
    return sText.left(1).toLower() + sText.mid(1);
}

} // namespace

QString simUsage()
{
    // Descriptions start in column 25; a longer synopsis stands on a line of its own.
    const QString sIndent(24, QLatin1Char(' '));
    auto line = [&](const QString &sSynopsis, QString sHelp) {
        const QString s = QStringLiteral("  ") + sSynopsis;
        return (s.size() < sIndent.size() ? s.leftJustified(sIndent.size()) : s + QLatin1Char('\n') + sIndent)
               + sHelp.replace(QLatin1Char('\n'), QLatin1Char('\n') + sIndent) + QLatin1Char('\n');
    };
    QString sText = QStringLiteral("Usage: servoprog-sim [options]\n"
                                   "Simulated drive boot monitor on a pseudo-terminal. The first line of\n"
                                   "standard output is the terminal to open as serial port.\n"
                                   "\n");
    for (const QCommandLineOption &option : optionList()) {
        QStringList names;
        for (const QString &sName : option.names())
            names << QLatin1String(sName.size() == 1 ? "-" : "--") + sName;
        QString sHelp = option.description();
        if (!option.defaultValues().isEmpty())
            sHelp += QStringLiteral(" (default %1)").arg(option.defaultValues().first());
        const QString sValue = option.valueName().isEmpty() ? QString() : QLatin1Char(' ') + option.valueName();
        sText += line(names.join(QLatin1String(", ")) + sValue, sHelp);
        if (option.names().first() == QLatin1String("fault")) {
            for (const FaultKind &k : kFaultKinds)
                sText += line(QLatin1String("--fault ") + QLatin1String(k.sSynopsis), QString::fromLatin1(k.sHelp));
        }
    }
    return sText + QStringLiteral("\nSIZE takes decimal, 0x-hexadecimal and a K or M suffix.\n");
}

bool parseSimOptions(const QStringList &arguments, SimOptions &options, QString &sError)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(optionList());
    if (!parser.parse(arguments)) {
        sError = parserError(parser);
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        sError = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return false;
    }
    auto value = [&](const char *sName) { return parser.value(QLatin1String(sName)); };
    auto isSet = [&](const char *sName) { return parser.isSet(QLatin1String(sName)); };
    options.bHelp = isSet("help");
    options.bVersion = isSet("version");
    if (options.bHelp || options.bVersion)
        return true;

    bool bOk = false;
    options.nBaudRate = value("baud").toUInt(&bOk);
    if (!bOk || !BootMonitor::isSupportedRate(options.nBaudRate)) {
        sError = QStringLiteral("--baud: %1 is not one of 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600")
                     .arg(value("baud"));
        return false;
    }
    auto size = [&](const char *sName, quint32 &nOut) {
        if (parseSize(value(sName), nOut))
            return true;
        sError = QStringLiteral("--%1: '%2' is not a usable size").arg(QLatin1String(sName), value(sName));
        return false;
    };
    // At most an hour (a page: a second), so that no sum overflows.
    auto time = [&](const char *sName, int nMax, const char *sUnit, int &nOut) {
        bool bNumber = false;
        nOut = value(sName).toInt(&bNumber);
        if (bNumber && nOut >= 0 && nOut <= nMax)
            return true;
        sError = QStringLiteral("--%1: '%2' is not a usable time in %3")
                     .arg(QLatin1String(sName), value(sName), QLatin1String(sUnit));
        return false;
    };
    SimGeometry &g = options.geometry;
    if (!size("flash-size", g.nFlashSize) || !size("sector-size", g.nSectorSize) || !size("page-size", g.nPageSize)
        || !size("regions", g.nRegionCount) || !size("eeprom-size", g.nEepromSize)
        || !time("wake-delay", 3600000, "milliseconds", options.nWakeDelayMs)
        || !time("erase-ms", 3600000, "milliseconds", options.nEraseMs)
        || !time("page-us", 1000000, "microseconds", options.nPageUs))
        return false;
    if (g.nFlashSize % g.nSectorSize != 0 || g.nSectorSize % g.nPageSize != 0) {
        sError = QStringLiteral("the sector size must divide the flash size and the page size the sector size");
        return false;
    }
    for (const QString &sFault : parser.values(QStringLiteral("fault"))) {
        SimFault fault;
        if (!parseFault(sFault, fault)) {
            sError = QStringLiteral("--fault: cannot use '%1'").arg(sFault);
            return false;
        }
        options.faults << fault;
    }
    options.bPoweredOff = isSet("powered-off");
    options.bThrottle = isSet("throttle");
    options.bExitOnStdinEof = isSet("exit-on-stdin-eof");
    options.sFlashFile[0] = value("flash0");
    options.sFlashFile[1] = value("flash1");
    options.sEepromFile[0] = value("eeprom");
    options.sEepromFile[1] = value("eeprom1");
    options.sLogFile = value("log");
    return true;
}
