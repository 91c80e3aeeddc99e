#ifndef WORKERRUN_H
#define WORKERRUN_H

#include "PgmEntry.h"
#include "UpdateWorker.h"
#include "WorkerStats.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <functional>

// Everything one worker run showed: its signals in order ("Name:arg,arg";
// the typed ones as "RunStarted:1", "JobStarted:0", "PhaseChanged:0,Erase",
// "JobFinished:0,Done"),
// the statistics and whether the port was closed at the end.
struct WorkerOutcome
{
    bool bFinishedInTime = false;
    QStringList events;
    RunStats stats;
    bool bPortOpenAfter = true;
    int nFinished = 0;
    int nCritical = 0;
    int nStep = 0;
    int nSteps = -1;        // argument of ProgressSteps
    QString sCriticalTitle; // the last ShowCritical
    QString sCriticalText;
    QString sInfoText;              // the last ProgressInfoText
    QStringList states;             // ProgressState texts in order
    RunStats started;               // what RunStarted carried
    QVector<JobStats> finishedJobs; // what JobFinished carried, in order
    int nSpyFinished = -1;          // counts of QSignalSpy on the worker
    int nSpyCritical = -1;
    int nSpyStep = -1;
    int nSpySteps = -1;

    // The spies and the ordered log agree.
    bool consistent() const
    {
        return nSpyFinished == nFinished && nSpyCritical == nCritical && nSpyStep == nStep && nSpySteps == 1;
    }
};

// Hook run in the worker thread for every signal the worker emits, with the
// event text; lets a test set bCancel at an exact point of the run.
using WorkerEventHook = std::function<void(UpdateWorker *, const QString &)>;

// Runs one update in a thread of its own, the way the window does it, and
// waits for finished(). The transport is handed in by the test unless
// bInjectTransport is false: then the worker picks it for the port itself.
WorkerOutcome runWorker(const BaseParams &params, const QVector<PgmEntry> &jobs,
                        const std::function<void(UpdateWorker *)> &prepare = {}, const WorkerEventHook &hook = {},
                        int nTimeoutMs = 120000, bool bInjectTransport = true);

// Image files written by srec_cat from raw bytes at an address: "hex" for
// Intel HEX, "srec" for Motorola S-record.
bool writeImageFile(const QString &sPath, const QString &sFormat, const QByteArray &data, quint32 nAddress,
                    QString *pError = nullptr);

// The bytes of an image file as loaded by the project's converters, over
// [nBase, nBase + nLength).
QByteArray loadImageBytes(const QString &sPath, quint32 nBase, quint32 nLength);

// Deterministic test data.
QByteArray randomBytes(int nSize, quint32 nSeed);
// Firmware-like: compressible tables, noise, runs of 00 and whole 8 KiB
// stretches of FF aligned to the program blocks, so that blocks get skipped.
QByteArray mixedBytes(int nSize, quint32 nSeed, quint32 nAddress);

#endif // WORKERRUN_H
