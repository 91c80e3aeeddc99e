#include "HexConvSRec.h"

#include "HexRecordReader.h"
#include "OutputFile.h"

#include <QByteArray>

#include <cstring>

int HexConvSRec::load(const QString &sFileName)
{
    struct Sink : hexrecord::Sink
    {
        HexConvSRec *pConv;
        void data(quint64 nAddress, const quint8 *pData, int nCount, qint64 nLine) override
        {
            pConv->storeRecord(quint32(nAddress), pData, nCount, nLine);
        }
        void header(const quint8 *pData, int nCount) override
        {
            // Up to the first zero byte, at most 256 characters.
            const int n = int(qstrnlen(reinterpret_cast<const char *>(pData), uint(qMin(nCount, 256))));
            std::memcpy(pConv->m_sHeader, pData, size_t(n));
            pConv->m_sHeader[n] = 0;
        }
        void start(quint32 nAddress) override { pConv->m_nStart = nAddress; }
    } sink;
    sink.pConv = this;
    return readFile("srec2bin",
                    [&](hexrecord::Messages &messages) { return hexrecord::readSRecord(sFileName, sink, messages); });
}

namespace {

const char kDigits[] = "0123456789ABCDEF";

inline char *putByte(char *p, quint8 b)
{
    p[0] = kDigits[b >> 4];
    p[1] = kDigits[b & 15];
    return p + 2;
}

// One record "S<type><count><address><data><checksum>\n" at p; returns the
// end of the text.
char *putRecord(char *p, char cType, int nAddressBytes, quint32 nAddress, const quint8 *pData, int nCount)
{
    const quint8 nRecordCount = quint8(nAddressBytes + 1 + nCount);
    quint32 nSum = nRecordCount;
    *p++ = 'S';
    *p++ = cType;
    p = putByte(p, nRecordCount);
    for (int i = nAddressBytes - 1; i >= 0; --i) {
        const quint8 b = quint8(nAddress >> (8 * i));
        nSum += b;
        p = putByte(p, b);
    }
    for (int i = 0; i < nCount; ++i) {
        nSum += pData[i];
        p = putByte(p, pData[i]);
    }
    p = putByte(p, quint8(~nSum));
    *p++ = '\n';
    return p;
}

} // namespace

int HexConvSRec::save(const QString &sFileName, bool bWholeWindow)
{
    OutputFile file(sFileName, OutputFile::Replace, true);
    return save(file, bWholeWindow);
}

int HexConvSRec::save(OutputFile &file, bool bWholeWindow)
{
    if (!isAllocated())
        return -1;
    quint32 nFirst = baseAddress();
    quint32 nLast = endAddress();
    if (!bWholeWindow) {
        // The used range; without data only the termination record, at the
        // base address.
        nFirst = hasData() ? lowestAddress() : nFirst;
        nLast = hasData() ? highestAddress() : nFirst;
    }
    const quint64 nTotal = bWholeWindow || hasData() ? quint64(nLast) + 1 - nFirst : 0;

    // S1/S9, S2/S8 or S3/S7, chosen by the last address written.
    const int nAddressBytes = nLast >= 0x1000000u ? 4 : nLast >= 0x10000u ? 3 : 2;
    const char cData = char('1' + (nAddressBytes - 2));
    const char cEnd = char('9' - (nAddressBytes - 2));

    if (!file.open())
        return -1;

    constexpr int kChunk = 1 << 18;
    constexpr int kMaxRecord = 2 + 2 + 8 + 32 + 2 + 1;
    QByteArray text;
    text.resize(kChunk + kMaxRecord);
    char *const pBegin = text.data();
    char *p = pBegin;
    auto flush = [&]() {
        const bool bWritten = file.write(pBegin, p - pBegin);
        p = pBegin;
        return bWritten;
    };

    static const char kHeader[] = "S0030000FC\n";
    std::memcpy(p, kHeader, sizeof kHeader - 1);
    p += sizeof kHeader - 1;

    const quint8 *pData = constBuffer() + (nFirst - baseAddress());
    for (quint64 nOffset = 0; nOffset < nTotal; nOffset += 16) {
        const int nCount = int(qMin<quint64>(16, nTotal - nOffset));
        p = putRecord(p, cData, nAddressBytes, quint32(nFirst + nOffset), pData + nOffset, nCount);
        if (p - pBegin >= kChunk && !flush())
            return -1;
    }
    p = putRecord(p, cEnd, nAddressBytes, nFirst, nullptr, 0);
    if (!flush())
        return -1;
    return file.commit() ? 0 : -1;
}
