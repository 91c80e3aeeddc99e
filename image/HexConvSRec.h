#ifndef SERVOPROG_IMAGE_HEXCONVSREC_H
#define SERVOPROG_IMAGE_HEXCONVSREC_H

#include "HexConv.h"

class OutputFile;

// Motorola S-record reader and writer.
//
// Reading: S0 sets the header text, S1/S2/S3 carry data, S5 is ignored,
// S7/S8/S9 set the start address (reading goes on after them); S4 and S6
// are rejected. The rules of one record per line, of record sizes (S5 and
// the termination records hold no data bytes) and of bytes given twice are
// those of the Intel HEX reader. A file ends with a termination record or
// with a record count (S5) that agrees with its data records; without
// either, or with data records after it, it is incomplete (completeness()). Messages
// (errorText(), messages()): "srec2bin error: bad record format",
// "... record length too short", "... unknown record type S%c" (without a
// line feed), "... checksum error", "... read error" and the rule
// violations; warnings for records dropped outside the window, for text
// ignored after a blank line, for data after the termination record and for
// a missing termination record.
//
// Writing (save): "S0030000FC", 16 data bytes per record, then one
// termination record with the first address written. The record types follow
// from the last address written: up to 0xFFFF S1/S9, below 0x1000000 S2/S8,
// above S3/S7. A file is written beside the target and renamed into place
// only when every byte was written, so a failed save leaves any existing file
// untouched; a device or a FIFO is written directly (see OutputFile).
class HexConvSRec : public HexConv
{
public:
    HexConvSRec(quint32 nBase = kExamineBase, quint32 nEnd = kExamineEnd) : HexConv(nBase, nEnd) {}

    int load(const QString &sFileName) override;
    // bWholeWindow: base..end; otherwise lowest..highest used address. A
    // converter without data writes no data records (termination address =
    // base address) in the latter case.
    int save(const QString &sFileName, bool bWholeWindow) override;
    // The same into an output the caller made (not yet opened), which then
    // tells why a save failed.
    int save(OutputFile &file, bool bWholeWindow);

    // Text of the last S0 record that carried data (at most 256 characters,
    // zero-terminated); empty before such a record was read.
    virtual const char *headerText() const { return m_sHeader; }
    // Address of the last S7/S8/S9 record read; 0 before.
    virtual quint32 startAddress() const { return m_nStart; }

private:
    char m_sHeader[257] = {};
    quint32 m_nStart = 0;
};

#endif
