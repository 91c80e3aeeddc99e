// The frame format on its own: encoder output and every transition of the
// receive state machine, fed byte by byte.
#include "LinkFrame.h"

#include <QRandomGenerator>
#include <QtTest>

using LinkFrame::Receiver;

Q_DECLARE_METATYPE(Receiver::State)

class TestLinkFrame : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void encodeRejectsSmallBuffer();
    void transitions_data();
    void transitions();
    void roundTrip();
    void completedPayloadSurvivesUntilNextFrame();
    void externalBuffer();
};

static QByteArray hex(const char *s)
{
    return QByteArray::fromHex(s);
}

void TestLinkFrame::encode_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("worked example") << hex("051002") << hex("1002051010021003 2A");
    QTest::newRow("empty payload") << QByteArray() << hex("10021003 13");
    // 0x13 + 0xFD = 0x110: the checksum is 0x10 and goes out once.
    QTest::newRow("checksum 0x10 unescaped") << hex("FD") << hex("1002FD1003 10");
    QTest::newRow("payload and checksum 0x10") << hex("10ED") << hex("10021010ED1003 10");
    QTest::newRow("STX and ETX not escaped") << hex("0203") << hex("100202031003 18");
    QTest::newRow("run of DLEs") << hex("101010") << hex("1002101010101010 1003 43");
}

void TestLinkFrame::encode()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    QCOMPARE(LinkFrame::encode(payload).toHex(' '), frame.toHex(' '));
    QVERIFY(frame.size() <= LinkFrame::maxFrameSize(int(payload.size())));
}

void TestLinkFrame::encodeRejectsSmallBuffer()
{
    const uint8_t aPayload[] = {0x10, 0x10};
    uint8_t aFrame[8];
    // Needs 9 bytes: 2 + 4 + 3.
    QCOMPARE(LinkFrame::encode(aPayload, 2, aFrame, 8), -1);
    uint8_t aBig[9];
    QCOMPARE(LinkFrame::encode(aPayload, 2, aBig, 9), 9);
}

// Each row drives a receiver of the given capacity into a state with the
// prefix bytes, then feeds one byte and checks where it went.
void TestLinkFrame::transitions_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<Receiver::State>("before");
    QTest::addColumn<int>("byte");
    QTest::addColumn<Receiver::State>("after");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("count");

    using S = Receiver::State;
    // clang-format off
    QTest::newRow("Hunt DLE")              << 8 << hex("")         << S::Hunt       << 0x10 << S::AfterDLE   << 50  << 0;
    QTest::newRow("Hunt LIFE_TRIGGER")     << 8 << hex("")         << S::Hunt       << 0x2A << S::Hunt       << 103 << 0;
    QTest::newRow("Hunt other")            << 8 << hex("2A")       << S::Hunt       << 0x55 << S::Hunt       << 50  << 0;
    QTest::newRow("Hunt STX")              << 8 << hex("")         << S::Hunt       << 0x02 << S::Hunt       << 50  << 0;
    QTest::newRow("AfterDLE STX")          << 8 << hex("10")       << S::AfterDLE   << 0x02 << S::InFrame    << 51  << 0;
    QTest::newRow("AfterDLE DLE")          << 8 << hex("10")       << S::AfterDLE   << 0x10 << S::AfterDLE   << 50  << 0;
    QTest::newRow("AfterDLE other")        << 8 << hex("10")       << S::AfterDLE   << 0x03 << S::Hunt       << 50  << 0;
    QTest::newRow("InFrame DLE")           << 8 << hex("1002AA")   << S::InFrame    << 0x10 << S::InFrameDLE << 51  << 1;
    QTest::newRow("InFrame byte")          << 8 << hex("1002AA")   << S::InFrame    << 0x2A << S::InFrame    << 51  << 2;
    QTest::newRow("InFrame byte at cap")   << 1 << hex("1002AA")   << S::InFrame    << 0xBB << S::Hunt       << 0   << 1;
    QTest::newRow("InFrameDLE STX")        << 8 << hex("1002AA10") << S::InFrameDLE << 0x02 << S::InFrame    << 51  << 0;
    QTest::newRow("InFrameDLE DLE")        << 8 << hex("1002AA10") << S::InFrameDLE << 0x10 << S::InFrame    << 51  << 2;
    QTest::newRow("InFrameDLE DLE at cap") << 1 << hex("1002AA10") << S::InFrameDLE << 0x10 << S::Hunt       << 0   << 1;
    QTest::newRow("InFrameDLE ETX")        << 8 << hex("1002AA10") << S::InFrameDLE << 0x03 << S::Checksum   << 51  << 1;
    QTest::newRow("InFrameDLE ETX empty")  << 8 << hex("100210")   << S::InFrameDLE << 0x03 << S::Hunt       << 50  << 0;
    QTest::newRow("InFrameDLE other")      << 8 << hex("1002AA10") << S::InFrameDLE << 0x55 << S::Hunt       << 50  << 1;
    QTest::newRow("Checksum good")         << 8 << hex("1002AA1003") << S::Checksum << 0xBD << S::Hunt       << 1   << 1;
    QTest::newRow("Checksum bad")          << 8 << hex("1002AA1003") << S::Checksum << 0xBC << S::Hunt       << 0   << 1;
    QTest::newRow("Checksum 0x10")         << 8 << hex("1002FD1003") << S::Checksum << 0x10 << S::Hunt       << 1   << 1;
    QTest::newRow("capacity 0 overflows")  << 0 << hex("1002")     << S::InFrame    << 0x01 << S::Hunt       << 0   << 0;
    // clang-format on
}

void TestLinkFrame::transitions()
{
    QFETCH(int, capacity);
    QFETCH(QByteArray, prefix);
    QFETCH(Receiver::State, before);
    QFETCH(int, byte);
    QFETCH(Receiver::State, after);
    QFETCH(int, status);
    QFETCH(int, count);

    Receiver receiver(capacity);
    QCOMPARE(receiver.state(), Receiver::State::Hunt);
    QCOMPARE(receiver.status(), int(Receiver::NoData));
    for (char c : prefix)
        receiver.feed(uint8_t(c));
    QCOMPARE(receiver.state(), before);

    QCOMPARE(receiver.feed(uint8_t(byte)), status);
    QCOMPARE(receiver.status(), status);
    QCOMPARE(receiver.state(), after);
    QCOMPARE(receiver.count(), count);
    if (status == Receiver::Failed)
        QVERIFY(receiver.error() != Receiver::Error::None);
    else
        QCOMPARE(receiver.error(), Receiver::Error::None);
}

void TestLinkFrame::roundTrip()
{
    QRandomGenerator random(0x5FB0);
    for (int n = 0; n < 300; ++n) {
        const int nLength = 1 + int(random.bounded(LinkFrame::kMaxPayload));
        QByteArray payload(nLength, Qt::Uninitialized);
        for (char &c : payload) // DLE, STX, ETX and '*' turn up often
            c = char(random.bounded(4) == 0 ? "\x10\x02\x03*"[random.bounded(4)] : random.bounded(256));
        const QByteArray frame = LinkFrame::encode(payload);
        Receiver receiver;
        int nStatus = 0;
        for (int i = 0; i < frame.size(); ++i) {
            nStatus = receiver.feed(uint8_t(frame[i]));
            QCOMPARE(nStatus == Receiver::Complete, i == frame.size() - 1);
        }
        QCOMPARE(receiver.payloadBytes().toHex(), payload.toHex());
    }
}

void TestLinkFrame::completedPayloadSurvivesUntilNextFrame()
{
    Receiver receiver;
    for (char c : LinkFrame::encode(hex("0100AABB")) + hex("2A55"))
        receiver.feed(uint8_t(c));
    QCOMPARE(receiver.payloadBytes(), hex("0100AABB"));
    for (char c : hex("1002"))
        receiver.feed(uint8_t(c));
    QCOMPARE(receiver.count(), 0);
}

void TestLinkFrame::externalBuffer()
{
    uint8_t aBuffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    Receiver receiver(aBuffer, 3);
    int nStatus = 0;
    for (char c : LinkFrame::encode(hex("011002")))
        nStatus = receiver.feed(uint8_t(c));
    QCOMPARE(nStatus, int(Receiver::Complete));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(aBuffer), 4), hex("011002EE"));
    receiver.reset();
    QCOMPARE(receiver.state(), Receiver::State::Hunt);
    QCOMPARE(receiver.count(), 0);
}

QTEST_APPLESS_MAIN(TestLinkFrame)
#include "tst_linkframe.moc"
