// Block compressor: its output is expanded by the drive, so it is checked
// byte for byte against a plain reference coder written here from the block
// format, and decoded by a second, independent decoder written here as well.

#include "Lzrw3a.h"

#include <QtTest>

#include <algorithm>
#include <random>
#include <vector>

using Bytes = std::vector<quint8>;

namespace {

const char kStart[] = "123456789012345678";

int refSet(const quint8 *p)
{
    const quint32 x = (quint32(p[0]) << 8) ^ (quint32(p[1]) << 4) ^ quint32(p[2]);
    return int(((40543u * x) >> 4) & 511u);
}

// Straightforward coder: no shortcuts in the search, positions as ints, -1
// for the start string. Overrun = compressed form longer than the input.
Bytes refCompress(const Bytes &in)
{
    const int L = int(in.size());
    Bytes out = {0, 0, 0, 0};
    auto verbatim = [&]() {
        Bytes v = {1, 0, 0, 0};
        v.insert(v.end(), in.begin(), in.end());
        return v;
    };
    if (L < 6)
        return verbatim();
    std::vector<int> table(4096, -1);
    auto byteAt = [&](int entry, int i) -> quint8 { return entry < 0 ? quint8(kStart[i]) : in[size_t(entry + i)]; };
    int cycle = 0;
    int p1 = -1, p2 = -1; // set numbers of pending literals
    int p = 0;
    while (p < L) {
        const size_t ctrlPos = out.size();
        out.push_back(0);
        out.push_back(0);
        int bits = 0;
        int items = 0;
        while (items < 16 && p < L) {
            if (p <= L - 18) {
                const int s = refSet(&in[size_t(p)]);
                int best = 0, bestWay = 0;
                for (int w = 0; w < 8; ++w) {
                    int len = 0;
                    while (len < 18 && byteAt(table[size_t(8 * s + w)], len) == in[size_t(p + len)])
                        ++len;
                    if (len > best) {
                        best = len;
                        bestWay = w;
                    }
                }
                if (best >= 3) {
                    const int e = 8 * s + bestWay;
                    out.push_back(quint8(((e & 0xF00) >> 4) | (best - 3)));
                    out.push_back(quint8(e & 0xFF));
                    bits |= 1 << items;
                    if (p1 >= 0) {
                        if (p2 >= 0) {
                            table[size_t(8 * p2 + cycle)] = p - 2;
                            cycle = (cycle + 1) & 7;
                        }
                        table[size_t(8 * p1 + cycle)] = p - 1;
                        cycle = (cycle + 1) & 7;
                    }
                    table[size_t(8 * s + cycle)] = p;
                    cycle = (cycle + 1) & 7;
                    p1 = p2 = -1;
                    p += best;
                } else {
                    out.push_back(in[size_t(p)]);
                    if (p2 >= 0) {
                        table[size_t(8 * p2 + cycle)] = p - 2;
                        cycle = (cycle + 1) & 7;
                    }
                    p2 = p1;
                    p1 = s;
                    ++p;
                }
            } else {
                out.push_back(in[size_t(p)]);
                ++p;
            }
            ++items;
        }
        bits |= (0xFFFF << items) & 0xFFFF;
        out[ctrlPos] = quint8(bits & 0xFF);
        out[ctrlPos + 1] = quint8(bits >> 8);
    }
    if (int(out.size()) > L)
        return verbatim();
    return out;
}

// Decoder from the block format alone. Returns false for a malformed block.
bool refExpand(const Bytes &block, Bytes &out)
{
    out.clear();
    if (block.size() < 4 || block[1] || block[2] || block[3])
        return false;
    if (block[0] == 1) {
        out.assign(block.begin() + 4, block.end());
        return true;
    }
    if (block[0] != 0)
        return false;
    std::vector<int> table(4096, -1);
    std::vector<int> pending; // literal positions waiting for their two followers
    int cycle = 0;
    auto enter = [&](int pos) {
        table[size_t(8 * refSet(&out[size_t(pos)]) + cycle)] = pos;
        cycle = (cycle + 1) & 7;
    };
    size_t i = 4;
    while (i < block.size()) {
        if (i + 2 > block.size())
            return false;
        const int ctrl = block[i] | block[i + 1] << 8;
        i += 2;
        for (int bit = 0; bit < 16 && i < block.size(); ++bit) {
            if (ctrl & (1 << bit)) {
                if (i + 2 > block.size())
                    return false;
                const int e = ((block[i] & 0xF0) << 4) | block[i + 1];
                const int k = (block[i] & 0x0F) + 3;
                i += 2;
                const int src = table[size_t(e)];
                const int p = int(out.size());
                for (int j = 0; j < k; ++j)
                    out.push_back(src < 0 ? quint8(kStart[j]) : out[size_t(src + j)]);
                for (int pos : pending)
                    enter(pos);
                pending.clear();
                table[size_t(8 * (e / 8) + cycle)] = p;
                cycle = (cycle + 1) & 7;
            } else {
                out.push_back(block[i++]);
                if (pending.size() == 2) {
                    enter(pending.front());
                    pending.erase(pending.begin());
                }
                pending.push_back(int(out.size()) - 1);
            }
        }
    }
    return true;
}

Bytes makeData(const QString &kind, int n, quint32 seed)
{
    std::mt19937 rng(seed);
    Bytes d(static_cast<size_t>(n), 0);
    if (kind == "random") {
        for (auto &b : d)
            b = quint8(rng());
    } else if (kind == "text") {
        static const char *words[] = {"flash ", "drive ",   "sector ", "monitor ", "block ",  "the ",
                                      "erase ", "program ", "verify ", "servo\n",  "0x3F00 ", "baud "};
        int i = 0;
        while (i < n) {
            const char *w = words[rng() % 12];
            for (; *w && i < n; ++w)
                d[size_t(i++)] = quint8(*w);
        }
    } else if (kind == "constant" || kind == "zeros") {
        std::fill(d.begin(), d.end(), quint8(kind == "zeros" ? 0 : 0xA5));
    } else { // bitstream: 32-bit frame words, mostly empty, a few recurring
        static const quint32 dict[] = {0xAA995566, 0x30008001, 0x20000000, 0x0000000D,
                                       0x30002001, 0x00000007, 0x3000C001, 0xFFFFFFFF};
        for (int i = 0; i + 3 < n; i += 4) {
            const quint32 r = rng() % 100;
            const quint32 w = r < 55 ? 0 : r < 75 ? dict[rng() % 8] : rng() & rng() & rng();
            for (int j = 0; j < 4; ++j)
                d[size_t(i + j)] = quint8(w >> (8 * j));
        }
    }
    return d;
}

Bytes compress(const Bytes &in)
{
    static std::vector<quint8> work(lzrw3a::kWorkSize);
    Bytes out(lzrw3a::compressBound(quint32(in.size())));
    quint32 n = 0;
    const int rc = compressBlock(in.data(), quint32(in.size()), work.data(), out.data(), out.size(), &n);
    if (rc != 0)
        return {};
    out.resize(n);
    return out;
}

} // namespace

class TestLzrw3a : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void workAreaDoesNotMatter();
    void rejectsSmallOutput();
    void expandRefusesBadInput();
    void expandRespectsCapacity();
    void expandGarbageIsSafe();
};

void TestLzrw3a::roundTrip_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *k : {"random", "text", "constant", "zeros", "bitstream"})
        QTest::newRow(k) << QString::fromLatin1(k);
}

// Byte-exact against the reference coder, decoded by the reference decoder
// and by expandBlock; short inputs (verbatim below 6 bytes), the overrun
// boundaries around 288 and full blocks.
void TestLzrw3a::roundTrip()
{
    QFETCH(QString, kind);
    std::vector<int> lengths;
    for (int n = 0; n <= 40; ++n)
        lengths.push_back(n);
    for (int n : {255, 286, 287, 288, 289, 290, 1000, 4099, 8191, 8192})
        lengths.push_back(n);
    std::vector<quint8> work(lzrw3a::kWorkSize);
    for (int n : lengths) {
        for (quint32 seed = 1; seed <= (n == 8192 ? 8u : 2u); ++seed) {
            const Bytes in = makeData(kind, n, seed * 977 + quint32(n));
            const Bytes out = compress(in);
            const QByteArray sWhere = QString("length %1").arg(n).toLatin1();
            QVERIFY2(!out.empty(), sWhere);
            QVERIFY2(out == refCompress(in), sWhere + " differs from reference");
            Bytes back;
            QVERIFY(refExpand(out, back));
            QVERIFY2(back == in, sWhere + " does not round-trip");

            Bytes mine(size_t(n) + 1, 0xEE);
            quint32 nOut = 0;
            QCOMPARE(expandBlock(out.data(), out.size(), work.data(), mine.data(), size_t(n), &nOut),
                     int(lzrw3a::ExpandOk));
            QCOMPARE(int(nOut), n);
            QVERIFY(std::equal(in.begin(), in.end(), mine.begin()));
            QCOMPARE(mine[size_t(n)], quint8(0xEE));
        }
    }
    const Bytes in = makeData(kind, 8192, 3);
    if (kind == "random")
        QCOMPARE(compress(in).size(), in.size() + 4); // stored verbatim
    else
        QVERIFY(compress(in).size() < in.size() * 8 / 10);
}

// The same input gives the same bytes after other blocks, with a dirty work
// area and with an unaligned one.
void TestLzrw3a::workAreaDoesNotMatter()
{
    const Bytes a = makeData("bitstream", 8192, 11);
    const Bytes first = compress(a);
    compress(makeData("text", 8192, 12));
    QCOMPARE(compress(a), first);
    std::vector<quint8> raw(lzrw3a::kWorkSize + 3, 0x5A);
    for (quint8 *pWork : {raw.data(), raw.data() + 1}) {
        Bytes out(lzrw3a::compressBound(8192));
        quint32 n = 0;
        QCOMPARE(compressBlock(a.data(), 8192, pWork, out.data(), out.size(), &n), 0);
        out.resize(n);
        QCOMPARE(out, first);
    }
}

void TestLzrw3a::rejectsSmallOutput()
{
    const Bytes in = makeData("random", 100, 1);
    std::vector<quint8> work(lzrw3a::kWorkSize);
    Bytes out(lzrw3a::compressBound(100) - 1);
    quint32 n = 0;
    QCOMPARE(compressBlock(in.data(), 100, work.data(), out.data(), out.size(), &n), -1);
    QCOMPARE(compressBlock(nullptr, 100, work.data(), out.data(), 1000, &n), -1);
}

void TestLzrw3a::expandRefusesBadInput()
{
    std::vector<quint8> work(lzrw3a::kWorkSize);
    Bytes out(9000);
    quint32 n = 0;
    auto expand = [&](const Bytes &block) {
        return expandBlock(block.data(), block.size(), work.data(), out.data(), out.size(), &n);
    };
    QCOMPARE(expand({0, 0}), int(lzrw3a::ExpandTruncated));
    QCOMPARE(expand({2, 0, 0, 0, 1}), int(lzrw3a::ExpandBadFlag));
    QCOMPARE(expand({0, 1, 0, 0, 1}), int(lzrw3a::ExpandBadFlag));
    QCOMPARE(expand({0, 0, 0, 0}), int(lzrw3a::ExpandTruncated));
    QCOMPARE(expand({0, 0, 0, 0, 0x00}), int(lzrw3a::ExpandTruncated));             // half a control word
    QCOMPARE(expand({0, 0, 0, 0, 0xFF, 0xFF}), int(lzrw3a::ExpandTruncated));       // group without items
    QCOMPARE(expand({0, 0, 0, 0, 0x01, 0x00, 0x12}), int(lzrw3a::ExpandTruncated)); // half a copy
    QCOMPARE(expand({0, 0, 0, 0, 0x00, 0xFF, 'a'}), int(lzrw3a::ExpandBadPadding));

    // Every cut of a real block either fails or yields a prefix of the data.
    const Bytes in = makeData("bitstream", 8192, 21);
    const Bytes block = compress(in);
    QCOMPARE(block[0], quint8(0));
    int nFailed = 0;
    for (size_t cut = 0; cut < block.size(); ++cut) {
        const int rc = expand(Bytes(block.begin(), block.begin() + long(cut)));
        if (rc != lzrw3a::ExpandOk) {
            ++nFailed;
            QVERIFY(rc < 0);
        } else {
            QVERIFY(n < 8192);
            QVERIFY(std::equal(out.begin(), out.begin() + n, in.begin()));
        }
    }
    QVERIFY(nFailed > int(block.size()) / 2);
}

void TestLzrw3a::expandRespectsCapacity()
{
    std::vector<quint8> work(lzrw3a::kWorkSize);
    for (const char *kind : {"zeros", "text", "random"}) {
        const Bytes block = compress(makeData(kind, 8192, 4));
        for (size_t cap : {size_t(0), size_t(1), size_t(17), size_t(4000), size_t(8191)}) {
            Bytes out(cap + 64, 0xEE);
            quint32 n = 12345;
            QCOMPARE(expandBlock(block.data(), block.size(), work.data(), out.data(), cap, &n),
                     int(lzrw3a::ExpandOverflow));
            QVERIFY(n <= cap);
            QVERIFY(std::all_of(out.begin() + long(cap), out.end(), [](quint8 b) { return b == 0xEE; }));
        }
    }
}

void TestLzrw3a::expandGarbageIsSafe()
{
    std::mt19937 rng(99);
    std::vector<quint8> work(lzrw3a::kWorkSize);
    for (int round = 0; round < 2000; ++round) {
        Bytes block(size_t(4 + rng() % 600));
        for (auto &b : block)
            b = quint8(rng());
        block[0] = block[1] = block[2] = block[3] = 0;
        const size_t cap = rng() % 4000;
        Bytes out(cap + 32, 0xEE);
        quint32 n = 0;
        const int rc = expandBlock(block.data(), block.size(), work.data(), out.data(), cap, &n);
        QVERIFY(rc <= 0);
        QVERIFY(n <= cap);
        QVERIFY(std::all_of(out.begin() + long(cap), out.end(), [](quint8 b) { return b == 0xEE; }));
        // Whatever decodes cleanly decodes the same in the reference decoder.
        if (rc == lzrw3a::ExpandOk) {
            Bytes ref;
            QVERIFY(refExpand(block, ref));
            QCOMPARE(int(ref.size()), int(n));
            QVERIFY(std::equal(ref.begin(), ref.end(), out.begin()));
        }
    }
}

QTEST_GUILESS_MAIN(TestLzrw3a)
#include "tst_lzrw3a.moc"
