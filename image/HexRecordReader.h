#ifndef SERVOPROG_IMAGE_HEXRECORDREADER_H
#define SERVOPROG_IMAGE_HEXRECORDREADER_H

// Internal to the image library: the record readers of both file formats.
// They parse a file line by line and hand every record to a sink, so that
// loading into a window and the window-less extent scan share one parser.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QIODevice;

namespace hexrecord {

// Receives the records of a file in file order.
class Sink
{
public:
    virtual ~Sink() = default;
    // A data record with nCount >= 0 bytes at nAddress. nAddress + nCount - 1
    // may exceed 0xFFFFFFFF for a malicious or broken file; the sink decides.
    virtual void data(quint64 nAddress, const quint8 *pData, int nCount) = 0;
    // S0 header data (S-record only).
    virtual void header(const quint8 *pData, int nCount)
    {
        Q_UNUSED(pData);
        Q_UNUSED(nCount);
    }
    // Start address of an S7/S8/S9 record (S-record only).
    virtual void start(quint32 nAddress) { Q_UNUSED(nAddress); }
};

// Lines of a text file, read in large blocks. A line may be of any length;
// "\r\n" ends a line like "\n", so files written on Windows read the same
// on every platform.
class LineReader
{
public:
    explicit LineReader(QIODevice &device);
    // The next line without its line end; false at the end of the file or
    // on a read error (see failed()). bNewline tells whether a line feed
    // ended the line (false only for a last line without one).
    bool next(const char *&pLine, qsizetype &nLength, bool &bNewline);
    bool failed() const { return m_bFailed; }
    // A line grew beyond kMaxLine characters without a line feed: no image
    // record is that long, so the file is not an image (next() returned false).
    bool lineTooLong() const { return m_bTooLong; }
    static constexpr qsizetype kMaxLine = 16 << 20;
    // Whether any of the remaining lines holds something other than white
    // space (consumes them).
    bool restHasText();

private:
    bool fill();

    QIODevice &m_device;
    QByteArray m_buffer;
    qsizetype m_nPos = 0;
    qsizetype m_nEnd = 0;
    bool m_bEof = false;
    bool m_bFailed = false;
    bool m_bTooLong = false;
};

// What a reader had to say, worded exactly as it says it ("hex2bin error:
// bad record format\n"); nothing is printed here.
struct Messages
{
    QString sError;       // why the reading failed; empty after success
    QStringList warnings; // suspicious but accepted input, in order
};

// 0 on success, -1 on failure. A file that cannot be opened fails without a
// message; other failures leave the reader's message in messages.sError.
// Warnings (missing end record, text ignored after a blank line) are added
// to messages.warnings.
int readIntelHex(const QString &sFileName, Sink &sink, Messages &messages);
int readSRecord(const QString &sFileName, Sink &sink, Messages &messages);

} // namespace hexrecord

#endif
