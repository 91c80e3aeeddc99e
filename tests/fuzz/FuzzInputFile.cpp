#include "FuzzInputFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace fuzzinput {

namespace {

QString scratchFolder()
{
#ifdef Q_OS_LINUX
    if (QDir(QStringLiteral("/dev/shm")).exists())
        return QStringLiteral("/dev/shm");
#endif
    // Kept for the life of the process; removed at exit.
    static std::unique_ptr<QTemporaryDir> pDir(new QTemporaryDir);
    return pDir->path();
}

// Scratch files are removed when the process ends normally (libFuzzer ends
// with exit() after -runs or -max_total_time), so /dev/shm does not fill up.
struct ScratchFiles
{
    QStringList paths;
    ~ScratchFiles()
    {
        for (const QString &sPath : paths)
            QFile::remove(sPath);
    }
};

ScratchFiles &scratchFiles()
{
    static ScratchFiles files;
    return files;
}

} // namespace

QString scratchPath(const char *sName)
{
    const QString sPath = scratchFolder()
                          + QStringLiteral("/servoprog-fuzz-%1-%2")
                                .arg(QCoreApplication::applicationPid())
                                .arg(QString::fromLatin1(sName));
    if (!scratchFiles().paths.contains(sPath))
        scratchFiles().paths.append(sPath);
    return sPath;
}

bool writeScratch(const QString &sPath, const std::uint8_t *pData, std::size_t nSize)
{
    QFile file(sPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const qint64 nWritten = nSize ? file.write(reinterpret_cast<const char *>(pData), qint64(nSize)) : 0;
    return nWritten == qint64(nSize);
}

QByteArray readAll(const QString &sPath)
{
    QFile file(sPath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace fuzzinput
