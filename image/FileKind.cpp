#include "FileKind.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <utility>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
FileKind kindOfMode(mode_t nMode)
{
    static const std::pair<mode_t, FileKind> kinds[] = {
        {S_IFREG, FileKind::Regular},    {S_IFDIR, FileKind::Directory},   {S_IFIFO, FileKind::Fifo},
        {S_IFCHR, FileKind::CharDevice}, {S_IFBLK, FileKind::BlockDevice}, {S_IFSOCK, FileKind::Socket}};
    for (const auto &[nType, eKind] : kinds) {
        if ((nMode & S_IFMT) == nType)
            return eKind;
    }
    return FileKind::Other;
}
#endif

} // namespace

FileKind fileKindOf(const QString &sPath)
{
    if (sPath.isEmpty())
        return FileKind::Missing;
#ifdef Q_OS_UNIX
    struct stat status;
    if (::stat(QFile::encodeName(sPath).constData(), &status) != 0)
        return FileKind::Missing;
    return kindOfMode(status.st_mode);
#else
    // The names Windows keeps for its devices (NUL, CON, COM3, ...), in any
    // folder and with any suffix, and paths in its device namespace.
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\\..*)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (sPath.startsWith(QLatin1String("\\\\.\\")) || device.match(QFileInfo(sPath).fileName()).hasMatch())
        return FileKind::CharDevice;
    const QFileInfo info(sPath);
    if (!info.exists())
        return FileKind::Missing;
    if (info.isDir())
        return FileKind::Directory;
    return info.isFile() ? FileKind::Regular : FileKind::Other;
#endif
}

bool openRegularFile(QFile &file, const QString &sPath, FileKind *pKind)
{
    FileKind eKind = fileKindOf(sPath);
    bool bOpen = false;
    if (eKind == FileKind::Regular) {
#ifdef Q_OS_UNIX
        // Between the look and the open the name may come to name something
        // else: open without waiting and look again at what was opened.
        const int fd = ::open(QFile::encodeName(sPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat status;
        if (fd < 0) {
            eKind = fileKindOf(sPath);
        } else if (::fstat(fd, &status) != 0 || (eKind = kindOfMode(status.st_mode)) != FileKind::Regular) {
            ::close(fd);
        } else {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            file.setFileName(sPath);
            bOpen = file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
            if (!bOpen)
                ::close(fd);
        }
#else
        file.setFileName(sPath);
        bOpen = file.open(QIODevice::ReadOnly);
#endif
    }
    if (pKind)
        *pKind = eKind;
    return bOpen;
}
