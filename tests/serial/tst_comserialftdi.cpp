// The FTDI transport's and the converter enumeration's decisions, checked
// over a scripted converter layer (a streaming converter through the
// libftdi1 layer's receive queue); plus port-name rules and the factory.
#include "CommError.h"
#include "LinkTransaction.h"
#include "PortDiscovery.h"
#include "ScriptedFtdiApi.h"
#include "TComSerialFTDI.h"
#include "TComSerialPort.h"
#include "TransportFactory.h"

#include <QtTest>

#include <cstring>
#include <functional>

using Cause = PortOpenError::Cause;
using FtdiCall = std::function<int(TComSerialFTDI &)>;
Q_DECLARE_METATYPE(FtdiCall)

namespace {
// A transport opened on the converter with port number 3, call log cleared.
struct OpenFtdi
{
    ScriptedFtdiApi api;
    TComSerialFTDI transport{api};
    bool bOpen = false;
    OpenFtdi()
    {
        setFtdiPortMap({{3, 0}});
        bOpen = transport.open("FTDI3", 9600) == 0 && transport.isOpen();
        api.calls.clear();
    }
};
} // namespace

class TestComSerialFtdi : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void portNumberRule_data();
    void portNumberRule();
    void portNameOrder();

    void enumeration_data();
    void enumeration();
    void enumerationFailures();

    void openRefused_data();
    void openRefused();
    void openWithEmptyMapEnumeratesFirst();
    void openConfiguresConverter_data();
    void openConfiguresConverter();
    void handleLifetime();

    void closedTransportCodes_data();
    void closedTransportCodes();
    void timeoutAndRefusedRate();
    void readRequestSize_data();
    void readRequestSize();
    void writeAllOrNothing_data();
    void writeAllOrNothing();
    void purgeOnlyWhenBytesWait_data();
    void purgeOnlyWhenBytesWait();
    void streamingConverterCannotHoldTheLine_data();
    void streamingConverterCannotHoldTheLine();

    void factoryChoosesByName_data();
    void factoryChoosesByName();
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
    QTest::newRow("COM12") << "COM12" << 12;
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
    QVERIFY(!portNameLess("COM3", "ttyS3"));
    QVERIFY(!portNameLess("ttyS3", "COM3"));
    QVERIFY(portNameLess("noNumber", "ttyS0"));
    // By number, equal numbers in a fixed (alphabetical) order.
    QStringList mixed{"COM10", "ttyUSB1", "ttyS10", "ttyACM0", "ttyS1", "COM2", "ttyUSB0"};
    sortPortNames(mixed);
    QCOMPARE(mixed, (QStringList{"ttyACM0", "ttyUSB0", "ttyS1", "ttyUSB1", "COM2", "COM10", "ttyS10"}));
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
    QTest::newRow("7 then 3 keeps device order")
        << QStringList{"17:7", "18:3"} << QStringList{"FTDI7", "FTDI3"} << "3>1 7>0" << false;
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
        const QChar cMark = sConverter.at(0);
        if (cMark == '!' || cMark == '?')
            sConverter.remove(0, 1);
        const uint32_t nLoc = sConverter.section(':', 0, 0).toUInt();
        api.addConverter(nLoc, sConverter.section(':', 1, 1).toInt());
        if (cMark == '!')
            api.unopenableLocations.insert(nLoc);
        if (cMark == '?')
            api.numberFailsFor.insert(nLoc);
    }

    QCOMPARE(listFtdiPorts(api), ports);
    QStringList mapText;
    const QMap<int32_t, int32_t> portMap = ftdiPortMap();
    for (auto it = portMap.constBegin(); it != portMap.constEnd(); ++it)
        mapText << QStringLiteral("%1>%2").arg(it.key()).arg(it.value());
    QCOMPARE(mapText.join(' '), map);
    QCOMPARE(bool(useComApi), comApi);
    QCOMPARE(api.nOpenHandles, 0); // every converter opened for its number is closed again
}

// Nothing found or the listing failing keeps the old map; a failing device
// list empties it.
void TestComSerialFtdi::enumerationFailures()
{
    const QMap<int32_t, int32_t> old{{4, 0}};
    setFtdiPortMap(old);
    ScriptedFtdiApi none;
    QVERIFY(listFtdiPorts(none).isEmpty());
    QCOMPARE(ftdiPortMap(), old);

    ScriptedFtdiApi noList;
    noList.addConverter(17, 3);
    noList.nCreateResult = 2;
    QVERIFY(listFtdiPorts(noList).isEmpty());
    QCOMPARE(ftdiPortMap(), old);

    ScriptedFtdiApi badList;
    badList.addConverter(17, 3);
    badList.nGetListResult = 2;
    QVERIFY(listFtdiPorts(badList).isEmpty());
    QVERIFY(ftdiPortMap().isEmpty());
}

// Names too long, numbers not in the map, no converter at all, the open
// itself failing: the transport stays closed.
void TestComSerialFtdi::openRefused_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("mapped"); // converter 3 known at index 0
    QTest::addColumn<int>("openResult");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("opens"); // open calls reaching the layer
    QTest::addColumn<Cause>("cause");

    QTest::newRow("11 characters") << QByteArray("FTDI0000003") << true << 0 << 0 << 1 << Cause::None;
    QTest::newRow("12 characters") << QByteArray("FTDI00000003") << true << 0 << 1 << 0 << Cause::None;
    QTest::newRow("12 characters, COM") << QByteArray("COM000000003") << true << 0 << 1 << 0 << Cause::None;
    QTest::newRow("other number") << QByteArray("FTDI4") << true << 0 << 11 << 0 << Cause::NoSuchDevice;
    QTest::newRow("no digit") << QByteArray("FTDI") << true << 0 << 11 << 0 << Cause::NoSuchDevice;
    QTest::newRow("not a plain number") << QByteArray("FTDI3a") << true << 0 << 11 << 0 << Cause::NoSuchDevice;
    QTest::newRow("empty") << QByteArray("") << true << 0 << 11 << 0 << Cause::NoSuchDevice;
    QTest::newRow("no converter") << QByteArray("FTDI1") << false << 0 << 11 << 0 << Cause::NoSuchDevice;
    QTest::newRow("open fails") << QByteArray("FTDI3") << true << 3 << 11 << 1 << Cause::Other;
    QTest::newRow("access denied") << QByteArray("FTDI3") << true << int(TFtdiApi::OpenAccessDenied) << 11 << 1
                                   << Cause::PermissionDenied;
    QTest::newRow("claimed by another program")
        << QByteArray("FTDI3") << true << int(TFtdiApi::OpenInUse) << 11 << 1 << Cause::InUse;
}

void TestComSerialFtdi::openRefused()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, mapped);
    QFETCH(int, openResult);
    QFETCH(int, result);
    QFETCH(int, opens);
    QFETCH(Cause, cause);
    ScriptedFtdiApi api;
    api.nOpenResult = openResult;
    if (mapped)
        setFtdiPortMap({{3, 0}});
    TComSerialFTDI transport(api);
    QCOMPARE(transport.open(name.constData(), 9600), result);
    QCOMPARE(transport.isOpen(), result == 0);
    QCOMPARE(transport.lastOpenError().nCause, cause);
    if (cause != Cause::None)
        QCOMPARE(transport.lastOpenError().sDevice, QString::fromLatin1(name));
    QCOMPARE(api.count("open "), opens);
    if (result == 1)
        QVERIFY(api.calls.isEmpty());
    if (result != 0)
        QCOMPARE(transport.close(), 12);
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

void TestComSerialFtdi::openConfiguresConverter_data()
{
    QTest::addColumn<uint>("requested");
    QTest::addColumn<uint>("rate");
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
    QCOMPARE(api.calls,
             (QStringList{"open 6", "setDataCharacteristics 8 0 0", "setFlowControl 0 0 0", "setLatencyTimer 2",
                          QStringLiteral("setBaudRate %1").arg(rate), "setTimeouts 1 0"}));
    uint32_t nRate = 0;
    QCOMPARE(transport.getBaudRate(nRate), 0);
    QCOMPARE(nRate, uint32_t(rate));
}

// Reopening closes the old handle first, a second close is refused, the
// destructor releases a converter left open.
void TestComSerialFtdi::handleLifetime()
{
    OpenFtdi f;
    QVERIFY(f.bOpen);
    QCOMPARE(f.transport.open("FTDI3", 9600), 0);
    QCOMPARE(f.api.calls.first(), QStringLiteral("close"));
    QCOMPARE(f.api.nOpenHandles, 1);
    QCOMPARE(f.transport.close(), 0);
    QVERIFY(!f.transport.isOpen());
    QCOMPARE(f.transport.close(), 12);
    QCOMPARE(f.api.count("close"), 2);
    QCOMPARE(f.api.nOpenHandles, 0);

    ScriptedFtdiApi api;
    {
        TComSerialFTDI transport(api);
        setFtdiPortMap({{3, 0}});
        QCOMPARE(transport.open("FTDI3", 9600), 0);
    }
    QCOMPARE(api.nOpenHandles, 0);
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
    ScriptedFtdiApi never;
    TComSerialFTDI neverOpened(never);
    QCOMPARE(call(neverOpened), result);
    // Also after a close, and nothing reaches the layer.
    OpenFtdi f;
    QVERIFY(f.bOpen);
    QCOMPARE(f.transport.close(), 0);
    f.api.calls.clear();
    QCOMPARE(call(f.transport), result);
    QVERIFY(f.api.calls.isEmpty());
    QVERIFY(!f.transport.isOpen());
}

// A time-out of 0 becomes 1 ms (0 would mean "wait forever"); a rate the
// converter refuses leaves the old one in place.
void TestComSerialFtdi::timeoutAndRefusedRate()
{
    OpenFtdi f;
    QVERIFY(f.bOpen);
    QCOMPARE(f.transport.setTimeout(0), 0);
    QCOMPARE(f.transport.setTimeout(250), 0);
    QCOMPARE(f.api.calls, (QStringList{"setTimeouts 1 0", "setTimeouts 250 0"}));

    f.api.refusedRates.insert(921600);
    QCOMPARE(f.transport.setBaudRate(230400), 0);
    QCOMPARE(f.transport.setBaudRate(921600), 12);
    uint32_t nRate = 0;
    QCOMPARE(f.transport.getBaudRate(nRate), 0);
    QCOMPARE(nRate, 230400u);
}

void TestComSerialFtdi::readRequestSize_data()
{
    QTest::addColumn<int>("waiting");
    QTest::addColumn<bool>("queueFails");
    QTest::addColumn<bool>("readFails");
    QTest::addColumn<uint>("capacity");
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("result");
    QTest::addColumn<uint>("count");
    QTest::newRow("nothing waiting: one byte, time-out") << 0 << false << false << 64u << "read 1" << 101 << 0u;
    QTest::newRow("5 waiting, capacity 64") << 5 << false << false << 64u << "read 5" << 0 << 5u;
    QTest::newRow("100 waiting, capacity 64") << 100 << false << false << 64u << "read 64" << 0 << 64u;
    QTest::newRow("capacity 1") << 10 << false << false << 1u << "read 1" << 0 << 1u;
    QTest::newRow("queue unknown: one byte") << 3 << true << false << 64u << "read 1" << 0 << 1u;
    QTest::newRow("read fails") << 3 << false << true << 8u << "read 3" << 100 << 0u;
}

void TestComSerialFtdi::readRequestSize()
{
    QFETCH(int, waiting);
    QFETCH(bool, queueFails);
    QFETCH(bool, readFails);
    QFETCH(uint, capacity);
    QFETCH(QString, request);
    QFETCH(int, result);
    QFETCH(uint, count);

    OpenFtdi f;
    QVERIFY(f.bOpen);
    for (int i = 0; i < waiting; ++i)
        f.api.rx.append(char(i));
    f.api.bQueueFails = queueFails;
    f.api.bReadFails = readFails;

    QVector<uint8_t> buffer(int(capacity) + 8, 0xEE);
    uint32_t nCount = 1234;
    QCOMPARE(f.transport.read(buffer.data(), capacity, nCount), result);
    QCOMPARE(nCount, uint32_t(count));
    QCOMPARE(f.api.calls, (QStringList{"getQueueStatus", request}));
    for (uint32_t i = 0; i < nCount; ++i)
        QCOMPARE(buffer[int(i)], uint8_t(i));
    QCOMPARE(buffer[int(capacity)], uint8_t(0xEE)); // nothing beyond the capacity
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
    OpenFtdi f;
    QVERIFY(f.bOpen);
    f.api.bWriteFails = fails;
    f.api.nWriteShortBy = shortBy;
    const QByteArray data("0123456789abcdef");
    QCOMPARE(f.transport.write(reinterpret_cast<const uint8_t *>(data.constData()), 16), result);
    QCOMPARE(f.api.calls, QStringList{"write 16"});
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
    OpenFtdi f;
    QVERIFY(f.bOpen);
    f.api.rx = waiting;
    f.api.bQueueFails = queueFails;
    QCOMPARE(f.transport.purge(), 0);
    QCOMPARE(f.api.calls, calls);
}

// A converter that streams without end (a drive sending LIFE_TRIGGERs, a
// noisy line) holds neither a read nor a purge for long, nor a transaction
// past its deadline.
void TestComSerialFtdi::streamingConverterCannotHoldTheLine_data()
{
    QTest::addColumn<int>("bytesPerMs");
    QTest::newRow("9600 baud") << 1;
    QTest::newRow("921600 baud") << 92;
}

void TestComSerialFtdi::streamingConverterCannotHoldTheLine()
{
    QFETCH(int, bytesPerMs);
    constexpr int kDeadlineMs = 1000;
    OpenFtdi f;
    QVERIFY(f.bOpen);
    f.api.startStream('*', bytesPerMs, 4 * kDeadlineMs);
    f.transport.setTimeout(300);

    QElapsedTimer timer;
    timer.start();
    uint8_t buffer[64];
    uint32_t nCount = 0;
    QCOMPARE(f.transport.read(buffer, 64, nCount), 0);
    QVERIFY(nCount > 0 && buffer[0] == '*');
    QCOMPARE(f.transport.purge(), 0);
    QVERIFY2(timer.elapsed() < 300, qPrintable(QString::number(timer.elapsed())));

    ServiceExchange exchange;
    exchange.nRequestLength = 5;
    exchange.nResponseCapacity = 16;
    const uint8_t aProbe[] = {0x04, 0x5F, 0xB0, 0x01, 0x04};
    std::memcpy(exchange.aRequest, aProbe, sizeof aProbe);
    timer.restart();
    QCOMPARE(transact(f.transport, exchange, kDeadlineMs), int(CommError::Timeout));
    QVERIFY2(timer.elapsed() < kDeadlineMs + 300, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(exchange.nLineBytes > kDeadlineMs / 2); // bytes came all along
}

void TestComSerialFtdi::factoryChoosesByName_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("comApi");
    QTest::addColumn<bool>("ftdi");
    QTest::addColumn<uint>("defaultRate"); // the transport's working rate when none is asked for
    QTest::newRow("ftdi name, lower case") << "ftdi12" << true << true << 230400u;
    QTest::newRow("serial port") << "ttyUSB0" << false << false << 115200u;
    QTest::newRow("path that looks like ftdi") << "/dev/FTDI3" << false << false << 115200u;
    QTest::newRow("no name, serial ports") << "" << true << false << 115200u;
    QTest::newRow("no name, converters") << "" << false << true << 230400u;
}

void TestComSerialFtdi::factoryChoosesByName()
{
    QFETCH(QString, port);
    QFETCH(bool, comApi);
    QFETCH(bool, ftdi);
    QFETCH(uint, defaultRate);
    useComApi = comApi;
    QCOMPARE(transportKindFor(port), ftdi ? TransportKind::Ftdi : TransportKind::ComPort);
    QScopedPointer<TComSerial> transport(createTransport(port));
    QVERIFY(transport && !transport->isOpen());
    QCOMPARE(dynamic_cast<TComSerialFTDI *>(transport.data()) != nullptr, ftdi);
    QCOMPARE(transport->defaultWorkingBaudRate(), defaultRate);
}

QTEST_GUILESS_MAIN(TestComSerialFtdi)
#include "tst_comserialftdi.moc"
