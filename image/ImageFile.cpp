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
        if (!m_extent.bHasData) {
            m_extent.bHasData = true;
            m_extent.nLowest = quint32(nStart);
            m_extent.nHighest = quint32(nLast);
            return;
        }
        if (quint64(nStart) < m_extent.nLowest)
            m_extent.nLowest = quint32(nStart);
        if (quint64(nLast) > m_extent.nHighest)
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
    QVector<HexConv::Message> all = messages.warnings;
    if (!messages.error.sText.isEmpty())
        all.prepend(messages.error);
    keepMessages(messages.error.sText, all, messages.eCompleteness);
    return nResult == 0 || fail(Malformed);
}

bool ImageFile::load(quint32 nBase, quint32 nEnd)
{
    if (m_eStatus != Ok)
        return false;
    return readInto(HexConv::create(m_eType, nBase, nEnd));
}

bool ImageFile::loadRange(quint32 nFirst, quint32 nLast)
{
    if (m_eStatus != Ok)
        return false;
    std::unique_ptr<HexConv> pConv = HexConv::create(m_eType, nFirst, nLast);
    if (pConv)
        pConv->setClipToWindow(true);
    return readInto(std::move(pConv));
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
    return readInto(HexConv::create(m_eType, m_extent.nLowest, m_extent.nHighest));
}

bool ImageFile::readInto(std::unique_ptr<HexConv> pConv)
{
    if (!pConv)
        return fail(NoMemory);
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
    const bool bIntel = m_eType == HexConv::FileTypeIntelHex;
    switch (m_eCompleteness) {
    case HexConv::Complete: break;
    case HexConv::NoEndRecord:
        return bIntel ? QStringLiteral("it has no end-of-file record (type 01)")
                      : QStringLiteral("it has no termination record (S7, S8 or S9) nor a record count (S5) "
                                       "that agrees");
    case HexConv::DataAfterEnd: return QStringLiteral("data records follow the end of its image");
    case HexConv::DataNotRead: return QStringLiteral("data records follow the point where reading stopped");
    }
    return QString();
}
