#include "PortOpenError.h"

#include "PortDiscovery.h"
#include "PortResolver.h"
#include "ServoprogPaths.h"

namespace {

// Named where the package puts them, as the user finds them on the machine.
QString udevHint()
{
    return QStringLiteral("the udev rule %1 that the package installs (replug the converter afterwards; see %2)")
        .arg(installedPath(QLatin1String(kInstalledUdevRule)), installedDoc("install.md"));
}

QString ownerText(const PortOpenError &error)
{
    QStringList parts;
    if (!error.sOwnerProgram.isEmpty())
        parts << error.sOwnerProgram;
    if (error.nOwnerPid > 0)
        parts << QStringLiteral("process %1").arg(error.nOwnerPid);
    return parts.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(parts.join(QStringLiteral(", ")));
}

} // namespace

QString portOpenAdvice(const PortOpenError &error, const QVector<PortDescription> &ports)
{
    const QString sDevice = error.sDevice.isEmpty() ? QStringLiteral("The port") : error.sDevice;
    switch (error.nCause) {
    case PortOpenError::Cause::None: return QString();
    case PortOpenError::Cause::PermissionDenied:
        // Joining root's group is no advice to give.
        if (!error.sGroup.isEmpty() && error.sGroup != QLatin1String("root"))
            return QStringLiteral("%1: permission denied. Join the group %2 that owns it "
                                  "(sudo usermod -aG %2 $USER, then log out and in again) or use %3.")
                .arg(sDevice, error.sGroup, udevHint());
        return QStringLiteral("%1: permission denied. Use %2, or run as a user who may open the device.")
            .arg(sDevice, udevHint());
    case PortOpenError::Cause::NoSuchDevice: {
        const QStringList found = describeWithIdentities(ports);
        if (found.isEmpty())
            return QStringLiteral("%1: no such device, and no serial port was found; is the converter plugged in?")
                .arg(sDevice);
        return QStringLiteral("%1: no such device. Ports found: %2.").arg(sDevice, found.join(QStringLiteral(", ")));
    }
    case PortOpenError::Cause::InUse:
        return QStringLiteral("%1 is in use by another program%2; close it or choose another port.")
            .arg(sDevice, ownerText(error));
    case PortOpenError::Cause::NotSerialDevice: return QStringLiteral("%1 is not a serial device.").arg(sDevice);
    case PortOpenError::Cause::Other: break;
    }
    if (error.sSystemText.isEmpty())
        return QStringLiteral("%1 cannot be opened.").arg(sDevice);
    return QStringLiteral("%1: %2.").arg(sDevice, error.sSystemText);
}

QString portOpenAdvice(const PortOpenError &error)
{
    return portOpenAdvice(error, error.nCause == PortOpenError::Cause::NoSuchDevice ? describePorts()
                                                                                    : QVector<PortDescription>());
}
