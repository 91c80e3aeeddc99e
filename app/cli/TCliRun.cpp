#include "TCliRun.h"

#include "PortDiscovery.h"
#include "TCliTrace.h"
#include "UpdateWorker.h"

#include <QThread>

TCliRun::TCliRun(const CliRunSetup &setup, TCliProgress *pProgress, QObject *pParent)
    : QObject(pParent), m_setup(setup), m_pProgress(pProgress)
{
    m_setup.jobBytes.resize(m_setup.jobs.size());
}

TCliRun::~TCliRun()
{
    if (m_pThread) {
        // Only reached when the event loop ended under a running worker:
        // stop it through its own path and wait, never leave it orphaned.
        m_pWorker->bCancel = true;
        m_pThread->quit();
        m_pThread->wait();
        delete m_pWorker;
        delete m_pThread;
    }
}

void TCliRun::start()
{
    // The transport follows the port name: a device path or a serial port
    // always gets the COM-port transport, whatever discovery decided.
    m_pWorker = new UpdateWorker(createTransport(m_setup.params.sPort));
    m_pWorker->setup(&m_setup.params, &m_setup.jobs);
    m_pWorker->setWakeTimeout(m_setup.nWakeTimeoutMs);
    m_pWorker->setRetries(m_setup.nRetries);
    if (m_setup.pTrace)
        m_pWorker->setTransactionObserver(m_setup.pTrace->observerFor(m_setup.params.sPort));
    m_pThread = new QThread;
    m_pWorker->moveToThread(m_pThread);

    connect(m_pWorker, &UpdateWorker::ProgressState, this, &TCliRun::UpdateProgressState);
    connect(m_pWorker, &UpdateWorker::ProgressFile, this, &TCliRun::UpdateProgressFile);
    connect(m_pWorker, &UpdateWorker::ProgressSteps, this, &TCliRun::UpdateProgressSteps);
    connect(m_pWorker, &UpdateWorker::ProgressStep, this, &TCliRun::UpdateProgressStep);
    connect(m_pWorker, &UpdateWorker::ProgressValue, this, &TCliRun::UpdateProgressValue);
    connect(m_pWorker, &UpdateWorker::ProgressInfoText, this, &TCliRun::UpdateInfoText);
    connect(m_pWorker, &UpdateWorker::ShowCritical, this, &TCliRun::UpdateShowCritical);
    connect(m_pWorker, &UpdateWorker::PhaseChanged, this, &TCliRun::UpdatePhase);
    // Queued like every other signal, so it arrives after all progress the
    // worker emitted before it. The worker is not deleted from its own
    // thread here: the run still needs its statistics.
    connect(m_pWorker, &UpdateWorker::finished, this, &TCliRun::UpdateFinished);
    connect(m_pThread, &QThread::started, m_pWorker, &UpdateWorker::process);
    m_pThread->start();
}

void TCliRun::cancel()
{
    m_bCancelRequested = true;
    if (m_pWorker)
        m_pWorker->bCancel = true;
}

int TCliRun::exitStatus() const
{
    if (!m_bFinished || m_stats.bCanceled || !m_stats.succeeded())
        return 1;
    // Every job of the list must have run; the worker stops at the first failure.
    for (const JobStats &job : m_stats.jobs)
        if (!job.succeeded())
            return 1;
    return m_stats.jobs.size() == m_setup.jobs.size() ? 0 : 1;
}

void TCliRun::UpdatePhase(int nJob, JobPhase ePhase)
{
    // Only the data phases move a known number of bytes; erasing a flash and
    // the query steps show percent and time only.
    const bool bEepromErase = ePhase == JobPhase::Erase && m_setup.jobs.value(nJob).nMemory >= Eeprom0;
    const bool bData = ePhase == JobPhase::Program || ePhase == JobPhase::Read || ePhase == JobPhase::Write;
    m_nPhaseBytes = (bData || bEepromErase) ? m_setup.jobBytes.value(nJob) : 0;
}

void TCliRun::UpdateProgressState(QString sState)
{
    // The size belongs to the activity whose phase came just before this
    // state; the end states that follow have none.
    m_pProgress->state(sState, m_nPhaseBytes);
    m_nPhaseBytes = 0;
}

void TCliRun::UpdateProgressFile(QString sFile)
{
    m_pProgress->file(sFile);
}

void TCliRun::UpdateProgressSteps(int nSteps)
{
    m_pProgress->steps(nSteps);
}

void TCliRun::UpdateProgressStep()
{
    m_pProgress->step();
}

void TCliRun::UpdateProgressValue(int nValue)
{
    m_pProgress->value(nValue);
}

void TCliRun::UpdateInfoText(int nInfo, QString sInfo)
{
    m_pProgress->infoText(nInfo, sInfo);
}

void TCliRun::UpdateShowCritical(QString sTitle, QString sText)
{
    m_pProgress->critical(sTitle, sText);
}

void TCliRun::UpdateFinished()
{
    m_pThread->quit();
    m_pThread->wait();
    m_stats = m_pWorker->statistics();
    delete m_pWorker;
    m_pWorker = nullptr;
    delete m_pThread;
    m_pThread = nullptr;
    m_bFinished = true;
    m_pProgress->finish();
    for (const JobStats &job : m_stats.jobs)
        m_pProgress->jobSummary(job);
    emit finished();
}
