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
// words them and led by the file and the line they concern, as compilers
// do ("fw.hex:412: hex2bin error: crc checksum error"); nothing is printed
// unless the caller asks. A file read to its end may still be incomplete
// (isComplete()): such a file loads, but no job writes it unless told to.

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
    // Reads exactly the file's bytes at nFirst..nLast into a window of that
    // range: a record that reaches over either end gives the bytes it holds
    // inside; count() counts byte by byte.
    bool loadRange(quint32 nFirst, quint32 nLast);
    // Reads the file into a window that is exactly its data's extent,
    // wherever in the 32-bit space that lies (measured in a first pass);
    // refused above nMaxExtent bytes. A file without data gets no converter.
    bool loadExtent(quint64 nMaxExtent);
    // Measures only, without a window: the extent, and the data bytes
    // against nFirst..nLast byte by byte (as loadRange() takes them).
    bool scan(qint64 nFirst = 0, qint64 nLast = std::numeric_limits<qint64>::max());

    const QString &path() const { return m_sPath; }
    Status status() const { return m_eStatus; }
    FileKind kind() const { return m_eKind; }
    HexConv::FileType type() const { return m_eType; }
    const HexConv::Extent &extent() const { return m_extent; }
    const HexConv::DataCount &count() const { return m_count; }
    // Bytes from the lowest to the highest address with data; 0 without data.
    quint64 length() const { return m_extent.bHasData ? quint64(m_extent.nHighest) - m_extent.nLowest + 1 : 0; }
    // The loaded window; null after scan() or a failure.
    HexConv *converter() const { return m_pConv.get(); }
    std::unique_ptr<HexConv> takeConverter() { return std::move(m_pConv); }

    // The reader's own message when the file is Malformed.
    const QString &errorText() const { return m_sError; }
    // Every message of the last reading, the error first, each as one line
    // "FILE:LINE: text" (without a line end; "FILE: text" when it concerns
    // no line).
    QStringList messageLines() const;
    // Writes them to standard error.
    void printMessages() const;

    // Whether the file was read to its end record with no data left unread
    // (see HexConv::Completeness); known after a reading.
    HexConv::Completeness completeness() const { return m_eCompleteness; }
    bool isComplete() const { return m_eCompleteness == HexConv::Complete; }
    // What makes the file incomplete, for a refusal: "no end-of-file record
    // (type 01)", ...; empty when it is complete.
    QString incompleteReason() const;

private:
    bool fail(Status eStatus);
    // Every load: the file into the window nBase..nEnd (bClip as loadRange()).
    bool readInto(quint32 nBase, quint32 nEnd, bool bClip);
    void keepMessages(const QString &sError, const QVector<HexConv::Message> &messages,
                      HexConv::Completeness eCompleteness);

    QString m_sPath;
    Status m_eStatus = Ok;
    FileKind m_eKind = FileKind::Missing;
    HexConv::FileType m_eType = HexConv::FileTypeUnknown;
    HexConv::Extent m_extent;
    HexConv::DataCount m_count;
    std::unique_ptr<HexConv> m_pConv;
    QString m_sError;
    QVector<HexConv::Message> m_messages;
    HexConv::Completeness m_eCompleteness = HexConv::Complete;
};

#endif
