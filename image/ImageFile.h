#ifndef SERVOPROG_IMAGE_IMAGEFILE_H
#define SERVOPROG_IMAGE_IMAGEFILE_H

// An image file read for one use. The constructor looks at the file: only a
// regular file is read (a FIFO would hold the reader, a device may never
// end), and its type is decided by its first four bytes. Then one of load(),
// loadExtent() or scan() reads its records, into an address window or only
// to measure them:
//
//   ImageFile image(sPath);
//   if (image.load(0, nFlashEnd)) ... image.converter()->buffer() ...
//   image.printMessages();   // the reader's error and warnings, if any
//
// The reader's messages come back as data, worded exactly as the reader
// words them ("hex2bin error: crc checksum error\n"); nothing is printed
// unless the caller asks.

#include "FileKind.h"
#include "HexConv.h"

#include <QString>
#include <QStringList>

#include <limits>
#include <memory>

class ImageFile
{
public:
    enum Status
    {
        Ok,
        NotRegular,  // missing, a directory, a FIFO, a device ... (kind())
        UnknownType, // neither Intel HEX nor S-record by its first bytes
        Malformed,   // the reader failed (errorText())
        TooLarge,    // loadExtent(): the data span more than allowed
        NoMemory     // the window could not be allocated
    };

    explicit ImageFile(const QString &sPath);

    // Reads the file into the window nBase..nEnd. Records outside it are
    // dropped whole and counted in count() (below or above the window).
    bool load(quint32 nBase, quint32 nEnd);
    // Reads the file into a window that is exactly its data's extent,
    // wherever in the 32-bit space that lies (measured in a first pass);
    // refused above nMaxExtent bytes. A file without data gets no converter.
    bool loadExtent(quint64 nMaxExtent);
    // Measures only, without a window: the extent, and the data bytes
    // against nFirst..nLast by the rule of load().
    bool scan(qint64 nFirst = 0, qint64 nLast = std::numeric_limits<qint64>::max());

    const QString &path() const { return m_sPath; }
    Status status() const { return m_eStatus; }
    FileKind kind() const { return m_eKind; }
    HexConv::FileType type() const { return m_eType; }
    const HexConv::Extent &extent() const { return m_extent; }
    const HexConv::DataCount &count() const { return m_count; }
    // Bytes from the lowest to the highest address with data; 0 without data.
    quint64 length() const;
    // The loaded window; null after scan() or a failure.
    HexConv *converter() const { return m_pConv.get(); }
    std::unique_ptr<HexConv> takeConverter() { return std::move(m_pConv); }

    // The reader's message when the file is Malformed, and its warnings.
    const QString &errorText() const { return m_sError; }
    const QStringList &warnings() const { return m_warnings; }
    // Writes them to standard error, error first, as the reader words them.
    void printMessages() const;

private:
    bool fail(Status eStatus);
    bool readInto(std::unique_ptr<HexConv> pConv);

    QString m_sPath;
    Status m_eStatus = Ok;
    FileKind m_eKind = FileKind::Missing;
    HexConv::FileType m_eType = HexConv::FileTypeUnknown;
    HexConv::Extent m_extent;
    HexConv::DataCount m_count;
    std::unique_ptr<HexConv> m_pConv;
    QString m_sError;
    QStringList m_warnings;
};

#endif
