#include "HexConv.h"

#include "HexConvIHex.h"
#include "HexConvSRec.h"
#include "HexRecordReader.h"

#include <cstring>
#include <limits>
#include <new>

HexConv::HexConv(quint32 nBase, quint32 nEnd) : m_nBase(nBase), m_nEnd(nEnd), m_nLowest(nEnd), m_nHighest(nBase)
{
    if (nEnd < nBase)
        return;
    const quint64 nSize = quint64(nEnd) - nBase + 1;
    if (nSize > std::numeric_limits<size_t>::max())
        return;
    m_pBuffer.reset(new (std::nothrow) quint8[size_t(nSize)]);
    if (!m_pBuffer)
        return;
    m_nSize = nSize;
    std::memset(m_pBuffer.get(), 0xFF, size_t(nSize));
}

void HexConv::rescan(quint8 nFill)
{
    m_nLowest = m_nEnd;
    m_nHighest = m_nBase;
    m_bHasData = false;
    if (!m_pBuffer)
        return;
    const quint8 *p = m_pBuffer.get();
    const quint64 n = m_nSize;
    quint64 nFirst = 0;
    while (nFirst < n && p[nFirst] == nFill)
        ++nFirst;
    if (nFirst == n)
        return;
    quint64 nLast = n - 1;
    while (p[nLast] == nFill)
        --nLast;
    m_nLowest = quint32(m_nBase + nFirst);
    m_nHighest = quint32(m_nBase + nLast);
    m_bHasData = true;
}

int HexConv::readFile(const char *sPrefix, const std::function<int(hexrecord::Messages &)> &read)
{
    m_nDropped = 0;
    m_nDroppedLine = 0;
    m_count = DataCount();
    m_eCompleteness = Complete;
    if (!m_pBuffer) {
        m_sError = QStringLiteral("%1 error: the address window could not be allocated\n").arg(QLatin1String(sPrefix));
        m_messages = {{0, m_sError}};
        return -1;
    }
    hexrecord::Messages messages;
    const int nResult = read(messages);
    m_sError = messages.error.sText;
    m_messages = messages.all();
    m_eCompleteness = messages.eCompleteness;
    if (m_nDropped > 0)
        m_messages.append(
            {m_nDroppedLine, QStringLiteral("%1 warning: %2 data record(s) outside the address window 0x%3-0x%4 "
                                            "were dropped\n")
                                 .arg(QLatin1String(sPrefix))
                                 .arg(m_nDropped)
                                 .arg(m_nBase, 0, 16)
                                 .arg(m_nEnd, 0, 16)});
    return nResult;
}

bool HexConv::storeRecord(quint32 nAddress, const quint8 *pData, int nCount, qint64 nLine)
{
    if (nCount <= 0)
        return true;
    const quint64 nFirst = nAddress & m_nMask;
    const quint64 nLast = nFirst + quint64(nCount) - 1;
    const quint64 nFrom = m_bClip ? qMax(nFirst, quint64(m_nBase)) : nFirst;
    const quint64 nTo = m_bClip ? qMin(nLast, quint64(m_nEnd)) : nLast;
    if (!m_pBuffer || nFrom < m_nBase || nFrom > m_nEnd || nTo > m_nEnd || nFrom > nTo) {
        if (m_nDropped++ == 0)
            m_nDroppedLine = nLine;
        ((m_bClip ? nFirst : nLast) > m_nEnd ? m_count.nAbove : m_count.nBelow) += quint64(nCount);
        return false;
    }
    // Clipping: the parts below and above the window are counted apart.
    m_count.nBelow += nFrom - nFirst;
    m_count.nAbove += nLast - nTo;
    m_count.nInside += nTo - nFrom + 1;
    std::memcpy(m_pBuffer.get() + (nFrom - m_nBase), pData + (nFrom - nFirst), size_t(nTo - nFrom + 1));
    // Without data the used range is end..base, which any stored byte widens.
    m_nLowest = qMin(m_nLowest, quint32(nFrom));
    m_nHighest = qMax(m_nHighest, quint32(nTo));
    m_bHasData = true;
    return true;
}

HexConv::FileType HexConv::fileTypeOf(const char *pHead, qint64 nLength)
{
    if (!pHead || nLength < 4)
        return FileTypeUnknown;
    auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    if (pHead[0] == 'S' && pHead[1] >= '0' && pHead[1] <= '9' && isHex(pHead[2]) && isHex(pHead[3]))
        return FileTypeSRecord;
    if (pHead[0] == ':' && isHex(pHead[1]) && isHex(pHead[2]))
        return FileTypeIntelHex;
    return FileTypeUnknown;
}

QString HexConv::fileTypeName(FileType eType)
{
    switch (eType) {
    case FileTypeIntelHex: return QStringLiteral("Intel HEX");
    case FileTypeSRecord: return QStringLiteral("S-record");
    default: return QStringLiteral("unknown");
    }
}

std::unique_ptr<HexConv> HexConv::create(FileType eType, quint32 nBase, quint32 nEnd)
{
    std::unique_ptr<HexConv> pConv;
    switch (eType) {
    case FileTypeIntelHex: pConv.reset(new (std::nothrow) HexConvIHex(nBase, nEnd)); break;
    case FileTypeSRecord: pConv.reset(new (std::nothrow) HexConvSRec(nBase, nEnd)); break;
    default: break;
    }
    if (pConv && !pConv->isAllocated())
        pConv.reset();
    return pConv;
}
