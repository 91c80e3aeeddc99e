// Flash jobs of the worker: geometry query, device selection, Erase, Program
// and Read, all through the drive's flash command, status and data objects.

#include "FlashOperations.h"

#include "HexConv.h"
#include "ImageFile.h"
#include "Lzrw3a.h"
#include "MonitorObjects.h"
#include "TBootMonitorLink.h"

#include <algorithm>
#include <cstring>
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
    : MemoryJob(session, Wording::Flash), m_link(session.link()), m_commands(session), m_aInfo(aInfo), m_pCompressor(&compressBlock)
{
}

void FlashOperations::setBlockCompressor(BlockCompressor pCompressor)
{
    m_pCompressor = pCompressor ? pCompressor : &compressBlock;
}

int FlashOperations::queryFlashInfo()
{
    m_session.begin(JobPhase::Query, tr("Query flash information"), false);
    MemoryGeometry &geometry = m_session.job().geometry;
    return m_session.guard(tr("EPCS Info"), QString(), false, [&] {
        // The device's answers 1..4 and region 0's answers 1..4.
        check(m_commands.info(m_aInfo, 4));
        geometry.nSize = m_aInfo[1];
        geometry.nPageSize = m_aInfo[3];
        if (m_aInfo[0] != 1)
            m_session.raise(WorkerFailure::MultipleRegions, tr("Multiple regions not supported"));
        check(m_commands.regionInfo(0, m_aInfo + 4, 4));
        geometry.nRegionSize = m_aInfo[5];
        geometry.nSectorSize = m_aInfo[7];
    });
}

int FlashOperations::selectFlashDevice(int nDevice)
{
    m_session.begin(JobPhase::Select, tr("Select flash device"), false);
    return m_session.guard(tr("EPCS select device"), QString(), false,
                           [&] { check(m_commands.select(uint32_t(nDevice))); });
}

// Erases the sector at nAddress unless the drive reports it blank. The
// sector length must be set and the erase time-out be in force. Throws like
// every service step.
void FlashOperations::eraseSectorIfNeeded(uint32_t nAddress)
{
    JobStats &job = m_session.job();
    bool bNeedsErase = false;
    check(m_commands.checkErase(nAddress, bNeedsErase));
    ++job.nSectorsChecked;
    if (bNeedsErase) {
        // A cancel that came during the connection or the check must
        // not be followed by a single erase.
        m_session.checkCancel();
        check(m_commands.eraseSector());
        ++job.nSectorsErased;
    }
}

// Examines each sector of [nStart, nStart + nLength) and erases only those the
// drive reports as not blank. Throws like every service step.
void FlashOperations::eraseSectors(uint32_t nStart, uint32_t nLength)
{
    const uint32_t nSector = geometry().nSectorSize;
    check(m_link.setTimeout(kEraseTimeoutMs));
    check(m_commands.setSectorLength(nSector));
    forEachBlock(nStart, nLength, nSector, [&](uint32_t nAddress, uint32_t) { eraseSectorIfNeeded(nAddress); });
}

int FlashOperations::eraseFlash(PgmEntry &entry)
{
    m_session.begin(JobPhase::Erase, tr("Erase Flash"), true);

    const uint32_t nSector = geometry().nSectorSize;
    uint32_t nOffset = 0, nLength = 0;
    if (!memoryRange(entry, geometry().nSize, nOffset, nLength)) {
        m_session.critical(tr("Flash erase"), texts().sRange, WorkerFailure::Range);
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
        // The last piece's tail is whatever the buffer holds.
        check(m_commands.writeBuffer(pPacked, nPacked));
        bool bExpanded = false;
        check(m_commands.expandBuffer(nPacked, nLength, bExpanded));
        if (!bExpanded)
            m_session.raise(WorkerFailure::TransferBlock, tr("Transfer data block failed!"));
        ++job.nBlocksCompressed;
    } else {
        check(m_commands.writeBuffer(pBlock, nLength));
        ++job.nBlocksRaw;
    }
}

// Has the drive compare nLength bytes of flash at nAddress with its transfer
// buffer. A difference is an answer, not a failure. Throws like every
// service step.
bool FlashOperations::verifyBlock(uint32_t nAddress, uint32_t nLength)
{
    bool bEqual = false;
    check(m_commands.setBlock(nAddress, nLength));
    check(m_commands.verify(bEqual));
    return bEqual;
}

// Programs the block in the drive's transfer buffer at nAddress and has the
// drive verify it. Throws like every service step.
void FlashOperations::programBlock(uint32_t nAddress, uint32_t nLength)
{
    check(m_commands.setBlock(nAddress, nLength));
    m_session.checkCancel();
    check(m_commands.program());
    bool bEqual = false;
    check(m_commands.verify(bEqual));
    if (!bEqual)
        m_session.raise(WorkerFailure::VerifyAfterWrite, tr("Verify after write failed!"));
    m_session.job().nImageBytes += nLength;
}

int FlashOperations::programFlash(PgmEntry &entry)
{
    const uint32_t nRegionSize = geometry().nRegionSize;
    const uint32_t nSector = geometry().nSectorSize;
    const uint32_t nPage = geometry().nPageSize;

    ImageFile file(entry.sImage);
    if (!examineImage(file))
        return -1;
    // The block arithmetic below needs sectors and pages the drive can
    // actually handle; a drive reporting otherwise gets no request at all.
    // Comparing sector by sector also needs whole pages in a sector.
    if (nRegionSize == 0 || nSector == 0 || nPage == 0 || nPage % kPieceSize != 0 || nRegionSize % nPage != 0
        || (entry.bSkipUnchanged && nSector % nPage != 0)) {
        m_session.critical(texts().sExamineTitle,
                           tr("Unsupported flash geometry: region size %1, sector size %2, page size %3")
                               .arg(nRegionSize)
                               .arg(nSector)
                               .arg(nPage),
                           WorkerFailure::Geometry);
        return -1;
    }
    BlockBuffers buffers;
    HexConv *image = readImage(
        file, entry, true, [&] { return file.load(0, nRegionSize - 1); },
        [&] {
            return file.count().nAbove == 0 ? QString()
                                            : tr("Flash file %1 holds data beyond the end of the flash (0x%2)")
                                                  .arg(file.path())
                                                  .arg(nRegionSize - 1, 0, 16);
        });
    if (!image)
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
    const uint32_t nPage = geometry().nPageSize;
    const uint32_t nLow = image.lowestAddress();
    const uint32_t nHigh = image.highestAddress();

    // Erase phase: only the sectors the image's used range touches.
    {
        const SectorSpan sectors = touchedSectors(image, geometry().nSectorSize);
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
    const uint32_t nSector = geometry().nSectorSize;
    const uint32_t nPage = geometry().nPageSize;
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
                        check(m_commands.setSectorLength(nSector));
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
    return readRange(entry, m_commands, geometry().nSize, Flash::kBufferSize);
}
