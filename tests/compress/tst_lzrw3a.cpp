// Block compressor: the drive expands its blocks, so the output must match
// the block format byte for byte. The known answers in vectors/ (NAME.bin
// in, NAME.lzr out) were written by the coder once its output had been
// checked against an independent reference coder; each one is there for
// what it exercises:
//   five          below 6 bytes: verbatim
//   start-string  copies from the table's start string
//   constant      3 literals, then copies of 18; a short last group
//   text          literals and copies of every length, sets and ways
//   bitstream     an FPGA bitstream block: zeros and recurring words
//   random        incompressible: verbatim after the overrun
//   equal-length  compressed form exactly as long as the input: kept

#include "Lzrw3a.h"

#include <QDir>
#include <QtTest>

#include <random>

namespace {

QByteArray readFile(const QString &sPath)
{
    QFile f(sPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const quint8 *bytes(const QByteArray &a)
{
    return reinterpret_cast<const quint8 *>(a.constData());
}

// One work area for every call, dirty and unaligned: the output must not
// depend on it or on earlier calls.
quint8 *work()
{
    static std::vector<quint8> area(lzrw3a::kWorkSize + 1, 0x5A);
    return area.data() + 1;
}

QByteArray compress(const QByteArray &in)
{
    QByteArray out(qsizetype(lzrw3a::compressBound(quint32(in.size()))), '\0');
    quint32 n = 0;
    if (compressBlock(bytes(in), quint32(in.size()), work(), reinterpret_cast<quint8 *>(out.data()), size_t(out.size()),
                      &n)
        != 0)
        return "failed";
    return out.left(n);
}

// Expands into exactly nCapacity bytes followed by guard bytes that must
// stay untouched; returns the result code and puts the output into *pOut.
int expand(const QByteArray &block, qsizetype nCapacity, QByteArray *pOut)
{
    QByteArray out(nCapacity + 16, char(0xEE));
    quint32 n = 0xFFFFFFFF;
    const int rc = expandBlock(bytes(block), size_t(block.size()), work(), reinterpret_cast<quint8 *>(out.data()),
                               size_t(nCapacity), &n);
    if (out.mid(nCapacity) != QByteArray(16, char(0xEE)) || n > quint64(nCapacity))
        return 99; // wrote past the capacity
    *pOut = out.left(n);
    return rc;
}

} // namespace

class TestLzrw3a : public QObject
{
    Q_OBJECT

private slots:
    void knownAnswers_data();
    void knownAnswers();
    void roundTrip();
    void badInput_data();
    void badInput();
};

void TestLzrw3a::knownAnswers_data()
{
    QTest::addColumn<QString>("sBase");
    const QDir dir(QStringLiteral(LZRW3A_VECTORS));
    const QStringList names = dir.entryList({"*.bin"}, QDir::Files, QDir::Name);
    QVERIFY(names.size() >= 7);
    for (const QString &sName : names)
        QTest::newRow(qPrintable(sName)) << dir.filePath(sName.chopped(4));
}

void TestLzrw3a::knownAnswers()
{
    QFETCH(QString, sBase);
    const QByteArray in = readFile(sBase + ".bin");
    const QByteArray block = readFile(sBase + ".lzr");
    QCOMPARE(compress(in).toHex(), block.toHex());
    QByteArray back;
    QCOMPARE(expand(block, in.size(), &back), int(lzrw3a::ExpandOk));
    QCOMPARE(back, in);
}

// Every length up to 40 (the verbatim and the literal-only tail), the
// overrun boundary around 288 and full blocks, over four kinds of data.
void TestLzrw3a::roundTrip()
{
    std::mt19937 rng(7);
    for (int nKind = 0; nKind < 4; ++nKind) {
        for (int n : {0, 1, 5, 6, 17, 18, 19, 33, 40, 286, 287, 288, 289, 4099, 8192}) {
            QByteArray in(n, '\0');
            for (char &c : in)
                c = char(nKind == 0 ? rng() : nKind == 1 ? "servo drive "[rng() % 12] : nKind == 2 ? 0 : rng() % 3);
            const QByteArray block = compress(in);
            QByteArray back;
            QCOMPARE(expand(block, n, &back), int(lzrw3a::ExpandOk));
            QVERIFY2(back == in, qPrintable(QString("kind %1, length %2").arg(nKind).arg(n)));
            if (n == 8192)
                QVERIFY(nKind == 0 ? block.size() == n + 4 : block.size() < n * 8 / 10);
        }
    }
    QByteArray out(100, '\0');
    quint32 n = 0;
    QCOMPARE(compressBlock(bytes(out), 100, work(), reinterpret_cast<quint8 *>(out.data()),
                           lzrw3a::compressBound(100) - 1, &n),
             -1);
}

// Malformed blocks are refused; a good block never overruns a small output.
void TestLzrw3a::badInput_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("result");
    const QByteArray text = readFile(QStringLiteral(LZRW3A_VECTORS "/text.lzr"));
    QTest::newRow("half a flag word") << QByteArray::fromHex("0000") << 100 << int(lzrw3a::ExpandTruncated);
    QTest::newRow("flag 2") << QByteArray::fromHex("0200000001") << 100 << int(lzrw3a::ExpandBadFlag);
    QTest::newRow("flag byte 1 set") << QByteArray::fromHex("0001000001") << 100 << int(lzrw3a::ExpandBadFlag);
    QTest::newRow("no group") << QByteArray::fromHex("00000000") << 100 << int(lzrw3a::ExpandTruncated);
    QTest::newRow("half a control word") << QByteArray::fromHex("0000000000") << 100 << int(lzrw3a::ExpandTruncated);
    QTest::newRow("group without items") << QByteArray::fromHex("00000000ffff") << 100 << int(lzrw3a::ExpandTruncated);
    QTest::newRow("half a copy") << QByteArray::fromHex("00000000010012") << 100 << int(lzrw3a::ExpandTruncated);
    QTest::newRow("padding bits 0") << QByteArray::fromHex("0000000000ff61") << 100 << int(lzrw3a::ExpandBadPadding);
    QTest::newRow("cut block") << text.left(300) << 3000 << int(lzrw3a::ExpandTruncated);
    QTest::newRow("verbatim too long") << QByteArray::fromHex("0100000061626364") << 3 << int(lzrw3a::ExpandOverflow);
    for (int nCap : {0, 1, 17, 2002})
        QTest::newRow(qPrintable(QString("capacity %1").arg(nCap))) << text << nCap << int(lzrw3a::ExpandOverflow);
}

void TestLzrw3a::badInput()
{
    QFETCH(QByteArray, block);
    QFETCH(int, capacity);
    QFETCH(int, result);
    QByteArray out;
    QCOMPARE(expand(block, capacity, &out), result);
}

QTEST_GUILESS_MAIN(TestLzrw3a)
#include "tst_lzrw3a.moc"
