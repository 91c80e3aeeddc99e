#ifndef PORTOPENERROR_H
#define PORTOPENERROR_H

#include <QString>
#include <QVector>

struct PortDescription;

// Why a transport could not open its port, as far as the system tells. A
// transport fills it when open() fails (TComSerial::lastOpenError()); the
// front ends show portOpenAdvice() after the code's own message.
struct PortOpenError
{
    enum class Cause
    {
        None,             // open() did not fail, or the transport cannot tell
        PermissionDenied, // the user may not open the device
        NoSuchDevice,     // no device or converter under that name
        InUse,            // another program holds the port
        NotSerialDevice,  // the name is a file or device, but no serial line
        Other             // anything else; sSystemText says what
    };

    Cause nCause = Cause::None;
    QString sDevice;       // what was opened: "/dev/ttyUSB0", "COM3", "FTDI1"
    QString sGroup;        // permission denied: the group owning the device, if any
    QString sOwnerProgram; // in use: the program holding the port's lock, if known
    qint64 nOwnerPid = 0;  // in use: its process id; 0 when unknown
    QString sSystemText;   // the system's or driver's own words, if any
};

// The English text naming the cause and, where there is one, the fix, to be
// shown after "Error initializing serial device driver". ports is the port
// list (describePorts()) offered when the device does not exist. Empty for
// Cause::None.
QString portOpenAdvice(const PortOpenError &error, const QVector<PortDescription> &ports);
// The same, listing the ports (describePorts()) only when the text needs them.
QString portOpenAdvice(const PortOpenError &error);

#endif // PORTOPENERROR_H
