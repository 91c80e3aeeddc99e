#ifndef TCLIRUN_H
#define TCLIRUN_H

#include "PgmEntry.h"
#include "TCliProgress.h"
#include "WorkerStats.h"

#include <QObject>
#include <QString>
#include <QVector>

class QThread;
class TCliTrace;
class UpdateWorker;

// What one drive is to do: the connection, the job list and, per job, the
// number of bytes its data step moves (for the progress figures; 0 when the
// tool cannot know it before the drive has answered).
struct CliRunSetup
{
    BaseParams params;
    QVector<PgmEntry> jobs;
    QVector<quint64> jobBytes;
    uint32_t nWakeTimeoutMs = 0;
    // Repeats of a harmless request after a time-out or a garbled answer
    // (the worker's retry policy; the window keeps its default of none).
    int nRetries = 0;
    // Transaction log shared by all drives; null: none, and no observer.
    TCliTrace *pTrace = nullptr;
};

// One update run on one port: an UpdateWorker in a QThread of its own,
// connected exactly as the window connects it, with its signals driving a
// progress output. Nothing here is process-wide, so several runs (one per
// drive) can go at once.
class TCliRun : public QObject
{
    Q_OBJECT

public:
    TCliRun(const CliRunSetup &setup, TCliProgress *pProgress, QObject *pParent = nullptr);
    ~TCliRun() override;

    // Creates the transport, the worker and the thread and starts the run.
    void start();
    // Asks the worker to stop after its current block (the Cancel button's path).
    void cancel();
    bool isRunning() const { return m_pThread != nullptr; }
    QString port() const { return m_setup.params.sPort; }
    bool wasCancelled() const { return m_bCancelRequested; }

    // Valid once finished() has been emitted.
    const RunStats &statistics() const { return m_stats; }
    // 0 when the drive was reached and every job did all it was asked
    // (output files included); 1 otherwise.
    int exitStatus() const;

signals:
    void finished();

private slots:
    void UpdateProgressState(QString sState);
    void UpdateProgressFile(QString sFile);
    void UpdateProgressSteps(int nSteps);
    void UpdateProgressStep();
    void UpdateProgressValue(int nValue);
    void UpdateInfoText(int nInfo, QString sInfo);
    void UpdateShowCritical(QString sTitle, QString sText);
    void UpdateFinished();
    void UpdatePhase(int nJob, JobPhase ePhase);

private:

    CliRunSetup m_setup;
    TCliProgress *m_pProgress;
    UpdateWorker *m_pWorker = nullptr;
    QThread *m_pThread = nullptr;
    RunStats m_stats;
    bool m_bCancelRequested = false;
    bool m_bFinished = false;
    quint64 m_nPhaseBytes = 0;     // size of the activity the last phase began
};

#endif // TCLIRUN_H
