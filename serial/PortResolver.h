#ifndef PORTRESOLVER_H
#define PORTRESOLVER_H

#include <QString>
#include <QStringList>
#include <QVector>

struct PortDescription;

// Port texts that name a drive by its converter rather than by a device
// number the system hands out anew at every plug-in:
//
//   usb:SERIAL              the converter with that USB serial number
//   usb:VID:PID             the one converter with these ids (hexadecimal)
//   usb:VID:PID:SERIAL      both
//   /dev/serial/by-id/...   the system's stable links (by-path too)
//
// Ids and serial numbers compare case-insensitively. Every other text (a
// port name, a device path) passes through unchanged.
struct PortResolution
{
    enum class Status
    {
        Resolved,  // sPort is the port to open
        NoMatch,   // no port fits the pattern, or the link leads nowhere
        Ambiguous, // more than one port fits
        Invalid    // "usb:" followed by something that is no identity
    };

    Status nStatus = Status::Resolved;
    QString sPort;          // Resolved: the name to give the transport
    QStringList candidates; // NoMatch: every USB port; Ambiguous: those that fit;
                            // each as "name (identity)"
    QString sMessage;       // the refusal in English; empty when resolved

    bool isResolved() const { return nStatus == Status::Resolved; }
};

// Resolves sText against the port list (describePorts()).
PortResolution resolvePort(const QString &sText, const QVector<PortDescription> &ports);

// True when sText is one of the forms above that needs the port list.
bool needsPortList(const QString &sText);

// For each port of the list, in order, the text that names it for good:
// usb:VID:PID:SERIAL when the serial is known and no other port shares it,
// else usb:VID:PID when no other port has those ids, else the device path
// (the port name for a converter without one).
QStringList portIdentities(const QVector<PortDescription> &ports);

// "ttyUSB0 (usb:0403:6001:A9XYZ)", or just the name when the identity is
// the device itself; one entry per port.
QStringList describeWithIdentities(const QVector<PortDescription> &ports);

#endif // PORTRESOLVER_H
