#ifndef WORKERSESSION_H
#define WORKERSESSION_H

#include "MonitorCommands.h"
#include "WorkerStats.h"

#include <QString>
#include <atomic>
#include <cstdint>

class TBootMonitorLink;

// How the operations report back: the worker turns these into its signals.
class WorkerEvents
{
public:
    virtual void state(const QString &sState) = 0;
    virtual void file(const QString &sFile) = 0;
    virtual void step() = 0;
    virtual void value(int nPercent) = 0;
    virtual void phase(JobPhase ePhase) = 0;
    virtual void critical(const QString &sTitle, const QString &sText) = 0;

protected:
    ~WorkerEvents() = default;
};

// What the start and the flash and EEPROM operations of one run share: the
// link, the retry policy, the cancel flag, the statistics of the job now
// running, the worker's signals, and the error convention of every
// operation: inside it a failing service is thrown as its int code and a
// logical failure or the cancel as a QString text; the operation catches
// both at its end, shows them (critical(), failed()) and returns -1.
// The session is also what the drive's commands send their requests
// through: it repeats the harmless ones (setRetries()).
class WorkerSession : public MonitorRequests
{
public:
    WorkerSession(TBootMonitorLink &link, const std::atomic<bool> &bCancel, WorkerEvents &events, RunStats &stats);

    TBootMonitorLink &link() { return m_link; }
    WorkerEvents &events() { return m_events; }
    // The statistics of the job now running (outside a job, a scratch
    // record nobody reads).
    JobStats &job() { return m_pJob ? *m_pJob : m_scratch; }
    int jobIndex() const { return m_pJob ? m_pJob->nIndex : -1; }
    void setJob(JobStats *pJob) { m_pJob = pJob; }
    void setRetries(int nRetries) { m_nRetries = nRetries < 0 ? 0 : nRetries; }
    int retries() const { return m_nRetries; }

    // An activity begins: its phase, its state text, a new progress step
    // when it is one, and 0 %.
    void begin(JobPhase ePhase, const QString &sState, bool bStep);

    // Throws a failing service's code.
    static void check(int nCode);
    // Throws sText after noting why, for the handler's failed().
    [[noreturn]] void raise(WorkerFailure eFailure, const QString &sText);
    // Throws the cancel text when a cancel was asked for.
    void checkCancel();
    // Shows a failure and notes it with its reason in the job it ended, or
    // in the start when no job runs yet.
    void critical(const QString &sTitle, const QString &sText, WorkerFailure eFailure, int nCode = 0);
    // The end of an operation that failed inside its request loop: the
    // message under the operation's title (for a thrown text, with the
    // reason raise() noted), the default read time-out back where the
    // operation had raised it, then its failure state if it has one (not
    // empty). Returns -1.
    int failed(const QString &sTitle, const QString &sText, const QString &sState, bool bRestoreTimeout = false);
    int failed(const QString &sTitle, int nCode, const QString &sState, bool bRestoreTimeout = false);
    // Runs the requests of an operation under that convention: 0, or what
    // failed() returns for a code or text thrown inside.
    template <typename Body> int guard(const QString &sTitle, const QString &sState, bool bRestoreTimeout, Body body)
    {
        try {
            body();
            return 0;
        } catch (int nCode) {
            return failed(sTitle, nCode, sState, bRestoreTimeout);
        } catch (const QString &sText) {
            return failed(sTitle, sText, sState, bRestoreTimeout);
        }
    }
    // Progress of nDone of nTotal in percent (100 for nothing to do).
    static int percent(uint64_t nDone, uint64_t nTotal);

    // MonitorRequests: a request that timed out or came back garbled is
    // sent again up to retries() times, unless it carries a command.
    int writeValue(uint16_t nObject, uint8_t nSubIndex, uint32_t nValue, Repeat eRepeat) override;
    int readValue(uint16_t nObject, uint8_t nSubIndex, uint32_t &nValue) override;
    int writePiece(uint16_t nObject, uint8_t nSubIndex, const uint8_t *pData, int nCount) override;
    int readPiece(uint16_t nObject, uint8_t nSubIndex, uint8_t *pData, int nCount) override;

private:
    template <typename Request> int repeatable(Request request);
    void settleLine();

    TBootMonitorLink &m_link;
    const std::atomic<bool> &m_bCancel;
    WorkerEvents &m_events;
    RunStats &m_stats;
    JobStats *m_pJob = nullptr;
    JobStats m_scratch;
    int m_nRetries = 0;
    WorkerFailure m_eRaised = WorkerFailure::None; // reason of the text last thrown
};

#endif // WORKERSESSION_H
