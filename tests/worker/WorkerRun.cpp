#include "WorkerRun.h"

#include "ImageFile.h"
#include "TransportFactory.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

namespace {

const char *const kPhaseNames[] = {"Query", "Select", "ReadFile", "Erase", "Program", "Read", "Write"};
const char *const kOutcomeNames[] = {"NotRun", "Done", "Failed", "Cancelled"};

QString joinArgs(const QVariantList &args)
{
    QStringList parts;
    for (const QVariant &v : args)
        parts << v.toString();
    return parts.join(QLatin1Char(','));
}

} // namespace

WorkerOutcome runWorker(const BaseParams &params, const QVector<PgmEntry> &jobs,
                        const std::function<void(UpdateWorker *)> &prepare, const WorkerEventHook &hook, int nTimeoutMs,
                        bool bInjectTransport)
{
    WorkerOutcome outcome;
    QMutex mutex;
    QThread thread;
    auto *pWorker = bInjectTransport ? new UpdateWorker(createTransport(params.sPort)) : new UpdateWorker;
    pWorker->setup(&params, &jobs);
    if (prepare)
        prepare(pWorker);
    pWorker->moveToThread(&thread);

    auto record = [&](const QString &sName, const QVariantList &args) {
        const QString sEvent = args.isEmpty() ? sName : sName + QLatin1Char(':') + joinArgs(args);
        {
            QMutexLocker lock(&mutex);
            outcome.events << sEvent;
        }
        if (hook)
            hook(pWorker, sEvent);
    };
    const auto direct = Qt::DirectConnection;
    QObject::connect(
        pWorker, &UpdateWorker::finished, pWorker, [&] { record("finished", {}); }, direct);
    QObject::connect(
        pWorker, &UpdateWorker::ProgressState, pWorker, [&](const QString &s) { record("ProgressState", {s}); },
        direct);
    QObject::connect(
        pWorker, &UpdateWorker::ProgressFile, pWorker, [&](const QString &s) { record("ProgressFile", {s}); }, direct);
    QObject::connect(
        pWorker, &UpdateWorker::ProgressSteps, pWorker, [&](int n) { record("ProgressSteps", {n}); }, direct);
    QObject::connect(
        pWorker, &UpdateWorker::ProgressStep, pWorker, [&] { record("ProgressStep", {}); }, direct);
    QObject::connect(
        pWorker, &UpdateWorker::ProgressValue, pWorker, [&](int n) { record("ProgressValue", {n}); }, direct);
    QObject::connect(
        pWorker, &UpdateWorker::ProgressInfoText, pWorker,
        [&](int n, const QString &s) {
            record("ProgressInfoText", {n, s});
        },
        direct);
    QObject::connect(
        pWorker, &UpdateWorker::ShowCritical, pWorker,
        [&](const QString &t, const QString &s) {
            {
                QMutexLocker lock(&mutex);
                outcome.sCriticalTitle = t;
                outcome.sCriticalText = s;
            }
            record("ShowCritical", {t, s});
        },
        direct);
    QObject::connect(
        pWorker, &UpdateWorker::RunStarted, pWorker,
        [&](const RunStats &stats) {
            outcome.started = stats;
            record("RunStarted", {int(stats.bStarted)});
        },
        direct);
    QObject::connect(
        pWorker, &UpdateWorker::JobStarted, pWorker, [&](const JobStats &job) { record("JobStarted", {job.nIndex}); },
        direct);
    QObject::connect(
        pWorker, &UpdateWorker::PhaseChanged, pWorker,
        [&](int nJob, JobPhase ePhase) {
            record("PhaseChanged", {nJob, kPhaseNames[int(ePhase)]});
        },
        direct);
    QObject::connect(
        pWorker, &UpdateWorker::JobFinished, pWorker,
        [&](const JobStats &job) {
            {
                QMutexLocker lock(&mutex);
                outcome.finishedJobs << job;
            }
            record("JobFinished", {job.nIndex, kOutcomeNames[int(job.eOutcome)]});
        },
        direct);
    QObject::connect(pWorker, &UpdateWorker::finished, &thread, &QThread::quit, direct);
    QObject::connect(&thread, &QThread::started, pWorker, &UpdateWorker::process);
    QSignalSpy spyFinished(pWorker, &UpdateWorker::finished);
    QSignalSpy spyCritical(pWorker, &UpdateWorker::ShowCritical);
    QSignalSpy spyStep(pWorker, &UpdateWorker::ProgressStep);
    QSignalSpy spySteps(pWorker, &UpdateWorker::ProgressSteps);

    thread.start();
    outcome.bFinishedInTime = thread.wait(QDeadlineTimer(nTimeoutMs));
    if (!outcome.bFinishedInTime) {
        // Leave no thread behind: cancel and give the run time to notice.
        pWorker->bCancel = true;
        thread.wait(QDeadlineTimer(30000));
    }
    if (thread.isFinished()) {
        outcome.stats = pWorker->statistics();
        outcome.bPortOpenAfter = pWorker->isPortOpen();
        delete pWorker;
    }
    // The spies saw the same run as the ordered log below.
    outcome.nSpyFinished = spyFinished.count();
    outcome.nSpyCritical = spyCritical.count();
    outcome.nSpyStep = spyStep.count();
    outcome.nSpySteps = spySteps.count();

    for (const QString &sEvent : outcome.events) {
        if (sEvent == QLatin1String("finished"))
            ++outcome.nFinished;
        else if (sEvent == QLatin1String("ProgressStep"))
            ++outcome.nStep;
        else if (sEvent.startsWith(QLatin1String("ShowCritical:")))
            ++outcome.nCritical;
        else if (sEvent.startsWith(QLatin1String("ProgressSteps:")))
            outcome.nSteps = sEvent.mid(14).toInt();
        else if (sEvent.startsWith(QLatin1String("ProgressState:")))
            outcome.states << sEvent.mid(14);
        else if (sEvent.startsWith(QLatin1String("ProgressInfoText:1,")))
            outcome.sInfoText = sEvent.mid(19);
    }
    return outcome;
}

bool writeImageFile(const QString &sPath, const QString &sFormat, const QByteArray &data, quint32 nAddress,
                    QString *pError)
{
    const QString sBin = sPath + QStringLiteral(".bin");
    {
        QFile bin(sBin);
        if (!bin.open(QIODevice::WriteOnly) || bin.write(data) != data.size()) {
            if (pError)
                *pError = QStringLiteral("cannot write %1").arg(sBin);
            return false;
        }
    }
    QProcess proc;
    const QString sOut = sFormat == QLatin1String("hex") ? QStringLiteral("-intel") : QStringLiteral("-motorola");
    QStringList args{sBin,
                     QStringLiteral("-binary"),
                     QStringLiteral("-offset"),
                     QStringLiteral("0x%1").arg(nAddress, 0, 16),
                     QStringLiteral("-o"),
                     sPath,
                     sOut};
    if (sFormat == QLatin1String("srec"))
        args << QStringLiteral("-address-length=4");
    proc.start(QStringLiteral("srec_cat"), args);
    const bool bOk = proc.waitForFinished(60000) && proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0;
    QFile::remove(sBin);
    if (!bOk && pError)
        *pError = QStringLiteral("srec_cat failed: %1").arg(QString::fromLocal8Bit(proc.readAllStandardError()));
    return bOk;
}

QByteArray loadImageBytes(const QString &sPath, quint32 nBase, quint32 nLength)
{
    ImageFile image(sPath);
    if (!image.load(nBase, nBase + nLength - 1))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(image.converter()->buffer()), int(nLength));
}

QByteArray randomBytes(int nSize, quint32 nSeed)
{
    QRandomGenerator gen(nSeed);
    QByteArray data(nSize, Qt::Uninitialized);
    for (int i = 0; i < nSize; ++i)
        data[i] = char(gen.bounded(256));
    return data;
}

QByteArray mixedBytes(int nSize, quint32 nSeed, quint32 nAddress)
{
    QRandomGenerator gen(nSeed);
    QByteArray data(nSize, Qt::Uninitialized);
    // Program blocks start at the page (256 bytes) of the first address.
    const quint32 nOrigin = nAddress & ~0xFFu;
    for (int i = 0; i < nSize; ++i) {
        const quint32 nAbs = nAddress + quint32(i);
        // Per block: a table that compresses well, noise with runs of 00, an
        // erased stretch, noise.
        switch ((nAbs - nOrigin) / 8192 % 4) {
        case 0: data[i] = char((nAbs / 4) & 0x3F); break;
        case 1: data[i] = (nAbs / 512) % 2 ? char(0) : char(gen.bounded(256)); break;
        case 2: data[i] = char(0xFF); break;
        default: data[i] = char(gen.bounded(256)); break;
        }
    }
    // Never start or end on FF, so the image's used range is exactly its extent.
    if (nSize > 0) {
        data[0] = char(0x5A);
        data[nSize - 1] = char(0xA5);
    }
    return data;
}
