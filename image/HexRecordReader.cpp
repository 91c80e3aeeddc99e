#include "HexRecordReader.h"

#include "FileKind.h"

#include <QFile>

#include <cstring>

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

// A failure: the message is kept, and the reader's result is -1.
int fail(Messages &messages, const QString &sMessage)
{
    messages.sError = sMessage;
    return -1;
}

} // namespace

LineReader::LineReader(QIODevice &device) : m_device(device)
{
    m_buffer.resize(kBlockSize);
}

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
    if (nRead < 0) {
        m_bFailed = true;
        m_bEof = true;
        return false;
    }
    if (nRead == 0) {
        m_bEof = true;
        return false;
    }
    m_nEnd += qsizetype(nRead);
    return true;
}

bool LineReader::next(const char *&pLine, qsizetype &nLength, bool &bNewline)
{
    qsizetype nScanned = m_nPos;
    for (;;) {
        const char *pStart = m_buffer.constData() + m_nPos;
        const void *pLf = std::memchr(m_buffer.constData() + nScanned, '\n', size_t(m_nEnd - nScanned));
        if (pLf) {
            const char *pEnd = static_cast<const char *>(pLf);
            pLine = pStart;
            nLength = pEnd - pStart;
            bNewline = true;
            m_nPos = (pEnd - m_buffer.constData()) + 1;
            if (nLength > 0 && pLine[nLength - 1] == '\r')
                --nLength;
            return true;
        }
        const qsizetype nKept = m_nEnd - m_nPos;
        if (!fill()) {
            if (m_bFailed || m_bTooLong || m_nEnd == m_nPos)
                return false;
            pLine = m_buffer.constData() + m_nPos;
            nLength = m_nEnd - m_nPos;
            bNewline = false;
            m_nPos = m_nEnd;
            if (nLength > 0 && pLine[nLength - 1] == '\r')
                --nLength;
            return true;
        }
        nScanned = m_nPos + nKept;
    }
}

bool LineReader::restHasText()
{
    const char *pLine = nullptr;
    qsizetype nLength = 0;
    bool bNewline = false;
    while (next(pLine, nLength, bNewline)) {
        for (qsizetype i = 0; i < nLength; ++i) {
            const unsigned char c = static_cast<unsigned char>(pLine[i]);
            if (c > 0x20 && c != 0x7F)
                return true;
        }
    }
    return false;
}

int readIntelHex(const QString &sFileName, Sink &sink, Messages &messages)
{
    QFile file;
    if (!openRegularFile(file, sFileName))
        return -1;
    LineReader reader(file);

    quint32 nExtended = 0;
    bool bEndRecord = false;
    bool bBlankStop = false;
    quint8 bytes[256 + 5];

    while (!bEndRecord) {
        const char *pLine = nullptr;
        qsizetype nLength = 0;
        bool bNewline = false;
        if (!reader.next(pLine, nLength, bNewline)) {
            if (reader.lineTooLong()) {
                return fail(messages, QStringLiteral("hex2bin error: bad record format\n"));
            }
            if (reader.failed()) {
                return fail(messages, QStringLiteral("hex2bin error: read error\n"));
            }
            break;
        }
        if (nLength == 0 || isControl(pLine[0])) {
            bBlankStop = true;
            break;
        }
        if (pLine[0] != ':') {
            return fail(messages, QStringLiteral("hex2bin error: bad record format\n"));
        }
        // The first test counts the line feed, as a line buffer would.
        if (nLength + (bNewline ? 1 : 0) < 11) {
            return fail(messages, QStringLiteral("hex2bin error: record length too short\n"));
        }
        const int nCount = hexByte(pLine + 1);
        if (nCount < 0) {
            return fail(messages, QStringLiteral("hex2bin error: bad record format\n"));
        }
        // Every character of the record must be there before any pair is
        // converted: colon, count, address, type, data and checksum.
        if (nLength < 2 * qsizetype(nCount) + 11) {
            return fail(messages, QStringLiteral("hex2bin error: record length too short\n"));
        }
        if (!hexBytes(pLine + 1, nCount + 5, bytes)) {
            return fail(messages, QStringLiteral("hex2bin error: bad record format\n"));
        }
        quint32 nSum = 0;
        for (int i = 0; i < nCount + 4; ++i)
            nSum += bytes[i];
        if (bytes[nCount + 4] != quint8(0x100 - (nSum & 0xFF))) {
            return fail(messages, QStringLiteral("hex2bin error: crc checksum error\n"));
        }
        const int nType = bytes[3];
        if (nType > 5) {
            return fail(messages, QStringLiteral("hex2bin error: unknown record type %1\n").arg(nType));
        }
        switch (nType) {
        case 0: {
            const quint64 nAddress = quint64(quint32((quint32(bytes[1]) << 8 | bytes[2]) + nExtended * 65536u));
            sink.data(nAddress, bytes + 4, nCount);
            break;
        }
        case 1: bEndRecord = true; break;
        case 2: return fail(messages, QStringLiteral("hex2bin error: extended segment address record not supported\n"));
        case 4:
            // A short type 4 record has no address to take; its missing
            // bytes count as zero rather than being read from elsewhere.
            nExtended = (nCount > 0 ? quint32(bytes[4]) << 8 : 0u) | (nCount > 1 ? bytes[5] : 0u);
            break;
        default: // 3 and 5: start addresses, of no use here
            break;
        }
    }

    if (bBlankStop && reader.restHasText())
        messages.warnings << QStringLiteral(
            "hex2bin warning: reading stopped at a blank line; the text after it was ignored\n");
    if (!bEndRecord)
        messages.warnings << QStringLiteral("hex2bin warning: no end-of-file record; the image may be incomplete\n");
    return 0;
}

int readSRecord(const QString &sFileName, Sink &sink, Messages &messages)
{
    QFile file;
    if (!openRegularFile(file, sFileName))
        return -1;
    LineReader reader(file);

    // Address bytes of S0 to S9; 0 marks the types that do not exist.
    static const int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 0, 4, 3, 2};
    // Either a termination record or a record count (S5) marks a file that
    // was written to its end; many tools write only the count.
    bool bEndMark = false;
    bool bCountMismatch = false;
    quint32 nDataRecords = 0;
    quint32 nCountSaid = 0;
    quint32 nCountRead = 0;
    bool bBlankStop = false;
    quint8 bytes[256];

    for (;;) {
        const char *pLine = nullptr;
        qsizetype nLength = 0;
        bool bNewline = false;
        if (!reader.next(pLine, nLength, bNewline)) {
            if (reader.lineTooLong()) {
                return fail(messages, QStringLiteral("srec2bin error: bad record format\n"));
            }
            if (reader.failed()) {
                return fail(messages, QStringLiteral("srec2bin error: read error\n"));
            }
            break;
        }
        if (nLength == 0 || isControl(pLine[0])) {
            bBlankStop = true;
            break;
        }
        if (pLine[0] != 'S') {
            return fail(messages, QStringLiteral("srec2bin error: bad record format\n"));
        }
        if (nLength + (bNewline ? 1 : 0) < 8) {
            return fail(messages, QStringLiteral("srec2bin error: record length too short\n"));
        }
        const char cType = pLine[1];
        if (cType < '0' || cType > '9' || cType == '4' || cType == '6') {
            return fail(messages, QStringLiteral("srec2bin error: unknown record type S") + QLatin1Char(cType));
        }
        const int nCount = hexByte(pLine + 2);
        if (nCount < 0) {
            return fail(messages, QStringLiteral("srec2bin error: bad record format\n"));
        }
        // The whole record (type, count, address, data, checksum) must be
        // on the line before anything is converted.
        if (nLength < 2 * qsizetype(nCount) + 4) {
            return fail(messages, QStringLiteral("srec2bin error: record length too short\n"));
        }
        if (!hexBytes(pLine + 2, nCount + 1, bytes)) {
            return fail(messages, QStringLiteral("srec2bin error: bad record format\n"));
        }
        quint32 nSum = 0;
        for (int i = 0; i < nCount; ++i)
            nSum += bytes[i];
        if (bytes[nCount] != quint8(~nSum)) {
            return fail(messages, QStringLiteral("srec2bin error: checksum error\n"));
        }
        const int nType = cType - '0';
        const int nAddressBytes = kAddressBytes[nType];
        // A count that leaves no room for the address and checksum.
        if (nCount < nAddressBytes + 1) {
            return fail(messages, QStringLiteral("srec2bin error: record length too short\n"));
        }
        quint32 nAddress = 0;
        for (int i = 1; i <= nAddressBytes; ++i)
            nAddress = (nAddress << 8) | bytes[i];
        const quint8 *pData = bytes + 1 + nAddressBytes;
        const int nData = nCount - nAddressBytes - 1;

        switch (nType) {
        case 0:
            if (nData > 0)
                sink.header(pData, nData);
            break;
        case 1:
        case 2:
        case 3:
            sink.data(nAddress, pData, nData);
            ++nDataRecords;
            break;
        case 5:
            // Number of data records so far (16 bits): a cheap completeness
            // check, reported but never fatal.
            bEndMark = true;
            if (nAddress != (nDataRecords & 0xFFFFu) && !bCountMismatch) {
                bCountMismatch = true;
                nCountSaid = nAddress;
                nCountRead = nDataRecords & 0xFFFFu;
            }
            break;
        case 7:
        case 8:
        case 9:
            sink.start(nAddress);
            bEndMark = true;
            break;
        default: break;
        }
    }

    if (bBlankStop && reader.restHasText())
        messages.warnings << QStringLiteral(
            "srec2bin warning: reading stopped at a blank line; the text after it was ignored\n");
    if (bCountMismatch)
        messages.warnings << QStringLiteral("srec2bin warning: the record count record says %1 data records, "
                                            "but %2 were read before it\n")
                                 .arg(nCountSaid)
                                 .arg(nCountRead);
    if (!bEndMark)
        messages.warnings << QStringLiteral(
            "srec2bin warning: no termination or record count record; the image may be incomplete\n");
    return 0;
}

} // namespace hexrecord
