#include "MonitorCommands.h"

#include "MonitorObjects.h"
#include "TBootMonitorLink.h"

#include <algorithm>
#include <cstring>

using namespace MonitorObjects;

// ---- LinkRequests ------------------------------------------------------------

int LinkRequests::writeValue(uint16_t nObject, uint8_t nSubIndex, uint32_t nValue, Repeat)
{
    return m_link.writeU32(nObject, nSubIndex, nValue);
}

int LinkRequests::readValue(uint16_t nObject, uint8_t nSubIndex, uint32_t &nValue)
{
    return m_link.readU32(nObject, nSubIndex, nValue);
}

int LinkRequests::writePiece(uint16_t nObject, uint8_t nSubIndex, const uint8_t *pData, int nCount)
{
    return m_link.writeObject(nObject, nSubIndex, pData, nCount);
}

int LinkRequests::readPiece(uint16_t nObject, uint8_t nSubIndex, uint8_t *pData, int nCount)
{
    return m_link.readObject(nObject, nSubIndex, pData, nCount);
}

// ---- MemoryCommands ----------------------------------------------------------

// Both memories' command sets share the codes of the commands they share.
static_assert(Flash::kSelect == Eeprom::kSelect && Flash::kDeviceInfo == Eeprom::kInfo && Flash::kRead == Eeprom::kRead
                  && Flash::kVerify == Eeprom::kVerify,
              "the memories' common commands have one code");

MemoryCommands::MemoryCommands(MonitorRequests &requests, uint16_t nCommand, uint16_t nStatus, uint16_t nData)
    : m_requests(requests), m_nCommand(nCommand), m_nStatus(nStatus), m_nData(nData)
{
}

int MemoryCommands::command(uint32_t nCode)
{
    return m_requests.writeValue(m_nCommand, kCommandSub, nCode, MonitorRequests::NeverRepeat);
}

int MemoryCommands::parameter(uint8_t nSubIndex, uint32_t nValue)
{
    return m_requests.writeValue(m_nCommand, nSubIndex, nValue, MonitorRequests::MayRepeat);
}

int MemoryCommands::verdict(uint32_t nCode, bool &bGood)
{
    int nResult = command(nCode);
    if (nResult != 0)
        return nResult;
    uint32_t nStatus = 0;
    nResult = m_requests.readValue(m_nStatus, 1, nStatus);
    bGood = nStatus == 0;
    return nResult;
}

int MemoryCommands::answers(uint32_t nCode, uint32_t *pAnswers, int nCount)
{
    int nResult = command(nCode);
    for (int i = 0; nResult == 0 && i < nCount; ++i)
        nResult = m_requests.readValue(m_nStatus, uint8_t(i + 1), pAnswers[i]);
    return nResult;
}

int MemoryCommands::info(uint32_t *pAnswers, int nCount)
{
    return answers(Flash::kDeviceInfo, pAnswers, nCount);
}

int MemoryCommands::select(uint32_t nDevice)
{
    const int nCode = parameter(kParam2Sub, nDevice);
    return nCode != 0 ? nCode : command(Flash::kSelect);
}

int MemoryCommands::setBlock(uint32_t nAddress, uint32_t nLength, uint32_t *pLengthHeld)
{
    int nCode = parameter(kParam2Sub, nAddress);
    if (nCode != 0 || (pLengthHeld && *pLengthHeld == nLength))
        return nCode;
    nCode = parameter(kParam3Sub, nLength);
    if (nCode == 0 && pLengthHeld)
        *pLengthHeld = nLength;
    return nCode;
}

int MemoryCommands::writeBuffer(const uint8_t *pData, uint32_t nLength)
{
    int nCode = 0;
    for (uint32_t k = 0; nCode == 0 && k * kPieceSize < nLength; ++k)
        nCode = m_requests.writePiece(m_nData, uint8_t(k + 1), pData + k * kPieceSize, int(kPieceSize));
    return nCode;
}

int MemoryCommands::readBlock(uint32_t nAddress, uint32_t nLength, uint8_t *pDest, uint32_t *pLengthHeld)
{
    int nCode = setBlock(nAddress, nLength, pLengthHeld);
    if (nCode == 0)
        nCode = command(Flash::kRead);
    uint8_t piece[kPieceSize];
    for (uint32_t nDone = 0, k = 1; nCode == 0 && nDone < nLength; ++k) {
        nCode = m_requests.readPiece(m_nData, uint8_t(k), piece, int(kPieceSize));
        const uint32_t nTake = std::min(nLength - nDone, kPieceSize);
        if (nCode == 0)
            std::memcpy(pDest + nDone, piece, nTake);
        nDone += nTake;
    }
    return nCode;
}

int MemoryCommands::verify(bool &bEqual)
{
    return verdict(Flash::kVerify, bEqual);
}

// ---- FlashCommands -----------------------------------------------------------

FlashCommands::FlashCommands(MonitorRequests &requests)
    : MemoryCommands(requests, Flash::kCommand, Flash::kStatus, Flash::kData)
{
}

int FlashCommands::regionInfo(uint32_t nRegion, uint32_t *pAnswers, int nCount)
{
    const int nCode = parameter(kParam2Sub, nRegion);
    return nCode != 0 ? nCode : answers(Flash::kRegionInfo, pAnswers, nCount);
}

int FlashCommands::setSectorLength(uint32_t nLength)
{
    return parameter(kParam3Sub, nLength);
}

int FlashCommands::checkErase(uint32_t nAddress, bool &bNeedsErase)
{
    int nCode = parameter(kParam2Sub, nAddress);
    bool bBlank = true;
    if (nCode == 0)
        nCode = verdict(Flash::kCheckErase, bBlank);
    bNeedsErase = !bBlank;
    return nCode;
}

int FlashCommands::eraseSector()
{
    return command(Flash::kEraseSector);
}

int FlashCommands::expandBuffer(uint32_t nPacked, uint32_t nLength, bool &bGood)
{
    int nCode = parameter(kParam2Sub, nPacked);
    if (nCode == 0)
        nCode = parameter(kParam3Sub, nLength);
    return nCode != 0 ? nCode : verdict(Flash::kDecompress, bGood);
}

int FlashCommands::program()
{
    return command(Flash::kProgram);
}

// ---- EepromCommands ----------------------------------------------------------

EepromCommands::EepromCommands(MonitorRequests &requests)
    : MemoryCommands(requests, Eeprom::kCommand, Eeprom::kStatus, Eeprom::kData)
{
}

int EepromCommands::write()
{
    return command(Eeprom::kWrite);
}
