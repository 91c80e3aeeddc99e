// Serial ports without a line: over given port lists, port names and the
// transport they select, identities and the advice when a port cannot be
// opened; the FTDI transport and the converter enumeration over a scripted
// layer; the receive queue against a converter that never stops sending.
#include "FtdiRxQueue.h"
#include "PortDiscovery.h"
#include "PortOpenError.h"
#include "PortResolver.h"
#include "TComSerialFTDI.h"

#include <QtTest>

#include <list>

using Status = PortResolution::Status;
using Cause = PortOpenError::Cause;
using Converters = QList<QPair<uint32_t, int32_t>>; // location, port number, in device order
using PortMap = QMap<int32_t, int32_t>;

namespace {
QByteArray counting(int nSize) // the bytes 0, 1, ... nSize - 1
{
    QByteArray bytes;
    for (int i = 0; i < nSize; ++i)
        bytes.append(char(i));
    return bytes;
}

// The layer is scripted by words: "NAME=N" makes the calls of that name
// return N; "rx=N" leaves the bytes 0 ... N-1 waiting; "short=N" makes a
// write take N bytes less. Converter location 0xBAD cannot be opened, port
// number -99 cannot be read.
class ScriptedFtdiApi : public TFtdiApi
{
public:
    Converters converters;
    QMap<QString, int> results;
    QByteArray rx;
    QStringList calls;
    std::list<uint32_t> handles; // the locations of the open handles

    void script(const QString &sWords)
    {
        for (const QString &s : sWords.split(' ', Qt::SkipEmptyParts))
            results[s.section('=', 0, 0)] = s.section('=', 1).toInt();
        rx = counting(results.value("rx"));
    }
    template <typename... Args> int log(const char *sCall, Args... args)
    {
        calls << QStringList{sCall, QString::number(args)...}.join(' ');
        return results.value(sCall);
    }
    int open(int nIndex, Handle &pHandle) override
    {
        pHandle = results.value("open") == 0 ? newHandle(0) : nullptr;
        return log("open", nIndex);
    }
    int openByLocation(uint32_t nLocId, Handle &pHandle) override
    {
        pHandle = nLocId == 0xBAD ? nullptr : newHandle(nLocId);
        return log("openByLocation", nLocId) + (pHandle ? 0 : 3);
    }
    int close(Handle pHandle) override
    {
        handles.remove_if([pHandle](const uint32_t &nLocId) { return &nLocId == pHandle; });
        return log("close");
    }
    int setDataCharacteristics(Handle, uint8_t nBits, uint8_t nStop, uint8_t nParity) override
    {
        return log("data", nBits, nStop, nParity);
    }
    int setFlowControl(Handle, uint16_t nFlow, uint8_t nXon, uint8_t nXoff) override
    {
        return log("flow", nFlow, nXon, nXoff);
    }
    int setLatencyTimer(Handle, uint8_t nMs) override { return log("latency", nMs); }
    int setBaudRate(Handle, uint32_t nRate) override { return log("rate", nRate); }
    int setTimeouts(Handle, uint32_t nReadMs, uint32_t nWriteMs) override { return log("timeouts", nReadMs, nWriteMs); }
    int getQueueStatus(Handle, uint32_t &nRxBytes) override
    {
        nRxBytes = results.value("queue") != 0 ? 77 : uint32_t(rx.size()); // garbage on failure
        return log("queue");
    }
    int read(Handle, uint8_t *pBuffer, uint32_t nCount, uint32_t &nRead) override
    {
        nRead = results.value("read") != 0 ? 0 : qMin<uint32_t>(nCount, uint32_t(rx.size()));
        memcpy(pBuffer, rx.constData(), nRead);
        rx.remove(0, int(nRead));
        return log("read", nCount);
    }
    int write(Handle, const uint8_t *, uint32_t nCount, uint32_t &nWritten) override
    {
        nWritten = results.value("write") != 0 ? 0 : nCount - qMin(uint32_t(results.value("short")), nCount);
        return log("write", nCount);
    }
    int purge(Handle, uint32_t nMask) override
    {
        rx.clear();
        return log("purge", nMask);
    }
    int createDeviceInfoList(uint32_t &nDevices) override
    {
        nDevices = results.value("createDeviceInfoList") == 0 ? uint32_t(converters.size()) : 0;
        return log("createDeviceInfoList");
    }
    int getDeviceInfoList(QVector<DeviceNode> &nodes, uint32_t &nDevices) override
    {
        nodes.clear();
        nodes.resize(converters.size());
        for (int i = 0; i < nodes.size(); ++i)
            nodes[i].nLocId = converters.at(i).first;
        nDevices = results.value("getDeviceInfoList") == 0 ? uint32_t(nodes.size()) : 0;
        return log("getDeviceInfoList");
    }
    int getComPortNumber(Handle pHandle, int32_t &nNumber) override
    {
        for (const auto &c : converters)
            nNumber = c.first == *static_cast<uint32_t *>(pHandle) ? c.second : nNumber;
        return log("getComPortNumber") + (nNumber == -99 ? 2 : 0);
    }
    Handle newHandle(uint32_t nLocId) { return &handles.emplace_back(nLocId); }
};

// A port as the port list describes it.
PortDescription port(const char *sName, const char *sLocation, int nVendor = -1, int nProduct = 0,
                     const char *sSerial = "")
{
    const TransportKind nKind = *sLocation ? TransportKind::ComPort : TransportKind::Ftdi;
    return {sName, sLocation, "", "", sSerial, nVendor >= 0, uint16_t(qMax(nVendor, 0)), uint16_t(nProduct), nKind};
}

// An on-board port, two single converters of one make, the two ports of a
// dual converter (one serial number), a board without a serial number, a
// converter reached through libftdi1 and one whose device the test links to.
const QVector<PortDescription> kPorts = {
    port("ttyS0", "/dev/ttyS0"),
    port("ttyUSB0", "/dev/ttyUSB0", 0x0403, 0x6001, "A9XYZ"),
    port("ttyUSB1", "/dev/ttyUSB1", 0x0403, 0x6001, "B7QRS"),
    port("ttyUSB2", "/dev/ttyUSB2", 0x0403, 0x6010, "FT4X"),
    port("ttyUSB3", "/dev/ttyUSB3", 0x0403, 0x6010, "FT4X"),
    port("ttyACM0", "/dev/ttyACM0", 0x2341, 0x0043),
    port("FTDI1", "", 0x0403, 0x6015, "DN05"),
    port("ttyV0", "/dev/zero", 0x1a86, 0x7523),
};
} // namespace

class TestPorts : public QObject
{
    Q_OBJECT

private slots:
    void numbersAndOrder();
    void resolve_data();
    void resolve();
    void openAdvice_data();
    void openAdvice();
    void enumeration_data();
    void enumeration();
    void transport_data();
    void transport();
    void withoutConverter();
    void streamingConverter();
};

void TestPorts::numbersAndOrder()
{
    const QStringList names{"COM12", "ttyUSB0", "/dev/pts/15", "COM3a", "tty1x2", "COM", "", "COM007"};
    QList<int> numbers;
    for (const QString &s : names)
        numbers << portNumber(s);
    QCOMPARE(numbers, (QList<int>{12, 0, 15, 0, 0, -1, -1, 7}));
    // By number; equal numbers alphabetically.
    QStringList mixed{"COM10", "ttyUSB1", "ttyS10", "ttyACM0", "ttyS1", "COM2", "ttyUSB0", "noNumber"};
    sortPortNames(mixed);
    QCOMPARE(mixed, (QStringList{"noNumber", "ttyACM0", "ttyUSB0", "ttyS1", "ttyUSB1", "COM2", "COM10", "ttyS10"}));
    QCOMPARE(baudRates(), (QVector<uint32_t>{0, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600}));
    // An FTDI name selects the FTDI transport (working rate 230400), any
    // other the COM-port one (115200); no name follows discovery.
    for (const QString &s : QStringList{"ftdi12 0", "ttyUSB0 1", "/dev/FTDI3 0", " 1", " 0"}) {
        useComApi = s.endsWith('1');
        QScopedPointer<TComSerial> transport(createTransport(s.section(' ', 0, 0)));
        const bool bFtdi = transportKindFor(s.section(' ', 0, 0)) == TransportKind::Ftdi;
        QCOMPARE(transport->defaultWorkingBaudRate(), bFtdi ? 230400u : 115200u);
        QCOMPARE(bFtdi, s.startsWith('f') || s == " 0");
    }
    // The identity offered for each port (the resolve rows lead them back).
    QCOMPARE(portIdentities(kPorts),
             (QStringList{"/dev/ttyS0", "usb:0403:6001:A9XYZ", "usb:0403:6001:B7QRS", "/dev/ttyUSB2", "/dev/ttyUSB3",
                          "usb:2341:0043", "usb:0403:6015:DN05", "usb:1a86:7523"}));
}

void TestPorts::resolve_data()
{
    QTest::addColumn<QString>("text");       // "@name": a link of that name in a temporary folder
    QTest::addColumn<QString>("linkTarget"); // "@file": a regular file
    QTest::addColumn<Status>("status");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("candidates");
    const QStringList usb = {"ttyUSB0 (usb:0403:6001:A9XYZ)",
                             "ttyUSB1 (usb:0403:6001:B7QRS)",
                             "ttyUSB2",
                             "ttyUSB3",
                             "ttyACM0 (usb:2341:0043)",
                             "FTDI1 (usb:0403:6015:DN05)",
                             "ttyV0 (usb:1a86:7523)"};
    auto row = [](const char *sName, const char *sText, Status nStatus, const char *sPort = "",
                  const QStringList &candidates = {}, const char *sTarget = "") {
        QTest::newRow(sName) << sText << sTarget << nStatus << sPort << candidates;
    };
    row("serial, other case", "usb:a9xyz", Status::Resolved, "ttyUSB0");
    row("ids and serial", "USB:0403:6001:b7qrs", Status::Resolved, "ttyUSB1");
    row("ids, short hex", "usb:2341:43", Status::Resolved, "ttyACM0");
    row("libftdi1 converter", "usb:0403:6015", Status::Resolved, "FTDI1");
    row("two of a make", "usb:0403:6001", Status::Ambiguous, "", usb.mid(0, 2));
    row("dual converter", "usb:FT4X", Status::Ambiguous, "", {"ttyUSB2", "ttyUSB3"});
    row("no such ids", "usb:0403:6011", Status::NoMatch, "", usb);
    row("no such serial", "usb:0403:6001:C1", Status::NoMatch, "", usb);
    for (const char *sText : {"usb:", "usb:0x403:6001", "usb:04031:6001", "usb:0403:6001:"})
        row(sText, sText, Status::Invalid);
    row("port name", "ttyUSB0", Status::Resolved, "ttyUSB0");
    row("missing device path", "/dev/ttyUSB9", Status::Resolved, "/dev/ttyUSB9");
    row("link to a listed port", "@by-id", Status::Resolved, "ttyV0", {}, "/dev/zero");
    row("link to another device", "@by-id", Status::Resolved, "/dev/null", {}, "/dev/null");
    row("link to a file", "@by-id", Status::NoMatch, "", {}, "@file");
    row("dangling link", "@by-id", Status::NoMatch, "", usb, "/dev/servoprog-gone");
    row("unplugged by-id link", "/dev/serial/by-id/usb-servoprog-missing-if00-port0", Status::NoMatch, "", usb);
}

void TestPorts::resolve()
{
    QFETCH(QString, text);
    QFETCH(QString, linkTarget);
    QFETCH(Status, status);
    QFETCH(QString, port);
    QFETCH(QStringList, candidates);
    QTemporaryDir dir;
    QVERIFY(QFile(dir.filePath("plain-file")).open(QIODevice::WriteOnly));
    linkTarget.replace("@file", dir.filePath("plain-file"));
    text.replace('@', dir.path() + '/');
    QVERIFY(linkTarget.isEmpty() || QFile::link(linkTarget, text));
    const PortResolution resolution = resolvePort(text, kPorts);
    QCOMPARE(resolution.nStatus, status);
    QCOMPARE(resolution.candidates, candidates);
    QCOMPARE(resolution.sPort, port);
    QCOMPARE(resolution.sMessage.isEmpty(), status == Status::Resolved);
    // A refusal names what was asked for and every candidate.
    for (const QString &s : candidates + QStringList{status == Status::Resolved ? QString() : text})
        QVERIFY2(resolution.sMessage.contains(s), qPrintable(resolution.sMessage));
}

void TestPorts::openAdvice_data()
{
    QTest::addColumn<PortOpenError>("error");
    QTest::addColumn<QVector<PortDescription>>("ports");
    QTest::addColumn<QString>("text");
    auto row = [](const char *sName, const PortOpenError &error, const QString &sText,
                  const QVector<PortDescription> &ports = {}) { QTest::newRow(sName) << error << ports << sText; };
    const QString sUdev = "the udev rule " SERVOPROG_INSTALL_PREFIX "/lib/udev/rules.d/70-servoprog.rules that the "
                          "package installs (replug the converter afterwards; see " SERVOPROG_INSTALL_PREFIX
                          "/share/doc/servoprog/docs/install.md)";
    row("permission, group", {Cause::PermissionDenied, "/dev/ttyUSB0", "dialout", "", 0, ""},
        "/dev/ttyUSB0: permission denied. Join the group dialout that owns it (sudo usermod -aG dialout $USER, then "
        "log out and in again) or use "
            + sUdev + ".");
    row("permission, root's group", {Cause::PermissionDenied, "/dev/ttyUSB0", "root", "", 0, ""},
        "/dev/ttyUSB0: permission denied. Use " + sUdev + ", or run as a user who may open the device.");
    row("no such device", {Cause::NoSuchDevice, "/dev/ttyUSB7", "", "", 0, ""},
        "/dev/ttyUSB7: no such device. Ports found: ttyS0, ttyUSB0 (usb:0403:6001:A9XYZ), ttyUSB1 "
        "(usb:0403:6001:B7QRS).",
        kPorts.mid(0, 3));
    row("no such device, no ports", {Cause::NoSuchDevice, "FTDI2", "", "", 0, ""},
        "FTDI2: no such device, and no serial port was found; is the converter plugged in?");
    const QString sInUse = "/dev/ttyUSB0 is in use by another program%1; close it or choose another port.";
    row("in use, owner known", {Cause::InUse, "/dev/ttyUSB0", "", "servoprog-cli", 4711, ""},
        sInUse.arg(" (servoprog-cli, process 4711)"));
    row("in use, process known", {Cause::InUse, "/dev/ttyUSB0", "", "", 4711, ""}, sInUse.arg(" (process 4711)"));
    row("in use, owner unknown", {Cause::InUse, "/dev/ttyUSB0", "", "", 0, ""}, sInUse.arg(""));
    row("other", {Cause::Other, "/dev/ttyS1", "", "", 0, "Input/output error"}, "/dev/ttyS1: Input/output error.");
    row("other, no words", {Cause::Other, "/dev/ttyS1", "", "", 0, ""}, "/dev/ttyS1 cannot be opened.");
    row("none", {Cause::None, "/dev/ttyS1", "", "", 0, ""}, "", kPorts);
}

void TestPorts::openAdvice()
{
    QFETCH(PortOpenError, error);
    QFETCH(QVector<PortDescription>, ports);
    QFETCH(QString, text);
    QCOMPARE(portOpenAdvice(error, ports), text);
}

void TestPorts::enumeration_data()
{
    QTest::addColumn<Converters>("converters");
    QTest::addColumn<QString>("layer");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<PortMap>("map"); // after; before, it is {4, 0}
    QTest::addColumn<bool>("comApi");
    // clang-format off
    QTest::newRow("none keeps the old map")    << Converters{} << "" << QStringList{} << PortMap{{4, 0}} << false;
    QTest::newRow("listing fails: old map")    << Converters{{17, 3}} << "createDeviceInfoList=2" << QStringList{} << PortMap{{4, 0}} << false;
    QTest::newRow("device list fails: empty")  << Converters{{17, 3}} << "getDeviceInfoList=2" << QStringList{} << PortMap{} << false;
    QTest::newRow("7 then 3 in device order")  << Converters{{17, 7}, {18, 3}} << "" << QStringList{"FTDI7", "FTDI3"} << PortMap{{3, 1}, {7, 0}} << false;
    QTest::newRow("no location: serial ports") << Converters{{0, 5}, {17, 3}} << "" << QStringList{"FTDI5", "FTDI3"} << PortMap{{3, 1}, {5, 0}} << true;
    QTest::newRow("unopenable, unreadable, 0, negative left out")
        << Converters{{0xBAD, 4}, {17, -99}, {18, 0}, {19, -4}, {20, 5}} << "" << QStringList{"FTDI5"} << PortMap{{5, 4}} << false;
    QTest::newRow("same number: later wins")   << Converters{{17, 3}, {18, 3}} << "" << QStringList{"FTDI3", "FTDI3"} << PortMap{{3, 1}} << false;
    // clang-format on
}

void TestPorts::enumeration()
{
    QFETCH(Converters, converters);
    QFETCH(QString, layer);
    QFETCH(QStringList, ports);
    QFETCH(PortMap, map);
    QFETCH(bool, comApi);
    ScriptedFtdiApi api;
    api.converters = converters;
    api.script(layer);
    setFtdiPortMap({{4, 0}});
    useComApi = !comApi;
    QCOMPARE(listFtdiPorts(api), ports);
    QCOMPARE(ftdiPortMap(), map);
    QCOMPARE(bool(useComApi), comApi);
    QVERIFY(api.handles.empty()); // each converter opened for its number is closed again
}

// Each row: the layer's script (the transport is open on port number 3 =
// device 0 unless "closed"), one operation, its result, the layer calls it
// made and what follows: read, the number of bytes; open, the cause; else
// the rate.
void TestPorts::transport_data()
{
    QTest::addColumn<QString>("layer");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("calls");
    QTest::addColumn<QString>("after");
    const QString sOpened = "open 0|data 8 0 0|flow 0 0 0|latency 2|rate %1|timeouts 1 0";
    // clang-format off
    QTest::newRow("open, 11 characters")   << "closed" << "open FTDI0000003 115200" << 0 << sOpened.arg(115200) << "115200";
    QTest::newRow("open, 12 characters")   << "closed" << "open COM000000003 0" << 1 << "" << "None";
    QTest::newRow("open, other number")    << "closed" << "open FTDI4 0" << 11 << "" << "NoSuchDevice";
    QTest::newRow("open, empty map")       << "closed nomap" << "open FTDI3 0" << 11 << "createDeviceInfoList" << "NoSuchDevice";
    QTest::newRow("open fails")            << "closed open=3" << "open FTDI3 0" << 11 << "open 0" << "Other";
    QTest::newRow("open, access denied")   << "closed open=256" << "open FTDI3 0" << 11 << "open 0" << "PermissionDenied";
    QTest::newRow("open, claimed")         << "closed open=257" << "open FTDI3 0" << 11 << "open 0" << "InUse";
    QTest::newRow("reopen closes first")   << "" << "open FTDI3 0" << 0 << "close|" + sOpened.arg(9600) << "9600";
    QTest::newRow("close")                 << "" << "close" << 0 << "close" << "";
    for (const char *op : {"close", "setTimeout 5", "setBaudRate 9600", "getBaudRate", "read 4", "write 4", "purge"})
        QTest::addRow("closed: %s", op)    << "closed" << op << (QByteArray(op).startsWith("setTimeout") ? -1 : 12) << "" << "";
    QTest::newRow("time-out 250")          << "" << "setTimeout 250" << 0 << "timeouts 250 0" << "";
    QTest::newRow("rate")                  << "" << "setBaudRate 230400" << 0 << "rate 230400" << "230400";
    QTest::newRow("rate refused, kept")    << "rate=5" << "setBaudRate 921600" << 12 << "rate 921600" << "9600";
    QTest::newRow("read, nothing waiting") << "" << "read 64" << 101 << "queue|read 1" << "";
    QTest::newRow("read, 5 of 64")         << "rx=5" << "read 64" << 0 << "queue|read 5" << "5";
    QTest::newRow("read, 100 for 64")      << "rx=100" << "read 64" << 0 << "queue|read 64" << "64";
    QTest::newRow("read, queue unknown")   << "rx=3 queue=4" << "read 64" << 0 << "queue|read 1" << "1";
    QTest::newRow("read fails")            << "rx=3 read=4" << "read 8" << 100 << "queue|read 3" << "";
    QTest::newRow("write")                 << "" << "write 16" << 0 << "write 16" << "";
    QTest::newRow("write one byte short")  << "short=1" << "write 16" << 100 << "write 16" << "";
    QTest::newRow("write fails")           << "write=4" << "write 16" << 100 << "write 16" << "";
    QTest::newRow("purge, empty queue")    << "" << "purge" << 0 << "queue" << "";
    QTest::newRow("purge, bytes waiting")  << "rx=3" << "purge" << 0 << "queue|purge 1" << "";
    QTest::newRow("purge, queue unknown")  << "rx=3 queue=4" << "purge" << 0 << "queue" << "";
    // clang-format on
}

void TestPorts::transport()
{
    QFETCH(QString, layer);
    QFETCH(QString, operation);
    QFETCH(int, result);
    QFETCH(QString, calls);
    QFETCH(QString, after);
    ScriptedFtdiApi api;
    TComSerialFTDI transport(api);
    setFtdiPortMap(layer.contains("nomap") ? PortMap() : PortMap{{3, 0}});
    const bool bOpen = !layer.contains("closed");
    QVERIFY(!bOpen || transport.open("FTDI3", 0) == 0);
    api.script(layer);
    api.calls.clear();

    const QStringList op = operation.split(' ');
    const uint32_t nArg = op.last().toUInt();
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
    QCOMPARE(transport.isOpen(), sOp == "close" ? false : sOp == "open" ? result == 0 : bOpen);
    const QStringList causes{"None", "PermissionDenied", "NoSuchDevice", "InUse", "NotSerialDevice", "Other"};
    if (sOp == "open" && result != 0)
        QCOMPARE(int(transport.lastOpenError().nCause), causes.indexOf(after));
    if (sOp == "read" && result == 0) {
        QCOMPARE(buffer.left(int(nValue)), counting(after.toInt()));
        QCOMPARE(buffer.at(int(nArg)), '\xEE'); // nothing beyond the capacity
    } else if (transport.isOpen() && !after.isEmpty()) {
        QCOMPARE(transport.getBaudRate(nValue), 0);
        QCOMPARE(QString::number(nValue), after);
    }
    transport.close();
    QVERIFY(api.handles.empty());
}

// The real libftdi1 layer with no converter attached: nothing found,
// nothing opened, no crash on a null handle.
void TestPorts::withoutConverter()
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
void TestPorts::streamingConverter()
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

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_ports.moc"
