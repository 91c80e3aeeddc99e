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

    void data(quint64 nAddress, const quint8 *, int nCount, qint64) override
    {
        if (nCount <= 0)
            return;
        const qint64 nStart = qint64(nAddress);
        const qint64 nLast = nStart + nCount - 1;
        const qint64 nBelow = qBound(qint64(0), m_nFirst - nStart, qint64(nCount));
        const qint64 nAbove = qBound(qint64(0), nLast - m_nLast, qint64(nCount));
        m_count.nBelow += quint64(nBelow);
        m_count.nAbove += quint64(nAbove);
        m_count.nInside += quint64(qMax(qint64(0), nCount - nBelow - nAbove));
        if (quint64(nLast) > 0xFFFFFFFFu) {
            ++m_extent.nSkipped;
            return;
        }
        const bool bFirst = !m_extent.bHasData;
        m_extent.nLowest = bFirst ? quint32(nStart) : qMin(m_extent.nLowest, quint32(nStart));
        m_extent.nHighest = bFirst ? quint32(nLast) : qMax(m_extent.nHighest, quint32(nLast));
        m_extent.bHasData = true;
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
    keepMessages(messages.error.sText, messages.all(), messages.eCompleteness);
    return nResult == 0 || fail(Malformed);
}

bool ImageFile::load(quint32 nBase, quint32 nEnd)
{
    return readInto(nBase, nEnd, false);
}

bool ImageFile::loadRange(quint32 nFirst, quint32 nLast)
{
    return readInto(nFirst, nLast, true);
}

bool ImageFile::loadExtent(quint64 nMaxExtent)
{
    if (!scan())
        return false;
    if (!m_extent.bHasData)
        return true;
    // The load below says again all there is to say.
    m_messages.clear();
    if (length() > nMaxExtent)
        return fail(TooLarge);
    return readInto(m_extent.nLowest, m_extent.nHighest, false);
}

bool ImageFile::readInto(quint32 nBase, quint32 nEnd, bool bClip)
{
    if (m_eStatus != Ok)
        return false;
    std::unique_ptr<HexConv> pConv = HexConv::create(m_eType, nBase, nEnd);
    if (!pConv)
        return fail(NoMemory);
    pConv->setClipToWindow(bClip);
    const int nResult = pConv->load(m_sPath);
    keepMessages(pConv->errorText(), pConv->messages(), pConv->completeness());
    m_count = pConv->dataCount();
    m_extent.bHasData = pConv->hasData();
    m_extent.nLowest = pConv->lowestAddress();
    m_extent.nHighest = pConv->highestAddress();
    m_pConv = std::move(pConv);
    return nResult == 0 || fail(Malformed);
}

void ImageFile::keepMessages(const QString &sError, const QVector<HexConv::Message> &messages,
                             HexConv::Completeness eCompleteness)
{
    m_sError = sError;
    m_messages = messages;
    m_eCompleteness = eCompleteness;
}

// "FILE:LINE: " before a message, as compilers lead theirs.
static QString messageLead(const QString &sPath, qint64 nLine)
{
    return nLine > 0 ? QStringLiteral("%1:%2: ").arg(sPath).arg(nLine) : QStringLiteral("%1: ").arg(sPath);
}

static QString withoutLineEnd(const QString &sText)
{
    return sText.endsWith(QLatin1Char('\n')) ? sText.chopped(1) : sText;
}

QStringList ImageFile::messageLines() const
{
    QStringList lines;
    for (const HexConv::Message &message : m_messages)
        lines << messageLead(m_sPath, message.nLine) + withoutLineEnd(message.sText);
    return lines;
}

void ImageFile::printMessages() const
{
    // The path as the system spells it; Latin-1 gives back the bytes the
    // reader quoted (a record type of any byte value).
    for (const HexConv::Message &message : m_messages)
        std::fputs(
            (QFile::encodeName(messageLead(m_sPath, message.nLine)) + withoutLineEnd(message.sText).toLatin1() + '\n')
                .constData(),
            stderr);
}

QString ImageFile::incompleteReason() const
{
    switch (m_eCompleteness) {
    case HexConv::Complete: break;
    case HexConv::NoEndRecord:
        return m_eType == HexConv::FileTypeIntelHex
                   ? QStringLiteral("it has no end-of-file record (type 01)")
                   : QStringLiteral("it has no termination record (S7, S8 or S9) nor a record count (S5) "
                                    "that agrees");
    case HexConv::DataAfterEnd: return QStringLiteral("data records follow the end of its image");
    case HexConv::DataNotRead: return QStringLiteral("data records follow the point where reading stopped");
    }
    return QString();
}
