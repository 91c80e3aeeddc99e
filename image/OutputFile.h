#ifndef SERVOPROG_IMAGE_OUTPUTFILE_H
#define SERVOPROG_IMAGE_OUTPUTFILE_H

// One output file, written so that a mistake loses nothing, whatever the
// path names:
//
//  - a regular file, or a name that does not exist yet: with Replace it is
//    written beside its final place and renamed there by commit(), so it
//    appears complete or not at all; with Stream it is written in place as
//    it goes (a log that must be readable after a crash or a kill);
//  - a symbolic link: the file it leads to is written, the link stays;
//  - a character device (/dev/null, a terminal) or a FIFO: written
//    directly, never replaced; a FIFO that nobody reads fails at once
//    instead of waiting for a reader;
//  - a directory, a socket or a block device: refused.
//
//   OutputFile file(sPath);
//   if (!file.open() || !file.write(data) || !file.commit())
//       ... file.status(), file.systemError() ...
//
// Texts for the user are left to the front ends: they get a typed status and
// the operating system's own words for a failed open or write.

#include <QFile>
#include <QString>

#include <memory>

class QFileDevice;
class QSaveFile;

class OutputFile
{
public:
    enum Mode
    {
        Replace, // complete or not at all
        Stream   // in place, visible as it is written
    };
    enum Status
    {
        Ok,
        IsDirectory,   // the path, or where its links lead, is a directory
        Unsupported,   // a socket, a block device or some other special file
        FolderMissing, // the folder the file would be created in does not exist
        NotWritable,   // no permission to write the file or to create it in its folder
        LinkLoop,      // symbolic links that never end
        NoReader,      // a FIFO that nobody reads
        WriteFailed    // opening or writing failed: systemError() says why
    };

    explicit OutputFile(const QString &sPath, Mode eMode = Replace, bool bText = false);
    ~OutputFile(); // a Replace that was not committed leaves the old file as it was

    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Whether sPath can be written in this mode, found without opening or
    // writing anything: opening a FIFO, even only to look, would end the
    // stream of whoever reads it. A FIFO's reader is known only at open().
    static Status check(const QString &sPath, Mode eMode = Replace);
    // The file the bytes end up in: sPath with its symbolic links followed
    // (also when the last one leads to a file that does not exist yet).
    static QString targetPath(const QString &sPath);

    bool open();
    // False once anything failed; later writes are dropped.
    bool write(const char *pData, qint64 nLength);
    bool write(const QByteArray &data) { return write(data.constData(), data.size()); }
    // Stream: hands what was written to the system now.
    bool flush();
    // Finishes the file: true only when every byte reached it.
    bool commit();

    Status status() const { return m_eStatus; }
    QString systemError() const { return m_sSystemError; }
    // Why the file could not be written, in a few words for a message
    // ("No space left on device", "it is a directory"); empty when nothing
    // failed.
    QString problem() const;
    QString path() const { return m_sPath; }

private:
    bool fail(Status eStatus, const QString &sSystemError = QString());
    bool openDirect(int nDescriptor);
    QIODevice::OpenMode openMode() const;
    QFileDevice *device();

    QString m_sPath;
    Mode m_eMode;
    bool m_bText;
    Status m_eStatus = Ok;
    QString m_sSystemError;
    std::unique_ptr<QSaveFile> m_pSave; // Replace on a regular or new file
    QFile m_file;                       // everything written directly
    bool m_bOpen = false;
};

#endif
