#include "TCliTrace.h"

#include <QDateTime>
#include <QMutexLocker>

bool TCliTrace::open(const QString &sPath, QString &sError)
{
    m_file.setFileName(sPath);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        sError = QStringLiteral("%1: %2").arg(sPath, m_file.errorString());
        return false;
    }
    return true;
}

TransactionObserver TCliTrace::observerFor(const QString &sPort)
{
    return [this, sPort](const TransactionRecord &record) { write(sPort, record); };
}

QString TCliTrace::formatLine(const QString &sPort, const TransactionRecord &record)
{
    QString sService;
    switch (record.nService) {
    case TBootMonitorLink::ReadObjectRequest: sService = QStringLiteral("read"); break;
    case TBootMonitorLink::WriteObjectRequest: sService = QStringLiteral("write"); break;
    case TBootMonitorLink::DeviceIdentRequest: sService = QStringLiteral("ident"); break;
    default: sService = QStringLiteral("0x%1").arg(record.nService, 2, 16, QLatin1Char('0')); break;
    }
    const QString sObject = record.nService == TBootMonitorLink::DeviceIdentRequest
                                ? QStringLiteral("-")
                                : QStringLiteral("%1.%2")
                                      .arg(QString::number(record.nIndex, 16).toUpper().rightJustified(4, QLatin1Char('0')))
                                      .arg(record.nSubIndex);
    return QStringLiteral("%1 %2 %3 %4 len=%5 status=%6 rtt_us=%7\n")
        .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), sPort, sService, sObject)
        .arg(record.nLength)
        .arg(record.nStatus)
        .arg(record.nRoundTripUs);
}

void TCliTrace::write(const QString &sPort, const TransactionRecord &record)
{
    const QByteArray line = formatLine(sPort, record).toUtf8();
    QMutexLocker lock(&m_mutex);
    if (!m_file.isOpen())
        return;
    // Flushed line by line: the log of a run that was killed or hung is the
    // one most worth reading.
    m_file.write(line);
    m_file.flush();
}
