#include "WorkerSession.h"

#include "CommError.h"
#include "TBootMonitorLink.h"
#include "UpdateWorker.h"

#include <QElapsedTimer>

WorkerSession::WorkerSession(TBootMonitorLink &link, const std::atomic<bool> &bCancel, WorkerEvents &events,
                             RunStats &stats)
    : m_link(link), m_bCancel(bCancel), m_events(events), m_stats(stats)
{
}

void WorkerSession::begin(JobPhase ePhase, const QString &sState, bool bStep)
{
    m_events.phase(ePhase);
    m_events.state(sState);
    if (bStep)
        m_events.step();
    m_events.value(0);
}

void WorkerSession::check(int nCode)
{
    if (nCode != 0)
        throw nCode;
}

void WorkerSession::raise(WorkerFailure eFailure, const QString &sText)
{
    m_eRaised = eFailure;
    throw sText;
}

void WorkerSession::checkCancel()
{
    if (m_bCancel) {
        m_stats.bCanceled = true;
        raise(WorkerFailure::Cancelled, UpdateWorker::cancelText());
    }
}

int WorkerSession::percent(uint64_t nDone, uint64_t nTotal)
{
    return nTotal == 0 ? 100 : int(nDone * 100 / nTotal);
}

void WorkerSession::critical(const QString &sTitle, const QString &sText, WorkerFailure eFailure, int nCode)
{
    m_stats.sFailureTitle = sTitle;
    m_stats.sFailureText = sText;
    if (m_pJob) {
        m_pJob->sFailureTitle = sTitle;
        m_pJob->sFailureText = sText;
        m_pJob->eFailure = eFailure;
        m_pJob->nCommCode = nCode;
    } else {
        m_stats.eStartFailure = eFailure;
        m_stats.nStartCode = nCode;
    }
    m_events.critical(sTitle, sText);
}

int WorkerSession::failed(const QString &sTitle, const QString &sText, const QString &sState, bool bRestoreTimeout)
{
    critical(sTitle, sText, m_eRaised);
    if (bRestoreTimeout)
        m_link.restoreDefaultTimeout();
    if (!sState.isEmpty())
        m_events.state(sState);
    return -1;
}

int WorkerSession::failed(const QString &sTitle, int nCode, const QString &sState, bool bRestoreTimeout)
{
    critical(sTitle, TBootMonitorLink::errorText(nCode), WorkerFailure::Communication, nCode);
    if (bRestoreTimeout)
        m_link.restoreDefaultTimeout();
    if (!sState.isEmpty())
        m_events.state(sState);
    return -1;
}

// A time-out, a garbled frame or an answer of the wrong kind may have cost
// the request or only its answer; for the requests below both are harmless
// to repeat. Status bytes of the monitor are its verdict and are not.
template <typename Request> int WorkerSession::repeatable(Request request)
{
    int nCode = request();
    for (int i = 0; i < m_nRetries; ++i) {
        if (nCode != CommError::Unspecified && nCode != CommError::Timeout && nCode != CommError::ProtocolError)
            break;
        ++job().nRetries;
        settleLine();
        nCode = request();
    }
    return nCode;
}

// Before a repeat the line must be quiet: a late answer to the failed
// attempt, arriving after the repeat's purge, would be taken for the answer
// to the repeat and leave every later request one answer behind. Waits until
// nothing has come for as long as the drive was allowed to answer (at most a
// second), and gives up on a line that never falls silent after a few seconds.
void WorkerSession::settleLine()
{
    TComSerial *pPort = m_link.transport();
    if (!pPort || !pPort->isOpen())
        return;
    const uint32_t nAnswerTimeMs = m_link.timeout();
    pPort->setTimeout(qMin<uint32_t>(nAnswerTimeMs, 1000));
    QElapsedTimer timer;
    timer.start();
    uint8_t aDiscard[64];
    uint32_t nCount = 0;
    while (!timer.hasExpired(3000) && pPort->read(aDiscard, sizeof aDiscard, nCount) == 0) {}
    m_link.setTimeout(nAnswerTimeMs);
}

int WorkerSession::writeValue(uint16_t nObject, uint8_t nSubIndex, uint32_t nValue, Repeat eRepeat)
{
    const auto request = [&] { return m_link.writeU32(nObject, nSubIndex, nValue); };
    return eRepeat == MayRepeat ? repeatable(request) : request();
}

int WorkerSession::readValue(uint16_t nObject, uint8_t nSubIndex, uint32_t &nValue)
{
    return repeatable([&] { return m_link.readU32(nObject, nSubIndex, nValue); });
}

int WorkerSession::writePiece(uint16_t nObject, uint8_t nSubIndex, const uint8_t *pData, int nCount)
{
    return repeatable([&] { return m_link.writeObject(nObject, nSubIndex, pData, nCount); });
}

int WorkerSession::readPiece(uint16_t nObject, uint8_t nSubIndex, uint8_t *pData, int nCount)
{
    return repeatable([&] { return m_link.readObject(nObject, nSubIndex, pData, nCount); });
}
