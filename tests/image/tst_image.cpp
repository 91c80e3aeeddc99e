// Image files: each reader as one table of files written by srec_cat and of
// hand-made lines (every message of theirs a row), the S-record writer read
// back by srec_cat, the extent scan, and the firmware information chain.

#include "FWInfoHex.h"
#include "HexConvIHex.h"
#include "HexConvSRec.h"
#include "ImageFile.h"

#include <QDir>
#include <QProcess>
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

QByteArray le32(quint32 n)
{
    const char b[] = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    return QByteArray(b, 4);
}

bool writeFile(const QString &sPath, const QByteArray &content)
{
    QFile f(sPath);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QByteArray readFile(const QString &sPath)
{
    QFile f(sPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool srecCat(const QStringList &args)
{
    QProcess proc;
    proc.start("srec_cat", args);
    return proc.waitForFinished(60000) && proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0;
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

// Memory holding mem at nAt and nothing else; counts reads, so a walk that
// never ends fails the test instead of hanging it.
struct BoundedInfo : FWInfo
{
    QByteArray mem;
    quint32 nAt = 0;
    int nReads = 0;
    int readBytes(quint32 nAddress, quint32 nLength, quint8 *pDest) override
    {
        if (++nReads > 100 || nAddress < nAt || quint64(nAddress) + nLength > nAt + quint64(mem.size()))
            return -1;
        std::memcpy(pDest, mem.constData() + (nAddress - nAt), nLength);
        return 0;
    }
};

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
    void srecHeaderAndStart();
    void save_data();
    void save();
    void saveFailures();
    void scan_data();
    void scan();
    void fwInfo_data();
    void fwInfo();
    void fwInfoFromSrecCat();
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
    QStringList args;
    for (const auto &[nAddress, nLength] : segments) {
        const QByteArray data = noise(nLength, nAddress);
        const QString sBin = path(QString("seg%1.bin").arg(args.size()));
        writeFile(sBin, data);
        pWindow->replace(int(nAddress - nBase), nLength, data);
        args << sBin << "-binary"
             << "-offset" << QString::number(nAddress);
    }
    if (!srecCat(args << "-o" << path("tool.txt") << options))
        return "srec_cat failed";
    return readFile(path("tool.txt"));
}

void TestImage::fileType_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("type");
    QTest::newRow("srec") << QByteArray("S00600004844521B\n") << int(HexConv::FileTypeSRecord);
    QTest::newRow("srec lower hex") << QByteArray("S1a3") << int(HexConv::FileTypeSRecord);
    QTest::newRow("ihex") << QByteArray(":10000000") << int(HexConv::FileTypeIntelHex);
    QTest::newRow("ihex lower, any fourth") << QByteArray(":ffZ") << int(HexConv::FileTypeIntelHex);
    QTest::newRow("three bytes") << QByteArray(":10") << int(HexConv::FileTypeUnknown);
    QTest::newRow("srec letter type") << QByteArray("SX030000") << int(HexConv::FileTypeUnknown);
    QTest::newRow("srec bad count") << QByteArray("S1G30000") << int(HexConv::FileTypeUnknown);
    QTest::newRow("ihex bad digit") << QByteArray(":1G000000") << int(HexConv::FileTypeUnknown);
    QTest::newRow("text") << QByteArray("hello world") << int(HexConv::FileTypeUnknown);
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

void TestImage::addReadColumns()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<quint32>("base");
    QTest::addColumn<QByteArray>("expected"); // the 64 KiB window after the load
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("warnings");
}

void TestImage::readIntelHex_data()
{
    addReadColumns();
    const QByteArray eof = ihex(1, 0, "");
    const QString noEnd = "hex2bin warning: no end-of-file record; the image may be incomplete\n";
    const QString dropped = "hex2bin warning: 1 data record(s) outside the address window 0x0-0xffff were dropped\n";
    QByteArray w;
    QTest::newRow("srec_cat 16") << toolFile({"-intel", "-obs=16"}, 0, {{0, 300}, {0x1000, 77}}, &w) << 0u << w << ""
                                 << "";
    QTest::newRow("srec_cat 32 linear") << toolFile({"-intel", "-obs=32"}, 0x1F000, {{0x1FFF0, 64}, {0x2A000, 999}}, &w)
                                        << 0x1F000u << w << ""
                                        << "";
    QTest::newRow("srec_cat 255 window ends")
        << toolFile({"-intel", "-obs=255"}, 0x300000, {{0x300000, 766}, {0x30FFFF - 999, 1000}}, &w) << 0x300000u << w
        << ""
        << "";
    const QByteArray ab = window({{0x10, "ab"}});
    QTest::newRow("lower case, crlf, no last lf")
        << ihex(0, 0x10, "ab").toLower().replace("\n", "\r\n") + eof.trimmed() << 0u << ab << ""
        << "";
    QTest::newRow("after end record ignored")
        << ihex(0, 0x10, "ab") + eof + "garbage\n" + ihex(0, 0x40, "x") << 0u << ab << ""
        << "";
    QTest::newRow("start records ignored")
        << ihex(3, 0, "abcd") + ihex(5, 0, "abcd") + ihex(0, 0x10, "ab") + eof << 0u << ab << ""
        << "";
    QTest::newRow("empty record, long line")
        << ihex(0, 0, "") + ihex(0, 0x10, "ab").trimmed() + QByteArray(1500, ' ') + "\n" + eof << 0u << ab << ""
        << "";
    QTest::newRow("last byte at the end") << ihex(0, 0xFFFC, "abcd") + eof << 0u << window({{0xFFFC, "abcd"}}) << ""
                                          << "";
    QTest::newRow("straddles the end") << ihex(0, 0xFFFC, "abcdefgh") + ihex(0, 0x10, "ab") + eof << 0u << ab << ""
                                       << dropped;
    QTest::newRow("outside the window") << ihex(4, 0, QByteArray("\x00\x01", 2)) + ihex(0, 0, "ab") + eof << 0u
                                        << window({}) << "" << dropped;
    QTest::newRow("no end record") << ihex(0, 0x10, "ab") << 0u << ab << "" << noEnd;
    QTest::newRow("control character ends") << ihex(0, 0x10, "ab") + "\x1A" << 0u << ab << "" << noEnd;
    QTest::newRow("blank line ends")
        << ihex(0, 0x10, "ab") + "\n" + ihex(0, 0x40, "x") + eof << 0u << ab << ""
        << "hex2bin warning: reading stopped at a blank line; the text after it was ignored\n" + noEnd;

    // A bad line between two good records: the first one's data stay.
    const auto bad = [&](const QByteArray &line) { return ihex(0, 0x10, "ab") + line + ihex(0, 0x40, "x") + eof; };
    QByteArray badSum = ihex(0, 0x20, "abcd");
    badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
    const QString sFormat = "hex2bin error: bad record format\n";
    const QString sShort = "hex2bin error: record length too short\n";
    QTest::newRow("no colon") << bad(" :00000001FF\n") << 0u << ab << sFormat << "";
    QTest::newRow("not a digit") << bad(":0400100001G20304E2\n") << 0u << ab << sFormat << "";
    QTest::newRow("endless line") << bad(":00" + QByteArray(17 << 20, '0') + "\n") << 0u << ab << sFormat << "";
    QTest::newRow("very short") << bad(":0000\n") << 0u << ab << sShort << "";
    QTest::newRow("count beyond line") << bad(":10000000010203FF\n") << 0u << ab << sShort << "";
    QTest::newRow("checksum") << bad(badSum) << 0u << ab << "hex2bin error: crc checksum error\n"
                              << "";
    QTest::newRow("type 6") << bad(ihex(6, 0, "")) << 0u << ab << "hex2bin error: unknown record type 6\n"
                            << "";
    QTest::newRow("segment address") << bad(ihex(2, 0, QByteArray("\x10\x00", 2))) << 0u << ab
                                     << "hex2bin error: extended segment address record not supported\n"
                                     << "";
}

void TestImage::readSRecord_data()
{
    addReadColumns();
    const QByteArray end = srec('9', 0, "");
    const QString noEnd = "srec2bin warning: no termination or record count record; the image may be incomplete\n";
    const QString dropped = "srec2bin warning: 1 data record(s) outside the address window 0x0-0xffff were dropped\n";
    QByteArray w;
    QTest::newRow("srec_cat S1 16") << toolFile({"-motorola", "-address-length=2", "-obs=16"}, 0,
                                                {{0x100, 500}, {0xFF00, 256}}, &w)
                                    << 0u << w << ""
                                    << "";
    QTest::newRow("srec_cat S2 32") << toolFile({"-motorola", "-address-length=3", "-obs=32"}, 0x7F0000,
                                                {{0x7F0000, 100}, {0x7FFF00, 256}}, &w)
                                    << 0x7F0000u << w << ""
                                    << "";
    QTest::newRow("srec_cat S3 250 top of space") << toolFile({"-motorola", "-address-length=4", "-obs=250"},
                                                              0xFFFF0000, {{0xFFFF0000, 2000}, {0xFFFFFDA8, 600}}, &w)
                                                  << 0xFFFF0000u << w << ""
                                                  << "";
    const QByteArray ab = window({{0x10, "ab"}});
    QTest::newRow("header only") << QByteArray("S0030000FC\n") << 0u << window({}) << "" << noEnd;
    QTest::newRow("S2, S3, S5, S7") << srec('2', 0x10, "a") + srec('3', 0x11, "b") + srec('5', 2, "") + srec('7', 0, "")
                                    << 0u << ab << ""
                                    << "";
    QTest::newRow("count record ends") << srec('1', 0x10, "ab") + srec('5', 1, "") << 0u << ab << ""
                                       << "";
    QTest::newRow("count record disagrees")
        << srec('1', 0x10, "a") + srec('5', 2, "") + srec('1', 0x11, "b") + end << 0u << ab << ""
        << "srec2bin warning: the record count record says 2 data records, but 1 were read before it\n";
    QTest::newRow("data after termination") << srec('1', 0x10, "a") + end + srec('1', 0x11, "b") << 0u << ab << ""
                                            << "";
    QTest::newRow("lower case, crlf")
        << QByteArray(srec('1', 0x10, "ab").toLower().replace("s1", "S1") + end).replace("\n", "\r\n") << 0u << ab << ""
        << "";
    QTest::newRow("empty record, longest record") << srec('1', 0, "") + srec('1', 0x100, QByteArray(252, 'z')) + end
                                                  << 0u << window({{0x100, QByteArray(252, 'z')}}) << ""
                                                  << "";
    QTest::newRow("outside the window") << srec('2', 0x10000, "ab") + end << 0u << window({}) << "" << dropped;
    QTest::newRow("straddles the end") << srec('1', 0xFFFE, "abc") + srec('1', 0x10, "ab") + end << 0u << ab << ""
                                       << dropped;
    QTest::newRow("blank line ends")
        << srec('1', 0x10, "ab") + "\n" + srec('1', 0x30, "c") + end << 0u << ab << ""
        << "srec2bin warning: reading stopped at a blank line; the text after it was ignored\n" + noEnd;

    const auto bad = [&](const QByteArray &line) { return srec('1', 0x10, "ab") + line + srec('1', 0x40, "x") + end; };
    QByteArray badSum = srec('1', 0x20, "abc");
    badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
    const QString sFormat = "srec2bin error: bad record format\n";
    const QString sShort = "srec2bin error: record length too short\n";
    QTest::newRow("no S") << bad("s1030000FC\n") << 0u << ab << sFormat << "";
    QTest::newRow("not a digit") << bad("S1060010010G03E2\n") << 0u << ab << sFormat << "";
    QTest::newRow("endless line") << bad("S1" + QByteArray(17 << 20, '0') + "\n") << 0u << ab << sFormat << "";
    QTest::newRow("very short") << bad("S1030\n") << 0u << ab << sShort << "";
    QTest::newRow("count beyond line") << bad("S11300100102FF\n") << 0u << ab << sShort << "";
    QTest::newRow("no room for address") << bad("S30200FD\n") << 0u << ab << sShort << "";
    QTest::newRow("S4") << bad("S4030000FC\n") << 0u << ab << "srec2bin error: unknown record type S4"
                        << "";
    QTest::newRow("letter") << bad("SX030000FC\n") << 0u << ab << "srec2bin error: unknown record type SX"
                            << "";
    QTest::newRow("checksum") << bad(badSum) << 0u << ab << "srec2bin error: checksum error\n"
                              << "";
    QTest::newRow("count zero") << bad("S1000000\n") << 0u << ab << "srec2bin error: checksum error\n"
                                << "";
}

// The converter's window, used range, message and warnings; the first pass
// (scan) fails the same way.
void TestImage::checkRead(HexConv::FileType eType)
{
    QFETCH(QByteArray, content);
    QFETCH(quint32, base);
    QFETCH(QByteArray, expected);
    QFETCH(QString, error);
    QFETCH(QString, warnings);
    const QString sFile = path("read.txt");
    QVERIFY(writeFile(sFile, content));
    std::unique_ptr<HexConv> pConv = HexConv::create(eType, base, base + kWindow - 1);
    QCOMPARE(pConv->load(sFile), error.isEmpty() ? 0 : -1);
    QCOMPARE(pConv->errorText(), error);
    QCOMPARE(pConv->warnings().join(QString()), warnings);
    QVERIFY(std::memcmp(pConv->constBuffer(), expected.constData(), kWindow) == 0);
    qsizetype nFirst = 0;
    while (nFirst < kWindow && quint8(expected[nFirst]) == 0xFF)
        ++nFirst;
    qsizetype nLast = kWindow - 1;
    while (nLast >= 0 && quint8(expected[nLast]) == 0xFF)
        --nLast;
    QCOMPARE(pConv->hasData(), nFirst < kWindow);
    if (pConv->hasData()) {
        QCOMPARE(pConv->lowestAddress(), base + quint32(nFirst));
        QCOMPARE(pConv->highestAddress(), base + quint32(nLast));
    }
    ImageFile image(sFile);
    QCOMPARE(int(image.type()), int(eType));
    QCOMPARE(image.scan(), error.isEmpty());
    QCOMPARE(image.errorText(), error);
}

void TestImage::srecHeaderAndStart()
{
    QVERIFY(writeFile(path("header.srec"), srec('0', 0, "first") + srec('0', 0, QByteArray("second\0tail", 11))
                                               + srec('0', 0, "") + srec('1', 0, "x") + srec('8', 0x123456, "")));
    HexConvSRec conv(0, 0xFF);
    QCOMPARE(conv.load(path("header.srec")), 0);
    QCOMPARE(QByteArray(conv.headerText()), QByteArray("second"));
    QCOMPARE(conv.startAddress(), 0x123456u);
}

void TestImage::save_data()
{
    QTest::addColumn<quint32>("base");
    QTest::addColumn<quint32>("end");
    QTest::addColumn<QByteArray>("data"); // at the used range's start; empty: noise over the whole window
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("tail");
    QByteArray twenty;
    for (int i = 0; i < 20; ++i)
        twenty += char(i);
    QTest::newRow("twenty bytes") << 0x100u << 0x113u << twenty
                                  << QByteArray("S0030000FC\nS1130100000102030405060708090A0B0C0D0E0F73\n"
                                                "S107011010111213A1\nS9030100FB\n")
                                  << QByteArray();
    QTest::newRow("S1 up to 0xFFFF") << 0xFFF0u << 0xFFFFu << QByteArray() << QByteArray("S0030000FC\nS113FFF0")
                                     << QByteArray("S903FFF00D\n");
    QTest::newRow("S2 from 0x10000") << 0xFFF0u << 0x10000u << QByteArray() << QByteArray("S0030000FC\nS21400FFF0")
                                     << QByteArray("S80400FFF00C\n");
    QTest::newRow("S2 64 KiB") << 0x300000u << 0x30FFFFu << QByteArray() << QByteArray("S0030000FC\nS214300000")
                               << QByteArray();
    QTest::newRow("S2 top") << 0xFFFFF0u << 0xFFFFFFu << QByteArray() << QByteArray("S0030000FC\nS214FFFFF0")
                            << QByteArray("S804FFFFF00D\n");
    QTest::newRow("S3") << 0xFFFFF0u << 0x1000000u << QByteArray() << QByteArray("S0030000FC\nS31500FFFFF0")
                        << QByteArray("S70500FFFFF00C\n");
    QTest::newRow("S3 top of space") << 0xFFFFFFF0u << 0xFFFFFFFFu << QByteArray()
                                     << QByteArray("S0030000FC\nS315FFFFFFF0") << QByteArray("S705FFFFFFF00D\n");
    QTest::newRow("odd size") << 0x1234u << 0x161Cu << QByteArray() << QByteArray("S0030000FC\nS1131234")
                              << QByteArray("S9031234B6\n");
    QTest::newRow("used range") << 0u << 0x7FFFFFu << QByteArray("hello") << QByteArray() << QByteArray();
    QTest::newRow("nothing used") << 0u << 0xFFu << QByteArray() << QByteArray("S0030000FC\nS9030000FC\n")
                                  << QByteArray();
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
    QByteArray expected = bWhole && data.isEmpty() ? noise(int(end - base + 1), end) : data;
    const quint32 nFirst = bWhole ? base : 0x20000;
    std::memcpy(conv.buffer() + (nFirst - base), expected.constData(), size_t(expected.size()));
    conv.rescan(0xFF);
    const QString sFile = path("saved.srec");
    QCOMPARE(conv.save(sFile, bWhole), 0);
    const QByteArray text = readFile(sFile);
    QVERIFY2(text.startsWith(head) && text.endsWith(tail), text.left(80));
    const QString sBin = path("saved.bin");
    QVERIFY(srecCat({sFile, "-motorola", "-offset", QString("-%1").arg(nFirst), "-o", sBin, "-binary"}));
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
    QTest::addColumn<QString>("extent"); // lowest-highest, skipped
    QTest::addColumn<QString>("count");  // bytes inside/below/above 0x11..0x21
    QTest::newRow("ihex top of space") << ihex(4, 0, "\xFF\xFF") + ihex(0, 0xFFF0, QByteArray(16, 'a')) + ihex(1, 0, "")
                                       << "fffffff0-ffffffff, 0"
                                       << "0/0/16";
    QTest::newRow("ihex wraps past top") << ihex(4, 0, "\xFF\xFF") + ihex(0, 0xFFF8, QByteArray(16, 'a'))
                                                + ihex(0, 0x10, "b") + ihex(1, 0, "")
                                         << "ffff0010-ffff0010, 1"
                                         << "0/0/17";
    QTest::newRow("srec range ends") << srec('1', 0x10, "ab") + srec('1', 0x20, "cd") + srec('1', 0x21, "ef")
                                     << "10-22, 0"
                                     << "2/2/2";
    QTest::newRow("srec spread") << srec('3', 0x80000000, "ab") + srec('1', 0x10, "c") + srec('7', 0, "")
                                 << "10-80000001, 0"
                                 << "0/1/2";
    QTest::newRow("no data") << QByteArray("S0030000FC\n") << ""
                             << "0/0/0";
}

// The first pass: where a file's data lie, and a window made from that.
void TestImage::scan()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, extent);
    QFETCH(QString, count);
    QVERIFY(writeFile(path("extent.txt"), content));
    ImageFile image(path("extent.txt"));
    QVERIFY(image.scan(0x11, 0x21));
    const HexConv::Extent ext = image.extent();
    QCOMPARE(ext.bHasData ? QString("%1-%2, %3").arg(ext.nLowest, 0, 16).arg(ext.nHighest, 0, 16).arg(ext.nSkipped)
                          : QString(),
             extent);
    const HexConv::DataCount &n = image.count();
    QCOMPARE(QString("%1/%2/%3").arg(n.nInside).arg(n.nBelow).arg(n.nAbove), count);
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
}

void TestImage::fwInfo_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text"); // the five lines joined by '|'
    const QByteArray info = infoPayload(kTexts);
    const QString sInfo = kTexts.join('|');
    const quint32 s = 0x300000;
    QTest::newRow("info first") << s << chain({{104, 0x400, info}}) << 0 << sInfo;
    QTest::newRow("type bits outside mask") << s << chain({{104, 0xF400, info}}) << 0 << sInfo;
    QTest::newRow("longer block") << s << chain({{300, 0x10400, info}}) << 0 << sInfo;
    QTest::newRow("after other blocks")
        << s << chain({{0x20, 0x100, {}}, {4, 0x401, {}}, {0x1000, 0x200, {}}, {104, 0x400, info}}) << 0 << sInfo;
    QTest::newRow("0x401 and short skipped")
        << s << chain({{104, 0x401, infoPayload({"wrong"})}, {100, 0x400, infoPayload({"short"})}, {104, 0x400, info}})
        << 0 << sInfo;
    QTest::newRow("0x800 is outside") << s << chain({{104, 0x800, info}}) + QByteArray(16, '\xFF') << -1 << "";
    QTest::newRow("runs into erased flash") << s << chain({{0x20, 0x100, {}}}) + QByteArray(16, '\xFF') << -1 << "";
    QTest::newRow("length zero") << s << chain({{0, 0x100, {}}}) << -1 << "";
    QTest::newRow("type zero") << s << chain({{16, 0, {}}}) << -1 << "";
    QTest::newRow("leaves the image") << s << chain({{0x20000, 0x100, {}}}) << -1 << "";
    QTest::newRow("payload leaves the image")
        << s << chain({{16, 0x100, {}}}) + le32(104) + le32(0x400) + info.left(50) << -2 << "";
    QTest::newRow("back to itself") << 0x1000u << le32(0xFFFFFFF8) + le32(0x100) << -1 << "";
    QTest::newRow("back before itself") << 0x1000u << le32(0xFFFFF000) + le32(0x100) << -1 << "";
    QTest::newRow("past the top") << 0xFFFFFF00u << le32(0xF8) + le32(0x100) << -1 << "";
    QTest::newRow("payload past the top") << 0xFFFFFFF8u << le32(104) + le32(0x400) << -2 << "";
    QByteArray bad = info;
    bad[20] = char(0x80);
    QTest::newRow("byte 0x80") << s << chain({{104, 0x400, bad}}) << -3 << "";
    bad = info;
    bad[16 + 14] = '\x01'; // behind the terminating zero of field 2
    QTest::newRow("control after zero") << s << chain({{104, 0x400, bad}}) << -3 << "";
    bad = info;
    bad[48 + 39] = '\x07'; // the last byte of field 4 becomes the terminator
    QTest::newRow("last byte replaced") << s << chain({{104, 0x400, bad}}) << 0 << sInfo;
    QTest::newRow("full fields truncated")
        << s << chain({{104, 0x400, infoPayload({"AAAAAAAAAAAAAAAA", "BBBBBBBBBBBBBBBB", "", QByteArray(40, 'D')})}})
        << 0 << QString("AAAAAAAAAAAAAAA|BBBBBBBBBBBBBBB||%1|").arg(QString(39, 'D'));
}

void TestImage::fwInfo()
{
    QFETCH(quint32, start);
    QFETCH(QByteArray, image);
    QFETCH(int, result);
    QFETCH(QString, text);
    BoundedInfo info;
    info.mem = image;
    info.nAt = start;
    QCOMPARE(info.searchStart(), FWInfo::kDefaultSearchStart);
    info.setSearchStart(start);
    QCOMPARE(info.loadInfo(), result);
    QVERIFY2(info.nReads < 10, "the walk does not end");
    QStringList lines{"stale"};
    if (result == 0 || result == -3) {
        QCOMPARE(info.infoLines(lines), result ? -1 : 0);
        QCOMPARE(lines.join('|'), text);
    }
}

// From a file through the converter, as the window and the headless tool
// look at it; the chain starts at the lowest used address.
void TestImage::fwInfoFromSrecCat()
{
    const QByteArray image =
        chain({{0x200, 0x100, {}}, {0x40, 0x201, {}}, {128, 0x2400, infoPayload(kTexts)}, {0x100, 0x300, {}}});
    QVERIFY(writeFile(path("fw.bin"), image));
    QVERIFY(srecCat({path("fw.bin"), "-binary", "-offset", "0x300000", "-o", path("fw.srec"), "-motorola"}));
    ImageFile file(path("fw.srec"));
    QVERIFY(file.load(HexConv::kExamineBase, HexConv::kExamineEnd));
    FWInfoHex info(file.converter());
    info.setSearchStart(file.converter()->lowestAddress());
    QCOMPARE(info.loadInfo(), 0);
    QCOMPARE(info.infoAddress(), 0x300000u + 8 + 0x200 + 8 + 0x40);
    QCOMPARE(FWInfoHex::linesOf(file.converter()).join('|'), kTexts.join('|'));
    quint8 buf[16];
    QCOMPARE(info.readBytes(HexConv::kExamineEnd - 15, 16, buf), 0);
    QCOMPARE(info.readBytes(HexConv::kExamineEnd - 14, 16, buf), -1);
    QCOMPARE(info.readBytes(0xFFFFFFF8, 16, buf), -1);
}

QTEST_GUILESS_MAIN(TestImage)
#include "tst_image.moc"
