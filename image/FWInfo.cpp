#include "FWInfo.h"

#include <cstring>

namespace {

inline quint32 le32(const quint8 *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

} // namespace

int FWInfo::loadInfo()
{
    quint8 work[kInfoSize] = {};

    quint32 nAddress = m_nSearchStart;
    for (;;) {
        quint8 header[8];
        if (readBytes(nAddress, 8, header) != 0)
            return -1;
        const quint32 nLength = le32(header);
        const quint32 nType = le32(header + 4);
        if (nLength == 0 || nLength == 0xFFFFFFFFu || nType == 0 || nType == 0xFFFFFFFFu)
            return -1;
        if ((nType & kTypeMask) == kInfoType && nLength >= quint32(kInfoSize))
            break;
        // A length that runs past the top of the address space would wrap to
        // this block or an earlier one and walk the chain for ever.
        const quint64 nNext = quint64(nAddress) + 8 + nLength;
        if (nNext > 0xFFFFFFFFu || nNext <= nAddress)
            return -1;
        nAddress = quint32(nNext);
    }
    m_nInfoAddress = nAddress;

    if (quint64(nAddress) + 8 + quint64(kInfoSize) - 1 > 0xFFFFFFFFu)
        return -2;
    if (readBytes(nAddress + 8, quint32(kInfoSize), work) != 0)
        return -2;
    const quint8 *p = work;
    for (const auto &field : m_fields) {
        std::memcpy(field.first, p, size_t(field.second));
        field.first[field.second - 1] = 0;
        p += field.second;
    }
    return isValid() ? 0 : -3;
}

bool FWInfo::isValid() const
{
    for (const auto &field : m_fields) {
        for (int i = 0; i < field.second; ++i) {
            const quint8 c = quint8(field.first[i]);
            if (c != 0 && (c < 0x20 || c > 0x7E))
                return false;
        }
    }
    return true;
}

int FWInfo::infoLines(QStringList &lines) const
{
    lines.clear();
    if (!isValid())
        return -1;
    for (const auto &field : m_fields)
        lines.append(QString::fromLatin1(field.first, int(qstrnlen(field.first, uint(field.second)))));
    return 0;
}
