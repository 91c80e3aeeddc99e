// The simulated drive's own promises that the link and worker tests take
// for granted: it refuses options it cannot use with a clear message, each
// injected fault hits the request it names, as its log says, and its flash
// commands are as strict as a real drive's, so a tool that relies on a
// lenient drive fails here and not in the field.
#include "LinkTransaction.h"
#include "Lzrw3a.h"
#include "MonitorObjects.h"
#include "SimDrive.h"
#include "TBootMonitorLink.h"
#include "TComSerialPort.h"

#include <QtTest>

class TestSimDrive : public QObject
{
    Q_OBJECT

private slots:
    void drive_data();
    void drive();
    void flashCommands_data();
    void flashCommands();
};

void TestSimDrive::drive_data()
{
    QTest::addColumn<QStringList>("arguments"); // "@big": a file larger than the flash
    QTest::addColumn<QString>("error");
    QTest::addColumn<QList<int>>("probes"); // three reads of the rate object: status or code
    QTest::addColumn<QString>("logged");    // in request 2's log line, or in the start line
    using P = QList<int>;
    auto refused = [](const char *sName, const QStringList &arguments, const QString &sError) {
        QTest::newRow(sName) << arguments << sError << P{} << "";
    };
    refused("rate outside the table", {"--baud", "12345"},
            "--baud: 12345 is not one of 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600");
    refused("unknown option", {"--frobnicate"}, "unknown option '--frobnicate'");
    refused("page time over a second", {"--page-us", "1000001"},
            "--page-us: '1000001' is not a usable time in microseconds");
    refused("erase time over an hour, by its other name", {"--erase-time", "3600001"},
            "--erase-ms: '3600001' is not a usable time in milliseconds");
    refused("size 0", {"--flash-size", "0"}, "--flash-size: '0' is not a usable size");
    refused("sector not dividing flash", {"--flash-size", "100K", "--sector-size", "64K"},
            "the sector size must divide the flash size and the page size the sector size");
    refused("image larger than the flash", {"--flash-size", "64K", "--flash0", "@big"}, "more than the device's 65536");
    refused("image larger than the EEPROM, by its other name", {"--eeprom-size", "64K", "--eeprom0", "@big"},
            "more than the device's 65536");
    for (const char *sFault : {"melt:1", "drop", "busy:1:256"})
        refused(sFault, {"--fault", sFault}, QStringLiteral("--fault: cannot use '%1'").arg(sFault));

    QTest::newRow("sizes and rate") << QStringList{"--baud=57600", "--flash-size", "0x40000", "--sector-size", "4K"}
                                    << "" << P{0, 0, 0} << "baud=57600 state=monitor flash=0x40000 sector=0x1000";
    auto fault = [](const char *sFault, const P &probes, const char *sLogged) {
        QTest::newRow(sFault) << QStringList{"--fault", sFault} << "" << probes << sLogged;
    };
    fault("drop:2", {0, 101, 0}, "status=none fault=drop");
    fault("corrupt:2", {0, 100, 0}, "status=0 fault=corrupt");
    fault("busy:2", {0, 203, 0}, "status=203 fault=busy");
    fault("busy:2:110", {0, 110, 0}, "status=110 fault=busy");
    fault("life:2:40", {0, 0, 0}, "status=0 fault=life");
    fault("silent:1", {0, 101, 101}, "status=none fault=silent");
    fault("stream:1", {0, 101, 101}, "status=none fault=stream");
}

void TestSimDrive::drive()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QFETCH(QList<int>, probes);
    QFETCH(QString, logged);
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");
    SimDrive sim;
    arguments.replaceInStrings("@big", sim.writeFile("big.bin", QByteArray(64 * 1024 + 1, 0)));
    QCOMPARE(sim.start(arguments), error.isEmpty());
    if (!error.isEmpty()) {
        QVERIFY2(sim.errorString().contains(error), qPrintable(sim.errorString()));
        return;
    }
    TComSerialPort port;
    QCOMPARE(port.open(sim.portName().toLocal8Bit().constData(), arguments.contains("--baud=57600") ? 57600 : 9600), 0);
    port.setTimeout(100);
    QList<int> results;
    for (int i = 0; i < probes.size(); ++i) {
        ServiceExchange exchange;
        exchange.nRequestLength = 5;
        exchange.nResponseCapacity = 16;
        memcpy(exchange.aRequest, "\x04\x5F\xB0\x01\x04", 5);
        const int nResult = transact(port, exchange, 250);
        results << (nResult != 0 ? nResult : exchange.aResponse[1]);
    }
    QCOMPARE(results, probes);
    port.close();
    QVERIFY(sim.stop());
    const QList<SimDrive::LogEntry> entries = sim.logEntries();
    const QString sLine = arguments.first() == "--fault" ? entries.value(1).sLine : sim.logLines().value(0);
    QVERIFY2(sLine.contains(logged), qPrintable(sLine));
    // The fault hits the request it names and no other.
    QCOMPARE(int(entries.size()), 3);
    QVERIFY(!entries.last().sLine.contains("fault=") || probes.last() == 101);
}

using namespace MonitorObjects;

// Each row sends flash commands (code, parameter 2, parameter 3) to a drive
// whose flash holds 0F everywhere, with a packed block of 256 bytes of F0 in
// its buffer; packed: its length. The last command's log line tells.
void TestSimDrive::flashCommands_data()
{
    QTest::addColumn<QList<quint32>>("commands");
    QTest::addColumn<QString>("logged");
    using C = QList<quint32>;
    const quint32 packed = 0xFFFFFFFF;
    const QString sRefused = QStringLiteral("status=%1").arg(CommError::InvalidValue);
    QTest::newRow("programming clears bits only")
        << C{Flash::kDecompress, packed, 256, Flash::kProgram, 0, 256, Flash::kVerify, 0, 256} << "result=1";
    QTest::newRow("programming an erased sector")
        << C{Flash::kEraseSector, 0x4000, 0x4000, Flash::kDecompress, packed, 256,
             Flash::kProgram,     0x4000, 256,    Flash::kVerify,     0x4000, 256}
        << "result=0";
    QTest::newRow("erase off a sector boundary") << C{Flash::kEraseSector, 0x4100, 0x4000} << sRefused;
    QTest::newRow("block expanding to another length") << C{Flash::kDecompress, packed, 255} << "result=1";
}

void TestSimDrive::flashCommands()
{
    QFETCH(QList<quint32>, commands);
    QFETCH(QString, logged);
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");
    SimDrive sim;
    const QString sFlash = sim.writeFile("flash.bin", QByteArray(0x10000, 0x0F));
    QVERIFY(sim.start({"--flash-size", "64K", "--sector-size", "16K", "--flash0", sFlash}));
    TBootMonitorLink link(new TComSerialPort);
    link.setPortName(sim.portName());
    QCOMPARE(link.connectMonitor(), 0);
    QByteArray work(int(lzrw3a::kWorkSize), 0), block(int(lzrw3a::compressBound(256)), 0);
    const QByteArray data(256, char(0xF0));
    quint32 nPacked = 0;
    QCOMPARE(compressBlock(reinterpret_cast<const uint8_t *>(data.constData()), 256, work.data(),
                           reinterpret_cast<uint8_t *>(block.data()), size_t(block.size()), &nPacked),
             0);
    QCOMPARE(link.writeObject(Flash::kData, 1, reinterpret_cast<const uint8_t *>(block.constData()), int(nPacked)), 0);
    for (int i = 0; i + 2 < commands.size(); i += 3) {
        QCOMPARE(link.writeU32(Flash::kCommand, kParam2Sub, commands[i + 1] == 0xFFFFFFFF ? nPacked : commands[i + 1]),
                 0);
        QCOMPARE(link.writeU32(Flash::kCommand, kParam3Sub, commands[i + 2]), 0);
        link.writeU32(Flash::kCommand, kCommandSub, commands[i]);
    }
    link.disconnectMonitor();
    QVERIFY(sim.stop());
    const QString sLine = sim.logEntries().last().sLine;
    QVERIFY2(sLine.contains(logged), qPrintable(sLine));
}

QTEST_GUILESS_MAIN(TestSimDrive)
#include "tst_simdrive.moc"
