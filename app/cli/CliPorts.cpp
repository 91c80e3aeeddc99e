// ports and probe: what the machine offers, and whether a drive's boot
// monitor answers on one of the ports.

#include "CliPorts.h"

#include "CliCommand.h"
#include "CliText.h"
#include "PortDiscovery.h"
#include "PortResolver.h"
#include "TBootMonitorLink.h"

#include <QStringList>

namespace {

QString orUnknown(const QString &sText)
{
    return sText.isEmpty() ? QStringLiteral("-") : sText;
}

} // namespace

int resolveCliPorts(const char *sCommand, const QStringList &given, QStringList &resolved)
{
    resolved.clear();
    QVector<PortDescription> ports;
    bool bListed = false;
    for (const QString &sText : given) {
        // Read once, for the first text that needs it; the others pass through.
        if (!bListed && needsPortList(sText)) {
            ports = describePorts();
            bListed = true;
        }
        const PortResolution resolution = resolvePort(sText, ports);
        const QString sRefusal = QStringLiteral("--port %1").arg(resolution.sMessage);
        if (resolution.nStatus == PortResolution::Status::Invalid)
            return usageFail(sCommand, sRefusal);
        if (!resolution.isResolved())
            return fail(ExitFailed, sRefusal);
        if (resolution.sPort != sText)
            printOut(QStringLiteral("port %1: %2\n").arg(sText, resolution.sPort));
        resolved << resolution.sPort;
    }
    return ExitOk;
}

int runPorts(const CliCommand &, const QCommandLineParser &)
{
    const QVector<PortDescription> ports = describePorts();
    // The name to give --port so that the drive is found again after a
    // re-plug, under whatever number the system then hands out.
    const QStringList identities = portIdentities(ports);
    QString s;
    if (ports.isEmpty())
        s = QStringLiteral("No serial ports found.\n");
    for (int i = 0; i < ports.size(); ++i) {
        const PortDescription &port = ports.at(i);
        s += port.sName;
        if (!port.sSystemLocation.isEmpty() && port.sSystemLocation != port.sName)
            s += QStringLiteral(" (%1)").arg(port.sSystemLocation);
        s += QStringLiteral("\n  description:  %1\n  manufacturer: %2\n  usb id:       %3\n  serial no.:   %4\n"
                            "  transport:    %5\n  --port:       %6\n")
                 .arg(orUnknown(port.sDescription), orUnknown(port.sManufacturer), orUnknown(port.usbId()),
                      orUnknown(port.sSerialNumber), transportName(port.nTransport), identities.at(i));
    }
    s += QStringLiteral("Pseudo-terminals and other device paths are not listed; give them to --port as they are.\n");
    printOut(s);
    return ExitOk;
}

int runProbe(const CliCommand &command, const QCommandLineParser &parser)
{
    const char *sCommand = command.sName;
    const QString sGiven = parser.value(QStringLiteral("port"));
    if (sGiven.isEmpty())
        return usageFail(sCommand, QStringLiteral("probe: --port DEV is required"));
    quint32 nBaud = 0;
    QString sError;
    if (!parseCliBaudRate(parser.value(QStringLiteral("baud")), nBaud, sError))
        return usageFail(sCommand, sError);
    QStringList resolved;
    const int nResolved = resolveCliPorts(sCommand, {sGiven}, resolved);
    if (nResolved != ExitOk)
        return nResolved;
    const QString sPort = resolved.first();

    // The same transport choice and the same connection procedure as a run:
    // open at 9600, scan the rates upward, switch to the working rate.
    TBootMonitorLink link(createTransport(sPort));
    link.setPortName(sPort);
    link.setRequestedBaudRate(nBaud);
    // The rate at which the monitor first answered its baud-rate object is
    // the rate it was running at; the link only keeps the working rate.
    uint32_t nDetected = 0;
    link.setTransactionObserver([&link, &nDetected](const TransactionRecord &record) {
        const bool bProbe = record.nService == TBootMonitorLink::ReadObjectRequest
                            && record.nIndex == MonitorObjects::kBaudRate
                            && (record.nStatus == 0 || record.nStatus == 175);
        if (bProbe && nDetected == 0 && link.transport())
            link.transport()->getBaudRate(nDetected);
    });

    printErr(QStringLiteral("Connecting to the boot monitor on %1...\n").arg(sPort));
    const int nCode = link.connectMonitor();
    if (nCode != 0)
        return fail(ExitFailed, QStringLiteral("Connect: %1").arg(link.connectFailureText(nCode)));

    const uint32_t nWorking = link.currentBaudRate();
    const uint32_t nTarget = nBaud ? nBaud : link.defaultWorkingBaudRate();
    QString s = QStringLiteral("Port:          %1\nDetected rate: %2\nWorking rate:  %3\n")
                    .arg(sPort)
                    .arg(nDetected)
                    .arg(nWorking);
    if (nWorking != nTarget)
        s += QStringLiteral("Note:          the link did not switch to %1 baud; it runs at %2\n")
                 .arg(nTarget)
                 .arg(nWorking);

    QString sIdent1, sIdent2, sIdent3;
    const int nIdent = link.readDeviceIdent(sIdent1, sIdent2, sIdent3);
    link.disconnectMonitor();
    if (nIdent != 0) {
        printOut(s);
        return fail(ExitFailed, QStringLiteral("Device identification: %1").arg(TBootMonitorLink::errorText(nIdent)));
    }
    s += QStringLiteral("Ident 1:       %1\nIdent 2:       %2\nIdent 3:       %3\n").arg(sIdent1, sIdent2, sIdent3);
    printOut(s);
    return ExitOk;
}
