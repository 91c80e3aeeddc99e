#ifndef MONITORCOMMANDS_H
#define MONITORCOMMANDS_H

// The boot monitor's flash and EEPROM commands, a function each. A command
// is a short sequence of requests: its parameters into the command object,
// its code, then its answers from the status object and its data through
// the data object (MonitorObjects). This is the one place that knows which
// subindex of the command object holds what.
//
// Every function returns a communication status code (0 = success); a
// command's answer that is not a failure (a block that differs, a sector
// that needs erasing) comes back through an out-parameter. The functions
// keep no state of their own beyond what the caller hands in, so each sends
// exactly the requests it names.

#include <cstdint>

class TBootMonitorLink;

// The requests commands are made of. The worker's session repeats the
// harmless ones after a lost or garbled answer; writes that carry a command
// code are never repeated, since the drive may have carried them out.
class MonitorRequests
{
public:
    enum Repeat
    {
        NeverRepeat,
        MayRepeat
    };
    virtual int writeValue(uint16_t nObject, uint8_t nSubIndex, uint32_t nValue, Repeat eRepeat) = 0;
    virtual int readValue(uint16_t nObject, uint8_t nSubIndex, uint32_t &nValue) = 0;
    virtual int writePiece(uint16_t nObject, uint8_t nSubIndex, const uint8_t *pData, int nCount) = 0;
    virtual int readPiece(uint16_t nObject, uint8_t nSubIndex, uint8_t *pData, int nCount) = 0;

protected:
    ~MonitorRequests() = default;
};

// Every request sent once, straight through the link.
class LinkRequests : public MonitorRequests
{
public:
    explicit LinkRequests(TBootMonitorLink &link) : m_link(link) {}
    int writeValue(uint16_t nObject, uint8_t nSubIndex, uint32_t nValue, Repeat eRepeat) override;
    int readValue(uint16_t nObject, uint8_t nSubIndex, uint32_t &nValue) override;
    int writePiece(uint16_t nObject, uint8_t nSubIndex, const uint8_t *pData, int nCount) override;
    int readPiece(uint16_t nObject, uint8_t nSubIndex, uint8_t *pData, int nCount) override;

private:
    TBootMonitorLink &m_link;
};

// The commands both memories know, on one memory's command, status and data
// objects.
class MemoryCommands
{
public:
    // Information: the first nCount status values after the command.
    int info(uint32_t *pAnswers, int nCount);
    int select(uint32_t nDevice);
    // The block the next command works on. With pLengthHeld, the length is
    // written only when it differs from *pLengthHeld (what the drive holds
    // from the block before), which then becomes it.
    int setBlock(uint32_t nAddress, uint32_t nLength, uint32_t *pLengthHeld = nullptr);
    // nLength bytes of pData into the transfer buffer, in whole pieces from
    // the first (pData must hold them).
    int writeBuffer(const uint8_t *pData, uint32_t nLength);
    // Reads the block into the transfer buffer and nLength bytes of it into
    // pDest (setBlock, the read command, the pieces).
    int readBlock(uint32_t nAddress, uint32_t nLength, uint8_t *pDest, uint32_t *pLengthHeld = nullptr);
    // Has the drive compare the block set with its transfer buffer.
    int verify(bool &bEqual);

protected:
    MemoryCommands(MonitorRequests &requests, uint16_t nCommand, uint16_t nStatus, uint16_t nData);
    int command(uint32_t nCode);
    // A command, then its first nCount answers.
    int answers(uint32_t nCode, uint32_t *pAnswers, int nCount);
    int parameter(uint8_t nSubIndex, uint32_t nValue);
    // A command, then its verdict: good when its first answer is 0.
    int verdict(uint32_t nCode, bool &bGood);

    MonitorRequests &m_requests;

private:
    uint16_t m_nCommand;
    uint16_t m_nStatus;
    uint16_t m_nData;
};

class FlashCommands : public MemoryCommands
{
public:
    explicit FlashCommands(MonitorRequests &requests);
    // Region nRegion's first nCount answers: start, size, sector count,
    // sector size.
    int regionInfo(uint32_t nRegion, uint32_t *pAnswers, int nCount);
    // The sector size the check and the erase work with.
    int setSectorLength(uint32_t nLength);
    int checkErase(uint32_t nAddress, bool &bNeedsErase);
    // Erases the sector of the last check.
    int eraseSector();
    // Expands nPacked bytes in the transfer buffer to nLength.
    int expandBuffer(uint32_t nPacked, uint32_t nLength, bool &bGood);
    // Programs the block set from the transfer buffer.
    int program();
};

class EepromCommands : public MemoryCommands
{
public:
    explicit EepromCommands(MonitorRequests &requests);
    // Writes the transfer buffer into the block set.
    int write();
};

#endif // MONITORCOMMANDS_H
