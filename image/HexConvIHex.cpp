#include "HexConvIHex.h"

#include "HexRecordReader.h"

int HexConvIHex::load(const QString &sFileName)
{
    struct Sink : hexrecord::Sink
    {
        HexConvIHex *pConv;
        void data(quint64 nAddress, const quint8 *pData, int nCount, qint64 nLine) override
        {
            pConv->storeRecord(quint32(nAddress), pData, nCount, nLine);
        }
    } sink;
    sink.pConv = this;
    return readFile("hex2bin",
                    [&](hexrecord::Messages &messages) { return hexrecord::readIntelHex(sFileName, sink, messages); });
}

int HexConvIHex::save(const QString & /*sFileName*/, bool /*bWholeWindow*/)
{
    // Intel HEX is only read. Nothing is written, so nothing may be reported
    // as saved: a caller that mixes up its converters learns it here.
    return -1;
}
