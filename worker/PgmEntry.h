#ifndef PGMENTRY_H
#define PGMENTRY_H

#include <QString>
#include <QVector>
#include <cstdint>

// Target memory of a job.
enum PgmMemory
{
    Flash0 = 0,
    Flash1 = 1,
    Eeprom0 = 2,
    Eeprom1 = 3
};

// What a job does with its memory.
enum PgmOperation
{
    Erase = 0,
    Program = 1,
    Read = 2
};

// How the drive is brought into its boot monitor before the jobs run.
enum BootType
{
    RunningFirmware = 0,
    PoweredOff = 1,
    RunningMonitor = 2
};

// One job of an update run: one row of the programming list.
struct PgmEntry
{
    int32_t nMemory = Flash0;     // PgmMemory
    int32_t nOperation = Program; // PgmOperation
    int32_t nOffset = -1;         // first byte address; negative: not given
    int32_t nLength = -1;         // byte count; negative: up to the end of the memory
    QString sImage;               // source of Program, destination of Read, empty for Erase
    bool bCompress = false;       // flash Program: send blocks compressed where that pays
    // flash Program: leave alone the sectors that already hold what the
    // update would leave there (compared through the drive's verify)
    bool bSkipUnchanged = false;
    // Program: write an image that is known to lack its end record (exactly
    // the bytes it holds); without it such an image is refused
    bool bAllowIncomplete = false;
};

// The bytes a job covers in a memory of nSize bytes: nLength bytes from
// nOffset, or from nOffset up to the end when nLength is negative. False
// when they do not lie inside the memory: a negative offset, an end beyond
// the memory's end, or nothing left between the offset and the end.
inline bool memoryRange(const PgmEntry &entry, uint32_t nSize, uint32_t &nOffset, uint32_t &nLength)
{
    const int64_t nFirst = entry.nOffset;
    const int64_t nCount = entry.nLength < 0 ? int64_t(nSize) - nFirst : int64_t(entry.nLength);
    if (nFirst < 0 || nFirst + nCount > int64_t(nSize) || (entry.nLength < 0 && nCount <= 0))
        return false;
    nOffset = uint32_t(nFirst);
    nLength = uint32_t(nCount);
    return true;
}

// The connection record of an update run.
class BaseParams
{
public:
    virtual ~BaseParams() = default;

    QString sPort;                  // device name as the transport opens it
    uint32_t nBaudrate = 0;         // working rate; 0 = the transport's default
    int32_t nBootType = PoweredOff; // BootType
};

using PgmEntryList = QVector<PgmEntry>;

#endif // PGMENTRY_H
