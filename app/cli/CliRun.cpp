#include "CliRun.h"

#include <algorithm>

CliRun::CliRun(const CliRunSetup &setup, std::unique_ptr<CliProgress> pProgress, QObject *pParent)
    : QObject(pParent), m_setup(setup), m_pProgress(std::move(pProgress))
{
    CliProgress *p = m_pProgress.get();
    connect(&m_run, &UpdateRun::ProgressState, this, &CliRun::UpdateProgressState);
    connect(&m_run, &UpdateRun::ProgressFile, this, [p](const QString &sFile) { p->file(sFile); });
    connect(&m_run, &UpdateRun::ProgressSteps, this, [p](int nSteps) { p->steps(nSteps); });
    connect(&m_run, &UpdateRun::ProgressStep, this, [p] { p->step(); });
    connect(&m_run, &UpdateRun::ProgressValue, this, [this, p](int nValue) {
        m_bAnswered = m_bAnswered || nValue >= 100;
        p->value(nValue);
    });
    connect(&m_run, &UpdateRun::RunStarted, this,
            [this](const RunStats &stats) { m_bAnswered = m_bAnswered || stats.bStarted; });
    connect(&m_run, &UpdateRun::ProgressInfoText, this, [p](int nInfo, const QString &s) { p->infoText(nInfo, s); });
    connect(&m_run, &UpdateRun::ShowCritical, this, [p](const QString &t, const QString &s) { p->critical(t, s); });
    connect(&m_run, &UpdateRun::PhaseChanged, this, &CliRun::UpdatePhase);
    connect(&m_run, &UpdateRun::finished, this, &CliRun::UpdateFinished);
}

void CliRun::start()
{
    // The transport follows the port name: a device path or a serial port
    // always gets the COM-port transport, whatever discovery decided.
    m_run.start(m_setup.params, m_setup.jobs, m_setup.options);
}

void CliRun::cancel()
{
    m_bCancelRequested = true;
    m_run.cancel();
}

int CliRun::exitStatus() const
{
    const RunStats &stats = m_run.statistics();
    // Every job of the list must have run; the worker stops at the first failure.
    const bool bAllDone =
        stats.jobs.size() == m_setup.jobs.size()
        && std::all_of(stats.jobs.cbegin(), stats.jobs.cend(), [](const JobStats &job) { return job.succeeded(); });
    return m_bFinished && !stats.bCanceled && stats.succeeded() && bAllDone ? 0 : 1;
}

void CliRun::UpdatePhase(int nJob, JobPhase ePhase)
{
    // Only the data phases move a known number of bytes, and only when the
    // range was known before the drive answered; erasing a flash and the
    // query steps show percent and time only.
    const bool bEepromErase = ePhase == JobPhase::Erase && m_setup.jobs.value(nJob).nMemory >= Eeprom0;
    const bool bData = ePhase == JobPhase::Program || ePhase == JobPhase::Read || ePhase == JobPhase::Write;
    const CliJobFacts fact = m_setup.facts.value(nJob);
    m_nPhaseBytes = (bData || bEepromErase) && fact.bHasRange ? fact.nLast - fact.nFirst + 1 : 0;
}

void CliRun::UpdateProgressState(QString sState)
{
    // The size belongs to the activity whose phase came just before this
    // state; the end states that follow have none.
    m_pProgress->state(sState, m_nPhaseBytes);
    m_nPhaseBytes = 0;
}

void CliRun::UpdateFinished()
{
    m_bFinished = true;
    m_pProgress->finish();
    for (const JobStats &job : m_run.statistics().jobs)
        m_pProgress->jobSummary(job);
    emit finished();
}
