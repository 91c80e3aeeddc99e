// Firmware information: walking the block chain of an image, the type mask,
// the minimum length, the character check, the wrap guard and field
// truncation; once through a file written by srec_cat.

#include "FWInfo.h"
#include "FWInfoHex.h"
#include "HexConvSRec.h"
#include "ImageFile.h"
#include "ImageTestUtil.h"

#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using namespace imagetest;

namespace {

struct Block
{
    quint32 nLength;
    quint32 nType;
    QByteArray payload; // written after the header, at most nLength bytes
};

QByteArray le32(quint32 n)
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = char(n >> (8 * i));
    return b;
}

QByteArray field(const QByteArray &text, int nSize)
{
    QByteArray f = text.left(nSize);
    f.append(QByteArray(nSize - f.size(), '\0'));
    return f;
}

QByteArray infoPayload(const QList<QByteArray> &texts)
{
    static const int sizes[5] = {16, 16, 16, 40, 16};
    QByteArray p;
    for (int i = 0; i < 5; ++i)
        p += field(texts.value(i), sizes[i]);
    return p;
}

const QList<QByteArray> kTexts = {"HW 3.1", "FW 2.07", "2026-11-30", "AC servo drive, 400 V, 7.5 kW", "SN 0004711"};
const QStringList kLines = QString::fromLatin1(kTexts.join('\n')).split('\n');

// Serialises a chain: blocks back to back, each header followed by nLength
// bytes (payload, then 0x5A filler).
QByteArray makeChain(const QList<Block> &blocks)
{
    QByteArray out;
    for (const Block &b : blocks) {
        out += le32(b.nLength) + le32(b.nType);
        // Long blocks are cut short: the walk reads only their headers.
        const int nBody = int(qMin<quint32>(b.nLength, 0x8000u));
        QByteArray body = b.payload.left(nBody);
        body.append(QByteArray(nBody - body.size(), '\x5A'));
        out += body;
    }
    return out;
}

// Memory of a few pieces anywhere in the 32-bit space; reads elsewhere fail.
// Counts reads so a runaway walk ends the test instead of hanging it.
class SparseInfo : public FWInfo
{
public:
    QMap<quint32, QByteArray> pieces;
    int nReads = 0;
    int readBytes(quint32 nAddress, quint32 nLength, quint8 *pDest) override
    {
        if (++nReads > 10000)
            return -99;
        for (auto it = pieces.cbegin(); it != pieces.cend(); ++it) {
            const quint64 nStart = it.key();
            if (nAddress >= nStart && quint64(nAddress) + nLength <= nStart + quint64(it.value().size())) {
                std::memcpy(pDest, it.value().constData() + (nAddress - nStart), nLength);
                return 0;
            }
        }
        return -7;
    }
};

} // namespace

class TestFWInfo : public QObject
{
    Q_OBJECT

private slots:
    void chain_data();
    void chain();
    void wrapGuard_data();
    void wrapGuard();
    void readBytesBounds();
    void fromSrecCatFile();
};

void TestFWInfo::chain_data()
{
    QTest::addColumn<QByteArray>("image"); // placed at 0x300000 in a window 0x300000..0x30FFFF
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("lines");
    const QByteArray info = infoPayload(kTexts);
    const QByteArray ff(16, '\xFF');

    QTest::newRow("info first") << makeChain({{104, 0x400, info}}) << 0 << kLines;
    QTest::newRow("type bits outside mask") << makeChain({{104, 0xF400, info}}) << 0 << kLines;
    QTest::newRow("longer block") << makeChain({{300, 0x10400, info}}) << 0 << kLines;
    QTest::newRow("after other blocks") << makeChain(
        {{0x20, 0x100, {}}, {4, 0x401, {}}, {0x1000, 0x200, {}}, {104, 0x400, info}})
                                        << 0 << kLines;
    QTest::newRow("type 0x401 skipped") << makeChain({{104, 0x401, infoPayload({"wrong"})}, {104, 0x400, info}}) << 0
                                        << kLines;
    QTest::newRow("too short skipped") << makeChain({{100, 0x400, infoPayload({"short"})}, {104, 0x400, info}}) << 0
                                       << kLines;
    QTest::newRow("0x800 bit is outside") << makeChain({{104, 0x800, info}}) + ff << -1 << QStringList();
    QTest::newRow("runs into erased flash") << makeChain({{0x20, 0x100, {}}}) + ff << -1 << QStringList();
    QTest::newRow("length zero") << makeChain({{0, 0x100, {}}}) << -1 << QStringList();
    QTest::newRow("type zero") << makeChain({{16, 0, {}}}) << -1 << QStringList();
    QTest::newRow("type all ones") << makeChain({{16, 0xFFFFFFFF, {}}}) << -1 << QStringList();
    QTest::newRow("chain leaves window") << makeChain({{0x20000, 0x100, {}}}) << -1 << QStringList();
    QTest::newRow("payload leaves window")
        << le32(0x10000 - 8 - 8 - 50) + le32(0x100) + QByteArray(0x10000 - 8 - 8 - 50, '\0') + le32(104) + le32(0x400)
               + info.left(50)
        << -2 << QStringList();

    QByteArray bad = info;
    bad[20] = char(0x80);
    QTest::newRow("byte 0x80") << makeChain({{104, 0x400, bad}}) << -3 << QStringList();
    bad = info;
    bad[16 + 15] = '\x01'; // behind the terminating zero of field 2, not its last byte
    bad[16 + 14] = '\x01';
    QTest::newRow("control after zero") << makeChain({{104, 0x400, bad}}) << -3 << QStringList();
    bad = info;
    bad[48 + 39] = '\x07'; // the last byte of field 4 becomes the terminator
    QTest::newRow("last byte replaced") << makeChain({{104, 0x400, bad}}) << 0 << kLines;

    const QList<QByteArray> full = {QByteArray(16, 'A'), QByteArray(16, 'B'), "", QByteArray(40, 'D'),
                                    QByteArray(16, 'E')};
    QTest::newRow("full fields truncated")
        << makeChain({{104, 0x400, infoPayload(full)}}) << 0
        << QStringList{QString(15, 'A'), QString(15, 'B'), "", QString(39, 'D'), QString(15, 'E')};
}

void TestFWInfo::chain()
{
    QFETCH(QByteArray, image);
    QFETCH(int, result);
    QFETCH(QStringList, lines);
    HexConvSRec conv(0x300000, 0x30FFFF);
    QVERIFY(image.size() <= 0x10000);
    std::memcpy(conv.buffer(), image.constData(), size_t(image.size()));
    conv.rescan(0xFF);
    FWInfoHex info(&conv);
    QCOMPARE(info.searchStart(), FWInfo::kDefaultSearchStart);
    info.setSearchStart(conv.lowestAddress());
    QCOMPARE(info.loadInfo(), result);
    QStringList out{"stale"};
    if (result == 0) {
        QCOMPARE(info.infoLines(out), 0);
        QCOMPARE(out, lines);
        QVERIFY(info.isValid());
    } else if (result == -3) {
        QCOMPARE(info.infoLines(out), -1);
        QVERIFY(out.isEmpty());
        QVERIFY(!info.isValid());
    }
}

void TestFWInfo::wrapGuard_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("back to itself") << 0x1000u << le32(0xFFFFFFF8) + le32(0x100);
    QTest::newRow("back before itself") << 0x1000u << le32(0xFFFFF000) + le32(0x100);
    QTest::newRow("past the top") << 0xFFFFFF00u << le32(0xF8) + le32(0x100);
    QTest::newRow("header at the top") << 0xFFFFFFF8u << le32(0x10) + le32(0x100);
    QTest::newRow("info payload past the top") << 0xFFFFFFF8u << le32(104) + le32(0x400);
}

void TestFWInfo::wrapGuard()
{
    QFETCH(quint32, start);
    QFETCH(QByteArray, header);
    SparseInfo info;
    info.pieces[start] = header;
    // A valid block at 0, so a walk that wraps around would find something.
    info.pieces[0] = makeChain({{104, 0x400, infoPayload(kTexts)}});
    info.setSearchStart(start);
    const int rc = info.loadInfo();
    QVERIFY2(info.nReads < 10, qPrintable(QString("%1 reads").arg(info.nReads)));
    QVERIFY(rc == -1 || rc == -2);
    QCOMPARE(rc, header.mid(4) == le32(0x400) ? -2 : -1);
}

void TestFWInfo::readBytesBounds()
{
    HexConvSRec conv(0x1000, 0x10FF);
    for (int i = 0; i < 0x100; ++i)
        conv.buffer()[i] = quint8(i);
    FWInfoHex info(&conv);
    quint8 buf[16];
    QCOMPARE(info.readBytes(0x10F0, 16, buf), 0);
    QCOMPARE(buf[15], quint8(0xFF));
    QCOMPARE(info.readBytes(0x10F1, 16, buf), -1);
    QCOMPARE(info.readBytes(0x0FFF, 4, buf), -1);
    QCOMPARE(info.readBytes(0xFFFFFFF8, 16, buf), -1);
    QCOMPARE(info.readBytes(0x1000, 0, buf), 0);
}

void TestFWInfo::fromSrecCatFile()
{
    if (!haveTool("srec_cat"))
        QSKIP("srec_cat (srecord) is needed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray image =
        makeChain({{0x200, 0x100, {}}, {0x40, 0x201, {}}, {128, 0x2400, infoPayload(kTexts)}, {0x100, 0x300, {}}});
    const QString sBin = dir.filePath("fw.bin");
    const QString sSrec = dir.filePath("fw.srec");
    QVERIFY(writeFile(sBin, image));
    QCOMPARE(runTool("srec_cat", {sBin, "-binary", "-offset", "0x300000", "-o", sSrec, "-motorola", "-obs=32"}), 0);
    ImageFile file(sSrec);
    QVERIFY(file.load(HexConv::kExamineBase, HexConv::kExamineEnd));
    HexConv *pConv = file.converter();
    QCOMPARE(pConv->lowestAddress(), 0x300000u);
    FWInfoHex info(pConv);
    info.setSearchStart(pConv->lowestAddress());
    QCOMPARE(info.loadInfo(), 0);
    QCOMPARE(info.infoAddress(), 0x300000u + 8 + 0x200 + 8 + 0x40);
    QStringList lines;
    QCOMPARE(info.infoLines(lines), 0);
    QCOMPARE(lines.join("\n"), kLines.join("\n"));
    // The search the window and the headless tool use.
    QCOMPARE(FWInfoHex::linesOf(pConv), lines);
}

QTEST_GUILESS_MAIN(TestFWInfo)
#include "tst_fwinfo.moc"
