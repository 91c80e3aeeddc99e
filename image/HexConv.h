#ifndef SERVOPROG_IMAGE_HEXCONV_H
#define SERVOPROG_IMAGE_HEXCONV_H

// Image converters: an address window backed by one byte buffer, filled from
// (or written to) an address-tagged image file.
//
// Image files are read through ImageFile, which picks the converter by the
// file's content and chooses the window. The readers' diagnostics, prefixed
// "hex2bin error: " / "srec2bin error: " (and "... warning: " for suspicious
// but accepted input), are kept as data with the line they concern
// (messages()); nothing is printed here.

#include <QString>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <memory>

namespace hexrecord {
struct Messages;
}

class HexConv
{
public:
    // File type as decided by the first four bytes of a file, never by its name.
    enum FileType
    {
        FileTypeUnknown = 0,
        FileTypeIntelHex = 1,
        FileTypeSRecord = 2
    };

    // The addresses of a file that carry data.
    struct Extent
    {
        bool bHasData = false; // false: no data record with at least one byte
        quint32 nLowest = 0;   // lowest address that receives data
        quint32 nHighest = 0;  // highest address that receives data (inclusive)
        quint32 nSkipped = 0;  // data records that reach past 0xFFFFFFFF (unusable)
    };

    // Data bytes of a file against an address range (the window of a load).
    // A load that drops records whole counts a record as inside only when it
    // lies wholly in the range, one that reaches past its end as above, any
    // other as below; a clipping load and the scan count byte by byte.
    struct DataCount
    {
        quint64 nInside = 0;
        quint64 nBelow = 0;
        quint64 nAbove = 0;
    };

    // Whether a file was read to its end record. A file cut short (a copy
    // that stopped) still loads, but writing it would leave a drive holding
    // part of an image; the order runs from harmless to worst.
    enum Completeness
    {
        Complete = 0,
        NoEndRecord = 1,  // no end record (Intel HEX type 01; S7, S8, S9 or an S5 that agrees)
        DataAfterEnd = 2, // S-record data records after its end record (read)
        DataNotRead = 3   // data records after the point where reading stopped (not read)
    };

    // A reader's message and the line of the file it concerns (0: none).
    struct Message
    {
        qint64 nLine = 0;
        QString sText;
    };

    // Window used to examine a file (8 MiB from address 0).
    static constexpr quint32 kExamineBase = 0;
    static constexpr quint32 kExamineEnd = 0x7FFFFF;

    // Creates the window nBase..nEnd (inclusive), every byte 0xFF. When the
    // buffer cannot be allocated (or nEnd < nBase) the converter has no
    // buffer: isAllocated() is false and load()/save() return -1.
    HexConv(quint32 nBase, quint32 nEnd);
    virtual ~HexConv() = default;

    virtual quint32 baseAddress() const { return m_nBase; }
    virtual quint32 endAddress() const { return m_nEnd; } // inclusive
    // Lowest/highest address that received data. Without data the lowest is
    // the end address and the highest the base address (see hasData()).
    virtual quint32 lowestAddress() const { return m_nLowest; }
    virtual quint32 highestAddress() const { return m_nHighest; }
    // The byte of the base address; end - base + 1 bytes may be read and
    // written from here. Null when the window could not be allocated.
    virtual quint8 *buffer() { return m_pBuffer.get(); }
    // Recomputes the used range: every byte that differs from nFill counts
    // as data.
    virtual void rescan(quint8 nFill);
    // Reads an image file into the window: 0 on success, -1 on failure (a
    // file that cannot be opened fails without a message, a malformed one
    // with the reader's message in errorText(); data stored before the bad
    // line stay in the buffer). Records outside the window are dropped whole
    // (and named in a warning), unless setClipToWindow() was called.
    virtual int load(const QString &sFileName) = 0;
    // Writes the window (bWholeWindow) or the used range to sFileName: 0 on
    // success, -1 on failure (nothing is reported as written unless every
    // byte reached the file). Converters that only read write nothing and
    // return -1.
    virtual int save(const QString &sFileName, bool bWholeWindow) = 0;

    const quint8 *constBuffer() const { return m_pBuffer.get(); }
    bool isAllocated() const { return m_pBuffer != nullptr; }
    // Whether any data arrived (lowest <= highest, and at least one byte).
    bool hasData() const { return m_bHasData; }

    // Records that reach over an end of the window keep their bytes inside
    // it instead of being dropped whole: a job that writes a range of a
    // memory writes exactly the file's bytes in that range.
    void setClipToWindow(bool bClip) { m_bClip = bClip; }

    // What the last load() said, worded exactly as the reader words it
    // ("hex2bin error: crc checksum error\n"): its error, empty after a
    // success; and every message, the error first, then the warnings in
    // order, each with its line.
    const QString &errorText() const { return m_sError; }
    const QVector<Message> &messages() const { return m_messages; }
    Completeness completeness() const { return m_eCompleteness; }
    // The data bytes the last load() met, against the window.
    const DataCount &dataCount() const { return m_count; }

    // File type by the first four bytes of a file: S-record when byte 0 is
    // 'S', byte 1 a decimal digit and bytes 2 and 3 hexadecimal digits;
    // otherwise Intel HEX when byte 0 is ':' and bytes 1 and 2 are
    // hexadecimal digits; otherwise (or when fewer than four bytes are
    // given) unknown. ImageFile applies it to files.
    static FileType fileTypeOf(const char *pHead, qint64 nLength);
    // "Intel HEX", "S-record" or "unknown".
    static QString fileTypeName(FileType eType);

    // A new converter of the given type for the window nBase..nEnd; null for
    // an unknown type or when the window cannot be allocated. The caller
    // owns the converter.
    static std::unique_ptr<HexConv> create(FileType eType, quint32 nBase, quint32 nEnd);

protected:
    // The body of load(): runs a reader (sPrefix names it in messages,
    // "hex2bin" or "srec2bin") whose sink stores through storeRecord(), and
    // keeps what it said.
    int readFile(const char *sPrefix, const std::function<int(hexrecord::Messages &)> &read);
    // Copies a data record into the window when it lies wholly inside it
    // (or, clipping, the part of it that does), widening the used range.
    // Returns false (and stores nothing) when the record was dropped because
    // it does not fit. Empty records are ignored.
    bool storeRecord(quint32 nAddress, const quint8 *pData, int nCount, qint64 nLine);

private:
    quint32 m_nBase;
    quint32 m_nEnd;
    quint32 m_nLowest;
    quint32 m_nHighest;
    quint32 m_nMask = 0xFFFFFFFFu;
    std::unique_ptr<quint8[]> m_pBuffer;
    quint64 m_nSize = 0;
    bool m_bHasData = false;
    bool m_bClip = false;
    quint32 m_nDropped = 0;    // records dropped by the last load
    qint64 m_nDroppedLine = 0; // the line of the first of them
    DataCount m_count;
    QString m_sError;
    Completeness m_eCompleteness = Complete;
    QVector<Message> m_messages;
};

#endif
