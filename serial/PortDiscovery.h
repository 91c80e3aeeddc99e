#ifndef PORTDISCOVERY_H
#define PORTDISCOVERY_H

#include "TFtdiApi.h"
#include "TransportFactory.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <cstdint>

// ---- Baud rates ------------------------------------------------------------

// The rates offered to the operator and scanned when connecting, in this
// order. 0 stands for the transport's default working rate.
constexpr int kBaudRateCount = 9;
extern const uint32_t baudRateTable[kBaudRateCount];

// A copy of baudRateTable in table order.
QVector<uint32_t> baudRates();

// ---- Port names --------------------------------------------------------------

// The number in a port name: the text from the first decimal digit to the end
// as a base-10 integer; 0 when that text is not a plain number ("COM3a"),
// -1 when the name has no digit at all.
int32_t portNumber(const QString &sPort);
// Sorts by port number; names with equal numbers in alphabetical order.
void sortPortNames(QStringList &ports);

// Converters reached only through libftdi1 are offered as "FTDI%1". Such
// a name selects the FTDI transport; every other name (a serial port from
// the list, or a device path such as /dev/pts/5) selects the COM-port one.
bool isFtdiPortName(const QString &sPort);

// ---- Discovery state ---------------------------------------------------------

// True: runs use the COM-port transport. Consulted only by createTransport()
// (TransportFactory.h) when it is given no port name. It starts true because the COM-port
// transport opens every port the operating system serves, device paths
// included; an FTDI enumeration recomputes it (true exactly when a converter
// reports no location).
extern std::atomic<bool> useComApi;

// Port number -> converter index in the FTDI layer's device list, rebuilt by
// every FTDI enumeration that finds a converter. Written in the window's
// thread, read by an FTDI transport opening in a worker thread, hence the
// accessors.
QMap<int32_t, int32_t> ftdiPortMap();
void setFtdiPortMap(const QMap<int32_t, int32_t> &map);

// ---- Discovery ---------------------------------------------------------------

// Serial ports the operating system serves (QSerialPortInfo), sorted by port
// number. Kernel-bound USB converters (ttyUSB, ttyACM) are among them.
// Pseudo-terminals are not listed; they are opened by their device path.
QStringList listComPorts();

// Converters reached through the FTDI layer, as "FTDI%1" in device order.
// Rebuilds ftdiPortMap (an enumeration that finds nothing leaves it as it
// was) and recomputes useComApi.
QStringList listFtdiPorts(TFtdiApi &api = defaultFtdiApi());

// The list to offer the operator: listComPorts() followed by
// listFtdiPorts(). Every converter appears once: one the kernel serves as a
// serial port cannot be opened through libftdi1 and shows up as that port.
QStringList portList(TFtdiApi &api = defaultFtdiApi());

// One port as the command line's port listing shows it.
struct PortDescription
{
    QString sName;           // what the port list offers and open() accepts
    QString sSystemLocation; // device path; empty for an FTDI converter
    QString sDescription;
    QString sManufacturer;
    QString sSerialNumber;
    bool bHasUsbIds = false;
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
    TransportKind nTransport = TransportKind::ComPort;

    // "0403:6001", or empty when the port is not a USB device.
    QString usbId() const;
};

// Every port of portList(), in that order, with what is known about it.
QVector<PortDescription> describePorts(TFtdiApi &api = defaultFtdiApi());

#endif // PORTDISCOVERY_H
