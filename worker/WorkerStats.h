#ifndef WORKERSTATS_H
#define WORKERSTATS_H

#include "PortOpenError.h"
#include "TBootMonitorLink.h"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

// The typed results of an update run. The worker fills them beside the texts
// it shows; the headless tool's progress, summaries and reports read only
// these, so rewording or translating a message changes none of them.

// The activity a job has entered; its ProgressState text follows.
enum class JobPhase
{
    Query,    // flash or EEPROM information
    Select,   // device selection
    ReadFile, // reading the image or data file
    Erase,
    Program, // flash
    Read,
    Write // EEPROM
};

// How a job ended.
enum class JobOutcome
{
    NotRun, // skipped (memory outside 0..3) or never reached
    Done,
    Failed,
    Cancelled
};

// Why a job or the start failed.
enum class WorkerFailure
{
    None,
    Communication, // a service failed; the code is in nCommCode / nStartCode
    Cancelled,
    PortOpen,        // the port could not be opened for the wake pattern
    WakeTimeout,     // no answer to the wake pattern in time
    MultipleRegions, // the flash answered more than one region
    Range,           // offset/length outside the memory
    Alignment,       // Erase range not on sector boundaries
    Geometry,        // sizes the drive answered cannot be worked with
    FileType,        // neither Intel HEX nor S-record (or not a regular file)
    FileRead,        // the image or data file did not load
    NoData,          // the file holds no data for the memory or range
    DataOutside,     // the file holds data beyond the memory's end
    TransferBlock,   // the drive could not expand a compressed block
    VerifyAfterWrite,
    VerifyAfterErase,
    OutputWrite, // Read: the output file could not be written
    Incomplete   // the image lacks its end record, or data follow where its reading stopped
};

// Sizes the drive answered for the job's memory.
struct MemoryGeometry
{
    uint32_t nSize = 0;     // flash device size or EEPROM size
    uint32_t nPageSize = 0; // flash only, like the rest
    uint32_t nSectorSize = 0;
    uint32_t nRegionSize = 0;
};

// What one job did. Filled by the worker thread while the job runs; part of
// the run's statistics.
struct JobStats
{
    int nIndex = -1; // position in the job list
    int32_t nMemory = -1;
    int32_t nOperation = -1;
    QString sImage;

    JobOutcome eOutcome = JobOutcome::NotRun;
    WorkerFailure eFailure = WorkerFailure::None;
    int nCommCode = 0;     // with WorkerFailure::Communication
    QString sFailureTitle; // the message shown for this job, empty when none
    QString sFailureText;
    QStringList imageMessages; // what the reader said of the job's image ("FILE:LINE: text")

    uint64_t nImageBytes = 0;           // image bytes programmed (Program) or read/written (Read, EEPROM)
    uint64_t nWireBytesSent = 0;        // every byte written to the serial line during the job
    uint64_t nWireBytesReceived = 0;    // every byte read from the serial line during the job
    uint32_t nTransactions = 0;         // request/response exchanges with the monitor
    uint32_t nRetries = 0;              // requests repeated after a time-out or a garbled answer
    uint32_t nBlocksRaw = 0;            // data blocks sent uncompressed
    uint32_t nBlocksCompressed = 0;     // data blocks sent compressed
    uint32_t nBlocksSkipped = 0;        // blocks not programmed: all FF, or (skip unchanged) already held
    uint32_t nBlocksExpandMismatch = 0; // compressed output that did not expand back: sent raw
    uint32_t nSectorsChecked = 0;       // sectors examined with the erase check
    uint32_t nSectorsErased = 0;        // sectors actually erased
    uint32_t nSectorsSkipped = 0;       // sectors that already held the image: neither erased nor programmed
    MemoryGeometry geometry;
    int64_t nElapsedMs = 0;

    bool ran() const { return eOutcome != JobOutcome::NotRun; }
    // True when the job did all that was asked, its output file included.
    bool succeeded() const { return eOutcome == JobOutcome::Done; }
};

// The whole run. The start part is complete when UpdateWorker::RunStarted()
// is emitted, the rest once finished() has been.
struct RunStats
{
    bool bStarted = false; // the boot monitor was reached and connected
    WorkerFailure eStartFailure = WorkerFailure::None;
    int nStartCode = 0; // with WorkerFailure::Communication
    // A start that could not open the port: why, as far as the system tells.
    PortOpenError portError;
    // A connection that failed: the step it failed in, and the working rate
    // it aimed at when that was switching or confirming the rate.
    TBootMonitorLink::ConnectPhase eConnectPhase = TBootMonitorLink::ConnectPhase::None;
    uint32_t nConnectRate = 0;
    QStringList firmwareInfo; // the five fields read from the drive's flash; empty when none
    bool bCanceled = false;
    QString sFailureTitle; // the last message shown (title and text)
    QString sFailureText;
    QVector<JobStats> jobs;      // one entry per job of the list, in list order
    uint64_t nWireBytesSent = 0; // whole run, wake pattern and connection included
    uint64_t nWireBytesReceived = 0;
    int64_t nElapsedMs = 0;

    // True when the run connected and every job that ran succeeded completely.
    bool succeeded() const
    {
        if (!bStarted)
            return false;
        for (const JobStats &job : jobs)
            if (job.ran() && !job.succeeded())
                return false;
        return true;
    }
};

Q_DECLARE_METATYPE(JobPhase)
Q_DECLARE_METATYPE(RunStats)

#endif // WORKERSTATS_H
