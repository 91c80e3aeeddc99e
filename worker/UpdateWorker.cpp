#include "UpdateWorker.h"

#include "CountingSerial.h"
#include "FWInfoFlash.h"
#include "MonitorObjects.h"
#include "TransportFactory.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

using MonitorObjects::kWakePattern;

namespace {

const int kMaxDrainPerCycle = 4096;

} // namespace

UpdateWorker::UpdateWorker() : UpdateWorker(createTransport())
{
    m_bChooseTransport = true;
}

UpdateWorker::UpdateWorker(TComSerial *pTransport) : QObject(nullptr), m_pTransport(new CountingSerial(pTransport))
{
    qRegisterMetaType<JobPhase>();
    qRegisterMetaType<RunStats>();
    // The link owns the transport; the counting layer lets the worker report
    // what each job cost on the wire.
    useTransport(m_pTransport);
    link.setPortName(QStringLiteral("COM1"));
    link.setTransactionObserver([this](const TransactionRecord &record) {
        ++m_nTransactions;
        if (m_observer)
            m_observer(record);
    });
}

// The port was closed by process(); the link deletes the transport.
UpdateWorker::~UpdateWorker() = default;

void UpdateWorker::useTransport(CountingSerial *pTransport)
{
    m_pTransport = pTransport;
    link.setTransport(pTransport);
}

bool UpdateWorker::setup(const BaseParams *pParams, const QVector<PgmEntry> *pJobs)
{
    if (pParams) {
        params = *pParams;
        // The port decides the transport kind (a serial device or an FTDI
        // converter); an injected transport is kept as it is.
        if (m_bChooseTransport && !params.sPort.isEmpty() && !m_pTransport->isOpen()) {
            useTransport(new CountingSerial(createTransport(params.sPort)));
        }
    }
    if (pJobs)
        jobs = *pJobs;
    else
        jobs.clear();
    return true;
}

bool UpdateWorker::isPortOpen() const
{
    return m_pTransport->isOpen();
}

void UpdateWorker::requestCancel()
{
    bCancel = true;
}

void UpdateWorker::process()
{
    QElapsedTimer runTimer;
    runTimer.start();
    m_stats = RunStats();
    m_stats.jobs.resize(jobs.size());
    for (int i = 0; i < jobs.size(); ++i) {
        JobStats &job = m_stats.jobs[i];
        job.nIndex = i;
        job.nMemory = jobs[i].nMemory;
        job.nOperation = jobs[i].nOperation;
        job.sImage = jobs[i].sImage;
    }

    int nSteps = 0;
    for (const PgmEntry &entry : jobs)
        nSteps += (entry.nOperation == Program && uint32_t(entry.nMemory) <= Flash1) ? 2 : 1;
    emit ProgressSteps(nSteps);

    bool bStarted = false;
    QString sPort = params.sPort;
    switch (params.nBootType) {
    case PoweredOff:
        if (activateMonitor(sPort) == 0 && connectDrive(sPort, params.nBaudrate) == 0) {
            bStarted = true;
            reportFirmwareInfo();
        }
        break;
    case RunningMonitor:
        if (connectDrive(sPort, params.nBaudrate) == 0) {
            bStarted = true;
            reportFirmwareInfo();
        }
        break;
    default: break;
    }
    m_stats.bStarted = bStarted;
    emit RunStarted(m_stats);

    if (bStarted) {
        for (int i = 0; i < jobs.size(); ++i) {
            PgmEntry &entry = jobs[i];
            if (entry.nMemory < 0 || entry.nMemory > Eeprom1)
                continue;
            JobStats &job = m_stats.jobs[i];
            m_session.setJob(&job);
            const uint64_t nSentBefore = m_pTransport->bytesSent();
            const uint64_t nReceivedBefore = m_pTransport->bytesReceived();
            const uint32_t nTransactionsBefore = m_nTransactions;
            QElapsedTimer jobTimer;
            jobTimer.start();

            const int nResult = entry.nMemory <= Flash1 ? runFlashJob(entry) : runEepromJob(entry);

            // A Read whose output could not be written returns 0 (the list
            // goes on) but has not done what was asked.
            if (nResult == 0 && job.eFailure == WorkerFailure::None)
                job.eOutcome = JobOutcome::Done;
            else
                job.eOutcome = job.eFailure == WorkerFailure::Cancelled ? JobOutcome::Cancelled : JobOutcome::Failed;
            job.nElapsedMs = jobTimer.elapsed();
            job.nWireBytesSent = m_pTransport->bytesSent() - nSentBefore;
            job.nWireBytesReceived = m_pTransport->bytesReceived() - nReceivedBefore;
            job.nTransactions = m_nTransactions - nTransactionsBefore;
            m_session.setJob(nullptr);
            if (nResult != 0)
                break;
        }
    }

    if (m_pTransport->isOpen())
        link.disconnectMonitor();

    m_stats.nWireBytesSent = m_pTransport->bytesSent();
    m_stats.nWireBytesReceived = m_pTransport->bytesReceived();
    m_stats.nElapsedMs = runTimer.elapsed();
    emit finished();
}

QString UpdateWorker::cancelText()
{
    return QCoreApplication::translate("QObject", "Canceled from user!");
}

// ---------------------------------------------------------------------------
// Boot-monitor start and connection

int UpdateWorker::activateMonitor(QString &sPort)
{
    TComSerial *pTransport = m_pTransport;
    if (pTransport->open(sPort.toUtf8().constData(), 9600) != 0) {
        // The message operators know first; why and what to do on a line of its own.
        m_stats.portError = pTransport->lastOpenError();
        QString sText = tr("Cannot open serial device '%1'").arg(sPort);
        const QString sAdvice = portOpenAdvice(m_stats.portError);
        if (!sAdvice.isEmpty())
            sText += QLatin1Char('\n') + sAdvice;
        m_session.critical(tr("Init boot monitor"), sText, WorkerFailure::PortOpen);
        return -1;
    }
    emit ProgressState(QStringLiteral("Init boot monitor"));
    emit ProgressValue(0);

    pTransport->setTimeout(0);
    int nMatch = 0;
    int nResult = -1;
    QElapsedTimer waited;
    waited.start();
    try {
        for (;;) {
            pTransport->write(kWakePattern, sizeof kWakePattern);
            QThread::msleep(20);
            uint8_t b = 0;
            uint32_t nCount = 0;
            // A line that never falls silent (a drive streaming at full rate)
            // must not keep the loop from its cancel test; the match counter
            // carries over, so the rest is simply read in the next cycle.
            for (int nDrained = 0; nResult != 0 && nDrained < kMaxDrainPerCycle; ++nDrained) {
                nCount = 0;
                pTransport->read(&b, 1, nCount);
                if (nCount == 0)
                    break;
                if (nMatch != 0 && b == kWakePattern[0])
                    nMatch = 0; // a new pattern starts
                if (b == kWakePattern[nMatch]) {
                    if (++nMatch == 4) {
                        emit ProgressState(QStringLiteral("Done!"));
                        emit ProgressValue(100);
                        nResult = 0;
                    }
                } else {
                    nMatch = 0;
                }
            }
            m_session.checkCancel();
            if (nResult == 0)
                break;
            // Without an answer the loop would wait for ever; the headless
            // tool and scripts can bound it.
            if (m_nWakeTimeoutMs != 0 && waited.elapsed() >= qint64(m_nWakeTimeoutMs))
                m_session.raise(WorkerFailure::WakeTimeout,
                                tr("No answer to the wake pattern within %1 ms").arg(m_nWakeTimeoutMs));
        }
    } catch (const QString &sText) {
        m_session.failed(tr("Init boot monitor"), sText, QString());
        nResult = -1;
    }
    pTransport->close();
    return nResult;
}

int UpdateWorker::connectDrive(QString &sPort, uint32_t nBaudrate)
{
    QThread::msleep(100);
    link.setRequestedBaudRate(nBaudrate);
    link.setPortName(sPort);
    const int nCode = link.connectMonitor();
    if (nCode != 0) {
        m_stats.eConnectPhase = link.lastConnectPhase();
        m_stats.nConnectRate = link.lastConnectTargetRate();
        if (m_stats.eConnectPhase == TBootMonitorLink::ConnectPhase::Opening)
            m_stats.portError = m_pTransport->lastOpenError();
        m_session.critical(tr("Connect"), link.connectFailureText(nCode), WorkerFailure::Communication, nCode);
        return -1;
    }
    return 0;
}

int UpdateWorker::reportFirmwareInfo()
{
    FWInfoFlash info(&link);
    if (info.loadInfo() != 0)
        return -1;
    QStringList lines;
    if (info.infoLines(lines) != 0 || lines.isEmpty())
        return -1;
    m_stats.firmwareInfo = lines;
    emit ProgressInfoText(1, lines.join(QStringLiteral("\n")));
    return 0;
}
