#include "SimDrive.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#ifndef SERVOPROG_SIM_PATH
#define SERVOPROG_SIM_PATH ""
#endif

quint32 SimDrive::LogEntry::number(const QString &sKey, quint32 nDefault) const
{
    bool bOk = false;
    const quint32 n = fields.value(sKey).toUInt(&bOk, 0);
    return bOk ? n : nDefault;
}

SimDrive::~SimDrive()
{
    if (isRunning())
        stop(5000);
}

bool SimDrive::isSupported()
{
#ifdef Q_OS_UNIX
    return !QString::fromUtf8(SERVOPROG_SIM_PATH).isEmpty();
#else
    return false;
#endif
}

QString SimDrive::writeFile(const QString &sName, const QByteArray &content) const
{
    QFile file(filePath(sName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return QString();
    return file.fileName();
}

bool SimDrive::start(const QStringList &arguments, int nTimeoutMs)
{
    m_sPortName.clear();
    m_sError = !isSupported()         ? QStringLiteral("the simulated drive needs a POSIX system")
               : isRunning()          ? QStringLiteral("the simulated drive is already running")
               : !m_tempDir.isValid() ? QStringLiteral("no temporary folder: ") + m_tempDir.errorString()
                                      : QString();
    if (!m_sError.isEmpty())
        return false;
    m_process.start(QString::fromUtf8(SERVOPROG_SIM_PATH),
                    arguments + QStringList{"--log", logFilePath(), "--exit-on-stdin-eof"});
    // The first line on standard output names the terminal.
    const QDeadlineTimer deadline(nTimeoutMs);
    while (!m_process.canReadLine() && isRunning() && !deadline.hasExpired())
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    m_sPortName = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (!m_sPortName.isEmpty() && QFileInfo::exists(m_sPortName))
        return true;
    m_process.kill();
    m_process.waitForFinished(nTimeoutMs);
    m_sError = QStringLiteral("servoprog-sim did not report its port: %1")
                   .arg(QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed());
    return false;
}

bool SimDrive::stop(int nTimeoutMs)
{
    m_process.terminate(); // SIGTERM
    if (isRunning() && !m_process.waitForFinished(nTimeoutMs)) {
        m_sError = QStringLiteral("servoprog-sim did not stop on SIGTERM; killed");
        m_process.kill();
        m_process.waitForFinished(nTimeoutMs);
        return false;
    }
    if (m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0)
        return true;
    m_sError = QStringLiteral("servoprog-sim ended with code %1: %2")
                   .arg(m_process.exitCode())
                   .arg(QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed());
    return false;
}

QStringList SimDrive::logLines() const
{
    QFile file(logFilePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringList();
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QList<SimDrive::LogEntry> SimDrive::logEntries() const
{
    QList<LogEntry> entries;
    for (const QString &sLine : logLines()) {
        const QStringList words = sLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() < 3 || words[0] == QLatin1String("-"))
            continue;
        LogEntry e;
        e.sLine = sLine;
        e.nRequest = words[0].toInt();
        e.sService = words[1];
        e.nIndex = quint16(words[2].section(QLatin1Char('.'), 0, 0).toUInt(nullptr, 16));
        e.nSubindex = quint8(words[2].section(QLatin1Char('.'), 1, 1).toUInt());
        for (const QString &sWord : words.mid(3))
            if (sWord.indexOf(QLatin1Char('=')) > 0)
                e.fields.insert(sWord.section(QLatin1Char('='), 0, 0), sWord.section(QLatin1Char('='), 1));
        e.nLength = e.fields.value(QStringLiteral("len")).toInt();
        bool bOk = false;
        e.nStatus = e.fields.value(QStringLiteral("status")).toInt(&bOk);
        e.nStatus = bOk ? e.nStatus : -1;
        entries << e;
    }
    return entries;
}

int SimDrive::commandCount(const QString &sCommand) const
{
    const QList<LogEntry> entries = logEntries();
    return int(
        std::count_if(entries.begin(), entries.end(), [&](const LogEntry &e) { return e.command() == sCommand; }));
}
