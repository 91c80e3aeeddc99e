#ifndef SERVOPROG_IMAGE_HEXCONVIHEX_H
#define SERVOPROG_IMAGE_HEXCONVIHEX_H

#include "HexConv.h"

// Intel HEX reader. Record types 0 (data), 1 (end of file), 4 (extended
// linear address) are used, 3 and 5 (start addresses) ignored; type 2
// (extended segment address) makes the load fail. Intel HEX files are only
// read: save() writes nothing and returns -1 (use HexConvSRec to write).
//
// A line holds one record: only white space may follow its checksum. An
// address record must hold its two bytes, an end record none. A byte that
// two records give different values fails the load, naming both lines.
// Reading stops at the end record or a blank line; data records after that
// point are not read and make the image incomplete, as a missing end record
// does (completeness()).
//
// Messages (errorText(), messages()): "hex2bin error: bad record format",
// "... record length too short", "... crc checksum error",
// "... unknown record type %d", "... extended segment address record not
// supported", "... read error", "... text after the checksum", "... a type
// %d record must hold %d data bytes, not %d", "... address 0x%x is given
// twice with different values (...)"; warnings for records dropped outside
// the window, for text ignored after a blank line, for data records left
// unread and for a missing end record.
class HexConvIHex : public HexConv
{
public:
    HexConvIHex(quint32 nBase = kExamineBase, quint32 nEnd = kExamineEnd) : HexConv(nBase, nEnd) {}

    int load(const QString &sFileName) override;
    int save(const QString &sFileName, bool bWholeWindow) override;
};

#endif
