// One framed transaction over a real pseudo-terminal: the test is the drive,
// the link's transact() runs over a transport opened on the slave side.
#include "CommError.h"
#include "LinkFrame.h"
#include "LinkTransaction.h"
#include "PtyPeer.h"
#include "TComSerialPort.h"

#include <QtTest>

#include <memory>

class TestLinkTransaction : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void requestOnTheWire_data();
    void requestOnTheWire();
    void response_data();
    void response();
    void splitAtEveryByte();
    void silence();
    void endlessLifeTrigger();
    void closedTransport();

private:
    int run(const QByteArray &request, int nCapacity, QByteArray *pResponse = nullptr, int nDeadlineMs = 10000);

    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<TComSerial> m_transport;
};

static QByteArray hex(const char *s)
{
    return QByteArray::fromHex(s);
}

void TestLinkTransaction::init()
{
    m_peer = std::make_unique<PtyPeer>();
    QVERIFY(m_peer->isValid());
    m_transport = std::make_unique<TComSerialPort>();
    QCOMPARE(m_transport->open(m_peer->devicePath().toLocal8Bit().constData(), 9600), 0);
    // Generous: only the silence cases wait for it.
    m_transport->setTimeout(2000);
}

void TestLinkTransaction::cleanup()
{
    m_peer->stop();
    if (m_transport->isOpen())
        m_transport->close();
    m_transport.reset();
    m_peer.reset();
}

int TestLinkTransaction::run(const QByteArray &request, int nCapacity, QByteArray *pResponse, int nDeadlineMs)
{
    ServiceExchange exchange;
    exchange.nRequestLength = int(request.size());
    exchange.nResponseCapacity = nCapacity;
    memcpy(exchange.aRequest, request.constData(), size_t(request.size()));
    const int nResult = transact(*m_transport, exchange, nDeadlineMs);
    if (pResponse)
        *pResponse = QByteArray(reinterpret_cast<const char *>(exchange.aResponse), exchange.nResponseLength);
    return nResult;
}

void TestLinkTransaction::requestOnTheWire_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("wire");
    // The worked example and the checksum 0x10 are checked on the encoder.
    QTest::newRow("empty") << QByteArray() << hex("1002100313");
    // 261 DLEs: 527 bytes, several 64-byte writes.
    QByteArray dles(LinkFrame::kMaxPayload, '\x10');
    QTest::newRow("largest, all escaped") << dles << LinkFrame::encode(dles);
}

void TestLinkTransaction::requestOnTheWire()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, wire);
    m_peer->start([](const QByteArray &, uint32_t) { return PtyPeer::frame(hex("0200")); });
    QByteArray response;
    if (request.isEmpty()) {
        // The drive skips an empty frame like any receiver of this framing.
        m_transport->setTimeout(200);
        QCOMPARE(run(request, 4, &response), int(CommError::Timeout));
    } else {
        QCOMPARE(run(request, 4, &response), 0);
        QCOMPARE(response, hex("0200"));
    }
    QCOMPARE(m_peer->received().toHex(' '), wire.toHex(' '));
}

// Each row is the raw answer the drive sends (one piece per element) and
// what the transaction makes of it.
void TestLinkTransaction::response_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray good = LinkFrame::encode(hex("01001234"));
    const QByteArray payload = hex("01001234");
    using L = QList<QByteArray>;
    QTest::newRow("plain") << L{good} << 8 << 0 << payload;
    QTest::newRow("noise before") << L{hex("00FF5503") + good} << 8 << 0 << payload;
    QTest::newRow("LIFE_TRIGGERs before") << L{"****", "**", good} << 8 << 0 << payload;
    QTest::newRow("stray DLE before") << L{hex("1055") + good} << 8 << 0 << payload;
    QTest::newRow("restart inside frame") << L{hex("1002AABBCC") + good} << 8 << 0 << payload;
    QTest::newRow("empty frame skipped") << L{hex("1002100313"), good} << 8 << 0 << payload;
    QTest::newRow("broken frame skipped") << L{hex("1002AABB1055"), good} << 8 << 0 << payload;
    QTest::newRow("bytes after checksum ignored") << L{good + hex("1002FFFF")} << 8 << 0 << payload;
    QTest::newRow("exactly at capacity") << L{good} << 4 << 0 << payload;
    QTest::newRow("overflow") << L{good} << 3 << 100 << QByteArray();
    // The overflow ends reception at the first excess byte; the rest of
    // the frame never completes anything.
    QTest::newRow("overflow, escaped byte") << L{LinkFrame::encode(hex("011010"))} << 2 << 100 << QByteArray();
    QByteArray bad = good;
    bad[bad.size() - 1] = char(bad.at(bad.size() - 1) ^ 0x01);
    QTest::newRow("bad checksum") << L{bad, good} << 8 << 100 << QByteArray();
}

void TestLinkTransaction::response()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, capacity);
    QFETCH(int, result);
    QFETCH(QByteArray, payload);

    m_peer->start([pieces](const QByteArray &, uint32_t) {
        PtyPeer::Answer answer;
        answer.pieces = pieces;
        return answer;
    });
    QByteArray response;
    QCOMPARE(run(hex("0412340104"), capacity, &response), result);
    QCOMPARE(response.toHex(' '), payload.toHex(' '));
}

// The answer may come in any number of reads; cut it in two at every byte.
void TestLinkTransaction::splitAtEveryByte()
{
    const QByteArray payload = hex("010010AABB10CC");
    const QByteArray frame = hex("2A") + LinkFrame::encode(payload);
    for (int nCut = 1; nCut < frame.size(); ++nCut) {
        m_peer->start([&](const QByteArray &, uint32_t) {
            PtyPeer::Answer answer;
            answer.pieces << frame.left(nCut) << frame.mid(nCut);
            return answer;
        });
        QByteArray response;
        QCOMPARE(run(hex("0412340104"), 16, &response), 0);
        QCOMPARE(response, payload);
        m_peer->stop();
    }
}

void TestLinkTransaction::silence()
{
    m_transport->setTimeout(200);
    m_peer->start([](const QByteArray &, uint32_t) { return PtyPeer::Answer(); });
    QCOMPARE(run(hex("0412340104"), 8), int(CommError::Timeout));
    // Silence inside a frame is the same time-out.
    m_peer->start([](const QByteArray &, uint32_t) {
        PtyPeer::Answer answer;
        answer.pieces << hex("10020100");
        return answer;
    });
    QCOMPARE(run(hex("0412340104"), 8), int(CommError::Timeout));
}

// A monitor that keeps sending '*' never lets a single read time out; the
// overall deadline ends the wait.
void TestLinkTransaction::endlessLifeTrigger()
{
    m_transport->setTimeout(200);
    m_peer->start([](const QByteArray &, uint32_t) {
        PtyPeer::Answer answer;
        // Seconds of '*', then a good frame: without a deadline the wait
        // would end with that frame instead of the time-out.
        for (int i = 0; i < 1500; ++i)
            answer.pieces << "*";
        answer.pieces << LinkFrame::encode(hex("0200"));
        answer.nGapMs = 2;
        return answer;
    });
    QCOMPARE(run(hex("0412340104"), 8, nullptr, 500), int(CommError::Timeout));
}

void TestLinkTransaction::closedTransport()
{
    m_transport->close();
    QVERIFY(run(hex("0412340104"), 8) != 0);
}

QTEST_APPLESS_MAIN(TestLinkTransaction)
#include "tst_linktransaction.moc"
