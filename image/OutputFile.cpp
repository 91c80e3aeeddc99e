#include "OutputFile.h"

#include "FileKind.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// As many links as the system itself follows before it gives up.
const int kMaxLinks = 40;

// Where a path's symbolic links lead. The links of /dev/stdout and
// /dev/fd/N end in /proc, where they name open descriptors (a pipe, a
// terminal, the file a shell redirected to) rather than places: such a
// path is written directly, as whoever opened the descriptor meant it, and
// one of this process's own descriptors through a copy of it, so that the
// output goes on where the descriptor stands (a redirected standard output
// is not truncated and overwritten).
struct Target
{
    QString sPath;
    bool bLoop = false;
    bool bDescriptor = false;
    int nDescriptor = -1; // this process's descriptor, when it names one
};

bool namesDescriptor(const QFileInfo &link, int &nDescriptor)
{
#ifdef Q_OS_LINUX
    const QString sFolder = QFileInfo(link.absolutePath()).canonicalFilePath();
    if (!sFolder.startsWith(QLatin1String("/proc/")))
        return false;
    bool bNumber = false;
    const int n = link.fileName().toInt(&bNumber);
    if (bNumber && sFolder == QStringLiteral("/proc/%1/fd").arg(::getpid()))
        nDescriptor = n;
    return true;
#else
    Q_UNUSED(link);
    Q_UNUSED(nDescriptor);
    return false;
#endif
}

Target resolve(const QString &sPath)
{
    Target target;
    QString sCurrent = sPath;
    for (int nHops = 0; nHops <= kMaxLinks; ++nHops) {
        const QFileInfo info(sCurrent);
        target.bDescriptor = info.isSymbolicLink() && namesDescriptor(info, target.nDescriptor);
        if (!info.isSymbolicLink() || target.bDescriptor) {
            target.sPath = sCurrent;
            return target;
        }
        sCurrent = info.symLinkTarget();
    }
    target.bLoop = true;
    return target;
}

} // namespace

OutputFile::OutputFile(const QString &sPath, Mode eMode, bool bText) : m_sPath(sPath), m_eMode(eMode), m_bText(bText)
{
}

OutputFile::~OutputFile() = default;

QString OutputFile::targetPath(const QString &sPath)
{
    const Target target = resolve(sPath);
    return target.bLoop ? sPath : target.sPath;
}

OutputFile::Status OutputFile::check(const QString &sPath, Mode eMode)
{
    const Target target = resolve(sPath);
    if (target.bLoop)
        return LinkLoop;
    const QFileInfo file(target.sPath);
    const QFileInfo folder(file.absolutePath());
    switch (fileKindOf(target.sPath)) {
    case FileKind::Missing:
        if (!folder.isDir())
            return FolderMissing;
        return folder.isWritable() && !target.bDescriptor ? Ok : NotWritable;
    case FileKind::Regular:
        // Replacing needs a new file beside the old one.
        if (!file.isWritable() || (eMode == Replace && !target.bDescriptor && !folder.isWritable()))
            return NotWritable;
        return Ok;
    case FileKind::CharDevice:
    case FileKind::Fifo: return file.isWritable() || !file.exists() ? Ok : NotWritable; // Windows: NUL does not "exist"
    case FileKind::Directory: return IsDirectory;
    default: return Unsupported;
    }
}

bool OutputFile::fail(Status eStatus, const QString &sSystemError)
{
    if (m_eStatus == Ok) {
        m_eStatus = eStatus;
        m_sSystemError = sSystemError;
    }
    return false;
}

// Unbuffered: every write() reaches the system at once, so a short write
// (a full disk, a file-size limit) is noticed where it happens and the next
// attempt tells the system's reason.
QIODevice::OpenMode OutputFile::openMode() const
{
    return QIODevice::WriteOnly | QIODevice::Unbuffered | (m_bText ? QIODevice::Text : QIODevice::NotOpen);
}

QFileDevice *OutputFile::device()
{
    return m_pSave ? static_cast<QFileDevice *>(m_pSave.get()) : &m_file;
}

bool OutputFile::open()
{
    if (m_bOpen || m_eStatus != Ok)
        return false;
    const Status eStatus = check(m_sPath, m_eMode);
    if (eStatus != Ok)
        return fail(eStatus);
    const Target target = resolve(m_sPath);
    const FileKind eKind = fileKindOf(target.sPath);
    const bool bReplace =
        m_eMode == Replace && !target.bDescriptor && (eKind == FileKind::Regular || eKind == FileKind::Missing);
    if (!bReplace)
        return openDirect(target.nDescriptor);
    // Written beside the file the links lead to and renamed there: the
    // links stay links, and a failed write leaves the old file (or none).
    m_pSave = std::make_unique<QSaveFile>(target.sPath);
    if (!m_pSave->open(openMode()))
        return fail(WriteFailed, m_pSave->errorString());
    m_bOpen = true;
    return true;
}

// Devices, FIFOs and streamed files: written where they are.
bool OutputFile::openDirect(int nDescriptor)
{
    const QIODevice::OpenMode mode = openMode();
#ifdef Q_OS_UNIX
    // Without O_NONBLOCK opening a FIFO waits until somebody reads it; with
    // it a FIFO without a reader fails at once (ENXIO).
    const int fd = nDescriptor >= 0 ? ::fcntl(nDescriptor, F_DUPFD_CLOEXEC, 0)
                                    : ::open(QFile::encodeName(m_sPath).constData(),
                                             O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int nError = errno;
        if (nError == ENXIO && fileKindOf(m_sPath) == FileKind::Fifo)
            return fail(NoReader);
        return fail(WriteFailed, QString::fromLocal8Bit(std::strerror(nError)));
    }
    // Once open, writes wait for a slow reader like any other writer's.
    if (nDescriptor < 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_file.setFileName(m_sPath);
    if (!m_file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(WriteFailed, m_file.errorString());
    }
#else
    Q_UNUSED(nDescriptor);
    m_file.setFileName(m_sPath);
    if (!m_file.open(mode | QIODevice::Truncate))
        return fail(WriteFailed, m_file.errorString());
#endif
    m_bOpen = true;
    return true;
}

bool OutputFile::write(const char *pData, qint64 nLength)
{
    if (!m_bOpen || m_eStatus != Ok)
        return false;
    QFileDevice *pDevice = device();
    while (nLength > 0) {
        const qint64 nWritten = pDevice->write(pData, nLength);
        if (nWritten <= 0)
            return fail(WriteFailed, pDevice->errorString());
        pData += nWritten;
        nLength -= nWritten;
    }
    return true;
}

bool OutputFile::flush()
{
    if (!m_bOpen || m_eStatus != Ok)
        return false;
    QFileDevice *pDevice = device();
    if (!pDevice->flush())
        return fail(WriteFailed, pDevice->errorString());
    return true;
}

bool OutputFile::commit()
{
    if (!m_bOpen)
        return false;
    m_bOpen = false;
    if (m_pSave) {
        if (m_eStatus != Ok) {
            m_pSave.reset(); // discards what was written
            return false;
        }
        if (!m_pSave->commit())
            return fail(WriteFailed, m_pSave->errorString());
        return true;
    }
    if (m_eStatus == Ok && !m_file.flush())
        fail(WriteFailed, m_file.errorString());
    m_file.close();
    if (m_eStatus == Ok && m_file.error() != QFileDevice::NoError)
        fail(WriteFailed, m_file.errorString());
    return m_eStatus == Ok;
}

QString OutputFile::problem() const
{
    switch (m_eStatus) {
    case Ok: return QString();
    case IsDirectory: return QStringLiteral("it is a directory");
    case Unsupported: return QStringLiteral("it is a socket or a block device");
    case FolderMissing: return QStringLiteral("its folder does not exist");
    case NotWritable: return QStringLiteral("no permission to write it");
    case LinkLoop: return QStringLiteral("too many levels of symbolic links");
    case NoReader: return QStringLiteral("it is a FIFO that nobody reads");
    case WriteFailed: break;
    }
    return m_sSystemError.isEmpty() ? QStringLiteral("it cannot be written") : m_sSystemError;
}
