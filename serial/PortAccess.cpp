#include "PortAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringList>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace PortAccess {

#ifdef Q_OS_UNIX

namespace {

QString systemText(int nErrno)
{
    return QString::fromLocal8Bit(std::strerror(nErrno));
}

bool isRunning(qint64 nPid)
{
    return nPid > 0 && (::kill(pid_t(nPid), 0) == 0 || errno == EPERM);
}

QString lockFilePath(const QString &sDevicePath)
{
    // Where QSerialPort puts it: the first of these folders that is
    // readable and either already holds the file or is writable, named
    // LCK.. and the path below /dev with '/' as '_'.
    static const QStringList kFolders = {QStringLiteral("/var/lock"),
                                         QStringLiteral("/etc/locks"),
                                         QStringLiteral("/var/spool/locks"),
                                         QStringLiteral("/var/spool/uucp"),
                                         QStringLiteral("/tmp"),
                                         QStringLiteral("/var/tmp"),
                                         QStringLiteral("/var/lock/lockdev"),
                                         QStringLiteral("/run/lock"),
                                         QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    QString sName = sDevicePath.startsWith(QLatin1String("/dev/")) ? sDevicePath.mid(5) : sDevicePath;
    sName.replace(QLatin1Char('/'), QLatin1Char('_'));
    sName.prepend(QLatin1String("/LCK.."));
    for (const QString &sFolder : kFolders) {
        const QFileInfo folder(sFolder);
        const QString sFile = sFolder + sName;
        if (folder.isReadable() && (QFile::exists(sFile) || folder.isWritable()))
            return sFile;
    }
    return QString();
}

// The live owner of the device's lock, if there is one.
bool lockOwner(const QString &sDevicePath, PortOpenError &error)
{
    const QString sLock = lockFilePath(sDevicePath);
    if (sLock.isEmpty() || !QFileInfo::exists(sLock))
        return false;
    qint64 nPid = 0;
    QString sHost;
    QString sProgram;
    if (!QLockFile(sLock).getLockInfo(&nPid, &sHost, &sProgram))
        return false;
    const bool bHere = sHost.isEmpty() || sHost == QSysInfo::machineHostName();
    if (bHere && !isRunning(nPid))
        return false; // stale: the next open removes it
    if (sProgram.isEmpty() && bHere) {
        // Lock files of other tools carry the process id only.
        QFile comm(QStringLiteral("/proc/%1/comm").arg(nPid));
        if (comm.open(QIODevice::ReadOnly))
            sProgram = QString::fromLocal8Bit(comm.readLine().trimmed());
    }
    error.nOwnerPid = bHere ? nPid : 0;
    error.sOwnerProgram = sProgram;
    return true;
}

} // namespace

QString devicePath(const QString &sPort)
{
    QString sPath = sPort;
    if (!sPath.startsWith(QLatin1Char('/')) && !sPath.startsWith(QLatin1String("./"))
        && !sPath.startsWith(QLatin1String("../")))
        sPath.prepend(QLatin1String("/dev/"));
    const QString sCanonical = QFileInfo(sPath).canonicalFilePath();
    return sCanonical.isEmpty() ? sPath : sCanonical;
}

PortOpenError diagnose(const QString &sDevicePath, QSerialPort::SerialPortError nError, const QString &sErrorText)
{
    Q_UNUSED(nError);
    PortOpenError error;
    error.sDevice = sDevicePath;
    error.sSystemText = sErrorText;
    const QByteArray path = QFile::encodeName(sDevicePath);

    struct stat info;
    if (::stat(path.constData(), &info) != 0) {
        const int nErrno = errno;
        error.nCause =
            nErrno == ENOENT || nErrno == ENOTDIR ? PortOpenError::Cause::NoSuchDevice : PortOpenError::Cause::Other;
        error.sSystemText = systemText(nErrno);
        return error;
    }
    if (!S_ISCHR(info.st_mode)) {
        error.nCause = PortOpenError::Cause::NotSerialDevice;
        return error;
    }
    if (lockOwner(sDevicePath, error)) {
        error.nCause = PortOpenError::Cause::InUse;
        return error;
    }

    // No other program's lock: let the system say what stands in the way.
    const int nFd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (nFd < 0) {
        const int nErrno = errno;
        error.sSystemText = systemText(nErrno);
        switch (nErrno) {
        case EACCES:
        case EPERM:
            error.nCause = PortOpenError::Cause::PermissionDenied;
            error.sGroup = QFileInfo(sDevicePath).group();
            break;
        case EBUSY: // held exclusively by a program that takes no lock file
            error.nCause = PortOpenError::Cause::InUse;
            break;
        case ENXIO:
        case ENODEV:
        case ENOENT: // a device node without its hardware
            error.nCause = PortOpenError::Cause::NoSuchDevice;
            break;
        default: error.nCause = PortOpenError::Cause::Other; break;
        }
        return error;
    }
    const bool bTerminal = ::isatty(nFd) == 1;
    ::close(nFd);
    error.nCause = bTerminal ? PortOpenError::Cause::Other : PortOpenError::Cause::NotSerialDevice;
    return error;
}

#else // !Q_OS_UNIX

QString devicePath(const QString &sPort)
{
    return sPort;
}

PortOpenError diagnose(const QString &sDevicePath, QSerialPort::SerialPortError nError, const QString &sErrorText)
{
    PortOpenError error;
    error.sDevice = sDevicePath;
    error.sSystemText = sErrorText;
    switch (nError) {
    case QSerialPort::DeviceNotFoundError: error.nCause = PortOpenError::Cause::NoSuchDevice; break;
    case QSerialPort::PermissionError: // a port opened without sharing
        error.nCause = PortOpenError::Cause::InUse;
        break;
    default: error.nCause = PortOpenError::Cause::Other; break;
    }
    return error;
}

#endif

} // namespace PortAccess
