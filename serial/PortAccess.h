#ifndef PORTACCESS_H
#define PORTACCESS_H

#include "PortOpenError.h"

#include <QSerialPort>
#include <QString>

// How a port name maps to the device the COM-port transport opens, and why
// such a device could not be opened.
//
// QSerialPort keeps two programs off one port with a lock file named after
// the device path it is given (and TIOCEXCL, which does not stop root). Two
// names for one device, such as /dev/ttyUSB0 and a /dev/serial/by-id link,
// would take two different locks; devicePath() resolves links, so every
// name of a device takes the same lock.
namespace PortAccess {

// The device path for a port name: "ttyUSB0" is /dev/ttyUSB0, a path has
// its links resolved (unchanged when it does not exist). On Windows the
// name itself.
QString devicePath(const QString &sPort);

// Why opening sDevicePath failed, after QSerialPort reported nError with
// sErrorText. Asks the system again where that tells more (the device's
// type and group, the owner of its lock).
PortOpenError diagnose(const QString &sDevicePath, QSerialPort::SerialPortError nError, const QString &sErrorText);

} // namespace PortAccess

#endif // PORTACCESS_H
