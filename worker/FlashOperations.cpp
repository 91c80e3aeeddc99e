// Flash jobs of the worker: geometry query, device selection, Erase, Program
// and Read, all through the drive's flash command, status and data objects.

#include "FlashOperations.h"

#include "HexConv.h"
#include "HexConvSRec.h"
#include "ImageFile.h"
#include "Lzrw3a.h"
#include "MonitorObjects.h"
#include "TBootMonitorLink.h"

#include <QFileInfo>
#include <algorithm>
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

bool isBlank(const uint8_t *pData, uint32_t nLength)
{
    return std::all_of(pData, pData + nLength, [](uint8_t b) { return b == 0xFF; });
}

// FlashInfo positions
enum
{
    RegionCount = 0,
    DeviceSize = 1,
    PageSize = 3,
    RegionSize = 5,
    SectorSize = 7
};

// A block of a sector.
struct Piece
{
    uint32_t nAddress;
    uint32_t nLength;
};

// The sector at nStart in blocks of at most one transfer buffer, cut where
// the full update's blocks begin (every 8192 bytes from nGrid) and at the
// sector's ends.
std::vector<Piece> sectorBlocks(uint64_t nStart, uint32_t nSector, uint32_t nGrid)
{
    std::vector<Piece> pieces;
    const uint64_t nEnd = nStart + nSector;
    for (uint64_t a = nStart; a < nEnd;) {
        // Unsigned wrap-around keeps this right below nGrid too.
        const uint32_t nIntoBlock = (uint32_t(a) - nGrid) % Flash::kBufferSize;
        const uint64_t nNext = qMin<uint64_t>(a + Flash::kBufferSize - nIntoBlock, nEnd);
        pieces.push_back({uint32_t(a), uint32_t(nNext - a)});
        a = nNext;
    }
    return pieces;
}

// The whole sectors around the image's used range, which an update erases.
struct SectorSpan
{
    uint32_t nStart;
    uint64_t nLength;
};

SectorSpan touchedSectors(const HexConv &image, uint32_t nSector)
{
    const uint32_t nStart = nSector * (image.lowestAddress() / nSector);
    return {nStart, uint64_t(nSector) * ((image.highestAddress() - nStart) / nSector + 1)};
}

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

// Erases the sector at nAddress unless the drive reports it blank. Parameter
// 3 must hold the sector size and the erase time-out be set. Throws like
// every service step.
void FlashOperations::eraseSectorIfNeeded(uint32_t nAddress)
{
    JobStats &job = m_session.job();
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
}

// Examines each sector of [nStart, nStart + nLength) and erases only those the
// drive reports as not blank. Throws like every service step.
void FlashOperations::eraseSectors(uint32_t nStart, uint32_t nLength)
{
    const uint32_t nSector = m_aInfo[SectorSize];
    check(m_link.setTimeout(kEraseTimeoutMs));
    check(m_session.writeParam(Flash::kCommand, kParam3Sub, nSector));
    uint32_t nAddress = nStart;
    uint32_t nRemain = nLength;
    while (nRemain > 0) {
        eraseSectorIfNeeded(nAddress);
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

FlashOperations::BlockBuffers::BlockBuffers()
    : packed(kPackedSize), work(lzrw3a::kWorkSize), expanded(Flash::kBufferSize)
{
}

// Fills the drive's transfer buffer with one data block, compressed (and
// expanded there) where that pays. Throws like every service step.
void FlashOperations::sendBlock(const uint8_t *pBlock, uint32_t nLength, bool bCompress, BlockBuffers &buffers)
{
    JobStats &job = m_session.job();
    uint8_t *pPacked = buffers.packed.data();
    uint32_t nPacked = nLength;
    if (bCompress && m_pCompressor(pBlock, nLength, buffers.work.data(), pPacked, kPackedSize, &nPacked) != 0)
        nPacked = nLength; // not compressible here: send it raw

    // Compressed only when the compressed form, flag word included, is
    // shorter than n * 80 / 100 bytes with the division rounding down
    // (n the block length): 6552 of 8192 bytes go compressed, 6553 raw.
    bool bSendPacked = nPacked < nLength * 80 / 100;
    if (bSendPacked) {
        // The drive verifies the flash against its own expansion of the block,
        // so a faulty compressed form would pass its verify. Expand it here
        // first and send the block raw when it does not come back exactly.
        uint32_t nExpanded = 0;
        if (expandBlock(pPacked, nPacked, buffers.work.data(), buffers.expanded.data(), Flash::kBufferSize, &nExpanded)
                != lzrw3a::ExpandOk
            || nExpanded != nLength || std::memcmp(buffers.expanded.data(), pBlock, nLength) != 0) {
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

// Has the drive compare nLength bytes of flash at nAddress with its transfer
// buffer. A difference is an answer, not a failure. Throws like every
// service step.
bool FlashOperations::verifyBlock(uint32_t nAddress, uint32_t nLength)
{
    check(m_session.writeParam(Flash::kCommand, kParam2Sub, nAddress));
    check(m_session.writeParam(Flash::kCommand, kParam3Sub, nLength));
    check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kVerify));
    uint32_t nStatus = 0;
    check(m_session.readStatus(Flash::kStatus, 1, nStatus));
    return nStatus == 0;
}

// Programs the block in the drive's transfer buffer at nAddress and has the
// drive verify it. Throws like every service step.
void FlashOperations::programBlock(uint32_t nAddress, uint32_t nLength)
{
    check(m_session.writeParam(Flash::kCommand, kParam2Sub, nAddress));
    check(m_session.writeParam(Flash::kCommand, kParam3Sub, nLength));
    m_session.checkCancel();
    check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kProgram));
    check(m_link.writeU32(Flash::kCommand, kCommandSub, Flash::kVerify));
    uint32_t nStatus = 0;
    check(m_session.readStatus(Flash::kStatus, 1, nStatus));
    if (nStatus != 0)
        m_session.raise(WorkerFailure::VerifyAfterWrite, tr("Verify after write failed!"));
    m_session.job().nImageBytes += nLength;
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
    // Comparing sector by sector also needs whole pages in a sector.
    if (nRegionSize == 0 || nSector == 0 || nPage == 0 || nPage % kPieceSize != 0 || nRegionSize % nPage != 0
        || (entry.bSkipUnchanged && nSector % nPage != 0)) {
        m_session.critical(tr("Examine flash file"),
                           tr("Unsupported flash geometry: region size %1, sector size %2, page size %3")
                               .arg(nRegionSize)
                               .arg(nSector)
                               .arg(nPage),
                           WorkerFailure::Geometry);
        return -1;
    }
    BlockBuffers buffers;

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
    // An image without a single byte inside the flash would otherwise be
    // "programmed" as one page at address 0.
    if (!image->hasData()) {
        m_session.critical(tr("Reading flash file"), tr("Flash file %1 holds no data for this flash device").arg(sFile),
                           WorkerFailure::NoData);
        return -1;
    }
    if (!m_session.acceptImage(file, entry, tr("Reading flash file")))
        return -1;

    const int nResult = entry.bSkipUnchanged ? programChangedSectors(*image, entry.bCompress, buffers)
                                             : programAllSectors(*image, entry.bCompress, buffers);
    if (nResult != 0)
        return nResult;
    m_link.restoreDefaultTimeout();
    m_events.state(tr("Update finished"));
    return 0;
}

// The full update: erase every sector the image's used range touches, then
// program its blocks, all but the all-FF ones.
int FlashOperations::programAllSectors(HexConv &image, bool bCompress, BlockBuffers &buffers)
{
    const uint32_t nPage = m_aInfo[PageSize];
    const uint32_t nLow = image.lowestAddress();
    const uint32_t nHigh = image.highestAddress();

    // Erase phase: only the sectors the image's used range touches.
    {
        const SectorSpan sectors = touchedSectors(image, m_aInfo[SectorSize]);
        m_events.phase(JobPhase::Erase);
        m_events.state(tr("Erase flash"));
        // The run ends here anyway: no failure state, and the erase time-out
        // stays.
        if (m_session.guard(tr("Erase flash"), QString(), false,
                            [&] { eraseSectors(sectors.nStart, uint32_t(sectors.nLength)); })
            != 0)
            return -1;
    }

    // Program phase.
    m_link.restoreDefaultTimeout();
    m_session.begin(JobPhase::Program, tr("Program flash"), true);
    JobStats &job = m_session.job();
    return m_session.guard(tr("Program flash"), tr("Update failed!"), true, [&] {
        uint32_t nAddress = nPage * (nLow / nPage);
        const uint32_t nTotal = nPage * ((nHigh - nAddress) / nPage + 1);
        check(m_link.setTimeout(kProgramTimeoutMs));
        uint32_t nRemain = nTotal;
        const uint8_t *pBase = image.buffer();
        while (nRemain > 0) {
            uint32_t n = qMin(nRemain, Flash::kBufferSize);
            n = (n + kPieceSize - 1) / kPieceSize * kPieceSize;
            const uint8_t *pBlock = pBase + (nAddress - image.baseAddress());
            if (isBlank(pBlock, n)) {
                ++job.nBlocksSkipped;
            } else {
                sendBlock(pBlock, n, bCompress, buffers);
                programBlock(nAddress, n);
            }
            nAddress += n;
            nRemain -= qMin(n, nRemain);
            m_events.value(WorkerSession::percent(nTotal - nRemain, nTotal));
            m_session.checkCancel();
        }
    });
}

// The update that skips what the drive already holds, sector by sector in
// address order. Each block of a sector is sent as it would be programmed
// and compared with the flash by the drive's verify, against the bytes a
// full update leaves there: the image inside its used range, FF around it
// (the erase leaves the rest of the first and last sector FF, and all-FF
// blocks are never programmed). A sector whose blocks all match is neither
// erased nor programmed. At the first block that differs the sector is
// erased (unless blank) and programmed: that block straight from the
// transfer buffer, then the earlier ones again, then the rest as usual.
// The end state is that of the full update.
int FlashOperations::programChangedSectors(HexConv &image, bool bCompress, BlockBuffers &buffers)
{
    const uint32_t nSector = m_aInfo[SectorSize];
    const uint32_t nPage = m_aInfo[PageSize];
    const SectorSpan sectors = touchedSectors(image, nSector);
    const uint32_t nFirst = sectors.nStart;
    const uint64_t nTotal = sectors.nLength;
    // Where the full update's blocks begin.
    const uint32_t nGrid = nPage * (image.lowestAddress() / nPage);
    const uint32_t nImageBase = image.baseAddress();
    const uint64_t nImageEnd = uint64_t(image.endAddress()) + 1;
    std::vector<uint8_t> block(Flash::kBufferSize);

    m_session.begin(JobPhase::Program, tr("Program flash"), true);
    JobStats &job = m_session.job();
    // guard() reads the title when something fails, so it names the
    // activity of the moment: the erase check and erase, or the rest.
    QString sTitle = tr("Program flash");
    return m_session.guard(sTitle, tr("Update failed!"), true, [&] {
        check(m_link.setTimeout(kProgramTimeoutMs));
        // Leading bytes of the drive's transfer buffer known to be FF: an FF
        // block no longer than that is compared without being sent again.
        // Only data writes, flash reads and the decompress command change
        // the buffer; verify, program, check and erase leave it as it is,
        // which is also what lets a block that differs be programmed
        // without sending it twice.
        uint32_t nBufferBlank = 0;
        auto load = [&](uint32_t nAddress, uint32_t n) {
            // What the full update leaves there; FF beyond the image's window.
            std::fill(block.begin(), block.begin() + n, uint8_t(0xFF));
            const uint64_t nFrom = qMax<uint64_t>(nAddress, nImageBase);
            const uint64_t nTo = qMin<uint64_t>(uint64_t(nAddress) + n, nImageEnd);
            if (nFrom < nTo)
                std::memcpy(block.data() + (nFrom - nAddress), image.buffer() + (nFrom - nImageBase), nTo - nFrom);
            return isBlank(block.data(), n);
        };
        auto send = [&](uint32_t n, bool bBlank) {
            if (bBlank && n <= nBufferBlank)
                return;
            sendBlock(block.data(), n, bCompress, buffers);
            nBufferBlank = bBlank ? n : 0;
        };
        uint64_t nDone = 0;
        for (uint64_t nSectorStart = nFirst; nSectorStart < nFirst + nTotal; nSectorStart += nSector) {
            const std::vector<Piece> pieces = sectorBlocks(nSectorStart, nSector, nGrid);
            bool bErased = false;
            uint32_t nProgrammed = 0;
            auto program = [&](const Piece &piece) {
                programBlock(piece.nAddress, piece.nLength);
                ++nProgrammed;
            };
            for (size_t i = 0; i < pieces.size(); ++i) {
                const Piece &piece = pieces[i];
                const bool bBlank = load(piece.nAddress, piece.nLength);
                if (bErased) {
                    if (!bBlank) {
                        send(piece.nLength, false);
                        program(piece);
                    }
                } else {
                    send(piece.nLength, bBlank);
                    if (!verifyBlock(piece.nAddress, piece.nLength)) {
                        sTitle = tr("Erase flash");
                        check(m_link.setTimeout(kEraseTimeoutMs));
                        check(m_session.writeParam(Flash::kCommand, kParam3Sub, nSector));
                        eraseSectorIfNeeded(uint32_t(nSectorStart));
                        check(m_link.setTimeout(kProgramTimeoutMs));
                        sTitle = tr("Program flash");
                        bErased = true;
                        if (!bBlank)
                            program(piece);
                        // The blocks before it matched the old contents,
                        // which the erase has just removed.
                        for (size_t j = 0; j < i; ++j) {
                            if (load(pieces[j].nAddress, pieces[j].nLength))
                                continue;
                            send(pieces[j].nLength, false);
                            program(pieces[j]);
                            m_session.checkCancel();
                        }
                    }
                }
                nDone += piece.nLength;
                m_events.value(WorkerSession::percent(nDone, nTotal));
                m_session.checkCancel();
            }
            job.nBlocksSkipped += uint32_t(pieces.size()) - nProgrammed;
            if (!bErased)
                ++job.nSectorsSkipped;
        }
    });
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

    auto image = std::make_unique<HexConvSRec>(nOffset, nOffset + nLength - 1);
    if (!image->isAllocated()) {
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

    m_session.saveReadBack(*image, entry.sImage, tr("Flash read"));
    m_events.state(tr("Reading flash finished"));
    return 0;
}
