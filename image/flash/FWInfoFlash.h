#ifndef SERVOPROG_IMAGE_FWINFOFLASH_H
#define SERVOPROG_IMAGE_FWINFOFLASH_H

#include "FWInfo.h"

class TBootMonitorLink;

// Firmware information read from the drive's flash through the boot-monitor
// link: the currently selected flash device is read into the drive's transfer
// buffer and fetched in 128-byte pieces. The search starts at 0x400000.
class FWInfoFlash : public FWInfo
{
public:
    explicit FWInfoFlash(TBootMonitorLink *pLink) : m_pLink(pLink) {}

    // 0 on success, otherwise the failing service's communication code.
    int readBytes(quint32 nAddress, quint32 nLength, quint8 *pDest) override;

private:
    TBootMonitorLink *m_pLink; // not owned
};

#endif
