#include "FWInfoFlash.h"

#include "TBootMonitorLink.h"

#include <algorithm>
#include <cstring>

namespace {

const quint16 flashCommand = 0x5E10;
const quint16 flashData = 0x5E12;
const quint32 cmdRead = 0x30;
const quint32 pieceSize = 128;
// The drive's transfer buffer holds 64 pieces.
const quint32 transferBufferSize = 8192;

} // namespace

FWInfoFlash::FWInfoFlash(TBootMonitorLink *pLink)
    : m_pLink(pLink)
{
}

int FWInfoFlash::readBytes(quint32 nAddress, quint32 nLength, quint8 *pDest)
{
    if (!m_pLink)
        return -2;
    // One read command fills at most the transfer buffer; a longer request
    // would read pieces the drive does not have.
    if (nLength > transferBufferSize)
        return 1;
    int nCode = m_pLink->writeU32(flashCommand, 2, nAddress);
    if (nCode == 0)
        nCode = m_pLink->writeU32(flashCommand, 3, nLength);
    if (nCode == 0)
        nCode = m_pLink->writeU32(flashCommand, 1, cmdRead);
    if (nCode != 0)
        return nCode;

    quint8 piece[pieceSize];
    quint32 nDone = 0;
    for (quint8 nSub = 1; nDone < nLength; ++nSub) {
        nCode = m_pLink->readObject(flashData, nSub, piece, int(pieceSize));
        if (nCode != 0)
            return nCode;
        const quint32 nTake = std::min(nLength - nDone, pieceSize);
        std::memcpy(pDest + nDone, piece, nTake);
        nDone += nTake;
    }
    return 0;
}
