#ifndef UPDATEWORKER_H
#define UPDATEWORKER_H

#include "EepromOperations.h"
#include "FlashOperations.h"
#include "PgmEntry.h"
#include "TBootMonitorLink.h"
#include "WorkerSession.h"
#include "WorkerStats.h"

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
// A worker serves exactly one run. The flash and EEPROM operations do the
// jobs' work over a session the worker shares with them; they report back
// through the worker's signals (WorkerEvents).
class UpdateWorker : public QObject, private WorkerEvents
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

    // The block compressor used by Program; replaceable so that a faulty
    // compressor can be exercised. Same contract as compressBlock().
    using BlockCompressor = FlashOperations::BlockCompressor;
    void setBlockCompressor(BlockCompressor pCompressor) { m_flash.setBlockCompressor(pCompressor); }

    // Repeats a request that timed out or came back garbled up to this many
    // times where a repeat is harmless: reads of status and data objects,
    // writes of command parameters and of data pieces (they only fill
    // registers and the transfer buffer). A command is never repeated.
    // 0 (the default) fails the job on the first such error.
    // The connection gets as many extra attempts on a dropped, garbled or
    // busy answer (TBootMonitorLink::setConnectRetries()).
    void setRetries(int nRetries)
    {
        m_session.setRetries(nRetries);
        link.setConnectRetries(nRetries);
    }
    int retries() const { return m_session.retries(); }

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

    // Typed results, beside the texts above (the rest in statistics()).
    // RunStarted: the start phase is over (reached or not, why not, the
    // firmware information).
    void RunStarted(RunStats stats);
    // Emitted just before the ProgressState text that names the activity.
    void PhaseChanged(int nJob, JobPhase ePhase);

public slots:
    void process();
    void requestCancel();

private:
    // Boot-monitor start and connection.
    int activateMonitor(QString &sPort);
    int connectDrive(QString &sPort, uint32_t nBaudrate);
    int reportFirmwareInfo();

    // The jobs, handed to their operations.
    int runFlashJob(PgmEntry &entry) { return m_flash.run(entry); }
    int runEepromJob(PgmEntry &entry) { return m_eeprom.run(entry); }

    void useTransport(CountingSerial *pTransport);

    // WorkerEvents: the operations' reports become the signals.
    void state(const QString &sState) override { emit ProgressState(sState); }
    void file(const QString &sFile) override { emit ProgressFile(sFile); }
    void step() override { emit ProgressStep(); }
    void value(int nPercent) override { emit ProgressValue(nPercent); }
    void phase(JobPhase ePhase) override { emit PhaseChanged(m_session.jobIndex(), ePhase); }
    void critical(const QString &sTitle, const QString &sText) override { emit ShowCritical(sTitle, sText); }

    TBootMonitorLink link;
    BaseParams params;
    QVector<PgmEntry> jobs;

public:
    // Flash geometry answered by the drive: device answers 1..4, region 0 answers 1..4.
    uint32_t FlashInfo[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int32_t nEepromSize = 0;

private:
    CountingSerial *m_pTransport = nullptr; // owned by the link
    bool m_bChooseTransport = false;        // created here, not injected
    uint32_t m_nWakeTimeoutMs = 0;
    RunStats m_stats;
    uint32_t m_nTransactions = 0; // counted by the link's observer
    TransactionObserver m_observer;
    WorkerSession m_session{link, bCancel, *this, m_stats};
    FlashOperations m_flash{m_session, FlashInfo};
    EepromOperations m_eeprom{m_session, nEepromSize};
};

#endif // UPDATEWORKER_H
