#ifndef TBOOTMONITORLINK_H
#define TBOOTMONITORLINK_H

#include "CommError.h"
#include "LinkTransaction.h"
#include "MonitorObjects.h"
#include "TComSerial.h"

#include <QString>
#include <QtEndian>

#include <cstdint>
#include <functional>
#include <memory>

// What a finished transaction looked like, for whoever watches the line
// (production-line statistics, traces). Object services fill index,
// subindex and the data length; identification leaves them 0.
struct TransactionRecord
{
    uint8_t nService = 0; // request service code (0x04 read, 0x05 write, 0x09 ident)
    uint16_t nIndex = 0;
    uint8_t nSubIndex = 0;
    int32_t nLength = 0;      // data bytes written or asked for
    int32_t nStatus = 0;      // the service's result code
    int64_t nRoundTripUs = 0; // from the purge before sending to the end of reception
};
using TransactionObserver = std::function<void(const TransactionRecord &)>;

// The worker's endpoint to the drive's boot monitor: connection (port, rate
// probing, rate switch), read time-outs, and reads and writes of the
// monitor's objects (16-bit index, 8-bit subindex, numbers most significant
// byte first). Every service returns a communication status code
// (CommError.h), 0 on success. Used by one thread at a time.
class TBootMonitorLink
{
public:
    // Service codes: the first payload byte of a frame.
    enum Service : uint8_t
    {
        ReadObjectRequest = 0x04,
        ReadObjectResponse = 0x01,
        WriteObjectRequest = 0x05,
        WriteObjectResponse = 0x02,
        DeviceIdentRequest = 0x09,
        DeviceIdentResponse = 0x08
    };

    static constexpr uint32_t kDefaultTimeoutMs = 500;
    static constexpr uint32_t kProbeTimeoutMs = 300;
    static constexpr uint32_t kSwitchSettleMs = 50;
    // Slack on top of the read time-out for one whole transaction.
    static constexpr int kTransactionSlackMs = 3000;
    // The same for a rate probe: its answer is a dozen bytes, so a line
    // that streams noise or LIFE_TRIGGERs is given up on soon at each rate.
    static constexpr int kProbeSlackMs = 100;
    // Most data bytes one object transaction carries.
    static constexpr int kMaxObjectData = 256;

    // The steps of connectMonitor(), to say where a connection failed.
    enum class ConnectPhase
    {
        None,          // no failure
        Opening,       // opening the port
        DetectingRate, // finding the rate the monitor answers at
        SwitchingRate, // moving monitor and port to the working rate
        ConfirmingRate // probing the monitor at the working rate
    };

    // Takes ownership of pTransport (may be null, see setTransport).
    explicit TBootMonitorLink(TComSerial *pTransport = nullptr);
    // Deletes the transport without closing it; close with disconnectMonitor first.
    ~TBootMonitorLink();
    TBootMonitorLink(const TBootMonitorLink &) = delete;
    TBootMonitorLink &operator=(const TBootMonitorLink &) = delete;

    // Replaces (and deletes) the owned transport.
    void setTransport(TComSerial *pTransport);
    // The transport, still owned by the link: the worker asks isOpen and its
    // wake-up sequence writes raw bytes through it.
    TComSerial *transport() const { return m_pTransport.get(); }
    bool isOpen() const;

    // Connection settings.
    int setPortName(const QString &sPort); // always 0
    QString portName() const { return m_sPortName; }
    // 0 for one of 0, 9600, ... 921600 (0 = the transport's default rate);
    // 1 for any other rate, which leaves the previous value in force.
    int setRequestedBaudRate(uint32_t nBaudrate);
    // Rate at which the tool last talked to the monitor; 0 before the first detection.
    uint32_t currentBaudRate() const { return m_nCurrentBaud; }
    // Working rate used when none is requested: the transport's own default
    // (0 without a transport).
    uint32_t defaultWorkingBaudRate() const;

    // Opens the port at 9600, finds the monitor's rate and moves both sides to
    // the working rate. 0, 11 (open failed) or 101 (no rate answered; port
    // closed); with retries also the code of a switch that could not be
    // completed (port closed). lastConnectPhase() tells where it failed.
    int connectMonitor();

    // Extra attempts connectMonitor() may spend, all told, on a dropped,
    // garbled or busy answer: a scan that found no rate but heard silence at
    // one (a lost answer, not a noisy line) runs once more, and the rate
    // switch is confirmed with a probe at the new rate; when that or the
    // switch fails, the switch is tried again, after detecting the rate
    // anew unless the monitor refused it. 0 (the default): the connection
    // runs as it always did, request for request.
    void setConnectRetries(int nRetries);
    // Where the last connectMonitor() failed; None after success.
    ConnectPhase lastConnectPhase() const { return m_nFailedPhase; }
    // For SwitchingRate and ConfirmingRate: the working rate aimed at.
    uint32_t lastConnectTargetRate() const { return m_nPhaseRate; }
    // "opening the port", "detecting the rate", "switching to 115200 baud",
    // "confirming 115200 baud"; empty for None. Never translated.
    static QString connectPhaseText(ConnectPhase nPhase, uint32_t nRate);
    // The message of the last connectMonitor(), which returned nCode: the
    // code's message (errorText()) and, on a line of its own, why the port
    // could not be opened and what to do about it (portOpenAdvice()) where
    // the transport can tell, else the phase that failed ("Failed while
    // detecting the rate."). Never translated.
    QString connectFailureText(int nCode) const;

    // Closes the transport; always 0.
    int disconnectMonitor();
    // Probes the baud-rate object at the last known rate, else at each table
    // rate from 9600 up. Returns the rate found or -1.
    int detectBaudRate();
    // Moves monitor and port to the requested (or default) rate.
    // 0 when the link runs at the working rate, -1 otherwise.
    int switchBaudRate();

    // Read time-out of the transport, in ms (the transport's result).
    int setTimeout(uint32_t nMilliseconds);
    int restoreDefaultTimeout(); // 500 ms
    uint32_t timeout() const { return m_nTimeoutMs; }

    // Object services. nCount is 0..256 data bytes; any other count gives 1
    // without touching the line. readObject fails with 120 when the monitor
    // answers with fewer data bytes than asked for; pData is left as it was
    // on any failure.
    int writeObject(uint16_t nIndex, uint8_t nSubIndex, const uint8_t *pData, int nCount);
    int readObject(uint16_t nIndex, uint8_t nSubIndex, uint8_t *pData, int nCount);
    int writeU32(uint16_t nIndex, uint8_t nSubIndex, uint32_t nValue) { return writeNumber(nIndex, nSubIndex, nValue); }
    int writeU16(uint16_t nIndex, uint8_t nSubIndex, uint16_t nValue) { return writeNumber(nIndex, nSubIndex, nValue); }
    int writeU8(uint16_t nIndex, uint8_t nSubIndex, uint8_t nValue) { return writeNumber(nIndex, nSubIndex, nValue); }
    // On failure the out value is left untouched.
    int readU32(uint16_t nIndex, uint8_t nSubIndex, uint32_t &nValue) { return readNumber(nIndex, nSubIndex, nValue); }
    int readU16(uint16_t nIndex, uint8_t nSubIndex, uint16_t &nValue) { return readNumber(nIndex, nSubIndex, nValue); }
    int readU8(uint16_t nIndex, uint8_t nSubIndex, uint8_t &nValue) { return readNumber(nIndex, nSubIndex, nValue); }
    // The monitor's three identification texts.
    int readDeviceIdent(QString &sText1, QString &sText2, QString &sText3);

    // One framed exchange through the owned transport, with the overall
    // deadline of the read time-out plus kTransactionSlackMs.
    int transact(ServiceExchange &exchange);

    // The message of a status code; never translated.
    static void errorText(int nCode, QString &sText);
    static QString errorText(int nCode);

    // Called after every transaction when set; null (the default) costs nothing.
    void setTransactionObserver(TransactionObserver observer);

private:
    // The numbers' object services: sizeof(T) bytes, most significant first.
    template <typename T> int writeNumber(uint16_t nIndex, uint8_t nSubIndex, T nValue)
    {
        uint8_t aData[sizeof(T)];
        qToBigEndian(nValue, aData);
        return writeObject(nIndex, nSubIndex, aData, int(sizeof(T)));
    }
    template <typename T> int readNumber(uint16_t nIndex, uint8_t nSubIndex, T &nValue)
    {
        uint8_t aData[sizeof(T)];
        const int nResult = readObject(nIndex, nSubIndex, aData, int(sizeof(T)));
        if (nResult == CommError::NoError)
            nValue = qFromBigEndian<T>(aData);
        return nResult;
    }
    int objectTransaction(ServiceExchange &exchange, uint16_t nIndex, uint8_t nSubIndex, int nLength);
    int detectRate(int &nBudget);
    bool probe(bool &bHeardSilence);
    int switchAndConfirm(int &nBudget);
    int switchOnce(uint32_t nTarget);
    void setPhase(ConnectPhase nPhase, uint32_t nRate = 0);

    std::unique_ptr<TComSerial> m_pTransport;
    QString m_sPortName = QStringLiteral("COM1");
    uint32_t m_nCurrentBaud = 0;
    uint32_t m_nRequestedBaud = 0;
    uint32_t m_nTimeoutMs = kDefaultTimeoutMs;
    int m_nSlackMs = kTransactionSlackMs;
    int m_nConnectRetries = 0;
    ConnectPhase m_nFailedPhase = ConnectPhase::None;
    uint32_t m_nPhaseRate = 0;
    // What the last transaction saw of the line: its frame-layer result
    // (0: the monitor answered, whatever its status) and how many bytes came.
    int m_nLastTransact = 0;
    int m_nLastLineBytes = 0;
    TransactionObserver m_observer;
};

#endif // TBOOTMONITORLINK_H
