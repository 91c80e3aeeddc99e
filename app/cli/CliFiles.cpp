#include "CliFiles.h"

#include "CliCommand.h"
#include "CliText.h"
#include "PortAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
// A Windows device by the one name it has however it is spelt: "COM10",
// "\\.\COM10" and "com10:" are "com10"; "NUL.txt" in any folder is "nul".
QString windowsDeviceName(const QString &sName)
{
    QString sDevice = sName;
    if (sDevice.startsWith(QLatin1String("\\\\.\\")) || sDevice.startsWith(QLatin1String("\\\\?\\")))
        sDevice = sDevice.mid(4);
    else
        sDevice = QFileInfo(sDevice).fileName().section(QLatin1Char('.'), 0, 0);
    if (sDevice.endsWith(QLatin1Char(':')))
        sDevice.chop(1);
    return sDevice.toLower();
}
#endif

struct CliFileIdentity
{
    bool bExists = false;
    quint64 nDevice = 0;
    quint64 nInode = 0;
    bool bCharDevice = false;
    QString sPath; // what does not exist yet: the file it would be

    bool operator==(const CliFileIdentity &other) const
    {
        if (bExists != other.bExists)
            return false;
        if (!bExists || nInode == 0)
            return sPath == other.sPath;
        return nDevice == other.nDevice && nInode == other.nInode;
    }
};

CliFileIdentity identityOf(const QString &sPath, bool bOutput)
{
    CliFileIdentity identity;
#ifdef Q_OS_UNIX
    struct stat status;
    if (::stat(QFile::encodeName(sPath).constData(), &status) == 0) {
        identity.bExists = true;
        identity.nDevice = quint64(status.st_dev);
        identity.nInode = quint64(status.st_ino);
        identity.bCharDevice = S_ISCHR(status.st_mode);
        return identity;
    }
#elif defined(Q_OS_WIN)
    if (fileKindOf(sPath) == FileKind::CharDevice) {
        identity.bExists = true;
        identity.bCharDevice = true;
        identity.sPath = windowsDeviceName(sPath);
        return identity;
    }
    // A hard link, a second drive letter (subst) or a share for a local
    // folder spell one file in several ways: the volume and the file index
    // say which file it is.
    const HANDLE hFile = ::CreateFileW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(sPath).utf16()),
                                       FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        const bool bKnown = ::GetFileInformationByHandle(hFile, &info);
        ::CloseHandle(hFile);
        if (bKnown) {
            identity.bExists = true;
            identity.nDevice = info.dwVolumeSerialNumber;
            identity.nInode = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
            return identity;
        }
    }
#endif
    // An output is created where its links lead; its folder may be spelt
    // with links or "..".
    const QFileInfo target(bOutput ? OutputFile::targetPath(sPath) : sPath);
    identity.bExists = target.exists();
    QString sFolder = QFileInfo(target.absolutePath()).canonicalFilePath();
    if (sFolder.isEmpty())
        sFolder = QDir::cleanPath(target.absolutePath());
    identity.sPath = identity.bExists ? target.canonicalFilePath() : sFolder + QLatin1Char('/') + target.fileName();
#ifdef Q_OS_WIN
    identity.sPath = identity.sPath.toLower();
#endif
    return identity;
}

} // namespace

void CliFileSet::addInput(const QString &sName, const QString &sPath)
{
    m_entries.append({sName, sPath, Role::Input});
}

void CliFileSet::addOutput(const QString &sName, const QString &sPath)
{
    m_entries.append({sName, sPath, Role::Output});
}

void CliFileSet::addPort(const QString &sGiven, const QString &sPort)
{
    // The device the serial port opens: a bare name is a name in /dev; on
    // Windows every port name is a device's, COM10 and above included.
#ifdef Q_OS_WIN
    m_entries.append({sGiven, QStringLiteral("\\\\.\\") + windowsDeviceName(sPort), Role::Port});
#else
    m_entries.append({sGiven, PortAccess::devicePath(sPort), Role::Port});
#endif
}

int CliFileSet::check(const char *sCommand) const
{
    QVector<CliFileIdentity> identities;
    for (const Entry &entry : m_entries)
        identities.append(identityOf(entry.sPath, entry.eRole == Role::Output));
    for (int i = 0; i < m_entries.size(); ++i) {
        for (int k = i + 1; k < m_entries.size(); ++k) {
            // Inputs before outputs before ports: "--flash0 and --report
            // name the same file", "--report ... is the port ...".
            const bool bSwap = m_entries.at(i).eRole > m_entries.at(k).eRole;
            const Entry &first = m_entries.at(bSwap ? k : i);
            const Entry &second = m_entries.at(bSwap ? i : k);
            // Two ports that are one are refused where the ports are read.
            if (first.eRole == second.eRole && first.eRole != Role::Output)
                continue;
            if (!(identities.at(i) == identities.at(k)))
                continue;
            if (second.eRole == Role::Port) {
                const QString sPort = second.sPath == second.sName
                                          ? second.sName
                                          : QStringLiteral("%1 (%2)").arg(second.sName, second.sPath);
                const QString sFile = first.sPath == second.sName || first.sPath == second.sPath
                                          ? first.sName
                                          : QStringLiteral("%1 %2").arg(first.sName, first.sPath);
                return usageFail(sCommand, QStringLiteral("%1: %2 is the port %3; a port is the drive's line, "
                                                          "neither an input nor an output")
                                               .arg(QLatin1String(sCommand), sFile, sPort));
            }
            const bool bOutputs = first.eRole == Role::Output;
            if (bOutputs && identities.at(i).bCharDevice)
                continue;
            const QString sSpelling =
                first.sPath == second.sPath ? first.sPath : QStringLiteral("%1 and %2").arg(first.sPath, second.sPath);
            return usageFail(sCommand,
                             QStringLiteral("%1: %2 and %3 name the same file (%4); %5")
                                 .arg(QLatin1String(sCommand), first.sName, second.sName, sSpelling,
                                      bOutputs ? QStringLiteral("one output would overwrite the other")
                                               : QStringLiteral("writing the output would destroy the input")));
        }
    }
    return ExitOk;
}

bool CliFifoHold::hold(const QString &sOption, const QString &sPath)
{
    if (fileKindOf(sPath) != FileKind::Fifo)
        return true;
    auto pFile = std::make_unique<OutputFile>(sPath, OutputFile::Stream);
    if (!pFile->open()) {
        const QString sProblem = cliOutputProblem(sPath, pFile->status(), pFile->systemError());
        fail(ExitFailed, sOption.isEmpty() ? sProblem : QStringLiteral("%1: %2").arg(sOption, sProblem));
        return false;
    }
    m_files.push_back(std::move(pFile));
    return true;
}

QString cliPortIdentity(const QString &sPort)
{
#ifdef Q_OS_WIN
    return windowsDeviceName(sPort);
#else
    // The device the serial port opens: a bare name is a name in /dev.
    const QString sPath = PortAccess::devicePath(sPort);
    if (QFileInfo::exists(sPath))
        return sPath;
    if (sPort.contains(QLatin1Char('/')))
        return QDir::cleanPath(QFileInfo(sPath).absoluteFilePath());
    return sPort.toLower();
#endif
}

QString cliInputProblem(const QString &sPath, FileKind eKind)
{
    switch (eKind) {
    case FileKind::Missing: return QStringLiteral("%1: no such file").arg(sPath);
    case FileKind::Regular: return QStringLiteral("%1: cannot be read").arg(sPath);
    case FileKind::Directory: return QStringLiteral("%1 is not a regular file (it is a directory)").arg(sPath);
    case FileKind::Fifo:
        return QStringLiteral("%1 is not a regular file (it is a FIFO or a pipe, whose contents can be read only "
                              "once); save them to a file and give that")
            .arg(sPath);
    case FileKind::CharDevice:
    case FileKind::BlockDevice: return QStringLiteral("%1 is not a regular file (it is a device)").arg(sPath);
    case FileKind::Socket: return QStringLiteral("%1 is not a regular file (it is a socket)").arg(sPath);
    default: return QStringLiteral("%1 is not a regular file").arg(sPath);
    }
}

QString cliOutputProblem(const QString &sPath, OutputFile::Status eStatus, const QString &sSystemError)
{
    const QString sFolder = QFileInfo(OutputFile::targetPath(sPath)).absolutePath();
    switch (eStatus) {
    case OutputFile::Ok: return QString();
    case OutputFile::IsDirectory: return QStringLiteral("%1 is a directory").arg(sPath);
    case OutputFile::Unsupported:
        return QStringLiteral("%1 is a socket or a block device; only files, character devices and FIFOs are written")
            .arg(sPath);
    case OutputFile::FolderMissing:
        return QStringLiteral("%1: cannot be created, the folder %2 does not exist").arg(sPath, sFolder);
    case OutputFile::NotWritable:
        return QStringLiteral("%1: no permission to write it (or to create a file in %2)").arg(sPath, sFolder);
    case OutputFile::LinkLoop: return QStringLiteral("%1: too many levels of symbolic links").arg(sPath);
    case OutputFile::NoReader: return QStringLiteral("%1 is a FIFO that nobody reads").arg(sPath);
    case OutputFile::WriteFailed: break;
    }
    return QStringLiteral("%1: %2").arg(sPath,
                                        sSystemError.isEmpty() ? QStringLiteral("cannot be written") : sSystemError);
}

bool cliCheckOutput(const QString &sOption, const QString &sPath, OutputFile::Mode eMode)
{
    const OutputFile::Status eStatus = OutputFile::check(sPath, eMode);
    if (eStatus == OutputFile::Ok)
        return true;
    const QString sProblem = cliOutputProblem(sPath, eStatus);
    fail(ExitFailed, sOption.isEmpty() ? sProblem : QStringLiteral("%1: %2").arg(sOption, sProblem));
    return false;
}
