#include "SimDrive.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifndef SERVOPROG_SIM_PATH
#define SERVOPROG_SIM_PATH ""
#endif

quint32 SimDrive::LogEntry::number(const QString &sKey, quint32 nDefault) const
{
    bool bOk = false;
    const quint32 n = fields.value(sKey).toUInt(&bOk, 0);
    return bOk ? n : nDefault;
}

SimDrive::SimDrive(QObject *parent) : QObject(parent)
{
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

QString SimDrive::executablePath()
{
    return QString::fromUtf8(SERVOPROG_SIM_PATH);
}

QString SimDrive::filePath(const QString &sName) const
{
    return m_tempDir.filePath(sName);
}

QString SimDrive::writeFile(const QString &sName, const QByteArray &content) const
{
    QFile file(filePath(sName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return QString();
    return file.fileName();
}

bool SimDrive::isRunning() const
{
    return m_pProcess && m_pProcess->state() != QProcess::NotRunning;
}

void SimDrive::readStderr()
{
    if (m_pProcess)
        m_stderr += m_pProcess->readAllStandardError();
}

bool SimDrive::start(const QStringList &arguments, int nTimeoutMs)
{
    m_sError.clear();
    m_sPortName.clear();
    m_stderr.clear();
    m_nExitCode = -1;
    if (!isSupported()) {
        m_sError = QStringLiteral("the simulated drive needs a POSIX system");
        return false;
    }
    if (isRunning()) {
        m_sError = QStringLiteral("the simulated drive is already running");
        return false;
    }
    if (!m_tempDir.isValid()) {
        m_sError = QStringLiteral("no temporary folder: %1").arg(m_tempDir.errorString());
        return false;
    }
    QStringList args = arguments;
    const int nLog = args.indexOf(QStringLiteral("--log"));
    const QStringList logEq = args.filter(QRegularExpression(QStringLiteral("^--log=")));
    if (nLog >= 0 && nLog + 1 < args.size()) {
        m_sLogFile = args[nLog + 1];
    } else if (!logEq.isEmpty()) {
        m_sLogFile = logEq.last().mid(6);
    } else {
        m_sLogFile = filePath(QStringLiteral("sim.log"));
        args << QStringLiteral("--log") << m_sLogFile;
    }
    args << QStringLiteral("--exit-on-stdin-eof");

    delete m_pProcess;
    m_pProcess = new QProcess(this);
    connect(m_pProcess, &QProcess::readyReadStandardError, this, &SimDrive::readStderr);
    m_pProcess->start(executablePath(), args);
    if (!m_pProcess->waitForStarted(nTimeoutMs)) {
        m_sError = QStringLiteral("cannot start %1: %2").arg(executablePath(), m_pProcess->errorString());
        return false;
    }
    QDeadlineTimer deadline(nTimeoutMs);
    while (!m_pProcess->canReadLine()) {
        if (m_pProcess->state() == QProcess::NotRunning || deadline.hasExpired()
            || !m_pProcess->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_pProcess->canReadLine())
                break;
            readStderr();
            m_sError = QStringLiteral("servoprog-sim did not report its port: %1")
                           .arg(QString::fromLocal8Bit(m_stderr).trimmed());
            if (m_pProcess->state() != QProcess::NotRunning) {
                m_pProcess->kill();
                m_pProcess->waitForFinished(nTimeoutMs);
            }
            return false;
        }
    }
    m_sPortName = QString::fromLocal8Bit(m_pProcess->readLine()).trimmed();
    if (!QFileInfo::exists(m_sPortName)) {
        m_sError = QStringLiteral("servoprog-sim reported a port that does not exist: '%1'").arg(m_sPortName);
        stop(nTimeoutMs);
        return false;
    }
    return true;
}

bool SimDrive::stop(int nTimeoutMs)
{
    if (!m_pProcess)
        return false;
    if (m_pProcess->state() != QProcess::NotRunning) {
        m_pProcess->terminate(); // SIGTERM
        if (!m_pProcess->waitForFinished(nTimeoutMs)) {
            m_sError = QStringLiteral("servoprog-sim did not stop on SIGTERM; killed");
            m_pProcess->kill();
            m_pProcess->waitForFinished(nTimeoutMs);
            readStderr();
            return false;
        }
    }
    readStderr();
    m_nExitCode = m_pProcess->exitStatus() == QProcess::NormalExit ? m_pProcess->exitCode() : -1;
    if (m_nExitCode != 0) {
        m_sError = QStringLiteral("servoprog-sim ended with code %1: %2")
                       .arg(m_nExitCode)
                       .arg(QString::fromLocal8Bit(m_stderr).trimmed());
        return false;
    }
    return true;
}

QStringList SimDrive::logLines() const
{
    QFile file(m_sLogFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringList();
    QStringList lines;
    while (!file.atEnd()) {
        const QString sLine = QString::fromUtf8(file.readLine()).trimmed();
        if (!sLine.isEmpty())
            lines << sLine;
    }
    return lines;
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
        const QStringList object = words[2].split(QLatin1Char('.'));
        if (object.size() == 2) {
            e.nIndex = quint16(object[0].toUInt(nullptr, 16));
            e.nSubindex = quint8(object[1].toUInt());
        }
        for (int i = 3; i < words.size(); ++i) {
            const int nEq = words[i].indexOf(QLatin1Char('='));
            if (nEq > 0)
                e.fields.insert(words[i].left(nEq), words[i].mid(nEq + 1));
        }
        e.nLength = e.fields.value(QStringLiteral("len")).toInt();
        bool bOk = false;
        e.nStatus = e.fields.value(QStringLiteral("status")).toInt(&bOk);
        if (!bOk)
            e.nStatus = -1;
        entries << e;
    }
    return entries;
}

QList<quint32> SimDrive::erasedSectors(int nDevice) const
{
    QList<quint32> sectors;
    for (const LogEntry &e : logEntries()) {
        if (e.command() == QLatin1String("flash-erase") && e.nStatus == 0
            && (nDevice < 0 || int(e.number(QStringLiteral("dev"))) == nDevice))
            sectors << e.number(QStringLiteral("addr"));
    }
    return sectors;
}

int SimDrive::commandCount(const QString &sCommand) const
{
    int n = 0;
    for (const LogEntry &e : logEntries()) {
        if (e.command() == sCommand)
            ++n;
    }
    return n;
}
