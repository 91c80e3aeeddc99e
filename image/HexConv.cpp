#include "HexConv.h"

#include "FileKind.h"
#include "HexConvIHex.h"
#include "HexConvSRec.h"
#include "HexRecordReader.h"

#include <QFile>

#include <cstring>
#include <limits>
#include <new>

HexConv::HexConv(quint32 nBase, quint32 nEnd)
    : m_nBase(nBase), m_nEnd(nEnd), m_nLowest(nEnd), m_nHighest(nBase)
{
    if (nEnd < nBase)
        return;
    const quint64 nSize = quint64(nEnd) - nBase + 1;
    if (nSize > std::numeric_limits<size_t>::max())
        return;
    m_pBuffer = new (std::nothrow) quint8[size_t(nSize)];
    if (!m_pBuffer)
        return;
    m_nSize = nSize;
    std::memset(m_pBuffer, 0xFF, size_t(nSize));
}

HexConv::~HexConv()
{
    delete[] m_pBuffer;
}

quint32 HexConv::baseAddress() const
{
    return m_nBase;
}

quint32 HexConv::endAddress() const
{
    return m_nEnd;
}

quint32 HexConv::lowestAddress() const
{
    return m_nLowest;
}

quint32 HexConv::highestAddress() const
{
    return m_nHighest;
}

quint8 *HexConv::buffer()
{
    return m_pBuffer;
}

void HexConv::rescan(quint8 nFill)
{
    m_nLowest = m_nEnd;
    m_nHighest = m_nBase;
    m_bHasData = false;
    if (!m_pBuffer)
        return;
    const quint8 *p = m_pBuffer;
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

bool HexConv::storeRecord(quint32 nAddress, const quint8 *pData, int nCount)
{
    if (nCount <= 0)
        return true;
    const quint32 nMasked = nAddress & m_nMask;
    const quint64 nLast = quint64(nMasked) + quint64(nCount) - 1;
    if (!m_pBuffer || nMasked < m_nBase || nMasked > m_nEnd || nLast > m_nEnd) {
        ++m_nDropped;
        return false;
    }
    std::memcpy(m_pBuffer + (nMasked - m_nBase), pData, size_t(nCount));
    if (!m_bHasData) {
        m_nLowest = nMasked;
        m_nHighest = quint32(nLast);
        m_bHasData = true;
    } else {
        if (nMasked < m_nLowest)
            m_nLowest = nMasked;
        if (nLast > m_nHighest)
            m_nHighest = quint32(nLast);
    }
    return true;
}

HexConv::FileType HexConv::fileTypeOf(const char *pHead, qint64 nLength)
{
    if (!pHead || nLength < 4)
        return FileTypeUnknown;
    auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    if (pHead[0] == 'S' && pHead[1] >= '0' && pHead[1] <= '9' && isHex(pHead[2]) && isHex(pHead[3]))
        return FileTypeSRecord;
    if (pHead[0] == ':' && isHex(pHead[1]) && isHex(pHead[2]))
        return FileTypeIntelHex;
    return FileTypeUnknown;
}

HexConv::FileType HexConv::fileType(const QString &sFileName)
{
    QFile file;
    if (!openRegularFile(file, sFileName))
        return FileTypeUnknown;
    char head[4];
    const qint64 nRead = file.read(head, sizeof head);
    return fileTypeOf(head, nRead);
}

QString HexConv::fileTypeName(FileType eType)
{
    switch (eType) {
    case FileTypeIntelHex:
        return QStringLiteral("Intel HEX");
    case FileTypeSRecord:
        return QStringLiteral("S-record");
    default:
        return QStringLiteral("unknown");
    }
}

std::unique_ptr<HexConv> HexConv::create(FileType eType, quint32 nBase, quint32 nEnd)
{
    std::unique_ptr<HexConv> pConv;
    switch (eType) {
    case FileTypeIntelHex:
        pConv.reset(new (std::nothrow) HexConvIHex(nBase, nEnd));
        break;
    case FileTypeSRecord:
        pConv.reset(new (std::nothrow) HexConvSRec(nBase, nEnd));
        break;
    default:
        break;
    }
    if (pConv && !pConv->isAllocated())
        pConv.reset();
    return pConv;
}

std::unique_ptr<HexConv> HexConv::createForFile(const QString &sFileName, quint32 nBase, quint32 nEnd)
{
    return create(fileType(sFileName), nBase, nEnd);
}

namespace {

class ExtentSink : public hexrecord::Sink
{
public:
    explicit ExtentSink(HexConv::Extent &extent) : m_extent(extent) {}
    void data(quint64 nAddress, const quint8 *, int nCount) override
    {
        if (nCount <= 0)
            return;
        const quint64 nLast = nAddress + quint64(nCount) - 1;
        if (nLast > 0xFFFFFFFFu) {
            ++m_extent.nSkipped;
            return;
        }
        if (!m_extent.bHasData) {
            m_extent.bHasData = true;
            m_extent.nLowest = quint32(nAddress);
            m_extent.nHighest = quint32(nLast);
            return;
        }
        if (nAddress < m_extent.nLowest)
            m_extent.nLowest = quint32(nAddress);
        if (nLast > m_extent.nHighest)
            m_extent.nHighest = quint32(nLast);
    }

private:
    HexConv::Extent &m_extent;
};

class CountSink : public hexrecord::Sink
{
public:
    CountSink(qint64 nFirst, qint64 nLast, HexConv::DataCount &count) : m_nFirst(nFirst), m_nLast(nLast), m_count(count) {}
    void data(quint64 nAddress, const quint8 *, int nCount) override
    {
        if (nCount <= 0)
            return;
        const qint64 nStart = qint64(nAddress);
        const qint64 nEnd = nStart + nCount - 1;
        if (nEnd > m_nLast)
            m_count.nAbove += quint64(nCount);
        else if (nStart < m_nFirst)
            m_count.nBelow += quint64(nCount);
        else
            m_count.nInside += quint64(nCount);
    }

private:
    qint64 m_nFirst;
    qint64 m_nLast;
    HexConv::DataCount &m_count;
};

// One pass of the reader that fits the file's type over a sink.
int readRecords(const QString &sFileName, hexrecord::Sink &sink, bool bReportErrors)
{
    switch (HexConv::fileType(sFileName)) {
    case HexConv::FileTypeIntelHex:
        return hexrecord::readIntelHex(sFileName, sink, bReportErrors, false);
    case HexConv::FileTypeSRecord:
        return hexrecord::readSRecord(sFileName, sink, bReportErrors, false);
    default:
        return -1;
    }
}

} // namespace

int HexConv::countData(const QString &sFileName, qint64 nFirst, qint64 nLast, DataCount *pCount)
{
    DataCount count;
    CountSink sink(nFirst, nLast, count);
    const int nResult = readRecords(sFileName, sink, false);
    if (pCount)
        *pCount = count;
    return nResult;
}

int HexConv::scanExtent(const QString &sFileName, Extent *pExtent, bool bReportErrors)
{
    Extent extent;
    ExtentSink sink(extent);
    const int nResult = readRecords(sFileName, sink, bReportErrors);
    if (pExtent)
        *pExtent = extent;
    return nResult;
}
