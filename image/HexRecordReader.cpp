#include "HexRecordReader.h"

#include "FileKind.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace hexrecord {

namespace {

constexpr qsizetype kBlockSize = 1 << 20;

struct HexTable
{
    qint8 v[256];
    constexpr HexTable() : v()
    {
        for (int i = 0; i < 256; ++i)
            v[i] = -1;
        for (int i = 0; i < 10; ++i)
            v['0' + i] = qint8(i);
        for (int i = 0; i < 6; ++i) {
            v['a' + i] = qint8(10 + i);
            v['A' + i] = qint8(10 + i);
        }
    }
};
constexpr HexTable kTable;

// One byte from two hexadecimal digits; -1 when either is not a digit.
inline int hexByte(const char *p)
{
    const int h = kTable.v[quint8(p[0])];
    const int l = kTable.v[quint8(p[1])];
    if ((h | l) < 0)
        return -1;
    return (h << 4) | l;
}

// Converts nCount digit pairs; false when a character is not a hex digit.
inline bool hexBytes(const char *p, int nCount, quint8 *pOut)
{
    for (int i = 0; i < nCount; ++i) {
        const int b = hexByte(p + 2 * i);
        if (b < 0)
            return false;
        pOut[i] = quint8(b);
    }
    return true;
}

inline bool isControl(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

inline bool isWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Lines of a text file, read in large blocks. A line may be of any length.
// "\n", "\r\n" and a lone "\r" all end a line, so files written on Windows
// or with old Mac line ends read the same on every platform; carriage
// returns before a line feed ("\r\r\n") are trailing white space.
class LineReader
{
public:
    explicit LineReader(QIODevice &device) : m_device(device) { m_buffer.resize(kBlockSize); }
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

// A failure: the message is kept with its line, and the reader's result is -1.
int fail(Messages &messages, qint64 nLine, const QString &sMessage)
{
    messages.error = {nLine, sMessage};
    return -1;
}

void warn(Messages &messages, qint64 nLine, const QString &sMessage)
{
    messages.warnings.append({nLine, sMessage});
}

void markIncomplete(Messages &messages, HexConv::Completeness eWhy)
{
    // Data left unread weigh more than a missing end record.
    if (int(eWhy) > int(messages.eCompleteness))
        messages.eCompleteness = eWhy;
}

// Address ranges [first, end), kept disjoint; ranges that touch are merged,
// so the records of an ordinary file, one after the other, make one range.
class RangeSet
{
public:
    // Adds [nFirst, nEnd) and calls overlap(first, end) for every part of it
    // that was in the set already.
    template <typename Overlap> void add(quint64 nFirst, quint64 nEnd, Overlap overlap)
    {
        // The usual case: the record follows the one before it.
        if (m_last != m_ranges.end() && m_last->second == nFirst) {
            const auto next = std::next(m_last);
            if (next == m_ranges.end() || next->first > nEnd) {
                m_last->second = nEnd;
                return;
            }
        }
        auto it = m_ranges.upper_bound(nFirst);
        if (it != m_ranges.begin() && std::prev(it)->second >= nFirst)
            --it;
        quint64 nStart = nFirst;
        quint64 nStop = nEnd;
        while (it != m_ranges.end() && it->first <= nEnd) {
            const quint64 nLow = qMax(it->first, nFirst);
            const quint64 nHigh = qMin(it->second, nEnd);
            if (nLow < nHigh)
                overlap(nLow, nHigh);
            nStart = qMin(nStart, it->first);
            nStop = qMax(nStop, it->second);
            it = m_ranges.erase(it);
        }
        m_last = m_ranges.emplace_hint(it, nStart, nStop);
    }
    bool isEmpty() const { return m_ranges.empty(); }
    const std::map<quint64, quint64> &ranges() const { return m_ranges; }

private:
    std::map<quint64, quint64> m_ranges;
    std::map<quint64, quint64>::iterator m_last = m_ranges.end(); // the range added to last
};

// The first reading: hands every record on, and notes the addresses that
// records give more than once. A file whose records do not overlap costs a
// map lookup per record and nothing else.
class TrackingSink : public Sink
{
public:
    explicit TrackingSink(Sink &sink) : m_sink(sink) {}

    void data(quint64 nAddress, const quint8 *pData, int nCount, qint64 nLine) override
    {
        m_sink.data(nAddress, pData, nCount, nLine);
        if (nCount <= 0)
            return;
        m_written.add(nAddress, nAddress + quint64(nCount),
                      [this](quint64 nLow, quint64 nHigh) { m_twice.add(nLow, nHigh, [](quint64, quint64) {}); });
    }
    void header(const quint8 *pData, int nCount) override { m_sink.header(pData, nCount); }
    void start(quint32 nAddress) override { m_sink.start(nAddress); }

    const RangeSet &twice() const { return m_twice; }

private:
    Sink &m_sink;
    RangeSet m_written;
    RangeSet m_twice;
};

// The second reading, only for a file whose records overlap: every byte
// given more than once is compared with the value given first. Identical
// repeats are harmless; two values for one address leave the file's meaning
// to chance, so the first such byte is named with both its lines.
class ConflictSink : public Sink
{
public:
    ConflictSink(const RangeSet &twice, const char *sPrefix) : m_sPrefix(sPrefix)
    {
        for (const auto &[nFirst, nEnd] : twice.ranges()) {
            const size_t nSize = size_t(nEnd - nFirst);
            m_spans[nFirst] = {nEnd, std::vector<quint8>(nSize), std::vector<qint64>(nSize)};
        }
    }

    void data(quint64 nAddress, const quint8 *pData, int nCount, qint64 nLine) override
    {
        if (nCount <= 0 || conflict.nLine > 0)
            return;
        const quint64 nEnd = nAddress + quint64(nCount);
        auto it = m_spans.upper_bound(nAddress);
        if (it != m_spans.begin())
            --it;
        for (; it != m_spans.end() && it->first < nEnd && conflict.nLine == 0; ++it) {
            Span &span = it->second;
            const quint64 nLow = qMax(it->first, nAddress);
            const quint64 nHigh = qMin(span.nEnd, nEnd);
            for (quint64 a = nLow; a < nHigh; ++a) {
                const size_t i = size_t(a - it->first);
                const quint8 nValue = pData[a - nAddress];
                if (span.lines[i] == 0) {
                    span.lines[i] = nLine;
                    span.values[i] = nValue;
                } else if (span.values[i] != nValue) {
                    conflict = {nLine, QStringLiteral("%1 error: address 0x%2 is given twice with different values "
                                                      "(0x%3 in line %4, 0x%5 here)\n")
                                           .arg(QLatin1String(m_sPrefix))
                                           .arg(a, 0, 16)
                                           .arg(span.values[i], 2, 16, QLatin1Char('0'))
                                           .arg(span.lines[i])
                                           .arg(nValue, 2, 16, QLatin1Char('0'))};
                    break;
                }
            }
        }
    }

    // The reader's error for the first conflicting byte; no line while there is none.
    HexConv::Message conflict;

private:
    struct Span
    {
        quint64 nEnd = 0;
        std::vector<quint8> values;
        std::vector<qint64> lines; // 0: not given yet
    };
    std::map<quint64, Span> m_spans;
    const char *m_sPrefix;
};

// After reading stopped (at an end record, a blank line or a control
// character): the line of the first data record still in the file, 0 when
// there is none; bText tells whether anything else but white space and
// control characters follows.
qint64 firstDataRecordAfter(LineReader &reader, bool bIntel, bool &bText)
{
    const char *pLine = nullptr;
    qsizetype nLength = 0;
    bool bNewline = false;
    while (reader.next(pLine, nLength, bNewline)) {
        const char *pEnd = pLine + nLength;
        const char *p = std::find_if_not(pLine, pEnd, [](char c) { return isWhite(c) || isControl(c); });
        if (p == pEnd)
            continue;
        bText = true;
        const qsizetype n = pEnd - p;
        const bool bData = bIntel ? (p[0] == ':' && n >= 9 && hexByte(p + 7) == 0)
                                  : (p[0] == 'S' && n >= 2 && p[1] >= '1' && p[1] <= '3');
        if (bData)
            return reader.lineNumber();
    }
    return 0;
}

// Where and why reading stopped before the end of the file.
struct Stop
{
    qint64 nLine = 0;    // 0: it did not stop early
    QString sWhere;      // "the end-of-file record of line 12", "the blank line 40", ...
    bool bBlank = false; // a blank line or a control character
};

// What sets the two formats apart below their record types.
struct Format
{
    const char *sPrefix;  // of the messages: "hex2bin", "srec2bin"
    char cLead;           // the first character of a record
    int nMinLength;       // characters of the shortest line, its line end counted, as a line buffer would
    int nCountAt;         // where the count's two digits are; the bytes converted start there
    int nExtraBytes;      // bytes converted beside the count's value
    bool bOnesComplement; // the checksum: ones' (S-record) or two's (Intel HEX) complement of the sum
    const char *sChecksumError;
};

const Format kIntelHex{"hex2bin", ':', 11, 1, 5, false, "crc checksum error"};
const Format kSRecord{"srec2bin", 'S', 8, 2, 1, true, "checksum error"};

// A file's lines as records: each checked up to its checksum and converted
// into bytes, from the count on. Reading ends at the end of the file, where
// it stops early (a blank line, a control character: stop()), or at a bad
// line (failed(), with the message kept).
class RecordLines
{
public:
    RecordLines(QIODevice &file, const Format &format, Messages &messages)
        : m_reader(file), m_format(format), m_messages(messages)
    {
    }

    bool next()
    {
        qsizetype nLength = 0;
        bool bNewline = false;
        if (!m_reader.next(m_pLine, nLength, bNewline)) {
            if (m_reader.lineTooLong())
                return fail(m_reader.lineNumber() + 1, "bad record format\n");
            if (m_reader.failed())
                return fail(m_reader.lineNumber() + 1, "read error\n");
            return false;
        }
        m_nLine = m_reader.lineNumber();
        if (nLength == 0 || isControl(m_pLine[0])) {
            m_stop = {m_nLine,
                      nLength == 0 ? QStringLiteral("the blank line %1").arg(m_nLine)
                                   : QStringLiteral("the control character at the start of line %1").arg(m_nLine),
                      true};
            return false;
        }
        if (m_pLine[0] != m_format.cLead)
            return fail(m_nLine, "bad record format\n");
        if (nLength + (bNewline ? 1 : 0) < m_format.nMinLength)
            return fail(m_nLine, "record length too short\n");
        const char cType = m_pLine[1];
        if (m_format.cLead == 'S' && (cType < '0' || cType > '9' || cType == '4' || cType == '6'))
            return fail(m_nLine, QStringLiteral("unknown record type S") + QLatin1Char(cType));
        m_nCount = hexByte(m_pLine + m_format.nCountAt);
        if (m_nCount < 0)
            return fail(m_nLine, "bad record format\n");
        // Every character of the record must be there before any pair is
        // converted: count, address, type, data and checksum.
        const int nBytes = m_nCount + m_format.nExtraBytes;
        const qsizetype nRecord = m_format.nCountAt + 2 * qsizetype(nBytes);
        if (nLength < nRecord)
            return fail(m_nLine, "record length too short\n");
        if (!hexBytes(m_pLine + m_format.nCountAt, nBytes, m_bytes))
            return fail(m_nLine, "bad record format\n");
        quint32 nSum = 0;
        for (int i = 0; i < nBytes - 1; ++i)
            nSum += m_bytes[i];
        if (m_bytes[nBytes - 1] != quint8(m_format.bOnesComplement ? ~nSum : 0x100 - (nSum & 0xFF)))
            return fail(m_nLine, QLatin1String(m_format.sChecksumError) + QLatin1Char('\n'));
        // A line holds one record, and nothing but white space may follow
        // its checksum: two records on one line would lose the second one.
        if (!std::all_of(m_pLine + nRecord, m_pLine + nLength, isWhite))
            return fail(m_nLine, "text after the checksum\n");
        return true;
    }

    // Refuses the record just read for what its type does not allow: -1,
    // the reader's result.
    int reject(const QString &sText)
    {
        fail(m_nLine, sText);
        return -1;
    }

    // After the records: what follows the point where they stopped early.
    // Data records make the image incomplete (they were not read); other
    // text after a blank line is only worth a warning.
    void finish(const Stop &stop)
    {
        if (stop.nLine == 0)
            return;
        bool bText = false;
        const qint64 nData = firstDataRecordAfter(m_reader, m_format.cLead == ':', bText);
        if (nData > 0) {
            warn(m_messages, nData,
                 QStringLiteral("%1 warning: data records follow %2; they were not read\n")
                     .arg(QLatin1String(m_format.sPrefix), stop.sWhere));
            markIncomplete(m_messages, HexConv::DataNotRead);
        } else if (bText && stop.bBlank) {
            warn(m_messages, stop.nLine,
                 QStringLiteral("%1 warning: reading stopped at a blank line; the text after it was ignored\n")
                     .arg(QLatin1String(m_format.sPrefix)));
        }
    }

    bool failed() const { return m_bFailed; }
    const Stop &stop() const { return m_stop; }
    const char *line() const { return m_pLine; }
    qint64 lineNumber() const { return m_nLine; }
    int count() const { return m_nCount; }
    const quint8 *bytes() const { return m_bytes; }

private:
    bool fail(qint64 nLine, const QString &sText)
    {
        hexrecord::fail(m_messages, nLine, QLatin1String(m_format.sPrefix) + QStringLiteral(" error: ") + sText);
        m_bFailed = true;
        return false;
    }

    LineReader m_reader;
    const Format &m_format;
    Messages &m_messages;
    const char *m_pLine = nullptr;
    qint64 m_nLine = 0;
    int m_nCount = 0;
    quint8 m_bytes[256 + 5];
    Stop m_stop;
    bool m_bFailed = false;
};

int parseIntelHex(QIODevice &file, Sink &sink, Messages &messages)
{
    RecordLines lines(file, kIntelHex, messages);
    // Data bytes each record type must hold; -1: any number.
    static const int kDataBytes[6] = {-1, 0, 2, 4, 2, 4};
    quint32 nExtended = 0;
    Stop stop;
    qint64 nLastRecord = 0;
    while (lines.next()) {
        const quint8 *bytes = lines.bytes();
        const int nCount = lines.count();
        const int nType = bytes[3];
        const qint64 nLine = lines.lineNumber();
        if (nType > 5)
            return lines.reject(QStringLiteral("unknown record type %1\n").arg(nType));
        if (nType == 2)
            return lines.reject(QStringLiteral("extended segment address record not supported\n"));
        // An address record of the wrong size would put data somewhere else
        // than the file's writer meant.
        if (kDataBytes[nType] >= 0 && nCount != kDataBytes[nType])
            return lines.reject(QStringLiteral("a type %1 record must hold %2 data bytes, not %3\n")
                                    .arg(nType)
                                    .arg(kDataBytes[nType])
                                    .arg(nCount));
        nLastRecord = nLine;
        if (nType == 0) {
            const quint64 nAddress = quint64(quint32((quint32(bytes[1]) << 8 | bytes[2]) + nExtended * 65536u));
            sink.data(nAddress, bytes + 4, nCount, nLine);
        } else if (nType == 1) {
            stop = {nLine, QStringLiteral("the end-of-file record of line %1").arg(nLine), false};
            break;
        } else if (nType == 4) {
            nExtended = quint32(bytes[4]) << 8 | bytes[5];
        }
        // 3 and 5: start addresses, of no use here
    }
    if (lines.failed())
        return -1;
    const bool bEndRecord = stop.nLine > 0;
    lines.finish(bEndRecord ? stop : lines.stop());
    if (!bEndRecord) {
        warn(messages, nLastRecord,
             QStringLiteral("hex2bin warning: no end-of-file record; the image is incomplete\n"));
        markIncomplete(messages, HexConv::NoEndRecord);
    }
    return 0;
}

int parseSRecord(QIODevice &file, Sink &sink, Messages &messages)
{
    RecordLines lines(file, kSRecord, messages);
    // Address bytes of S0 to S9; 0 marks the types that do not exist.
    static const int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 0, 4, 3, 2};
    // The first end of the image: a termination record, or a record count
    // that agrees with the data records read before it (many tools, srec_cat
    // among them, end a file with the count alone).
    qint64 nEndRecord = 0;
    const char *sEndRecord = "";
    bool bDataAfterEnd = false;
    quint32 nDataRecords = 0;
    HexConv::Message countMismatch;
    qint64 nLastRecord = 0;
    while (lines.next()) {
        const quint8 *bytes = lines.bytes();
        const int nCount = lines.count();
        const qint64 nLine = lines.lineNumber();
        const int nType = lines.line()[1] - '0';
        const int nAddressBytes = kAddressBytes[nType];
        // A count that leaves no room for the address and checksum.
        if (nCount < nAddressBytes + 1)
            return lines.reject(QStringLiteral("record length too short\n"));
        quint32 nAddress = 0;
        for (int i = 1; i <= nAddressBytes; ++i)
            nAddress = (nAddress << 8) | bytes[i];
        const quint8 *pData = bytes + 1 + nAddressBytes;
        const int nData = nCount - nAddressBytes - 1;
        // Count and termination records carry their value in the address
        // field; data bytes in them mean the file is not what it seems.
        if (nType >= 5 && nData != 0)
            return lines.reject(QStringLiteral("an S%1 record must hold 0 data bytes, not %2\n").arg(nType).arg(nData));
        nLastRecord = nLine;
        if (nType == 0) {
            if (nData > 0)
                sink.header(pData, nData);
        } else if (nType <= 3) {
            // Reading goes on after the end of the image, but data there
            // belong to another image joined to this one.
            if (nEndRecord > 0 && !bDataAfterEnd) {
                bDataAfterEnd = true;
                warn(messages, nLine,
                     QStringLiteral("srec2bin warning: data records follow the %1 record of line %2\n")
                         .arg(QLatin1String(sEndRecord))
                         .arg(nEndRecord));
                markIncomplete(messages, HexConv::DataAfterEnd);
            }
            sink.data(nAddress, pData, nData, nLine);
            ++nDataRecords;
        } else if (nType == 5) {
            // Number of data records so far (16 bits): a cheap completeness
            // check, reported but never fatal.
            if (nAddress != (nDataRecords & 0xFFFFu)) {
                if (countMismatch.nLine == 0)
                    countMismatch = {nLine, QStringLiteral("srec2bin warning: the record count record says %1 data "
                                                           "records, but %2 were read before it\n")
                                                .arg(nAddress)
                                                .arg(nDataRecords & 0xFFFFu)};
            } else if (nEndRecord == 0) {
                nEndRecord = nLine;
                sEndRecord = "record count";
            }
        } else { // 7, 8, 9
            sink.start(nAddress);
            if (nEndRecord == 0) {
                nEndRecord = nLine;
                sEndRecord = "termination";
            }
        }
    }
    if (lines.failed())
        return -1;
    lines.finish(lines.stop());
    if (countMismatch.nLine > 0)
        messages.warnings.append(countMismatch);
    if (nEndRecord == 0) {
        warn(messages, nLastRecord,
             QStringLiteral("srec2bin warning: no termination record (S7, S8 or S9) and no record count "
                            "(S5) that agrees; the image is incomplete\n"));
        markIncomplete(messages, HexConv::NoEndRecord);
    }
    return 0;
}

using Parser = int (*)(QIODevice &, Sink &, Messages &);

// Reads a file with a parser: once for the sink, and again only when its
// records give some address more than once, to compare those bytes.
int readFile(const QString &sFileName, const char *sPrefix, Parser parse, Sink &sink, Messages &messages)
{
    QFile file;
    if (!openRegularFile(file, sFileName))
        return -1;
    TrackingSink tracking(sink);
    const int nResult = parse(file, tracking, messages);
    if (nResult != 0 || tracking.twice().isEmpty())
        return nResult;

    QFile again;
    if (!openRegularFile(again, sFileName))
        return fail(messages, 0, QStringLiteral("%1 error: read error\n").arg(QLatin1String(sPrefix)));
    ConflictSink conflicts(tracking.twice(), sPrefix);
    Messages scratch;
    if (parse(again, conflicts, scratch) != 0)
        return fail(messages, scratch.error.nLine, scratch.error.sText); // the file changed under the reader
    if (conflicts.conflict.nLine == 0)
        return 0;
    return fail(messages, conflicts.conflict.nLine, conflicts.conflict.sText);
}

} // namespace

bool LineReader::fill()
{
    if (m_bEof)
        return false;
    // Keep the unfinished line at the front; grow when a single line fills
    // the whole buffer.
    if (m_nPos > 0) {
        std::memmove(m_buffer.data(), m_buffer.constData() + m_nPos, size_t(m_nEnd - m_nPos));
        m_nEnd -= m_nPos;
        m_nPos = 0;
    }
    if (m_nEnd == m_buffer.size()) {
        if (m_buffer.size() >= kMaxLine) {
            m_bTooLong = true;
            m_bEof = true;
            return false;
        }
        m_buffer.resize(m_buffer.size() * 2);
    }
    const qint64 nRead = m_device.read(m_buffer.data() + m_nEnd, m_buffer.size() - m_nEnd);
    if (nRead <= 0) {
        m_bFailed = nRead < 0;
        m_bEof = true;
        return false;
    }
    m_nEnd += qsizetype(nRead);
    return true;
}

bool LineReader::next(const char *&pLine, qsizetype &nLength, bool &bNewline)
{
    qsizetype nScanned = 0; // characters after m_nPos known to hold no line end
    for (;;) {
        const char *pBuffer = m_buffer.constData();
        const char *pFrom = pBuffer + m_nPos + nScanned;
        const size_t nRest = size_t(m_nEnd - m_nPos - nScanned);
        // Line feeds end almost every line; a carriage return is looked for
        // only before the next one (or, in a file without any, instead).
        const char *pLf = static_cast<const char *>(std::memchr(pFrom, '\n', nRest));
        const char *pCr = static_cast<const char *>(std::memchr(pFrom, '\r', pLf ? size_t(pLf - pFrom) : nRest));
        // The line from m_nPos up to nEnd (its end of line excluded); the
        // next one starts at nNext.
        const auto take = [&](qsizetype nEnd, qsizetype nNext, bool bEnded) {
            pLine = pBuffer + m_nPos;
            nLength = nEnd - m_nPos;
            bNewline = bEnded;
            m_nPos = nNext;
            ++m_nLine;
            return true;
        };
        if (pCr) {
            qsizetype k = pCr - pBuffer;
            while (k < m_nEnd && pBuffer[k] == '\r')
                ++k;
            // Carriage returns up to the end of what was read may yet be
            // followed by a line feed: read on before deciding.
            if (k < m_nEnd || m_bEof) {
                if (k < m_nEnd && pBuffer[k] == '\n')
                    ++k;
                return take(pCr - pBuffer, k, true);
            }
            nScanned = pCr - pBuffer - m_nPos;
        } else if (pLf) {
            return take(pLf - pBuffer, pLf - pBuffer + 1, true);
        } else if (m_bEof) {
            return m_nEnd != m_nPos && take(m_nEnd, m_nEnd, false);
        } else {
            nScanned = m_nEnd - m_nPos;
        }
        if (!fill() && (m_bFailed || m_bTooLong))
            return false;
    }
}

int readIntelHex(const QString &sFileName, Sink &sink, Messages &messages)
{
    return readFile(sFileName, "hex2bin", parseIntelHex, sink, messages);
}

int readSRecord(const QString &sFileName, Sink &sink, Messages &messages)
{
    return readFile(sFileName, "srec2bin", parseSRecord, sink, messages);
}

} // namespace hexrecord
