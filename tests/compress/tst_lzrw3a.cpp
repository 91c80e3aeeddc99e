// Block compressor: the drive expands its blocks, so the output is checked
// byte for byte against known answers (vectors/NAME.bin in, NAME.lzr out),
// written once by the coder when an independent reference coder agreed:
// five (verbatim below 6 bytes), start-string (copies from the table's start
// string), constant (3 literals, copies of 18, a short last group), text
// (copies of every length), bitstream (an FPGA block), random (verbatim
// after the overrun), equal-length (as long as the input: still compressed),
// tail-match (a full-length copy from the last position a match can start).

#include "Lzrw3a.h"
#include "TestData.h"

#include <QDir>
#include <QtTest>

#include <random>

namespace {

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
    const int rc = compressBlock(bytes(in), quint32(in.size()), work(), reinterpret_cast<quint8 *>(out.data()),
                                 size_t(out.size()), &n);
    return rc ? "failed" : out.left(n);
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
    QVERIFY(names.size() >= 8);
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
    const auto row = [](const char *sName, const QByteArray &block, int nResult, int nCapacity = 100) {
        QTest::newRow(sName) << block << nCapacity << nResult;
    };
    row("half a flag word", QByteArray::fromHex("0000"), lzrw3a::ExpandTruncated);
    row("flag 2", QByteArray::fromHex("0200000001"), lzrw3a::ExpandBadFlag);
    row("flag byte 1 set", QByteArray::fromHex("0001000001"), lzrw3a::ExpandBadFlag);
    row("no group", QByteArray::fromHex("00000000"), lzrw3a::ExpandTruncated);
    row("half a control word", QByteArray::fromHex("0000000000"), lzrw3a::ExpandTruncated);
    row("group without items", QByteArray::fromHex("00000000ffff"), lzrw3a::ExpandTruncated);
    row("half a copy", QByteArray::fromHex("00000000010012"), lzrw3a::ExpandTruncated);
    row("padding bits 0", QByteArray::fromHex("0000000000ff61"), lzrw3a::ExpandBadPadding);
    row("verbatim too long", QByteArray::fromHex("0100000061626364"), lzrw3a::ExpandOverflow, 3);
    const QByteArray text = readFile(QStringLiteral(LZRW3A_VECTORS "/text.lzr"));
    row("cut block", text.left(300), lzrw3a::ExpandTruncated, 3000);
    for (int nCap : {0, 1, 17, 2002})
        row(qPrintable(QString("capacity %1").arg(nCap)), text, lzrw3a::ExpandOverflow, nCap);
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
