#ifndef SERVOPROG_IMAGE_HEXRECORDREADER_H
#define SERVOPROG_IMAGE_HEXRECORDREADER_H

// Internal to the image library: the record readers of both file formats.
// They parse a file line by line and hand every record to a sink, so that
// loading into a window and the window-less extent scan share one parser.

#include "HexConv.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

class QIODevice;

namespace hexrecord {

// Receives the records of a file in file order.
class Sink
{
public:
    virtual ~Sink() = default;
    // A data record with nCount >= 0 bytes at nAddress, read from line
    // nLine. nAddress + nCount - 1 may exceed 0xFFFFFFFF for a malicious or
    // broken file; the sink decides.
    virtual void data(quint64 nAddress, const quint8 *pData, int nCount, qint64 nLine) = 0;
    // S0 header data (S-record only).
    virtual void header(const quint8 *pData, int nCount)
    {
        Q_UNUSED(pData);
        Q_UNUSED(nCount);
    }
    // Start address of an S7/S8/S9 record (S-record only).
    virtual void start(quint32 nAddress) { Q_UNUSED(nAddress); }
};

// Lines of a text file, read in large blocks. A line may be of any length.
// "\n", "\r\n" and a lone "\r" all end a line, so files written on Windows
// or with old Mac line ends read the same on every platform; carriage
// returns before a line feed ("\r\r\n") are trailing white space.
class LineReader
{
public:
    explicit LineReader(QIODevice &device);
    // The next line without its line end; false at the end of the file or
    // on a read error (see failed()). bNewline tells whether a line end
    // ended the line (false only for a last line without one).
    bool next(const char *&pLine, qsizetype &nLength, bool &bNewline);
    // The number of the line next() returned last, counting from 1.
    qint64 lineNumber() const { return m_nLine; }
    bool failed() const { return m_bFailed; }
    // A line grew beyond kMaxLine characters without a line end: no image
    // record is that long, so the file is not an image (next() returned false).
    bool lineTooLong() const { return m_bTooLong; }
    static constexpr qsizetype kMaxLine = 16 << 20;

private:
    bool fill();

    QIODevice &m_device;
    QByteArray m_buffer;
    qsizetype m_nPos = 0;
    qsizetype m_nEnd = 0;
    qint64 m_nLine = 0;
    bool m_bEof = false;
    bool m_bFailed = false;
    bool m_bTooLong = false;
};

// What a reader had to say, worded exactly as it says it ("hex2bin error:
// bad record format\n") with the line it concerns; nothing is printed here.
struct Messages
{
    HexConv::Message error; // why the reading failed; empty text after success
    QVector<HexConv::Message> warnings;
    HexConv::Completeness eCompleteness = HexConv::Complete;
};

// 0 on success, -1 on failure. A file that cannot be opened fails without a
// message; other failures leave the reader's message in messages.error.
// Warnings (a missing end record, data that follow where reading stopped,
// text ignored after a blank line) are added to messages.warnings, and
// messages.eCompleteness says whether the file was read to its end record.
int readIntelHex(const QString &sFileName, Sink &sink, Messages &messages);
int readSRecord(const QString &sFileName, Sink &sink, Messages &messages);

} // namespace hexrecord

#endif
