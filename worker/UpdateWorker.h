#ifndef UPDATEWORKER_H
#define UPDATEWORKER_H

#include "PgmEntry.h"
#include "WorkerStats.h"
#include "TBootMonitorLink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

class TComSerial;
class CountingSerial;

// Runs one update: wakes and connects the drive's boot monitor, then runs the
// job list against it. Lives in a thread of its own; process() blocks that
// thread for the whole run and talks to the window only through signals.
// A worker serves exactly one run.
class UpdateWorker : public QObject
{
    Q_OBJECT

public:
    // The transport is chosen for the port that setup() names (a serial
    // device or an FTDI converter, see createTransport()).
    UpdateWorker();
    // Runs over the given transport instead (tests, headless tool); the
    // worker takes ownership and deletes it.
    explicit UpdateWorker(TComSerial *pTransport);
    ~UpdateWorker() override;

    // Copies the connection record and the job list; a null pointer leaves
    // the parameters as they are, or empties the job list.
    bool setup(const BaseParams *pParams, const QVector<PgmEntry> *pJobs);

    // Ends the wake-pattern loop of "Powered off device" with a failure when
    // the drive has not answered within this many milliseconds. 0 (the
    // default) waits until the drive answers or the run is cancelled.
    void setWakeTimeout(uint32_t nMilliseconds) { m_nWakeTimeoutMs = nMilliseconds; }
    uint32_t wakeTimeout() const { return m_nWakeTimeoutMs; }

    // The block compressor used by Program; replaceable so that a faulty
    // compressor can be exercised. Same contract as compressBlock().
    using BlockCompressor = int (*)(const uint8_t *pInput, uint32_t nLength, void *pWork,
                                    uint8_t *pOutput, size_t nOutCapacity, uint32_t *pOutLength);
    void setBlockCompressor(BlockCompressor pCompressor);

    // Repeats a request that timed out or came back garbled up to this many
    // times where a repeat is harmless: reads of status and data objects,
    // writes of command parameters and of data pieces (they only fill
    // registers and the transfer buffer). A command is never repeated.
    // 0 (the default) fails the job on the first such error.
    void setRetries(int nRetries) { m_nRetries = nRetries < 0 ? 0 : nRetries; }
    int retries() const { return m_nRetries; }

    // Called in the worker thread after every exchange with the monitor
    // (tracing); set before the run starts.
    void setTransactionObserver(TransactionObserver observer) { m_observer = std::move(observer); }

    // Whether the serial port is open (false again once a run has ended).
    bool isPortOpen() const;

    // What the run did. Complete once finished() has been emitted.
    const RunStats &statistics() const { return m_stats; }

    // Set from any thread to stop the run after the current block.
    std::atomic<bool> bCancel{false};

    // The message a cancelled operation shows.
    static QString cancelText();

signals:
    void finished();
    void ProgressState(QString sState);
    void ProgressFile(QString sFile);
    void ProgressSteps(int steps);
    void ProgressStep();
    void ProgressValue(int value);
    void ProgressInfoText(int nInfo, QString sInfo);
    void ShowCritical(QString title, QString text);

    // Typed results, beside the texts above. RunStarted: the start phase is
    // over (reached or not, why not, the firmware information).
    void RunStarted(RunStats stats);
    void JobStarted(JobStats job);
    // Emitted just before the ProgressState text that names the activity.
    void PhaseChanged(int nJob, JobPhase ePhase);
    void JobFinished(JobStats job);

public slots:
    void process();
    void requestCancel();

private:
    // Boot-monitor start and connection.
    int activateMonitor(QString &sPort);
    int connectDrive(QString &sPort, uint32_t nBaudrate);
    int reportFirmwareInfo();

    // Flash jobs.
    int runFlashJob(PgmEntry &entry);
    int queryFlashInfo();
    int selectFlashDevice(int nDevice);
    int eraseFlash(PgmEntry &entry);
    int programFlash(PgmEntry &entry);
    int readFlash(PgmEntry &entry);
    void eraseSectors(uint32_t nStart, uint32_t nLength);
    void sendBlock(const uint8_t *pBlock, uint32_t nLength, bool bCompress,
                   uint8_t *pPacked, uint8_t *pWork, uint8_t *pExpanded);

    // EEPROM jobs.
    int runEepromJob(PgmEntry &entry);
    int queryEepromInfo();
    int selectEepromDevice(int nDevice);
    int eraseEeprom(PgmEntry &entry);
    int writeEeprom(PgmEntry &entry);
    int readEeprom(PgmEntry &entry);
    void writeVerifyEepromBlock(uint32_t nAddress, uint32_t n, uint32_t &nPrevious, bool bErase);
    bool eepromRange(const PgmEntry &entry, const QString &sTitle,
                     uint32_t &nOffset, uint32_t &nLength);

    void useTransport(CountingSerial *pTransport);

    // Link services that may be repeated (see setRetries()).
    int readStatus(uint16_t nIndex, uint8_t nSubIndex, uint32_t &nValue);
    int writeParam(uint16_t nIndex, uint8_t nSubIndex, uint32_t nValue);
    int writePiece(uint16_t nIndex, uint8_t nSubIndex, const uint8_t *pData, int nCount);
    int readPiece(uint16_t nIndex, uint8_t nSubIndex, uint8_t *pData, int nCount);
    template <typename Request>
    int repeatable(Request request);
    void settleLine();

    // Helpers shared by all operations.
    void check(int nCode);                 // throws a failing service code
    // Throws sText after noting why, for the handler's failed().
    [[noreturn]] void raise(WorkerFailure eFailure, const QString &sText);
    int failed(const QString &sTitle, const QString &sText, const QString &sState,
               bool bRestoreTimeout = false);
    int failed(const QString &sTitle, int nCode, const QString &sState, bool bRestoreTimeout = false);
    void checkCancel();                    // throws the cancel text
    QString codeText(int nCode);
    void critical(const QString &sTitle, const QString &sText, WorkerFailure eFailure, int nCode = 0);
    void enterPhase(JobPhase ePhase);
    JobStats *currentJob();

    TBootMonitorLink link;
    BaseParams params;
    QVector<PgmEntry> jobs;

public:
    // Flash geometry answered by the drive: device answers 1..4, region 0 answers 1..4.
    uint32_t FlashInfo[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int32_t nEepromSize = 0;

private:
    CountingSerial *m_pTransport = nullptr;   // owned by the link
    BlockCompressor m_pCompressor;
    bool m_bChooseTransport = false;          // created here, not injected
    uint32_t m_nWakeTimeoutMs = 0;
    RunStats m_stats;
    int m_nCurrentJob = -1;
    uint32_t m_nTransactions = 0;             // counted by the link's observer
    int m_nRetries = 0;
    TransactionObserver m_observer;
    QElapsedTimer m_jobTimer;
    WorkerFailure m_eRaised = WorkerFailure::None;   // reason of the text last thrown
};

#endif // UPDATEWORKER_H
