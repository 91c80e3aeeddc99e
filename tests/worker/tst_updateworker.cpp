// Whole update runs: the worker in a thread of its own, a COM-port transport
// on a pseudo-terminal, and the simulated drive on the other end.

#include "SimDrive.h"
#include "UpdateRun.h"
#include "WorkerRun.h"

#include "Lzrw3a.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>

#ifdef Q_OS_LINUX
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

const quint32 kSector = 0x10000;
const quint32 kFlashSize = 0x100000; // 1 MiB keeps the memory files small
const QString kTimeout = QStringLiteral("Communication timeout error (driver)");

// Sector k of a preloaded flash holds the byte 0x40 + k, except sector 3,
// which is blank, so that the check-before-erase is seen to skip it.
QByteArray preloadedFlash()
{
    QByteArray data(int(kFlashSize), char(0xFF));
    for (quint32 a = 0; a < kFlashSize; a += kSector)
        if (a / kSector != 3)
            data.replace(int(a), int(kSector), QByteArray(int(kSector), char(0x40 + a / kSector)));
    return data;
}

// Simulator arguments for a 1 MiB flash device nMemory holding content.
QStringList flashArgs(const SimDrive &sim, int nMemory, const QByteArray &content)
{
    return {QStringLiteral("--flash-size"), QString::number(kFlashSize), QStringLiteral("--flash%1").arg(nMemory),
            sim.writeFile(QStringLiteral("flash%1.bin").arg(nMemory), content)};
}

BaseParams paramsFor(const QString &sPort, int nBootType, int nBaud = 0)
{
    BaseParams params;
    params.sPort = sPort;
    params.nBootType = nBootType;
    params.nBaudrate = uint32_t(nBaud);
    return params;
}

QByteArray readFile(const QString &sPath)
{
    QFile f(sPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Empty when equal, else where and how the memory differs.
QString memoryDiff(const QByteArray &have, const QByteArray &want)
{
    if (have.size() != want.size())
        return QStringLiteral("size %1, want %2").arg(have.size()).arg(want.size());
    for (int i = 0; i < have.size(); ++i)
        if (have[i] != want[i])
            return QStringLiteral("byte 0x%1 is 0x%2, want 0x%3")
                .arg(i, 0, 16)
                .arg(quint8(have[i]), 2, 16, QLatin1Char('0'))
                .arg(quint8(want[i]), 2, 16, QLatin1Char('0'));
    return {};
}

// Whether the events contain these, in this order (others may lie between).
bool inOrder(const QStringList &events, const QStringList &expected)
{
    int k = 0;
    for (const QString &e : events)
        if (k < expected.size() && e == expected[k])
            ++k;
    return k == expected.size();
}

// A compressor that garbles every compressed block it produces (a single
// flipped byte may by chance name an entry with equal contents).
int faultyCompressor(const uint8_t *pInput, uint32_t nLength, void *pWork, uint8_t *pOutput, size_t nOutCapacity,
                     uint32_t *pOutLength)
{
    const int n = compressBlock(pInput, nLength, pWork, pOutput, nOutCapacity, pOutLength);
    if (n == 0 && pOutput[0] == 0)
        for (uint32_t i = 6; i < *pOutLength; i += 5)
            pOutput[i] ^= 0x5A;
    return n;
}

} // namespace

// Every run ends exactly once, in time, with the port closed, and the signal
// spies saw what the ordered log saw.
#define VERIFY_RUN_ENDED(o)                                      \
    do {                                                         \
        QVERIFY((o).bFinishedInTime);                            \
        QVERIFY((o).consistent());                               \
        QCOMPARE((o).nFinished, 1);                              \
        QCOMPARE((o).events.last(), QStringLiteral("finished")); \
        QVERIFY(!(o).bPortOpenAfter);                            \
    } while (0)

class TestUpdateWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void programAndReadBack_data();
    void programAndReadBack();
    void faultyCompressorIsCaught();
    void programRefusals_data();
    void programRefusals();
    void firmwareInfo_data();
    void firmwareInfo();
    void eraseAndRead_data();
    void eraseAndRead();
    void eeprom_data();
    void eeprom();
    void stepsAndOrder_data();
    void stepsAndOrder();
    void faults_data();
    void faults();
    void cancel_data();
    void cancel();
    void skipUnchanged_data();
    void skipUnchanged();
    void wakeMatching_data();
    void wakeMatching();
    void startFailures_data();
    void startFailures();
    void runObjectCancelAndWait();

private:
    bool startSim(SimDrive &sim, const QStringList &args);
    // Requests of a fault-free faults() run, without and with repeats (with
    // them the connection confirms the new rate with one more probe).
    QMap<bool, QList<SimDrive::LogEntry>> m_cleanLogs;
};

void TestUpdateWorker::initTestCase()
{
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");
    QProcess probe;
    probe.start(QStringLiteral("srec_cat"), {QStringLiteral("-version")});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        QSKIP("srec_cat (srecord) is needed to write the test images");
}

bool TestUpdateWorker::startSim(SimDrive &sim, const QStringList &args)
{
    if (!sim.start(args)) {
        qWarning("simulator did not start: %s", qPrintable(sim.errorString()));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------

void TestUpdateWorker::programAndReadBack_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("memory");
    QTest::addColumn<int>("simBaud"); // the drive's power-on rate
    QTest::addColumn<int>("baud");    // working rate asked for
    QTest::addColumn<bool>("compress");
    QTest::addColumn<int>("bootType");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("size");

    QTest::newRow("hex flash0 9600 powered-off small")
        << "hex" << 0 << 9600 << 9600 << true << int(PoweredOff) << quint32(0x10040) << 2000;
    QTest::newRow("srec flash1 115200 monitor compressed")
        << "srec" << 1 << 9600 << 115200 << true << int(RunningMonitor) << quint32(0x20300) << 150000;
    QTest::newRow("hex flash0 921600 monitor raw")
        << "hex" << 0 << 19200 << 921600 << false << int(RunningMonitor) << quint32(0) << 200000;
    QTest::newRow("srec flash0 921600 powered-off compressed")
        << "srec" << 0 << 9600 << 921600 << true << int(PoweredOff) << quint32(0x31000) << 180000;
    QTest::newRow("hex flash1 115200 powered-off raw")
        << "hex" << 1 << 9600 << 115200 << false << int(PoweredOff) << quint32(0xE0000) << 70000;
}

void TestUpdateWorker::programAndReadBack()
{
    QFETCH(QString, format);
    QFETCH(int, memory);
    QFETCH(int, simBaud);
    QFETCH(int, baud);
    QFETCH(bool, compress);
    QFETCH(int, bootType);
    QFETCH(quint32, address);
    QFETCH(int, size);

    SimDrive sim;
    const QByteArray before = preloadedFlash();
    QStringList args = flashArgs(sim, memory, before) << QStringLiteral("--baud") << QString::number(simBaud);
    if (bootType == PoweredOff)
        args << QStringLiteral("--powered-off");
    QVERIFY(startSim(sim, args));

    const QByteArray image = mixedBytes(size, quint32(size), address);
    const QString sImage = sim.filePath(QStringLiteral("image.") + format);
    QString sError;
    QVERIFY2(writeImageFile(sImage, format, image, address, &sError), qPrintable(sError));
    const QString sReadBack = sim.filePath(QStringLiteral("readback.srec"));
    const WorkerOutcome o = runWorker(paramsFor(sim.portName(), bootType, baud),
                                      {PgmEntry{memory, Program, -1, -1, sImage, compress},
                                       PgmEntry{memory, Read, int32_t(address), size, sReadBack}});
    VERIFY_RUN_ENDED(o);
    QVERIFY2(o.nCritical == 0, qPrintable(o.sCriticalTitle + ": " + o.sCriticalText));
    QCOMPARE(o.nStep, 3);
    QVERIFY(o.stats.succeeded());
    if (bootType == PoweredOff)
        QCOMPARE(o.states.mid(0, 2), (QStringList{"Init boot monitor", "Done!"}));
    else
        QVERIFY(!o.states.contains(QStringLiteral("Init boot monitor")));
    // The file is announced by its base name before it is read; each phase
    // opens with its state, a step and 0 %.
    // The typed results frame the texts: a job starts, each phase comes just
    // before the state that names it, the job ends with its outcome.
    QVERIFY2(inOrder(o.events, {"ProgressSteps:3",
                                "RunStarted:1",
                                "JobStarted:0",
                                "PhaseChanged:0,Query",
                                "ProgressState:Query flash information",
                                "ProgressValue:0",
                                "PhaseChanged:0,Select",
                                "ProgressState:Select flash device",
                                "ProgressValue:0",
                                "ProgressFile:image",
                                "PhaseChanged:0,ReadFile",
                                "ProgressState:Reading flash file",
                                "ProgressStep",
                                "ProgressValue:0",
                                "PhaseChanged:0,Erase",
                                "ProgressState:Erase flash",
                                "ProgressValue:100",
                                "PhaseChanged:0,Program",
                                "ProgressState:Program flash",
                                "ProgressStep",
                                "ProgressValue:0",
                                "ProgressValue:100",
                                "ProgressState:Update finished",
                                "JobFinished:0,Done",
                                "JobStarted:1",
                                "PhaseChanged:1,Read",
                                "ProgressState:Read Flash",
                                "ProgressStep",
                                "ProgressValue:100",
                                "ProgressState:Reading flash finished",
                                "JobFinished:1,Done",
                                "finished"}),
             qPrintable(o.events.join(QLatin1Char('|'))));
    QCOMPARE(o.events.first(), QStringLiteral("ProgressSteps:3"));

    // Read-back through the worker equals the image.
    QCOMPARE(loadImageBytes(sReadBack, address, quint32(size)), image);

    // Statistics agree with what reached the drive, and with what the job
    // reported when it ended.
    const JobStats &job = o.stats.jobs.at(0);
    QCOMPARE(o.finishedJobs.size(), 2);
    QCOMPARE(o.finishedJobs.at(0).nBlocksRaw, job.nBlocksRaw);
    QCOMPARE(o.finishedJobs.at(1).nImageBytes, quint64(size));
    QCOMPARE(job.geometry.nSize, kFlashSize);
    QCOMPARE(job.geometry.nSectorSize, kSector);
    QCOMPARE(job.geometry.nPageSize, 256u);
    const int nPrograms = sim.commandCount(QStringLiteral("flash-program"));
    QCOMPARE(int(job.nBlocksRaw + job.nBlocksCompressed), nPrograms);
    QCOMPARE(job.nBlocksExpandMismatch, 0u);
    if (!compress)
        QCOMPARE(sim.commandCount(QStringLiteral("flash-decompress")), 0);
    else if (size > 8192)
        QVERIFY(job.nBlocksCompressed > 0);
    QVERIFY(job.nWireBytesSent > 0 && job.nWireBytesReceived > 0);
    if (size > 3 * 8192)
        QVERIFY(job.nBlocksSkipped > 0);                                   // the erased stretches of the image
    QCOMPARE(sim.commandCount(QStringLiteral("flash-verify")), nPrograms); // every block verified

    // No program command touched an all-FF block.
    const QByteArray padded = QByteArray(int(address), char(0xFF)) + image + QByteArray(int(kFlashSize), char(0xFF));
    for (const SimDrive::LogEntry &e : sim.logEntries())
        if (e.command() == QLatin1String("flash-program")) {
            const QByteArray block =
                padded.mid(int(e.number(QStringLiteral("addr"))), int(e.number(QStringLiteral("size"))));
            QVERIFY2(block.count(char(0xFF)) != block.size(), qPrintable(e.sLine));
        }

    // Only the touched sectors were erased, and the blank one among them not.
    const quint32 nFirst = address / kSector * kSector;
    const quint32 nLast = (address + quint32(size) - 1) / kSector * kSector + kSector;
    QList<quint32> expectedErase;
    for (quint32 s = nFirst; s < nLast; s += kSector)
        if (s / kSector != 3)
            expectedErase << s;
    QCOMPARE(sim.erasedSectors(memory), expectedErase);
    QCOMPARE(job.nSectorsErased, quint32(expectedErase.size()));

    // The flash itself: the image, FF elsewhere in touched sectors, the old
    // contents everywhere else.
    QVERIFY(sim.stop());
    QByteArray want = before;
    want.replace(int(nFirst), int(nLast - nFirst), QByteArray(int(nLast - nFirst), char(0xFF)));
    want.replace(int(address), size, image);
    const QString sDiff = memoryDiff(readFile(args.value(3)), want);
    QVERIFY2(sDiff.isEmpty(), qPrintable(sDiff));
}

// The local expand check catches a compressor that produces wrong blocks:
// they go raw, and the flash still gets the image.
void TestUpdateWorker::faultyCompressorIsCaught()
{
    SimDrive sim;
    const QStringList args = flashArgs(sim, Flash0, QByteArray(int(kFlashSize), char(0xFF)));
    QVERIFY(startSim(sim, args));
    const quint32 nAddress = 0x8000;
    const QByteArray image = mixedBytes(40000, 7, nAddress);
    const QString sImage = sim.filePath(QStringLiteral("image.hex"));
    QVERIFY(writeImageFile(sImage, QStringLiteral("hex"), image, nAddress));

    const WorkerOutcome o =
        runWorker(paramsFor(sim.portName(), RunningMonitor, 115200), {PgmEntry{Flash0, Program, -1, -1, sImage, true}},
                  [](UpdateWorker *w) { w->setBlockCompressor(&faultyCompressor); });
    VERIFY_RUN_ENDED(o);
    QCOMPARE(o.nCritical, 0);
    QVERIFY(o.stats.succeeded());
    QVERIFY(o.stats.jobs.at(0).nBlocksExpandMismatch > 0);
    QCOMPARE(o.stats.jobs.at(0).nBlocksCompressed, 0u); // every corrupted block went raw
    QCOMPARE(sim.commandCount(QStringLiteral("flash-decompress")), 0);
    QVERIFY(sim.stop());
    QCOMPARE(readFile(args.value(3)).mid(int(nAddress), image.size()), image);
}

void TestUpdateWorker::programRefusals_data()
{
    QTest::addColumn<QByteArray>("content"); // file content; "@missing" for no file
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    const QString examine = QStringLiteral("Examine flash file");
    const QString noType = QStringLiteral("Cannot determine type of flash file %1");
    QTest::newRow("unknown type") << QByteArray("hello world\n") << examine << noType;
    QTest::newRow("shorter than four bytes") << QByteArray(":00") << examine << noType;
    QTest::newRow("missing file") << QByteArray("@missing") << examine << noType;
    QTest::newRow("bad checksum") << QByteArray(":0400000001020304F0\n:00000001FF\n") << "Reading flash file"
                                  << "Cannot read flash file %1";
    QTest::newRow("no data") << QByteArray(":00000001FF\n") << "Reading flash file"
                             << "Flash file %1 holds no data for this flash device";
    // 1 MiB flash: a record at 0x100000 lies beyond it and would be dropped.
    QTest::newRow("data beyond the flash")
        << QByteArray(":0400000001020304F2\n:020000040010EA\n:0400000001020304F2\n:00000001FF\n")
        << "Reading flash file"
        << "Flash file %1 holds data beyond the end of the flash (0xfffff)";
}

void TestUpdateWorker::programRefusals()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, title);
    QFETCH(QString, text);

    SimDrive sim;
    QVERIFY(startSim(sim, {QStringLiteral("--flash-size"), QString::number(kFlashSize)}));
    const QString sImage = content == "@missing" ? sim.filePath(QStringLiteral("none.hex"))
                                                 : sim.writeFile(QStringLiteral("image.hex"), content);
    const PgmEntry program{Flash0, Program, -1, -1, sImage, true};
    const WorkerOutcome o = runWorker(paramsFor(sim.portName(), RunningMonitor), {program, program});
    VERIFY_RUN_ENDED(o);
    QCOMPARE(o.nCritical, 1);
    QCOMPARE(o.sCriticalTitle, title);
    QCOMPARE(o.sCriticalText, text.replace(QLatin1String("%1"), sImage));
    // An input check has no failure state, and nothing was erased or programmed.
    QVERIFY(!o.states.last().endsWith(QLatin1String("failed!")));
    QCOMPARE(sim.commandCount(QStringLiteral("flash-check")), 0);
    QCOMPARE(sim.commandCount(QStringLiteral("flash-program")), 0);
    QCOMPARE(sim.commandCount(QStringLiteral("flash-select")), 1); // the second job never ran
    QVERIFY(!o.stats.succeeded());
}

// ---------------------------------------------------------------------------

void TestUpdateWorker::firmwareInfo_data()
{
    QTest::addColumn<bool>("withInfo");
    QTest::addColumn<int>("bootType");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("expectedRate"); // rate the drive is switched to
    QTest::addColumn<bool>("injectTransport");
    QTest::newRow("info block at 0x400000, running monitor") << true << int(RunningMonitor) << 230400 << 230400 << true;
    // The window's way: the worker picks the transport for the port itself.
    QTest::newRow("info block at 0x400000, powered off, default rate, own transport")
        << true << int(PoweredOff) << 0 << 115200 << false;
    QTest::newRow("blank flash: no info, rate outside the table")
        << false << int(RunningMonitor) << 12345 << 115200 << true;
}

void TestUpdateWorker::firmwareInfo()
{
    QFETCH(bool, withInfo);
    QFETCH(int, bootType);
    QFETCH(int, baud);
    QFETCH(int, expectedRate);
    QFETCH(bool, injectTransport);
    SimDrive sim;
    QByteArray flash(0x400000 + 0x1000, char(0xFF));
    if (withInfo) {
        auto word = [](quint32 v) {
            QByteArray b(4, 0);
            for (int i = 0; i < 4; ++i)
                b[i] = char(v >> (8 * i));
            return b;
        };
        QByteArray chain = word(16) + word(0x100) + QByteArray(16, char(0x11)); // a block that is skipped
        chain += word(104) + word(0x1400);
        const char *fields[5] = {"HW-REV-C", "FW 3.1.4", "2026-12-01", "Servo drive firmware", "SN-42"};
        const int sizes[5] = {16, 16, 16, 40, 16};
        for (int i = 0; i < 5; ++i)
            chain += QByteArray(fields[i]).leftJustified(sizes[i], '\0', true);
        flash.replace(0x400000, chain.size(), chain);
    }
    QStringList args{QStringLiteral("--flash0"), sim.writeFile(QStringLiteral("flash0.bin"), flash)};
    if (bootType == PoweredOff)
        args << QStringLiteral("--powered-off");
    QVERIFY(startSim(sim, args));

    const WorkerOutcome o = runWorker(paramsFor(sim.portName(), bootType, baud), {}, {}, {}, 120000, injectTransport);
    QStringList rates;
    for (const SimDrive::LogEntry &e : sim.logEntries())
        if (e.fields.contains(QStringLiteral("baud")))
            rates << e.fields.value(QStringLiteral("baud"));
    QCOMPARE(rates, QStringList{QString::number(expectedRate)});
    VERIFY_RUN_ENDED(o);
    QCOMPARE(o.nCritical, 0);
    QVERIFY(o.stats.succeeded());
    QVERIFY(o.stats.nWireBytesSent > 0);
    QCOMPARE(o.events.first(), QStringLiteral("ProgressSteps:0"));
    const QString sExpected =
        withInfo ? QStringLiteral("HW-REV-C\nFW 3.1.4\n2026-12-01\nServo drive firmware\nSN-42") : QString();
    QCOMPARE(o.sInfoText, sExpected);
    QCOMPARE(o.started.firmwareInfo.join(QLatin1Char('\n')), sExpected);
    QCOMPARE(o.started.firmwareInfo.size(), withInfo ? 5 : 0);
    QCOMPARE(o.events.filter(QRegularExpression(QStringLiteral("^ProgressInfoText:"))).size(), withInfo ? 1 : 0);
}

// ---------------------------------------------------------------------------

void TestUpdateWorker::eraseAndRead_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("output"); // "ok", "bad" (unwritable) for Read
    QTest::addColumn<QString>("title");  // expected ShowCritical, empty: none
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("endState");

    const QString range = QStringLiteral("Offset/length exceeds flash address range!");
    QTest::newRow("erase whole device") << int(Erase) << 0 << -1 << ""
                                        << ""
                                        << ""
                                        << "Erase finished";
    QTest::newRow("erase two sectors") << int(Erase) << 0x20000 << 0x20000 << ""
                                       << ""
                                       << ""
                                       << "Erase finished";
    QTest::newRow("erase half-sector offset") << int(Erase) << 0x8000 << 0x10000 << ""
                                              << "Flash erase"
                                              << "Offset and size must be a multiple of 65536 (0x10000)"
                                              << "";
    QTest::newRow("erase from an offset to the end") << int(Erase) << 0xE0000 << -1 << ""
                                                     << ""
                                                     << ""
                                                     << "Erase finished";
    QTest::newRow("erase past the end") << int(Erase) << 0xF0000 << 0x20000 << ""
                                        << "Flash erase" << range << "";
    QTest::newRow("erase negative offset") << int(Erase) << -1 << 0x10000 << ""
                                           << "Flash erase" << range << "";
    QTest::newRow("read two and a half buffers") << int(Read) << 0x1000 << 20480 << "ok"
                                                 << ""
                                                 << ""
                                                 << "Reading flash finished";
    QTest::newRow("read whole device") << int(Read) << 0 << -1 << "ok"
                                       << ""
                                       << ""
                                       << "Reading flash finished";
    QTest::newRow("read from an offset to the end") << int(Read) << 0xFD000 << -1 << "ok"
                                                    << ""
                                                    << ""
                                                    << "Reading flash finished";
    QTest::newRow("read to the end from the end") << int(Read) << int(kFlashSize) << -1 << "ok"
                                                  << "Flash read" << range << "";
    QTest::newRow("read past the end") << int(Read) << 0xFFF00 << 0x200 << "ok"
                                       << "Flash read" << range << "";
    QTest::newRow("read negative offset") << int(Read) << -5 << 16 << "ok"
                                          << "Flash read" << range << "";
    QTest::newRow("read into unwritable file") << int(Read) << 0 << 4096 << "bad"
                                               << "Flash read"
                                               << "Writing to file %1 failed!"
                                               << "Reading flash finished";
}

void TestUpdateWorker::eraseAndRead()
{
    QFETCH(int, operation);
    QFETCH(int, offset);
    QFETCH(int, length);
    QFETCH(QString, output);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, endState);

    SimDrive sim;
    QByteArray before = preloadedFlash();
    before.replace(0, 0x30000, randomBytes(0x30000, 99));
    const QStringList args = flashArgs(sim, Flash1, before);
    QVERIFY(startSim(sim, args));
    const QString sOut = sim.filePath(output == QLatin1String("bad") ? QStringLiteral("no-such-dir/out.srec")
                                                                     : QStringLiteral("out.srec"));
    // A second job (query and select only) shows whether a failure ended the list.
    const WorkerOutcome o =
        runWorker(paramsFor(sim.portName(), RunningMonitor, 460800),
                  {PgmEntry{Flash1, operation, offset, length, operation == Read ? sOut : QString()},
                   PgmEntry{Eeprom0, 9, -1, -1, {}}});
    VERIFY_RUN_ENDED(o);
    QCOMPARE(o.nSteps, 2);
    QCOMPARE(o.sCriticalTitle, title);
    QCOMPARE(o.sCriticalText, text.replace(QLatin1String("%1"), sOut));
    const bool bRefused = !title.isEmpty() && endState.isEmpty();
    if (endState.isEmpty())
        QVERIFY(!o.states.last().endsWith(QLatin1String("finished")));
    else
        QVERIFY(o.states.contains(endState));
    // A refusal ends the list; a failed file write does not, but the job
    // does not count as done.
    QCOMPARE(sim.commandCount(QStringLiteral("eeprom-info")), bRefused ? 0 : 1);
    QCOMPARE(o.stats.jobs.at(0).succeeded(), title.isEmpty());
    QCOMPARE(o.stats.succeeded(), title.isEmpty());
    QCOMPARE(o.stats.jobs.at(0).eFailure == WorkerFailure::OutputWrite, output == QLatin1String("bad"));
    if (output == QLatin1String("bad"))
        QVERIFY(!QFile::exists(sOut));

    const quint32 nOffset = quint32(offset);
    const quint32 nLength = length < 0 ? kFlashSize - nOffset : quint32(length);
    if (operation == Read && title.isEmpty()) {
        QCOMPARE(loadImageBytes(sOut, nOffset, nLength), before.mid(int(nOffset), int(nLength)));
        // 8192-byte blocks; the length parameter is written only when it changes.
        QList<quint32> sizes;
        for (const SimDrive::LogEntry &e : sim.logEntries())
            if (e.command() == QLatin1String("flash-read") && e.number(QStringLiteral("addr")) >= nOffset
                && e.number(QStringLiteral("addr")) < nOffset + nLength)
                sizes << e.number(QStringLiteral("size"));
        QCOMPARE(sizes.size(), int((nLength + 8191) / 8192));
        QCOMPARE(sizes.first(), qMin(nLength, 8192u));
    }
    if (operation == Erase) {
        QList<quint32> expected;
        QByteArray want = before;
        for (quint32 s = nOffset; title.isEmpty() && s < nOffset + nLength; s += kSector) {
            want.replace(int(s), int(kSector), QByteArray(int(kSector), char(0xFF)));
            if (s / kSector != 3)
                expected << s;
        }
        QCOMPARE(sim.erasedSectors(1), expected);
        QVERIFY(sim.stop());
        const QString sDiff = memoryDiff(readFile(args.value(3)), want);
        QVERIFY2(sDiff.isEmpty(), qPrintable(sDiff));
    }
}

// ---------------------------------------------------------------------------

void TestUpdateWorker::eeprom_data()
{
    QTest::addColumn<int>("memory");
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("endState");

    const QString range = QStringLiteral("Offset/length exceeds EEPROM address range!");
    QTest::newRow("write 300 bytes") << 2 << int(Program) << 0x100 << 300 << ""
                                     << ""
                                     << "Writing EEPROM finished";
    QTest::newRow("write 512 bytes eeprom1") << 3 << int(Program) << 0x200 << 512 << ""
                                             << ""
                                             << "Writing EEPROM finished";
    QTest::newRow("read 300 bytes") << 2 << int(Read) << 0x80 << 300 << ""
                                    << ""
                                    << "Reading EEPROM finished";
    QTest::newRow("read whole eeprom") << 3 << int(Read) << 0 << -1 << ""
                                       << ""
                                       << "Reading EEPROM finished";
    QTest::newRow("erase range") << 2 << int(Erase) << 0x300 << 700 << ""
                                 << ""
                                 << "Erasing EEPROM finished";
    QTest::newRow("erase whole eeprom") << 2 << int(Erase) << 0 << -1 << ""
                                        << ""
                                        << "Erasing EEPROM finished";
    QTest::newRow("erase from an offset to the end") << 2 << int(Erase) << 0x7E80 << -1 << ""
                                                     << ""
                                                     << "Erasing EEPROM finished";
    QTest::newRow("write from an offset to the end") << 3 << int(Program) << 0x7C00 << -1 << ""
                                                     << ""
                                                     << "Writing EEPROM finished";
    QTest::newRow("read from an offset to the end") << 3 << int(Read) << 0x7D00 << -1 << ""
                                                    << ""
                                                    << "Reading EEPROM finished";
    QTest::newRow("write past the end") << 2 << int(Program) << 0x7F00 << 0x200 << "EEPROM write" << range << "";
    QTest::newRow("read negative offset") << 3 << int(Read) << -1 << 10 << "EEPROM read" << range << "";
    QTest::newRow("erase past the end") << 2 << int(Erase) << 0 << 0x8001 << "EEPROM erase" << range << "";
    QTest::newRow("write verify fails") << 2 << int(Program) << 0 << 600 << "EEPROM write"
                                        << "Verify after write failed!"
                                        << "Writing EEPROM failed!";
    QTest::newRow("erase verify fails") << 2 << int(Erase) << 0 << 600 << "EEPROM erase"
                                        << "Verify after erase failed!"
                                        << "Erasing EEPROM failed!";
}

void TestUpdateWorker::eeprom()
{
    QFETCH(int, memory);
    QFETCH(int, operation);
    QFETCH(int, offset);
    QFETCH(int, length);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, endState);

    const quint32 nSize = 0x8000;
    SimDrive sim;
    const QByteArray before = randomBytes(int(nSize), 5);
    const QString sMem = sim.writeFile(QStringLiteral("eeprom.bin"), before);
    QStringList args{memory == Eeprom0 ? QStringLiteral("--eeprom") : QStringLiteral("--eeprom1"), sMem};
    const bool bVerifyFails = text.startsWith(QLatin1String("Verify"));
    if (bVerifyFails)
        args << QStringLiteral("--fault") << QStringLiteral("verify:2");
    QVERIFY(startSim(sim, args));

    const quint32 nOffset = quint32(offset);
    const quint32 nLength = length < 0 ? nSize - nOffset : quint32(length);
    // Data for the first half of the range only: the rest is written as FF.
    const QByteArray data = randomBytes(int(nLength / 2), 11);
    const QString sImage =
        sim.filePath(operation == Read ? QStringLiteral("eeprom-out.srec") : QStringLiteral("data.srec"));
    if (operation == Program)
        QVERIFY(writeImageFile(sImage, QStringLiteral("srec"), data, nOffset));

    const WorkerOutcome o = runWorker(paramsFor(sim.portName(), RunningMonitor, 57600),
                                      {PgmEntry{memory, operation, offset, length, sImage}});
    VERIFY_RUN_ENDED(o);
    QCOMPARE(o.nSteps, 1);
    QCOMPARE(o.nStep, 1);
    QCOMPARE(o.sCriticalTitle, title);
    QCOMPARE(o.sCriticalText, text);
    if (!endState.isEmpty())
        QCOMPARE(o.states.last(), endState);
    QCOMPARE(o.stats.succeeded(), title.isEmpty());

    QByteArray expected = before;
    if (title.isEmpty() && operation == Program)
        expected.replace(int(nOffset), int(nLength), data + QByteArray(int(nLength) - data.size(), char(0xFF)));
    if (title.isEmpty() && operation == Erase)
        expected.replace(int(nOffset), int(nLength), QByteArray(int(nLength), char(0xFF)));
    if (operation == Read && title.isEmpty())
        QCOMPARE(loadImageBytes(sImage, nOffset, nLength), before.mid(int(nOffset), int(nLength)));
    // Every block of a write or erase was verified by the drive.
    if (title.isEmpty() && operation != Read)
        QCOMPARE(sim.commandCount(QStringLiteral("eeprom-verify")), int((nLength + 255) / 256));
    QVERIFY(sim.stop());
    if (!bVerifyFails) // else the first block was written before the failing verify
        QCOMPARE(readFile(sMem), expected);
}

// ---------------------------------------------------------------------------

void TestUpdateWorker::stepsAndOrder_data()
{
    QTest::addColumn<QString>("jobs"); // memory/operation[/offset/length] separated by spaces
    QTest::addColumn<int>("bootType");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QStringList>("commands"); // sim commands expected, in order (select/erase only)
    QTest::addColumn<bool>("success");

    QTest::newRow("two erases flash0 flash1")
        << "0/0/0/65536 1/0/65536/65536" << int(RunningMonitor) << 2
        << QStringList{"flash-select dev=0", "flash-erase 0x00000000", "flash-select dev=1", "flash-erase 0x00010000"}
        << true;
    QTest::newRow("memory 7 skipped silently")
        << "0/0/0/65536 7/0/0/65536 1/5" << int(RunningMonitor) << 3
        << QStringList{"flash-select dev=0", "flash-erase 0x00000000", "flash-select dev=1"} << true;
    QTest::newRow("negative memory skipped")
        << "-1/1 2/5" << int(RunningMonitor) << 2 << QStringList{"eeprom-select dev=0"} << true;
    QTest::newRow("failing first job ends the list")
        << "0/0/100/65536 1/0/0/65536" << int(RunningMonitor) << 2 << QStringList{"flash-select dev=0"} << false;
    QTest::newRow("start option 0 runs nothing")
        << "0/0/0/65536" << int(RunningFirmware) << 1 << QStringList{} << false;
    QTest::newRow("program jobs count two steps")
        << "0/1 1/1 0/2/0/16" << int(RunningFirmware) << 5 << QStringList{} << false;
}

void TestUpdateWorker::stepsAndOrder()
{
    QFETCH(QString, jobs);
    QFETCH(int, bootType);
    QFETCH(int, steps);
    QFETCH(QStringList, commands);
    QFETCH(bool, success);

    SimDrive sim;
    QVERIFY(startSim(sim, flashArgs(sim, Flash0, preloadedFlash()) << QStringLiteral(
                              "--flash1") << sim.writeFile(QStringLiteral("f1.bin"), preloadedFlash())));
    QVector<PgmEntry> list;
    for (const QString &sJob : jobs.split(QLatin1Char(' '))) {
        const QStringList f = sJob.split(QLatin1Char('/'));
        list << PgmEntry{f.value(0).toInt(), f.value(1).toInt(), f.value(2, "-1").toInt(), f.value(3, "-1").toInt(),
                         sim.filePath(QStringLiteral("x.srec"))};
    }
    const WorkerOutcome o = runWorker(paramsFor(sim.portName(), bootType), list);
    VERIFY_RUN_ENDED(o);
    QCOMPARE(o.nSteps, steps);
    QCOMPARE(o.events.first(), QStringLiteral("ProgressSteps:%1").arg(steps));
    QCOMPARE(o.stats.succeeded(), success);
    if (bootType == RunningFirmware) {
        QCOMPARE(o.events, (QStringList{QStringLiteral("ProgressSteps:%1").arg(steps), "RunStarted:0", "finished"}));
        QVERIFY(sim.logEntries().isEmpty());
        return;
    }
    QStringList seen;
    for (const SimDrive::LogEntry &e : sim.logEntries()) {
        const QString c = e.command();
        if (c.endsWith(QLatin1String("-select")))
            seen << c + QStringLiteral(" dev=") + e.fields.value(QStringLiteral("dev"));
        else if (c == QLatin1String("flash-erase"))
            seen << c + QLatin1Char(' ') + e.fields.value(QStringLiteral("addr"));
    }
    QCOMPARE(seen, commands);
}

// ---------------------------------------------------------------------------

// Faults are placed relative to the requests of a clean run: "<command>#k"
// is the k-th request whose cmd= is that command, "<object>#k" the k-th
// request on that object; "+d" / "-d" move d requests further or back.
static int requestNumber(const QList<SimDrive::LogEntry> &log, const QString &sWhere)
{
    const QStringList parts = sWhere.split(QLatin1Char('#'));
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d+)([+-]\\d+)?$")).match(parts.value(1));
    if (!m.hasMatch())
        return -1;
    int nCount = m.captured(1).toInt();
    const int nDelta = m.captured(2).toInt();
    for (const SimDrive::LogEntry &e : log) {
        const QString sObject =
            QStringLiteral("%1.%2").arg(e.nIndex, 4, 16, QLatin1Char('0')).toUpper().arg(e.nSubindex);
        if (e.command() == parts[0] || sObject == parts[0].toUpper())
            if (--nCount == 0)
                return e.nRequest + nDelta;
    }
    return -1;
}

void TestUpdateWorker::faults_data()
{
    QTest::addColumn<QStringList>("faults"); // kind:where[:value]; "arg:..." passes simulator arguments
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("endState"); // last ProgressState expected
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("repeats");    // requests the worker repeated
    QTest::addColumn<QString>("result"); // the typed end of the first job: "done", a code, "verify", "regions"

    const QString garbled = QStringLiteral("Unspecified communication error (driver)");
    const QString busy = QStringLiteral("Service cannot be carried out due to device status");
    const QString pgm = QStringLiteral("Program flash");
    const QString failed = QStringLiteral("Update failed!");
    QTest::newRow("dropped data piece") << QStringList{"drop:5E12.1#1"} << pgm << kTimeout << failed << 0 << 0 << "101";
    QTest::newRow("corrupted verify status")
        << QStringList{"corrupt:flash-verify#2+1"} << pgm << garbled << failed << 0 << 0 << "100";
    QTest::newRow("busy program command")
        << QStringList{"busy:flash-program#1"} << pgm << busy << failed << 0 << 0 << "203";
    QTest::newRow("busy decompress") << QStringList{"busy:flash-decompress#1:174"} << pgm << "Object access denied"
                                     << failed << 0 << 0 << "174";
    QTest::newRow("failing verify") << QStringList{"verify:flash-verify#3"} << pgm << "Verify after write failed!"
                                    << failed << 0 << 0 << "verify";
    QTest::newRow("drive stops answering mid-block")
        << QStringList{"silent:5E12.3#2"} << pgm << kTimeout << failed << 0 << 0 << "101";
    QTest::newRow("dropped erase check") << QStringList{"drop:flash-check#2"} << "Erase flash" << kTimeout
                                         << "Erase flash" << 0 << 0 << "101";
    QTest::newRow("busy sector erase") << QStringList{"busy:flash-erase#1"} << "Erase flash" << busy << "Erase flash"
                                       << 0 << 0 << "203";
    QTest::newRow("corrupted flash query")
        << QStringList{"corrupt:5E11.2#1"} << "EPCS Info" << garbled << "Query flash information" << 0 << 0 << "100";
    QTest::newRow("dropped select") << QStringList{"drop:flash-select#1"} << "EPCS select device" << kTimeout
                                    << "Select flash device" << 0 << 0 << "101";
    QTest::newRow("two flash regions") << QStringList{"arg:--regions:2"} << "EPCS Info"
                                       << "Multiple regions not supported"
                                       << "Query flash information" << 0 << 0 << "regions";
    QTest::newRow("LIFE_TRIGGER bursts are skipped")
        << QStringList{"life:5E12.1#1:300", "life:flash-verify#1:40", "life:5E11.1#3:1000", "life:flash-program#2"}
        << ""
        << ""
        << "Update finished" << 0 << 0 << "done";

    // With repeats (the headless tool's --retries): harmless requests are
    // sent again, commands and the monitor's verdicts are not.
    QTest::newRow("dropped data piece, repeated") << QStringList{"drop:5E12.1#2"} << ""
                                                  << ""
                                                  << "Update finished" << 2 << 1 << "done";
    QTest::newRow("corrupted status and parameter, repeated")
        << QStringList{"corrupt:flash-verify#2+1", "drop:flash-program#3-1"} << ""
        << ""
        << "Update finished" << 2 << 2 << "done";
    QTest::newRow("two losses of one piece, repeated twice") << QStringList{"drop:5E12.4#1", "drop:5E12.4#1+1"} << ""
                                                             << ""
                                                             << "Update finished" << 2 << 2 << "done";
    QTest::newRow("dropped program command is not repeated")
        << QStringList{"drop:flash-program#1"} << pgm << kTimeout << failed << 3 << 0 << "101";
    QTest::newRow("busy answer is not repeated")
        << QStringList{"busy:5E12.2#1"} << pgm << busy << failed << 3 << 0 << "203";
    QTest::newRow("silent drive: repeats do not help")
        << QStringList{"silent:5E12.3#2"} << pgm << kTimeout << failed << 1 << 1 << "101";
}

void TestUpdateWorker::faults()
{
    QFETCH(QStringList, faults);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, endState);
    QFETCH(int, retries);
    QFETCH(int, repeats);
    QFETCH(QString, result);

    const quint32 nAddress = 0x1F000; // two sectors, several blocks
    const QByteArray image = mixedBytes(30000, 3, nAddress);
    QTemporaryDir dir;
    const QString sImage = dir.filePath(QStringLiteral("image.srec"));
    QVERIFY(writeImageFile(sImage, QStringLiteral("srec"), image, nAddress));
    const PgmEntry program{Flash0, Program, -1, -1, sImage, true};

    // A clean run tells where the requests fall; every row runs the same job.
    QList<SimDrive::LogEntry> &cleanLog = m_cleanLogs[retries > 0];
    if (cleanLog.isEmpty()) {
        SimDrive sim;
        QVERIFY(startSim(sim, flashArgs(sim, Flash0, preloadedFlash())));
        const WorkerOutcome o = runWorker(paramsFor(sim.portName(), RunningMonitor, 115200), {program},
                                          [retries](UpdateWorker *w) { w->setRetries(retries); });
        QVERIFY(o.stats.succeeded());
        cleanLog = sim.logEntries();
    }

    SimDrive sim;
    QStringList args = flashArgs(sim, Flash0, preloadedFlash());
    for (const QString &sFault : faults) {
        const QStringList f = sFault.split(QLatin1Char(':'));
        if (f[0] == QLatin1String("arg")) {
            args << f.mid(1);
        } else if (f[0] == QLatin1String("verify")) {
            // Counted by the drive among verify commands, not requests.
            args << QStringLiteral("--fault") << QStringLiteral("verify:%1").arg(f[1].section('#', 1).toInt());
        } else {
            const int n = requestNumber(cleanLog, f[1]);
            QVERIFY2(n > 0, qPrintable(sFault));
            args << QStringLiteral("--fault")
                 << (QStringList{f[0], QString::number(n)} + f.mid(2)).join(QLatin1Char(':'));
        }
    }
    QVERIFY(startSim(sim, args));
    const WorkerOutcome o = runWorker(paramsFor(sim.portName(), RunningMonitor, 115200), {program, program},
                                      [retries](UpdateWorker *w) { w->setRetries(retries); });
    VERIFY_RUN_ENDED(o);
    QCOMPARE(int(o.stats.jobs.at(0).nRetries), repeats);
    QCOMPARE(o.sCriticalTitle, title);
    QCOMPARE(o.sCriticalText, text);
    QCOMPARE(o.nCritical, title.isEmpty() ? 0 : 1);
    QCOMPARE(o.states.last(), endState);
    QCOMPARE(o.stats.succeeded(), title.isEmpty());
    // A failure ends the list: the second job never ran.
    QCOMPARE(o.stats.jobs.at(1).ran(), title.isEmpty());
    // The typed end of the job says what the message says, without its words.
    const JobStats &job = o.finishedJobs.at(0);
    const bool bCode = result.toInt() != 0;
    const WorkerFailure eFailure = result == QLatin1String("verify")    ? WorkerFailure::VerifyAfterWrite
                                   : result == QLatin1String("regions") ? WorkerFailure::MultipleRegions
                                   : bCode                              ? WorkerFailure::Communication
                                                                        : WorkerFailure::None;
    QCOMPARE(int(job.eOutcome), int(result == QLatin1String("done") ? JobOutcome::Done : JobOutcome::Failed));
    QCOMPARE(int(job.eFailure), int(eFailure));
    QCOMPARE(job.nCommCode, result.toInt());
    QCOMPARE(o.finishedJobs.size(), title.isEmpty() ? 2 : 1);
    QVERIFY(sim.stop());
    if (title.isEmpty())
        QCOMPARE(readFile(args.value(3)).mid(int(nAddress), image.size()), image);
}

// ---------------------------------------------------------------------------

void TestUpdateWorker::cancel_data()
{
    QTest::addColumn<QString>("when"); // event after which bCancel is set
    QTest::addColumn<bool>("poweredOff");
    QTest::addColumn<bool>("wakeAnswered");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("endState");

    QTest::newRow("before the run") << "" << false << true << "Erase flash"
                                    << "Erase flash";
    QTest::newRow("during erase") << "ProgressState:Erase flash" << false << true << "Erase flash"
                                  << "Erase flash";
    QTest::newRow("during programming") << "ProgressValue:after-program" << false << true << "Program flash"
                                        << "Update failed!";
    QTest::newRow("while the wake pattern is unanswered") << "timer" << true << false << "Init boot monitor"
                                                          << "Init boot monitor";
    QTest::newRow("in the cycle the wake answer completes")
        << "ProgressState:Done!" << true << true << "Init boot monitor"
        << "Done!";
}

void TestUpdateWorker::cancel()
{
    QFETCH(QString, when);
    QFETCH(bool, poweredOff);
    QFETCH(bool, wakeAnswered);
    QFETCH(QString, title);
    QFETCH(QString, endState);

    SimDrive sim;
    QStringList args = flashArgs(sim, Flash0, preloadedFlash());
    if (poweredOff)
        args << QStringLiteral("--powered-off");
    if (!wakeAnswered)
        args << QStringLiteral("--baud") << QStringLiteral("38400"); // never hears the 9600-baud pattern
    QVERIFY(startSim(sim, args));
    const QString sImage = sim.filePath(QStringLiteral("image.hex"));
    QVERIFY(writeImageFile(sImage, QStringLiteral("hex"), mixedBytes(100000, 1, 0), 0));

    bool bProgramming = false;
    WorkerEventHook hook;
    if (when == QLatin1String("ProgressValue:after-program")) {
        hook = [&](UpdateWorker *w, const QString &e) {
            if (e == QLatin1String("ProgressState:Program flash"))
                bProgramming = true;
            else if (bProgramming && e.startsWith(QLatin1String("ProgressValue:"))
                     && e != QLatin1String("ProgressValue:0"))
                w->bCancel = true;
        };
    } else if (!when.isEmpty() && when != QLatin1String("timer")) {
        hook = [when](UpdateWorker *w, const QString &e) {
            if (e == when)
                w->bCancel = true;
        };
    }
    std::function<void(UpdateWorker *)> prepare;
    if (when.isEmpty())
        prepare = [](UpdateWorker *w) { w->requestCancel(); };

    QThread *pCanceller = nullptr;
    UpdateWorker *pRunning = nullptr;
    if (when == QLatin1String("timer")) {
        // The window's Cancel button: another thread sets the flag while
        // the worker waits for the drive.
        prepare = [&](UpdateWorker *w) { pRunning = w; };
        pCanceller = QThread::create([&] {
            QThread::msleep(700);
            pRunning->bCancel = true;
        });
        pCanceller->start();
    }
    const WorkerOutcome o = runWorker(paramsFor(sim.portName(), poweredOff ? PoweredOff : RunningMonitor, 115200),
                                      {PgmEntry{Flash0, Program, -1, -1, sImage, true}}, prepare, hook, 60000);
    if (pCanceller) {
        pCanceller->wait();
        delete pCanceller;
    }
    VERIFY_RUN_ENDED(o);
    QCOMPARE(o.sCriticalTitle, title);
    QCOMPARE(o.sCriticalText, QStringLiteral("Canceled from user!"));
    QCOMPARE(o.states.last(), endState);
    QVERIFY(o.stats.bCanceled);
    QVERIFY(!o.stats.succeeded());
    // Typed: a cancel during the start leaves no job started, one later ends its job.
    if (title == QLatin1String("Init boot monitor")) {
        QCOMPARE(int(o.started.eStartFailure), int(WorkerFailure::Cancelled));
        QVERIFY(o.finishedJobs.isEmpty());
    } else {
        QCOMPARE(o.finishedJobs.size(), 1);
        QCOMPARE(int(o.finishedJobs.at(0).eOutcome), int(JobOutcome::Cancelled));
        QCOMPARE(int(o.finishedJobs.at(0).eFailure), int(WorkerFailure::Cancelled));
    }
    if (title == QLatin1String("Erase flash"))
        QCOMPARE(sim.commandCount(QStringLiteral("flash-check")), 1); // one sector, then the test
    if (title == QLatin1String("Init boot monitor"))
        QCOMPARE(sim.logEntries().size(), 0); // no connection attempt
    if (title == QLatin1String("Program flash"))
        QCOMPARE(sim.commandCount(QStringLiteral("flash-program")), 1);
}

// ---------------------------------------------------------------------------

// Skipping what the drive holds ends exactly where a full update from the same
// flash ends. The image (0x10100..0x42222) touches sectors 1 to 4; the first
// sector has 256 bytes below it, the last sector is mostly FF after it.
void TestUpdateWorker::skipUnchanged_data()
{
    QTest::addColumn<QString>("before");  // flash contents before the run
    QTest::addColumn<int>("cancelAfter"); // first run cancelled after this many blocks, then run again
    QTest::addColumn<int>("skipped");     // sectors of the (last) run
    QTest::addColumn<int>("erased");

    QTest::newRow("same image") << "result" << 0 << 4 << 0;
    // Sector 3 is blank before, so it needs no erase; sector 4 holds other data.
    QTest::newRow("first half already there") << "half" << 0 << 2 << 1;
    QTest::newRow("fully changed") << "old" << 0 << 0 << 3;
    QTest::newRow("differences only outside the image's range") << "outside" << 0 << 2 << 2;
    QTest::newRow("all-FF block of the image over old data") << "ff-block" << 0 << 3 << 1;
    // Cancelled in sector 2 after 4 of its blocks: sector 1 done, sector 2 half.
    QTest::newRow("cancelled in the middle of a sector, run again") << "old" << 13 << 1 << 2;
}

void TestUpdateWorker::skipUnchanged()
{
    QFETCH(QString, before);
    QFETCH(int, cancelAfter);
    QFETCH(int, skipped);
    QFETCH(int, erased);

    const quint32 nAddress = 0x10100;
    const QByteArray image = mixedBytes(0x32123, 3, nAddress);
    // What a full update leaves: the touched sectors FF, then the image.
    QByteArray result = preloadedFlash();
    result.replace(int(kSector), int(4 * kSector), QByteArray(int(4 * kSector), char(0xFF)));
    result.replace(int(nAddress), image.size(), image);
    QByteArray flash = preloadedFlash();
    if (before != QLatin1String("old"))
        flash = result;
    if (before == QLatin1String("half"))
        flash.replace(int(3 * kSector), int(2 * kSector), preloadedFlash().mid(int(3 * kSector), int(2 * kSector)));
    if (before == QLatin1String("outside")) {
        flash[int(kSector)] = 0;         // below the image, in its first sector
        flash[int(5 * kSector) - 1] = 0; // above it, in its last sector
    }
    if (before == QLatin1String("ff-block")) {
        QCOMPARE(image.mid(0x4000, 0x2000).count(char(0xFF)), 0x2000); // 0x14100, a block of its own
        flash.replace(int(nAddress) + 0x4000, 0x2000, QByteArray(0x2000, char(0x11)));
    }

    // The full update from the same flash.
    SimDrive full;
    const QStringList fullArgs = flashArgs(full, Flash0, flash);
    QVERIFY(startSim(full, fullArgs));
    const QString sImage = full.filePath(QStringLiteral("image.hex"));
    QVERIFY(writeImageFile(sImage, QStringLiteral("hex"), image, nAddress));
    const WorkerOutcome f = runWorker(paramsFor(full.portName(), RunningMonitor, 921600),
                                      {PgmEntry{Flash0, Program, -1, -1, sImage, true}});
    VERIFY_RUN_ENDED(f);
    QVERIFY(f.stats.succeeded());
    QVERIFY(full.stop());
    QCOMPARE(readFile(fullArgs.value(3)), result);

    SimDrive sim;
    const QStringList args = flashArgs(sim, Flash0, flash);
    QVERIFY(startSim(sim, args));
    const PgmEntry job{Flash0, Program, -1, -1, sImage, true, true};
    if (cancelAfter > 0) {
        int nValues = -1; // the first value is the 0 of the phase's start
        bool bProgramming = false;
        const WorkerOutcome c = runWorker(
            paramsFor(sim.portName(), RunningMonitor, 921600), {job}, {}, [&](UpdateWorker *w, const QString &e) {
                bProgramming = bProgramming || e == QLatin1String("ProgressState:Program flash");
                if (bProgramming && e.startsWith(QLatin1String("ProgressValue:")) && ++nValues == cancelAfter)
                    w->bCancel = true;
            });
        VERIFY_RUN_ENDED(c);
        QCOMPARE(int(c.stats.jobs.at(0).eOutcome), int(JobOutcome::Cancelled));
        QCOMPARE(c.sCriticalTitle, QStringLiteral("Program flash"));
        QCOMPARE(c.stats.jobs.at(0).nSectorsSkipped, 0u);
        QCOMPARE(c.stats.jobs.at(0).nSectorsErased, 2u);
    }
    const int nLogBefore = sim.logEntries().size();
    const WorkerOutcome o = runWorker(paramsFor(sim.portName(), RunningMonitor, 921600), {job});
    VERIFY_RUN_ENDED(o);
    QVERIFY2(o.nCritical == 0, qPrintable(o.sCriticalTitle + ": " + o.sCriticalText));
    QVERIFY(o.stats.succeeded());
    // One phase with its step, progress over the whole job.
    QCOMPARE(o.nStep, 2);
    QVERIFY(!o.states.contains(QStringLiteral("Erase flash")));
    QVERIFY(inOrder(o.events, {"PhaseChanged:0,Program", "ProgressState:Program flash", "ProgressStep",
                               "ProgressValue:0", "ProgressValue:100", "ProgressState:Update finished"}));
    const JobStats &stats = o.stats.jobs.at(0);
    QCOMPARE(int(stats.nSectorsSkipped), skipped);
    QCOMPARE(int(stats.nSectorsErased), erased);
    const QList<SimDrive::LogEntry> log = sim.logEntries().mid(nLogBefore);
    auto count = [&log](const char *sCommand) {
        return int(std::count_if(log.begin(), log.end(), [sCommand](const SimDrive::LogEntry &e) {
            return e.command() == QLatin1String(sCommand);
        }));
    };
    QCOMPARE(count("flash-erase"), erased);
    QCOMPARE(count("flash-check"), 4 - skipped);
    if (before == QLatin1String("result")) {
        QCOMPARE(count("flash-program"), 0);
        QCOMPARE(stats.nImageBytes, 0u);
    }
    QVERIFY(sim.stop());
    const QString sDiff = memoryDiff(readFile(args.value(3)), result);
    QVERIFY2(sDiff.isEmpty(), qPrintable(sDiff));
}

// ---------------------------------------------------------------------------

void TestUpdateWorker::startFailures_data()
{
    QTest::addColumn<QString>("port"); // "sim" or a path
    QTest::addColumn<int>("bootType");
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("wakeTimeoutMs");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("failure"); // WorkerFailure of the start
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail"); // the line after the message begins so; empty: there is none
    QTest::addColumn<int>("cause");      // PortOpenError::Cause
    QTest::addColumn<int>("phase");      // TBootMonitorLink::ConnectPhase

    const int nNoCause = int(PortOpenError::Cause::None);
    const int nNoPhase = int(TBootMonitorLink::ConnectPhase::None);
    QTest::newRow("powered off, no such port")
        << "/dev/servoprog-none" << int(PoweredOff) << QStringList{} << 0 << "Init boot monitor"
        << "Cannot open serial device '/dev/servoprog-none'" << int(WorkerFailure::PortOpen) << 0
        << "/dev/servoprog-none: no such device" << int(PortOpenError::Cause::NoSuchDevice) << nNoPhase;
    QTest::newRow("running monitor, no such port")
        << "/dev/servoprog-none" << int(RunningMonitor) << QStringList{} << 0 << "Connect"
        << "Error initializing serial device driver" << int(WorkerFailure::Communication) << 11
        << "/dev/servoprog-none: no such device" << int(PortOpenError::Cause::NoSuchDevice)
        << int(TBootMonitorLink::ConnectPhase::Opening);
    QTest::newRow("running monitor, not a serial device")
        << "/dev/null" << int(RunningMonitor) << QStringList{} << 0 << "Connect"
        << "Error initializing serial device driver" << int(WorkerFailure::Communication) << 11
        << "/dev/null is not a serial device." << int(PortOpenError::Cause::NotSerialDevice)
        << int(TBootMonitorLink::ConnectPhase::Opening);
    QTest::newRow("drive answers at no rate")
        << "sim" << int(RunningMonitor) << QStringList{"--powered-off"} << 0 << "Connect" << kTimeout
        << int(WorkerFailure::Communication) << 101 << "Failed while detecting the rate." << nNoCause
        << int(TBootMonitorLink::ConnectPhase::DetectingRate);
    QTest::newRow("wake pattern never answered, time-out")
        << "sim" << int(PoweredOff) << QStringList{"--powered-off", "--baud", "19200"} << 600 << "Init boot monitor"
        << "No answer to the wake pattern within 600 ms" << int(WorkerFailure::WakeTimeout) << 0 << "" << nNoCause
        << nNoPhase;
}

void TestUpdateWorker::startFailures()
{
    QFETCH(QString, port);
    QFETCH(int, bootType);
    QFETCH(QStringList, simArgs);
    QFETCH(int, wakeTimeoutMs);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, failure);
    QFETCH(int, code);
    QFETCH(QString, detail);
    QFETCH(int, cause);
    QFETCH(int, phase);

    SimDrive sim;
    if (port == QLatin1String("sim")) {
        QVERIFY(startSim(sim, simArgs));
        port = sim.portName();
    }
    const WorkerOutcome o = runWorker(paramsFor(port, bootType), {PgmEntry{Flash0, Erase, 0, -1, {}}},
                                      [wakeTimeoutMs](UpdateWorker *w) { w->setWakeTimeout(uint32_t(wakeTimeoutMs)); });
    VERIFY_RUN_ENDED(o);
    QCOMPARE(o.nCritical, 1);
    QCOMPARE(o.sCriticalTitle, title);
    // The message as ever, then why (and what to do) on a line of its own,
    // with the same in the typed result for the front ends.
    QCOMPARE(o.sCriticalText.section(QLatin1Char('\n'), 0, 0), text);
    QVERIFY2(detail.isEmpty() || o.sCriticalText.section(QLatin1Char('\n'), 1).startsWith(detail),
             qPrintable(o.sCriticalText));
    QCOMPARE(o.sCriticalText.contains(QLatin1Char('\n')), !detail.isEmpty());
    QCOMPARE(int(o.started.portError.nCause), cause);
    QCOMPARE(int(o.started.eConnectPhase), phase);
    QVERIFY(!o.stats.bStarted);
    QVERIFY(!o.started.bStarted);
    QCOMPARE(int(o.started.eStartFailure), failure);
    QCOMPARE(o.started.nStartCode, code);
    QVERIFY(!o.stats.succeeded());
    QVERIFY(!o.stats.jobs.at(0).ran());
    if (sim.isRunning())
        QCOMPARE(sim.commandCount(QStringLiteral("flash-erase")), 0);
}

// The run object, as the window uses it when it closes during a run: a drive
// that never answers the wake pattern holds the worker until cancelAndWait()
// stops it and returns with its thread ended. The signals came in this thread.
void TestUpdateWorker::runObjectCancelAndWait()
{
    SimDrive sim;
    QVERIFY(startSim(sim, {QStringLiteral("--powered-off"), QStringLiteral("--baud"), QStringLiteral("38400")}));
    UpdateRun run;
    QStringList states;
    bool bOtherThread = false;
    connect(&run, &UpdateRun::ProgressState, this, [&](const QString &s) {
        states << s;
        bOtherThread = bOtherThread || QThread::currentThread() != thread();
    });
    QSignalSpy finished(&run, &UpdateRun::finished);
    QVERIFY(run.start(paramsFor(sim.portName(), PoweredOff), {PgmEntry{Flash0, Erase, 0, -1, {}}}));
    QVERIFY(!run.start(paramsFor(sim.portName(), PoweredOff), {})); // one run at a time
    QTRY_COMPARE(states, QStringList{QStringLiteral("Init boot monitor")});
    QVERIFY(run.isRunning());
    run.cancelAndWait();
    QVERIFY(!run.isRunning());
    QVERIFY(!bOtherThread);
    QVERIFY(run.statistics().bCanceled);
    QCOMPARE(int(run.statistics().eStartFailure), int(WorkerFailure::Cancelled));
    QCOMPARE(finished.count(), 0);
    QCOMPARE(sim.logEntries().size(), 0); // no connection attempt after the cancel
}

// The wake-pattern match against a scripted drive on a bare pseudo-terminal:
// after the k-th wake pattern the drive answers with chunk k of the script.
void TestUpdateWorker::wakeMatching_data()
{
    QTest::addColumn<QList<QByteArray>>("script");
    QTest::addColumn<bool>("matches");

    QTest::newRow("plain echo") << QList<QByteArray>{QByteArray("\xFE\xED\xC0\xDE", 4)} << true;
    QTest::newRow("second FE restarts") << QList<QByteArray>{QByteArray("\xFE\xFE\xED\xC0\xDE", 5)} << true;
    QTest::newRow("broken start, then the pattern")
        << QList<QByteArray>{QByteArray("\xFE\xED\x00\xFE\xED\xC0\xDE", 7)} << true;
    QTest::newRow("in two pieces over two cycles")
        << QList<QByteArray>{QByteArray("\xFE\xED", 2), QByteArray("\xC0\xDE", 2)} << true;
    QTest::newRow("foreign byte inside") << QList<QByteArray>{QByteArray("\xFE\xED\xC0\x00\xDE", 5)} << false;
    QTest::newRow("noise only") << QList<QByteArray>{QByteArray("*****"), QByteArray("\xDE\xC0\xED\xFE", 4)} << false;
}

void TestUpdateWorker::wakeMatching()
{
#ifndef Q_OS_LINUX
    QSKIP("needs a pseudo-terminal");
#else
    QFETCH(QList<QByteArray>, script);
    QFETCH(bool, matches);

    int nMaster = -1, nSlave = -1;
    QVERIFY(::openpty(&nMaster, &nSlave, nullptr, nullptr, nullptr) == 0);
    termios tio;
    ::tcgetattr(nSlave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(nSlave, TCSANOW, &tio);

    std::atomic<bool> bStop{false};
    std::thread drive([&] {
        int nPatterns = 0;
        int nMatch = 0;
        const uint8_t wake[4] = {0xFE, 0xED, 0xC0, 0xDE};
        while (!bStop) {
            pollfd pfd{nMaster, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0 || !(pfd.revents & POLLIN))
                continue;
            uint8_t buf[64];
            const ssize_t n = ::read(nMaster, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                nMatch = buf[i] == wake[nMatch] ? nMatch + 1 : (buf[i] == wake[0] ? 1 : 0);
                if (nMatch == 4 && nPatterns < script.size()) {
                    const QByteArray &chunk = script[nPatterns];
                    [[maybe_unused]] const ssize_t w = ::write(nMaster, chunk.constData(), size_t(chunk.size()));
                }
                if (nMatch == 4) {
                    nMatch = 0;
                    ++nPatterns;
                }
            }
        }
    });

    // A match is seen by its "Done!" state; cancelling right then ends the
    // activation there instead of probing a drive that has no monitor.
    const WorkerOutcome o = runWorker(
        paramsFor(QString::fromLocal8Bit(::ttyname(nSlave)), PoweredOff), {},
        [](UpdateWorker *w) { w->setWakeTimeout(1500); },
        [](UpdateWorker *w, const QString &e) {
            if (e == QLatin1String("ProgressState:Done!"))
                w->bCancel = true;
        });
    bStop = true;
    drive.join();
    ::close(nMaster);
    ::close(nSlave);

    QVERIFY(o.bFinishedInTime);
    QCOMPARE(o.states.contains(QStringLiteral("Done!")), matches);
    QCOMPARE(o.sCriticalTitle, QStringLiteral("Init boot monitor"));
    QCOMPARE(o.sCriticalText, matches ? QStringLiteral("Canceled from user!")
                                      : QStringLiteral("No answer to the wake pattern within 1500 ms"));
    QVERIFY(!o.bPortOpenAfter);
#endif
}

QTEST_GUILESS_MAIN(TestUpdateWorker)
#include "tst_updateworker.moc"
