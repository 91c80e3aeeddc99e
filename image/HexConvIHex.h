#ifndef SERVOPROG_IMAGE_HEXCONVIHEX_H
#define SERVOPROG_IMAGE_HEXCONVIHEX_H

#include "HexConv.h"

// Intel HEX reader. Record types 0 (data), 1 (end of file), 4 (extended
// linear address) are used, 3 and 5 (start addresses) ignored; type 2
// (extended segment address) makes the load fail. Intel HEX files are only
// read: save() writes nothing and returns -1 (use HexConvSRec to write).
//
// Messages (errorText(), warnings()): "hex2bin error: bad record format",
// "... record length too short", "... crc checksum error",
// "... unknown record type %d", "... extended segment address record not
// supported", "... read error"; warnings for records dropped outside the
// window, for text ignored after a blank line and for a missing end record.
class HexConvIHex : public HexConv
{
public:
    HexConvIHex(quint32 nBase = kExamineBase, quint32 nEnd = kExamineEnd);

    int load(const QString &sFileName) override;
    int save(const QString &sFileName, bool bWholeWindow) override;
};

#endif
