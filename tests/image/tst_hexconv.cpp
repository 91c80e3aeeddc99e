// Image converters against files written by other tools (srec_cat, objcopy),
// their diagnostics, and S-record writing read back by srec_cat.

#include "HexConv.h"
#include "HexConvIHex.h"
#include "HexConvSRec.h"
#include "ImageFile.h"
#include "ImageTestUtil.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

using namespace imagetest;

struct Segment
{
    quint32 nAddress;
    int nLength;
};
Q_DECLARE_METATYPE(QList<Segment>)

class TestHexConv : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &sName) const { return m_dir.filePath(sName); }
    QByteArray randomBytes(int n)
    {
        QByteArray b(n, 0);
        QRandomGenerator rng(quint32(n) * 7919u + 13u);
        for (int i = 0; i < n; ++i)
            b[i] = char(rng.generate());
        return b;
    }
    void checkReadError(bool bSRec);
    void checkBehaviour(bool bSRec);

private slots:
    void initTestCase();

    void fileType_data();
    void fileType();

    void readsToolOutput_data();
    void readsToolOutput();
    void objcopySegmentRecordsRejected();

    void ihexErrors_data();
    void ihexErrors() { checkReadError(false); }
    void srecErrors_data();
    void srecErrors() { checkReadError(true); }

    void ihexBehaviour_data();
    void ihexBehaviour() { checkBehaviour(false); }
    void srecBehaviour_data();
    void srecBehaviour() { checkBehaviour(true); }
    void srecHeaderAndStart();

    void saveRecordTypes_data();
    void saveRecordTypes();
    void saveTwentyBytes();
    void saveRoundTripThroughSrecCat_data();
    void saveRoundTripThroughSrecCat();
    void saveUsedRange();
    void saveFailureKeepsTarget();
    void saveRefusesDirectory();
    void readsOnlyRegularFiles();

    void rescan();
    void windowAllocation();
    void scanExtent_data();
    void scanExtent();
};

void TestHexConv::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!haveTool("srec_cat") || !haveTool("objcopy"))
        QSKIP("srec_cat (srecord) and objcopy (binutils) are needed to write the reference files");
}

void TestHexConv::fileType_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("type");
    QTest::newRow("srec") << QByteArray("S00600004844521B\n") << int(HexConv::FileTypeSRecord);
    QTest::newRow("srec lower hex") << QByteArray("S1a3") << int(HexConv::FileTypeSRecord);
    QTest::newRow("ihex") << QByteArray(":10000000") << int(HexConv::FileTypeIntelHex);
    QTest::newRow("ihex lower") << QByteArray(":ffZ") << int(HexConv::FileTypeIntelHex);
    QTest::newRow("ihex three bytes") << QByteArray(":10") << int(HexConv::FileTypeUnknown);
    QTest::newRow("srec letter type") << QByteArray("SX030000") << int(HexConv::FileTypeUnknown);
    QTest::newRow("srec bad count") << QByteArray("S1G30000") << int(HexConv::FileTypeUnknown);
    QTest::newRow("ihex bad digit") << QByteArray(":1G000000") << int(HexConv::FileTypeUnknown);
    QTest::newRow("text") << QByteArray("hello world") << int(HexConv::FileTypeUnknown);
    QTest::newRow("empty") << QByteArray() << int(HexConv::FileTypeUnknown);
    QTest::newRow("suffix decides nothing") << QByteArray(":00000001FF\n") << int(HexConv::FileTypeIntelHex);
}

void TestHexConv::fileType()
{
    QFETCH(QByteArray, content);
    QFETCH(int, type);
    const QString sFile = path(QString("type-%1.srec").arg(QTest::currentDataTag()).replace(' ', '_'));
    QVERIFY(writeFile(sFile, content));
    ImageFile image(sFile);
    QCOMPARE(int(image.type()), type);
    QCOMPARE(int(image.status()), type == HexConv::FileTypeUnknown ? int(ImageFile::UnknownType) : int(ImageFile::Ok));
    ImageFile missing(path("does-not-exist"));
    QCOMPARE(int(missing.type()), int(HexConv::FileTypeUnknown));
    QCOMPARE(int(missing.status()), int(ImageFile::NotRegular));
    QVERIFY(!missing.scan());
    if (type == HexConv::FileTypeUnknown)
        QVERIFY(!image.scan() && !image.load(0, 0xFF));
}

void TestHexConv::readsToolOutput_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<Segment>>("segments");
    QTest::addColumn<quint32>("base");
    QTest::addColumn<quint32>("end");
    QTest::addColumn<int>("type");

    const int ih = HexConv::FileTypeIntelHex;
    const int sr = HexConv::FileTypeSRecord;
    const quint32 e8 = 0x7FFFFF;
    QTest::newRow("srec_cat ihex 16") << "srec_cat" << QStringList{"-intel", "-obs=16"}
                                      << QList<Segment>{{0, 300}, {0x1000, 77}} << 0u << e8 << ih;
    QTest::newRow("srec_cat ihex 32 linear address") << "srec_cat" << QStringList{"-intel", "-obs=32"}
                                                     << QList<Segment>{{0xFFF0, 64}, {0x23456, 1000}} << 0u << e8 << ih;
    QTest::newRow("srec_cat ihex 255 both window ends") << "srec_cat" << QStringList{"-intel", "-obs=255"}
                                                        << QList<Segment>{{0, 766}, {e8 - 999, 1000}} << 0u << e8 << ih;
    QTest::newRow("srec_cat ihex window off zero")
        << "srec_cat" << QStringList{"-intel", "-obs=32"} << QList<Segment>{{0x300000, 4096}, {0x30FF00, 256}}
        << 0x300000u << 0x30FFFFu << ih;
    QTest::newRow("srec_cat S1 16") << "srec_cat" << QStringList{"-motorola", "-address-length=2", "-obs=16"}
                                    << QList<Segment>{{0x100, 500}, {0xFF00, 256}} << 0u << e8 << sr;
    QTest::newRow("srec_cat S2 32") << "srec_cat" << QStringList{"-motorola", "-address-length=3", "-obs=32"}
                                    << QList<Segment>{{0xFFF8, 100}, {0x7FFF00, 256}} << 0u << e8 << sr;
    QTest::newRow("srec_cat S3 250 long lines both ends")
        << "srec_cat" << QStringList{"-motorola", "-address-length=4", "-obs=250"}
        << QList<Segment>{{0, 2000}, {e8 - 599, 600}} << 0u << e8 << sr;
    QTest::newRow("srec_cat S3 high window")
        << "srec_cat" << QStringList{"-motorola", "-address-length=4", "-obs=32"}
        << QList<Segment>{{0xF0000000, 10}, {0xF000FFF0, 16}} << 0xF0000000u << 0xF000FFFFu << sr;
    QTest::newRow("objcopy srec") << "objcopy" << QStringList{"srec", "--srec-len=64"} << QList<Segment>{{0x1234, 3000}}
                                  << 0u << e8 << sr;
    QTest::newRow("objcopy srec S3") << "objcopy" << QStringList{"srec", "--srec-forceS3"}
                                     << QList<Segment>{{0x10000, 700}} << 0u << e8 << sr;
    QTest::newRow("objcopy ihex linear") << "objcopy" << QStringList{"ihex"} << QList<Segment>{{0x200000, 5000}} << 0u
                                         << e8 << ih;
}

void TestHexConv::readsToolOutput()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, options);
    QFETCH(QList<Segment>, segments);
    QFETCH(quint32, base);
    QFETCH(quint32, end);
    QFETCH(int, type);

    const QString sOut = path("tool-output.txt");
    QFile::remove(sOut);
    QByteArray expected(qsizetype(end - base) + 1, char(0xFF));
    QStringList args;
    int nSeg = 0;
    for (const Segment &seg : segments) {
        const QByteArray data = randomBytes(seg.nLength + nSeg);
        const QByteArray piece = data.left(seg.nLength);
        const QString sBin = path(QString("seg%1.bin").arg(nSeg++));
        QVERIFY(writeFile(sBin, piece));
        std::memcpy(expected.data() + (seg.nAddress - base), piece.constData(), size_t(piece.size()));
        args << sBin << "-binary"
             << "-offset" << QString("0x%1").arg(seg.nAddress, 0, 16);
    }
    QByteArray err;
    if (tool == "srec_cat") {
        args << "-o" << sOut << options;
        QCOMPARE(runTool("srec_cat", args, &err), 0);
    } else {
        QCOMPARE(segments.size(), 1);
        QStringList oargs{"-I",
                          "binary",
                          "-O",
                          options.first(),
                          "--change-addresses",
                          QString("0x%1").arg(segments.first().nAddress, 0, 16)};
        oargs << options.mid(1) << path("seg0.bin") << sOut;
        QCOMPARE(runTool("objcopy", oargs, &err), 0);
    }
    ImageFile image(sOut);
    QCOMPARE(int(image.type()), type);
    QVERIFY(image.load(base, end));
    QCOMPARE(image.warnings(), QStringList());
    const HexConv *pConv = image.converter();
    QVERIFY(pConv->hasData());
    quint32 nLow = 0xFFFFFFFF, nHigh = 0;
    for (const Segment &seg : segments) {
        nLow = qMin(nLow, seg.nAddress);
        nHigh = qMax(nHigh, seg.nAddress + quint32(seg.nLength) - 1);
    }
    QCOMPARE(pConv->lowestAddress(), nLow);
    QCOMPARE(pConv->highestAddress(), nHigh);
    QVERIFY(std::memcmp(pConv->constBuffer(), expected.constData(), size_t(expected.size())) == 0);

    // The first pass finds the same range without a window.
    ImageFile scanned(sOut);
    QVERIFY(scanned.scan());
    QVERIFY(scanned.extent().bHasData);
    QCOMPARE(scanned.extent().nLowest, nLow);
    QCOMPARE(scanned.extent().nHighest, nHigh);
}

void TestHexConv::objcopySegmentRecordsRejected()
{
    // objcopy addresses the first megabyte with extended segment records,
    // which this reader refuses.
    const QString sBin = path("seg.bin");
    const QString sHex = path("segment.hex");
    QVERIFY(writeFile(sBin, randomBytes(300)));
    QCOMPARE(runTool("objcopy", {"-I", "binary", "-O", "ihex", "--change-addresses", "0x1FF00", sBin, sHex}), 0);
    HexConvIHex conv;
    QCOMPARE(conv.load(sHex), -1);
    QCOMPARE(conv.errorText(), QStringLiteral("hex2bin error: extended segment address record not supported\n"));
}

void TestHexConv::ihexErrors_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("message");
    const QByteArray good = ihex(0, 0x10, "\x01\x02\x03\x04");
    QByteArray badSum = good;
    badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
    QTest::newRow("no colon") << QByteArray("X0000000000\n") << QByteArray("hex2bin error: bad record format\n");
    QTest::newRow("space first") << QByteArray(" :00000001FF\n") << QByteArray("hex2bin error: bad record format\n");
    QTest::newRow("very short") << QByteArray(":0000\n") << QByteArray("hex2bin error: record length too short\n");
    QTest::newRow("count beyond line") << QByteArray(":10000000010203FF\n")
                                       << QByteArray("hex2bin error: record length too short\n");
    QTest::newRow("one digit missing") << QByteArray(":00000001F\n")
                                       << QByteArray("hex2bin error: record length too short\n");
    QTest::newRow("checksum") << badSum << QByteArray("hex2bin error: crc checksum error\n");
    QTest::newRow("type 6") << ihex(6, 0, "") << QByteArray("hex2bin error: unknown record type 6\n");
    QTest::newRow("type 0x10") << ihex(0x10, 0, "\x01") << QByteArray("hex2bin error: unknown record type 16\n");
    QTest::newRow("segment address") << ihex(2, 0, QByteArray("\x10\x00", 2))
                                     << QByteArray("hex2bin error: extended segment address record not supported\n");
    QTest::newRow("not a digit") << QByteArray(":0400100001G20304E2\n")
                                 << QByteArray("hex2bin error: bad record format\n");
    QTest::newRow("count not a digit") << QByteArray(":Z400100001020304E2\n")
                                       << QByteArray("hex2bin error: bad record format\n");
    QTest::newRow("endless line") << ihex(0, 0x200, "x").trimmed() + QByteArray(17 << 20, ' ') + "\n"
                                  << QByteArray("hex2bin error: bad record format\n");
}

// A good record first: its data stay in the buffer although the load fails;
// the first pass fails the same way. The message is data: nothing is printed.
void TestHexConv::checkReadError(bool bSRec)
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, message);
    const QString sFile = path("err.txt");
    QVERIFY(writeFile(sFile, bSRec ? srec('1', 0x100, "\xAA\xBB") + line + srec('1', 0x200, "\xCC") + srec('9', 0, "")
                                   : ihex(0, 0x100, "\xAA\xBB") + line + ihex(0, 0x200, "\xCC") + ihex(1, 0, "")));
    std::unique_ptr<HexConv> pConv =
        HexConv::create(bSRec ? HexConv::FileTypeSRecord : HexConv::FileTypeIntelHex, 0, 0xFFFF);
    StderrCapture cap;
    QCOMPARE(pConv->load(sFile), -1);
    QCOMPARE(pConv->errorText().toLatin1(), message);
    QCOMPARE(pConv->buffer()[0x100], quint8(0xAA));
    QCOMPARE(pConv->buffer()[0x200], quint8(0xFF));
    QCOMPARE(pConv->lowestAddress(), 0x100u);
    QCOMPARE(pConv->highestAddress(), 0x101u);
    ImageFile image(sFile);
    QVERIFY(!image.scan());
    QCOMPARE(int(image.status()), int(ImageFile::Malformed));
    QCOMPARE(image.errorText().toLatin1(), message);
    QCOMPARE(cap.text(), QByteArray());
}

void TestHexConv::srecErrors_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("message");
    const QByteArray good = srec('1', 0x10, "\x01\x02\x03");
    QByteArray badSum = good;
    badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
    QTest::newRow("no S") << QByteArray("X1030000FC\n") << QByteArray("srec2bin error: bad record format\n");
    QTest::newRow("lower s") << QByteArray("s1030000FC\n") << QByteArray("srec2bin error: bad record format\n");
    QTest::newRow("very short") << QByteArray("S1030\n") << QByteArray("srec2bin error: record length too short\n");
    QTest::newRow("S4") << QByteArray("S4030000FC\n") << QByteArray("srec2bin error: unknown record type S4");
    QTest::newRow("S6") << QByteArray("S6030000FC\n") << QByteArray("srec2bin error: unknown record type S6");
    QTest::newRow("letter") << QByteArray("SX030000FC\n") << QByteArray("srec2bin error: unknown record type SX");
    QTest::newRow("count beyond line") << QByteArray("S11300100102FF\n")
                                       << QByteArray("srec2bin error: record length too short\n");
    QTest::newRow("checksum digit missing")
        << QByteArray("S1060010010203E\n") << QByteArray("srec2bin error: record length too short\n");
    QTest::newRow("checksum") << badSum << QByteArray("srec2bin error: checksum error\n");
    QTest::newRow("count zero") << QByteArray("S1000000\n") << QByteArray("srec2bin error: checksum error\n");
    QTest::newRow("no room for address") << QByteArray("S30200FD\n")
                                         << QByteArray("srec2bin error: record length too short\n");
    QTest::newRow("not a digit") << QByteArray("S1060010010G03E2\n")
                                 << QByteArray("srec2bin error: bad record format\n");
    QTest::newRow("endless line") << srec('1', 0x200, "x").trimmed() + QByteArray(17 << 20, ' ')
                                  << QByteArray("srec2bin error: bad record format\n");
}

// Files that load, with what they leave in a 64 KiB window and on stderr.
// "used" is "low-high" of the used range or "empty".
void TestHexConv::ihexBehaviour_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("used");
    QTest::addColumn<QByteArray>("warning");
    const QByteArray eof = ihex(1, 0, "");
    const QByteArray noEnd = "hex2bin warning: no end-of-file record; the image may be incomplete\n";
    const QByteArray blank = "hex2bin warning: reading stopped at a blank line; the text after it was ignored\n";
    const QByteArray dropped1 =
        "hex2bin warning: 1 data record(s) outside the address window 0x0-0xffff were dropped\n";

    QTest::newRow("plain") << ihex(0, 0x10, "abcd") + eof << "10-13" << QByteArray();
    QTest::newRow("lower case") << ihex(0, 0x10, "abcd").toLower() + eof << "10-13" << QByteArray();
    QTest::newRow("crlf") << QByteArray(ihex(0, 0x10, "ab")).replace("\n", "\r\n") + eof.trimmed() + "\r\n"
                          << "10-11" << QByteArray();
    QTest::newRow("last line without line feed") << ihex(0, 0x10, "ab") + eof.trimmed() << "10-11" << QByteArray();
    QTest::newRow("after end record ignored")
        << ihex(0, 0x10, "ab") + eof + "garbage\n" + ihex(0, 0x40, "x") << "10-11" << QByteArray();
    QTest::newRow("blank line ends") << ihex(0, 0x10, "ab") + "\n" + ihex(0, 0x40, "x") + eof << "10-11"
                                     << blank + noEnd;
    QTest::newRow("control character ends") << ihex(0, 0x10, "ab") + "\x1A"
                                            << "10-11" << noEnd;
    QTest::newRow("trailing blank lines") << ihex(0, 0x10, "ab") + eof + "\n\n"
                                          << "10-11" << QByteArray();
    QTest::newRow("no end record") << ihex(0, 0x10, "ab") << "10-11" << noEnd;
    QTest::newRow("outside window") << ihex(4, 0, QByteArray("\x00\x01", 2)) + ihex(0, 0, "ab") + eof << "empty"
                                    << dropped1;
    QTest::newRow("straddles end dropped whole")
        << ihex(0, 0xFFFC, "abcdefgh") + ihex(0, 0xFFF0, "x") + eof << "fff0-fff0" << dropped1;
    QTest::newRow("last byte at end") << ihex(0, 0xFFFC, "abcd") + eof << "fffc-ffff" << QByteArray();
    QTest::newRow("empty data record") << ihex(0, 0, "") + ihex(0, 0x20, "a") + eof << "20-20" << QByteArray();
    QTest::newRow("start records ignored")
        << ihex(3, 0, "abcd") + ihex(5, 0, "abcd") + ihex(0, 5, "a") + eof << "5-5" << QByteArray();
    QTest::newRow("line longer than 1023")
        << ihex(0, 0x10, "ab").trimmed() + QByteArray(1500, ' ') + "\n" + eof << "10-11" << QByteArray();
}

void TestHexConv::checkBehaviour(bool bSRec)
{
    QFETCH(QByteArray, content);
    QFETCH(QString, used);
    QFETCH(QByteArray, warning);
    const QString sFile = path("behaviour.txt");
    QVERIFY(writeFile(sFile, content));
    std::unique_ptr<HexConv> pConv =
        HexConv::create(bSRec ? HexConv::FileTypeSRecord : HexConv::FileTypeIntelHex, 0, 0xFFFF);
    QCOMPARE(pConv->load(sFile), 0);
    QCOMPARE(pConv->warnings().join(QString()).toLatin1(), warning);
    const QStringList range = used == "empty" ? QStringList{"ffff", "0"} : used.split('-');
    QCOMPARE(pConv->hasData(), used != "empty");
    QCOMPARE(pConv->lowestAddress(), range[0].toUInt(nullptr, 16));
    QCOMPARE(pConv->highestAddress(), range[1].toUInt(nullptr, 16));
    if (used == "10-13")
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(pConv->buffer()) + 0x10, 4), QByteArray("abcd"));
}

void TestHexConv::srecBehaviour_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("used");
    QTest::addColumn<QByteArray>("warning");
    const QByteArray end = srec('9', 0, "");
    const QByteArray noEnd = "srec2bin warning: no termination or record count record; the image may be incomplete\n";
    const QByteArray blank = "srec2bin warning: reading stopped at a blank line; the text after it was ignored\n";
    const QByteArray dropped1 =
        "srec2bin warning: 1 data record(s) outside the address window 0x0-0xffff were dropped\n";

    QTest::newRow("header only") << QByteArray("S0030000FC\n") << "empty" << noEnd;
    QTest::newRow("plain") << srec('1', 0x10, "abcd") + end << "10-13" << QByteArray();
    QTest::newRow("S2 and S3") << srec('2', 0x10, "ab") + srec('3', 0x20, "cd") + srec('7', 0, "") << "10-21"
                               << QByteArray();
    QTest::newRow("S5 ignored") << srec('1', 0x10, "ab") + srec('5', 1, "") + end << "10-11" << QByteArray();
    QTest::newRow("count record ends") << srec('1', 0x10, "ab") + srec('1', 0x12, "cd") + srec('5', 2, "") << "10-13"
                                       << QByteArray();
    QTest::newRow("count record disagrees")
        << srec('1', 0x10, "ab") + srec('5', 2, "") + srec('1', 0x12, "cd") + end << "10-13"
        << QByteArray("srec2bin warning: the record count record says 2 data records, but 1 were read before it\n");
    QTest::newRow("data after termination")
        << srec('1', 0x10, "ab") + end + srec('1', 0x30, "c") << "10-30" << QByteArray();
    QTest::newRow("blank line ends") << srec('1', 0x10, "ab") + "\n" + srec('1', 0x30, "c") + end << "10-11"
                                     << blank + noEnd;
    QTest::newRow("lower case") << srec('1', 0x10, "abcd").toLower().replace("s1", "S1") + end << "10-13"
                                << QByteArray();
    QTest::newRow("crlf") << QByteArray(srec('1', 0x10, "ab") + end).replace("\n", "\r\n") << "10-11" << QByteArray();
    QTest::newRow("outside window") << srec('2', 0x10000, "ab") + end << "empty" << dropped1;
    QTest::newRow("straddles end") << srec('1', 0xFFFE, "abc") + srec('1', 0xFFFE, "ab") + end << "fffe-ffff"
                                   << dropped1;
    QTest::newRow("empty data record") << srec('1', 0, "") + srec('1', 0x20, "a") + end << "20-20" << QByteArray();
    QTest::newRow("longest record") << srec('1', 0x100, QByteArray(252, 'z')) + end << "100-1fb" << QByteArray();
}

void TestHexConv::srecHeaderAndStart()
{
    const QString sFile = path("header.srec");
    QVERIFY(writeFile(sFile, srec('0', 0, "first") + srec('0', 0, QByteArray("second\0tail", 11)) + srec('0', 0, "")
                                 + srec('1', 0, "x") + srec('8', 0x123456, "")));
    HexConvSRec conv(0, 0xFF);
    QCOMPARE(QByteArray(conv.headerText()), QByteArray());
    QCOMPARE(conv.startAddress(), 0u);
    QCOMPARE(conv.load(sFile), 0);
    QCOMPARE(QByteArray(conv.headerText()), QByteArray("second"));
    QCOMPARE(conv.startAddress(), 0x123456u);
}

void TestHexConv::saveRecordTypes_data()
{
    QTest::addColumn<quint32>("base");
    QTest::addColumn<quint32>("end");
    QTest::addColumn<QByteArray>("firstData");
    QTest::addColumn<QByteArray>("termination");
    QTest::newRow("S1") << 0xFFF0u << 0xFFFFu << QByteArray("S113FFF0") << QByteArray("S903FFF00D\n");
    QTest::newRow("S2 from 0x10000") << 0xFFF0u << 0x10000u << QByteArray("S21400FFF0") << QByteArray("S80400FFF00C\n");
    QTest::newRow("S2 top") << 0xFFFFF0u << 0xFFFFFFu << QByteArray("S214FFFFF0") << QByteArray("S804FFFFF00D\n");
    QTest::newRow("S3") << 0xFFFFF0u << 0x1000000u << QByteArray("S31500FFFFF0") << QByteArray("S70500FFFFF00C\n");
    QTest::newRow("S3 top of space") << 0xFFFFFFF0u << 0xFFFFFFFFu << QByteArray("S315FFFFFFF0")
                                     << QByteArray("S705FFFFFFF00D\n");
}

void TestHexConv::saveRecordTypes()
{
    QFETCH(quint32, base);
    QFETCH(quint32, end);
    QFETCH(QByteArray, firstData);
    QFETCH(QByteArray, termination);
    HexConvSRec conv(base, end);
    const QString sFile = path("types.srec");
    QCOMPARE(conv.save(sFile, true), 0);
    const QByteArray text = readFile(sFile);
    QVERIFY(text.startsWith("S0030000FC\n" + firstData));
    QVERIFY(text.endsWith(termination));
    const int nRecords = int((quint64(end) - base + 1 + 15) / 16);
    QCOMPARE(text.count('\n'), nRecords + 2);
}

void TestHexConv::saveTwentyBytes()
{
    HexConvSRec conv(0x100, 0x113);
    for (int i = 0; i < 20; ++i)
        conv.buffer()[i] = quint8(i);
    const QString sFile = path("twenty.srec");
    QCOMPARE(conv.save(sFile, true), 0);
    QCOMPARE(readFile(sFile), QByteArray("S0030000FC\n"
                                         "S1130100000102030405060708090A0B0C0D0E0F73\n"
                                         "S107011010111213A1\n"
                                         "S9030100FB\n"));
}

void TestHexConv::saveRoundTripThroughSrecCat_data()
{
    QTest::addColumn<quint32>("base");
    QTest::addColumn<quint32>("end");
    QTest::newRow("S1 window") << 0u << 0xFFFFu;
    QTest::newRow("S2 window") << 0x300000u << 0x30FFFFu;
    QTest::newRow("S3 window") << 0x10000000u << 0x1000FFFEu;
    QTest::newRow("odd size") << 0x1234u << 0x1234u + 1000u;
}

void TestHexConv::saveRoundTripThroughSrecCat()
{
    QFETCH(quint32, base);
    QFETCH(quint32, end);
    const int n = int(end - base + 1);
    const QByteArray data = randomBytes(n);
    HexConvSRec conv(base, end);
    std::memcpy(conv.buffer(), data.constData(), size_t(n));
    const QString sFile = path("roundtrip.srec");
    QCOMPARE(conv.save(sFile, true), 0);

    // Our own reader.
    HexConvSRec back(base, end);
    QCOMPARE(back.load(sFile), 0);
    QCOMPARE(back.lowestAddress(), base);
    QCOMPARE(back.highestAddress(), end);
    QVERIFY(std::memcmp(back.buffer(), data.constData(), size_t(n)) == 0);

    // srec_cat's reader: strict about checksums and record layout.
    const QString sBin = path("roundtrip.bin");
    QByteArray err;
    QCOMPARE(runTool("srec_cat",
                     {sFile, "-motorola", "-offset", QString("-0x%1").arg(base, 0, 16), "-o", sBin, "-binary"}, &err),
             0);
    QCOMPARE(err, QByteArray());
    QCOMPARE(readFile(sBin), data);
}

void TestHexConv::saveUsedRange()
{
    HexConvSRec conv(0, 0x7FFFFF);
    std::memcpy(conv.buffer() + 0x20000, "hello", 5);
    conv.rescan(0xFF);
    const QString sFile = path("used.srec");
    QCOMPARE(conv.save(sFile, false), 0);
    QCOMPARE(readFile(sFile), srec('0', 0, "") + srec('2', 0x20000, "hello") + srec('8', 0x20000, ""));

    HexConvSRec empty(0, 0xFF);
    QCOMPARE(empty.save(sFile, false), 0);
    QCOMPARE(readFile(sFile), srec('0', 0, "") + srec('9', 0, ""));

    HexConvIHex ihexConv(0, 0xFF);
    QFile::remove(path("ihex-save"));
    QCOMPARE(ihexConv.save(path("ihex-save"), true), -1);
    QVERIFY(!QFile::exists(path("ihex-save")));
}

void TestHexConv::saveFailureKeepsTarget()
{
#ifdef Q_OS_LINUX
    // A file size limit makes the writes fail part-way, as a full disk would.
    const QString sFile = path("keep.srec");
    const QByteArray old = "S0030000FC\nS9030000FC\n";
    QVERIFY(writeFile(sFile, old));
    HexConvSRec conv(0, 0x3FFFF);
    const QStringList before = QDir(m_dir.path()).entryList(QDir::Files);

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
    QCOMPARE(readFile(sFile), old);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before);
#else
    QSKIP("needs a file size limit");
#endif
}

void TestHexConv::saveRefusesDirectory()
{
    HexConvSRec conv(0, 0xFF);
    QVERIFY(QDir(m_dir.path()).mkpath("adir"));
    QCOMPARE(conv.save(path("adir"), true), -1);
    QVERIFY(QFileInfo(path("adir")).isDir());
    QCOMPARE(conv.save(path("no-such-dir/x.srec"), true), -1);
}

void TestHexConv::readsOnlyRegularFiles()
{
#ifdef Q_OS_LINUX
    // Opening a FIFO that nobody writes would hold the reader for ever (the
    // window's examination as much as a worker's job); a directory is no
    // image either. Every reader refuses both at once.
    const QString sFifo = path("image.fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(sFifo).constData(), 0644), 0);
    for (const QString &sPath : {sFifo, m_dir.path()}) {
        ImageFile image(sPath);
        QCOMPARE(int(image.status()), int(ImageFile::NotRegular));
        QVERIFY(!image.scan());
        HexConvIHex ihex(0, 0xFF);
        QCOMPARE(ihex.load(sPath), -1);
        HexConvSRec srec(0, 0xFF);
        QCOMPARE(srec.load(sPath), -1);
    }
#else
    QSKIP("needs a FIFO");
#endif
}

void TestHexConv::rescan()
{
    HexConvSRec conv(0x1000, 0x1FFF);
    const auto usedAfter = [&conv](quint8 nFill) {
        conv.rescan(nFill);
        return qMakePair(conv.lowestAddress(), conv.highestAddress());
    };
    QCOMPARE(usedAfter(0xFF), qMakePair(0x1FFFu, 0x1000u));
    QVERIFY(!conv.hasData());
    conv.buffer()[0x10] = 0;
    conv.buffer()[0x800] = 0x7F;
    QCOMPARE(usedAfter(0xFF), qMakePair(0x1010u, 0x1800u));
    QCOMPARE(usedAfter(0x00), qMakePair(0x1000u, 0x1FFFu));
    conv.buffer()[0xFFF] = 0;
    conv.buffer()[0] = 0;
    QCOMPARE(usedAfter(0x00), qMakePair(0x1001u, 0x1FFEu));
}

void TestHexConv::windowAllocation()
{
    HexConvSRec conv(0x200, 0x1FF); // end below base: no window
    QVERIFY(!conv.isAllocated());
    QVERIFY(conv.buffer() == nullptr);
    QCOMPARE(conv.save(path("never.srec"), true), -1);
    QVERIFY(!QFile::exists(path("never.srec")));
    QVERIFY(!HexConv::create(HexConv::FileTypeSRecord, 0x200, 0x1FF));
    QVERIFY(!HexConv::create(HexConv::FileTypeUnknown, 0, 0xFF));

    HexConvIHex one(0x10, 0x10);
    QCOMPARE(one.windowSize(), quint64(1));
    QCOMPARE(one.buffer()[0], quint8(0xFF));
}

void TestHexConv::scanExtent_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("hasData");
    QTest::addColumn<quint32>("low");
    QTest::addColumn<quint32>("high");
    QTest::addColumn<quint32>("skipped");
    QTest::newRow("ihex top of space") << ihex(4, 0, "\xFF\xFF") + ihex(0, 0xFFF0, QByteArray(16, 'a')) + ihex(1, 0, "")
                                       << true << 0xFFFFFFF0u << 0xFFFFFFFFu << 0u;
    QTest::newRow("ihex wraps past top") << ihex(4, 0, "\xFF\xFF") + ihex(0, 0xFFF8, QByteArray(16, 'a'))
                                                + ihex(0, 0x10, "b") + ihex(1, 0, "")
                                         << true << 0xFFFF0010u << 0xFFFF0010u << 1u;
    QTest::newRow("srec spread") << srec('3', 0x80000000, "ab") + srec('1', 0x10, "c") + srec('7', 0, "") << true
                                 << 0x10u << 0x80000001u << 0u;
    QTest::newRow("no data") << QByteArray("S0030000FC\n") << false << 0u << 0u << 0u;
}

void TestHexConv::scanExtent()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, hasData);
    QFETCH(quint32, low);
    QFETCH(quint32, high);
    QFETCH(quint32, skipped);
    const QString sFile = path("extent.txt");
    QVERIFY(writeFile(sFile, content));
    ImageFile image(sFile);
    QVERIFY(image.scan());
    const HexConv::Extent ext = image.extent();
    QCOMPARE(ext.bHasData, hasData);
    QCOMPARE(ext.nSkipped, skipped);
    if (!hasData)
        return;
    QCOMPARE(ext.nLowest, low);
    QCOMPARE(ext.nHighest, high);
    // A window made from the extent takes every record that fits anywhere;
    // one too wide is refused, not allocated.
    ImageFile loaded(sFile);
    const bool bFits = quint64(high) - low < 0x1000000u;
    QCOMPARE(loaded.loadExtent(0x1000000u), bFits);
    QCOMPARE(int(loaded.status()), bFits ? int(ImageFile::Ok) : int(ImageFile::TooLarge));
    if (bFits) {
        QCOMPARE(loaded.converter()->lowestAddress(), low);
        QCOMPARE(loaded.converter()->highestAddress(), high);
    }
}

QTEST_GUILESS_MAIN(TestHexConv)
#include "tst_hexconv.moc"
