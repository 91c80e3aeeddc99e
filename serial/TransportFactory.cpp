#include "TransportFactory.h"

#include "PortDiscovery.h"
#include "TComSerialFTDI.h"
#include "TComSerialPort.h"

QString transportName(TransportKind nKind)
{
    return nKind == TransportKind::Ftdi ? QStringLiteral("ftdi") : QStringLiteral("serial");
}

TransportKind transportKindFor(const QString &sPort)
{
    if (sPort.isEmpty())
        return useComApi ? TransportKind::ComPort : TransportKind::Ftdi;
    return isFtdiPortName(sPort) ? TransportKind::Ftdi : TransportKind::ComPort;
}

TComSerial *createTransport(const QString &sPort)
{
    if (transportKindFor(sPort) == TransportKind::Ftdi)
        return new TComSerialFTDI();
    return new TComSerialPort();
}
