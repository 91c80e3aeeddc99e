// Tests of the simulated drive through a raw pseudo-terminal client: the
// drive's answers, its flash semantics, its line-rate handling and its
// injected faults, as the tool will meet them.

#include "PtyClient.h"
#include "SimDrive.h"

#include "Lzrw3a.h"
#include "MonitorObjects.h"

#include <QFile>
#include <QtTest>

using namespace MonitorObjects;

namespace {

// Parameters first, then the command code, as the tool does it.
int command(PtyClient &c, quint16 nObject, quint32 nCode, quint32 nP2, quint32 nP3)
{
    int n = c.writeU32(nObject, 2, nP2);
    if (n == 0)
        n = c.writeU32(nObject, 3, nP3);
    if (n == 0)
        n = c.writeU32(nObject, 1, nCode);
    return n;
}

quint32 status1(PtyClient &c, quint16 nObject)
{
    quint32 n = 0xDEAD;
    if (c.readU32(nObject, 1, n) != 0)
        return 0xDEAD;
    return n;
}

bool loadBuffer(PtyClient &c, quint16 nObject, const QByteArray &data)
{
    for (int i = 0; i * 128 < data.size(); ++i) {
        if (c.writeData(nObject, quint8(i + 1), data.mid(i * 128, 128)) != 0)
            return false;
    }
    return true;
}

QByteArray readFlash(PtyClient &c, quint32 nAddress, quint32 nLength)
{
    if (command(c, Flash::kCommand, Flash::kRead, nAddress, nLength) != 0)
        return QByteArray();
    QByteArray all;
    for (quint32 i = 0; i * 128 < nLength; ++i) {
        QByteArray piece;
        if (c.readData(Flash::kData, quint8(i + 1), piece) != 0)
            return QByteArray();
        all += piece;
    }
    return all.left(int(nLength));
}

QByteArray pattern(int n, int nSeed)
{
    QByteArray data(n, 0);
    for (int i = 0; i < n; ++i)
        data[i] = char((i * 7 + nSeed) ^ (i >> 3));
    return data;
}

const QStringList SmallFlash = {QStringLiteral("--flash-size"), QStringLiteral("256K"), QStringLiteral("--sector-size"),
                                QStringLiteral("4K")};

} // namespace

class TestSimDrive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsAndStops();
    void refusesBadArguments_data();
    void refusesBadArguments();
    void answersOnlyAtItsLineRate_data();
    void answersOnlyAtItsLineRate();
    void switchesRateAfterAnswering();
    void flashBehavesLikeNor();
    void decompressesCompressedBlock();
    void faultOptionsTakeEffect_data();
    void faultOptionsTakeEffect();
    void verifyFault();
    void poweredOffWaitsForWakePattern();
    void wakeDelayKeepsDriveDeaf();
    void throttleTakesWireTime();
    void eepromWritesBackItsFile();
};

void TestSimDrive::initTestCase()
{
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");
}

void TestSimDrive::startsAndStops()
{
    SimDrive drive;
    QVERIFY2(drive.start(), qPrintable(drive.errorString()));
    QVERIFY(drive.isRunning());
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));
    const QByteArray answer = client.transact(QByteArray::fromHex("090000"));
    QCOMPARE(answer.left(2), QByteArray::fromHex("0800"));
    QCOMPARE(answer.size(), 52);
    // The tool closes and reopens the port between wake-up and connection.
    client.close();
    QVERIFY(client.open(drive.portName(), 9600));
    quint32 nRate = 0;
    QCOMPARE(client.readU32(kBaudRate, 1, nRate), 0);
    QCOMPARE(nRate, 9600u);
    QVERIFY2(drive.stop(), qPrintable(drive.errorString()));
    QVERIFY(!drive.isRunning());
    QCOMPARE(drive.logLines().last(), QStringLiteral("- stop requests=2"));
    QCOMPARE(drive.logEntries().at(1).nIndex, kBaudRate);
}

void TestSimDrive::refusesBadArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("rate outside the table") << QStringList{"--baud", "12345"} << "--baud";
    QTest::newRow("unknown fault") << QStringList{"--fault", "melt:1"} << "--fault";
    QTest::newRow("fault without request") << QStringList{"--fault", "drop"} << "--fault";
    QTest::newRow("sector not dividing flash")
        << QStringList{"--flash-size", "100K", "--sector-size", "64K"} << "sector size";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "unknown option";
    QTest::newRow("page time over a second")
        << QStringList{"--page-us", "1000001"} << "--page-us: '1000001' is not a usable time in microseconds";
    QTest::newRow("image larger than the flash")
        << QStringList{"--flash-size", "64K", "--flash0", "@big"} << "more than the device";
}

void TestSimDrive::refusesBadArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    SimDrive drive;
    for (QString &s : arguments) {
        if (s == QLatin1String("@big"))
            s = drive.writeFile(QStringLiteral("big.bin"), QByteArray(64 * 1024 + 1, 0));
    }
    QVERIFY(!drive.start(arguments));
    QVERIFY2(drive.errorString().contains(message), qPrintable(drive.errorString()));
}

void TestSimDrive::answersOnlyAtItsLineRate_data()
{
    QTest::addColumn<QString>("driveRate");
    QTest::addColumn<quint32>("toolRate");
    QTest::addColumn<bool>("answers");
    QTest::newRow("9600 at 19200") << "9600" << 19200u << false;
    QTest::newRow("57600 at 38400") << "57600" << 38400u << false;
    QTest::newRow("921600 at 921600") << "921600" << 921600u << true;
}

void TestSimDrive::answersOnlyAtItsLineRate()
{
    QFETCH(QString, driveRate);
    QFETCH(quint32, toolRate);
    QFETCH(bool, answers);
    SimDrive drive;
    QVERIFY2(drive.start({"--baud", driveRate}), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), toolRate));
    const QByteArray answer = client.transact(QByteArray::fromHex("045FB00104"), answers ? 5000 : 500);
    if (answers) {
        QCOMPARE(answer.size(), 9);
        QCOMPARE(quint8(answer.at(1)), quint8(0));
        QCOMPARE(answer.mid(5).toHex().toUInt(nullptr, 16), toolRate);
    } else {
        QCOMPARE(answer, QByteArray());
    }
    QVERIFY(drive.stop());
    // Judged from the log, not from a time-out: a slow machine cannot fake it.
    const QStringList lines = drive.logLines();
    QCOMPARE(drive.logEntries().size(), answers ? 1 : 0);
    QCOMPARE(lines.filter(QStringLiteral("- ignored reason=rate")).size(), answers ? 0 : 1);
}

void TestSimDrive::switchesRateAfterAnswering()
{
    SimDrive drive;
    QVERIFY2(drive.start({"--throttle"}), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));
    QCOMPARE(client.writeU32(kBaudRate, 1, 12345), 202); // not a line rate
    QCOMPARE(client.writeU32(kBaudRate, 1, 115200), 0);  // answered at the old rate
    // Still at 9600: ignored. The wait gives the drive time to pick the
    // frame up before the port changes rate.
    QCOMPARE(client.transact(QByteArray::fromHex("045FB00104"), 1000), QByteArray());
    QVERIFY(client.setRate(115200));
    quint32 nRate = 0;
    QCOMPARE(client.readU32(kBaudRate, 1, nRate), 0);
    QCOMPARE(nRate, 115200u);
    QVERIFY(drive.stop());
    const QList<SimDrive::LogEntry> entries = drive.logEntries();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[1].fields.value("baud"), QStringLiteral("115200"));
}

void TestSimDrive::flashBehavesLikeNor()
{
    SimDrive drive;
    // Sector 1 of the image file starts out programmed, the rest erased.
    QByteArray image(8 * 1024, char(0xFF));
    image.replace(4096, 16, QByteArray(16, 0x5A));
    const QString sFlash = drive.writeFile("flash1.bin", image);
    QVERIFY2(drive.start(SmallFlash + QStringList{"--flash1", sFlash}), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));

    QCOMPARE(command(client, Flash::kCommand, Flash::kDeviceInfo, 0, 0), 0);
    quint32 nValue = 0;
    QCOMPARE(client.readU32(Flash::kStatus, 2, nValue), 0);
    QCOMPARE(nValue, 256u * 1024);
    QCOMPARE(command(client, Flash::kCommand, Flash::kRegionInfo, 0, 0), 0);
    QCOMPARE(client.readU32(Flash::kStatus, 4, nValue), 0);
    QCOMPARE(nValue, 4096u);
    QCOMPARE(command(client, Flash::kCommand, Flash::kSelect, 1, 0), 0);

    // Erase check: the loaded sector needs erasing, the next one does not.
    QCOMPARE(command(client, Flash::kCommand, Flash::kCheckErase, 4096, 4096), 0);
    QCOMPARE(status1(client, Flash::kStatus), 1u);
    QCOMPARE(command(client, Flash::kCommand, Flash::kCheckErase, 8192, 4096), 0);
    QCOMPARE(status1(client, Flash::kStatus), 0u);
    // A misaligned sector address is refused.
    QCOMPARE(command(client, Flash::kCommand, Flash::kEraseSector, 4096 + 256, 4096), 202);

    // Programming over the unerased sector ANDs the bits: verify fails.
    const QByteArray a = pattern(256, 1);
    QVERIFY(loadBuffer(client, Flash::kData, a));
    QCOMPARE(command(client, Flash::kCommand, Flash::kProgram, 4096, 256), 0);
    QCOMPARE(command(client, Flash::kCommand, Flash::kVerify, 4096, 256), 0);
    QCOMPARE(status1(client, Flash::kStatus), 1u);
    QByteArray expected = a;
    for (int i = 0; i < 16; ++i)
        expected[i] = char(expected[i] & 0x5A);
    QCOMPARE(readFlash(client, 4096, 256), expected);

    // After the erase the same program verifies.
    QCOMPARE(command(client, Flash::kCommand, Flash::kEraseSector, 4096, 4096), 0);
    QCOMPARE(readFlash(client, 4096, 4096), QByteArray(4096, char(0xFF)));
    QVERIFY(loadBuffer(client, Flash::kData, a));
    QCOMPARE(command(client, Flash::kCommand, Flash::kProgram, 4096, 256), 0);
    QCOMPARE(command(client, Flash::kCommand, Flash::kVerify, 4096, 256), 0);
    QCOMPARE(status1(client, Flash::kStatus), 0u);
    // Beyond the end of the device.
    QCOMPARE(command(client, Flash::kCommand, Flash::kProgram, 256 * 1024 - 128, 256), 200);

    QVERIFY2(drive.stop(), qPrintable(drive.errorString()));
    QCOMPARE(drive.erasedSectors(1), QList<quint32>{4096});
    QCOMPARE(drive.erasedSectors(0), QList<quint32>());
    QFile file(sFlash);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QCOMPARE(written.size(), 256 * 1024);
    QCOMPARE(written.mid(4096, 256), a);
    QCOMPARE(written.mid(4096 + 256, 4096 - 256), QByteArray(4096 - 256, char(0xFF)));
}

void TestSimDrive::decompressesCompressedBlock()
{
    SimDrive drive;
    QVERIFY2(drive.start(SmallFlash), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));

    QByteArray block;
    while (block.size() < 8192)
        block += QByteArray("firmware block with repeats ") + QByteArray::number(block.size() % 7);
    block.truncate(8192);
    QByteArray work(int(lzrw3a::kWorkSize), 0);
    QByteArray packed(int(lzrw3a::compressBound(8192)), 0);
    quint32 nPacked = 0;
    QCOMPARE(compressBlock(reinterpret_cast<const quint8 *>(block.constData()), 8192, work.data(),
                           reinterpret_cast<quint8 *>(packed.data()), size_t(packed.size()), &nPacked),
             0);
    QVERIFY(nPacked < 8192 * 80 / 100);
    packed.truncate(int(nPacked));

    QCOMPARE(command(client, Flash::kCommand, Flash::kSelect, 0, 0), 0);
    QCOMPARE(command(client, Flash::kCommand, Flash::kEraseSector, 0x10000, 4096), 0);
    QCOMPARE(command(client, Flash::kCommand, Flash::kEraseSector, 0x11000, 4096), 0);
    QVERIFY(loadBuffer(client, Flash::kData, packed));
    // A wrong expanded length is reported, not programmed.
    QCOMPARE(command(client, Flash::kCommand, Flash::kDecompress, nPacked, 8064), 0);
    QCOMPARE(status1(client, Flash::kStatus), 1u);
    QCOMPARE(command(client, Flash::kCommand, Flash::kDecompress, nPacked, 8192), 0);
    QCOMPARE(status1(client, Flash::kStatus), 0u);
    QCOMPARE(command(client, Flash::kCommand, Flash::kProgram, 0x10000, 8192), 0);
    QCOMPARE(command(client, Flash::kCommand, Flash::kVerify, 0x10000, 8192), 0);
    QCOMPARE(status1(client, Flash::kStatus), 0u);
    QCOMPARE(readFlash(client, 0x10000, 8192), block);

    // A damaged block: the buffer still holds the expanded data, so
    // overwrite a copy item's bytes with a truncated stream.
    QVERIFY(loadBuffer(client, Flash::kData, packed.left(5)));
    QCOMPARE(command(client, Flash::kCommand, Flash::kDecompress, 5, 8192), 0);
    QCOMPARE(status1(client, Flash::kStatus), 1u);

    QVERIFY(drive.stop());
}

void TestSimDrive::faultOptionsTakeEffect_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("answered2"); // does request 2 get a good answer
    QTest::addColumn<bool>("answered3");
    QTest::addColumn<QString>("logged2"); // what the log says of request 2
    QTest::newRow("drop") << "drop:2" << false << true << "status=none fault=drop";
    QTest::newRow("corrupt") << "corrupt:2" << false << true << "status=0 fault=corrupt";
    QTest::newRow("busy") << "busy:2" << true << true << "status=203 fault=busy";
    QTest::newRow("busy with status") << "busy:2:110" << true << true << "status=110 fault=busy";
    QTest::newRow("silent") << "silent:1" << false << false << "status=none fault=silent";
    QTest::newRow("life") << "life:2" << true << true << "status=0 fault=life";
    QTest::newRow("stream") << "stream:1" << false << false << "status=none fault=stream";
}

void TestSimDrive::faultOptionsTakeEffect()
{
    QFETCH(QString, fault);
    QFETCH(bool, answered2);
    QFETCH(bool, answered3);
    QFETCH(QString, logged2);
    SimDrive drive;
    QVERIFY2(drive.start({"--fault", fault}), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));
    const QByteArray read = QByteArray::fromHex("045FB00104");
    QCOMPARE(client.transact(read).size(), 9);
    const QByteArray answer2 = client.transact(read, answered2 ? 5000 : 500);
    QCOMPARE(answer2.isEmpty(), !answered2);
    if (fault.startsWith("corrupt"))
        QVERIFY(client.lastBadChecksum());
    if (fault.startsWith("life"))
        QCOMPARE(client.lastLifeTriggers(), 16);
    if (fault.startsWith("stream")) // about one a millisecond at 9600 baud
        QVERIFY2(client.lastLifeTriggers() > 200, qPrintable(QString::number(client.lastLifeTriggers())));
    if (fault.startsWith("busy"))
        QCOMPARE(quint8(answer2.at(1)), quint8(fault.endsWith("110") ? 110 : 203));
    const QByteArray answer3 = client.transact(read, answered3 ? 5000 : 500);
    QCOMPARE(answer3.isEmpty(), !answered3);
    if (answered3)
        QCOMPARE(quint8(answer3.at(1)), quint8(0));
    QVERIFY(drive.stop());
    const QList<SimDrive::LogEntry> entries = drive.logEntries();
    QCOMPARE(entries.size(), 3);
    QVERIFY2(entries[1].sLine.endsWith(logged2), qPrintable(entries[1].sLine));
    QVERIFY(!entries[2].sLine.contains("fault=") || fault.startsWith("silent") || fault.startsWith("stream"));
}

void TestSimDrive::verifyFault()
{
    SimDrive drive;
    QVERIFY2(drive.start(SmallFlash + QStringList{"--fault", "verify:2"}), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));
    QVERIFY(loadBuffer(client, Flash::kData, pattern(128, 3)));
    QCOMPARE(command(client, Flash::kCommand, Flash::kProgram, 0, 128), 0);
    const quint32 expected[] = {0, 1, 0};
    for (quint32 n : expected) {
        QCOMPARE(command(client, Flash::kCommand, Flash::kVerify, 0, 128), 0);
        QCOMPARE(status1(client, Flash::kStatus), n);
    }
    QVERIFY(drive.stop());
}

void TestSimDrive::poweredOffWaitsForWakePattern()
{
    SimDrive drive;
    QVERIFY2(drive.start({"--powered-off"}), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));
    QCOMPARE(client.transact(QByteArray::fromHex("045FB00104"), 400), QByteArray());
    // The pattern split over two writes, after noise and a false start.
    QVERIFY(client.writeRaw(QByteArray::fromHex("00FEED00FEED")));
    QVERIFY(client.writeRaw(QByteArray::fromHex("C0DE")));
    QCOMPARE(client.readRaw(5000, 4), QByteArray::fromHex("FEEDC0DE"));
    // The tool keeps sending the pattern until it sees the echo.
    QVERIFY(client.writeRaw(QByteArray::fromHex("FEEDC0DE")));
    quint32 nRate = 0;
    QCOMPARE(client.readU32(kBaudRate, 1, nRate), 0);
    QVERIFY(drive.stop());
    QVERIFY(drive.logLines().contains(QStringLiteral("- wake echoed")));
    QCOMPARE(drive.logLines().filter(QStringLiteral("- wake")).size(), 1);
    QCOMPARE(drive.logEntries().size(), 1);
}

void TestSimDrive::wakeDelayKeepsDriveDeaf()
{
    SimDrive drive;
    QElapsedTimer timer;
    timer.start();
    QVERIFY2(drive.start({"--powered-off", "--wake-delay", "2000"}), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));
    // Like the tool: the pattern every 20 ms until the echo comes.
    QByteArray echo;
    while (echo.size() < 4 && timer.elapsed() < 30000) {
        QVERIFY(client.writeRaw(QByteArray::fromHex("FEEDC0DE")));
        echo += client.readRaw(20, 4);
    }
    QCOMPARE(echo.left(4), QByteArray::fromHex("FEEDC0DE"));
    QVERIFY2(timer.elapsed() >= 2000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(drive.stop());
}

void TestSimDrive::throttleTakesWireTime()
{
    SimDrive drive;
    QVERIFY2(drive.start({"--throttle"}), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));
    // Request frame 10 bytes, answer 5 + 128 payload bytes and 5 framing
    // bytes (the buffer holds FF, nothing to escape): 148 bytes of 10 bits.
    QElapsedTimer timer;
    timer.start();
    QByteArray data;
    QCOMPARE(client.readData(Flash::kData, 1, data), 0);
    QCOMPARE(data, QByteArray(128, char(0xFF)));
    QVERIFY2(timer.elapsed() >= 148 * 10 * 1000 / 9600, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(drive.stop());
}

void TestSimDrive::eepromWritesBackItsFile()
{
    SimDrive drive;
    const QString sFile = drive.filePath("eeprom.bin");
    QVERIFY2(drive.start({"--eeprom-size", "1K", "--eeprom", sFile}), qPrintable(drive.errorString()));
    PtyClient client;
    QVERIFY(client.open(drive.portName(), 9600));
    QCOMPARE(command(client, Eeprom::kCommand, Eeprom::kInfo, 0, 0), 0);
    QCOMPARE(status1(client, Eeprom::kStatus), 1024u);
    const QByteArray data = pattern(256, 9);
    QVERIFY(loadBuffer(client, Eeprom::kData, data));
    QCOMPARE(command(client, Eeprom::kCommand, Eeprom::kWrite, 0x100, 200), 0);
    QCOMPARE(command(client, Eeprom::kCommand, Eeprom::kVerify, 0x100, 200), 0);
    QCOMPARE(status1(client, Eeprom::kStatus), 0u);
    QCOMPARE(command(client, Eeprom::kCommand, Eeprom::kWrite, 0x3C0, 256), 200); // beyond the end
    QVERIFY(drive.stop());
    QFile file(sFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QCOMPARE(written.size(), 1024);
    QCOMPARE(written.mid(0x100, 200), data.left(200));
    QCOMPARE(written.mid(0x100 + 200, 8), QByteArray(8, char(0xFF)));
}

QTEST_GUILESS_MAIN(TestSimDrive)
#include "tst_simdrive.moc"
