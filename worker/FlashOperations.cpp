// Flash jobs of the worker: geometry query, device selection, Erase, Program
// and Read, all through the drive's flash command, status and data objects.

#include "FlashOperations.h"

#include "HexConv.h"
#include "ImageFile.h"
#include "Lzrw3a.h"
#include "MonitorObjects.h"
#include "TBootMonitorLink.h"

#include <QFileInfo>
#include <cstring>
#include <memory>
#include <vector>

using namespace MonitorObjects;

namespace {

constexpr auto check = &WorkerSession::check;
const uint32_t kPackedSize = 16384; // compressed-data buffer
static_assert(kPackedSize >= lzrw3a::compressBound(Flash::kBufferSize), "compressed-data buffer too small");
const uint32_t kEraseTimeoutMs = 3100;
const uint32_t kProgramTimeoutMs = 900;

// FlashInfo positions
enum
{
    RegionCount = 0,
    DeviceSize = 1,
    PageSize = 3,
    RegionSize = 5,
    SectorSize = 7
};

} // namespace

FlashOperations::FlashOperations(WorkerSession &session, uint32_t (&aInfo)[8])
    : m_session(session), m_events(session.events()), m_link(session.link()), m_aInfo(aInfo),
      m_pCompressor(&compressBlock)
{
}

void FlashOperations::setBlockCompressor(BlockCompressor pCompressor)
{
    m_pCompressor = pCompressor ? pCompressor : &compressBlock;
}

int FlashOperations::run(PgmEntry &entry)
{
    int nResult = queryFlashInfo();
    if (nResult != 0)
        return nResult;
    nResult = selectFlashDevice(entry.nMemory == Flash0 ? 0 : 1);
    if (nResult != 0)
        return nResult;
    switch (entry.nOperation) {
    case Program: return programFlash(entry);
    case Read: return readFlash(entry);
    case Erase: return eraseFlash(entry);
    default: return 0;
    }
}

int FlashOperations::queryFlashInfo()
{
    m_session.begin(JobPhase::Query, tr("Query flash information"), false);
    MemoryGeometry &geometry = m_session.job().geometry;
    return m_session.guard(tr("EPCS Info"), QString(), false, [&] {
        check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kDeviceInfo));
        for (uint8_t i = 0; i < Flash::kStatusCount; ++i)
            check(m_session.readStatus(Flash::kStatus, uint8_t(i + 1), m_aInfo[i]));
        geometry.nSize = m_aInfo[DeviceSize];
        geometry.nPageSize = m_aInfo[PageSize];
        if (m_aInfo[RegionCount] != 1)
            m_session.raise(WorkerFailure::MultipleRegions, tr("Multiple regions not supported"));
        check(m_session.writeParam(Flash::kCommand, kParam2Sub, 0));
        check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kRegionInfo));
        for (uint8_t i = 0; i < Flash::kStatusCount; ++i)
            check(m_session.readStatus(Flash::kStatus, uint8_t(i + 1), m_aInfo[4 + i]));
        geometry.nRegionSize = m_aInfo[RegionSize];
        geometry.nSectorSize = m_aInfo[SectorSize];
    });
}

int FlashOperations::selectFlashDevice(int nDevice)
{
    m_session.begin(JobPhase::Select, tr("Select flash device"), false);
    return m_session.guard(tr("EPCS select device"), QString(), false, [&] {
        check(m_session.writeParam(Flash::kCommand, kParam2Sub, uint32_t(nDevice)));
        check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kSelect));
    });
}

// Examines each sector of [nStart, nStart + nLength) and erases only those the
// drive reports as not blank. Throws like every service step.
void FlashOperations::eraseSectors(uint32_t nStart, uint32_t nLength)
{
    const uint32_t nSector = m_aInfo[SectorSize];
    JobStats &job = m_session.job();
    check(m_link.setTimeout(kEraseTimeoutMs));
    check(m_session.writeParam(Flash::kCommand, kParam3Sub, nSector));
    uint32_t nAddress = nStart;
    uint32_t nRemain = nLength;
    while (nRemain > 0) {
        check(m_session.writeParam(Flash::kCommand, kParam2Sub, nAddress));
        check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kCheckErase));
        uint32_t nStatus = 0;
        check(m_session.readStatus(Flash::kStatus, 1, nStatus));
        ++job.nSectorsChecked;
        if (nStatus != 0) {
            // A cancel that came during the connection or the check must
            // not be followed by a single erase.
            m_session.checkCancel();
            check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kEraseSector));
            ++job.nSectorsErased;
        }
        nAddress += nSector;
        nRemain -= nSector;
        m_events.value(WorkerSession::percent(nLength - nRemain, nLength));
        m_session.checkCancel();
    }
}

int FlashOperations::eraseFlash(PgmEntry &entry)
{
    m_session.begin(JobPhase::Erase, tr("Erase Flash"), true);

    const uint32_t nSector = m_aInfo[SectorSize];
    uint32_t nOffset = 0, nLength = 0;
    if (!memoryRange(entry, m_aInfo[DeviceSize], nOffset, nLength)) {
        m_session.critical(tr("Flash erase"), tr("Offset/length exceeds flash address range!"), WorkerFailure::Range);
        return -1;
    }
    // A drive answering a sector size of 0 would make every range "aligned"
    // and the loop endless; refuse it with the same message.
    if (nSector == 0 || nOffset % nSector != 0 || nLength % nSector != 0) {
        m_session.critical(tr("Flash erase"),
                           tr("Offset and size must be a multiple of %1 (0x%2)").arg(nSector).arg(nSector, 0, 16),
                           WorkerFailure::Alignment);
        return -1;
    }

    if (m_session.guard(tr("Erase flash"), tr("Erase failed!"), true, [&] { eraseSectors(nOffset, nLength); }) != 0)
        return -1;
    m_link.restoreDefaultTimeout();
    m_events.state(tr("Erase finished"));
    return 0;
}

// Fills the drive's transfer buffer with one data block, compressed (and
// expanded there) where that pays. Throws like every service step.
void FlashOperations::sendBlock(const uint8_t *pBlock, uint32_t nLength, bool bCompress, uint8_t *pPacked,
                                uint8_t *pWork, uint8_t *pExpanded)
{
    JobStats &job = m_session.job();
    uint32_t nPacked = nLength;
    if (bCompress && m_pCompressor(pBlock, nLength, pWork, pPacked, kPackedSize, &nPacked) != 0)
        nPacked = nLength; // not compressible here: send it raw

    bool bSendPacked = nPacked < nLength * 80 / 100;
    if (bSendPacked) {
        // The drive verifies the flash against its own expansion of the block,
        // so a faulty compressed form would pass its verify. Expand it here
        // first and send the block raw when it does not come back exactly.
        uint32_t nExpanded = 0;
        if (expandBlock(pPacked, nPacked, pWork, pExpanded, Flash::kBufferSize, &nExpanded) != lzrw3a::ExpandOk
            || nExpanded != nLength || std::memcmp(pExpanded, pBlock, nLength) != 0) {
            bSendPacked = false;
            ++job.nBlocksExpandMismatch;
        }
    }

    if (bSendPacked) {
        const uint32_t nPieces = (nPacked + kPieceSize - 1) / kPieceSize;
        for (uint32_t k = 0; k < nPieces; ++k)
            check(m_session.writePiece(Flash::kData, uint8_t(k + 1), pPacked + k * kPieceSize, int(kPieceSize)));
        check(m_session.writeParam(Flash::kCommand, kParam2Sub, nPacked));
        check(m_session.writeParam(Flash::kCommand, kParam3Sub, nLength));
        check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kDecompress));
        uint32_t nStatus = 0;
        check(m_session.readStatus(Flash::kStatus, 1, nStatus));
        if (nStatus != 0)
            m_session.raise(WorkerFailure::TransferBlock, tr("Transfer data block failed!"));
        ++job.nBlocksCompressed;
    } else {
        const uint32_t nPieces = nLength / kPieceSize;
        for (uint32_t k = 0; k < nPieces; ++k)
            check(m_session.writePiece(Flash::kData, uint8_t(k + 1), pBlock + k * kPieceSize, int(kPieceSize)));
        ++job.nBlocksRaw;
    }
}

int FlashOperations::programFlash(PgmEntry &entry)
{
    const QString sFile = entry.sImage;
    const uint32_t nRegionSize = m_aInfo[RegionSize];
    const uint32_t nSector = m_aInfo[SectorSize];
    const uint32_t nPage = m_aInfo[PageSize];

    ImageFile file(sFile);
    if (file.status() != ImageFile::Ok) {
        m_session.critical(tr("Examine flash file"), tr("Cannot determine type of flash file %1").arg(sFile),
                           WorkerFailure::FileType);
        return -1;
    }
    // The block arithmetic below needs sectors and pages the drive can
    // actually handle; a drive reporting otherwise gets no request at all.
    if (nRegionSize == 0 || nSector == 0 || nPage == 0 || nPage % kPieceSize != 0 || nRegionSize % nPage != 0) {
        m_session.critical(tr("Examine flash file"),
                           tr("Unsupported flash geometry: region size %1, sector size %2, page size %3")
                               .arg(nRegionSize)
                               .arg(nSector)
                               .arg(nPage),
                           WorkerFailure::Geometry);
        return -1;
    }
    std::vector<uint8_t> packed(kPackedSize);
    std::vector<uint8_t> work(lzrw3a::kWorkSize);
    std::vector<uint8_t> expanded(Flash::kBufferSize);

    m_events.file(QFileInfo(sFile).baseName());
    m_session.begin(JobPhase::ReadFile, QStringLiteral("Reading flash file"), true);

    const bool bLoaded = file.load(0, nRegionSize - 1);
    file.printMessages();
    if (!bLoaded) {
        m_session.critical(tr("Reading flash file"), tr("Cannot read flash file %1").arg(sFile),
                           WorkerFailure::FileRead);
        return -1;
    }
    // Records outside the flash would be dropped by the converter without a
    // word, and the run would report success for a partly written image.
    if (file.count().nAbove > 0) {
        m_session.critical(
            tr("Reading flash file"),
            tr("Flash file %1 holds data beyond the end of the flash (0x%2)").arg(sFile).arg(nRegionSize - 1, 0, 16),
            WorkerFailure::DataOutside);
        return -1;
    }
    HexConv *image = file.converter();
    const uint32_t nLow = image->lowestAddress();
    const uint32_t nHigh = image->highestAddress();
    // An image without a single byte inside the flash would otherwise be
    // "programmed" as one page at address 0.
    if (!image->hasData()) {
        m_session.critical(tr("Reading flash file"), tr("Flash file %1 holds no data for this flash device").arg(sFile),
                           WorkerFailure::NoData);
        return -1;
    }

    // Erase phase: only the sectors the image's used range touches.
    {
        const uint32_t nStart = nSector * (nLow / nSector);
        const uint64_t nLength = uint64_t(nSector) * ((nHigh - nStart) / nSector + 1);
        m_events.phase(JobPhase::Erase);
        m_events.state(tr("Erase flash"));
        // The run ends here anyway: no failure state, and the erase time-out
        // stays.
        if (m_session.guard(tr("Erase flash"), QString(), false, [&] { eraseSectors(nStart, uint32_t(nLength)); }) != 0)
            return -1;
    }

    // Program phase.
    m_link.restoreDefaultTimeout();
    m_session.begin(JobPhase::Program, tr("Program flash"), true);
    JobStats &job = m_session.job();
    const int nResult = m_session.guard(tr("Program flash"), tr("Update failed!"), true, [&] {
        uint32_t nAddress = nPage * (nLow / nPage);
        const uint32_t nTotal = nPage * ((nHigh - nAddress) / nPage + 1);
        check(m_link.setTimeout(kProgramTimeoutMs));
        uint32_t nRemain = nTotal;
        const uint8_t *pBase = image->buffer();
        while (nRemain > 0) {
            uint32_t n = qMin(nRemain, Flash::kBufferSize);
            n = (n + kPieceSize - 1) / kPieceSize * kPieceSize;
            const uint8_t *pBlock = pBase + (nAddress - image->baseAddress());
            bool bBlank = true;
            for (uint32_t i = 0; i < n && bBlank; ++i)
                bBlank = pBlock[i] == 0xFF;
            if (bBlank) {
                ++job.nBlocksSkipped;
            } else {
                sendBlock(pBlock, n, entry.bCompress, packed.data(), work.data(), expanded.data());
                check(m_session.writeParam(Flash::kCommand, kParam2Sub, nAddress));
                check(m_session.writeParam(Flash::kCommand, kParam3Sub, n));
                m_session.checkCancel();
                check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kProgram));
                check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kVerify));
                uint32_t nStatus = 0;
                check(m_session.readStatus(Flash::kStatus, 1, nStatus));
                if (nStatus != 0)
                    m_session.raise(WorkerFailure::VerifyAfterWrite, tr("Verify after write failed!"));
                job.nImageBytes += n;
            }
            nAddress += n;
            nRemain -= qMin(n, nRemain);
            m_events.value(WorkerSession::percent(nTotal - nRemain, nTotal));
            m_session.checkCancel();
        }
    });
    if (nResult != 0)
        return nResult;
    m_link.restoreDefaultTimeout();
    m_events.state(tr("Update finished"));
    return 0;
}

int FlashOperations::readFlash(PgmEntry &entry)
{
    m_session.begin(JobPhase::Read, tr("Read Flash"), true);

    uint32_t nOffset = 0, nLength = 0;
    // An empty range has no address window to save; refuse it like one
    // outside the device.
    if (!memoryRange(entry, m_aInfo[DeviceSize], nOffset, nLength) || nLength == 0) {
        m_session.critical(tr("Flash read"), tr("Offset/length exceeds flash address range!"), WorkerFailure::Range);
        return -1;
    }

    std::unique_ptr<HexConv> image = HexConv::create(HexConv::FileTypeSRecord, nOffset, nOffset + nLength - 1);
    if (!image) {
        m_session.critical(tr("Flash read"), tr("Offset/length exceeds flash address range!"), WorkerFailure::Range);
        return -1;
    }
    std::vector<uint8_t> block(Flash::kBufferSize);
    JobStats &job = m_session.job();
    const int nResult = m_session.guard(tr("Flash read"), tr("Reading flash failed!"), false, [&] {
        uint32_t nAddress = nOffset;
        uint32_t nRemain = nLength;
        uint32_t nPrevious = 0;
        while (nRemain > 0) {
            const uint32_t n = qMin(nRemain, Flash::kBufferSize);
            check(m_session.writeParam(Flash::kCommand, kParam2Sub, nAddress));
            if (n != nPrevious)
                check(m_session.writeParam(Flash::kCommand, kParam3Sub, n));
            nPrevious = n;
            check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kRead));
            const uint32_t nPieces = (n + kPieceSize - 1) / kPieceSize;
            for (uint32_t k = 0; k < nPieces; ++k)
                check(
                    m_session.readPiece(Flash::kData, uint8_t(k + 1), block.data() + k * kPieceSize, int(kPieceSize)));
            std::memcpy(image->buffer() + (nAddress - nOffset), block.data(), n);
            nAddress += n;
            nRemain -= n;
            job.nImageBytes += n;
            m_events.value(WorkerSession::percent(uint64_t(nLength) - nRemain, uint64_t(nLength)));
            m_session.checkCancel();
        }
    });
    if (nResult != 0)
        return nResult;

    if (image->save(entry.sImage, true) != 0) {
        m_session.critical(tr("Flash read"), tr("Writing to file %1 failed!").arg(entry.sImage),
                           WorkerFailure::OutputWrite);
    }
    m_events.state(tr("Reading flash finished"));
    return 0;
}
