// The connection procedure and the object services against the simulated
// drive, a separate process on a pseudo-terminal, through the COM-port
// transport the tool uses.
#include "CommError.h"
#include "SimDrive.h"
#include "TBootMonitorLink.h"
#include "TComSerialPort.h"

#include <QtTest>

#include <memory>

class TestLinkSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void connect_data();
    void connect();
    void reconnectUsesKnownRate();
    void services_data();
    void services();
    void dataRoundTrip();

private:
    std::unique_ptr<SimDrive> m_drive;
    std::unique_ptr<TBootMonitorLink> m_link;
};

void TestLinkSim::init()
{
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");
    m_drive = std::make_unique<SimDrive>();
    m_link = std::make_unique<TBootMonitorLink>(new TComSerialPort);
}

void TestLinkSim::cleanup()
{
    if (m_link)
        m_link->disconnectMonitor();
    m_link.reset();
    m_drive.reset();
}

void TestLinkSim::connect_data()
{
    QTest::addColumn<uint>("driveRate");
    QTest::addColumn<uint>("requested");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("result");
    QTest::addColumn<uint>("finalRate");
    QTest::addColumn<uint>("rateWritten"); // value of the baud-rate write, 0: none

    const QStringList none;
    // Detection at every table rate, then the move to the default rate.
    for (uint nRate : {9600u, 19200u, 38400u, 57600u, 230400u, 460800u, 921600u})
        QTest::addRow("found at %u", nRate) << nRate << 0u << none << 0 << 115200u << 115200u;
    QTest::newRow("found at 115200") << 115200u << 0u << none << 0 << 115200u << 0u;
    QTest::newRow("requested 921600") << 9600u << 921600u << none << 0 << 921600u << 921600u;
    QTest::newRow("requested 57600 from 460800") << 460800u << 57600u << none << 0 << 57600u << 57600u;
    QTest::newRow("requested 9600") << 9600u << 9600u << none << 0 << 9600u << 0u;
    // Requests at 9600: 1 probe, 2 rate read, 3 rate write.
    QTest::newRow("switch refused") << 9600u << 0u << QStringList{"--fault", "busy:3:174"} << 0
                                    << 9600u << 115200u;
    QTest::newRow("switch answer lost") << 9600u << 460800u << QStringList{"--fault", "drop:3"} << 0
                                        << 9600u << 460800u;
    QTest::newRow("rate read refused") << 9600u << 0u << QStringList{"--fault", "busy:2:203"} << 0
                                       << 9600u << 0u;
    QTest::newRow("LIFE_TRIGGERs before the probe answer")
        << 57600u << 0u << QStringList{"--fault", "life:1:300"} << 0 << 115200u << 115200u;
    // A probe answer with a bad checksum does not count as the monitor.
    QTest::newRow("corrupted probe") << 9600u << 0u << QStringList{"--fault", "corrupt:1"} << 101
                                     << 0u << 0u;
    QTest::newRow("no monitor") << 9600u << 0u << QStringList{"--powered-off"} << 101 << 0u << 0u;
}

void TestLinkSim::connect()
{
    QFETCH(uint, driveRate);
    QFETCH(uint, requested);
    QFETCH(QStringList, faults);
    QFETCH(int, result);
    QFETCH(uint, finalRate);
    QFETCH(uint, rateWritten);

    QVERIFY2(m_drive->start(QStringList{"--baud", QString::number(driveRate)} + faults),
             qPrintable(m_drive->errorString()));
    m_link->setPortName(m_drive->portName());
    QCOMPARE(m_link->setRequestedBaudRate(requested), 0);

    QCOMPARE(m_link->connectMonitor(), result);
    QCOMPARE(m_link->isOpen(), result == 0);
    QCOMPARE(m_link->currentBaudRate(), finalRate);

    if (result == 0) {
        uint32_t nTransportRate = 0;
        QCOMPARE(m_link->transport()->getBaudRate(nTransportRate), 0);
        QCOMPARE(nTransportRate, finalRate);
        // Both ends agree: the drive answers at the rate the link settled on.
        uint32_t nDriveRate = 0;
        QCOMPARE(m_link->readU32(0x5FB0, 1, nDriveRate), 0);
        QCOMPARE(nDriveRate, finalRate);
    }

    // The rate write as the drive logged it (a refused one carries no value).
    auto rateWrites = [this] {
        QList<SimDrive::LogEntry> writes;
        for (const SimDrive::LogEntry &entry : m_drive->logEntries()) {
            if (entry.sService == "write" && entry.nIndex == 0x5FB0)
                writes << entry;
        }
        return writes;
    };
    QTRY_COMPARE_WITH_TIMEOUT(int(rateWrites().size()), rateWritten != 0 ? 1 : 0, 5000);
    for (const SimDrive::LogEntry &entry : rateWrites())
        QCOMPARE(entry.number("baud", rateWritten), rateWritten);
}

// A second connection starts with the rate the link last talked at instead
// of scanning from 9600.
void TestLinkSim::reconnectUsesKnownRate()
{
    QVERIFY2(m_drive->start({"--baud", "9600"}), qPrintable(m_drive->errorString()));
    m_link->setPortName(m_drive->portName());
    QCOMPARE(m_link->setRequestedBaudRate(460800), 0);
    QCOMPARE(m_link->connectMonitor(), 0);
    QCOMPARE(m_link->disconnectMonitor(), 0);
    QVERIFY(!m_link->isOpen());
    QTRY_VERIFY_WITH_TIMEOUT(m_drive->logEntries().size() >= 3, 5000);
    const int nBefore = int(m_drive->logEntries().size());
    QCOMPARE(m_link->connectMonitor(), 0);
    QCOMPARE(m_link->currentBaudRate(), 460800u);
    // Probe and rate read only: both answered at once at 460800.
    QTRY_COMPARE_WITH_TIMEOUT(int(m_drive->logEntries().size()) - nBefore, 2, 5000);
    QCOMPARE(m_drive->logEntries().at(nBefore).sService, QStringLiteral("read"));
}

// Monitor verdicts and lost answers reach the caller unchanged.
void TestLinkSim::services_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("result");
    QTest::newRow("clean") << QStringList() << 0;
    QTest::newRow("status 174") << QStringList{"--fault", "busy:3:174"} << 174;
    QTest::newRow("bad checksum") << QStringList{"--fault", "corrupt:3"} << 100;
    QTest::newRow("lost answer") << QStringList{"--fault", "drop:3"} << 101;
    QTest::newRow("LIFE_TRIGGERs") << QStringList{"--fault", "life:3:500"} << 0;
}

void TestLinkSim::services()
{
    QFETCH(QStringList, faults);
    QFETCH(int, result);
    QVERIFY2(m_drive->start(QStringList{"--baud", "115200"} + faults),
             qPrintable(m_drive->errorString()));
    m_link->setPortName(m_drive->portName());
    // Requests 1 and 2: the probe and the switch's rate read; the drive
    // already runs at the working rate.
    QCOMPARE(m_link->connectMonitor(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_drive->logEntries().size(), 2, 5000);

    uint32_t nValue = 0xDEAD;
    QCOMPARE(m_link->readU32(0x5E10, 2, nValue), result); // request 3
    if (result != 0)
        QCOMPARE(nValue, 0xDEADu);
    // The failure stays with its transaction; the next one works.
    QCOMPARE(m_link->writeU32(0x5E10, 2, 0x00400000), 0);
    QCOMPARE(m_link->readU32(0x5E10, 2, nValue), 0);
    QCOMPARE(nValue, 0x00400000u);
}

void TestLinkSim::dataRoundTrip()
{
    QVERIFY2(m_drive->start({"--baud", "115200"}), qPrintable(m_drive->errorString()));
    m_link->setPortName(m_drive->portName());
    QCOMPARE(m_link->connectMonitor(), 0);

    QByteArray block(128, 0);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i % 3 == 0 ? 0x10 : i); // plenty of bytes to escape
    for (uint8_t nSub : {uint8_t(1), uint8_t(64)}) {
        QCOMPARE(m_link->writeObject(0x5E12, nSub, reinterpret_cast<const uint8_t *>(block.constData()), 128), 0);
        QByteArray back(128, 0);
        QCOMPARE(m_link->readObject(0x5E12, nSub, reinterpret_cast<uint8_t *>(back.data()), 128), 0);
        QCOMPARE(back, block);
    }
    // An object the drive does not have, and one it refuses to write.
    uint32_t nValue = 7;
    QCOMPARE(m_link->readU32(0x5E12, 65, nValue), int(CommError::ObjectUndefined));
    QCOMPARE(nValue, 7u);
    QCOMPARE(m_link->writeU32(0x5E11, 1, 0), int(CommError::AccessTypeConflict));
    QString s1, s2, s3;
    QCOMPARE(m_link->readDeviceIdent(s1, s2, s3), 0);
    QCOMPARE(s1, QStringLiteral("servoprog-sim"));
    QCOMPARE(s3, QStringLiteral("1.0"));
}

QTEST_GUILESS_MAIN(TestLinkSim)
#include "tst_linksim.moc"
