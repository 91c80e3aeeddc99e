// The COM-port transport over real pseudo-terminals: the test plays the far
// end of the line on the master.
#include "Pty.h"
#include "TComSerialPort.h"

#include <QtTest>

#include <numeric>

using Cause = PortOpenError::Cause;

class TestComSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void open_data();
    void open();
    void read();
    void writeThatCannotBeHandedOverFails();
};

// "@pty": a pseudo-terminal's slave; "@link": a long link to it; "@file": a
// regular file. A port in use is held by a transport opened first (another
// program is refused the same way: by the port's lock). Device "@": the one
// named, links followed.
void TestComSerialPort::open_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("result");
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<QString>("device");
    // clang-format off
    QTest::newRow("pty")                    << QByteArray("@pty") << 0 << Cause::None << "";
    QTest::newRow("in use")                 << QByteArray("@pty") << 11 << Cause::InUse << "@";
    QTest::newRow("in use, through a link") << QByteArray("@link") << 11 << Cause::InUse << "@";
    QTest::newRow("empty")                  << QByteArray("") << 11 << Cause::NoSuchDevice << "";
    QTest::newRow("COM, 11 characters")     << QByteArray("COM12345678") << 11 << Cause::NoSuchDevice << "/dev/COM12345678";
    QTest::newRow("com, 12 characters")     << QByteArray("com123456789") << 1 << Cause::None << "";
    QTest::newRow("regular file")           << QByteArray("@file") << 11 << Cause::NotSerialDevice << "@";
    // clang-format on
}

// An open port talks, follows every table rate (read back from the driver,
// kept over a reopen with 0); a closed one refuses everything.
void TestComSerialPort::open()
{
    QFETCH(QByteArray, name);
    QFETCH(int, result);
    QFETCH(Cause, cause);
    QFETCH(QString, device);
    Pty pty;
    QTemporaryDir dir;
    const QString sPath = dir.filePath(name == "@file" ? "image.hex" : "a-rather-long-device-name-for-the-drive");
    QVERIFY(name != "@file" || QFile(sPath).open(QIODevice::WriteOnly));
    QVERIFY(name != "@link" || QFile::link(pty.path(), sPath));
    if (name.startsWith('@'))
        name = name == "@pty" ? pty.pathBytes() : QFile::encodeName(sPath);
    if (device == "@")
        device = QFileInfo(QFile::decodeName(name)).canonicalFilePath();
    TComSerialPort first;
    QVERIFY(cause != Cause::InUse || first.open(pty.pathBytes().constData(), 9600) == 0);

    TComSerialPort transport;
    QCOMPARE(transport.open(name.constData(), 0), result);
    QCOMPARE(transport.lastOpenError().nCause, cause);
    QCOMPARE(transport.lastOpenError().sDevice, device);
    if (cause == Cause::InUse) // the holder is named
        QCOMPARE(transport.lastOpenError().nOwnerPid, QCoreApplication::applicationPid());
    uint8_t aBuffer[8] = {};
    uint32_t nCount = 9, nRate = 0;
    if (result == 0) {
        QCOMPARE(pty.lineRate(), 9600u);
        for (uint nSet : {19200u, 38400u, 57600u, 115200u, 230400u, 460800u, 921600u, 9600u}) {
            QCOMPARE(transport.setBaudRate(nSet), 0);
            for (uint nOpenRate : {0u, nSet}) {
                QCOMPARE(transport.close(), 0);
                QCOMPARE(transport.open(name.constData(), nOpenRate), 0);
                QCOMPARE(transport.getBaudRate(nRate), 0);
                QCOMPARE(nRate, nSet);
                QCOMPARE(pty.lineRate(), nSet);
            }
        }
        QCOMPARE(transport.close(), 0);
    }
    QVERIFY(!transport.isOpen());
    QCOMPARE(QList<int>({transport.close(), transport.setBaudRate(9600), transport.getBaudRate(nRate),
                         transport.purge(), transport.read(aBuffer, 4, nCount), transport.write(aBuffer, 4)}),
             QList<int>({-1, -1, -1, -1, 100, 100}));
    QCOMPARE(nCount, 0u);
}

// Bytes waiting come back at once, at most the capacity per read; a purge
// drops those the transport already took from the driver and those still
// in it; then a read waits the time-out (and not much longer) for nothing.
void TestComSerialPort::read()
{
    Pty pty;
    TComSerialPort transport;
    QCOMPARE(transport.open(pty.pathBytes().constData(), 115200), 0);
    QCOMPARE(transport.setTimeout(5000), 0);
    auto readOnce = [&transport](uint32_t nCapacity) {
        QByteArray buffer(int(nCapacity) + 1, '\xEE');
        uint32_t nCount = 0;
        const int nResult = transport.read(reinterpret_cast<uint8_t *>(buffer.data()), nCapacity, nCount);
        if (!buffer.endsWith('\xEE') || (nResult != 0 && nCount != 0))
            return QByteArray("beyond the capacity, or bytes counted on a failure");
        return nResult == 0 ? buffer.left(int(nCount)) : "result " + QByteArray::number(nResult);
    };
    QByteArray sent(100, 0);
    std::iota(sent.begin(), sent.end(), char(1));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(pty.write(sent) && pty.waitPending(100));
    QCOMPARE(readOnce(64), sent.left(64));
    QCOMPARE(readOnce(64), sent.mid(64));
    QVERIFY(pty.write(sent) && pty.waitPending(100));
    QCOMPARE(readOnce(1), sent.left(1)); // the transport took the other 99 from the driver
    QVERIFY2(timer.elapsed() < 2500, "a read with bytes waiting waited for the time-out");
    QVERIFY(pty.write(sent) && pty.waitPending(100));
    QCOMPARE(transport.purge(), 0);
    for (const uint32_t nTimeout : {300u, 0u}) {
        QCOMPARE(transport.setTimeout(nTimeout), 0);
        timer.restart();
        QCOMPARE(readOnce(64), QByteArray("result 101"));
        QVERIFY2(timer.elapsed() >= qint64(nTimeout) - 20 && timer.elapsed() < nTimeout + 2000,
                 qPrintable(QString::number(timer.elapsed())));
    }
}

// Nobody reads the far end: the rest of a big block cannot be handed over
// in time, fails, and does not leak into the next block.
void TestComSerialPort::writeThatCannotBeHandedOverFails()
{
    Pty pty;
    TComSerialPort transport;
    QCOMPARE(transport.open(pty.pathBytes().constData(), 4000000), 0);
    const QByteArray big(128 * 1024, 'x');
    QCOMPARE(transport.write(reinterpret_cast<const uint8_t *>(big.constData()), uint32_t(big.size())), 100);
    QByteArray received = pty.read(300);
    QCOMPARE(transport.write(reinterpret_cast<const uint8_t *>("ABC"), 3), 0);
    received += pty.read(300);
    QVERIFY2(received.size() < big.size() && received.endsWith("ABC"), qPrintable(QString::number(received.size())));
}

QTEST_GUILESS_MAIN(TestComSerialPort)
#include "tst_comserialport.moc"
