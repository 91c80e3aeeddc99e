#include "HexConvIHex.h"

#include "HexRecordReader.h"

#include <cstdio>

HexConvIHex::HexConvIHex(quint32 nBase, quint32 nEnd) : HexConv(nBase, nEnd) {}

int HexConvIHex::load(const QString &sFileName)
{
    if (!isAllocated()) {
        std::fputs("hex2bin error: the address window could not be allocated\n", stderr);
        return -1;
    }
    struct Sink : hexrecord::Sink {
        HexConvIHex *pConv;
        void data(quint64 nAddress, const quint8 *pData, int nCount) override
        {
            pConv->storeRecord(quint32(nAddress), pData, nCount);
        }
    } sink;
    sink.pConv = this;
    m_nDropped = 0;
    const int nResult = hexrecord::readIntelHex(sFileName, sink, true, true);
    if (m_nDropped > 0)
        std::fprintf(stderr,
                     "hex2bin warning: %u data record(s) outside the address window 0x%x-0x%x were dropped\n",
                     unsigned(m_nDropped), unsigned(baseAddress()), unsigned(endAddress()));
    return nResult;
}

int HexConvIHex::save(const QString &sFileName, bool bWholeWindow)
{
    // Intel HEX is only read. Nothing is written, so nothing may be reported
    // as saved: a caller that mixes up its converters learns it here.
    Q_UNUSED(sFileName);
    Q_UNUSED(bWholeWindow);
    return -1;
}
