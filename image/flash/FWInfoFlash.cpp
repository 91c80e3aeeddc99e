#include "FWInfoFlash.h"

#include "MonitorObjects.h"
#include "TBootMonitorLink.h"

#include <algorithm>
#include <cstring>

using namespace MonitorObjects;

FWInfoFlash::FWInfoFlash(TBootMonitorLink *pLink) : m_pLink(pLink)
{
}

int FWInfoFlash::readBytes(quint32 nAddress, quint32 nLength, quint8 *pDest)
{
    if (!m_pLink)
        return -2;
    // One read command fills at most the transfer buffer; a longer request
    // would read pieces the drive does not have.
    if (nLength > Flash::kBufferSize)
        return 1;
    int nCode = m_pLink->writeU32(Flash::kCommand, kParam2Sub, nAddress);
    if (nCode == 0)
        nCode = m_pLink->writeU32(Flash::kCommand, kParam3Sub, nLength);
    if (nCode == 0)
        nCode = m_pLink->writeU32(Flash::kCommand, kCommandSub, Flash::kRead);
    if (nCode != 0)
        return nCode;

    quint8 piece[kPieceSize];
    quint32 nDone = 0;
    for (quint8 nSub = 1; nDone < nLength; ++nSub) {
        nCode = m_pLink->readObject(Flash::kData, nSub, piece, int(kPieceSize));
        if (nCode != 0)
            return nCode;
        const quint32 nTake = std::min(nLength - nDone, kPieceSize);
        std::memcpy(pDest + nDone, piece, nTake);
        nDone += nTake;
    }
    return 0;
}
