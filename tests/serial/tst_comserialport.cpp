// The COM-port transport over real pseudo-terminals: the test plays the far
// end of the line on the master; a second process plays another program
// reaching for the same port.
#include "Pty.h"
#include "TComSerialPort.h"

#include <QtTest>

#include <cstdio>
#include <cstring>
#include <unistd.h>

using Cause = PortOpenError::Cause;

class TestComSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void open_data();
    void open();
    void secondProgramKeptOut_data();
    void secondProgramKeptOut();
    void read_data();
    void read();
    void writeThatCannotBeHandedOverFails();
};

static QByteArray pattern(int nSize)
{
    QByteArray data(nSize, 0);
    for (int i = 0; i < nSize; ++i)
        data[i] = char(i * 7 + 3);
    return data;
}

// "@pty": a pseudo-terminal's slave; "@link": a long link to it; "@file": a
// regular file.
void TestComSerialPort::open_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("result");
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<QString>("device");
    // clang-format off
    QTest::newRow("pty")                << QByteArray("@pty") << 0 << Cause::None << "";
    QTest::newRow("long link to it")    << QByteArray("@link") << 0 << Cause::None << "";
    QTest::newRow("missing device")     << QByteArray("/dev/servoprog-none") << 11 << Cause::NoSuchDevice << "/dev/servoprog-none";
    QTest::newRow("missing port name")  << QByteArray("ttyServoprog9") << 11 << Cause::NoSuchDevice << "/dev/ttyServoprog9";
    QTest::newRow("empty")              << QByteArray("") << 11 << Cause::NoSuchDevice << "";
    QTest::newRow("COM, 11 characters") << QByteArray("COM12345678") << 11 << Cause::NoSuchDevice << "/dev/COM12345678";
    QTest::newRow("com, 12 characters") << QByteArray("com123456789") << 1 << Cause::None << "";
    QTest::newRow("not a terminal")     << QByteArray("/dev/null") << 11 << Cause::NotSerialDevice << "/dev/null";
    QTest::newRow("regular file")       << QByteArray("@file") << 11 << Cause::NotSerialDevice << "@file";
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
    if (name == "@file")
        QVERIFY(QFile(sPath).open(QIODevice::WriteOnly));
    if (name == "@link")
        QVERIFY(QFile::link(pty.path(), sPath));
    if (name.startsWith('@'))
        name = name == "@pty" ? pty.pathBytes() : QFile::encodeName(QFileInfo(sPath).canonicalFilePath());
    device.replace("@file", QString::fromLocal8Bit(name));

    TComSerialPort transport;
    QCOMPARE(transport.open(name.constData(), 0), result);
    QCOMPARE(transport.lastOpenError().nCause, cause);
    QCOMPARE(transport.lastOpenError().sDevice, device);
    uint8_t aBuffer[8] = {};
    uint32_t nCount = 9, nRate = 0;
    if (result == 0) {
        QCOMPARE(pty.lineRate(), 9600u);
        QVERIFY(pty.write("ping"));
        transport.setTimeout(2000);
        QCOMPARE(transport.read(aBuffer, 8, nCount), 0);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(aBuffer), int(nCount)), QByteArray("ping").left(int(nCount)));
        QCOMPARE(transport.write(reinterpret_cast<const uint8_t *>("pong"), 4), 0);
        QCOMPARE(pty.read(2000, 4), QByteArray("pong"));
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
    QCOMPARE(transport.close(), -1);
    QCOMPARE(transport.setBaudRate(9600), -1);
    QCOMPARE(transport.getBaudRate(nRate), -1);
    QCOMPARE(transport.purge(), -1);
    QCOMPARE(transport.read(aBuffer, 4, nCount), 100);
    QCOMPARE(nCount, 0u);
    QCOMPARE(transport.write(aBuffer, 4), 100);
}

// One program per drive: a second one opening the port, by its path or by a
// link, is refused before it sends a byte and told who holds the port (root
// too). A user without access is told the device's group.
void TestComSerialPort::secondProgramKeptOut_data()
{
    QTest::addColumn<bool>("held");
    QTest::addColumn<bool>("throughLink");
    QTest::addColumn<Cause>("cause");
    QTest::newRow("same path") << true << false << Cause::InUse;
    QTest::newRow("through a link") << true << true << Cause::InUse;
    QTest::newRow("no access") << false << false << Cause::PermissionDenied;
}

void TestComSerialPort::secondProgramKeptOut()
{
    QFETCH(bool, held);
    QFETCH(bool, throughLink);
    QFETCH(Cause, cause);
    Pty pty;
    TComSerialPort first;
    QCOMPARE(held ? first.open(pty.pathBytes().constData(), 9600) : 0, 0);
    QTemporaryDir dir;
    const QString sPath = throughLink ? dir.filePath("by-id") : pty.path();
    QVERIFY(!throughLink || QFile::link(pty.path(), sPath));
    // root may open anything: the second program gives its rights up.
    const bool bRoot = ::geteuid() == 0;
    QVERIFY(held || bRoot || QFile::setPermissions(pty.path(), {}));
    QProcess second;
    second.start(QCoreApplication::applicationFilePath(),
                 {"--open-port", sPath, !held && bRoot ? "--drop-rights" : ""});
    QVERIFY(second.waitForFinished(20000));
    QFile::setPermissions(pty.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::WriteGroup);
    const QStringList report = QString::fromLocal8Bit(second.readAllStandardOutput()).trimmed().split('|');
    QCOMPARE(report.size(), 5);
    QCOMPARE(report.at(0) + " " + report.at(1), QStringLiteral("11 %1").arg(int(cause)));
    if (held)
        QCOMPARE(report.at(2) + report.at(3),
                 QString::number(QCoreApplication::applicationPid()) + QCoreApplication::applicationName());
    else
        QCOMPARE(report.at(4), QFileInfo(sPath).group());
    QCOMPARE(pty.read(100), QByteArray()); // not a byte went out
}

// Bytes waiting come back at once, at most the capacity per read; a purge
// drops those the transport already took from the driver and those still
// in it; then a read waits the time-out (and not much longer) for nothing.
void TestComSerialPort::read_data()
{
    QTest::addColumn<int>("waiting");
    QTest::addColumn<uint>("capacity");
    QTest::addColumn<QList<int>>("reads");
    QTest::addColumn<bool>("purge");
    QTest::addColumn<uint>("timeout");
    QTest::newRow("nothing, poll") << 0 << 64u << QList<int>{} << false << 0u;
    QTest::newRow("nothing, 300 ms") << 0 << 64u << QList<int>{} << false << 300u;
    QTest::newRow("5 waiting, capacity 64") << 5 << 64u << QList<int>{5} << false << 50u;
    QTest::newRow("100 waiting, capacity 64") << 100 << 64u << QList<int>{64, 36} << false << 50u;
    QTest::newRow("capacity 1") << 3 << 1u << QList<int>{1, 1, 1} << false << 50u;
    QTest::newRow("purge") << 7 << 1u << QList<int>{1} << true << 100u;
}

void TestComSerialPort::read()
{
    QFETCH(int, waiting);
    QFETCH(uint, capacity);
    QFETCH(QList<int>, reads);
    QFETCH(bool, purge);
    QFETCH(uint, timeout);
    Pty pty;
    TComSerialPort transport;
    QCOMPARE(transport.open(pty.pathBytes().constData(), 115200), 0);
    const QByteArray sent = pattern(waiting);
    QVERIFY(pty.write(sent) && pty.waitPending(waiting));
    QCOMPARE(transport.setTimeout(5000), 0);
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    for (int nExpected : reads) {
        QVector<uint8_t> buffer(int(capacity) + 1, 0xEE);
        uint32_t nCount = 0;
        QCOMPARE(transport.read(buffer.data(), capacity, nCount), 0);
        QCOMPARE(int(nCount), nExpected);
        QCOMPARE(buffer.last(), uint8_t(0xEE));
        received.append(reinterpret_cast<const char *>(buffer.data()), int(nCount));
    }
    QVERIFY2(timer.elapsed() < 2500, "a read with bytes waiting waited for the time-out");
    QCOMPARE(received, sent.left(int(received.size())));
    if (purge) {
        QVERIFY(pty.write(sent) && pty.waitPending(waiting));
        QCOMPARE(transport.purge(), 0);
    }
    QCOMPARE(transport.setTimeout(timeout), 0);
    uint8_t aBuffer[64];
    uint32_t nCount = 99;
    timer.restart();
    QCOMPARE(transport.read(aBuffer, 64, nCount), 101);
    QCOMPARE(nCount, 0u);
    QVERIFY2(timer.elapsed() >= qint64(timeout) - 20 && timer.elapsed() < timeout + 2000,
             qPrintable(QString::number(timer.elapsed())));
}

// Nobody reads the far end: the rest of a big block cannot be handed over
// in time, fails, and does not leak into the next block.
void TestComSerialPort::writeThatCannotBeHandedOverFails()
{
    Pty pty;
    TComSerialPort transport;
    QCOMPARE(transport.open(pty.pathBytes().constData(), 4000000), 0);
    const QByteArray big = pattern(128 * 1024);
    QCOMPARE(transport.write(reinterpret_cast<const uint8_t *>(big.constData()), uint32_t(big.size())), 100);
    QByteArray received = pty.read(300);
    QCOMPARE(transport.write(reinterpret_cast<const uint8_t *>("ABC"), 3), 0);
    received += pty.read(300);
    QVERIFY2(received.size() < big.size() && received.endsWith("ABC"), qPrintable(QString::number(received.size())));
}

// The second program of secondProgramKeptOut: opens the port, sends a byte
// if that works, and reports "result|cause|owner pid|owner|group".
int main(int argc, char *argv[])
{
    if (argc < 3 || std::strcmp(argv[1], "--open-port") != 0) {
        QCoreApplication app(argc, argv);
        TestComSerialPort test;
        return QTest::qExec(&test, argc, argv);
    }
    if (argc >= 4 && std::strcmp(argv[3], "--drop-rights") == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        return 2;
    TComSerialPort transport;
    const int nResult = transport.open(argv[2], 9600);
    if (nResult == 0)
        transport.write(reinterpret_cast<const uint8_t *>("X"), 1);
    const PortOpenError e = transport.lastOpenError();
    std::printf("%d|%d|%lld|%s|%s\n", nResult, int(e.nCause), static_cast<long long>(e.nOwnerPid),
                e.sOwnerProgram.toLocal8Bit().constData(), e.sGroup.toLocal8Bit().constData());
    return 0;
}

#include "tst_comserialport.moc"
