// The converter layer and discovery as built, on a machine with no FTDI
// converter attached: nothing found, nothing opened, no crash.
#include "PortDiscovery.h"
#include "TComSerialFTDI.h"
#include "TransportFactory.h"

#include <QtTest>

class TestFtdiLibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layerWithoutConverter();
    void transportWithoutConverter();
    void discoveryWithoutConverter();

private:
    uint32_t m_nConverters = 0;
};

void TestFtdiLibrary::initTestCase()
{
    QCOMPARE(defaultFtdiApi().createDeviceInfoList(m_nConverters), 0);
    if (m_nConverters != 0)
        QSKIP("an FTDI converter is reachable on this machine");
}

void TestFtdiLibrary::layerWithoutConverter()
{
    TFtdiApi &api = defaultFtdiApi();
    QVector<TFtdiApi::DeviceNode> nodes;
    uint32_t nDevices = 99;
    QCOMPARE(api.getDeviceInfoList(nodes, nDevices), 0);
    QCOMPARE(nDevices, 0u);
    QVERIFY(nodes.isEmpty());

    TFtdiApi::Handle pHandle = reinterpret_cast<TFtdiApi::Handle>(0x1);
    QVERIFY(api.open(0, pHandle) != 0);
    QVERIFY(!pHandle);
    QVERIFY(api.openByLocation(0x1234, pHandle) != 0);
    QVERIFY(!pHandle);

    // Calls on no handle fail instead of crashing.
    uint32_t nCount = 0;
    uint8_t buffer[4] = {};
    int32_t nNumber = 0;
    QVERIFY(api.setBaudRate(nullptr, 9600) != 0);
    QVERIFY(api.getQueueStatus(nullptr, nCount) != 0);
    QVERIFY(api.read(nullptr, buffer, 4, nCount) != 0);
    QVERIFY(api.write(nullptr, buffer, 4, nCount) != 0);
    QVERIFY(api.purge(nullptr, TFtdiApi::PurgeRx) != 0);
    QVERIFY(api.getComPortNumber(nullptr, nNumber) != 0);
    QVERIFY(api.close(nullptr) != 0);
}

void TestFtdiLibrary::transportWithoutConverter()
{
    setFtdiPortMap({});
    TComSerialFTDI transport;
    QCOMPARE(transport.open("FTDI1", 9600), 11);
    QVERIFY(!transport.isOpen());
    QCOMPARE(transport.close(), 12);

    // A map left from an earlier enumeration names a converter that is gone.
    setFtdiPortMap({{1, 0}});
    QCOMPARE(transport.open("FTDI1", 9600), 11);
    QVERIFY(!transport.isOpen());

    QScopedPointer<TComSerial> fromFactory(createTransport(QStringLiteral("FTDI2")));
    QCOMPARE(fromFactory->open("FTDI2", 9600), 11);
}

void TestFtdiLibrary::discoveryWithoutConverter()
{
    QVERIFY(listFtdiPorts().isEmpty());
    QVERIFY(!useComApi);

    // Whatever serial ports this machine has, each is listed once, served by
    // the COM-port transport, and the list is in port-number order.
    const QStringList comPorts = listComPorts();
    QStringList sorted = comPorts;
    sortPortNames(sorted);
    QCOMPARE(comPorts, sorted);
    QCOMPARE(portList(), comPorts);

    const QVector<PortDescription> ports = describePorts();
    QCOMPARE(ports.size(), comPorts.size());
    for (int i = 0; i < ports.size(); ++i) {
        QCOMPARE(ports[i].sName, comPorts[i]);
        QCOMPARE(ports[i].nTransport, TransportKind::ComPort);
        QCOMPARE(transportKindFor(ports[i].sName), TransportKind::ComPort);
        QVERIFY(!ports[i].sSystemLocation.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestFtdiLibrary)
#include "tst_ftdilibrary.moc"
