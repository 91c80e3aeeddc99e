#ifndef CLITRACE_H
#define CLITRACE_H

#include "OutputFile.h"
#include "TBootMonitorLink.h"

#include <QMutex>
#include <QString>
#include <memory>

// The transaction log of --log FILE: one timestamped line per request the
// tool exchanged with a drive's boot monitor, from every drive of the run
// into one file, each line naming its port:
//
//   2026-12-07T04:31:07.412Z /dev/pts/3 write 5E12.1 len=128 status=0 rtt_us=2210
//
// Fields: UTC time the transaction ended, port, service (read, write, ident
// or the code in hex), object as index (4 upper-case hex digits) '.'
// subindex (decimal; "-" for ident), data bytes written or asked for, the
// communication status code (0 = success), round trip in microseconds.
// Written from the worker threads through the link's transaction observer;
// without --log no observer is installed and nothing is timed.
class CliTrace
{
public:
    // Creates (truncates) the file, or opens the device or FIFO it names.
    // False with sError set on failure.
    bool open(const QString &sPath, QString &sError);
    // Finishes the file once no drive writes any more. False with sError
    // set when a line could not be written (a full disk, a file-size limit).
    bool close(QString &sError);
    // An observer for the link of the drive on sPort; safe to call from any thread.
    TransactionObserver observerFor(const QString &sPort);

private:
    // One line for a record; thread-safe.
    void write(const QString &sPort, const TransactionRecord &record);

    QMutex m_mutex;
    std::unique_ptr<OutputFile> m_pFile;
};

#endif // CLITRACE_H
