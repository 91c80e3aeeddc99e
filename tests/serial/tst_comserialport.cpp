// The COM-port transport over real pseudo-terminals: the test holds the
// master side and plays the far end of the line; a second process plays
// another program on the same port.
#include "TComSerialPort.h"

#include <QtTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using Cause = PortOpenError::Cause;

namespace {

// A pseudo-terminal pair. The slave stays open here too, so the master never
// sees a hang-up while the transport closes and reopens.
class PtyPair
{
public:
    PtyPair()
    {
        char sName[128] = {};
        // Raw from the start, so nothing is echoed or held back for a line
        // end before the transport configures the line.
        termios tio;
        std::memset(&tio, 0, sizeof tio);
        cfmakeraw(&tio);
        cfsetispeed(&tio, B38400);
        cfsetospeed(&tio, B38400);
        if (::openpty(&m_nMaster, &m_nSlave, sName, &tio, nullptr) == 0)
            m_sSlave = QByteArray(sName);
    }
    ~PtyPair()
    {
        if (m_nMaster >= 0)
            ::close(m_nMaster);
        if (m_nSlave >= 0)
            ::close(m_nSlave);
    }
    bool isValid() const { return !m_sSlave.isEmpty(); }
    const char *slaveName() const { return m_sSlave.constData(); }

    bool send(const QByteArray &data) const
    {
        return ::write(m_nMaster, data.constData(), size_t(data.size())) == data.size();
    }

    // Everything that arrives within nQuietMs of the previous byte.
    QByteArray receive(int nQuietMs = 300) const
    {
        QByteArray data;
        for (;;) {
            pollfd pfd{m_nMaster, POLLIN, 0};
            if (::poll(&pfd, 1, nQuietMs) <= 0)
                return data;
            char chunk[65536];
            const ssize_t nRead = ::read(m_nMaster, chunk, sizeof chunk);
            if (nRead <= 0)
                return data;
            data.append(chunk, int(nRead));
        }
    }

    // Waits until nBytes sent from the master have reached the slave's input
    // queue (the pty moves them over asynchronously).
    bool waitUntilArrived(int nBytes) const
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000) {
            int nQueued = 0;
            if (::ioctl(m_nSlave, FIONREAD, &nQueued) == 0 && nQueued >= nBytes)
                return true;
            QThread::msleep(2);
        }
        return false;
    }

    // The line speed as the far end sees it in the terminal settings.
    speed_t speed() const
    {
        termios tio;
        return ::tcgetattr(m_nMaster, &tio) == 0 ? cfgetospeed(&tio) : speed_t(0);
    }

private:
    int m_nMaster = -1;
    int m_nSlave = -1;
    QByteArray m_sSlave;
};

// A transport opened on the slave of a fresh pseudo-terminal pair.
struct OpenLine
{
    PtyPair pty;
    TComSerialPort transport;
    bool bOpen;
    explicit OpenLine(uint32_t nRate) : bOpen(pty.isValid() && transport.open(pty.slaveName(), nRate) == 0) {}
};

QByteArray pattern(int nSize)
{
    QByteArray data(nSize, 0);
    for (int i = 0; i < nSize; ++i)
        data[i] = char(i * 7 + 3);
    return data;
}

} // namespace

class TestComSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void openErrors_data();
    void openErrors();
    void secondProgramKeptOut_data();
    void secondProgramKeptOut();
    void longDevicePathAccepted();
    void closedTransport();
    void closeAndReopen();

    void readTimeout_data();
    void readTimeout();
    void partialReads_data();
    void partialReads();
    void rateSetAndReadBack_data();
    void rateSetAndReadBack();
    void purgeDropsReceived();
    void writeDelivers();
    void writeThatCannotBeHandedOverFails();
    void usedFromThreadWithoutEventLoop();
};

void TestComSerialPort::init()
{
    // Any warning (a socket notifier in the wrong thread, a port error) is
    // a fault here.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void TestComSerialPort::openErrors_data()
{
    QTest::addColumn<QByteArray>("name"); // "@file": a regular file
    QTest::addColumn<int>("result");
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<QString>("device");
    QTest::newRow("missing device") << QByteArray("/dev/servoprog-no-such-port") << 11 << Cause::NoSuchDevice
                                    << "/dev/servoprog-no-such-port";
    QTest::newRow("missing port name") << QByteArray("ttyServoprogMissing9") << 11 << Cause::NoSuchDevice
                                       << "/dev/ttyServoprogMissing9";
    QTest::newRow("empty") << QByteArray("") << 11 << Cause::NoSuchDevice << "";
    QTest::newRow("COM, 11 characters") << QByteArray("COM12345678") << 11 << Cause::NoSuchDevice << "/dev/COM12345678";
    QTest::newRow("COM, 12 characters") << QByteArray("COM123456789") << 1 << Cause::None << "";
    QTest::newRow("com, 12 characters") << QByteArray("com123456789") << 1 << Cause::None << "";
    QTest::newRow("device, not a terminal") << QByteArray("/dev/null") << 11 << Cause::NotSerialDevice << "/dev/null";
    QTest::newRow("regular file") << QByteArray("@file") << 11 << Cause::NotSerialDevice << "@file";
}

void TestComSerialPort::openErrors()
{
    QFETCH(QByteArray, name);
    QFETCH(int, result);
    QFETCH(Cause, cause);
    QFETCH(QString, device);
    QTemporaryDir dir;
    if (name == "@file") {
        QFile file(dir.filePath("image.hex"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        device = QFileInfo(file).canonicalFilePath();
        name = QFile::encodeName(device);
    }
    TComSerialPort transport;
    QCOMPARE(transport.open(name.constData(), 9600), result);
    QVERIFY(!transport.isOpen());
    QCOMPARE(transport.lastOpenError().nCause, cause);
    QCOMPARE(transport.lastOpenError().sDevice, device);
    QCOMPARE(transport.close(), -1);
}

// One program per drive: a second program opening the port, by its path or
// by a link to it, is refused before it sends a byte and is told who holds
// the port; root is kept out too. The first one goes on undisturbed. A user
// without access is told the device's group.
void TestComSerialPort::secondProgramKeptOut_data()
{
    QTest::addColumn<bool>("held"); // this test holds the port open
    QTest::addColumn<bool>("throughLink");
    QTest::addColumn<bool>("unprivileged"); // the second program may not open the device
    QTest::addColumn<Cause>("cause");
    QTest::newRow("same path") << true << false << false << Cause::InUse;
    QTest::newRow("through a link") << true << true << false << Cause::InUse;
    QTest::newRow("no access") << false << false << true << Cause::PermissionDenied;
}

void TestComSerialPort::secondProgramKeptOut()
{
    QFETCH(bool, held);
    QFETCH(bool, throughLink);
    QFETCH(bool, unprivileged);
    QFETCH(Cause, cause);

    PtyPair pty;
    QVERIFY(pty.isValid());
    TComSerialPort first;
    if (held)
        QCOMPARE(first.open(pty.slaveName(), 9600), 0);
    QTemporaryDir dir;
    QString sPath = QString::fromLocal8Bit(pty.slaveName());
    if (throughLink) {
        QVERIFY(QFile::link(sPath, dir.filePath("by-id-link")));
        sPath = dir.filePath("by-id-link");
    }
    // root may open anything; the second program then gives its rights
    // up. Anyone else gets a device the owner may not open.
    const bool bRoot = ::geteuid() == 0;
    if (unprivileged && !bRoot)
        QVERIFY(::chmod(pty.slaveName(), 0) == 0);

    QProcess second;
    QStringList arguments{"--open-port", sPath};
    if (unprivileged && bRoot)
        arguments << "--drop-rights";
    second.start(QCoreApplication::applicationFilePath(), arguments);
    QVERIFY(second.waitForFinished(20000));
    if (unprivileged && !bRoot)
        ::chmod(pty.slaveName(), 0620);
    const QStringList report = QString::fromLocal8Bit(second.readAllStandardOutput()).trimmed().split('|');
    QCOMPARE(report.size(), 5);
    QCOMPARE(report.at(0), QStringLiteral("11"));
    QCOMPARE(report.at(1).toInt(), int(cause));
    if (cause == Cause::InUse) {
        QCOMPARE(report.at(2).toLongLong(), QCoreApplication::applicationPid());
        QCOMPARE(report.at(3), QCoreApplication::applicationName());
    } else {
        QCOMPARE(report.at(4), QFileInfo(sPath).group());
    }

    if (held) {
        QVERIFY(pty.send("ping"));
        QVERIFY(pty.waitUntilArrived(4));
        first.setTimeout(1000);
        uint8_t buffer[8];
        uint32_t nCount = 0;
        QCOMPARE(first.read(buffer, 8, nCount), 0);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), int(nCount)), QByteArray("ping"));
        const uint8_t reply[] = {'p', 'o', 'n', 'g'};
        QCOMPARE(first.write(reply, 4), 0);
    }
    // Nothing but the first program's answer went out.
    QCOMPARE(pty.receive(), held ? QByteArray("pong") : QByteArray());
}

void TestComSerialPort::longDevicePathAccepted()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString sLink = dir.filePath(QStringLiteral("a-rather-long-device-name-for-the-drive"));
    QVERIFY(QFile::link(QString::fromLocal8Bit(pty.slaveName()), sLink));

    TComSerialPort transport;
    QCOMPARE(transport.open(QFile::encodeName(sLink).constData(), 9600), 0);
    QVERIFY(transport.isOpen());
}

void TestComSerialPort::closedTransport()
{
    TComSerialPort transport;
    uint8_t buffer[4] = {1, 2, 3, 4};
    uint32_t nCount = 99;
    uint32_t nRate = 0;
    QVERIFY(!transport.isOpen());
    QCOMPARE(transport.close(), -1);
    QCOMPARE(transport.setTimeout(10), 0);
    QCOMPARE(transport.setBaudRate(9600), -1);
    QCOMPARE(transport.getBaudRate(nRate), -1);
    QCOMPARE(transport.purge(), -1);
    QCOMPARE(transport.read(buffer, 4, nCount), 100);
    QCOMPARE(nCount, 0u);
    QCOMPARE(transport.write(buffer, 4), 100);
}

void TestComSerialPort::closeAndReopen()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComSerialPort transport;
    transport.setTimeout(2000);
    QCOMPARE(transport.open(pty.slaveName(), 9600), 0);
    QCOMPARE(transport.close(), 0);
    QVERIFY(!transport.isOpen());
    QCOMPARE(transport.close(), -1);

    QCOMPARE(transport.open(pty.slaveName(), 9600), 0);
    QVERIFY(transport.isOpen());
    // Opening again while open starts over on the same port.
    QCOMPARE(transport.open(pty.slaveName(), 19200), 0);
    QVERIFY(transport.isOpen());
    QCOMPARE(pty.speed(), speed_t(B19200));

    QVERIFY(pty.send("ping"));
    uint8_t buffer[16];
    uint32_t nCount = 0;
    QCOMPARE(transport.read(buffer, 16, nCount), 0);
    QVERIFY(nCount >= 1);
    const uint8_t reply[] = {'p', 'o', 'n', 'g'};
    QCOMPARE(transport.write(reply, 4), 0);
    QCOMPARE(pty.receive(), QByteArray("pong"));
}

void TestComSerialPort::readTimeout_data()
{
    QTest::addColumn<uint>("timeout");
    QTest::newRow("poll") << 0u;
    QTest::newRow("300 ms") << 300u;
}

void TestComSerialPort::readTimeout()
{
    QFETCH(uint, timeout);
    OpenLine line(9600);
    QVERIFY(line.bOpen);
    QCOMPARE(line.transport.setTimeout(timeout), 0);

    uint8_t buffer[64];
    uint32_t nCount = 99;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(line.transport.read(buffer, 64, nCount), 101);
    const qint64 nElapsed = timer.elapsed();
    QCOMPARE(nCount, 0u);
    // Waited for the time-out (scheduling may cut a millisecond or two off),
    // and not much longer even on a loaded machine.
    QVERIFY2(nElapsed >= qint64(timeout) - 20, qPrintable(QString::number(nElapsed)));
    QVERIFY2(nElapsed < qint64(timeout) + 3000, qPrintable(QString::number(nElapsed)));
}

void TestComSerialPort::partialReads_data()
{
    QTest::addColumn<int>("waiting");
    QTest::addColumn<uint>("capacity");
    QTest::addColumn<QList<int>>("reads");
    QTest::newRow("5 waiting, capacity 64") << 5 << 64u << QList<int>{5};
    QTest::newRow("100 waiting, capacity 64") << 100 << 64u << QList<int>{64, 36};
    QTest::newRow("capacity 1") << 3 << 1u << QList<int>{1, 1, 1};
}

void TestComSerialPort::partialReads()
{
    QFETCH(int, waiting);
    QFETCH(uint, capacity);
    QFETCH(QList<int>, reads);
    OpenLine line(115200);
    QVERIFY(line.bOpen);
    // A long time-out: returning with what is there must not wait for it.
    QCOMPARE(line.transport.setTimeout(10000), 0);

    const QByteArray sent = pattern(waiting);
    QVERIFY(line.pty.send(sent));
    QVERIFY(line.pty.waitUntilArrived(waiting));

    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    for (int nExpected : reads) {
        QVector<uint8_t> buffer(int(capacity) + 4, 0xEE);
        uint32_t nCount = 0;
        QCOMPARE(line.transport.read(buffer.data(), capacity, nCount), 0);
        QCOMPARE(int(nCount), nExpected);
        QCOMPARE(buffer[int(capacity)], uint8_t(0xEE));
        received.append(reinterpret_cast<const char *>(buffer.data()), int(nCount));
    }
    QVERIFY2(timer.elapsed() < 5000, "a read with bytes waiting waited for the time-out");
    QCOMPARE(received, sent);

    // Drained: the next read times out.
    line.transport.setTimeout(50);
    uint8_t buffer[4];
    uint32_t nCount = 0;
    QCOMPARE(line.transport.read(buffer, 4, nCount), 101);
}

void TestComSerialPort::rateSetAndReadBack_data()
{
    QTest::addColumn<uint>("rate");
    QTest::addColumn<uint>("speedCode");
    const uint aRates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    const speed_t aCodes[] = {B9600, B19200, B38400, B57600, B115200, B230400, B460800, B921600};
    for (int i = 0; i < 8; ++i)
        QTest::addRow("%u", aRates[i]) << aRates[i] << uint(aCodes[i]);
}

void TestComSerialPort::rateSetAndReadBack()
{
    QFETCH(uint, rate);
    QFETCH(uint, speedCode);
    OpenLine line(0); // no rate yet: 9600
    QVERIFY(line.bOpen);
    QCOMPARE(line.pty.speed(), speed_t(B9600));

    QCOMPARE(line.transport.setBaudRate(rate), 0);
    QCOMPARE(uint(line.pty.speed()), speedCode);
    // Opening at a rate puts it on the line; opening with 0 keeps the last one.
    for (uint nOpenRate : {rate, 0u}) {
        QCOMPARE(line.transport.close(), 0);
        QCOMPARE(line.transport.open(line.pty.slaveName(), nOpenRate), 0);
        QCOMPARE(uint(line.pty.speed()), speedCode);
        uint32_t nRate = 0;
        QCOMPARE(line.transport.getBaudRate(nRate), 0);
        QCOMPARE(nRate, uint32_t(rate));
    }
}

void TestComSerialPort::purgeDropsReceived()
{
    OpenLine line(9600);
    QVERIFY(line.bOpen);
    line.transport.setTimeout(2000);

    // Some bytes already taken from the driver, some still in it.
    QVERIFY(line.pty.send("stale-1"));
    QVERIFY(line.pty.waitUntilArrived(7));
    uint8_t buffer[64];
    uint32_t nCount = 0;
    QCOMPARE(line.transport.read(buffer, 1, nCount), 0);
    QVERIFY(line.pty.send("stale-2"));
    QVERIFY(line.pty.waitUntilArrived(7));

    QCOMPARE(line.transport.purge(), 0);
    line.transport.setTimeout(100);
    QCOMPARE(line.transport.read(buffer, 64, nCount), 101);

    // The line still works afterwards.
    QVERIFY(line.pty.send("fresh"));
    line.transport.setTimeout(2000);
    QByteArray received;
    while (received.size() < 5 && line.transport.read(buffer, 64, nCount) == 0)
        received.append(reinterpret_cast<const char *>(buffer), int(nCount));
    QCOMPARE(received, QByteArray("fresh"));
}

void TestComSerialPort::writeDelivers()
{
    OpenLine line(921600);
    QVERIFY(line.bOpen);
    const QByteArray data = pattern(3000);
    QCOMPARE(line.transport.write(reinterpret_cast<const uint8_t *>(data.constData()), uint32_t(data.size())), 0);
    QCOMPARE(line.pty.receive(), data);
    QCOMPARE(line.transport.write(nullptr, 0), 0);
}

void TestComSerialPort::writeThatCannotBeHandedOverFails()
{
    OpenLine line(4000000);
    QVERIFY(line.bOpen);

    // Nobody reads the far end, so the line.pty fills up and the rest of the
    // block cannot be handed over within the write bound.
    const QByteArray big = pattern(256 * 1024);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(line.transport.write(reinterpret_cast<const uint8_t *>(big.constData()), uint32_t(big.size())), 100);
    QVERIFY(timer.elapsed() < 60000);

    // What was not handed over is gone: the next block arrives on its own.
    const uint8_t next[] = {'A', 'B', 'C'};
    QByteArray received = line.pty.receive();
    QCOMPARE(line.transport.write(next, 3), 0);
    received += line.pty.receive();
    QVERIFY2(received.size() < big.size(), qPrintable(QString::number(received.size())));
    QVERIFY(received.endsWith("ABC"));
}

void TestComSerialPort::usedFromThreadWithoutEventLoop()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    // Built here, used in a thread that never runs an event loop, as the
    // worker does.
    TComSerialPort transport;
    int nOpen = -1, nRead = -1, nWrite = -1, nClose = -1;
    QByteArray received;
    std::atomic<bool> bOpened{false};
    QScopedPointer<QThread> thread(QThread::create([&] {
        nOpen = transport.open(pty.slaveName(), 57600);
        bOpened = true;
        transport.setTimeout(10000);
        uint8_t buffer[32];
        uint32_t nCount = 0;
        nRead = transport.read(buffer, 32, nCount);
        received = QByteArray(reinterpret_cast<char *>(buffer), int(nCount));
        const uint8_t reply[] = {'r', 'e', 'p', 'l', 'y'};
        nWrite = transport.write(reply, 5);
        nClose = transport.close();
    }));
    thread->start();
    QElapsedTimer timer;
    timer.start();
    while (!bOpened && timer.elapsed() < 20000)
        QThread::msleep(5);
    QVERIFY(bOpened);
    QVERIFY(pty.send("hello"));
    const QByteArray reply = pty.receive(3000);
    QVERIFY(thread->wait(20000));
    QCOMPARE(nOpen, 0);
    QCOMPARE(nRead, 0);
    QVERIFY(QByteArray("hello").startsWith(received) && !received.isEmpty());
    QCOMPARE(nWrite, 0);
    QCOMPARE(reply, QByteArray("reply"));
    QCOMPARE(nClose, 0);

    // Reopened from this thread afterwards it still works.
    QCOMPARE(transport.open(pty.slaveName(), 9600), 0);
    QCOMPARE(transport.close(), 0);
}

// The second program of secondProgramKeptOut: opens the port, sends a
// byte if that works, and reports "result|cause|owner pid|owner|group".
int openPortAndReport(const char *sPath, bool bDropRights)
{
    if (bDropRights && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        return 2;
    TComSerialPort transport;
    const int nResult = transport.open(sPath, 9600);
    if (nResult == 0) {
        const uint8_t nByte = 'X';
        transport.write(&nByte, 1);
    }
    const PortOpenError error = transport.lastOpenError();
    std::printf("%d|%d|%lld|%s|%s\n", nResult, int(error.nCause), static_cast<long long>(error.nOwnerPid),
                error.sOwnerProgram.toLocal8Bit().constData(), error.sGroup.toLocal8Bit().constData());
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc >= 3 && std::strcmp(argv[1], "--open-port") == 0)
        return openPortAndReport(argv[2], argc >= 4 && std::strcmp(argv[3], "--drop-rights") == 0);
    QCoreApplication app(argc, argv);
    TestComSerialPort test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_comserialport.moc"
