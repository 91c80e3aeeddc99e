#include "CliReport.h"

#include "CliFiles.h"
#include "CliLine.h"
#include "CliProgress.h"
#include "FileKind.h"
#include "OutputFile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace {

QJsonValue numberOrNull(bool bKnown, quint64 nValue)
{
    return bKnown ? QJsonValue(double(nValue)) : QJsonValue(QJsonValue::Null);
}

QJsonValue textOrNull(const QString &sText)
{
    return sText.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(sText);
}

// The communication status code of a failing service; -1 for the worker's
// own failures (verify, cancel, files).
int statusCode(WorkerFailure eFailure, int nCode)
{
    return eFailure == WorkerFailure::Communication ? nCode : -1;
}

// Why a drive that was not reached could not be: where the connection
// failed, and why the port did not open; null when it does not apply.
QJsonValue connectPhaseName(TBootMonitorLink::ConnectPhase ePhase)
{
    switch (ePhase) {
    case TBootMonitorLink::ConnectPhase::None: break;
    case TBootMonitorLink::ConnectPhase::Opening: return QStringLiteral("opening");
    case TBootMonitorLink::ConnectPhase::DetectingRate: return QStringLiteral("detecting-rate");
    case TBootMonitorLink::ConnectPhase::SwitchingRate: return QStringLiteral("switching-rate");
    case TBootMonitorLink::ConnectPhase::ConfirmingRate: return QStringLiteral("confirming-rate");
    }
    return QJsonValue(QJsonValue::Null);
}

QJsonValue portErrorName(PortOpenError::Cause eCause)
{
    switch (eCause) {
    case PortOpenError::Cause::None: break;
    case PortOpenError::Cause::PermissionDenied: return QStringLiteral("permission-denied");
    case PortOpenError::Cause::NoSuchDevice: return QStringLiteral("no-such-device");
    case PortOpenError::Cause::InUse: return QStringLiteral("in-use");
    case PortOpenError::Cause::NotSerialDevice: return QStringLiteral("not-serial-device");
    case PortOpenError::Cause::Other: return QStringLiteral("other");
    }
    return QJsonValue(QJsonValue::Null);
}

QString isoTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace

QString CliReport::fileSha256(const QString &sPath)
{
    // Only a regular file: a FIFO or a device cannot be read back as written.
    QFile file;
    if (!openRegularFile(file, sPath))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

QJsonDocument CliReport::build(const QString &sCommand, const QDateTime &started, const CliLine &line, int nExitStatus)
{
    QJsonArray records;
    for (int nDrive = 0; nDrive < line.size(); ++nDrive) {
        const CliRun &run = line.run(nDrive);
        const CliRunSetup &setup = run.setup();
        const RunStats &stats = run.statistics();
        bool bEarlierFailed = false;
        for (int nJob = 0; nJob < setup.jobs.size(); ++nJob) {
            const PgmEntry &entry = setup.jobs.at(nJob);
            const JobStats job = stats.jobs.value(nJob);
            const CliJobFacts fact = setup.facts.value(nJob);
            QJsonObject record;
            record[QStringLiteral("port")] = setup.params.sPort;
            record[QStringLiteral("memory")] = CliProgress::memoryName(entry.nMemory);
            record[QStringLiteral("operation")] = CliProgress::operationName(entry.nMemory, entry.nOperation);
            // Absolute, so that the record still names the file when it is
            // read somewhere else than where the tool ran.
            record[QStringLiteral("image")] =
                textOrNull(entry.sImage.isEmpty() ? QString() : QFileInfo(entry.sImage).absoluteFilePath());

            // An image read from the drive is hashed as written; an input
            // image as it was when the run began.
            QString sSha = fact.sImageSha256;
            if (entry.nOperation == Read && job.succeeded())
                sSha = fileSha256(entry.sImage);
            record[QStringLiteral("imageSha256")] = textOrNull(sSha);

            // A range that runs to the memory's end is known once the drive
            // has answered the memory's size.
            bool bRange = fact.bHasRange;
            quint64 nLast = fact.nLast;
            if (!bRange && job.ran() && job.geometry.nSize > fact.nFirst) {
                bRange = true;
                nLast = job.geometry.nSize - 1;
            }
            record[QStringLiteral("firstAddress")] = numberOrNull(bRange, fact.nFirst);
            record[QStringLiteral("lastAddress")] = numberOrNull(bRange, nLast);

            record[QStringLiteral("sectorsChecked")] = double(job.nSectorsChecked);
            record[QStringLiteral("sectorsErased")] = double(job.nSectorsErased);
            record[QStringLiteral("sectorsSkipped")] = double(job.nSectorsSkipped);
            record[QStringLiteral("blocksRaw")] = double(job.nBlocksRaw);
            record[QStringLiteral("blocksCompressed")] = double(job.nBlocksCompressed);
            record[QStringLiteral("blocksSkipped")] = double(job.nBlocksSkipped);
            record[QStringLiteral("bytes")] = double(job.nImageBytes);
            record[QStringLiteral("wireBytesSent")] = double(job.nWireBytesSent);
            record[QStringLiteral("wireBytesReceived")] = double(job.nWireBytesReceived);
            record[QStringLiteral("wireBytes")] = double(job.nWireBytesSent + job.nWireBytesReceived);
            record[QStringLiteral("transactions")] = double(job.nTransactions);
            record[QStringLiteral("retries")] = double(job.nRetries);
            record[QStringLiteral("timeMs")] = double(job.nElapsedMs);

            QString sResult = QStringLiteral("not run");
            QJsonValue status;
            QString sMessage;
            if (job.succeeded()) {
                sResult = QStringLiteral("ok");
                status = 0;
            } else if (job.ran()) {
                sResult =
                    job.eOutcome == JobOutcome::Cancelled ? QStringLiteral("cancelled") : QStringLiteral("failed");
                sMessage = job.sFailureTitle.isEmpty()
                               ? job.sFailureText
                               : QStringLiteral("%1: %2").arg(job.sFailureTitle, job.sFailureText);
                status = statusCode(job.eFailure, job.nCommCode);
                bEarlierFailed = true;
            } else if (bEarlierFailed) {
                sMessage = QStringLiteral("an earlier job failed");
            } else if (!stats.bStarted) {
                // The drive was never reached: the start's own failure.
                sMessage = CliLine::resultMessage(run);
                if (!stats.sFailureText.isEmpty())
                    status = statusCode(stats.eStartFailure, stats.nStartCode);
            }
            record[QStringLiteral("result")] = sResult;
            record[QStringLiteral("statusCode")] = status;
            record[QStringLiteral("message")] = sMessage;
            record[QStringLiteral("connectPhase")] = connectPhaseName(stats.eConnectPhase);
            record[QStringLiteral("portError")] = portErrorName(stats.portError.nCause);
            record[QStringLiteral("firmwareInfo")] = textOrNull(stats.firmwareInfo.join(QLatin1Char('\n')));
            record[QStringLiteral("imageMessages")] = QJsonArray::fromStringList(job.imageMessages);
            records.append(record);
        }
    }
    QJsonObject root;
    root[QStringLiteral("tool")] = QCoreApplication::applicationName();
    root[QStringLiteral("version")] = QCoreApplication::applicationVersion();
    root[QStringLiteral("command")] = sCommand;
    root[QStringLiteral("started")] = isoTime(started);
    root[QStringLiteral("finished")] = isoTime(QDateTime::currentDateTimeUtc());
    root[QStringLiteral("result")] = nExitStatus == 0 ? QStringLiteral("ok") : QStringLiteral("failed");
    root[QStringLiteral("records")] = records;
    return QJsonDocument(root);
}

bool CliReport::write(const QString &sPath, const QJsonDocument &document, QString &sError)
{
    OutputFile file(sPath);
    if (!file.open() || !file.write(document.toJson(QJsonDocument::Indented)) || !file.commit()) {
        sError = cliOutputProblem(sPath, file.status(), file.systemError());
        return false;
    }
    return true;
}
