#include "SimOptions.h"

#include "LinkFrame.h"
#include "ServoprogPaths.h"

namespace {

// Sizes accept decimal, 0x-hexadecimal and a K or M suffix (1024-based).
bool parseSize(QString sText, quint32 &nValue)
{
    quint64 nFactor = 1;
    if (sText.endsWith(QLatin1Char('K'), Qt::CaseInsensitive)) {
        nFactor = 1024;
        sText.chop(1);
    } else if (sText.endsWith(QLatin1Char('M'), Qt::CaseInsensitive)) {
        nFactor = 1024 * 1024;
        sText.chop(1);
    }
    bool bOk = false;
    const quint64 n = sText.toULongLong(&bOk, 0) * nFactor;
    if (!bOk || n == 0 || n > 0x40000000u)
        return false;
    nValue = quint32(n);
    return true;
}

bool parseFault(const QString &sText, SimFault &fault)
{
    const QStringList parts = sText.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    static const struct
    {
        const char *name;
        SimFault::Kind kind;
    } kKinds[] = {{"drop", SimFault::Drop},     {"corrupt", SimFault::Corrupt}, {"busy", SimFault::Busy},
                  {"verify", SimFault::Verify}, {"silent", SimFault::Silent},   {"life", SimFault::Life},
                  {"stream", SimFault::Stream}};
    bool bKnown = false;
    for (const auto &k : kKinds) {
        if (parts[0] == QLatin1String(k.name)) {
            fault.nKind = k.kind;
            bKnown = true;
        }
    }
    if (!bKnown)
        return false;
    bool bOk = false;
    fault.nWhen = parts[1].toInt(&bOk);
    const bool bFromStart = fault.nKind == SimFault::Silent || fault.nKind == SimFault::Stream;
    if (!bOk || fault.nWhen < (bFromStart ? 0 : 1))
        return false;
    fault.nValue = fault.nKind == SimFault::Busy     ? 203
                   : fault.nKind == SimFault::Life   ? 16
                   : fault.nKind == SimFault::Stream ? int(LinkFrame::kLifeTrigger)
                                                     : 0;
    if (parts.size() == 3) {
        if (fault.nKind != SimFault::Busy && fault.nKind != SimFault::Life && fault.nKind != SimFault::Stream)
            return false;
        fault.nValue = parts[2].toInt(&bOk, 0);
        const int nMin = fault.nKind == SimFault::Stream ? 0 : 1;
        const int nMax = fault.nKind == SimFault::Life ? 100000 : 255;
        if (!bOk || fault.nValue < nMin || fault.nValue > nMax)
            return false;
    }
    return true;
}

} // namespace

QString simUsage()
{
    return QStringLiteral("Usage: servoprog-sim [options]\n"
                          "Simulated drive boot monitor on a pseudo-terminal. The first line of\n"
                          "standard output is the terminal to open as serial port.\n"
                          "\n"
                          "  --baud RATE           power-on line rate (default 9600)\n"
                          "  --powered-off         silent until the wake pattern FE ED C0 DE arrives\n"
                          "  --wake-delay MS       with --powered-off: deaf to the pattern for MS ms after start\n"
                          "  --throttle            every byte takes its wire time (10 bits) at the line rate\n"
                          "  --erase-ms MS         a sector erase takes MS ms before it is answered (default 0;\n"
                          "                        a real serial configuration flash: about 1000 to 3000 ms per\n"
                          "                        64 KiB sector); --erase-time is a synonym\n"
                          "  --page-us US          programming takes US microseconds per page (default 0; a real\n"
                          "                        flash: about 700 to 1400 us per 256-byte page)\n"
                          "  --flash0 FILE         raw image of flash device 0, loaded at start, written at exit\n"
                          "  --flash1 FILE         the same for flash device 1\n"
                          "  --eeprom FILE         the same for EEPROM device 0 (--eeprom0 is a synonym)\n"
                          "  --eeprom1 FILE        the same for EEPROM device 1\n"
                          "  --flash-size SIZE     size of each flash device (default 8M)\n"
                          "  --sector-size SIZE    flash erase sector (default 64K)\n"
                          "  --page-size SIZE      flash page (default 256)\n"
                          "  --regions N           region count answered to the device query (default 1)\n"
                          "  --eeprom-size SIZE    size of each EEPROM device (default 32K)\n"
                          "  --log FILE            one line per request, in the format described in\n"
                          "                        %1\n"
                          "  --fault KIND:N[:V]    inject a fault, repeatable; KIND:N[:V] is one of these:\n"
                          "  --fault drop:N        request N is lost on the line: not carried out, no answer\n"
                          "  --fault corrupt:N     request N is carried out, its answer has a wrong checksum\n"
                          "  --fault busy:N[:S]    request N is refused with status S (default 203)\n"
                          "  --fault verify:N      the N-th verify command (flash or EEPROM) reports a difference\n"
                          "  --fault silent:N      requests after the N-th get no answer (0: none at all)\n"
                          "  --fault life:N[:C]    C LIFE_TRIGGER characters '*' (default 16) before answer N\n"
                          "  --fault stream:N[:B]  after answer N (0: from the start) the line carries byte B\n"
                          "                        (default 0x2A, '*') at the line rate without end; no more answers\n"
                          "  --exit-on-stdin-eof   stop when standard input closes (parent went away)\n"
                          "  -h, --help            show this help and exit\n"
                          "  --version             show the version and exit\n"
                          "\n"
                          "SIZE takes decimal, 0x-hexadecimal and a K or M suffix.\n")
        .arg(installedDoc("simulator.md"));
}

bool parseSimOptions(const QStringList &arguments, SimOptions &options, QString &sError)
{
    for (int i = 0; i < arguments.size(); ++i) {
        QString sName = arguments[i];
        QString sValue;
        bool bHasValue = false;
        const int nEq = sName.indexOf(QLatin1Char('='));
        if (sName.startsWith(QLatin1String("--")) && nEq > 0) {
            sValue = sName.mid(nEq + 1);
            sName = sName.left(nEq);
            bHasValue = true;
        }
        auto value = [&](QString &sOut) {
            if (bHasValue) {
                sOut = sValue;
                return true;
            }
            if (i + 1 >= arguments.size()) {
                sError = QStringLiteral("%1 needs a value").arg(sName);
                return false;
            }
            sOut = arguments[++i];
            return true;
        };
        auto size = [&](quint32 &nOut) {
            QString s;
            if (!value(s))
                return false;
            if (!parseSize(s, nOut)) {
                sError = QStringLiteral("%1: '%2' is not a usable size").arg(sName, s);
                return false;
            }
            return true;
        };
        QString s;
        if (sName == QLatin1String("--powered-off")) {
            options.bPoweredOff = true;
        } else if (sName == QLatin1String("--throttle")) {
            options.bThrottle = true;
        } else if (sName == QLatin1String("--exit-on-stdin-eof")) {
            options.bExitOnStdinEof = true;
        } else if (sName == QLatin1String("--baud")) {
            if (!value(s))
                return false;
            bool bOk = false;
            options.nBaudRate = s.toUInt(&bOk);
            if (!bOk || !BootMonitor::isSupportedRate(options.nBaudRate)) {
                sError =
                    QStringLiteral("--baud: %1 is not one of 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600")
                        .arg(s);
                return false;
            }
        } else if (sName == QLatin1String("--wake-delay") || sName == QLatin1String("--erase-ms")
                   || sName == QLatin1String("--erase-time") || sName == QLatin1String("--page-us")) {
            if (!value(s))
                return false;
            const bool bMicro = sName == QLatin1String("--page-us");
            bool bOk = false;
            const int n = s.toInt(&bOk);
            // At most an hour (a page: a second), so that no sum overflows.
            if (!bOk || n < 0 || n > (bMicro ? 1000000 : 3600000)) {
                sError = QStringLiteral("%1: '%2' is not a usable time in %3")
                             .arg(sName, s, bMicro ? QStringLiteral("microseconds") : QStringLiteral("milliseconds"));
                return false;
            }
            (sName == QLatin1String("--wake-delay") ? options.nWakeDelayMs
             : bMicro                               ? options.nPageUs
                                                    : options.nEraseMs) = n;
        } else if (sName == QLatin1String("--flash0")) {
            if (!value(options.sFlashFile[0]))
                return false;
        } else if (sName == QLatin1String("--flash1")) {
            if (!value(options.sFlashFile[1]))
                return false;
        } else if (sName == QLatin1String("--eeprom") || sName == QLatin1String("--eeprom0")) {
            if (!value(options.sEepromFile[0]))
                return false;
        } else if (sName == QLatin1String("--eeprom1")) {
            if (!value(options.sEepromFile[1]))
                return false;
        } else if (sName == QLatin1String("--log")) {
            if (!value(options.sLogFile))
                return false;
        } else if (sName == QLatin1String("--flash-size")) {
            if (!size(options.geometry.nFlashSize))
                return false;
        } else if (sName == QLatin1String("--sector-size")) {
            if (!size(options.geometry.nSectorSize))
                return false;
        } else if (sName == QLatin1String("--page-size")) {
            if (!size(options.geometry.nPageSize))
                return false;
        } else if (sName == QLatin1String("--eeprom-size")) {
            if (!size(options.geometry.nEepromSize))
                return false;
        } else if (sName == QLatin1String("--regions")) {
            if (!size(options.geometry.nRegionCount))
                return false;
        } else if (sName == QLatin1String("--fault")) {
            if (!value(s))
                return false;
            SimFault fault;
            if (!parseFault(s, fault)) {
                sError = QStringLiteral("--fault: cannot use '%1'").arg(s);
                return false;
            }
            options.faults << fault;
        } else {
            sError = QStringLiteral("unknown option '%1'").arg(arguments[i]);
            return false;
        }
    }
    const SimGeometry &g = options.geometry;
    if (g.nFlashSize % g.nSectorSize != 0 || g.nSectorSize % g.nPageSize != 0) {
        sError = QStringLiteral("the sector size must divide the flash size and the page size the sector size");
        return false;
    }
    return true;
}
