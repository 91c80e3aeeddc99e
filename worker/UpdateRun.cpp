#include "UpdateRun.h"

#include "TransportFactory.h"
#include "UpdateWorker.h"

#include <QThread>

UpdateRun::UpdateRun(QObject *pParent) : QObject(pParent)
{
}

UpdateRun::~UpdateRun()
{
    cancelAndWait();
}

bool UpdateRun::start(const BaseParams &params, const QVector<PgmEntry> &jobs, const RunOptions &options,
                      TComSerial *pTransport)
{
    if (m_pThread) {
        delete pTransport;
        return false;
    }
    m_stats = RunStats();
    m_pWorker = new UpdateWorker(pTransport ? pTransport : createTransport(params.sPort));
    m_pWorker->setup(&params, &jobs);
    m_pWorker->setWakeTimeout(options.nWakeTimeoutMs);
    m_pWorker->setRetries(options.nRetries);
    if (options.observer)
        m_pWorker->setTransactionObserver(options.observer);
    m_pThread = new QThread;
    m_pWorker->moveToThread(m_pThread);

    // Queued across the threads, so they arrive here in the order the
    // worker emitted them.
    connect(m_pWorker, &UpdateWorker::ProgressState, this, &UpdateRun::ProgressState);
    connect(m_pWorker, &UpdateWorker::ProgressFile, this, &UpdateRun::ProgressFile);
    connect(m_pWorker, &UpdateWorker::ProgressValue, this, &UpdateRun::ProgressValue);
    connect(m_pWorker, &UpdateWorker::ProgressSteps, this, &UpdateRun::ProgressSteps);
    connect(m_pWorker, &UpdateWorker::ProgressStep, this, &UpdateRun::ProgressStep);
    connect(m_pWorker, &UpdateWorker::ProgressInfoText, this, &UpdateRun::ProgressInfoText);
    connect(m_pWorker, &UpdateWorker::ShowCritical, this, &UpdateRun::ShowCritical);
    connect(m_pWorker, &UpdateWorker::RunStarted, this, &UpdateRun::RunStarted);
    connect(m_pWorker, &UpdateWorker::PhaseChanged, this, &UpdateRun::PhaseChanged);
    connect(m_pWorker, &UpdateWorker::finished, this, &UpdateRun::onWorkerFinished);
    // The thread ends itself right after the run, whether or not this
    // thread's event loop is running to hear of it.
    connect(m_pWorker, &UpdateWorker::finished, m_pThread, &QThread::quit, Qt::DirectConnection);
    connect(m_pThread, &QThread::started, m_pWorker, &UpdateWorker::process);
    m_pThread->start(QThread::InheritPriority);
    return true;
}

void UpdateRun::cancel()
{
    // The one direct access to the worker from this thread: an atomic flag
    // it polls between blocks.
    if (m_pWorker)
        m_pWorker->bCancel = true;
}

void UpdateRun::cancelAndWait()
{
    if (!m_pThread)
        return;
    cancel();
    // A thread whose event loop has not begun yet returns from it at once.
    m_pThread->quit();
    m_pThread->wait();
    release();
}

void UpdateRun::onWorkerFinished()
{
    if (!m_pThread)
        return; // already waited for
    m_pThread->wait();
    release();
    emit finished();
}

void UpdateRun::release()
{
    m_stats = m_pWorker->statistics();
    delete m_pWorker;
    m_pWorker = nullptr;
    delete m_pThread;
    m_pThread = nullptr;
}
