// FWInfoFlash over a real link to the simulated drive. The chain rules
// themselves are covered on images; here the reads go over the link.

#include "FWInfoFlash.h"
#include "SimDrive.h"
#include "TBootMonitorLink.h"
#include "TransportFactory.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray le32(quint32 v)
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (8 * i));
    return b;
}

QByteArray infoPayload()
{
    QByteArray payload;
    const char *fields[5] = {"HW-A", "FW 1.0.0", "2026-01-02", "Drive firmware", "SN-7"};
    const int sizes[5] = {16, 16, 16, 40, 16};
    for (int i = 0; i < 5; ++i)
        payload += QByteArray(fields[i]).leftJustified(sizes[i], '\0', true);
    return payload;
}

} // namespace

class TestFWInfoFlash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readBytes_data();
    void readBytes();
    void loadInfo_data();
    void loadInfo();
    void closedLink();

private:
    bool connect(SimDrive &sim, TBootMonitorLink &link, const QByteArray &flash);
    QByteArray m_flash;
};

void TestFWInfoFlash::initTestCase()
{
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");
    QRandomGenerator gen(17);
    m_flash.resize(0x20000);
    for (int i = 0; i < m_flash.size(); ++i)
        m_flash[i] = char(gen.bounded(256));
}

bool TestFWInfoFlash::connect(SimDrive &sim, TBootMonitorLink &link, const QByteArray &flash)
{
    if (!sim.start({QStringLiteral("--flash0"), sim.writeFile(QStringLiteral("f0.bin"), flash)}))
        return false;
    link.setTransport(createTransport(sim.portName()));
    link.setPortName(sim.portName());
    link.setRequestedBaudRate(460800);
    return link.connectMonitor() == 0;
}

void TestFWInfoFlash::readBytes_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<int>("result");

    QTest::newRow("odd start, three pieces") << quint32(0x1235) << quint32(300) << 0;
    QTest::newRow("whole transfer buffer") << quint32(0x4000) << quint32(8192) << 0;
    QTest::newRow("nothing") << quint32(0x10) << quint32(0) << 0;
    QTest::newRow("more than the transfer buffer") << quint32(0) << quint32(8193) << 1;
}

void TestFWInfoFlash::readBytes()
{
    QFETCH(quint32, address);
    QFETCH(quint32, length);
    QFETCH(int, result);

    SimDrive sim;
    TBootMonitorLink link;
    QVERIFY(connect(sim, link, m_flash));
    FWInfoFlash info(&link);
    QByteArray dest(int(length) + 16, char(0x77));
    QCOMPARE(info.readBytes(address, length, reinterpret_cast<quint8 *>(dest.data())), result);
    if (result == 0) {
        QCOMPARE(dest.left(int(length)), m_flash.mid(int(address), int(length)));
        QCOMPARE(dest.mid(int(length)), QByteArray(16, char(0x77))); // nothing written beyond
    }
    link.disconnectMonitor();
}

void TestFWInfoFlash::loadInfo_data()
{
    QTest::addColumn<QByteArray>("chain"); // bytes at 0x400000
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("lines");

    const QByteArray payload = infoPayload();
    const QString lines = QStringLiteral("HW-A|FW 1.0.0|2026-01-02|Drive firmware|SN-7");
    QTest::newRow("behind two other blocks") << le32(3000) + le32(0x1) + QByteArray(3000, 'x') + le32(100) + le32(0x400)
                                                    + QByteArray(100, 'y') + le32(104) + le32(0xF400) + payload
                                             << 0 << lines;
    QTest::newRow("length wrapping the address space") << le32(0xFFFFFFF0u) + le32(0x1) << -1 << QString();
}

void TestFWInfoFlash::loadInfo()
{
    QFETCH(QByteArray, chain);
    QFETCH(int, result);
    QFETCH(QString, lines);

    QByteArray flash(0x400000 + 0x2000, char(0xFF));
    flash.replace(0x400000, chain.size(), chain);
    SimDrive sim;
    TBootMonitorLink link;
    QVERIFY(connect(sim, link, flash));
    FWInfoFlash info(&link);
    QCOMPARE(info.searchStart(), quint32(0x400000));
    QCOMPARE(info.loadInfo(), result);
    QStringList out;
    if (result == 0) {
        QCOMPARE(info.infoLines(out), 0);
        QCOMPARE(out.join(QLatin1Char('|')), lines);
    }
    link.disconnectMonitor();
}

void TestFWInfoFlash::closedLink()
{
    TBootMonitorLink link(createTransport(QStringLiteral("/dev/null-port")));
    FWInfoFlash info(&link);
    quint8 buf[8];
    QCOMPARE(info.readBytes(0, 8, buf), -2); // service request without connect
    QCOMPARE(info.loadInfo(), -1);
    FWInfoFlash none(nullptr);
    QVERIFY(none.readBytes(0, 8, buf) != 0);
}

QTEST_GUILESS_MAIN(TestFWInfoFlash)
#include "tst_fwinfoflash.moc"
