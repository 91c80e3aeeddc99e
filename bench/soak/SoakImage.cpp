#include "SoakImage.h"

#include <QStringList>

namespace {

const char *contentName(SoakImage::Content eContent)
{
    switch (eContent) {
    case SoakImage::Content::Random: return "random";
    case SoakImage::Content::Repeating: return "repeating";
    case SoakImage::Content::Text: return "text";
    case SoakImage::Content::Runs: return "runs";
    case SoakImage::Content::Mixed: return "mixed";
    }
    return "?";
}

QByteArray makeContent(QRandomGenerator &rng, SoakImage::Content eContent, int nSize)
{
    QByteArray data(nSize, Qt::Uninitialized);
    switch (eContent) {
    case SoakImage::Content::Random:
        for (int i = 0; i < nSize; ++i)
            data[i] = char(rng.bounded(256));
        break;
    case SoakImage::Content::Repeating: {
        // A short random pattern repeated: compresses very well.
        const int nPeriod = 1 + int(rng.bounded(64));
        QByteArray pattern(nPeriod, Qt::Uninitialized);
        for (int i = 0; i < nPeriod; ++i)
            pattern[i] = char(rng.bounded(256));
        for (int i = 0; i < nSize; ++i)
            data[i] = pattern[i % nPeriod];
        break;
    }
    case SoakImage::Content::Text: {
        static const char *const words[] = {"servo ",  "drive ",   "axis ", "FPGA ", "firmware ", "0x1000 ",
                                            "torque ", "encoder ", "\n",    "boot ", "monitor "};
        int n = 0;
        while (n < nSize) {
            const char *w = words[rng.bounded(int(sizeof words / sizeof words[0]))];
            for (; *w && n < nSize; ++w)
                data[n++] = *w;
        }
        break;
    }
    case SoakImage::Content::Runs: {
        // Runs of one byte (0x00, 0xFF or random), as in padded firmware.
        int n = 0;
        while (n < nSize) {
            const int nRun = 1 + int(rng.bounded(300));
            const int nPick = int(rng.bounded(3));
            const char c = nPick == 0 ? char(0) : nPick == 1 ? char(0xFF) : char(rng.bounded(256));
            for (int i = 0; i < nRun && n < nSize; ++i)
                data[n++] = c;
        }
        break;
    }
    case SoakImage::Content::Mixed: {
        // Alternating stretches of random and repeating bytes, so some
        // blocks of one image compress and others do not.
        int n = 0;
        while (n < nSize) {
            const int nStretch = qMin(nSize - n, 256 + int(rng.bounded(8192)));
            const QByteArray part =
                makeContent(rng, rng.bounded(2) ? SoakImage::Content::Random : SoakImage::Content::Repeating, nStretch);
            data.replace(n, nStretch, part);
            n += nStretch;
        }
        break;
    }
    }
    return data;
}

QByteArray hexByte(quint8 n)
{
    return QByteArray::number(n, 16).rightJustified(2, '0').toUpper();
}

} // namespace

SoakImage SoakImage::random(QRandomGenerator &rng, quint32 nFlashSize, int nMaxBytes)
{
    SoakImage image;
    image.m_eFormat = rng.bounded(2) ? Format::IntelHex : Format::SRecord;
    image.m_eContent = Content(rng.bounded(5));
    static const int recordSizes[] = {16, 32, 8, 64, 255};
    image.m_nRecordBytes = recordSizes[rng.bounded(5)];
    image.m_bCrLf = rng.bounded(4) == 0;

    // Total size: mostly a few KiB to a few tens of KiB, sometimes tiny.
    int nTotal = rng.bounded(8) == 0 ? 1 + int(rng.bounded(300)) : 1 + int(rng.bounded(nMaxBytes));
    const int nSegments = nTotal < 64 ? 1 : 1 + int(rng.bounded(3));
    // Sizes of the segments and of the gaps between them.
    QList<int> sizes;
    int nLeft = nTotal;
    for (int i = 0; i < nSegments; ++i) {
        const int nSize = i == nSegments - 1 ? nLeft : 1 + int(rng.bounded(nLeft - (nSegments - 1 - i)));
        sizes.append(nSize);
        nLeft -= nSize;
    }
    QList<quint32> gaps;
    quint64 nSpan = quint64(nTotal);
    for (int i = 1; i < nSegments; ++i) {
        // Small gaps stay inside one block, big ones skip sectors.
        const quint32 nGap = rng.bounded(2) ? 1 + rng.bounded(600u) : 1 + rng.bounded(0x30000u);
        gaps.append(nGap);
        nSpan += nGap;
    }

    // Start: anywhere, sector aligned, or so that the image ends at the last
    // byte of the flash.
    quint32 nStart = 0;
    const quint32 nRoom = quint32(nFlashSize - nSpan);
    switch (rng.bounded(4)) {
    case 0: nStart = rng.bounded(nRoom + 1); break;
    case 1: nStart = rng.bounded(nRoom + 1) & ~0xFFFFu; break;
    case 2: nStart = nRoom; break;
    default: nStart = (rng.bounded(nRoom + 1) & ~0xFFu) + rng.bounded(2) * 0x80; break;
    }
    if (nStart > nRoom)
        nStart = nRoom;

    quint32 nAddress = nStart;
    for (int i = 0; i < nSegments; ++i) {
        SoakSegment segment;
        segment.nAddress = nAddress;
        segment.data = makeContent(rng, image.m_eContent, sizes[i]);
        nAddress += quint32(sizes[i]);
        if (i < gaps.size())
            nAddress += gaps[i];
        image.m_segments.append(segment);
    }
    return image;
}

int SoakImage::byteCount() const
{
    int n = 0;
    for (const SoakSegment &segment : m_segments)
        n += int(segment.data.size());
    return n;
}

QByteArray SoakImage::expectedFlash(quint32 nFlashSize) const
{
    QByteArray flash(qsizetype(nFlashSize), char(0xFF));
    for (const SoakSegment &segment : m_segments)
        flash.replace(qsizetype(segment.nAddress), segment.data.size(), segment.data);
    return flash;
}

QString SoakImage::describe() const
{
    QStringList parts;
    for (const SoakSegment &segment : m_segments)
        parts << QStringLiteral("0x%1+%2").arg(segment.nAddress, 0, 16).arg(segment.data.size());
    return QStringLiteral("%1 %2 %3 B/record%4: %5")
        .arg(m_eFormat == Format::IntelHex ? QStringLiteral("ihex") : QStringLiteral("srec"),
             QString::fromLatin1(contentName(m_eContent)))
        .arg(m_nRecordBytes)
        .arg(m_bCrLf ? QStringLiteral(" crlf") : QString(), parts.join(QLatin1Char(' ')));
}

QByteArray SoakImage::fileText() const
{
    return m_eFormat == Format::IntelHex ? intelHexText() : sRecordText();
}

QByteArray SoakImage::intelHexText() const
{
    const QByteArray eol = m_bCrLf ? QByteArray("\r\n") : QByteArray("\n");
    QByteArray text;
    auto record = [&](quint8 nType, quint16 nOffset, const char *pData, int nCount) {
        quint8 nSum = quint8(nCount) + quint8(nOffset >> 8) + quint8(nOffset) + nType;
        QByteArray line =
            ":" + hexByte(quint8(nCount)) + hexByte(quint8(nOffset >> 8)) + hexByte(quint8(nOffset)) + hexByte(nType);
        for (int i = 0; i < nCount; ++i) {
            line += hexByte(quint8(pData[i]));
            nSum = quint8(nSum + quint8(pData[i]));
        }
        text += line + hexByte(quint8(0x100 - nSum)) + eol;
    };
    int nUpper = -1;
    for (const SoakSegment &segment : m_segments) {
        int n = 0;
        while (n < segment.data.size()) {
            const quint32 nAddress = segment.nAddress + quint32(n);
            // A record never crosses a 64 KiB boundary: the offset is 16 bits.
            const int nToBoundary = int(0x10000 - (nAddress & 0xFFFF));
            const int nCount = qMin(qMin(m_nRecordBytes, int(segment.data.size()) - n), nToBoundary);
            if (int(nAddress >> 16) != nUpper) {
                nUpper = int(nAddress >> 16);
                const char upper[2] = {char(nUpper >> 8), char(nUpper)};
                record(4, 0, upper, 2);
            }
            record(0, quint16(nAddress), segment.data.constData() + n, nCount);
            n += nCount;
        }
    }
    record(1, 0, nullptr, 0);
    return text;
}

QByteArray SoakImage::sRecordText() const
{
    const QByteArray eol = m_bCrLf ? QByteArray("\r\n") : QByteArray("\n");
    // The narrowest address field that holds every address.
    quint32 nHighest = 0;
    for (const SoakSegment &segment : m_segments)
        nHighest = qMax(nHighest, segment.nAddress + quint32(segment.data.size()) - 1);
    const int nAddressBytes = nHighest <= 0xFFFF ? 2 : nHighest <= 0xFFFFFF ? 3 : 4;
    const char cData = char('1' + nAddressBytes - 2);
    const char cEnd = char('9' - (nAddressBytes - 2));
    const int nRecordBytes = qMin(m_nRecordBytes, 255 - nAddressBytes - 1);

    QByteArray text;
    auto record = [&](char cType, quint32 nAddress, const char *pData, int nCount) {
        const int nLength = nAddressBytes + nCount + 1;
        quint8 nSum = quint8(nLength);
        QByteArray line = QByteArray("S") + cType + hexByte(quint8(nLength));
        for (int i = nAddressBytes - 1; i >= 0; --i) {
            const quint8 b = quint8(nAddress >> (8 * i));
            line += hexByte(b);
            nSum = quint8(nSum + b);
        }
        for (int i = 0; i < nCount; ++i) {
            line += hexByte(quint8(pData[i]));
            nSum = quint8(nSum + quint8(pData[i]));
        }
        text += line + hexByte(quint8(~nSum)) + eol;
    };
    // Header "soak" in an S0 record (always a 16-bit address field).
    {
        const QByteArray header("soak");
        quint8 nSum = quint8(2 + header.size() + 1);
        QByteArray line = "S0" + hexByte(nSum) + "0000";
        for (char c : header) {
            line += hexByte(quint8(c));
            nSum = quint8(nSum + quint8(c));
        }
        text += line + hexByte(quint8(~nSum)) + eol;
    }
    for (const SoakSegment &segment : m_segments) {
        for (int n = 0; n < segment.data.size(); n += nRecordBytes) {
            const int nCount = qMin(nRecordBytes, int(segment.data.size()) - n);
            record(cData, segment.nAddress + quint32(n), segment.data.constData() + n, nCount);
        }
    }
    record(cEnd, m_segments.isEmpty() ? 0 : m_segments.first().nAddress, nullptr, 0);
    return text;
}
