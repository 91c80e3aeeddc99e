// The link over real pseudo-terminals: single transactions against a far
// end the test plays byte by byte, and the connection and services against
// the simulated drive with its injected faults.
#include "CommError.h"
#include "LinkFrame.h"
#include "Pty.h"
#include "SimDrive.h"
#include "TBootMonitorLink.h"
#include "TComSerialPort.h"

#include <QtTest>

#include <thread>

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void transact_data();
    void transact();
    void link_data();
    void link();
};

// Each row: bytes already waiting before the request, the request, the far
// end's answer (one write per piece, each after the port read the one
// before), optionally preceded by a stream of '*' for streamMs.
void TestLink::transact_data()
{
    QTest::addColumn<QByteArray>("stale");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("streamMs");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("payload");

    const auto hex = [](const char *s) { return QByteArray::fromHex(s); };
    const QByteArray probe = hex("0412340104");
    const QByteArray payload = hex("01001234");
    const QByteArray good = LinkFrame::encode(payload);
    QByteArray bad = good;
    bad[bad.size() - 1] = char(bad.back() ^ 1);
    using L = QList<QByteArray>;
    const QByteArray none;
    // clang-format off
    QTest::newRow("plain")                << none << probe << L{good} << 0 << 8 << 0 << payload;
    QTest::newRow("largest request")      << none << QByteArray(261, '\x10') << L{good} << 0 << 8 << 0 << payload;
    QTest::newRow("stale answer purged")  << LinkFrame::encode(hex("0100FFFF")) << probe << L{good} << 0 << 8 << 0 << payload;
    QTest::newRow("noise before")         << none << probe << L{hex("00FF5503") + good} << 0 << 8 << 0 << payload;
    QTest::newRow("LIFE_TRIGGERs before") << none << probe << L{"****", "**", good} << 0 << 8 << 0 << payload;
    QTest::newRow("split in the escape")  << none << probe << L{hex("2A100201"), hex("0010"), hex("10AA1003CE")} << 0 << 8 << 0 << hex("010010AA");
    QTest::newRow("overflow")             << none << probe << L{good} << 0 << 3 << 100 << none;
    QTest::newRow("bad checksum")         << none << probe << L{bad, good} << 0 << 8 << 100 << none;
    QTest::newRow("silence")              << none << probe << L{} << 0 << 8 << 101 << none;
    // A far end that never stops talking is given up on at the deadline.
    QTest::newRow("endless LIFE_TRIGGERs") << none << probe << L{good} << 700 << 8 << 101 << none;
    // clang-format on
}

void TestLink::transact()
{
    QFETCH(QByteArray, stale);
    QFETCH(QByteArray, request);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, streamMs);
    QFETCH(int, capacity);
    QFETCH(int, result);
    QFETCH(QByteArray, payload);

    Pty pty;
    QVERIFY(pty.isValid());
    TComSerialPort transport;
    QCOMPARE(transport.open(pty.pathBytes().constData(), 115200), 0);
    transport.setTimeout(200);
    QVERIFY(pty.write(stale) && pty.waitPending(int(stale.size())));

    const QByteArray wire = LinkFrame::encode(request);
    QByteArray received;
    std::thread peer([&] {
        received = pty.read(5000, int(wire.size()));
        QElapsedTimer streaming;
        streaming.start();
        while (streaming.elapsed() < streamMs) {
            pty.write("*");
            QThread::msleep(2);
        }
        for (const QByteArray &piece : pieces) {
            pty.write(piece);
            pty.waitPending(0, 300);
        }
    });
    ServiceExchange exchange;
    exchange.nRequestLength = int(request.size());
    exchange.nResponseCapacity = capacity;
    memcpy(exchange.aRequest, request.constData(), size_t(request.size()));
    const int nResult = ::transact(transport, exchange, 400);
    peer.join();
    QCOMPARE(received.toHex(' '), wire.toHex(' '));
    QCOMPARE(nResult, result);
    if (result == 0)
        QCOMPARE(QByteArray(reinterpret_cast<char *>(exchange.aResponse), exchange.nResponseLength), payload);
}

using Phase = TBootMonitorLink::ConnectPhase;

// Connecting to the simulated drive (its options and faults), then one
// service call; every successful connection must also carry on normally
// after that call.
void TestLink::link_data()
{
    QTest::addColumn<QStringList>("drive"); // empty: no drive, a port that does not exist
    QTest::addColumn<uint>("requested");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("connect");
    QTest::addColumn<QString>("where"); // the failed connection phase
    QTest::addColumn<uint>("rate");     // the link's rate afterwards
    QTest::addColumn<int>("rateWrites");
    QTest::addColumn<QList<uint>>("ignored"); // rates the drive heard probes at and ignored
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("message");

    using R = QList<uint>;
    auto at = [](const char *sRate, QStringList faults = {}) { return QStringList{"--baud", sRate} + faults; };
    auto fault = [](const char *s) { return QStringList{"--fault", s}; };
    const QString ok = "No error";
    // clang-format off
    QTest::newRow("9600, default rate")    << at("9600") << 0u << 0 << 0 << "" << 115200u << 1 << R{} << "rate" << 0 << ok;
    QTest::newRow("scan up to 38400")      << at("38400") << 0u << 0 << 0 << "" << 115200u << 1 << R{9600, 19200} << "rate" << 0 << ok;
    QTest::newRow("requested 921600")      << at("9600") << 921600u << 0 << 0 << "" << 921600u << 1 << R{} << "data" << 0 << ok;
    QTest::newRow("switch refused")        << at("9600", fault("busy:3:174")) << 0u << 0 << 0 << "" << 9600u << 1 << R{} << "rate" << 0 << ok;
    QTest::newRow("rate read refused")     << at("9600", fault("busy:2:203")) << 0u << 0 << 0 << "" << 9600u << 0 << R{} << "rate" << 0 << ok;
    QTest::newRow("LIFE_TRIGGERs, probe")  << at("9600", fault("life:1:300")) << 0u << 0 << 0 << "" << 115200u << 1 << R{} << "rate" << 0 << ok;
    QTest::newRow("noise line, retries")   << at("9600", fault("stream:0")) << 0u << 2 << 101 << "detecting the rate" << 0u << 0 << R{} << "read" << -2 << "Service request without connect";
    QTest::newRow("retry, switch lost")    << at("9600", fault("drop:3")) << 0u << 1 << 0 << "" << 115200u << 2 << R{} << "rate" << 0 << ok;
    // The retry budget at its exact size and one short: a refused switch
    // costs one, a garbled confirmation too; with none left a refusal keeps
    // the detected rate and a garbled confirmation fails.
    QTest::newRow("confirmation garbled, 1 of 1")  << at("9600", fault("corrupt:4")) << 0u << 1 << 0 << "" << 115200u << 1 << R{} << "rate" << 0 << ok;
    QTest::newRow("refused twice, 1 of 2")         << at("9600", fault("busy:3:174") + fault("busy:5:174")) << 0u << 1 << 0 << "" << 9600u << 2 << R{} << "rate" << 0 << ok;
    QTest::newRow("refused twice, 2 of 2")         << at("9600", fault("busy:3:174") + fault("busy:5:174")) << 0u << 2 << 0 << "" << 115200u << 3 << R{} << "rate" << 0 << ok;
    QTest::newRow("refused, then garbled, 1 of 2") << at("9600", fault("busy:3:174") + fault("corrupt:6")) << 0u << 1 << 100 << "confirming 115200 baud" << 115200u << 2 << R{} << "read" << -2 << "Service request without connect";
    QTest::newRow("refused, then garbled, 2 of 2") << at("9600", fault("busy:3:174") + fault("corrupt:6")) << 0u << 2 << 0 << "" << 115200u << 2 << R{} << "rate" << 0 << ok;
    // A lost probe answer at the monitor's rate costs a whole second scan.
    QTest::newRow("probe lost, rescan 1 of 1")     << at("9600", fault("drop:1")) << 0u << 1 << 0 << "" << 115200u << 1 << R{} << "rate" << 0 << ok;
    QTest::newRow("no such port")          << QStringList() << 0u << 0 << 11 << "opening the port" << 0u << 0 << R{} << "read" << -2 << "Service request without connect";
    QTest::newRow("status 174")            << at("9600", fault("busy:3:174")) << 9600u << 0 << 0 << "" << 9600u << 0 << R{} << "read" << 174 << "Object access denied";
    QTest::newRow("answer garbled")        << at("9600", fault("corrupt:3")) << 9600u << 0 << 0 << "" << 9600u << 0 << R{} << "read" << 100 << "Unspecified communication error (driver)";
    QTest::newRow("short answer")          << at("9600") << 9600u << 0 << 0 << "" << 9600u << 0 << R{} << "read 5" << 120 << "Serial protocol error";
    QTest::newRow("identification")        << at("9600") << 9600u << 0 << 0 << "" << 9600u << 0 << R{} << "ident" << 0 << ok;
    QTest::newRow("unknown code")          << at("9600") << 9600u << 0 << 0 << "" << 9600u << 0 << R{} << "" << 99 << "Unknown communcation error code 99";
    // clang-format on
}

void TestLink::link()
{
    QFETCH(QStringList, drive);
    QFETCH(uint, requested);
    QFETCH(int, retries);
    QFETCH(int, connect);
    QFETCH(QString, where);
    QFETCH(uint, rate);
    QFETCH(int, rateWrites);
    QFETCH(QList<uint>, ignored);
    QFETCH(QString, call);
    QFETCH(int, result);
    QFETCH(QString, message);
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");

    SimDrive sim;
    TBootMonitorLink link(new TComSerialPort);
    if (!drive.isEmpty())
        QVERIFY2(sim.start(drive), qPrintable(sim.errorString()));
    link.setPortName(drive.isEmpty() ? QStringLiteral("/nonexistent/tty") : sim.portName());
    link.setConnectRetries(retries);
    QCOMPARE(link.setRequestedBaudRate(requested), 0);

    QCOMPARE(link.connectMonitor(), connect);
    QCOMPARE(TBootMonitorLink::connectPhaseText(link.lastConnectPhase(), link.lastConnectTargetRate()), where);
    QCOMPARE(link.isOpen(), connect == 0);
    QCOMPARE(link.currentBaudRate(), rate);
    if (connect == 0) {
        QCOMPARE(link.timeout(), 500u);
        link.setTimeout(200);
    }

    int nResult = result;
    uint32_t nValue = 0xDEAD;
    uint8_t aData[128];
    if (call == "rate") { // both ends agree on the rate
        nResult = link.readU32(0x5FB0, 1, nValue);
        QCOMPARE(nValue, rate);
    } else if (call == "read") {
        nResult = link.readU32(0x5E10, 2, nValue);
        QCOMPARE(nValue, nResult == 0 ? 0u : 0xDEADu);
    } else if (call == "read 5") {
        nResult = link.readObject(0x5FB0, 1, aData, 5);
    } else if (call == "ident") {
        QString s1, s2, s3;
        nResult = link.readDeviceIdent(s1, s2, s3);
        QCOMPARE(s1 + "|" + s3, QStringLiteral("servoprog-sim|1.0"));
    } else if (call == "data") { // plenty of bytes to escape, both ends of the buffer
        QByteArray block(128, 0), back(128, 0);
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(i % 3 == 0 ? 0x10 : i);
        for (uint8_t nSub : {uint8_t(1), uint8_t(64)}) {
            QCOMPARE(link.writeObject(0x5E12, nSub, reinterpret_cast<const uint8_t *>(block.constData()), 128), 0);
            nResult = link.readObject(0x5E12, nSub, reinterpret_cast<uint8_t *>(back.data()), 128);
            QCOMPARE(back, block);
        }
    }
    QCOMPARE(nResult, result);
    QCOMPARE(TBootMonitorLink::errorText(nResult), message);

    // A failure stays with its transaction: the next one works.
    if (connect == 0) {
        QCOMPARE(link.writeU32(0x5E10, 2, 0x00400000), 0);
        QCOMPARE(link.readU32(0x5E10, 2, nValue), 0);
        QCOMPARE(nValue, 0x00400000u);
        link.disconnectMonitor();
    }
    if (drive.isEmpty())
        return;
    QVERIFY(sim.stop());
    int nWrites = 0;
    for (const SimDrive::LogEntry &entry : sim.logEntries())
        nWrites += entry.sService == "write" && entry.nIndex == 0x5FB0 ? 1 : 0;
    QCOMPARE(nWrites, rateWrites);
    if (!ignored.isEmpty()) {
        QList<uint> rates;
        for (const QString &sLine : sim.logLines().filter("- ignored reason=rate tool="))
            rates << sLine.section("tool=", 1).section(' ', 0, 0).toUInt();
        QCOMPARE(rates, ignored);
    }
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
