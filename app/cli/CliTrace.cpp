#include "CliTrace.h"

#include "CliFiles.h"

#include <QDateTime>
#include <QMutexLocker>

bool CliTrace::open(const QString &sPath, QString &sError)
{
    // Written in place as the run goes: the log of a run that was killed or
    // hung is the one most worth reading.
    auto pFile = std::make_unique<OutputFile>(sPath, OutputFile::Stream, true);
    if (!pFile->open()) {
        sError = cliOutputProblem(sPath, pFile->status(), pFile->systemError());
        return false;
    }
    m_pFile = std::move(pFile);
    return true;
}

bool CliTrace::close(QString &sError)
{
    QMutexLocker lock(&m_mutex);
    if (!m_pFile)
        return true;
    const bool bWritten = m_pFile->commit();
    if (!bWritten)
        sError = cliOutputProblem(m_pFile->path(), m_pFile->status(), m_pFile->systemError());
    m_pFile.reset();
    return bWritten;
}

TransactionObserver CliTrace::observerFor(const QString &sPort)
{
    return [this, sPort](const TransactionRecord &record) { write(sPort, record); };
}

void CliTrace::write(const QString &sPort, const TransactionRecord &record)
{
    QString sService;
    switch (record.nService) {
    case TBootMonitorLink::ReadObjectRequest: sService = QStringLiteral("read"); break;
    case TBootMonitorLink::WriteObjectRequest: sService = QStringLiteral("write"); break;
    case TBootMonitorLink::DeviceIdentRequest: sService = QStringLiteral("ident"); break;
    default: sService = QStringLiteral("0x%1").arg(record.nService, 2, 16, QLatin1Char('0')); break;
    }
    const QString sObject =
        record.nService == TBootMonitorLink::DeviceIdentRequest
            ? QStringLiteral("-")
            : QStringLiteral("%1.%2")
                  .arg(QString::number(record.nIndex, 16).toUpper().rightJustified(4, QLatin1Char('0')))
                  .arg(record.nSubIndex);
    const QByteArray line =
        QStringLiteral("%1 %2 %3 %4 len=%5 status=%6 rtt_us=%7\n")
            .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), sPort, sService, sObject)
            .arg(record.nLength)
            .arg(record.nStatus)
            .arg(record.nRoundTripUs)
            .toUtf8();
    QMutexLocker lock(&m_mutex);
    if (!m_pFile)
        return;
    // Flushed line by line. The first failure is kept for close(); the
    // file takes no more lines after it.
    if (m_pFile->write(line))
        m_pFile->flush();
}
