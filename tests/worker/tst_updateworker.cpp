// Whole update runs: the worker in a thread of its own, a COM-port transport
// on a pseudo-terminal, the simulated drive on the other end, and its memory
// files compared byte for byte with what the jobs must leave there.

#include "ImageFile.h"
#include "Lzrw3a.h"
#include "Pty.h"
#include "SimDrive.h"
#include "TestData.h"
#include "TransportFactory.h"
#include "UpdateWorker.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>
#include <tuple>

namespace {

// Small memories: 16 sectors of two program blocks, 16 EEPROM blocks.
const int kFlash = 0x40000, kSector = 0x4000, kEeprom = 0x1000;
const QStringList kGeometry{"--flash-size", "0x40000", "--sector-size", "0x4000", "--eeprom-size", "0x1000"};
// The image: sectors 1 to 4, starting 256 bytes into sector 1; per 8 KiB
// block a table, noise with runs of 00, an all-FF block, noise. Its last
// block (256 bytes) is FF but for its very last byte.
const quint32 kImageAt = 0x4100;
const int kImageSize = 6 * 0x2000 + 0x100;
const QString kTimeout = "Communication timeout error (driver)";

QByteArray imageBytes()
{
    QByteArray data = randomBytes(kImageSize, 3);
    for (int i = 0; i < kImageSize; ++i) {
        const int nAbs = int(kImageAt) + i;
        switch (i / 0x2000 % 4) {
        case 0: data[i] = char((nAbs / 4) & 0x3F); break;
        case 1: data[i] = (nAbs / 512) % 2 ? char(0) : data[i]; break;
        case 2: data[i] = char(0xFF); break;
        }
    }
    data[0] = char(0x5A);
    data[kImageSize - 1] = char(0xA5);
    return data;
}

// Sector k holds noise of its own, except sector 3, which is blank (no
// erase needed).
QByteArray preloadedFlash(char cBase = 0x40)
{
    QByteArray data(kFlash, char(0xFF));
    for (int a = 0; a < kFlash; a += kSector)
        if (a / kSector != 3)
            data.replace(a, kSector, randomBytes(kSector, quint32(cBase + a / kSector)));
    return data;
}

// An image: its data by address.
using Pieces = QMap<quint32, QByteArray>;

// Noise of nSize bytes with a run of zeros in it, as long as it takes for
// the block to compress to exactly nPacked bytes (flag word included); empty
// when no run does.
QByteArray packingTo(int nSize, int nPacked)
{
    QByteArray block = randomBytes(nSize, 7);
    std::vector<quint8> work(lzrw3a::kWorkSize), out(lzrw3a::compressBound(quint32(nSize)));
    for (int nZeros = 0; nZeros < nSize / 2;) {
        block.replace(nSize / 8, nZeros, QByteArray(nZeros, 0));
        quint32 n = 0;
        compressBlock(reinterpret_cast<const quint8 *>(block.constData()), quint32(nSize), work.data(), out.data(),
                      out.size(), &n);
        if (int(n) <= nPacked)
            return int(n) == nPacked ? block : QByteArray();
        nZeros += (int(n) - nPacked) * 7 / 8 + 1; // a zero saves a little more than a byte
    }
    return QByteArray();
}

// The image a Program job names: the default one; "packN-C" one block of N
// bytes at 0x20000 that compresses to C; else noise at each "ADDRESS+LENGTH"
// of a comma-separated list.
Pieces imagePieces(const QString &sFile)
{
    Pieces pieces;
    const QRegularExpressionMatch pack = QRegularExpression("^pack(\\d+)-(\\d+)$").match(sFile);
    if (pack.hasMatch())
        pieces.insert(0x20000, packingTo(pack.captured(1).toInt(), pack.captured(2).toInt()));
    for (const QString &sPiece : sFile.split(',', Qt::SkipEmptyParts)) {
        const quint32 nAt = sPiece.section('+', 0, 0).toUInt(nullptr, 0);
        if (sPiece.contains('+'))
            pieces.insert(nAt, randomBytes(sPiece.section('+', 1).toInt(nullptr, 0), nAt));
    }
    return pieces.isEmpty() ? Pieces{{kImageAt, imageBytes()}} : pieces;
}

// The whole sectors the image touches.
QPair<int, int> touchedSectors(const Pieces &pieces)
{
    const int nFirst = int(pieces.firstKey()) / kSector * kSector;
    return {nFirst, (int(pieces.lastKey()) + int(pieces.last().size()) - 1) / kSector * kSector + kSector - nFirst};
}

// What a full update of the image leaves in a flash.
QByteArray programmed(QByteArray flash, const Pieces &pieces = imagePieces(""))
{
    const QPair<int, int> sectors = touchedSectors(pieces);
    flash.replace(sectors.first, sectors.second, QByteArray(sectors.second, char(0xFF)));
    for (auto it = pieces.begin(); it != pieces.end(); ++it)
        flash.replace(int(it.key()), int(it->size()), *it);
    return flash;
}

// The bytes an image file holds at nBase..nBase + nLength - 1, FF where it
// holds none, as srec_cat reads them.
QByteArray imageFileBytes(const QString &sPath, quint32 nBase, quint32 nLength)
{
    const QString sFirst = QString::number(nBase), sEnd = QString::number(quint64(nBase) + nLength);
    QByteArray bytes;
    return runTool("srec_cat", {sPath, sPath.endsWith(".hex") ? "-intel" : "-motorola", "-crop", sFirst, sEnd, "-fill",
                                "0xFF", sFirst, sEnd, "-offset", "-" + sFirst, "-o", "-", "-binary"}, &bytes) == 0
        ? bytes
        : QByteArray();
}

// The same read by the product's reader; empty when the file holds a byte
// outside that range.
QByteArray loadImageBytes(const QString &sPath, quint32 nBase, quint32 nLength)
{
    ImageFile image(sPath);
    if (!image.load(nBase, nBase + nLength - 1) || image.count().nBelow + image.count().nAbove > 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(image.converter()->buffer()), int(nLength));
}

// A compressor whose compressed blocks are garbled: the worker's own expand
// check must send them raw.
int faultyCompressor(const uint8_t *pIn, uint32_t nLength, void *pWork, uint8_t *pOut, size_t nCap, uint32_t *pOutLen)
{
    const int n = compressBlock(pIn, nLength, pWork, pOut, nCap, pOutLen);
    for (uint32_t i = 6; n == 0 && pOut[0] == 0 && i < *pOutLen; i += 5)
        pOut[i] ^= 0x5A;
    return n;
}

// What one run showed, besides the worker's own statistics.
struct Outcome
{
    bool bEnded = false; // finished once, in time, port closed
    RunStats stats;
    QStringList states; // ProgressState texts in order
    int nSteps = -1, nStep = 0;
};

// Runs the worker in a thread as the window does; prepare() configures the
// worker, onState() is called in the worker thread for every state.
Outcome runWorker(const BaseParams &params, const QVector<PgmEntry> &jobs,
                  const std::function<void(UpdateWorker *)> &prepare,
                  const std::function<void(UpdateWorker *, const QString &)> &onState, bool bOwnTransport)
{
    Outcome o;
    QThread thread;
    auto *pWorker = bOwnTransport ? new UpdateWorker : new UpdateWorker(createTransport(params.sPort));
    pWorker->setup(&params, &jobs);
    prepare(pWorker);
    pWorker->moveToThread(&thread);
    int nFinished = 0;
    const auto direct = Qt::DirectConnection;
    QObject::connect(
        pWorker, &UpdateWorker::ProgressState, pWorker,
        [&](const QString &s) {
            o.states << s;
            onState(pWorker, s);
        },
        direct);
    QObject::connect(
        pWorker, &UpdateWorker::ProgressSteps, pWorker, [&](int n) { o.nSteps = n; }, direct);
    QObject::connect(
        pWorker, &UpdateWorker::ProgressStep, pWorker, [&] { ++o.nStep; }, direct);
    QObject::connect(
        pWorker, &UpdateWorker::finished, pWorker, [&] { ++nFinished; }, direct);
    QObject::connect(pWorker, &UpdateWorker::finished, &thread, &QThread::quit, direct);
    QObject::connect(&thread, &QThread::started, pWorker, &UpdateWorker::process);
    thread.start();
    if (!thread.wait(QDeadlineTimer(60000))) {
        pWorker->bCancel = true;
        thread.wait();
    }
    o.stats = pWorker->statistics();
    o.bEnded = nFinished == 1 && !pWorker->isPortOpen();
    delete pWorker;
    return o;
}

QString objectKey(quint16 nIndex, quint8 nSub)
{
    return QString("%1.%2").arg(nIndex, 4, 16).toUpper().arg(nSub);
}

// Which request of a run "<command or object>#k[+d]" names: the k-th request
// whose cmd= is that command or that goes to that object ("5E12.1"), moved
// d requests on.
int requestNumber(const QList<SimDrive::LogEntry> &log, const QString &sWhere)
{
    const QRegularExpressionMatch m = QRegularExpression("^(.+)#(\\d+)([+-]\\d+)?$").match(sWhere);
    int nCount = m.captured(2).toInt();
    for (const SimDrive::LogEntry &e : log) {
        if ((e.command() == m.captured(1) || objectKey(e.nIndex, e.nSubindex) == m.captured(1)) && --nCount == 0)
            return e.nRequest + m.captured(3).toInt();
    }
    return -1;
}

QString outcomeWord(const JobStats &job)
{
    static const char *const outcomes[] = {"notrun", "done", "failed", "cancelled"};
    static const char *const failures[] = {
        "",          "Communication", "Cancelled",  "PortOpen", "WakeTimeout", "Regions",     "Range",
        "Alignment", "Geometry",      "FileType",   "FileRead", "NoData",      "DataOutside", "TransferBlock",
        "Verify",    "EraseVerify",   "OutputWrite", "Incomplete"};
    QString s = QLatin1String(outcomes[int(job.eOutcome)]);
    if (job.eOutcome == JobOutcome::Failed)
        s += ':' + QLatin1String(failures[int(job.eFailure)]);
    if (job.eFailure == WorkerFailure::Communication)
        s += ':' + QString::number(job.nCommCode);
    return s;
}

} // namespace

class TestUpdateWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void run_data() { rows(false); }
    void run();
    // The rows with faults, repeats, slow flash and cancels: the slow half,
    // a CTest test of its own so that it runs beside the rest.
    void faults_data() { rows(true); }
    void faults() { run(); }
    void wakeMatching_data();
    void wakeMatching();

private:
    void rows(bool bFaults);

    QHash<QString, QList<SimDrive::LogEntry>> m_cleanLogs; // per job list and options
    QTemporaryDir m_images;                                // the default image as Intel HEX and S-records
};

void TestUpdateWorker::initTestCase()
{
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");
    QVERIFY(writeImageFile(m_images.filePath("image.hex"), imagePieces("")));
    QVERIFY(writeImageFile(m_images.filePath("image.srec"), imagePieces("")));
}

// jobs: space-separated "<op><memory>[:offset[:length]][:file]" with op
// prog (flash, compressed; progr raw, progs skipping unchanged sectors),
// read, erase, write (EEPROM); the file of prog names an image variant
// (imagePieces() or a refused file), of read "bad" an unwritable path, of
// write "whole" a file of 32-byte records over the whole EEPROM, "cut" one
// without its end record, "ADDRESS+LENGTH" noise there, and by default noise
// in the first half of the range. options: "off" (powered off), "baud=N",
// "retries=N", "wake=MS", "port=PATH", "own" (the worker picks its
// transport), "faulty" (garbling compressor), "flash=<preset>", "old=<sector,..>",
// "cancel=<point>" (a state, "obj#k" after that request, or "now"; after it
// no request may erase, program or write), "rerun" (a cancelled run, then
// the same run again). sim: extra simulator arguments; a fault
// "kind:where[:v]" names its request as in requestNumber(). result: per job
// its outcome word, or "start:<failure>:<code>" when the run did not start.
// counts: "key=value" of the first job's statistics or of simulator commands
// ("+" is "more than 0").
void TestUpdateWorker::rows(bool bFaults)
{
    QTest::addColumn<QString>("jobs");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text"); // the message shown; a line break: what follows only begins so
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("counts");
    bool bFaultRows = false; // of the part faults() runs
    auto row = [&](const char *sName, const char *sJobs, const char *sOptions, const QStringList &sim,
                   const char *sTitle, const QString &sText, const char *sResult, const char *sCounts = "") {
        if (bFaultRows == bFaults)
            QTest::newRow(sName) << sJobs << sOptions << sim << sTitle << sText << sResult << sCounts;
    };
    const QString range = "Offset/length exceeds flash address range!";
    const QString eepromRange = "Offset/length exceeds EEPROM address range!";
    const QString busy = "Service cannot be carried out due to device status";
    const QString garbled = "Unspecified communication error (driver)";
    const QString cancelled = "Canceled from user!";
    const char *pgm = "Program flash";

    // Program and read back, every way into the monitor.
    row("program, read back", "prog0 read0:0x4100:49408", "baud=921600", {}, "", "", "done done",
        "erased=3 raw=1 packed=5 bskipped=1 flash-decompress=5 flash-program=6 flash-verify=6");
    row("raw, flash1, powered off", "progr1 read1:0:0x20000", "off baud=115200", {"--powered-off"}, "", "", "done done",
        "erased=3 raw=6 packed=0 flash-decompress=0");
    row("own transport, srec", "prog1:srec", "own", {}, "", "", "done", "erased=3");
    row("garbled compression goes raw", "prog0", "faulty", {}, "", "", "done", "packed=0 mismatch=+ raw=6");
    // Refused images: nothing erased, the list ends.
    const char *examine = "Examine flash file", *reading = "Reading flash file";
    row("unknown type", "prog0:text prog0", "", {}, examine, "Cannot determine type of flash file %1",
        "failed:FileType notrun", "flash-check=0");
    row("missing file", "prog0:missing", "", {}, examine, "Cannot determine type of flash file %1", "failed:FileType");
    row("bad checksum", "prog0:checksum", "", {}, reading, "Cannot read flash file %1", "failed:FileRead");
    row("no data", "prog0:nodata", "", {}, reading, "Flash file %1 holds no data for this flash device",
        "failed:NoData");
    row("cut short", "prog0:cut", "", {}, reading, "Image file %1 is incomplete: it has no end-of-file record (type 01)",
        "failed:Incomplete", "flash-check=0");
    row("joined after the end record", "prog0:joined", "", {}, reading,
        "Image file %1 is incomplete: data records follow the point where reading stopped", "failed:Incomplete",
        "flash-check=0");
    // The ends of the flash and of its units: records, 128-byte pieces,
    // 256-byte pages, 8 KiB blocks, 16 KiB sectors.
    const char *ffGap = "0x13F00+0x100,0x18000+0x80"; // sector 5 left FF, between the ends of 4 and 6
    row("one byte, the flash's first", "prog0:0+1", "", {}, "", "", "done", "erased=1 flash-program=1 bytes=256");
    row("to the flash's last byte, from inside a piece", "prog0:0x3FF81+0x7F", "", {}, "", "", "done",
        "erased=1 checked=1 flash-program=1 bytes=256");
    row("one byte past the flash", "prog0:0x3FF81+0x80", "", {}, reading,
        "Flash file %1 holds data beyond the end of the flash (0x3ffff)", "failed:DataOutside", "flash-check=0");
    row("from inside a page over a sector's end to inside a page", "prog0:0x7F81+0x2140", "", {}, "", "", "done",
        "erased=2 flash-program=2 bytes=8704");
    row("a few bytes over a page's end", "prog0:0x41F0+0x20", "", {}, "", "", "done",
        "erased=1 flash-program=1 bytes=512");
    row("a sector left FF over old data", qPrintable(QString("prog0:") + ffGap), "", {}, "", "", "done",
        "erased=3 checked=3 flash-erase=3 flash-program=2 bskipped=1");
    // Compression pays below 80 % of the block (integer division): 6553 of
    // 8192 bytes, 204 of 256.
    row("packed to one byte below 80 %", "prog0:pack8192-6552", "", {}, "", "", "done", "packed=1 raw=0");
    row("packed to exactly 80 %", "prog0:pack8192-6553", "", {}, "", "", "done", "packed=0 raw=1 flash-decompress=0");
    row("packed to one byte above 80 %", "prog0:pack8192-6554", "", {}, "", "", "done", "packed=0 raw=1");
    row("a page packed to 80 % and below", "prog0:pack256-204 prog1:pack256-203", "", {}, "", "", "done done",
        "packed=0 raw=1 flash-decompress=1");
    // Erase and read ranges.
    row("erase device, flash1", "erase1", "", {}, "", "", "done", "erased=15 flash-check=16");
    row("erase two sectors, then flash1", "erase0:0x8000:0x8000 erase1:0x3C000", "", {}, "", "", "done done",
        "erased=1");
    row("erase half a sector", "erase0:0x2000:0x4000 erase1", "", {}, "Flash erase",
        "Offset and size must be a multiple of 16384 (0x4000)", "failed:Alignment notrun");
    row("erase negative offset", "erase0:-1:0x4000", "", {}, "Flash erase", range, "failed:Range");
    row("read odd length", "read0:0x1001:20555", "", {}, "", "", "done", "flash-read=4");
    row("read to the end", "read1:0x3D000", "", {}, "", "", "done", "flash-read=3");
    row("read from the end", "read0:0x40000", "", {}, "Flash read", range, "failed:Range");
    row("read the first and the last byte, a block and a piece to the end",
        "read0:0:1 read0:0x3FFFF:1 read1:0x3DF7F:0x2081", "", {}, "", "", "done done done", "bytes=1 flash-read=5");
    row("read one byte past the end", "read0:0x3FFFF:2", "", {}, "Flash read", range, "failed:Range", "flash-read=1");
    row("erase the first and the last sector", "erase0:0:0x4000 erase1:0x3C000:0x4000", "", {}, "", "", "done done",
        "erased=1 checked=1 flash-erase=2");
    row("erase one byte past the end", "erase0:0x3C000:0x4001", "", {}, "Flash erase", range, "failed:Range",
        "flash-check=0");
    row("erase one byte", "erase0:0:1", "", {}, "Flash erase", "Offset and size must be a multiple of 16384 (0x4000)",
        "failed:Alignment", "flash-check=0");
    row("read into an unwritable file", "read0:0:4096:bad erase7:0:16384 erase0:0:16384", "", {}, "Flash read",
        "Writing to file %1 failed!\nits folder does not exist", "failed:OutputWrite notrun done");
    // EEPROM: writes fill the second half of their range with FF.
    row("eeprom write", "write2:0x100:300 write3:0x200:512 write3:0xC00", "", {}, "", "", "done done done",
        "eeprom-verify=20");
    row("eeprom read", "read2:0x80:300 read3", "", {}, "", "", "done done");
    row("eeprom erase", "erase2:0x300:700 erase3:0xE80 erase2", "", {}, "", "", "done done done");
    row("eeprom write of a range that cuts records", "write2:0x110:0x100:whole write3:0x7FF:1:whole", "", {}, "", "",
        "done done", "eeprom-write=2");
    row("eeprom write of a file cut short", "write2:0:0x100:cut", "", {}, "Reading data file",
        "Image file %1 is incomplete: it has no termination record (S7, S8 or S9) nor a record count (S5) that agrees",
        "failed:Incomplete", "eeprom-write=0");
    row("eeprom write past the end", "write2:0xF00:0x101", "", {}, "EEPROM write", eepromRange, "failed:Range");
    row("eeprom read negative offset", "read3:-1:10", "", {}, "EEPROM read", eepromRange, "failed:Range");
    row("eeprom erase past the end", "erase2:0:0x1001", "", {}, "EEPROM erase", eepromRange, "failed:Range");
    row("eeprom write of the first and last byte, two pieces, data to the end",
        "write2:0:1 write3:0xFFF:1 write2:0x7F:0x181 write3:0xF00:-1:0xF00+0x100", "", {}, "", "",
        "done done done done", "bytes=1 eeprom-write=5");
    row("eeprom write of data one byte past the end", "write2:0xF00:-1:0xF00+0x101", "", {}, "Reading data file",
        "Data file %1 holds 1 data bytes beyond the end of the EEPROM (0xfff)", "failed:DataOutside", "eeprom-write=0");
    row("eeprom read of the first and last byte, two pieces", "read2:0:1 read3:0xFFF:1 read2:0x7F:0x181", "", {}, "",
        "", "done done done", "bytes=1 eeprom-read=4");
    row("eeprom read one byte past the end", "read2:0xFFF:2", "", {}, "EEPROM read", eepromRange, "failed:Range",
        "eeprom-read=0");
    row("eeprom erase of the first and last byte, two pieces", "erase2:0:1 erase3:0xFFF:1 erase2:0x7F:0x181", "", {},
        "", "", "done done done", "eeprom-write=4");
    row("eeprom write verify fails", "write2:0:600", "", {"--fault", "verify:2"}, "EEPROM write",
        "Verify after write failed!", "failed:Verify");
    row("eeprom erase verify fails", "erase2:0:600", "", {"--fault", "verify:2"}, "EEPROM erase",
        "Verify after erase failed!", "failed:EraseVerify");
    // Faults of the drive during a program job; a failure ends the list.
    bFaultRows = true;
    auto fault = [&](const char *sName, const QStringList &faults, int nRetries, const char *sTitle,
                     const QString &sText, const char *sResult, const char *sCounts = "") {
        QStringList sim;
        for (const QString &f : faults)
            sim << "--fault" << f;
        row(sName, "prog0 erase1:0:16384", nRetries ? qPrintable(QString("retries=%1").arg(nRetries)) : "", sim, sTitle,
            sText, sResult, sCounts);
    };
    fault("dropped data piece", {"drop:5E12.1#1"}, 0, pgm, kTimeout, "failed:Communication:101 notrun");
    fault("busy decompress", {"busy:flash-decompress#1:174"}, 0, pgm, "Object access denied",
          "failed:Communication:174 notrun");
    fault("failing verify", {"verify:3"}, 0, pgm, "Verify after write failed!", "failed:Verify notrun");
    fault("drive falls silent mid-block", {"silent:5E12.3#2"}, 0, pgm, kTimeout, "failed:Communication:101 notrun");
    fault("busy sector erase", {"busy:flash-erase#1"}, 0, "Erase flash", busy, "failed:Communication:203 notrun");
    fault("corrupted flash query", {"corrupt:5E11.2#1"}, 0, "EPCS Info", garbled, "failed:Communication:100 notrun");
    fault("dropped select", {"drop:flash-select#1"}, 0, "EPCS select device", kTimeout,
          "failed:Communication:101 notrun");
    row("two flash regions", "prog0", "", {"--regions", "2"}, "EPCS Info", "Multiple regions not supported",
        "failed:Regions");
    fault("LIFE_TRIGGER bursts", {"life:5E12.1#1:300", "life:flash-verify#1:40", "life:5E11.1#3:1000"}, 0, "", "",
          "done done");
    // Harmless requests are repeated; commands and the monitor's verdicts not.
    fault("dropped piece, repeated", {"drop:5E12.1#2"}, 1, "", "", "done done", "retries=1");
    fault("corrupted status and parameter, repeated", {"corrupt:flash-verify#2+1", "drop:flash-program#3-1"}, 2, "", "",
          "done done", "retries=2");
    fault("one piece garbled, then lost", {"corrupt:5E12.4#1", "drop:5E12.4#1+1"}, 2, "", "", "done done", "retries=2");
    fault("one piece garbled, then lost, one repeat short", {"corrupt:5E12.4#1", "drop:5E12.4#1+1"}, 1, pgm, kTimeout,
          "failed:Communication:101 notrun", "retries=1");
    // The switch to the working rate is confirmed (request 4) only with repeats.
    row("rate confirmation garbled, repeated", "", "flash=info retries=1", {"--fault", "corrupt:4"}, "", "", "",
        "rate=460800");
    // Slow flash inside the read time-outs: 1.3 s a sector erase, 600 ms an 8 KiB block.
    const QStringList slow{"--erase-ms", "1300", "--page-us", "18750"};
    row("slow flash", "progr0:0x20000+0x2000", "", slow, "", "", "done", "erased=1 flash-program=1");
    row("slow flash, skipping unchanged sectors", "progs0:0x20000+0x2000", "", slow, "", "", "done",
        "erased=1 flash-program=1");
    fault("garbled program command", {"corrupt:flash-program#1"}, 3, pgm, garbled, "failed:Communication:100 notrun",
          "retries=0 flash-program=1");
    fault("garbled sector erase", {"corrupt:flash-erase#1"}, 3, "Erase flash", garbled,
          "failed:Communication:100 notrun", "retries=0 flash-erase=1");
    fault("busy answer", {"busy:5E12.2#1"}, 3, pgm, busy, "failed:Communication:203 notrun", "retries=0");
    // Cancel in every loop; a cancel ends the list.
    row("cancel before the run", "prog0", "cancel=now", {}, "Erase flash", cancelled, "cancelled", "flash-check=1");
    row("cancel in the erase loop", "erase0 read0", "cancel=flash-erase#2", {}, "Erase flash", cancelled,
        "cancelled notrun", "flash-erase=2");
    row("cancel in the read loop", "read0 read1", "cancel=flash-read#3", {}, "Flash read", cancelled,
        "cancelled notrun", "flash-read=3");
    row("cancel in the eeprom read loop", "read3 read2", "cancel=eeprom-read#2", {}, "EEPROM read", cancelled,
        "cancelled notrun", "eeprom-read=2");
    row("cancel while a block is sent", "prog0", "cancel=5E12.1#2", {}, pgm, cancelled, "cancelled", "flash-program=1");
    row("cancel at a sector's erase check", "erase0", "cancel=flash-check#2", {}, "Erase flash", cancelled, "cancelled",
        "checked=2 erased=1");
    row("cancel while an eeprom block is sent", "write2", "cancel=5E22.1#3", {}, "EEPROM write", cancelled, "cancelled",
        "eeprom-write=1");
    row("cancel as an eeprom block's address is set", "write2", "cancel=5E20.2#3", {}, "EEPROM write", cancelled,
        "cancelled", "eeprom-write=1");
    row("cancel while waiting for the wake answer", "prog0", "off cancel=Init_boot_monitor", {"--baud", "38400"},
        "Init boot monitor", cancelled, "start:Cancelled");
    row("cancel as the wake answer completes", "prog0", "off cancel=Done!", {"--powered-off"}, "Init boot monitor",
        cancelled, "start:Cancelled");
    bFaultRows = false;
    // Skipping unchanged sectors ends as a full update does.
    row("skip: same image", "progs0", "flash=result", {}, "", "", "done", "sskipped=4 erased=0 flash-program=0");
    row("skip: first half there", "progs0", "flash=result old=3,4", {}, "", "", "done", "sskipped=2 erased=1");
    row("skip: fully changed", "progs0", "flash=old", {}, "", "", "done", "sskipped=0 erased=3");
    row("skip: differences outside the image", "progs0", "flash=outside", {}, "", "", "done", "sskipped=2 erased=2");
    row("skip: FF block over old data", "progs0", "flash=ff-block", {}, "", "", "done", "sskipped=3 erased=1 bskipped=10");
    row("skip: to the flash's last byte, old data", "progs0:0x3FF81+0x7F", "", {}, "", "", "done",
        "sskipped=0 erased=1 flash-program=1");
    row("skip: to the flash's last byte, already there", "progs0:0x3FF81+0x7F", "flash=result", {}, "", "", "done",
        "sskipped=1 erased=0 flash-program=0");
    row("skip: one byte, the flash's first", "progs0:0+1", "", {}, "", "", "done",
        "sskipped=0 erased=1 flash-program=1");
    row("skip: from inside a page over a sector's end", "progs0:0x7F81+0x2140", "flash=result old=2", {}, "", "",
        "done", "sskipped=1 erased=1");
    row("skip: a sector left FF over old data", qPrintable(QString("progs0:") + ffGap), "flash=result old=5", {}, "",
        "", "done", "sskipped=2 erased=1 flash-erase=1 flash-program=0 bskipped=9");
    row("skip: cancelled at the erase check", "progs0", "flash=result old=2 cancel=flash-check#1", {}, "Erase flash",
        cancelled, "cancelled", "flash-erase=0");
    row("skip: cancelled, then run again", "progs0", "rerun cancel=flash-verify#4 baud=9600", {}, "", "", "done",
        "sskipped=1 erased=2");
    // The start: port, wake pattern, rate, firmware information.
    row("powered off, no such port", "erase0", "off port=/dev/servoprog-none", {}, "Init boot monitor",
        "Cannot open serial device '/dev/servoprog-none'\n/dev/servoprog-none: no such device", "start:PortOpen");
    row("no such port", "erase0", "port=/dev/servoprog-none", {}, "Connect",
        "Error initializing serial device driver\n/dev/servoprog-none: no such device", "start:Communication:11");
    row("not a serial device", "erase0", "port=/dev/null", {}, "Connect",
        "Error initializing serial device driver\n/dev/null is not a serial device.", "start:Communication:11");
    row("wake pattern unanswered", "erase0", "off wake=300", {"--powered-off", "--baud", "19200"}, "Init boot monitor",
        "No answer to the wake pattern within 300 ms", "start:WakeTimeout");
    row("firmware information", "", "flash=info baud=230400", {}, "", "", "", "rate=230400");
    row("firmware information, powered off", "", "off own flash=info baud=0", {"--powered-off"}, "", "", "",
        "rate=115200");
    row("no firmware information, rate outside the table", "", "baud=12345", {}, "", "", "", "rate=115200");
    row("start option 0 runs nothing", "erase0 prog0", "boot=0", {}, "", "", "notrun notrun");
}

void TestUpdateWorker::run()
{
    QFETCH(QString, jobs);
    QFETCH(QString, options);
    QFETCH(QStringList, sim);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, result);
    QFETCH(QString, counts);
    QHash<QString, QString> opt;
    for (const QString &s : options.split(' ', Qt::SkipEmptyParts))
        opt.insert(s.section('=', 0, 0), s.section('=', 1));

    // The jobs and what each must leave: a Read its file, the others their memory.
    SimDrive drive;
    const QString sHex = m_images.filePath("image.hex"), sSrec = m_images.filePath("image.srec");
    const QHash<QString, QByteArray> variants{
        {"text", "hello world\n"},
        {"checksum", ":0400000001020304F0\n:00000001FF\n"},
        {"nodata", ":00000001FF\n"},
        {"cut", ":0400000001020304F2\n"},
        {"joined", ":0400000001020304F2\n:00000001FF\n:0400100001020304E2\n:00000001FF\n"}};
    QVector<PgmEntry> list;
    QList<Pieces> images; // of each flash Program job
    for (const QString &sJob : jobs.split(' ', Qt::SkipEmptyParts)) {
        const QStringList f = sJob.split(':');
        const QString sOp = f[0].chopped(1);
        PgmEntry e;
        e.nMemory = f[0].right(1).toInt();
        e.nOperation = sOp == "read" ? Read : sOp == "erase" ? Erase : Program;
        e.nOffset = f.value(1, "-1").toInt(nullptr, 0);
        e.nLength = f.value(2, "-1").toInt(nullptr, 0);
        e.bCompress = sOp == "prog" || sOp == "progs";
        e.bSkipUnchanged = sOp == "progs";
        const QString sFile = f.size() == 2 && e.nOperation == Program ? f[1] : f.value(3);
        if (f.size() == 1 || sFile == f.value(1)) // no offset given
            e.nOffset = e.nOperation == Program && e.nMemory < 2 ? -1 : 0;
        const QString sOwn = drive.filePath(QString("data%1.srec").arg(list.size()));
        images << imagePieces(sFile);
        QVERIFY(!images.last().first().isEmpty());
        if (e.nOperation == Read)
            e.sImage = drive.filePath(sFile == "bad" ? "none/out.srec" : QString("out%1.srec").arg(list.size()));
        else if (e.nOperation == Program && e.nMemory < 2 && (sFile.contains('+') || sFile.startsWith("pack")))
            QVERIFY(writeImageFile(e.sImage = sOwn, images.last()));
        else if (e.nOperation == Program && e.nMemory < 2)
            e.sImage = sFile == "srec"            ? sSrec
                       : variants.contains(sFile) ? drive.writeFile(sFile + ".hex", variants[sFile])
                       : sFile == "missing"       ? drive.filePath("none.hex")
                                                  : sHex;
        else if (e.nOperation == Program) { // EEPROM data for the first half of the range
            const int nSize = ((e.nLength < 0 ? kEeprom - e.nOffset : e.nLength) + 1) / 2;
            const Pieces data = sFile.contains('+') ? images.last()
                                : sFile == "whole"  ? Pieces{{0, randomBytes(kEeprom, 11)}}
                                                    : Pieces{{quint32(e.nOffset), randomBytes(nSize, 11)}};
            QVERIFY(writeImageFile(e.sImage = sOwn, data));
            if (sFile == "cut") { // the last line gone: the record count
                QByteArray text = readFile(e.sImage);
                text.chop(1);
                QVERIFY(drive.writeFile(e.sImage.section('/', -1), text.left(text.lastIndexOf('\n') + 1)) == e.sImage);
            }
        }
        list << e;
    }

    // The memories before the run: flash0 as the preset says, where "old="
    // names sectors that hold old data nonetheless.
    QList<QByteArray> memory{preloadedFlash(), preloadedFlash(0x60), randomBytes(kEeprom, 5), randomBytes(kEeprom, 6)};
    const QString sPreset = opt.value("flash", "old");
    QByteArray &flash0 = memory[0];
    if (sPreset != "old" && sPreset != "info")
        flash0 = programmed(flash0, images.value(0, imagePieces("")));
    for (const QString &sOld : opt.value("old").split(',', Qt::SkipEmptyParts))
        flash0.replace(sOld.toInt() * kSector, kSector, preloadedFlash().mid(sOld.toInt() * kSector, kSector));
    if (sPreset == "outside")
        flash0[kSector] = flash0[5 * kSector - 1] = 0; // below and above the image, in its sectors
    if (sPreset == "ff-block")
        flash0.replace(int(kImageAt) + 0x4000, 0x2000, QByteArray(0x2000, char(0x11)));
    if (sPreset == "info") {
        auto le32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
        // The information block behind two others, one of odd length.
        QByteArray chain = le32(3001) + le32(1) + QByteArray(3001, 'x') + le32(16) + le32(0x400) + QByteArray(16, 'y');
        chain += firmwareInfoBlock({"HW-REV-C", "FW 3.1.4", "2026-12-01", "Servo drive firmware", "SN-42"}, 0x1400);
        flash0 = QByteArray(0x400000 + 0x2000, char(0xFF)).replace(0x400000, chain.size(), chain);
    }
    QStringList files;
    const char *flags[4] = {"--flash0", "--flash1", "--eeprom", "--eeprom1"};
    const QStringList args = sPreset == "info" ? QStringList() : kGeometry;
    QStringList memoryArgs;
    for (int m = 0; m < (sPreset == "info" ? 1 : 4); ++m)
        memoryArgs << flags[m] << (files << drive.writeFile(QString("m%1.bin").arg(m), memory[m])).last();

    BaseParams params;
    params.sPort = opt.value("port");
    params.nBootType = opt.contains("boot") ? opt["boot"].toInt() : opt.contains("off") ? PoweredOff : RunningMonitor;
    params.nBaudrate = opt.value("baud", "460800").toUInt();
    const QString sCancel = opt.value("cancel").replace('_', ' ');
    // One run on drive d, cancelled after the nCancelAt-th exchange with the
    // object sCancelObject ("5E12.1") when bCancel.
    // nSeen counts the requests of the run, nCancelPoint is their number when
    // it was cancelled.
    QString sCancelObject;
    std::atomic<int> nSeen{0}, nCancelPoint{-1};
    auto go = [&](SimDrive &d, const QStringList &extra, const QVector<PgmEntry> &entries, bool bCancel,
                  int nCancelAt) {
        if (!opt.contains("port") && !d.isRunning() && !d.start(args + extra))
            return Outcome();
        params.sPort = d.isRunning() ? d.portName() : params.sPort;
        auto pRequests = std::make_shared<std::atomic<int>>(0);
        nSeen = 0;
        nCancelPoint = bCancel && sCancel == "now" ? 0 : -1;
        return runWorker(
            params, entries,
            [&, pRequests](UpdateWorker *w) {
                w->setRetries(opt.value("retries").toInt());
                w->setWakeTimeout(opt.value("wake", "2000").toUInt());
                if (opt.contains("faulty"))
                    w->setBlockCompressor(&faultyCompressor);
                if (bCancel && sCancel == "now")
                    w->requestCancel();
                w->setTransactionObserver([=, &nSeen, &nCancelPoint](const TransactionRecord &r) {
                    ++nSeen;
                    if (objectKey(r.nIndex, r.nSubIndex) == sCancelObject && ++*pRequests == nCancelAt && bCancel) {
                        w->bCancel = true;
                        nCancelPoint = int(nSeen);
                    }
                });
            },
            [&](UpdateWorker *w, const QString &s) {
                if (bCancel && s == sCancel && !w->bCancel) {
                    w->bCancel = true;
                    nCancelPoint = int(nSeen);
                }
            },
            opt.contains("own"));
    };
    // Faults and cancels are placed in the requests of the same run without
    // them, on a drive of its own.
    const QString sKey = QStringList{jobs, opt.value("retries"), opt.value("flash"), opt.value("old")}.join('|');
    const bool bPlaced = sim.join(' ').contains('#') || sCancel.contains('#');
    if (bPlaced && !m_cleanLogs.contains(sKey)) {
        SimDrive clean;
        QVector<PgmEntry> cleanList = list;
        for (PgmEntry &e : cleanList)
            e.sImage = e.nOperation == Read ? clean.filePath("out.srec") : e.sImage;
        QStringList cleanArgs;
        for (int m = 0; m < 4; ++m)
            cleanArgs << flags[m] << clean.writeFile(QString("m%1.bin").arg(m), memory[m]);
        QVERIFY(go(clean, cleanArgs, cleanList, false, -1).stats.succeeded());
        m_cleanLogs.insert(sKey, clean.logEntries());
    }
    const QList<SimDrive::LogEntry> cleanLog = m_cleanLogs.value(sKey);
    for (int i = 0; i + 1 < sim.size(); ++i)
        if (sim[i] == "--fault" && sim[i + 1].contains('#')) {
            const QStringList f = sim[i + 1].split(':');
            const int n = requestNumber(cleanLog, f[1]);
            QVERIFY2(n > 0, qPrintable(sim[i + 1]));
            sim[i + 1] = (QStringList{f[0], QString::number(n)} + f.mid(2)).join(':');
        }
    int nCancelAt = 0, nAt = -1;
    if (sCancel.contains('#')) {
        nAt = requestNumber(cleanLog, sCancel);
        for (const SimDrive::LogEntry &e : cleanLog)
            if (e.nRequest == nAt)
                sCancelObject = objectKey(e.nIndex, e.nSubindex);
        for (const SimDrive::LogEntry &e : cleanLog)
            nCancelAt += e.nRequest <= nAt && objectKey(e.nIndex, e.nSubindex) == sCancelObject;
        QVERIFY(nAt > 0);
    }
    Outcome o = go(drive, memoryArgs + sim, list, !sCancel.isEmpty(), nCancelAt);
    // After a cancel no request erases, programs or writes a memory.
    QVERIFY(sCancel.isEmpty() || nCancelPoint >= 0);
    if (nAt > 0)
        QCOMPARE(int(nCancelPoint), nAt);
    const QStringList writes{"flash-erase", "flash-program", "eeprom-write"};
    for (const SimDrive::LogEntry &e : drive.isRunning() ? drive.logEntries() : QList<SimDrive::LogEntry>())
        QVERIFY2(nCancelPoint < 0 || e.nRequest <= nCancelPoint || !writes.contains(e.command()), qPrintable(e.sLine));
    if (opt.contains("rerun")) {
        QCOMPARE(outcomeWord(o.stats.jobs.value(0)), "cancelled");
        o = go(drive, memoryArgs + sim, list, false, -1);
    }
    QVERIFY(o.bEnded);
    const QList<SimDrive::LogEntry> log = drive.isRunning() ? drive.logEntries() : QList<SimDrive::LogEntry>();

    // What the run said, in words and typed.
    QCOMPARE(o.stats.sFailureTitle, title);
    text.replace("%1", list.value(0).sImage);
    if (text.contains('\n'))
        QVERIFY2(o.stats.sFailureText.startsWith(text), qPrintable(o.stats.sFailureText));
    else
        QCOMPARE(o.stats.sFailureText, text);
    QStringList words;
    for (const JobStats &job : o.stats.jobs)
        words << outcomeWord(job);
    if (!o.stats.bStarted && params.nBootType != RunningFirmware) {
        JobStats start;
        start.eOutcome = JobOutcome::Failed;
        start.eFailure = o.stats.eStartFailure;
        start.nCommCode = o.stats.nStartCode;
        words = QStringList{"start" + outcomeWord(start).mid(6)};
    }
    QCOMPARE(words.join(' '), result);
    QCOMPARE(o.stats.succeeded(), title.isEmpty() && params.nBootType != RunningFirmware);
    if (title.isEmpty() && o.stats.bStarted)
        QCOMPARE(o.nStep, o.nSteps);
    const JobStats job = o.stats.jobs.value(0);
    quint32 rate = 0; // the rate the drive was switched to
    for (const SimDrive::LogEntry &e : log)
        rate = e.fields.contains("baud") ? e.number("baud") : rate;
    const QHash<QString, quint32> stats{{"erased", job.nSectorsErased},    {"sskipped", job.nSectorsSkipped},
                                        {"bskipped", job.nBlocksSkipped},  {"raw", job.nBlocksRaw},
                                        {"packed", job.nBlocksCompressed}, {"mismatch", job.nBlocksExpandMismatch},
                                        {"retries", job.nRetries},         {"rate", rate},
                                        {"checked", job.nSectorsChecked},  {"bytes", quint32(job.nImageBytes)}};
    for (const QString &c : counts.split(' ', Qt::SkipEmptyParts)) {
        const QString sName = c.section('=', 0, 0), sWant = c.section('=', 1);
        const int nHave =
            stats.contains(sName)
                ? int(stats[sName])
                : int(std::count_if(log.begin(), log.end(), [&](const auto &e) { return e.command() == sName; }));
        QVERIFY2(sWant == "+" ? nHave > 0 : nHave == sWant.toInt(),
                 qPrintable(QString("%1 is %2").arg(sName).arg(nHave)));
    }
    if (!opt.contains("faulty"))
        QCOMPARE(job.nBlocksExpandMismatch, 0u);
    if (sPreset == "info")
        QCOMPARE(o.stats.firmwareInfo.join('|'), "HW-REV-C|FW 3.1.4|2026-12-01|Servo drive firmware|SN-42");
    else if (jobs.isEmpty())
        QVERIFY(o.stats.firmwareInfo.isEmpty());
    if (!drive.isRunning())
        return;
    // The memories: each finished job's effect, in list order; where a job
    // failed or was cancelled, its range may hold anything.
    QList<QByteArray> care;
    for (const QByteArray &m : memory)
        care << QByteArray(m.size(), 1);
    for (int i = 0; i < list.size(); ++i) {
        const PgmEntry &e = list[i];
        QByteArray &m = memory[e.nMemory & 3];
        const bool bFlash = e.nMemory < 2;
        int nOffset = e.nOffset < 0 && e.nOperation == Program && bFlash ? 0 : e.nOffset;
        int nLength = e.nLength < 0 ? m.size() - nOffset : e.nLength;
        if (e.nOperation == Program && bFlash)
            std::tie(nOffset, nLength) = touchedSectors(images[i]);
        const JobOutcome eOutcome = o.stats.jobs.value(i).eOutcome;
        if (eOutcome == JobOutcome::Done && e.nOperation == Read)
            QCOMPARE(loadImageBytes(e.sImage, quint32(nOffset), quint32(nLength)), m.mid(nOffset, nLength));
        else if (e.nOperation == Read)
            QVERIFY(!QFile::exists(e.sImage));
        else if (eOutcome != JobOutcome::Done && eOutcome != JobOutcome::NotRun) {
            nOffset = qBound(0, nOffset, m.size());
            nLength = qBound(0, nLength, m.size() - nOffset);
            care[e.nMemory].replace(nOffset, nLength, QByteArray(nLength, 0));
        } else if (eOutcome == JobOutcome::Done && e.nOperation == Program && bFlash)
            m = programmed(m, images[i]);
        else if (eOutcome == JobOutcome::Done && e.nOperation == Program)
            m.replace(nOffset, nLength, imageFileBytes(e.sImage, quint32(nOffset), quint32(nLength)));
        else if (eOutcome == JobOutcome::Done)
            m.replace(nOffset, nLength, QByteArray(nLength, char(0xFF)));
    }
    // No all-FF block was ever programmed.
    for (const SimDrive::LogEntry &e : log)
        if (title.isEmpty() && e.command() == "flash-program" && e.number("dev") == 0)
            QVERIFY2(memory[0].mid(int(e.number("addr")), int(e.number("size"))).count(char(0xFF))
                         < int(e.number("size")),
                     qPrintable(e.sLine));
    QVERIFY(drive.stop());
    for (int m = 0; m < 4 && sPreset != "info"; ++m) {
        const QByteArray have = readFile(files[m]);
        QCOMPARE(have.size(), memory[m].size());
        for (int i = 0; i < have.size(); ++i)
            if (care[m][i] && have[i] != memory[m][i])
                QFAIL(qPrintable(QString("memory %1 byte 0x%2 is 0x%3, want 0x%4")
                                     .arg(m)
                                     .arg(i, 0, 16)
                                     .arg(quint8(have[i]), 0, 16)
                                     .arg(quint8(memory[m][i]), 0, 16)));
    }
}

// The wake-pattern match against a scripted drive: after the k-th wake
// pattern it answers with chunk k of the script.
void TestUpdateWorker::wakeMatching_data()
{
    QTest::addColumn<QList<QByteArray>>("script");
    QTest::addColumn<bool>("matches");
    auto row = [](const char *sName, const QList<QByteArray> &script, bool bMatches) {
        QTest::newRow(sName) << script << bMatches;
    };
    row("plain echo", {QByteArray("\xFE\xED\xC0\xDE")}, true);
    row("second FE restarts", {QByteArray("\xFE\xFE\xED\xC0\xDE")}, true);
    row("broken start, then the pattern", {QByteArray("\xFE\xED\x00\xFE\xED\xC0\xDE", 7)}, true);
    row("in two pieces over two cycles", {QByteArray("\xFE\xED"), QByteArray("\xC0\xDE")}, true);
    row("foreign byte inside", {QByteArray("\xFE\xED\xC0\x00\xDE", 5)}, false);
    row("noise only", {QByteArray("*****"), QByteArray("\xDE\xC0\xED\xFE")}, false);
}

void TestUpdateWorker::wakeMatching()
{
    QFETCH(QList<QByteArray>, script);
    QFETCH(bool, matches);
    Pty pty;
    QVERIFY(pty.isValid());
    std::atomic<bool> bStop{false};
    std::thread drive([&] {
        QByteArray heard;
        for (int nAnswered = 0; !bStop;) {
            heard += pty.read(20);
            if (heard.count(QByteArray("\xFE\xED\xC0\xDE")) > nAnswered && nAnswered < script.size())
                pty.write(script[nAnswered++]);
        }
    });
    // A match shows as "Done!"; cancelling then ends the run there.
    BaseParams params;
    params.sPort = pty.path();
    params.nBootType = PoweredOff;
    const Outcome o = runWorker(
        params, {}, [](UpdateWorker *w) { w->setWakeTimeout(500); },
        [](UpdateWorker *w, const QString &s) { w->bCancel = w->bCancel || s == "Done!"; }, false);
    bStop = true;
    drive.join();
    QVERIFY(o.bEnded);
    QCOMPARE(o.states.contains("Done!"), matches);
    QCOMPARE(o.stats.sFailureText, matches ? "Canceled from user!" : "No answer to the wake pattern within 500 ms");
}

QTEST_GUILESS_MAIN(TestUpdateWorker)
#include "tst_updateworker.moc"
