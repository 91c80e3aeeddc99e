// The FTDI transport and the converter enumeration over a scripted
// converter layer that records every call, the real libftdi1 layer on a
// machine without a converter, and the receive queue against a converter
// that never stops sending.
#include "FtdiRxQueue.h"
#include "PortDiscovery.h"
#include "TComSerialFTDI.h"

#include <QtTest>

using Cause = PortOpenError::Cause;

namespace {
// Converters: location, port number; location 0xBAD cannot be opened, port
// number -99 cannot be read.
class ScriptedFtdiApi : public TFtdiApi
{
public:
    QList<QPair<uint32_t, int32_t>> converters;
    int nCreateResult = 0, nListResult = 0, nOpenResult = 0, nQueueResult = 0, nReadResult = 0, nWriteResult = 0;
    int nWriteShortBy = 0;
    uint32_t nRefusedRate = 0;
    QByteArray rx;
    QStringList calls;
    int nOpenHandles = 0;

    int log(const QString &sCall, int nResult = 0)
    {
        calls << sCall;
        return nResult;
    }
    int open(int nIndex, Handle &pHandle) override
    {
        pHandle = nOpenResult == 0 ? newHandle(0) : nullptr;
        return log(QStringLiteral("open %1").arg(nIndex), nOpenResult);
    }
    int openByLocation(uint32_t nLocId, Handle &pHandle) override
    {
        pHandle = nLocId == 0xBAD ? nullptr : newHandle(nLocId);
        return log(QStringLiteral("openByLocation %1").arg(nLocId), pHandle ? 0 : 3);
    }
    int close(Handle pHandle) override
    {
        delete static_cast<uint32_t *>(pHandle);
        --nOpenHandles;
        return log("close");
    }
    int setDataCharacteristics(Handle, uint8_t nBits, uint8_t nStop, uint8_t nParity) override
    {
        return log(QStringLiteral("data %1 %2 %3").arg(nBits).arg(nStop).arg(nParity));
    }
    int setFlowControl(Handle, uint16_t nFlow, uint8_t nXon, uint8_t nXoff) override
    {
        return log(QStringLiteral("flow %1 %2 %3").arg(nFlow).arg(nXon).arg(nXoff));
    }
    int setLatencyTimer(Handle, uint8_t nMs) override { return log(QStringLiteral("latency %1").arg(nMs)); }
    int setBaudRate(Handle, uint32_t nRate) override
    {
        return log(QStringLiteral("rate %1").arg(nRate), nRate == nRefusedRate ? 5 : 0);
    }
    int setTimeouts(Handle, uint32_t nReadMs, uint32_t nWriteMs) override
    {
        return log(QStringLiteral("timeouts %1 %2").arg(nReadMs).arg(nWriteMs));
    }
    int getQueueStatus(Handle, uint32_t &nRxBytes) override
    {
        nRxBytes = nQueueResult != 0 ? 77 : uint32_t(rx.size()); // garbage on failure
        return log("queue", nQueueResult);
    }
    int read(Handle, uint8_t *pBuffer, uint32_t nCount, uint32_t &nRead) override
    {
        nRead = nReadResult != 0 ? 0 : qMin<uint32_t>(nCount, uint32_t(rx.size()));
        memcpy(pBuffer, rx.constData(), nRead);
        rx.remove(0, int(nRead));
        return log(QStringLiteral("read %1").arg(nCount), nReadResult);
    }
    int write(Handle, const uint8_t *, uint32_t nCount, uint32_t &nWritten) override
    {
        nWritten = nWriteResult != 0 ? 0 : nCount - qMin<uint32_t>(uint32_t(nWriteShortBy), nCount);
        return log(QStringLiteral("write %1").arg(nCount), nWriteResult);
    }
    int purge(Handle, uint32_t nMask) override
    {
        rx.clear();
        return log(QStringLiteral("purge %1").arg(nMask));
    }
    int createDeviceInfoList(uint32_t &nDevices) override
    {
        nDevices = nCreateResult == 0 ? uint32_t(converters.size()) : 0;
        return log("createDeviceInfoList", nCreateResult);
    }
    int getDeviceInfoList(QVector<DeviceNode> &nodes, uint32_t &nDevices) override
    {
        nodes.clear();
        for (const auto &c : converters) {
            nodes.append(DeviceNode());
            nodes.last().nLocId = c.first;
        }
        nDevices = nListResult == 0 ? uint32_t(nodes.size()) : 0;
        return log("getDeviceInfoList", nListResult);
    }
    int getComPortNumber(Handle pHandle, int32_t &nNumber) override
    {
        for (const auto &c : converters)
            nNumber = c.first == *static_cast<uint32_t *>(pHandle) ? c.second : nNumber;
        return log("getComPortNumber", nNumber == -99 ? 2 : 0);
    }

private:
    Handle newHandle(uint32_t nLocId)
    {
        ++nOpenHandles;
        return new uint32_t(nLocId);
    }
};
} // namespace

class TestComSerialFtdi : public QObject
{
    Q_OBJECT

private slots:
    void enumeration_data();
    void enumeration();
    void transport_data();
    void transport();
    void withoutConverter();
    void streamingConverter();
};

// converters "location:number", in device order
void TestComSerialFtdi::enumeration_data()
{
    QTest::addColumn<QStringList>("converters");
    QTest::addColumn<QString>("failure"); // "create" or "list" fails
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QString>("map"); // the map before: "4>0"
    QTest::addColumn<bool>("comApi");
    QTest::newRow("none keeps the old map") << QStringList{} << "" << QStringList{} << "4>0" << false;
    QTest::newRow("listing fails: old map") << QStringList{"17:3"} << "create" << QStringList{} << "4>0" << false;
    QTest::newRow("device list fails: empty") << QStringList{"17:3"} << "list" << QStringList{} << "" << false;
    QTest::newRow("7 then 3 in device order")
        << QStringList{"17:7", "18:3"} << "" << QStringList{"FTDI7", "FTDI3"} << "3>1 7>0" << false;
    QTest::newRow("no location: serial ports")
        << QStringList{"0:5", "17:3"} << "" << QStringList{"FTDI5", "FTDI3"} << "3>1 5>0" << true;
    QTest::newRow("unopenable, unreadable, 0, negative left out")
        << QStringList{"2989:4", "17:-99", "18:0", "19:-4", "20:5"} << "" << QStringList{"FTDI5"} << "5>4" << false;
    QTest::newRow("same number: later wins")
        << QStringList{"17:3", "18:3"} << "" << QStringList{"FTDI3", "FTDI3"} << "3>1" << false;
}

void TestComSerialFtdi::enumeration()
{
    QFETCH(QStringList, converters);
    QFETCH(QString, failure);
    QFETCH(QStringList, ports);
    QFETCH(QString, map);
    QFETCH(bool, comApi);
    ScriptedFtdiApi api;
    for (const QString &s : converters)
        api.converters.append({s.section(':', 0, 0).toUInt(), s.section(':', 1).toInt()});
    api.nCreateResult = failure == "create" ? 2 : 0;
    api.nListResult = failure == "list" ? 2 : 0;
    setFtdiPortMap({{4, 0}});
    useComApi = !comApi;
    QCOMPARE(listFtdiPorts(api), ports);
    QStringList mapText;
    const QMap<int32_t, int32_t> portMap = ftdiPortMap();
    for (auto it = portMap.constBegin(); it != portMap.constEnd(); ++it)
        mapText << QStringLiteral("%1>%2").arg(it.key()).arg(it.value());
    QCOMPARE(mapText.join(' '), map);
    QCOMPARE(bool(useComApi), comApi);
    QCOMPARE(api.nOpenHandles, 0); // each converter opened for its number is closed again
}

// Each row: how the layer behaves, one operation on a transport (open on
// port number 3 = device 0 unless "closed"), its result and the layer calls
// it made.
void TestComSerialFtdi::transport_data()
{
    QTest::addColumn<QString>("layer");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("calls");
    QTest::addColumn<QString>("after"); // read: the bytes; open: the cause; rate: the rate
    // clang-format off
    QTest::newRow("open, 11 characters")   << "closed" << "open FTDI0000003 0" << 0 << "open 0|data 8 0 0|flow 0 0 0|latency 2|rate 9600|timeouts 1 0" << "9600";
    QTest::newRow("open at a rate")        << "closed" << "open FTDI3 115200" << 0 << "open 0|data 8 0 0|flow 0 0 0|latency 2|rate 115200|timeouts 1 0" << "115200";
    QTest::newRow("open, 12 characters")   << "closed" << "open COM000000003 0" << 1 << "" << "None";
    QTest::newRow("open, other number")    << "closed" << "open FTDI4 0" << 11 << "" << "NoSuchDevice";
    QTest::newRow("open, not a number")    << "closed" << "open FTDI3a 0" << 11 << "" << "NoSuchDevice";
    QTest::newRow("open, empty map")       << "closed nomap" << "open FTDI3 0" << 11 << "createDeviceInfoList" << "NoSuchDevice";
    QTest::newRow("open fails")            << "closed open=3" << "open FTDI3 0" << 11 << "open 0" << "Other";
    QTest::newRow("open, access denied")   << "closed open=256" << "open FTDI3 0" << 11 << "open 0" << "PermissionDenied";
    QTest::newRow("open, claimed")         << "closed open=257" << "open FTDI3 0" << 11 << "open 0" << "InUse";
    QTest::newRow("reopen closes first")   << "" << "open FTDI3 0" << 0 << "close|open 0|data 8 0 0|flow 0 0 0|latency 2|rate 9600|timeouts 1 0" << "9600";
    QTest::newRow("close")                 << "" << "close" << 0 << "close" << "";
    for (const char *op : {"close", "setTimeout 5", "setBaudRate 9600", "getBaudRate", "read 4", "write 4", "purge"})
        QTest::addRow("closed: %s", op)    << "closed" << op << (QByteArray(op).startsWith("setTimeout") ? -1 : 12) << "" << "";
    QTest::newRow("time-out 0 is 1 ms")    << "" << "setTimeout 0" << 0 << "timeouts 1 0" << "";
    QTest::newRow("time-out 250")          << "" << "setTimeout 250" << 0 << "timeouts 250 0" << "";
    QTest::newRow("rate")                  << "" << "setBaudRate 230400" << 0 << "rate 230400" << "230400";
    QTest::newRow("rate refused, kept")    << "refuse=921600" << "setBaudRate 921600" << 12 << "rate 921600" << "9600";
    QTest::newRow("read, nothing waiting") << "" << "read 64" << 101 << "queue|read 1" << "";
    QTest::newRow("read, 5 of 64")         << "rx=5" << "read 64" << 0 << "queue|read 5" << "0001020304";
    QTest::newRow("read, 100 for 64")      << "rx=100" << "read 64" << 0 << "queue|read 64" << "@64";
    QTest::newRow("read, capacity 1")      << "rx=10" << "read 1" << 0 << "queue|read 1" << "00";
    QTest::newRow("read, queue unknown")   << "rx=3 queue=4" << "read 64" << 0 << "queue|read 1" << "00";
    QTest::newRow("read fails")            << "rx=3 read=4" << "read 8" << 100 << "queue|read 3" << "";
    QTest::newRow("write")                 << "" << "write 16" << 0 << "write 16" << "";
    QTest::newRow("write one byte short")  << "short=1" << "write 16" << 100 << "write 16" << "";
    QTest::newRow("write fails")           << "write=4" << "write 16" << 100 << "write 16" << "";
    QTest::newRow("purge, empty queue")    << "" << "purge" << 0 << "queue" << "";
    QTest::newRow("purge, bytes waiting")  << "rx=3" << "purge" << 0 << "queue|purge 1" << "";
    QTest::newRow("purge, queue unknown")  << "rx=3 queue=4" << "purge" << 0 << "queue" << "";
    // clang-format on
}

void TestComSerialFtdi::transport()
{
    QFETCH(QString, layer);
    QFETCH(QString, operation);
    QFETCH(int, result);
    QFETCH(QString, calls);
    QFETCH(QString, after);
    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    setFtdiPortMap(layer.contains("nomap") ? QMap<int32_t, int32_t>() : QMap<int32_t, int32_t>{{3, 0}});
    if (!layer.contains("closed"))
        QCOMPARE(transport.open("FTDI3", 0), 0);
    for (const QString &s : layer.split(' ', Qt::SkipEmptyParts)) {
        const int n = s.section('=', 1).toInt();
        if (s.startsWith("rx="))
            for (int i = 0; i < n; ++i)
                api.rx.append(char(i));
        api.nOpenResult = s.startsWith("open=") ? n : api.nOpenResult;
        api.nRefusedRate = s.startsWith("refuse=") ? uint32_t(n) : api.nRefusedRate;
        api.nQueueResult = s.startsWith("queue=") ? n : api.nQueueResult;
        api.nReadResult = s.startsWith("read=") ? n : api.nReadResult;
        api.nWriteResult = s.startsWith("write=") ? n : api.nWriteResult;
        api.nWriteShortBy = s.startsWith("short=") ? n : api.nWriteShortBy;
    }
    api.calls.clear();

    const QStringList op = operation.split(' ');
    const uint32_t nArg = op.value(op.size() - 1).toUInt();
    QByteArray buffer(128, '\xEE');
    auto *pBuffer = reinterpret_cast<uint8_t *>(buffer.data());
    uint32_t nValue = 0;
    const QString &sOp = op.at(0);
    const int nResult = sOp == "open"          ? transport.open(op.at(1).toLatin1().constData(), nArg)
                        : sOp == "close"       ? transport.close()
                        : sOp == "setTimeout"  ? transport.setTimeout(nArg)
                        : sOp == "setBaudRate" ? transport.setBaudRate(nArg)
                        : sOp == "getBaudRate" ? transport.getBaudRate(nValue)
                        : sOp == "read"        ? transport.read(pBuffer, nArg, nValue)
                        : sOp == "write"       ? transport.write(pBuffer, nArg)
                                               : transport.purge();
    QCOMPARE(nResult, result);
    QCOMPARE(api.calls.join('|'), calls);
    QCOMPARE(transport.isOpen(), sOp == "close" ? false : sOp == "open" ? result == 0 : !layer.contains("closed"));
    const QStringList causes{"None", "PermissionDenied", "NoSuchDevice", "InUse", "NotSerialDevice", "Other"};
    if (sOp == "open" && result != 0)
        QCOMPARE(int(transport.lastOpenError().nCause), causes.indexOf(after));
    if (sOp == "read" && result == 0) { // "@N": the bytes 0, 1, ... N-1
        QByteArray expected = after.startsWith('@') ? QByteArray() : QByteArray::fromHex(after.toLatin1());
        for (int i = 0; after.startsWith('@') && i < after.mid(1).toInt(); ++i)
            expected.append(char(i));
        QCOMPARE(buffer.left(int(nValue)), expected);
        QCOMPARE(buffer.at(int(nArg)), '\xEE'); // nothing beyond the capacity
    }
    if (transport.isOpen() && !after.isEmpty() && sOp != "read") {
        QCOMPARE(transport.getBaudRate(nValue), 0);
        QCOMPARE(QString::number(nValue), after);
    }
    if (transport.isOpen())
        transport.close();
    QCOMPARE(api.nOpenHandles, 0);
}

// The libftdi1 layer with no converter attached: nothing found, nothing
// opened, no crash on a null handle.
void TestComSerialFtdi::withoutConverter()
{
    uint32_t nDevices = 99;
    QCOMPARE(defaultFtdiApi().createDeviceInfoList(nDevices), 0);
    if (nDevices != 0)
        QSKIP("an FTDI converter is reachable on this machine");
    QVERIFY(listFtdiPorts().isEmpty());
    setFtdiPortMap({{1, 0}}); // left from an earlier enumeration
    TComSerialFTDI transport;
    QCOMPARE(transport.open("FTDI1", 9600), 11);
    uint32_t nCount = 0;
    uint8_t aBuffer[4] = {};
    QVERIFY(defaultFtdiApi().read(nullptr, aBuffer, 4, nCount) != 0);
    QVERIFY(defaultFtdiApi().purge(nullptr, TFtdiApi::PurgeRx) != 0);
}

// A converter sending without end (LIFE_TRIGGERs, noise; here 10 bytes a
// millisecond) cannot hold a queue query or a purge: each fetch gives up
// soon with what came so far.
void TestComSerialFtdi::streamingConverter()
{
    QElapsedTimer stream;
    stream.start();
    qint64 nTaken = 0;
    FtdiRxQueue queue([&](uint8_t *pBuffer, int nSize) {
        while (stream.elapsed() * 10 - nTaken < nSize)
            QThread::usleep(200);
        memset(pBuffer, '*', size_t(nSize));
        nTaken += nSize;
        return nSize;
    });
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(queue.fetch(), 0);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(queue.size() > 0);
}

QTEST_GUILESS_MAIN(TestComSerialFtdi)
#include "tst_comserialftdi.moc"
