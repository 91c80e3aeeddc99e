#include "PortDiscovery.h"

#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

const uint32_t baudRateTable[kBaudRateCount] = {0, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

std::atomic<bool> useComApi{true};

namespace {

QMutex s_mapMutex;
QMap<int32_t, int32_t> s_ftdiPortMap;

// Enumerations may run in the window's thread and, for a transport opening
// with an empty map, in a worker thread; one at a time.
QMutex s_enumerationMutex;

// Port-name order; names with equal numbers in alphabetical order.
bool portNameBefore(const QString &sA, const QString &sB)
{
    return std::make_pair(portNumber(sA), sA) < std::make_pair(portNumber(sB), sB);
}

QVector<PortDescription> describeComPorts()
{
    QVector<PortDescription> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        ports.append({info.portName(), info.systemLocation(), info.description(), info.manufacturer(),
                      info.serialNumber(), info.hasVendorIdentifier() && info.hasProductIdentifier(),
                      info.vendorIdentifier(), info.productIdentifier(), TransportKind::ComPort});
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortDescription &a, const PortDescription &b) { return portNameBefore(a.sName, b.sName); });
    return ports;
}

QStringList namesOf(const QVector<PortDescription> &ports)
{
    QStringList names;
    for (const PortDescription &port : ports)
        names.append(port.sName);
    return names;
}

QVector<PortDescription> enumerateFtdi(TFtdiApi &api)
{
    QMutexLocker lock(&s_enumerationMutex);
    QVector<PortDescription> ports;
    useComApi = false;

    uint32_t nDevices = 0;
    if (api.createDeviceInfoList(nDevices) != 0 || nDevices == 0)
        return ports; // the previous map stays
    setFtdiPortMap({});

    QVector<TFtdiApi::DeviceNode> nodes;
    if (api.getDeviceInfoList(nodes, nDevices) != 0 || nDevices == 0)
        return ports;
    if (nodes.size() > int(nDevices))
        nodes.resize(int(nDevices));

    QMap<int32_t, int32_t> map;
    for (int i = 0; i < nodes.size(); ++i) {
        const TFtdiApi::DeviceNode &node = nodes.at(i);
        if (node.nLocId == 0)
            useComApi = true;
        TFtdiApi::Handle pHandle = nullptr;
        if (api.openByLocation(node.nLocId, pHandle) != 0)
            continue;
        int32_t nNumber = 0;
        if (api.getComPortNumber(pHandle, nNumber) == 0 && nNumber > 0) {
            // A converter reached through libftdi1 has no device path.
            ports.append({QStringLiteral("FTDI%1").arg(nNumber), QString(), node.sDescription, node.sManufacturer,
                          node.sSerialNumber, node.nVendorId != 0, node.nVendorId, node.nProductId,
                          TransportKind::Ftdi});
            map.insert(nNumber, i); // a later converter with the same number wins
        }
        api.close(pHandle);
    }
    setFtdiPortMap(map);
    return ports;
}

} // namespace

QVector<uint32_t> baudRates()
{
    return QVector<uint32_t>(std::begin(baudRateTable), std::end(baudRateTable));
}

int32_t portNumber(const QString &sPort)
{
    static const QRegularExpression kDigits(QStringLiteral("[0-9]+"));
    const QRegularExpressionMatch match = kDigits.match(sPort);
    if (!match.hasMatch())
        return -1;
    bool bOk = false;
    const int nNumber = sPort.mid(match.capturedStart()).toInt(&bOk, 10);
    return bOk ? nNumber : 0;
}

void sortPortNames(QStringList &ports)
{
    std::sort(ports.begin(), ports.end(), portNameBefore);
}

bool isFtdiPortName(const QString &sPort)
{
    static const QRegularExpression kFtdiName(QStringLiteral("^FTDI[0-9]+$"),
                                              QRegularExpression::CaseInsensitiveOption);
    return kFtdiName.match(sPort).hasMatch();
}

QMap<int32_t, int32_t> ftdiPortMap()
{
    QMutexLocker lock(&s_mapMutex);
    return s_ftdiPortMap;
}

void setFtdiPortMap(const QMap<int32_t, int32_t> &map)
{
    QMutexLocker lock(&s_mapMutex);
    s_ftdiPortMap = map;
}

QStringList listComPorts()
{
    return namesOf(describeComPorts());
}

QStringList listFtdiPorts(TFtdiApi &api)
{
    return namesOf(enumerateFtdi(api));
}

QStringList portList(TFtdiApi &api)
{
    return listComPorts() + listFtdiPorts(api);
}

QString PortDescription::usbId() const
{
    if (!bHasUsbIds)
        return QString();
    return QStringLiteral("%1:%2").arg(nVendorId, 4, 16, QLatin1Char('0')).arg(nProductId, 4, 16, QLatin1Char('0'));
}

QVector<PortDescription> describePorts(TFtdiApi &api)
{
    return describeComPorts() + enumerateFtdi(api);
}
