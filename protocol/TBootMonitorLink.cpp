#include "TBootMonitorLink.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <climits>
#include <cstring>

#include "PortDiscovery.h"

namespace {
// The connection always starts at this rate.
constexpr uint32_t kOpenBaud = 9600;

void putIndex(ServiceExchange &exchange, uint8_t nService, uint16_t nIndex, uint8_t nSubIndex, int nCount)
{
    exchange.aRequest[0] = nService;
    exchange.aRequest[1] = uint8_t(nIndex >> 8);
    exchange.aRequest[2] = uint8_t(nIndex);
    exchange.aRequest[3] = nSubIndex;
    exchange.aRequest[4] = uint8_t(nCount); // 256 travels as 0
}

QString identField(const uint8_t *pField)
{
    const int nLength = int(int8_t(pField[0]));
    if (nLength < 1 || nLength > 15)
        return QString();
    int nEnd = nLength;
    while (nEnd > 0 && (pField[nEnd] == ' ' || pField[nEnd] == 0))
        --nEnd;
    return QString::fromLatin1(reinterpret_cast<const char *>(pField + 1), nEnd);
}
} // namespace

TBootMonitorLink::TBootMonitorLink(TComSerial *pTransport) : m_pTransport(pTransport)
{
}

TBootMonitorLink::~TBootMonitorLink() = default;

void TBootMonitorLink::setTransport(TComSerial *pTransport)
{
    m_pTransport.reset(pTransport);
}

bool TBootMonitorLink::isOpen() const
{
    return m_pTransport && m_pTransport->isOpen();
}

int TBootMonitorLink::setPortName(const QString &sPort)
{
    m_sPortName = sPort;
    return CommError::NoError;
}

int TBootMonitorLink::setRequestedBaudRate(uint32_t nBaudrate)
{
    // The table's 0 stands for the transport's default working rate.
    if (std::find(std::begin(baudRateTable), std::end(baudRateTable), nBaudrate) == std::end(baudRateTable))
        return CommError::InvalidParameter;
    m_nRequestedBaud = nBaudrate;
    return CommError::NoError;
}

uint32_t TBootMonitorLink::defaultWorkingBaudRate() const
{
    return m_pTransport ? m_pTransport->defaultWorkingBaudRate() : 0;
}

int TBootMonitorLink::connectMonitor()
{
    setPhase(ConnectPhase::Opening);
    if (!m_pTransport)
        return CommError::InitDriver;
    const QByteArray port = m_sPortName.toLocal8Bit();
    if (m_pTransport->open(port.constData(), kOpenBaud) != 0)
        return CommError::InitDriver;

    setPhase(ConnectPhase::DetectingRate);
    int nBudget = m_nConnectRetries;
    const int nRate = detectRate(nBudget);
    if (nRate <= 0) {
        disconnectMonitor();
        return CommError::Timeout;
    }
    m_nCurrentBaud = uint32_t(nRate);
    if (m_nConnectRetries == 0) {
        // A failed switch leaves the link working at the detected rate.
        switchBaudRate();
    } else if (const int nResult = switchAndConfirm(nBudget)) {
        disconnectMonitor();
        return nResult;
    }
    setPhase(ConnectPhase::None);
    return CommError::NoError;
}

void TBootMonitorLink::setConnectRetries(int nRetries)
{
    m_nConnectRetries = std::max(0, nRetries);
}

void TBootMonitorLink::setPhase(ConnectPhase nPhase, uint32_t nRate)
{
    m_nFailedPhase = nPhase;
    m_nPhaseRate = nRate;
}

QString TBootMonitorLink::connectPhaseText(ConnectPhase nPhase, uint32_t nRate)
{
    switch (nPhase) {
    case ConnectPhase::None: break;
    case ConnectPhase::Opening: return QStringLiteral("opening the port");
    case ConnectPhase::DetectingRate: return QStringLiteral("detecting the rate");
    case ConnectPhase::SwitchingRate: return QStringLiteral("switching to %1 baud").arg(nRate);
    case ConnectPhase::ConfirmingRate: return QStringLiteral("confirming %1 baud").arg(nRate);
    }
    return QString();
}

QString TBootMonitorLink::connectFailureText(int nCode) const
{
    const QString sText = errorText(nCode);
    if (m_nFailedPhase == ConnectPhase::None)
        return sText;
    if (m_nFailedPhase == ConnectPhase::Opening && m_pTransport) {
        const QString sAdvice = portOpenAdvice(m_pTransport->lastOpenError());
        if (!sAdvice.isEmpty())
            return sText + QLatin1Char('\n') + sAdvice;
    }
    return sText + QStringLiteral("\nFailed while %1.").arg(connectPhaseText(m_nFailedPhase, m_nPhaseRate));
}

int TBootMonitorLink::disconnectMonitor()
{
    if (isOpen())
        m_pTransport->close();
    return CommError::NoError;
}

bool TBootMonitorLink::probe(bool &bHeardSilence)
{
    uint32_t nValue = 0;
    const int nResult = readU32(MonitorObjects::kBaudRate, MonitorObjects::kBaudRateSub, nValue);
    // Silence may be a lost answer at the right rate; a line that keeps
    // talking without a frame is noise at every rate.
    if (nResult == CommError::Timeout && m_nLastLineBytes == 0)
        bHeardSilence = true;
    // A monitor that does not know the object still answered at this rate.
    return nResult == CommError::NoError || nResult == CommError::ObjectUndefined;
}

int TBootMonitorLink::detectBaudRate()
{
    int nBudget = 0;
    return detectRate(nBudget);
}

int TBootMonitorLink::detectRate(int &nBudget)
{
    if (!isOpen())
        return -1;
    setTimeout(kProbeTimeoutMs);
    m_nSlackMs = kProbeSlackMs;

    int nFound = -1;
    for (;;) {
        bool bHeardSilence = false;
        uint32_t nPortRate = 0;
        m_pTransport->getBaudRate(nPortRate);
        if (m_nCurrentBaud != 0) {
            if (nPortRate != m_nCurrentBaud)
                m_pTransport->setBaudRate(m_nCurrentBaud);
            if (probe(bHeardSilence))
                nFound = int(m_nCurrentBaud);
        }
        // Table order, skipping the 0 that stands for the default rate.
        for (uint32_t nRate : baudRateTable) {
            if (nFound > 0)
                break;
            if (nRate == 0)
                continue;
            m_pTransport->setBaudRate(nRate);
            if (probe(bHeardSilence))
                nFound = int(nRate);
        }
        // One more scan only helps when an answer may have been lost.
        if (nFound > 0 || nBudget == 0 || !bHeardSilence)
            break;
        --nBudget;
    }
    m_nSlackMs = kTransactionSlackMs;
    setTimeout(kDefaultTimeoutMs);
    return nFound;
}

int TBootMonitorLink::switchAndConfirm(int &nBudget)
{
    const uint32_t nTarget = m_nRequestedBaud != 0 ? m_nRequestedBaud : defaultWorkingBaudRate();
    while (nTarget != m_nCurrentBaud) {
        setPhase(ConnectPhase::SwitchingRate, nTarget);
        const int nResult = switchOnce(nTarget);
        if (nResult == CommError::NoError)
            break;
        // Refused: the monitor answered at the old rate and stays there.
        // Lost or garbled: it may have moved, so find it again.
        const bool bRefused = m_nLastTransact == CommError::NoError;
        if (nBudget == 0)
            return bRefused ? CommError::NoError : nResult; // a refusal leaves the detected rate
        --nBudget;
        if (bRefused)
            continue;
        const int nRate = detectRate(nBudget);
        if (nRate <= 0)
            return CommError::Timeout;
        m_nCurrentBaud = uint32_t(nRate);
    }
    return CommError::NoError;
}

int TBootMonitorLink::switchOnce(uint32_t nTarget)
{
    setTimeout(kProbeTimeoutMs);
    uint32_t nMonitorRate = 0;
    int nResult = readU32(MonitorObjects::kBaudRate, MonitorObjects::kBaudRateSub, nMonitorRate);
    if (nResult == CommError::NoError && nMonitorRate != nTarget) {
        nResult = writeU32(MonitorObjects::kBaudRate, MonitorObjects::kBaudRateSub, nTarget);
        if (nResult == CommError::NoError) {
            QThread::msleep(kSwitchSettleMs);
            m_pTransport->setBaudRate(nTarget);
            m_nCurrentBaud = nTarget;
            setPhase(ConnectPhase::ConfirmingRate, nTarget);
            // Any answer at the new rate shows the monitor is there.
            m_nSlackMs = kProbeSlackMs;
            bool bHeardSilence = false;
            probe(bHeardSilence);
            nResult = m_nLastTransact;
            m_nSlackMs = kTransactionSlackMs;
        }
    }
    setTimeout(kDefaultTimeoutMs);
    return nResult;
}

int TBootMonitorLink::switchBaudRate()
{
    const uint32_t nDefault = defaultWorkingBaudRate();
    setTimeout(kProbeTimeoutMs);

    uint32_t nMonitorRate = 0;
    if (readU32(MonitorObjects::kBaudRate, MonitorObjects::kBaudRateSub, nMonitorRate) != 0) {
        if (m_nRequestedBaud != 0 && m_nRequestedBaud != kOpenBaud)
            m_nRequestedBaud = 0;
        setTimeout(kDefaultTimeoutMs);
        return -1;
    }

    const uint32_t nTarget = m_nRequestedBaud != 0 ? m_nRequestedBaud : nDefault;
    if (m_nCurrentBaud != m_nRequestedBaud && nTarget != m_nCurrentBaud && nTarget != nMonitorRate) {
        if (writeU32(MonitorObjects::kBaudRate, MonitorObjects::kBaudRateSub, nTarget) != 0) {
            if (m_nRequestedBaud != 0)
                m_nRequestedBaud = m_nCurrentBaud;
            setTimeout(kDefaultTimeoutMs);
            return -1;
        }
        // The monitor answers at the old rate and then changes its line;
        // give it time before the port follows.
        QThread::msleep(kSwitchSettleMs);
        m_pTransport->setBaudRate(nTarget);
        m_nCurrentBaud = nTarget;
    }
    setTimeout(kDefaultTimeoutMs);
    return 0;
}

int TBootMonitorLink::setTimeout(uint32_t nMilliseconds)
{
    if (!m_pTransport)
        return CommError::NotConnected;
    m_nTimeoutMs = nMilliseconds;
    return m_pTransport->setTimeout(nMilliseconds);
}

int TBootMonitorLink::restoreDefaultTimeout()
{
    return setTimeout(kDefaultTimeoutMs);
}

int TBootMonitorLink::transact(ServiceExchange &exchange)
{
    if (!isOpen())
        return CommError::NotConnected;
    const int nDeadline = int(std::min<uint32_t>(m_nTimeoutMs, INT_MAX - kTransactionSlackMs)) + m_nSlackMs;
    m_nLastTransact = ::transact(*m_pTransport, exchange, nDeadline);
    m_nLastLineBytes = exchange.nLineBytes;
    return m_nLastTransact;
}

int TBootMonitorLink::objectTransaction(ServiceExchange &exchange, uint16_t nIndex, uint8_t nSubIndex, int nLength)
{
    // Timed only when somebody watches.
    QElapsedTimer timer;
    if (m_observer)
        timer.start();
    int nResult = transact(exchange);
    if (nResult == CommError::NoError) {
        const uint8_t nExpected = exchange.aRequest[0] == ReadObjectRequest    ? ReadObjectResponse
                                  : exchange.aRequest[0] == WriteObjectRequest ? WriteObjectResponse
                                                                               : DeviceIdentResponse;
        // Without its status byte an answer proves nothing.
        if (exchange.aResponse[0] != nExpected || exchange.nResponseLength < 2)
            nResult = CommError::ProtocolError;
        else
            nResult = exchange.aResponse[1];
    }
    if (m_observer)
        m_observer({exchange.aRequest[0], nIndex, nSubIndex, nLength, nResult, timer.nsecsElapsed() / 1000});
    return nResult;
}

int TBootMonitorLink::writeObject(uint16_t nIndex, uint8_t nSubIndex, const uint8_t *pData, int nCount)
{
    if (!isOpen())
        return CommError::NotConnected;
    // A count the frame cannot carry would be cut silently; refuse it instead.
    if (nCount < 0 || nCount > kMaxObjectData || (nCount > 0 && pData == nullptr))
        return CommError::InvalidParameter;

    ServiceExchange exchange;
    exchange.nRequestLength = nCount + 5;
    exchange.nResponseCapacity = 4;
    putIndex(exchange, WriteObjectRequest, nIndex, nSubIndex, nCount);
    if (nCount > 0)
        std::memcpy(exchange.aRequest + 5, pData, size_t(nCount));
    return objectTransaction(exchange, nIndex, nSubIndex, nCount);
}

int TBootMonitorLink::readObject(uint16_t nIndex, uint8_t nSubIndex, uint8_t *pData, int nCount)
{
    if (!isOpen())
        return CommError::NotConnected;
    if (nCount < 0 || nCount > kMaxObjectData || (nCount > 0 && pData == nullptr))
        return CommError::InvalidParameter;

    ServiceExchange exchange;
    exchange.nRequestLength = 5;
    exchange.nResponseCapacity = LinkFrame::kMaxPayload;
    putIndex(exchange, ReadObjectRequest, nIndex, nSubIndex, nCount);
    int nResult = objectTransaction(exchange, nIndex, nSubIndex, nCount);
    if (nResult != CommError::NoError)
        return nResult;
    // Padding a short answer with zeros would hand made-up data to the caller
    // (a read-back file, a verify); a short answer is a protocol error.
    if (exchange.nResponseLength < 5 + nCount)
        return CommError::ProtocolError;
    if (nCount > 0)
        std::memcpy(pData, exchange.aResponse + 5, size_t(nCount));
    return CommError::NoError;
}

int TBootMonitorLink::readDeviceIdent(QString &sText1, QString &sText2, QString &sText3)
{
    if (!isOpen())
        return CommError::NotConnected;
    ServiceExchange exchange;
    exchange.nRequestLength = 3;
    exchange.nResponseCapacity = 52;
    exchange.aRequest[0] = DeviceIdentRequest;
    const int nResult = objectTransaction(exchange, 0, 0, 0);
    if (nResult != CommError::NoError)
        return nResult;
    // Fields the monitor leaves out read as empty texts.
    sText1 = identField(exchange.aResponse + 4);
    sText2 = identField(exchange.aResponse + 20);
    sText3 = identField(exchange.aResponse + 36);
    return CommError::NoError;
}

void TBootMonitorLink::errorText(int nCode, QString &sText)
{
    sText = CommError::text(nCode);
}

QString TBootMonitorLink::errorText(int nCode)
{
    return CommError::text(nCode);
}

void TBootMonitorLink::setTransactionObserver(TransactionObserver observer)
{
    m_observer = std::move(observer);
}
