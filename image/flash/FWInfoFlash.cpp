#include "FWInfoFlash.h"

#include "MonitorCommands.h"
#include "MonitorObjects.h"

int FWInfoFlash::readBytes(quint32 nAddress, quint32 nLength, quint8 *pDest)
{
    if (!m_pLink)
        return -2;
    // One read command fills at most the transfer buffer; a longer request
    // would read pieces the drive does not have.
    if (nLength > MonitorObjects::Flash::kBufferSize)
        return 1;
    LinkRequests requests(*m_pLink);
    return FlashCommands(requests).readBlock(nAddress, nLength, pDest);
}
