// Image files: each reader as one table of files written by srec_cat and of
// hand-made lines (every message a row; what the two readers share, once, in
// the Intel HEX table), the S-record writer read back by srec_cat, the extent
// scan, and the firmware information chain.

#include "FWInfoHex.h"
#include "HexConvIHex.h"
#include "HexConvSRec.h"
#include "ImageFile.h"
#include "TestData.h"

#include <QDir>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace {

QByteArray withSum(const QByteArray &bytes, bool bIntel)
{
    quint8 nSum = 0;
    for (char c : bytes)
        nSum = quint8(nSum + quint8(c));
    return (bytes + char(bIntel ? quint8(0x100 - nSum) : quint8(~nSum))).toHex().toUpper() + "\n";
}

QByteArray ihex(int nType, quint16 nAddress, const QByteArray &data)
{
    const char head[] = {char(data.size()), char(nAddress >> 8), char(nAddress), char(nType)};
    return ":" + withSum(QByteArray(head, 4) + data, true);
}

QByteArray srec(char cType, quint32 nAddress, const QByteArray &data)
{
    const int nAddressBytes = (cType == '2' || cType == '8') ? 3 : (cType == '3' || cType == '7') ? 4 : 2;
    QByteArray bytes(1, char(nAddressBytes + data.size() + 1));
    for (int i = nAddressBytes - 1; i >= 0; --i)
        bytes.append(char(nAddress >> (8 * i)));
    return QByteArray("S") + cType + withSum(bytes + data, false);
}

QByteArray badSum(QByteArray record) // the checksum's last digit changed
{
    record[record.size() - 2] = record[record.size() - 2] == '0' ? '1' : '0';
    return record;
}

QByteArray le32(quint32 n)
{
    const char b[] = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    return QByteArray(b, 4);
}

QByteArray noise(int n, quint32 nSeed) // no 0xFF bytes: the used range is where the bytes differ from 0xFF
{
    QRandomGenerator rng(nSeed);
    QByteArray b(n, 0);
    for (char &c : b)
        c = char(rng.bounded(255));
    return b;
}

// A 64 KiB window from nBase: 0xFF with the pieces (offset, bytes) in it.
constexpr int kWindow = 0x10000;
QByteArray window(std::initializer_list<std::pair<int, QByteArray>> pieces)
{
    QByteArray w(kWindow, char(0xFF));
    for (const auto &piece : pieces)
        w.replace(piece.first, piece.second.size(), piece.second);
    return w;
}

// A firmware information payload: five fields of 16, 16, 16, 40, 16 bytes.
QByteArray infoPayload(const QList<QByteArray> &texts)
{
    QByteArray p;
    for (int i = 0; i < 5; ++i)
        p += texts.value(i).leftJustified(i == 3 ? 40 : 16, '\0', true);
    return p;
}

// Blocks back to back: length, type, then the payload filled up to length.
QByteArray chain(const QList<std::tuple<quint32, quint32, QByteArray>> &blocks)
{
    QByteArray out;
    for (const auto &[nLength, nType, payload] : blocks)
        out += le32(nLength) + le32(nType) + payload.leftJustified(int(qMin(nLength, 0x8000u)), '\x5A', true);
    return out;
}

const QList<QByteArray> kTexts = {"HW 3.1", "FW 2.07", "2026-11-30", "AC servo drive, 400 V, 7.5 kW", "SN 0004711"};

} // namespace

class TestImage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &sName) const { return m_dir.filePath(sName); }
    QByteArray toolFile(const QStringList &options, quint32 nBase, QList<std::pair<quint32, int>> segments,
                        QByteArray *pWindow);
    void addReadColumns();
    void checkRead(HexConv::FileType eType);

private slots:
    void initTestCase();
    void fileType_data();
    void fileType();
    void readIntelHex_data();
    void readIntelHex() { checkRead(HexConv::FileTypeIntelHex); }
    void readSRecord_data();
    void readSRecord() { checkRead(HexConv::FileTypeSRecord); }
    void save_data();
    void save();
    void saveFailures();
    void scan_data();
    void scan();
    void fwInfo_data();
    void fwInfo();
};

void TestImage::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (QStandardPaths::findExecutable("srec_cat").isEmpty())
        QSKIP("srec_cat (srecord) writes the reference files");
}

// Writes segments of noise at their addresses with srec_cat; *pWindow gets
// them at their offsets from nBase.
QByteArray TestImage::toolFile(const QStringList &options, quint32 nBase, QList<std::pair<quint32, int>> segments,
                               QByteArray *pWindow)
{
    *pWindow = window({});
    QMap<quint32, QByteArray> pieces;
    for (const auto &[nAddress, nLength] : segments) {
        pieces.insert(nAddress, noise(nLength, nAddress));
        pWindow->replace(int(nAddress - nBase), nLength, pieces[nAddress]);
    }
    return writeImageFile(path("tool.txt"), pieces, options) ? readFile(path("tool.txt")) : "srec_cat failed";
}

void TestImage::fileType_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("type");
    const auto row = [](const char *sHead, int nType) { QTest::newRow(sHead) << QByteArray(sHead) << nType; };
    row("S1a3", HexConv::FileTypeSRecord);
    row(":ffZ", HexConv::FileTypeIntelHex);
    row(":10", HexConv::FileTypeUnknown);
    row("SX030000", HexConv::FileTypeUnknown);
    row("S1G30000", HexConv::FileTypeUnknown);
    row(":1G000000", HexConv::FileTypeUnknown);
}

// By content, never by name; only regular files are opened (a FIFO would
// hold the reader).
void TestImage::fileType()
{
    QFETCH(QByteArray, content);
    QFETCH(int, type);
    QVERIFY(writeFile(path("type.srec"), content));
    ImageFile image(path("type.srec"));
    QCOMPARE(int(image.type()), type);
    QCOMPARE(int(image.status()), type ? int(ImageFile::Ok) : int(ImageFile::UnknownType));
    QVERIFY(type || !image.scan());
    QStringList others{path("missing"), m_dir.path()};
#ifdef Q_OS_LINUX
    ::mkfifo(QFile::encodeName(path("fifo")).constData(), 0644);
    others << path("fifo");
#endif
    for (const QString &sPath : others) {
        ImageFile other(sPath);
        QVERIFY(int(other.status()) == ImageFile::NotRegular && !other.scan());
        QCOMPARE(HexConvSRec(0, 0xFF).load(sPath), -1);
        QCOMPARE(HexConvIHex(0, 0xFF).load(sPath), -1);
    }
}

// Rows of a reader's table: the file, the 64 KiB window it leaves from base
// and what the reader says (its error, or its warnings, exactly).
void TestImage::addReadColumns()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("messages");
    QTest::addColumn<quint32>("base");
}

static void readRow(const char *sName, const QByteArray &content, const QByteArray &expected,
                    const QString &sMessages = {}, quint32 nBase = 0)
{
    QTest::newRow(sName) << content << expected << sMessages << nBase;
}

void TestImage::readIntelHex_data()
{
    addReadColumns();
    const QByteArray eof = ihex(1, 0, "");
    const QString noEnd = "1: hex2bin warning: no end-of-file record; the image is incomplete\n";
    const QString dropped = "hex2bin warning: 1 data record(s) outside the address window 0x0-0xffff were dropped\n";
    QByteArray w;
    QByteArray file = toolFile({"-intel", "-obs=32"}, 0x1F000, {{0x1FFF0, 64}, {0x2A000, 999}}, &w);
    readRow("srec_cat 32, linear addresses", file, w, {}, 0x1F000);
    file = toolFile({"-intel", "-obs=255"}, 0x300000, {{0x300000, 766}, {0x30FC18, 1000}}, &w);
    readRow("srec_cat 255, window ends", file, w, {}, 0x300000);
    const QByteArray ab = window({{0x10, "ab"}});
    const QByteArray abcd = window({{0x10, "abcd"}});
    const QByteArray rec = ihex(0, 0x10, "ab");
    const QByteArray rec2 = ihex(0, 0x12, "cd");
    readRow("lower case, crlf, no last lf", rec.toLower().replace("\n", "\r\n") + eof.trimmed(), ab);
    readRow("cr line ends", QByteArray(rec + rec2 + eof).replace('\n', '\r'), abcd);
    readRow("cr cr lf, trailing blanks", rec.trimmed() + " \t\r\r\n" + rec2 + eof, abcd);
    // The reader takes the file in blocks of 1 MiB: a line end split between two.
    const QByteArray toBlockEnd = rec.trimmed().leftJustified((1 << 20) - 1, ' ');
    readRow("cr lf split between blocks", toBlockEnd + "\r\n" + rec2 + eof, abcd);
    readRow("cr at the end of a block", toBlockEnd + "\r" + rec2 + eof, abcd);
    readRow("text after the end record", rec + eof + "garbage\n" + ihex(4, 0, "\0\0"), ab);
    readRow("joined files: data after the end record", rec + eof + ihex(4, 0, QByteArray("\0\0", 2)) + rec2 + eof, ab,
            "4: hex2bin warning: data records follow the end-of-file record of line 2; they were not read\n");
    readRow("start records ignored", ihex(3, 0, "abcd") + ihex(5, 0, "abcd") + rec + eof, ab);
    readRow("empty record, long line", ihex(0, 0, "") + rec.trimmed() + QByteArray(1500, ' ') + "\n" + eof, ab);
    readRow("last byte at the end", ihex(0, 0xFFFC, "abcd") + eof, window({{0xFFFC, "abcd"}}));
    readRow("straddles the end", ihex(0, 0xFFFC, "abcdefgh") + rec + eof, ab, "1: " + dropped);
    readRow("outside the window", ihex(4, 0, QByteArray("\0\1", 2)) + rec + eof, window({}), "2: " + dropped);
    readRow("repeated bytes, same values", rec + ihex(0, 0x11, "bcd") + rec + eof, abcd);
    readRow("no end record", rec, ab, noEnd);
    readRow("control character ends", rec + "\x1A", ab, noEnd);
    readRow("blank line ends", rec + "\n" + ihex(0, 0x40, "x") + eof, ab,
            "3: hex2bin warning: data records follow the blank line 2; they were not read\n" + noEnd);
    readRow("text after a blank line", rec + eof.trimmed() + "\n\n; end of image\n", ab);
    readRow("control character, then data", rec + "\x1A\n" + ihex(0, 0x40, "x") + eof, ab,
            "3: hex2bin warning: data records follow the control character at the start of line 2; they were not "
            "read\n"
                + noEnd);

    // A bad line between two good records: the first one's data stay.
    const auto bad = [&](const QByteArray &line) { return rec + line + ihex(0, 0x40, "x") + eof; };
    const QString sFormat = "2: hex2bin error: bad record format\n";
    const QString sShort = "2: hex2bin error: record length too short\n";
    const QString sAfter = "2: hex2bin error: text after the checksum\n";
    readRow("no colon", bad(" :00000001FF\n"), ab, sFormat);
    readRow("not a digit", bad(":0400100001G20304E2\n"), ab, sFormat);
    readRow("endless line", bad(":00" + QByteArray(17 << 20, '0') + "\n"), ab, sFormat);
    readRow("very short", bad(":0000\n"), ab, sShort);
    readRow("count beyond line", bad(":10000000010203FF\n"), ab, sShort);
    readRow("checksum", bad(badSum(ihex(0, 0x20, "abcd"))), ab, "2: hex2bin error: crc checksum error\n");
    readRow("type 6", bad(ihex(6, 0, "")), ab, "2: hex2bin error: unknown record type 6\n");
    readRow("segment address", bad(ihex(2, 0, QByteArray("\x10\x00", 2))), ab,
            "2: hex2bin error: extended segment address record not supported\n");
    readRow("two records on one line", bad(rec2.trimmed() + ihex(0, 0x20, "e")), ab, sAfter);
    readRow("comment after the checksum", bad(rec2.trimmed() + " ; boot loader\n"), ab, sAfter);
    readRow("address record of one byte", bad(ihex(4, 0, "\x01")), ab,
            "2: hex2bin error: a type 4 record must hold 2 data bytes, not 1\n");
    readRow("end record with data", bad(ihex(1, 0, "x")), ab,
            "2: hex2bin error: a type 1 record must hold 0 data bytes, not 1\n");
    readRow("one byte, two values", bad(ihex(0, 0x11, "c")), window({{0x10, "ac"}, {0x40, "x"}}),
            "2: hex2bin error: address 0x11 is given twice with different values (0x62 in line 1, 0x63 here)\n");
}

void TestImage::readSRecord_data()
{
    addReadColumns();
    const QByteArray end = srec('9', 0, "");
    const QString noEnd = "srec2bin warning: no termination record (S7, S8 or S9) and no record count (S5) that "
                          "agrees; the image is incomplete\n";
    QByteArray w;
    QByteArray file = toolFile({"-motorola", "-address-length=2", "-obs=16"}, 0, {{0x100, 500}, {0xFF00, 256}}, &w);
    readRow("srec_cat S1 16", file, w);
    file = toolFile({"-motorola", "-address-length=3"}, 0x7F0000, {{0x7F0000, 100}, {0x7FFF00, 256}}, &w);
    readRow("srec_cat S2", file, w, {}, 0x7F0000);
    file = toolFile({"-motorola", "-address-length=4", "-obs=250"}, 0xFFFF0000, {{0xFFFF0000, 2000}, {0xFFFFFDA8, 600}},
                    &w);
    readRow("srec_cat S3 250, top of space", file, w, {}, 0xFFFF0000);
    const QByteArray ab = window({{0x10, "ab"}});
    const QByteArray rec = srec('1', 0x10, "ab");
    readRow("header only", "S0030000FC\n", window({}), "1: " + noEnd);
    readRow("S2, S3, S5, S7", srec('2', 0x10, "a") + srec('3', 0x11, "b") + srec('5', 2, "") + srec('7', 0, ""), ab);
    readRow("count record ends", rec + srec('5', 1, ""), ab);
    readRow("count record disagrees", srec('1', 0x10, "a") + srec('5', 2, "") + srec('1', 0x11, "b"), ab,
            "2: srec2bin warning: the record count record says 2 data records, but 1 were read before it\n3: " + noEnd);
    readRow("data after termination", srec('1', 0x10, "a") + end + srec('1', 0x11, "b") + end, ab,
            "3: srec2bin warning: data records follow the termination record of line 2\n");
    readRow("joined files: data after the count", srec('1', 0x10, "a") + srec('5', 1, "") + srec('1', 0x11, "b")
                                                       + srec('5', 1, ""),
            ab,
            "3: srec2bin warning: data records follow the record count record of line 2\n"
            "4: srec2bin warning: the record count record says 1 data records, but 2 were read before it\n");
    readRow("empty record, longest record", srec('1', 0, "") + srec('1', 0x100, QByteArray(252, 'z')) + end,
            window({{0x100, QByteArray(252, 'z')}}));
    readRow("blank line ends", rec + "\n" + srec('1', 0x30, "c") + end, ab,
            "3: srec2bin warning: data records follow the blank line 2; they were not read\n1: " + noEnd);

    const auto bad = [&](const QByteArray &line) { return rec + line + srec('1', 0x40, "x") + end; };
    const QString sFormat = "2: srec2bin error: bad record format\n";
    const QString sShort = "2: srec2bin error: record length too short\n";
    readRow("no S", bad("s1030000FC\n"), ab, sFormat);
    readRow("very short", bad("S1030\n"), ab, sShort);
    readRow("count beyond line", bad("S11300100102FF\n"), ab, sShort);
    readRow("no room for address", bad("S30200FD\n"), ab, sShort);
    readRow("S4", bad("S4030000FC\n"), ab, "2: srec2bin error: unknown record type S4");
    readRow("letter", bad("SX030000FC\n"), ab, "2: srec2bin error: unknown record type SX");
    readRow("checksum", bad(badSum(srec('1', 0x20, "abc"))), ab, "2: srec2bin error: checksum error\n");
    readRow("termination with data", bad(srec('9', 0, "x")), ab,
            "2: srec2bin error: an S9 record must hold 0 data bytes, not 1\n");
    readRow("one byte, two values", bad(srec('1', 0x10, "A")), window({{0x10, "Ab"}, {0x40, "x"}}),
            "2: srec2bin error: address 0x10 is given twice with different values (0x61 in line 1, 0x41 here)\n");
}

// The converter's window, used range and messages ("LINE: text"), and
// whether it holds the whole image; the first pass (scan) fails and judges
// the same way, and names the file and the line.
void TestImage::checkRead(HexConv::FileType eType)
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expected);
    QFETCH(QString, messages);
    QFETCH(quint32, base);
    const bool bFails = messages.contains(" error: ");
    QVERIFY(writeFile(path("read.txt"), content));
    std::unique_ptr<HexConv> pConv = HexConv::create(eType, base, base + kWindow - 1);
    QCOMPARE(pConv->load(path("read.txt")), bFails ? -1 : 0);
    QString sSaid;
    for (const HexConv::Message &message : pConv->messages())
        sSaid += QString("%1: %2").arg(message.nLine).arg(message.sText);
    QCOMPARE(sSaid, messages);
    const HexConv::Completeness eExpected = messages.contains("were not read")          ? HexConv::DataNotRead
                                            : messages.contains(QRegularExpression("follow the .* record of")) ? HexConv::DataAfterEnd
                                            : messages.contains("image is incomplete")    ? HexConv::NoEndRecord
                                                                                          : HexConv::Complete;
    if (!bFails)
        QCOMPARE(int(pConv->completeness()), int(eExpected));
    QVERIFY(std::memcmp(pConv->constBuffer(), expected.constData(), kWindow) == 0);
    quint32 nFirst = 0, nLast = kWindow - 1;
    while (nFirst < kWindow && quint8(expected[nFirst]) == 0xFF)
        ++nFirst;
    while (nLast > nFirst && quint8(expected[nLast]) == 0xFF)
        --nLast;
    QCOMPARE(pConv->hasData(), nFirst < kWindow);
    QVERIFY(!pConv->hasData() || (pConv->lowestAddress() == base + nFirst && pConv->highestAddress() == base + nLast));
    ImageFile image(path("read.txt"));
    QCOMPARE(int(image.type()), int(eType));
    QCOMPARE(image.scan(), !bFails);
    QCOMPARE(image.errorText(), bFails ? messages.section(": ", 1) : QString());
    if (bFails)
        QCOMPARE(image.messageLines().value(0), path("read.txt") + ':' + messages.chopped(messages.endsWith('\n')));
    else
        QCOMPARE(int(image.completeness()), int(eExpected));
}

void TestImage::save_data()
{
    QTest::addColumn<quint32>("base");
    QTest::addColumn<quint32>("end");
    QTest::addColumn<QByteArray>("data"); // at 0x20000 for a used range; empty: noise over the whole window
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("tail");
    const auto row = [](const char *sName, quint32 nBase, quint32 nEnd, const QByteArray &head,
                        const QByteArray &tail = {}, const QByteArray &data = {}) {
        QTest::newRow(sName) << nBase << nEnd << data << "S0030000FC\n" + head << tail;
    };
    const QByteArray twenty = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F10111213");
    row("twenty bytes", 0x100, 0x113, "S1130100000102030405060708090A0B0C0D0E0F73\nS107011010111213A1\nS9030100FB\n",
        {}, twenty);
    row("S1 up to 0xFFFF", 0xFFF0, 0xFFFF, "S113FFF0", "S903FFF00D\n");
    row("S2 from 0x10000", 0xFFF0, 0x10000, "S21400FFF0", "S80400FFF00C\n");
    row("S2 top", 0xFFFFF0, 0xFFFFFF, "S214FFFFF0", "S804FFFFF00D\n");
    row("S3", 0xFFFFF0, 0x1000000, "S31500FFFFF0", "S70500FFFFF00C\n");
    row("S3 top of space", 0xFFFFFFF0, 0xFFFFFFFF, "S315FFFFFFF0", "S705FFFFFFF00D\n");
    row("odd size", 0x1234, 0x161C, "S1131234", "S9031234B6\n");
    row("used range", 0, 0x7FFFFF, srec('2', 0x20000, "hello") + srec('8', 0x20000, ""), {}, "hello");
    row("nothing used", 0, 0xFF, "S9030000FC\n");
}

// Checked against srec_cat, which is strict about checksums and layout.
void TestImage::save()
{
    QFETCH(quint32, base);
    QFETCH(quint32, end);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, tail);
    HexConvSRec conv(base, end);
    const bool bWhole = !QByteArray(QTest::currentDataTag()).contains("used");
    const QByteArray expected = bWhole && data.isEmpty() ? noise(int(end - base + 1), end) : data;
    const quint32 nFirst = bWhole ? base : 0x20000;
    if (!expected.isEmpty())
        std::memcpy(conv.buffer() + (nFirst - base), expected.constData(), size_t(expected.size()));
    conv.rescan(0xFF);
    const QString sFile = path("saved.srec");
    QCOMPARE(conv.save(sFile, bWhole), 0);
    const QByteArray text = readFile(sFile);
    QVERIFY2(text.startsWith(head) && text.endsWith(tail), text.left(80));
    const QString sBin = path("saved.bin");
    QCOMPARE(runTool("srec_cat", {sFile, "-motorola", "-offset", QString("-%1").arg(nFirst), "-o", sBin, "-binary"}),
             0);
    QCOMPARE(readFile(sBin).toHex(), expected.toHex());
}

void TestImage::saveFailures()
{
    const QString sFile = path("keep.srec");
    const QByteArray old = "S0030000FC\nS9030000FC\n";
    QVERIFY(writeFile(sFile, old));
    QVERIFY(QDir(m_dir.path()).mkpath("adir"));
    const QStringList before = QDir(m_dir.path()).entryList();
    HexConvSRec conv(0, 0x3FFFF);
    QCOMPARE(conv.save(path("adir"), true), -1);
    QCOMPARE(conv.save(path("no-such-dir/x.srec"), true), -1);
    QCOMPARE(HexConvSRec(0x200, 0x1FF).save(sFile, true), -1); // no window
    QCOMPARE(HexConvIHex(0, 0xFF).save(sFile, true), -1);      // writes nothing
#ifdef Q_OS_LINUX
    // A file size limit makes the writes fail part-way, as a full disk would:
    // the old file stays, no temporary file is left.
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int rc = conv.save(sFile, true);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(rc, -1);
#endif
    QCOMPARE(readFile(sFile), old);
    QCOMPARE(QDir(m_dir.path()).entryList(), before);
    QVERIFY(QFileInfo(path("adir")).isDir());
}

void TestImage::scan_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("extent"); // lowest-highest, skipped; bytes inside/below/above 0x11..0x21
    const auto row = [](const char *sName, const QByteArray &content, const char *sExtent) {
        QTest::newRow(sName) << content << QString(sExtent);
    };
    const QByteArray top = ihex(4, 0, "\xFF\xFF") + ihex(0, 0xFFF0, QByteArray(16, 'a'));
    row("ihex top of space", top + ihex(1, 0, ""), "fffffff0-ffffffff, 0; 0/0/16");
    row("ihex wraps past top", top + ihex(0, 0xFFF8, "aaaaaaaaijklmnop") + ihex(1, 0, ""),
        "fffffff0-ffffffff, 1; 0/0/32");
    row("srec range ends inside records", srec('1', 0x10, "ab") + srec('1', 0x20, "cd") + srec('1', 0x22, "ef"),
        "10-23, 0; 3/1/2");
    row("srec one byte in range", srec('1', 0x11, "a") + srec('1', 0x21, "bc") + srec('9', 0, ""), "11-22, 0; 2/0/1");
    row("srec spread", srec('3', 0x80000000, "ab") + srec('1', 0x10, "c") + srec('7', 0, ""), "10-80000001, 0; 0/1/2");
    row("no data", "S0030000FC\n", "; 0/0/0");
}

// The first pass: where a file's data lie, and a window made from that; a
// range read from it holds exactly the file's bytes in the range.
void TestImage::scan()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, extent);
    QVERIFY(writeFile(path("extent.txt"), content));
    ImageFile image(path("extent.txt"));
    QVERIFY(image.scan(0x11, 0x21));
    const HexConv::Extent ext = image.extent();
    const HexConv::DataCount &n = image.count();
    QCOMPARE((ext.bHasData ? QString("%1-%2, %3").arg(ext.nLowest, 0, 16).arg(ext.nHighest, 0, 16).arg(ext.nSkipped)
                           : QString())
                 + QString("; %1/%2/%3").arg(n.nInside).arg(n.nBelow).arg(n.nAbove),
             extent);
    // A window of the extent takes every record that fits; one too wide is
    // refused, not allocated.
    ImageFile loaded(path("extent.txt"));
    const bool bFits = ext.nHighest - ext.nLowest < 0x1000000u;
    QCOMPARE(loaded.loadExtent(0x1000000u), bFits);
    if (bFits && ext.bHasData)
        QCOMPARE(loaded.converter()->highestAddress() - loaded.converter()->lowestAddress(),
                 ext.nHighest - ext.nLowest);
    else if (!bFits)
        QCOMPARE(int(loaded.status()), int(ImageFile::TooLarge));
    ImageFile range(path("extent.txt"));
    QVERIFY(range.loadRange(0x11, 0x21));
    QCOMPARE(QString("%1/%2/%3").arg(range.count().nInside).arg(range.count().nBelow).arg(range.count().nAbove),
             extent.section("; ", 1));
    if (bFits && ext.bHasData) {
        const QByteArray whole = QByteArray(reinterpret_cast<const char *>(loaded.converter()->constBuffer()),
                                            int(loaded.length()));
        for (quint32 a = 0x11; a <= 0x21; ++a) {
            const bool bIn = a >= ext.nLowest && a <= ext.nHighest;
            QCOMPARE(range.converter()->constBuffer()[a - 0x11], bIn ? quint8(whole[int(a - ext.nLowest)]) : quint8(0xFF));
        }
    }
}

void TestImage::fwInfo_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text"); // the five lines joined by '|'
    QTest::addColumn<quint32>("start");
    const auto row = [](const char *sName, const QByteArray &image, int nResult, quint32 nStart = 0x300000) {
        QTest::newRow(sName) << image << nResult << (nResult ? QString() : QString(kTexts.join('|'))) << nStart;
    };
    const QByteArray info = infoPayload(kTexts);
    const QByteArray ff(16, '\xFF');
    row("longer block, type bits outside mask", chain({{300, 0xF400, info}}), 0);
    row("after other blocks", chain({{0x20, 0x100, {}}, {4, 0x401, {}}, {0x1000, 0x200, {}}, {104, 0x400, info}}), 0);
    row("0x401 and short skipped", chain({{104, 0x401, ff}, {100, 0x400, infoPayload({"short"})}, {104, 0x400, info}}),
        0);
    row("0x800 is outside", chain({{104, 0x800, info}}) + ff, -1);
    row("runs into erased flash", chain({{0x20, 0x100, {}}}) + ff, -1);
    row("length zero", chain({{0, 0x100, {}}}), -1);
    row("type zero", chain({{16, 0, {}}}), -1);
    row("leaves the image", chain({{0x20000, 0x100, {}}}), -1);
    row("payload leaves the image", chain({{16, 0x100, {}}}) + le32(104) + le32(0x400) + info.left(50), -2);
    row("back to itself", le32(0xFFFFFFF8) + le32(0x100), -1, 0x1000);
    row("payload past the top", le32(104) + le32(0x400), -2, 0xFFFFFFF8);
    QByteArray bad = info;
    bad[20] = char(0x80);
    row("byte 0x80", chain({{104, 0x400, bad}}), -3);
    bad = info;
    bad[16 + 14] = '\x01'; // behind the terminating zero of field 2
    row("control after zero", chain({{104, 0x400, bad}}), -3);
    bad = info;
    bad[48 + 39] = '\x07'; // the last byte of field 4 becomes the terminator
    row("last byte replaced", chain({{104, 0x400, bad}}), 0);
    QTest::newRow("full fields truncated")
        << chain({{104, 0x400, infoPayload({"AAAAAAAAAAAAAAAA", "BBBBBBBBBBBBBBBB", "", QByteArray(40, 'D')})}}) << 0
        << QString("AAAAAAAAAAAAAAA|BBBBBBBBBBBBBBB||%1|").arg(QString(39, 'D')) << 0x300000u;
}

// The image in a converter window of its own size at the start address:
// reads outside it fail. A walk that never ends runs into the time-out.
void TestImage::fwInfo()
{
    QFETCH(QByteArray, image);
    QFETCH(int, result);
    QFETCH(QString, text);
    QFETCH(quint32, start);
    HexConvSRec conv(start, start + quint32(image.size()) - 1);
    std::memcpy(conv.buffer(), image.constData(), size_t(image.size()));
    FWInfoHex info(&conv);
    info.setSearchStart(start);
    QCOMPARE(info.loadInfo(), result);
    QStringList lines{"stale"};
    if (result == 0 || result == -3) {
        QCOMPARE(info.infoLines(lines), result ? -1 : 0);
        QCOMPARE(lines.join('|'), text);
    }
}

QTEST_GUILESS_MAIN(TestImage)
#include "tst_image.moc"
