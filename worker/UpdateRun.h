#ifndef UPDATERUN_H
#define UPDATERUN_H

#include "PgmEntry.h"
#include "TBootMonitorLink.h"
#include "WorkerStats.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <cstdint>

class QThread;
class TComSerial;
class UpdateWorker;

// What a run may be told beyond the connection record; the window keeps the
// defaults, the headless tool sets them from its options.
struct RunOptions
{
    uint32_t nWakeTimeoutMs = 0;  // 0: wait for the drive until cancelled
    int nRetries = 0;             // repeats of a harmless request (UpdateWorker::setRetries)
    TransactionObserver observer; // called in the worker thread after every exchange; may be empty
};

// One update run at a time: the transport, the UpdateWorker and the thread it
// runs in, owned here from start() until the run has ended. The worker's
// signals are sent on from this object's thread in the order the worker
// emitted them; finished() comes last, once the worker's thread has ended.
// Destroying a run object while a run goes cancels the run and waits for it,
// so no worker thread is ever left running.
class UpdateRun : public QObject
{
    Q_OBJECT

public:
    explicit UpdateRun(QObject *pParent = nullptr);
    ~UpdateRun() override;

    // Starts a run over the transport for params.sPort (a serial device or
    // an FTDI converter, see createTransport()), or over pTransport, which
    // the run then owns. False when a run is going already.
    bool start(const BaseParams &params, const QVector<PgmEntry> &jobs, const RunOptions &options = RunOptions(),
               TComSerial *pTransport = nullptr);
    // The worker stops after its current block; finished() follows.
    void cancel();
    // The same, returning once the worker's thread has ended (closing the
    // window, the end of the program). finished() is not emitted then.
    void cancelAndWait();
    bool isRunning() const { return m_pThread != nullptr; }
    // What the last run did; complete once it has ended.
    const RunStats &statistics() const { return m_stats; }

signals:
    void ProgressState(QString sState);
    void ProgressFile(QString sFile);
    void ProgressValue(int value);
    void ProgressSteps(int steps);
    void ProgressStep();
    void ProgressInfoText(int nInfo, QString sInfo);
    void ShowCritical(QString title, QString text);
    void RunStarted(RunStats stats);
    void PhaseChanged(int nJob, JobPhase ePhase);
    void finished();

private slots:
    void onWorkerFinished();

private:
    void release();

    UpdateWorker *m_pWorker = nullptr;
    QThread *m_pThread = nullptr;
    RunStats m_stats;
};

#endif // UPDATERUN_H
