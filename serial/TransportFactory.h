#ifndef TRANSPORTFACTORY_H
#define TRANSPORTFACTORY_H

#include <QString>

class TComSerial;

// Which transport serves a port, and a new one for it.

enum class TransportKind
{
    ComPort,
    Ftdi
};

// "serial" or "ftdi".
QString transportName(TransportKind nKind);

// The transport that opens sPort: FTDI for an "FTDI%1" name, the COM-port
// transport for anything else. An empty name falls back to useComApi
// (PortDiscovery.h).
TransportKind transportKindFor(const QString &sPort);

// A new, closed transport for sPort (see transportKindFor); the caller owns
// it. Call it with the port the run will open, so a device path or a serial
// port always gets the COM-port transport whether or not discovery ran.
TComSerial *createTransport(const QString &sPort = QString());

#endif // TRANSPORTFACTORY_H
