#include "ImageFile.h"

#include "HexRecordReader.h"

#include <QFile>

#include <cstdio>

namespace {

// The first pass of loadExtent() and scan(): where the data lie, and how
// many bytes fall inside, below or above a range.
class ScanSink : public hexrecord::Sink
{
public:
    ScanSink(qint64 nFirst, qint64 nLast, HexConv::Extent &extent, HexConv::DataCount &count)
        : m_nFirst(nFirst), m_nLast(nLast), m_extent(extent), m_count(count)
    {
    }

    void data(quint64 nAddress, const quint8 *, int nCount) override
    {
        if (nCount <= 0)
            return;
        const quint64 nLast = nAddress + quint64(nCount) - 1;
        if (qint64(nLast) > m_nLast)
            m_count.nAbove += quint64(nCount);
        else if (qint64(nAddress) < m_nFirst)
            m_count.nBelow += quint64(nCount);
        else
            m_count.nInside += quint64(nCount);
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
    qint64 m_nFirst;
    qint64 m_nLast;
    HexConv::Extent &m_extent;
    HexConv::DataCount &m_count;
};

} // namespace

ImageFile::ImageFile(const QString &sPath) : m_sPath(sPath)
{
    QFile file;
    if (!openRegularFile(file, sPath, &m_eKind)) {
        m_eStatus = NotRegular;
        return;
    }
    char head[4];
    m_eType = HexConv::fileTypeOf(head, file.read(head, sizeof head));
    if (m_eType == HexConv::FileTypeUnknown)
        m_eStatus = UnknownType;
}

bool ImageFile::fail(Status eStatus)
{
    m_eStatus = eStatus;
    m_pConv.reset();
    return false;
}

quint64 ImageFile::length() const
{
    return m_extent.bHasData ? quint64(m_extent.nHighest) - m_extent.nLowest + 1 : 0;
}

bool ImageFile::scan(qint64 nFirst, qint64 nLast)
{
    if (m_eStatus != Ok)
        return false;
    m_extent = HexConv::Extent();
    m_count = HexConv::DataCount();
    ScanSink sink(nFirst, nLast, m_extent, m_count);
    hexrecord::Messages messages;
    const int nResult = m_eType == HexConv::FileTypeIntelHex ? hexrecord::readIntelHex(m_sPath, sink, messages)
                                                             : hexrecord::readSRecord(m_sPath, sink, messages);
    m_sError = messages.sError;
    m_warnings = messages.warnings;
    return nResult == 0 || fail(Malformed);
}

bool ImageFile::load(quint32 nBase, quint32 nEnd)
{
    if (m_eStatus != Ok)
        return false;
    return readInto(HexConv::create(m_eType, nBase, nEnd));
}

bool ImageFile::loadExtent(quint64 nMaxExtent)
{
    if (!scan())
        return false;
    // The load below says all there is to say; so does a file without data
    // for whom there is none.
    m_warnings.clear();
    if (!m_extent.bHasData)
        return true;
    if (length() > nMaxExtent)
        return fail(TooLarge);
    return readInto(HexConv::create(m_eType, m_extent.nLowest, m_extent.nHighest));
}

bool ImageFile::readInto(std::unique_ptr<HexConv> pConv)
{
    if (!pConv)
        return fail(NoMemory);
    const int nResult = pConv->load(m_sPath);
    m_sError = pConv->errorText();
    m_warnings = pConv->warnings();
    m_count = pConv->dataCount();
    m_extent.bHasData = pConv->hasData();
    m_extent.nLowest = pConv->lowestAddress();
    m_extent.nHighest = pConv->highestAddress();
    m_pConv = std::move(pConv);
    return nResult == 0 || fail(Malformed);
}

void ImageFile::printMessages() const
{
    // Latin-1 gives back the bytes the reader quoted (a record type of any
    // byte value).
    if (!m_sError.isEmpty())
        std::fputs(m_sError.toLatin1().constData(), stderr);
    for (const QString &sWarning : m_warnings)
        std::fputs(sWarning.toLatin1().constData(), stderr);
}
