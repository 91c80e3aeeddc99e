// The connection procedure and the object services against the simulated
// drive, a separate process on a pseudo-terminal, through the COM-port
// transport the tool uses.
#include "CommError.h"
#include "SimDrive.h"
#include "TBootMonitorLink.h"
#include "TComSerialPort.h"

#include <QElapsedTimer>
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
    void noiseLine_data();
    void noiseLine();
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

using Phase = TBootMonitorLink::ConnectPhase;

void TestLinkSim::connect_data()
{
    QTest::addColumn<uint>("driveRate");
    QTest::addColumn<uint>("requested");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("result");
    QTest::addColumn<Phase>("phase"); // where a failure happened
    QTest::addColumn<uint>("finalRate");
    QTest::addColumn<int>("writes");       // baud-rate writes the drive saw
    QTest::addColumn<uint>("rateWritten"); // their value, where carried out

    const QStringList none;
    auto fault = [](const char *sFault) { return QStringList{"--fault", sFault}; };
    // Detection at every table rate, then the move to the default rate.
    for (uint nRate : {9600u, 19200u, 38400u, 57600u, 230400u, 460800u, 921600u})
        QTest::addRow("found at %u", nRate) << nRate << 0u << none << 0 << 0 << Phase::None << 115200u << 1 << 115200u;
    QTest::newRow("found at 115200") << 115200u << 0u << none << 0 << 0 << Phase::None << 115200u << 0 << 0u;
    QTest::newRow("requested 921600") << 9600u << 921600u << none << 0 << 0 << Phase::None << 921600u << 1 << 921600u;
    QTest::newRow("requested 57600 from 460800")
        << 460800u << 57600u << none << 0 << 0 << Phase::None << 57600u << 1 << 57600u;
    QTest::newRow("requested 9600") << 9600u << 9600u << none << 0 << 0 << Phase::None << 9600u << 0 << 0u;
    // Requests at 9600: 1 probe, 2 rate read, 3 rate write; then 4 at the
    // new rate (the confirmation, with retries).
    QTest::newRow("switch refused") << 9600u << 0u << fault("busy:3:174") << 0 << 0 << Phase::None << 9600u << 1
                                    << 115200u;
    QTest::newRow("switch answer lost") << 9600u << 460800u << fault("drop:3") << 0 << 0 << Phase::None << 9600u << 1
                                        << 460800u;
    QTest::newRow("rate read refused") << 9600u << 0u << fault("busy:2:203") << 0 << 0 << Phase::None << 9600u << 0
                                       << 0u;
    QTest::newRow("LIFE_TRIGGERs before the probe answer")
        << 57600u << 0u << fault("life:1:300") << 0 << 0 << Phase::None << 115200u << 1 << 115200u;
    // A probe answer with a bad checksum does not count as the monitor.
    QTest::newRow("corrupted probe") << 9600u << 0u << fault("corrupt:1") << 0 << 101 << Phase::DetectingRate << 0u << 0
                                     << 0u;
    QTest::newRow("no monitor") << 9600u << 0u << QStringList{"--powered-off"} << 0 << 101 << Phase::DetectingRate << 0u
                                << 0 << 0u;
    QTest::newRow("no monitor, retries") << 9600u << 0u << QStringList{"--powered-off"} << 2 << 101
                                         << Phase::DetectingRate << 0u << 0 << 0u;

    // With retries one lost, garbled or busy answer costs time, not the run.
    const struct
    {
        const char *sName;
        const char *sFault;
        int nWrites;
    } kRecovered[] = {{"probe lost", "drop:1", 1},           {"probe garbled", "corrupt:1", 1},
                      {"probe busy", "busy:1:203", 1},       {"rate read lost", "drop:2", 1},
                      {"rate read garbled", "corrupt:2", 1}, {"switch lost", "drop:3", 2},
                      {"switch garbled", "corrupt:3", 1},    {"switch busy", "busy:3:203", 2},
                      {"confirmation lost", "drop:4", 1},    {"confirmation garbled", "corrupt:4", 1},
                      {"confirmation busy", "busy:4:203", 1}};
    for (const auto &row : kRecovered)
        QTest::addRow("retry, %s", row.sName)
            << 9600u << 0u << fault(row.sFault) << 1 << 0 << Phase::None << 115200u << row.nWrites << 115200u;
    QTest::newRow("retry, refused twice")
        << 9600u << 0u << (fault("busy:3:174") + fault("busy:5:174")) << 1 << 0 << Phase::None << 9600u << 2 << 115200u;
    // Out of retries, a failure says where it happened.
    QTest::newRow("retry, rate read unanswered")
        << 9600u << 0u << fault("silent:1") << 1 << 101 << Phase::SwitchingRate << 9600u << 0 << 0u;
    QTest::newRow("retry, silent after the switch")
        << 9600u << 460800u << fault("silent:3") << 1 << 101 << Phase::ConfirmingRate << 460800u << 1 << 460800u;
}

void TestLinkSim::connect()
{
    QFETCH(uint, driveRate);
    QFETCH(uint, requested);
    QFETCH(QStringList, faults);
    QFETCH(int, retries);
    QFETCH(int, result);
    QFETCH(Phase, phase);
    QFETCH(uint, finalRate);
    QFETCH(int, writes);
    QFETCH(uint, rateWritten);

    QVERIFY2(m_drive->start(QStringList{"--baud", QString::number(driveRate)} + faults),
             qPrintable(m_drive->errorString()));
    m_link->setPortName(m_drive->portName());
    m_link->setConnectRetries(retries);
    QCOMPARE(m_link->setRequestedBaudRate(requested), 0);

    QCOMPARE(m_link->connectMonitor(), result);
    QCOMPARE(m_link->lastConnectPhase(), phase);
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

    // The rate writes as the drive logged them (a refused or lost one
    // carries no value).
    auto rateWrites = [this] {
        QList<SimDrive::LogEntry> list;
        for (const SimDrive::LogEntry &entry : m_drive->logEntries()) {
            if (entry.sService == "write" && entry.nIndex == 0x5FB0)
                list << entry;
        }
        return list;
    };
    QTRY_COMPARE_WITH_TIMEOUT(int(rateWrites().size()), writes, 5000);
    for (const SimDrive::LogEntry &entry : rateWrites())
        QCOMPARE(entry.number("baud", rateWritten), rateWritten);
}

// A line that streams LIFE_TRIGGERs or noise from the start holds no rate
// for long: the scan gives up well within 5 s, retries or not.
void TestLinkSim::noiseLine_data()
{
    QTest::addColumn<QString>("stream");
    QTest::addColumn<int>("retries");
    QTest::newRow("LIFE_TRIGGERs") << "stream:0" << 0;
    QTest::newRow("LIFE_TRIGGERs, retries") << "stream:0" << 2;
    QTest::newRow("noise, retries") << "stream:0:0x55" << 2;
    QTest::newRow("DLEs, retries") << "stream:0:0x10" << 2;
}

void TestLinkSim::noiseLine()
{
    QFETCH(QString, stream);
    QFETCH(int, retries);
    QVERIFY2(m_drive->start({"--baud", "9600", "--fault", stream}), qPrintable(m_drive->errorString()));
    m_link->setPortName(m_drive->portName());
    m_link->setConnectRetries(retries);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_link->connectMonitor(), int(CommError::Timeout));
    const qint64 nElapsed = timer.elapsed();
    QCOMPARE(m_link->lastConnectPhase(), Phase::DetectingRate);
    QVERIFY2(nElapsed < 5000, qPrintable(QStringLiteral("gave up after %1 ms").arg(nElapsed)));
    qInfo("gave up after %lld ms", nElapsed);
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
    QVERIFY2(m_drive->start(QStringList{"--baud", "115200"} + faults), qPrintable(m_drive->errorString()));
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
