#include "FWInfoHex.h"

#include "HexConv.h"

#include <cstring>

int FWInfoHex::readBytes(quint32 nAddress, quint32 nLength, quint8 *pDest)
{
    if (!m_pConv || !m_pConv->buffer())
        return -1;
    const quint32 nBase = m_pConv->baseAddress();
    if (nAddress < nBase || quint64(nAddress) + nLength > quint64(m_pConv->endAddress()) + 1)
        return -1;
    if (nLength > 0)
        std::memcpy(pDest, m_pConv->buffer() + (nAddress - nBase), nLength);
    return 0;
}

QStringList FWInfoHex::linesOf(HexConv *pConv)
{
    FWInfoHex info(pConv);
    info.setSearchStart(pConv->lowestAddress());
    QStringList lines; // infoLines() leaves it empty when the fields are not valid
    if (info.loadInfo() == 0)
        info.infoLines(lines);
    return lines;
}
