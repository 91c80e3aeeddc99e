#ifndef CLIRUN_H
#define CLIRUN_H

#include "CliProgress.h"
#include "PgmEntry.h"
#include "UpdateRun.h"
#include "WorkerStats.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <memory>

// What the tool knows about a job before any drive is touched; the same for
// every drive of a run.
struct CliJobFacts
{
    QString sImageSha256;   // input image (program, eeprom-write); empty otherwise
    bool bHasRange = false; // the whole range is known beforehand, not only its start
    quint64 nFirst = 0;     // first address of the range
    quint64 nLast = 0;      // last address of the range (with bHasRange)
};

// What one drive is to do: the connection, the job list and what is known
// of each job beforehand.
struct CliRunSetup
{
    BaseParams params;
    QVector<PgmEntry> jobs;
    QVector<CliJobFacts> facts;
    // Wake time-out, repeats of harmless requests (the window keeps none)
    // and the transaction log's observer for this drive.
    RunOptions options;
};

// One update run on one port, its signals driving a progress output. Nothing
// here is process-wide, so several runs (one per drive) can go at once.
class CliRun : public QObject
{
    Q_OBJECT

public:
    CliRun(const CliRunSetup &setup, std::unique_ptr<CliProgress> pProgress, QObject *pParent = nullptr);

    void start();
    // Asks the worker to stop after its current block (the Cancel button's path).
    void cancel();
    bool isRunning() const { return m_run.isRunning(); }
    const CliRunSetup &setup() const { return m_setup; }
    QString port() const { return m_setup.params.sPort; }
    bool wasCancelled() const { return m_bCancelRequested; }
    bool isPoweredOffStart() const { return m_setup.params.nBootType == PoweredOff; }
    // The drive has answered: its wake-up, the run's first activity, is
    // complete (a drive started in its boot monitor answers the connection).
    bool driveAnswered() const { return m_bAnswered; }

    // Valid once finished() has been emitted.
    const RunStats &statistics() const { return m_run.statistics(); }
    // 0 when the drive was reached and every job did all it was asked
    // (output files included); 1 otherwise.
    int exitStatus() const;

signals:
    void finished();

private slots:
    void UpdateProgressState(QString sState);
    void UpdatePhase(int nJob, JobPhase ePhase);
    void UpdateFinished();

private:
    CliRunSetup m_setup;
    std::unique_ptr<CliProgress> m_pProgress; // outlives m_run, whose end it shows
    UpdateRun m_run;
    bool m_bCancelRequested = false;
    bool m_bFinished = false;
    bool m_bAnswered = false;
    quint64 m_nPhaseBytes = 0; // size of the activity the last phase began
};

#endif // CLIRUN_H
