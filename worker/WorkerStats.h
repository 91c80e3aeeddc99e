#ifndef WORKERSTATS_H
#define WORKERSTATS_H

#include <QString>
#include <QVector>
#include <cstdint>

// What one job did, for reports and the headless tool. Filled by the worker
// thread while the job runs; read it only after UpdateWorker::finished().
struct JobStats
{
    int nIndex = -1;                // position in the job list
    int32_t nMemory = -1;
    int32_t nOperation = -1;
    QString sImage;

    bool bRan = false;              // false: skipped (memory outside 0..3) or never reached
    int nResult = 0;                // 0 = done, -1 = failed or cancelled
    bool bOutputFailed = false;     // Read: the output file could not be written
    bool bCanceled = false;
    QString sFailureTitle;          // the message shown for this job, empty when none
    QString sFailureText;

    uint64_t nImageBytes = 0;       // image bytes programmed (Program) or read/written (Read, EEPROM)
    uint64_t nWireBytesSent = 0;    // every byte written to the serial line during the job
    uint64_t nWireBytesReceived = 0;// every byte read from the serial line during the job
    uint32_t nTransactions = 0;     // request/response exchanges with the monitor
    uint32_t nRetries = 0;          // requests repeated after a time-out or a garbled answer
    uint32_t nBlocksRaw = 0;        // data blocks sent uncompressed
    uint32_t nBlocksCompressed = 0; // data blocks sent compressed
    uint32_t nBlocksSkipped = 0;    // all-FF blocks neither sent nor programmed
    uint32_t nBlocksExpandMismatch = 0; // compressed output that did not expand back: sent raw
    uint32_t nSectorsChecked = 0;   // sectors examined with the erase check
    uint32_t nSectorsErased = 0;    // sectors actually erased
    int64_t nElapsedMs = 0;

    // True when the job did all that was asked, its output file included.
    bool succeeded() const { return bRan && nResult == 0 && !bOutputFailed; }
};

// The whole run.
struct RunStats
{
    bool bStarted = false;          // the boot monitor was reached and connected
    bool bCanceled = false;
    QString sFirmwareInfo;          // information lines read from the drive's flash, joined by "\n"
    QString sFailureTitle;          // the last message shown (title and text)
    QString sFailureText;
    QVector<JobStats> jobs;         // one entry per job of the list, in list order
    uint64_t nWireBytesSent = 0;    // whole run, wake pattern and connection included
    uint64_t nWireBytesReceived = 0;
    int64_t nElapsedMs = 0;

    // True when the run connected and every job that ran succeeded completely.
    bool succeeded() const
    {
        if (!bStarted)
            return false;
        for (const JobStats &job : jobs)
            if (job.bRan && !job.succeeded())
                return false;
        return true;
    }
};

#endif // WORKERSTATS_H
