// The link's services and connection procedure against a small boot monitor
// played by the test on the drive side of a real pseudo-terminal. The
// monitor only answers when the tool's port runs at the monitor's own rate,
// as a real drive on a wrong baud rate would not understand the request.
#include "CommError.h"
#include "LinkFrame.h"
#include "PtyPeer.h"
#include "TBootMonitorLink.h"
#include "TComSerialPort.h"

#include <QtTest>

#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace {
QByteArray hex(const char *s)
{
    return QByteArray::fromHex(s);
}

QByteArray u32(uint32_t n)
{
    QByteArray bytes(4, 0);
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(n >> (24 - 8 * i));
    return bytes;
}

// The drive: an object dictionary, a line rate and a few ways to misbehave.
class TestMonitor
{
public:
    uint32_t nRate = 9600;
    int nBaudReadStatus = 0;  // status answered to reads of the baud-rate object
    int nBaudWriteStatus = 0; // status answered to writes of the baud-rate object
    int nObjectStatus = 0;    // status for every other object
    QByteArray fixedAnswer;   // when set, the payload answered to everything
    int nDataShortfall = 0;   // data bytes left out of read answers
    std::map<std::pair<int, int>, QByteArray> objects;

    QByteArray object(int nIndex, int nSub)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return objects[{nIndex, nSub}];
    }
    // A rate change takes effect once its answer has been handed over,
    // i.e. from the next request on.
    PtyPeer::Handler handler()
    {
        return [this](const QByteArray &request, uint32_t nLineRate) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_nNextRate)
                nRate = std::exchange(m_nNextRate, 0);
            return PtyPeer::frame(answer(request, nLineRate));
        };
    }

private:
    QByteArray answer(const QByteArray &request, uint32_t nLineRate)
    {
        if (nLineRate != nRate || request.isEmpty())
            return QByteArray();
        if (!fixedAnswer.isEmpty())
            return fixedAnswer;
        const auto service = uint8_t(request[0]);
        if (service == 0x09) {
            QByteArray ident = hex("08000000");
            ident += field("SERVO") + field("V1.2   ") + field(QByteArray(16, 'x'));
            return ident;
        }
        if (request.size() < 5)
            return hex("FF");
        const int nIndex = uint8_t(request[1]) << 8 | uint8_t(request[2]);
        const int nSub = uint8_t(request[3]);
        int nCount = uint8_t(request[4]);
        const bool bBaud = nIndex == 0x5FB0 && nSub == 1;
        if (service == 0x04) {
            if (nCount == 0)
                nCount = 256;
            const int nStatus = bBaud ? nBaudReadStatus : nObjectStatus;
            QByteArray reply = QByteArray(1, 0x01) + char(nStatus) + hex("000000");
            if (nStatus != 0)
                return reply;
            QByteArray data = bBaud ? u32(nRate) : objects[{nIndex, nSub}];
            data = data.leftJustified(nCount, 0, true);
            return reply + data.left(nCount - nDataShortfall);
        }
        if (service == 0x05) {
            const int nStatus = bBaud ? nBaudWriteStatus : nObjectStatus;
            if (nStatus == 0) {
                const QByteArray data = request.mid(5);
                objects[{nIndex, nSub}] = data;
                if (bBaud) // the answer still goes out at the old rate
                    m_nNextRate =
                        uint8_t(data[0]) << 24 | uint8_t(data[1]) << 16 | uint8_t(data[2]) << 8 | uint8_t(data[3]);
            }
            return QByteArray(1, 0x02) + char(nStatus);
        }
        return hex("FF");
    }
    static QByteArray field(const QByteArray &text)
    {
        QByteArray f(16, 0);
        f[0] = char(text.size());
        f.replace(1, qMin(15, int(text.size())), text.left(15));
        return f.left(16);
    }

private:
    std::mutex m_mutex;
    uint32_t m_nNextRate = 0;
};
} // namespace

class TestBootMonitorLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void errorText();
    void requestedRate_data();
    void requestedRate();
    void closedTransport_data();
    void closedTransport();

    void connect_data();
    void connect();
    void connectNoMonitor();
    void connectCannotOpen();

    void readValues();
    void responses_data();
    void responses();
    void writeObjectCounts_data();
    void writeObjectCounts();
    void deviceIdent();
    void observer();

private:
    bool openLink();

    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<TestMonitor> m_monitor;
    std::unique_ptr<TBootMonitorLink> m_link;
};

void TestBootMonitorLink::init()
{
    m_peer = std::make_unique<PtyPeer>();
    QVERIFY(m_peer->isValid());
    m_monitor = std::make_unique<TestMonitor>();
    m_link = std::make_unique<TBootMonitorLink>(new TComSerialPort);
    m_link->setPortName(m_peer->devicePath());
}

void TestBootMonitorLink::cleanup()
{
    m_peer->stop();
    m_link->disconnectMonitor();
    m_link.reset();
    m_monitor.reset();
    m_peer.reset();
}

bool TestBootMonitorLink::openLink()
{
    m_peer->start(m_monitor->handler());
    const QByteArray path = m_peer->devicePath().toLocal8Bit();
    if (m_link->transport()->open(path.constData(), m_monitor->nRate) != 0)
        return false;
    return m_link->restoreDefaultTimeout() == 0;
}

void TestBootMonitorLink::errorText()
{
    QString sText = "stale";
    TBootMonitorLink::errorText(int(CommError::Timeout), sText);
    QVERIFY(sText != "stale" && !sText.startsWith("Unknown"));
    QCOMPARE(TBootMonitorLink::errorText(int(CommError::Timeout)), sText);
    for (int nCode : {99, -1})
        QCOMPARE(TBootMonitorLink::errorText(nCode), QStringLiteral("Unknown communcation error code %1").arg(nCode));
}

void TestBootMonitorLink::requestedRate_data()
{
    QTest::addColumn<uint>("rate");
    QTest::addColumn<int>("result");
    for (uint nRate : {0u, 9600u, 38400u, 921600u})
        QTest::addRow("%u", nRate) << nRate << 0;
    for (uint nRate : {1u, 4800u, 9601u, 1000000u, 0xFFFFFFFFu})
        QTest::addRow("%u rejected", nRate) << nRate << 1;
}

void TestBootMonitorLink::requestedRate()
{
    QFETCH(uint, rate);
    QFETCH(int, result);
    QCOMPARE(m_link->setRequestedBaudRate(460800), 0);
    QCOMPARE(m_link->setRequestedBaudRate(rate), result);
    QCOMPARE(m_link->requestedBaudRate(), result == 0 ? rate : 460800u);
}

void TestBootMonitorLink::closedTransport_data()
{
    QTest::addColumn<int>("service");
    const char *apNames[] = {"writeObject", "readObject", "writeU32", "writeU16",       "writeU8",
                             "readU32",     "readU16",    "readU8",   "readDeviceIdent"};
    for (int i = 0; i < 9; ++i)
        QTest::newRow(apNames[i]) << i;
}

void TestBootMonitorLink::closedTransport()
{
    QFETCH(int, service);
    m_peer->start(m_monitor->handler());
    uint8_t aData[4] = {1, 2, 3, 4};
    uint32_t n32 = 7;
    uint16_t n16 = 7;
    uint8_t n8 = 7;
    QString s1, s2, s3;
    auto call = [&](TBootMonitorLink &link) {
        switch (service) {
        case 0: return link.writeObject(0x5E10, 1, aData, 4);
        case 1: return link.readObject(0x5E10, 1, aData, 4);
        case 2: return link.writeU32(0x5E10, 1, 1);
        case 3: return link.writeU16(0x5E10, 1, 1);
        case 4: return link.writeU8(0x5E10, 1, 1);
        case 5: return link.readU32(0x5E10, 1, n32);
        case 6: return link.readU16(0x5E10, 1, n16);
        case 7: return link.readU8(0x5E10, 1, n8);
        default: return link.readDeviceIdent(s1, s2, s3);
        }
    };
    QCOMPARE(call(*m_link), int(CommError::NotConnected));
    TBootMonitorLink noTransport;
    QCOMPARE(call(noTransport), int(CommError::NotConnected));
    QCOMPARE(n32, 7u);
    QCOMPARE(aData[0], uint8_t(1));
    QVERIFY(m_peer->received().isEmpty());
}

// Connecting from scratch: detection, then the switch to the working rate.
void TestBootMonitorLink::connect_data()
{
    QTest::addColumn<uint>("monitorRate");
    QTest::addColumn<uint>("requested");
    QTest::addColumn<int>("baudReadStatus");
    QTest::addColumn<int>("baudWriteStatus");
    QTest::addColumn<uint>("finalRate");
    QTest::addColumn<uint>("requestedAfter");
    QTest::addColumn<bool>("rateWritten");

    // The COM-port transport's own default working rate is 115200.
    // clang-format off
    QTest::newRow("transport default")     << 9600u   << 0u      << 0   << 0   << 115200u << 0u      << true;
    QTest::newRow("requested = found")     << 38400u  << 38400u  << 0   << 0   << 38400u  << 38400u  << false;
    QTest::newRow("write rejected")        << 9600u   << 0u      << 0   << 174 << 9600u   << 0u      << true;
    QTest::newRow("write rejected, req")   << 19200u  << 230400u << 0   << 203 << 19200u  << 19200u  << true;
    QTest::newRow("probe 175, no switch")  << 57600u  << 230400u << 175 << 0   << 57600u  << 0u      << false;
    QTest::newRow("probe 175, req 9600")   << 9600u   << 9600u   << 175 << 0   << 9600u   << 9600u   << false;
    // clang-format on
}

void TestBootMonitorLink::connect()
{
    QFETCH(uint, monitorRate);
    QFETCH(uint, requested);
    QFETCH(int, baudReadStatus);
    QFETCH(int, baudWriteStatus);
    QFETCH(uint, finalRate);
    QFETCH(uint, requestedAfter);
    QFETCH(bool, rateWritten);

    m_monitor->nRate = monitorRate;
    m_monitor->nBaudReadStatus = baudReadStatus;
    m_monitor->nBaudWriteStatus = baudWriteStatus;
    QCOMPARE(m_link->setRequestedBaudRate(requested), 0);
    m_peer->start(m_monitor->handler());

    QCOMPARE(m_link->connectMonitor(), 0);
    QVERIFY(m_link->isOpen());
    QCOMPARE(m_link->currentBaudRate(), finalRate);
    QCOMPARE(m_peer->lineRate(), finalRate);
    QCOMPARE(m_link->requestedBaudRate(), requestedAfter);
    QCOMPARE(m_link->timeout(), 500u);

    bool bWritten = false;
    for (const QByteArray &request : m_peer->requests())
        bWritten = bWritten || request.startsWith(hex("055fb00104"));
    QCOMPARE(bWritten, rateWritten);

    // The link keeps working at the rate it settled on.
    if (baudReadStatus == 0) {
        uint32_t nValue = 0;
        QCOMPARE(m_link->readU32(0x5FB0, 1, nValue), 0);
        QCOMPARE(nValue, finalRate);
    }
}

void TestBootMonitorLink::connectNoMonitor()
{
    // Nobody answers; note the rate each probe came at.
    std::mutex mutex;
    QList<uint> rates;
    m_peer->start([&](const QByteArray &, uint32_t nLineRate) {
        std::lock_guard<std::mutex> lock(mutex);
        rates << nLineRate;
        return PtyPeer::Answer();
    });
    QCOMPARE(m_link->connectMonitor(), int(CommError::Timeout));
    QVERIFY(!m_link->isOpen());
    QCOMPARE(m_link->currentBaudRate(), 0u);
    m_peer->stop();
    // One probe per table rate, in table order, nothing else.
    QCOMPARE(rates, (QList<uint>{9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600}));
    for (const QByteArray &request : m_peer->requests())
        QCOMPARE(request.toHex(), QByteArray("045fb00104"));
}

void TestBootMonitorLink::connectCannotOpen()
{
    m_link->setPortName(QStringLiteral("/nonexistent/tty"));
    QCOMPARE(m_link->connectMonitor(), int(CommError::InitDriver));
    QVERIFY(!m_link->isOpen());
    TBootMonitorLink noTransport;
    QCOMPARE(noTransport.connectMonitor(), int(CommError::InitDriver));
}

void TestBootMonitorLink::readValues()
{
    m_monitor->objects[{0x5E11, 1}] = hex("0001C200");
    m_monitor->objects[{0x5E11, 2}] = hex("BEEF");
    m_monitor->objects[{0x5E11, 3}] = hex("7F");
    QVERIFY(openLink());
    uint32_t n32 = 0;
    uint16_t n16 = 0;
    uint8_t n8 = 0;
    QCOMPARE(m_link->readU32(0x5E11, 1, n32), 0);
    QCOMPARE(n32, 115200u);
    QCOMPARE(m_link->readU16(0x5E11, 2, n16), 0);
    QCOMPARE(n16, uint16_t(0xBEEF));
    QCOMPARE(m_link->readU8(0x5E11, 3, n8), 0);
    QCOMPARE(n8, uint8_t(0x7F));

    QCOMPARE(m_link->writeU32(0x5E10, 2, 0x12345678), 0);
    QCOMPARE(m_link->writeU16(0x5E10, 3, 0xA55A), 0);
    QCOMPARE(m_link->writeU8(0x5E20, 1, 0x10), 0);
    QCOMPARE(m_monitor->object(0x5E10, 2), hex("12345678"));
    QCOMPARE(m_monitor->object(0x5E10, 3), hex("A55A"));
    QCOMPARE(m_monitor->object(0x5E20, 1), hex("10"));
    const QList<QByteArray> requests = m_peer->requests();
    QCOMPARE(requests.at(0).toHex(), QByteArray("045e110104"));
    QCOMPARE(requests.at(1).toHex(), QByteArray("045e110202"));
    QCOMPARE(requests.at(3).toHex(), QByteArray("055e10020412345678"));
}

// Answers that are not what was asked for, and the monitor's own verdicts.
void TestBootMonitorLink::responses_data()
{
    QTest::addColumn<QByteArray>("fixedAnswer");
    QTest::addColumn<int>("objectStatus");
    QTest::addColumn<int>("shortfall");
    QTest::addColumn<int>("readResult");
    QTest::addColumn<int>("writeResult");

    // clang-format off
    QTest::newRow("read answered as write")  << hex("0200") << 0 << 0 << 120 << 0;
    QTest::newRow("write answered as read")  << hex("01000000") << 0 << 0 << 120 << 120;
    QTest::newRow("ident code")              << hex("0800") << 0 << 0 << 120 << 120;
    QTest::newRow("code byte only")          << hex("01") << 0 << 0 << 120 << 120;
    QTest::newRow("status 174")              << QByteArray() << 174 << 0 << 174 << 174;
    QTest::newRow("status 255")              << QByteArray() << 255 << 0 << 255 << 255;
    QTest::newRow("one data byte short")     << QByteArray() << 0 << 1 << 120 << 0;
    QTest::newRow("write answer too long")   << hex("0200000000") << 0 << 0 << 120 << 100;
    // clang-format on
}

void TestBootMonitorLink::responses()
{
    QFETCH(QByteArray, fixedAnswer);
    QFETCH(int, objectStatus);
    QFETCH(int, shortfall);
    QFETCH(int, readResult);
    QFETCH(int, writeResult);
    m_monitor->fixedAnswer = fixedAnswer;
    m_monitor->nObjectStatus = objectStatus;
    m_monitor->nDataShortfall = shortfall;
    m_monitor->objects[{0x5E11, 1}] = hex("11223344");
    QVERIFY(openLink());

    uint32_t nValue = 0xCAFE;
    QCOMPARE(m_link->readU32(0x5E11, 1, nValue), readResult);
    if (readResult != 0)
        QCOMPARE(nValue, 0xCAFEu);
    else
        QCOMPARE(nValue, 0x11223344u);
    QCOMPARE(m_link->writeU32(0x5E10, 1, 0x20), writeResult);
}

void TestBootMonitorLink::writeObjectCounts_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("result");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 0;
    QTest::newRow("256") << 256 << 0;
    QTest::newRow("257") << 257 << 1;
    QTest::newRow("-5") << -5 << 1;
}

// A count the frame cannot carry is refused instead of being cut short.
void TestBootMonitorLink::writeObjectCounts()
{
    QFETCH(int, count);
    QFETCH(int, result);
    QVERIFY(openLink());
    QByteArray data(400, '\x10');
    const auto *pData = reinterpret_cast<const uint8_t *>(data.constData());
    QCOMPARE(m_link->writeObject(0x5E22, 1, pData, count), result);
    QByteArray back(400, 0);
    QCOMPARE(m_link->readObject(0x5E22, 1, reinterpret_cast<uint8_t *>(back.data()), count), result);
    if (result == 0) {
        QCOMPARE(m_peer->requests().size(), 2);
        QCOMPARE(m_peer->requests().first().size(), 5 + count);
        QCOMPARE(uint8_t(m_peer->requests().first().at(4)), uint8_t(count));
        QCOMPARE(back.left(count), data.left(count));
    } else {
        QVERIFY(m_peer->requests().isEmpty());
    }
}

void TestBootMonitorLink::deviceIdent()
{
    QVERIFY(openLink());
    QString s1 = "a", s2 = "b", s3 = "c";
    QCOMPARE(m_link->readDeviceIdent(s1, s2, s3), 0);
    QCOMPARE(m_peer->requests().last().toHex(), QByteArray("090000"));
    QCOMPARE(s1, QStringLiteral("SERVO"));
    QCOMPARE(s2, QStringLiteral("V1.2")); // trailing blanks removed
    QCOMPARE(s3, QString());              // length 16: no text
}

void TestBootMonitorLink::observer()
{
    QVERIFY(openLink());
    QList<TransactionRecord> records;
    m_link->setTransactionObserver([&](const TransactionRecord &record) { records << record; });
    uint8_t aData[128] = {};
    QCOMPARE(m_link->writeObject(0x5E12, 7, aData, 128), 0);
    m_monitor->nObjectStatus = 174;
    uint32_t nValue = 0;
    QCOMPARE(m_link->readU32(0x5E11, 2, nValue), 174);
    m_link->setTransactionObserver(nullptr);
    QCOMPARE(m_link->writeU8(0x5E10, 1, 0), 174);

    auto text = [](const TransactionRecord &r) {
        return QStringLiteral("%1 %2 %3 %4 %5")
            .arg(r.nService)
            .arg(r.nIndex, 0, 16)
            .arg(r.nSubIndex)
            .arg(r.nLength)
            .arg(r.nStatus);
    };
    QCOMPARE(records.size(), 2);
    QCOMPARE(text(records[0]), QStringLiteral("5 5e12 7 128 0"));
    QCOMPARE(text(records[1]), QStringLiteral("4 5e11 2 4 174"));
    QVERIFY(records[0].nRoundTripUs > 0);
}

QTEST_APPLESS_MAIN(TestBootMonitorLink)
#include "tst_bootmonitorlink.moc"
