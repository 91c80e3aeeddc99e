#ifndef SERVOPROG_IMAGE_FWINFOHEX_H
#define SERVOPROG_IMAGE_FWINFOHEX_H

#include "FWInfo.h"

class HexConv;

// Firmware information of an image file already loaded into a converter.
// The user sets the search start to the converter's lowest used address.
// Reads outside the converter's window fail; bytes the file did not fill
// read as 0xFF.
class FWInfoHex final : public FWInfo
{
public:
    explicit FWInfoHex(HexConv *pConv) : m_pConv(pConv) {} // not owned; must outlive this object

    int readBytes(quint32 nAddress, quint32 nLength, quint8 *pDest) override;

    // The five lines found from the converter's lowest used address on (the
    // search of the window and of the headless tool); empty when there are
    // none.
    static QStringList linesOf(HexConv *pConv);

private:
    HexConv *m_pConv;
};

#endif
