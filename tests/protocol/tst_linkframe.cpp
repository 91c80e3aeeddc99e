// The frame format as one table: bytes fed to a receiver of a given
// capacity, where it ends up, and, for whole frames, that the encoder writes
// exactly those bytes.
#include "LinkFrame.h"

#include <QRandomGenerator>
#include <QtTest>

using LinkFrame::Receiver;
using S = Receiver::State;
Q_DECLARE_METATYPE(Receiver::State)

class TestLinkFrame : public QObject
{
    Q_OBJECT

private slots:
    void frame_data();
    void frame();
    void roundTrip();
};

void TestLinkFrame::frame_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<S>("state");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("payload"); // what the receiver holds
    QTest::addColumn<bool>("encoded");       // the encoder writes exactly wire for payload
    auto row = [](const char *sName, int nCapacity, const char *sWire, S state, int nStatus, const char *sPayload,
                  bool bEncoded = false) {
        QTest::newRow(sName) << nCapacity << QByteArray::fromHex(sWire) << state << nStatus
                             << QByteArray::fromHex(sPayload) << bEncoded;
    };
    // Whole frames: escaping, the checksum (never escaped), the empty frame.
    row("worked example", 8, "1002051010021003 2A", S::Hunt, 1, "051002", true);
    row("checksum 0x10 unescaped", 8, "1002FD1003 10", S::Hunt, 1, "FD", true);
    row("payload and checksum 0x10", 8, "10021010ED1003 10", S::Hunt, 1, "10ED", true);
    row("STX and ETX not escaped", 8, "100202031003 18", S::Hunt, 1, "0203", true);
    row("run of DLEs", 8, "1002101010101010 1003 43", S::Hunt, 1, "101010", true);
    row("exactly at capacity", 3, "1002AA1010BB1003 88", S::Hunt, 1, "AA10BB", true);
    row("empty frame ignored", 8, "10021003 13", S::Hunt, 50, "");
    // Every transition of the receiver: the last byte is the one under test.
    row("Hunt DLE", 8, "10", S::AfterDLE, 50, "");
    row("Hunt LIFE_TRIGGER", 8, "2A", S::Hunt, 103, "");
    row("Hunt other", 8, "2A55", S::Hunt, 50, "");
    row("Hunt STX", 8, "02", S::Hunt, 50, "");
    row("AfterDLE STX", 8, "1002", S::InFrame, 51, "");
    row("AfterDLE DLE", 8, "1010", S::AfterDLE, 50, "");
    row("AfterDLE other", 8, "1003", S::Hunt, 50, "");
    row("InFrame DLE", 8, "1002AA10", S::InFrameDLE, 51, "AA");
    row("InFrame byte", 8, "1002AA2A", S::InFrame, 51, "AA2A");
    row("InFrame byte over capacity", 1, "1002AABB", S::Hunt, 0, "AA");
    row("capacity 0 overflows", 0, "100201", S::Hunt, 0, "");
    row("InFrameDLE STX restarts", 8, "1002AA1002", S::InFrame, 51, "");
    row("InFrameDLE DLE", 8, "1002AA1010", S::InFrame, 51, "AA10");
    row("InFrameDLE DLE over capacity", 1, "1002AA1010", S::Hunt, 0, "AA");
    row("InFrameDLE ETX", 8, "1002AA1003", S::Checksum, 51, "AA");
    row("InFrameDLE other drops", 8, "1002AA1055", S::Hunt, 50, "AA");
    row("Checksum bad", 8, "1002AA1003BC", S::Hunt, 0, "AA");
    row("bytes after the frame", 8, "1002AA1003BD 2A55", S::Hunt, 50, "AA");
    row("next frame starts empty", 8, "1002AA1003BD 1002", S::InFrame, 51, "");
}

void TestLinkFrame::frame()
{
    QFETCH(int, capacity);
    QFETCH(QByteArray, wire);
    QFETCH(S, state);
    QFETCH(int, status);
    QFETCH(QByteArray, payload);
    QFETCH(bool, encoded);

    Receiver receiver(capacity);
    int nStatus = receiver.status();
    for (char c : wire)
        nStatus = receiver.feed(uint8_t(c));
    QCOMPARE(nStatus, status);
    QCOMPARE(receiver.state(), state);
    QCOMPARE(receiver.payloadBytes().toHex(' '), payload.toHex(' '));
    QCOMPARE(receiver.error() != Receiver::Error::None, status == Receiver::Failed);
    if (encoded)
        QCOMPARE(LinkFrame::encode(payload).toHex(' '), wire.toHex(' '));
}

// Random payloads rich in DLE, STX, ETX and '*' survive the trip, and the
// frame completes on its last byte only.
void TestLinkFrame::roundTrip()
{
    QRandomGenerator random(0x5FB0);
    for (int n = 0; n < 300; ++n) {
        QByteArray payload(1 + int(random.bounded(LinkFrame::kMaxPayload)), Qt::Uninitialized);
        for (char &c : payload)
            c = char(random.bounded(4) == 0 ? "\x10\x02\x03*"[random.bounded(4)] : random.bounded(256));
        const QByteArray frame = LinkFrame::encode(payload);
        QVERIFY(frame.size() <= LinkFrame::maxFrameSize(int(payload.size())));
        Receiver receiver;
        for (int i = 0; i < frame.size(); ++i)
            QCOMPARE(receiver.feed(uint8_t(frame[i])) == Receiver::Complete, i == frame.size() - 1);
        QCOMPARE(receiver.payloadBytes(), payload);
    }
}

QTEST_APPLESS_MAIN(TestLinkFrame)
#include "tst_linkframe.moc"
