// The FTDI transport's and the converter enumeration's decisions, checked
// over a scripted converter layer; plus port-name rules and the factory.
#include "PortDiscovery.h"
#include "ScriptedFtdiApi.h"
#include "TComSerialFTDI.h"
#include "TComSerialPort.h"

#include <QtTest>

#include <functional>

using FtdiCall = std::function<int(TComSerialFTDI &)>;
Q_DECLARE_METATYPE(FtdiCall)

class TestComSerialFtdi : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void portNumberRule_data();
    void portNumberRule();
    void portNameOrder();
    void baudRateTableContents();

    void enumeration_data();
    void enumeration();
    void emptyEnumerationKeepsMap();
    void failedDeviceListEmptiesMap();

    void openNameLength_data();
    void openNameLength();
    void openUnknownNumberDoesNotOpen_data();
    void openUnknownNumberDoesNotOpen();
    void openWithEmptyMapEnumeratesFirst();
    void openWithoutConverterFails();
    void openConfiguresConverter_data();
    void openConfiguresConverter();
    void openFailureLeavesClosed();
    void reopenClosesPreviousHandle();

    void closedTransportCodes_data();
    void closedTransportCodes();
    void timeoutZeroMeansOneMillisecond();
    void refusedRateKeepsOldRate();
    void readRequestSize_data();
    void readRequestSize();
    void readFailure();
    void writeAllOrNothing_data();
    void writeAllOrNothing();
    void purgeOnlyWhenBytesWait_data();
    void purgeOnlyWhenBytesWait();
    void closeTwice();
    void destructorReleasesConverter();

    void factoryChoosesByName_data();
    void factoryChoosesByName();

private:
    // An open transport over api whose converter has port number 3.
    void openOn(TComSerialFTDI &transport, ScriptedFtdiApi &api);
};

void TestComSerialFtdi::init()
{
    setFtdiPortMap({});
    useComApi = true;
}

void TestComSerialFtdi::portNumberRule_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");
    QTest::newRow("COM1") << "COM1" << 1;
    QTest::newRow("COM12") << "COM12" << 12;
    QTest::newRow("ftdi") << "FTDI7" << 7;
    QTest::newRow("tty") << "ttyUSB0" << 0;
    QTest::newRow("device path") << "/dev/pts/15" << 15;
    QTest::newRow("digits then letters") << "COM3a" << 0;
    QTest::newRow("two numbers") << "tty1x2" << 0;
    QTest::newRow("no digit") << "COM" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("leading zeros") << "COM007" << 7;
}

void TestComSerialFtdi::portNumberRule()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    QCOMPARE(portNumber(name), number);
}

void TestComSerialFtdi::portNameOrder()
{
    QStringList ports{"COM10", "COM2", "COM9"};
    sortPortNames(ports);
    QCOMPARE(ports, (QStringList{"COM2", "COM9", "COM10"}));

    QVERIFY(portNameLess("COM2", "COM10"));
    QVERIFY(!portNameLess("COM10", "COM2"));
    QVERIFY(!portNameLess("COM3", "ttyS3"));
    QVERIFY(!portNameLess("ttyS3", "COM3"));
    QVERIFY(portNameLess("noNumber", "ttyS0"));

    // Equal numbers stay in a fixed (alphabetical) order.
    QStringList mixed{"ttyUSB1", "ttyS10", "ttyACM0", "ttyS1", "ttyUSB0"};
    sortPortNames(mixed);
    QCOMPARE(mixed, (QStringList{"ttyACM0", "ttyUSB0", "ttyS1", "ttyUSB1", "ttyS10"}));
}

void TestComSerialFtdi::baudRateTableContents()
{
    const QVector<uint32_t> rates = baudRates();
    QCOMPARE(rates.size(), 9);
    QCOMPARE(rates, (QVector<uint32_t>{0, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600}));
    QCOMPARE(QVector<uint32_t>(std::begin(baudRateTable), std::end(baudRateTable)), rates);
}

// Converters are given as location:number pairs; "!" marks one that cannot be
// opened by location, "?" one whose number cannot be read.
void TestComSerialFtdi::enumeration_data()
{
    QTest::addColumn<QStringList>("converters");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QString>("map");
    QTest::addColumn<bool>("comApi");

    QTest::newRow("none") << QStringList{} << QStringList{} << "" << false;
    QTest::newRow("3 then 7") << QStringList{"17:3", "18:7"} << QStringList{"FTDI3", "FTDI7"}
                              << "3>0 7>1" << false;
    QTest::newRow("7 then 3 keeps device order") << QStringList{"17:7", "18:3"}
                                                 << QStringList{"FTDI7", "FTDI3"} << "3>1 7>0" << false;
    QTest::newRow("no location switches to serial ports")
        << QStringList{"17:3", "!0:5"} << QStringList{"FTDI3"} << "3>0" << true;
    QTest::newRow("no location, still listed when it opens")
        << QStringList{"0:5", "17:3"} << QStringList{"FTDI5", "FTDI3"} << "3>1 5>0" << true;
    QTest::newRow("kernel-bound converter left out")
        << QStringList{"17:3", "!18:4", "19:5"} << QStringList{"FTDI3", "FTDI5"} << "3>0 5>2" << false;
    QTest::newRow("unreadable number left out")
        << QStringList{"?17:3", "18:4"} << QStringList{"FTDI4"} << "4>1" << false;
    QTest::newRow("number 0 left out") << QStringList{"17:0", "18:2"} << QStringList{"FTDI2"} << "2>1" << false;
    QTest::newRow("negative number left out") << QStringList{"17:-4"} << QStringList{} << "" << false;
    QTest::newRow("same number: later wins")
        << QStringList{"17:3", "18:3"} << QStringList{"FTDI3", "FTDI3"} << "3>1" << false;
}

void TestComSerialFtdi::enumeration()
{
    QFETCH(QStringList, converters);
    QFETCH(QStringList, ports);
    QFETCH(QString, map);
    QFETCH(bool, comApi);

    ScriptedFtdiApi api;
    for (QString sConverter : converters) {
        const bool bUnopenable = sConverter.startsWith('!');
        const bool bNoNumber = sConverter.startsWith('?');
        if (bUnopenable || bNoNumber)
            sConverter.remove(0, 1);
        const uint32_t nLoc = sConverter.section(':', 0, 0).toUInt();
        api.addConverter(nLoc, sConverter.section(':', 1, 1).toInt());
        if (bUnopenable)
            api.unopenableLocations.insert(nLoc);
        if (bNoNumber)
            api.numberFailsFor.insert(nLoc);
    }

    QCOMPARE(listFtdiPorts(api), ports);
    QStringList mapText;
    const QMap<int32_t, int32_t> portMap = ftdiPortMap();
    for (auto it = portMap.constBegin(); it != portMap.constEnd(); ++it)
        mapText << QStringLiteral("%1>%2").arg(it.key()).arg(it.value());
    QCOMPARE(mapText.join(' '), map);
    QCOMPARE(bool(useComApi), comApi);
    QCOMPARE(api.nOpenHandles, 0);   // every converter opened for its number is closed again
}

void TestComSerialFtdi::emptyEnumerationKeepsMap()
{
    setFtdiPortMap({{4, 0}});
    ScriptedFtdiApi api;
    QVERIFY(listFtdiPorts(api).isEmpty());
    QCOMPARE(ftdiPortMap(), (QMap<int32_t, int32_t>{{4, 0}}));
    QVERIFY(!useComApi);

    api.addConverter(17, 3);
    api.nCreateResult = 2;   // the library fails to list
    QVERIFY(listFtdiPorts(api).isEmpty());
    QCOMPARE(ftdiPortMap(), (QMap<int32_t, int32_t>{{4, 0}}));
}

void TestComSerialFtdi::failedDeviceListEmptiesMap()
{
    setFtdiPortMap({{4, 0}});
    ScriptedFtdiApi api;
    api.addConverter(17, 3);
    api.nGetListResult = 2;
    QVERIFY(listFtdiPorts(api).isEmpty());
    QVERIFY(ftdiPortMap().isEmpty());
}

void TestComSerialFtdi::openOn(TComSerialFTDI &transport, ScriptedFtdiApi &api)
{
    setFtdiPortMap({{3, 0}});
    QCOMPARE(transport.open("FTDI3", 9600), 0);
    QVERIFY(transport.isOpen());
    api.calls.clear();
}

void TestComSerialFtdi::openNameLength_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("result");
    QTest::newRow("11 characters") << QByteArray("FTDI0000003") << 0;
    QTest::newRow("12 characters") << QByteArray("FTDI00000003") << 1;
    QTest::newRow("12 characters, COM") << QByteArray("COM000000003") << 1;
}

void TestComSerialFtdi::openNameLength()
{
    QFETCH(QByteArray, name);
    QFETCH(int, result);
    ScriptedFtdiApi api;
    setFtdiPortMap({{3, 0}});
    TComSerialFTDI transport(api);
    QCOMPARE(transport.open(name.constData(), 9600), result);
    QCOMPARE(transport.isOpen(), result == 0);
    if (result != 0)
        QVERIFY(api.calls.isEmpty());
}

void TestComSerialFtdi::openUnknownNumberDoesNotOpen_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("other number") << QByteArray("FTDI4");
    QTest::newRow("no digit") << QByteArray("FTDI");
    QTest::newRow("not a plain number") << QByteArray("FTDI3a");
    QTest::newRow("empty") << QByteArray("");
}

void TestComSerialFtdi::openUnknownNumberDoesNotOpen()
{
    QFETCH(QByteArray, name);
    ScriptedFtdiApi api;
    setFtdiPortMap({{3, 0}});
    TComSerialFTDI transport(api);
    QCOMPARE(transport.open(name.constData(), 9600), 11);
    QVERIFY(!transport.isOpen());
    QCOMPARE(api.count("open "), 0);
}

void TestComSerialFtdi::openWithEmptyMapEnumeratesFirst()
{
    ScriptedFtdiApi api;
    api.addConverter(17, 2);
    api.addConverter(18, 5);
    TComSerialFTDI transport(api);
    QCOMPARE(transport.open("FTDI5", 9600), 0);
    QVERIFY(api.calls.indexOf("createDeviceInfoList") >= 0);
    QVERIFY(api.calls.indexOf("createDeviceInfoList") < api.calls.indexOf("open 1"));
    QCOMPARE(ftdiPortMap(), (QMap<int32_t, int32_t>{{2, 0}, {5, 1}}));

    // With a map in place no second enumeration runs.
    transport.close();
    api.calls.clear();
    QCOMPARE(transport.open("FTDI2", 9600), 0);
    QCOMPARE(api.count("createDeviceInfoList"), 0);
    QCOMPARE(api.calls.first(), QStringLiteral("open 0"));
}

void TestComSerialFtdi::openWithoutConverterFails()
{
    ScriptedFtdiApi api;
    QVERIFY(listFtdiPorts(api).isEmpty());
    QVERIFY(!useComApi);
    QCOMPARE(transportKindFor(QString()), TransportKind::Ftdi);
    TComSerialFTDI transport(api);
    QCOMPARE(transport.open("FTDI1", 9600), 11);
    QVERIFY(!transport.isOpen());
    QCOMPARE(api.count("open "), 0);
}

void TestComSerialFtdi::openConfiguresConverter_data()
{
    QTest::addColumn<uint>("requested");
    QTest::addColumn<uint>("rate");
    QTest::newRow("connection rate") << 9600u << 9600u;
    QTest::newRow("keep: opening rate") << 0u << 9600u;
    QTest::newRow("other rate") << 115200u << 115200u;
}

void TestComSerialFtdi::openConfiguresConverter()
{
    QFETCH(uint, requested);
    QFETCH(uint, rate);
    ScriptedFtdiApi api;
    setFtdiPortMap({{3, 6}});
    TComSerialFTDI transport(api);
    QCOMPARE(transport.open("FTDI3", requested), 0);
    QCOMPARE(api.calls, (QStringList{"open 6", "setDataCharacteristics 8 0 0", "setFlowControl 0 0 0",
                                     "setLatencyTimer 2", QStringLiteral("setBaudRate %1").arg(rate),
                                     "setTimeouts 1 0"}));
    uint32_t nRate = 0;
    QCOMPARE(transport.getBaudRate(nRate), 0);
    QCOMPARE(nRate, uint32_t(rate));
}

void TestComSerialFtdi::openFailureLeavesClosed()
{
    ScriptedFtdiApi api;
    api.nOpenResult = 3;
    setFtdiPortMap({{3, 0}});
    TComSerialFTDI transport(api);
    QCOMPARE(transport.open("FTDI3", 9600), 11);
    QVERIFY(!transport.isOpen());
    QCOMPARE(transport.close(), 12);
}

void TestComSerialFtdi::reopenClosesPreviousHandle()
{
    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    openOn(transport, api);
    QCOMPARE(transport.open("FTDI3", 9600), 0);
    QCOMPARE(api.calls.first(), QStringLiteral("close"));
    QCOMPARE(api.nOpenHandles, 1);
}

void TestComSerialFtdi::closedTransportCodes_data()
{
    using Call = FtdiCall;
    QTest::addColumn<Call>("call");
    QTest::addColumn<int>("result");
    uint8_t buffer[4] = {1, 2, 3, 4};
    QTest::newRow("close") << Call([](TComSerialFTDI &t) { return t.close(); }) << 12;
    QTest::newRow("setTimeout") << Call([](TComSerialFTDI &t) { return t.setTimeout(100); }) << -1;
    QTest::newRow("setBaudRate") << Call([](TComSerialFTDI &t) { return t.setBaudRate(9600); }) << 12;
    QTest::newRow("getBaudRate") << Call([](TComSerialFTDI &t) {
        uint32_t n = 0;
        return t.getBaudRate(n);
    }) << 12;
    QTest::newRow("read") << Call([buffer](TComSerialFTDI &t) mutable {
        uint32_t n = 0;
        return t.read(buffer, 4, n);
    }) << 12;
    QTest::newRow("write") << Call([buffer](TComSerialFTDI &t) { return t.write(buffer, 4); }) << 12;
    QTest::newRow("purge") << Call([](TComSerialFTDI &t) { return t.purge(); }) << 12;
}

void TestComSerialFtdi::closedTransportCodes()
{
    using Call = FtdiCall;
    QFETCH(Call, call);
    QFETCH(int, result);
    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    QCOMPARE(call(transport), result);
    // Also after a close, and nothing reaches the layer.
    openOn(transport, api);
    QCOMPARE(transport.close(), 0);
    api.calls.clear();
    QCOMPARE(call(transport), result);
    QVERIFY(api.calls.isEmpty());
    QVERIFY(!transport.isOpen());
}

void TestComSerialFtdi::timeoutZeroMeansOneMillisecond()
{
    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    openOn(transport, api);
    QCOMPARE(transport.setTimeout(0), 0);
    QCOMPARE(transport.setTimeout(250), 0);
    QCOMPARE(api.calls, (QStringList{"setTimeouts 1 0", "setTimeouts 250 0"}));
}

void TestComSerialFtdi::refusedRateKeepsOldRate()
{
    ScriptedFtdiApi api;
    api.refusedRates.insert(921600);
    TComSerialFTDI transport(api);
    openOn(transport, api);
    QCOMPARE(transport.setBaudRate(230400), 0);
    QCOMPARE(transport.setBaudRate(921600), 12);
    uint32_t nRate = 0;
    QCOMPARE(transport.getBaudRate(nRate), 0);
    QCOMPARE(nRate, 230400u);
}

void TestComSerialFtdi::readRequestSize_data()
{
    QTest::addColumn<int>("waiting");
    QTest::addColumn<bool>("queueFails");
    QTest::addColumn<uint>("capacity");
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("result");
    QTest::addColumn<uint>("count");
    QTest::newRow("nothing waiting: one byte, time-out") << 0 << false << 64u << "read 1" << 101 << 0u;
    QTest::newRow("5 waiting, capacity 64") << 5 << false << 64u << "read 5" << 0 << 5u;
    QTest::newRow("100 waiting, capacity 64") << 100 << false << 64u << "read 64" << 0 << 64u;
    QTest::newRow("exactly capacity") << 64 << false << 64u << "read 64" << 0 << 64u;
    QTest::newRow("capacity 1") << 10 << false << 1u << "read 1" << 0 << 1u;
    QTest::newRow("queue unknown: one byte") << 3 << true << 64u << "read 1" << 0 << 1u;
}

void TestComSerialFtdi::readRequestSize()
{
    QFETCH(int, waiting);
    QFETCH(bool, queueFails);
    QFETCH(uint, capacity);
    QFETCH(QString, request);
    QFETCH(int, result);
    QFETCH(uint, count);

    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    openOn(transport, api);
    for (int i = 0; i < waiting; ++i)
        api.rx.append(char(i));
    api.bQueueFails = queueFails;

    QVector<uint8_t> buffer(int(capacity) + 8, 0xEE);
    uint32_t nCount = 1234;
    QCOMPARE(transport.read(buffer.data(), capacity, nCount), result);
    QCOMPARE(nCount, uint32_t(count));
    QCOMPARE(api.calls, (QStringList{"getQueueStatus", request}));
    for (uint32_t i = 0; i < nCount; ++i)
        QCOMPARE(buffer[int(i)], uint8_t(i));
    QCOMPARE(buffer[int(capacity)], uint8_t(0xEE));   // nothing beyond the capacity
}

void TestComSerialFtdi::readFailure()
{
    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    openOn(transport, api);
    api.rx = "abc";
    api.bReadFails = true;
    uint8_t buffer[8];
    uint32_t nCount = 0;
    QCOMPARE(transport.read(buffer, 8, nCount), 100);
    QCOMPARE(nCount, 0u);
}

void TestComSerialFtdi::writeAllOrNothing_data()
{
    QTest::addColumn<bool>("fails");
    QTest::addColumn<int>("shortBy");
    QTest::addColumn<int>("result");
    QTest::newRow("all written") << false << 0 << 0;
    QTest::newRow("one byte short") << false << 1 << 100;
    QTest::newRow("nothing written") << false << 16 << 100;
    QTest::newRow("failure") << true << 0 << 100;
}

void TestComSerialFtdi::writeAllOrNothing()
{
    QFETCH(bool, fails);
    QFETCH(int, shortBy);
    QFETCH(int, result);
    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    openOn(transport, api);
    api.bWriteFails = fails;
    api.nWriteShortBy = shortBy;
    const QByteArray data("0123456789abcdef");
    QCOMPARE(transport.write(reinterpret_cast<const uint8_t *>(data.constData()), 16), result);
    QCOMPARE(api.calls, QStringList{"write 16"});
}

void TestComSerialFtdi::purgeOnlyWhenBytesWait_data()
{
    QTest::addColumn<QByteArray>("waiting");
    QTest::addColumn<bool>("queueFails");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("empty queue") << QByteArray() << false << QStringList{"getQueueStatus"};
    QTest::newRow("bytes waiting") << QByteArray("xyz") << false << QStringList{"getQueueStatus", "purge 1"};
    QTest::newRow("queue unknown") << QByteArray("xyz") << true << QStringList{"getQueueStatus"};
}

void TestComSerialFtdi::purgeOnlyWhenBytesWait()
{
    QFETCH(QByteArray, waiting);
    QFETCH(bool, queueFails);
    QFETCH(QStringList, calls);
    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    openOn(transport, api);
    api.rx = waiting;
    api.bQueueFails = queueFails;
    QCOMPARE(transport.purge(), 0);
    QCOMPARE(api.calls, calls);
}

void TestComSerialFtdi::closeTwice()
{
    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    openOn(transport, api);
    QCOMPARE(transport.close(), 0);
    QVERIFY(!transport.isOpen());
    QCOMPARE(transport.close(), 12);
    QCOMPARE(api.count("close"), 1);
    QCOMPARE(api.nOpenHandles, 0);
}

void TestComSerialFtdi::destructorReleasesConverter()
{
    ScriptedFtdiApi api;
    {
        TComSerialFTDI transport(api);
        openOn(transport, api);
    }
    QCOMPARE(api.nOpenHandles, 0);
}

void TestComSerialFtdi::factoryChoosesByName_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("comApi");
    QTest::addColumn<bool>("ftdi");
    QTest::newRow("ftdi name") << "FTDI3" << true << true;
    QTest::newRow("ftdi name, lower case") << "ftdi12" << true << true;
    QTest::newRow("serial port") << "ttyUSB0" << false << false;
    QTest::newRow("COM port") << "COM3" << false << false;
    QTest::newRow("device path") << "/dev/pts/5" << false << false;
    QTest::newRow("path that looks like ftdi") << "/dev/FTDI3" << false << false;
    QTest::newRow("no name, serial ports") << "" << true << false;
    QTest::newRow("no name, converters") << "" << false << true;
}

void TestComSerialFtdi::factoryChoosesByName()
{
    QFETCH(QString, port);
    QFETCH(bool, comApi);
    QFETCH(bool, ftdi);
    useComApi = comApi;
    QCOMPARE(transportKindFor(port), ftdi ? TransportKind::Ftdi : TransportKind::ComPort);
    QScopedPointer<TComSerial> transport(createTransport(port));
    QVERIFY(transport);
    QVERIFY(!transport->isOpen());
    QCOMPARE(dynamic_cast<TComSerialFTDI *>(transport.data()) != nullptr, ftdi);
    QCOMPARE(dynamic_cast<TComSerialPort *>(transport.data()) != nullptr, !ftdi);
}

QTEST_GUILESS_MAIN(TestComSerialFtdi)
#include "tst_comserialftdi.moc"
