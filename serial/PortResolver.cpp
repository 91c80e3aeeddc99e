#include "PortResolver.h"

#include "PortDiscovery.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const QLatin1String kUsbPrefix("usb:");

QString usbIdentity(const PortDescription &port, bool bWithSerial)
{
    QString s = kUsbPrefix + port.usbId();
    if (bWithSerial)
        s += QLatin1Char(':') + port.sSerialNumber;
    return s;
}

bool sameText(const QString &sA, const QString &sB)
{
    return sA.compare(sB, Qt::CaseInsensitive) == 0;
}

// 1 to 4 hexadecimal digits.
bool parseId(const QString &sText, uint16_t &nId)
{
    static const QRegularExpression kHexId(QStringLiteral("^[0-9A-Fa-f]{1,4}$"));
    if (!kHexId.match(sText).hasMatch())
        return false;
    nId = uint16_t(sText.toUInt(nullptr, 16));
    return true;
}

struct UsbPattern
{
    bool bIds = false;
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
    QString sSerial; // empty: any

    bool matches(const PortDescription &port) const
    {
        if (!port.bHasUsbIds)
            return false;
        if (bIds && (port.nVendorId != nVendorId || port.nProductId != nProductId))
            return false;
        return sSerial.isEmpty() || sameText(port.sSerialNumber, sSerial);
    }
};

bool parseUsbPattern(const QString &sText, UsbPattern &pattern)
{
    const QStringList parts = sText.mid(kUsbPrefix.size()).split(QLatin1Char(':'));
    if (parts.size() == 1) {
        pattern.sSerial = parts.at(0);
        return !pattern.sSerial.isEmpty();
    }
    if (!parseId(parts.at(0), pattern.nVendorId) || !parseId(parts.at(1), pattern.nProductId))
        return false;
    pattern.bIds = true;
    // A serial number may itself contain colons.
    pattern.sSerial = parts.mid(2).join(QLatin1Char(':'));
    return parts.size() == 2 || !pattern.sSerial.isEmpty();
}

PortResolution refusal(PortResolution::Status nStatus, const QStringList &candidates, const QString &sMessage)
{
    return PortResolution{nStatus, QString(), candidates, sMessage};
}

PortResolution noMatch(const QString &sWhat, const QVector<PortDescription> &ports, const QStringList &described)
{
    QStringList candidates; // the USB ports of the list, described
    for (int i = 0; i < ports.size(); ++i) {
        if (ports.at(i).bHasUsbIds)
            candidates << described.at(i);
    }
    return refusal(
        PortResolution::Status::NoMatch, candidates,
        candidates.isEmpty()
            ? QStringLiteral("%1: no such port, and no USB serial port was found; is the converter plugged in?")
                  .arg(sWhat)
            : QStringLiteral("%1: no such port. USB serial ports found: %2.")
                  .arg(sWhat, candidates.join(QStringLiteral(", "))));
}

bool isDevice(const QString &sPath)
{
#ifdef Q_OS_UNIX
    struct stat info;
    return ::stat(QFile::encodeName(sPath).constData(), &info) == 0 && S_ISCHR(info.st_mode);
#else
    return QFileInfo::exists(sPath);
#endif
}

} // namespace

bool needsPortList(const QString &sText)
{
    // A bare port name is no path: a file of that name in the current
    // folder must not stand in for the port.
    return sText.startsWith(kUsbPrefix, Qt::CaseInsensitive) || sText.startsWith(QLatin1String("/dev/serial/"))
           || (sText.contains(QLatin1Char('/')) && QFileInfo(sText).isSymLink());
}

QStringList portIdentities(const QVector<PortDescription> &ports)
{
    QStringList identities;
    for (const PortDescription &port : ports) {
        int nSameIds = 0;
        int nSameSerial = 0;
        for (const PortDescription &other : ports) {
            if (!port.bHasUsbIds || other.usbId() != port.usbId())
                continue;
            ++nSameIds;
            nSameSerial += sameText(other.sSerialNumber, port.sSerialNumber) ? 1 : 0;
        }
        if (port.bHasUsbIds && !port.sSerialNumber.isEmpty() && nSameSerial == 1)
            identities << usbIdentity(port, true);
        else if (port.bHasUsbIds && nSameIds == 1)
            identities << usbIdentity(port, false);
        else
            identities << (port.sSystemLocation.isEmpty() ? port.sName : port.sSystemLocation);
    }
    return identities;
}

QStringList describeWithIdentities(const QVector<PortDescription> &ports)
{
    const QStringList identities = portIdentities(ports);
    QStringList described;
    for (int i = 0; i < ports.size(); ++i) {
        const PortDescription &port = ports.at(i);
        const QString &sIdentity = identities.at(i);
        described << (sIdentity == port.sName || sIdentity == port.sSystemLocation
                          ? port.sName
                          : QStringLiteral("%1 (%2)").arg(port.sName, sIdentity));
    }
    return described;
}

PortResolution resolvePort(const QString &sText, const QVector<PortDescription> &ports)
{
    if (!needsPortList(sText))
        return {PortResolution::Status::Resolved, sText, {}, {}};
    const QStringList described = describeWithIdentities(ports);

    if (sText.startsWith(kUsbPrefix, Qt::CaseInsensitive)) {
        UsbPattern pattern;
        if (!parseUsbPattern(sText, pattern))
            return refusal(PortResolution::Status::Invalid, {},
                           QStringLiteral("%1 is not a USB identity; use usb:SERIAL, usb:VID:PID or "
                                          "usb:VID:PID:SERIAL with hexadecimal ids.")
                               .arg(sText));
        QStringList matching;
        int nFound = -1;
        for (int i = 0; i < ports.size(); ++i) {
            if (pattern.matches(ports.at(i))) {
                matching << described.at(i);
                nFound = i;
            }
        }
        if (matching.isEmpty())
            return noMatch(sText, ports, described);
        if (matching.size() > 1)
            return refusal(PortResolution::Status::Ambiguous, matching,
                           QStringLiteral("%1 fits %2 ports: %3. Name one of them as shown.")
                               .arg(sText)
                               .arg(matching.size())
                               .arg(matching.join(QStringLiteral(", "))));
        return {PortResolution::Status::Resolved, ports.at(nFound).sName, {}, {}};
    }

    // A link (/dev/serial/by-id/..., or one of the user's own) stands for
    // the device it leads to; a converter that is not plugged in leaves
    // the system's links dangling or gone.
    const QString sTarget = QFileInfo(sText).canonicalFilePath();
    if (sTarget.isEmpty())
        return noMatch(sText, ports, described);
    for (const PortDescription &port : ports) {
        if (!port.sSystemLocation.isEmpty() && port.sSystemLocation == sTarget)
            return {PortResolution::Status::Resolved, port.sName, {}, {}};
    }
    if (!isDevice(sTarget))
        return refusal(PortResolution::Status::NoMatch, {},
                       QStringLiteral("%1 leads to %2, which is not a device.").arg(sText, sTarget));
    return {PortResolution::Status::Resolved, sTarget, {}, {}};
}
