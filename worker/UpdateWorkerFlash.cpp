// Flash jobs of the worker: geometry query, device selection, Erase, Program
// and Read, all through the drive's flash command, status and data objects.

#include "UpdateWorker.h"

#include "CountingSerial.h"
#include "HexConv.h"
#include "ImageFile.h"
#include "Lzrw3a.h"
#include "MonitorObjects.h"

#include <QFileInfo>
#include <cstring>
#include <memory>
#include <vector>

using namespace MonitorObjects;

namespace {

const uint32_t kPackedSize = 16384;   // compressed-data buffer
static_assert(kPackedSize >= lzrw3a::compressBound(Flash::kBufferSize), "compressed-data buffer too small");
const uint32_t kEraseTimeoutMs = 3100;
const uint32_t kProgramTimeoutMs = 900;

// FlashInfo positions
enum { RegionCount = 0, DeviceSize = 1, PageSize = 3, RegionSize = 5, SectorSize = 7 };

int percent(uint64_t nDone, uint64_t nTotal)
{
    return nTotal == 0 ? 100 : int(nDone * 100 / nTotal);
}

} // namespace

int UpdateWorker::runFlashJob(PgmEntry &entry)
{
    int nResult = queryFlashInfo();
    if (nResult != 0)
        return nResult;
    nResult = selectFlashDevice(entry.nMemory == Flash0 ? 0 : 1);
    if (nResult != 0)
        return nResult;
    switch (entry.nOperation) {
    case Program:
        return programFlash(entry);
    case Read:
        return readFlash(entry);
    case Erase:
        return eraseFlash(entry);
    default:
        return 0;
    }
}

int UpdateWorker::queryFlashInfo()
{
    enterPhase(JobPhase::Query);
    emit ProgressState(tr("Query flash information"));
    emit ProgressValue(0);
    try {
        check(link.writeU32(Flash::kCommand, kCommandSub, Flash::kDeviceInfo));
        for (uint8_t i = 0; i < Flash::kStatusCount; ++i)
            check(readStatus(Flash::kStatus, uint8_t(i + 1), FlashInfo[i]));
        if (JobStats *pJob = currentJob()) {
            pJob->geometry.nSize = FlashInfo[DeviceSize];
            pJob->geometry.nPageSize = FlashInfo[PageSize];
        }
        if (FlashInfo[RegionCount] != 1) {
            critical(tr("EPCS Info"), tr("Multiple regions not supported"), WorkerFailure::MultipleRegions);
            return -1;
        }
        check(writeParam(Flash::kCommand, kParam2Sub, 0));
        check(link.writeU32(Flash::kCommand, kCommandSub, Flash::kRegionInfo));
        for (uint8_t i = 0; i < Flash::kStatusCount; ++i)
            check(readStatus(Flash::kStatus, uint8_t(i + 1), FlashInfo[4 + i]));
        if (JobStats *pJob = currentJob()) {
            pJob->geometry.nRegionSize = FlashInfo[RegionSize];
            pJob->geometry.nSectorSize = FlashInfo[SectorSize];
        }
    } catch (int nCode) {
        critical(tr("EPCS Info"), codeText(nCode), WorkerFailure::Communication, nCode);
        return -1;
    }
    return 0;
}

int UpdateWorker::selectFlashDevice(int nDevice)
{
    enterPhase(JobPhase::Select);
    emit ProgressState(tr("Select flash device"));
    emit ProgressValue(0);
    try {
        check(writeParam(Flash::kCommand, kParam2Sub, uint32_t(nDevice)));
        check(link.writeU32(Flash::kCommand, kCommandSub, Flash::kSelect));
    } catch (int nCode) {
        critical(tr("EPCS select device"), codeText(nCode), WorkerFailure::Communication, nCode);
        return -1;
    }
    return 0;
}

// Examines each sector of [nStart, nStart + nLength) and erases only those the
// drive reports as not blank. Throws like every service step.
void UpdateWorker::eraseSectors(uint32_t nStart, uint32_t nLength)
{
    const uint32_t nSector = FlashInfo[SectorSize];
    JobStats *pJob = currentJob();
    check(link.setTimeout(kEraseTimeoutMs));
    check(writeParam(Flash::kCommand, kParam3Sub, nSector));
    uint32_t nAddress = nStart;
    uint32_t nRemain = nLength;
    while (nRemain > 0) {
        check(writeParam(Flash::kCommand, kParam2Sub, nAddress));
        check(link.writeU32(Flash::kCommand, kCommandSub, Flash::kCheckErase));
        uint32_t nStatus = 0;
        check(readStatus(Flash::kStatus, 1, nStatus));
        if (pJob)
            ++pJob->nSectorsChecked;
        if (nStatus != 0) {
            // A cancel that came during the connection or the check must
            // not be followed by a single erase.
            checkCancel();
            check(link.writeU32(Flash::kCommand, kCommandSub, Flash::kEraseSector));
            if (pJob)
                ++pJob->nSectorsErased;
        }
        nAddress += nSector;
        nRemain -= nSector;
        emit ProgressValue(percent(nLength - nRemain, nLength));
        checkCancel();
    }
}

int UpdateWorker::eraseFlash(PgmEntry &entry)
{
    enterPhase(JobPhase::Erase);
    emit ProgressState(tr("Erase Flash"));
    emit ProgressStep();
    emit ProgressValue(0);

    const uint32_t nDeviceSize = FlashInfo[DeviceSize];
    const uint32_t nSector = FlashInfo[SectorSize];
    const int64_t nOffset = entry.nOffset;
    const int64_t nLength = entry.nLength < 0 ? int64_t(nDeviceSize) : int64_t(entry.nLength);
    if (nOffset < 0 || nOffset + nLength > int64_t(nDeviceSize)) {
        critical(tr("Flash erase"), tr("Offset/length exceeds flash address range!"), WorkerFailure::Range);
        return -1;
    }
    // A drive answering a sector size of 0 would make every range "aligned"
    // and the loop endless; refuse it with the same message.
    if (nSector == 0 || nOffset % nSector != 0 || nLength % nSector != 0) {
        critical(tr("Flash erase"),
                 tr("Offset and size must be a multiple of %1 (0x%2)").arg(nSector).arg(nSector, 0, 16),
                 WorkerFailure::Alignment);
        return -1;
    }

    try {
        eraseSectors(uint32_t(nOffset), uint32_t(nLength));
    } catch (int nCode) {
        return failed(tr("Erase flash"), nCode, tr("Erase failed!"), true);
    } catch (const QString &sText) {
        return failed(tr("Erase flash"), sText, tr("Erase failed!"), true);
    }
    link.restoreDefaultTimeout();
    emit ProgressState(tr("Erase finished"));
    return 0;
}

// Fills the drive's transfer buffer with one data block, compressed (and
// expanded there) where that pays. Throws like every service step.
void UpdateWorker::sendBlock(const uint8_t *pBlock, uint32_t nLength, bool bCompress,
                             uint8_t *pPacked, uint8_t *pWork, uint8_t *pExpanded)
{
    JobStats *pJob = currentJob();
    uint32_t nPacked = nLength;
    if (bCompress && m_pCompressor(pBlock, nLength, pWork, pPacked, kPackedSize, &nPacked) != 0)
        nPacked = nLength;   // not compressible here: send it raw

    bool bSendPacked = nPacked < nLength * 80 / 100;
    if (bSendPacked) {
        // The drive verifies the flash against its own expansion of the block,
        // so a faulty compressed form would pass its verify. Expand it here
        // first and send the block raw when it does not come back exactly.
        uint32_t nExpanded = 0;
        if (expandBlock(pPacked, nPacked, pWork, pExpanded, Flash::kBufferSize, &nExpanded) != lzrw3a::ExpandOk
            || nExpanded != nLength || std::memcmp(pExpanded, pBlock, nLength) != 0) {
            bSendPacked = false;
            if (pJob)
                ++pJob->nBlocksExpandMismatch;
        }
    }

    if (bSendPacked) {
        const uint32_t nPieces = (nPacked + kPieceSize - 1) / kPieceSize;
        for (uint32_t k = 0; k < nPieces; ++k)
            check(writePiece(Flash::kData, uint8_t(k + 1), pPacked + k * kPieceSize, int(kPieceSize)));
        check(writeParam(Flash::kCommand, kParam2Sub, nPacked));
        check(writeParam(Flash::kCommand, kParam3Sub, nLength));
        check(link.writeU32(Flash::kCommand, kCommandSub, Flash::kDecompress));
        uint32_t nStatus = 0;
        check(readStatus(Flash::kStatus, 1, nStatus));
        if (nStatus != 0)
            raise(WorkerFailure::TransferBlock, tr("Transfer data block failed!"));
        if (pJob)
            ++pJob->nBlocksCompressed;
    } else {
        const uint32_t nPieces = nLength / kPieceSize;
        for (uint32_t k = 0; k < nPieces; ++k)
            check(writePiece(Flash::kData, uint8_t(k + 1), pBlock + k * kPieceSize, int(kPieceSize)));
        if (pJob)
            ++pJob->nBlocksRaw;
    }
}

int UpdateWorker::programFlash(PgmEntry &entry)
{
    const QString sFile = entry.sImage;
    const uint32_t nRegionSize = FlashInfo[RegionSize];
    const uint32_t nSector = FlashInfo[SectorSize];
    const uint32_t nPage = FlashInfo[PageSize];

    ImageFile file(sFile);
    if (file.status() != ImageFile::Ok) {
        critical(tr("Examine flash file"), tr("Cannot determine type of flash file %1").arg(sFile),
                 WorkerFailure::FileType);
        return -1;
    }
    // The block arithmetic below needs sectors and pages the drive can
    // actually handle; a drive reporting otherwise gets no request at all.
    if (nRegionSize == 0 || nSector == 0 || nPage == 0 || nPage % kPieceSize != 0
        || nRegionSize % nPage != 0) {
        critical(tr("Examine flash file"),
                 tr("Unsupported flash geometry: region size %1, sector size %2, page size %3")
                     .arg(nRegionSize).arg(nSector).arg(nPage),
                 WorkerFailure::Geometry);
        return -1;
    }
    std::vector<uint8_t> packed(kPackedSize);
    std::vector<uint8_t> work(lzrw3a::kWorkSize);
    std::vector<uint8_t> expanded(Flash::kBufferSize);

    emit ProgressFile(QFileInfo(sFile).baseName());
    enterPhase(JobPhase::ReadFile);
    emit ProgressState(QStringLiteral("Reading flash file"));
    emit ProgressStep();
    emit ProgressValue(0);

    const bool bLoaded = file.load(0, nRegionSize - 1);
    file.printMessages();
    if (!bLoaded) {
        critical(tr("Reading flash file"), tr("Cannot read flash file %1").arg(sFile), WorkerFailure::FileRead);
        return -1;
    }
    // Records outside the flash would be dropped by the converter without a
    // word, and the run would report success for a partly written image.
    if (file.count().nAbove > 0) {
        critical(tr("Reading flash file"),
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
        critical(tr("Reading flash file"), tr("Flash file %1 holds no data for this flash device").arg(sFile),
                 WorkerFailure::NoData);
        return -1;
    }

    // Erase phase: only the sectors the image's used range touches.
    {
        const uint32_t nStart = nSector * (nLow / nSector);
        const uint64_t nLength = uint64_t(nSector) * ((nHigh - nStart) / nSector + 1);
        enterPhase(JobPhase::Erase);
        emit ProgressState(tr("Erase flash"));
        try {
            eraseSectors(nStart, uint32_t(nLength));
        } catch (int nCode) {
            critical(tr("Erase flash"), codeText(nCode), WorkerFailure::Communication, nCode);
            return -1;
        } catch (const QString &sText) {
            critical(tr("Erase flash"), sText, m_eRaised);
            return -1;
        }
    }

    // Program phase.
    link.restoreDefaultTimeout();
    enterPhase(JobPhase::Program);
    emit ProgressState(tr("Program flash"));
    emit ProgressStep();
    emit ProgressValue(0);
    JobStats *pJob = currentJob();
    try {
        uint32_t nAddress = nPage * (nLow / nPage);
        const uint32_t nTotal = nPage * ((nHigh - nAddress) / nPage + 1);
        check(link.setTimeout(kProgramTimeoutMs));
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
                if (pJob)
                    ++pJob->nBlocksSkipped;
            } else {
                sendBlock(pBlock, n, entry.bCompress, packed.data(), work.data(), expanded.data());
                check(writeParam(Flash::kCommand, kParam2Sub, nAddress));
                check(writeParam(Flash::kCommand, kParam3Sub, n));
                checkCancel();
                check(link.writeU32(Flash::kCommand, kCommandSub, Flash::kProgram));
                check(link.writeU32(Flash::kCommand, kCommandSub, Flash::kVerify));
                uint32_t nStatus = 0;
                check(readStatus(Flash::kStatus, 1, nStatus));
                if (nStatus != 0)
                    raise(WorkerFailure::VerifyAfterWrite, tr("Verify after write failed!"));
                if (pJob)
                    pJob->nImageBytes += n;
            }
            nAddress += n;
            nRemain -= qMin(n, nRemain);
            emit ProgressValue(percent(nTotal - nRemain, nTotal));
            checkCancel();
        }
    } catch (int nCode) {
        return failed(tr("Program flash"), nCode, tr("Update failed!"), true);
    } catch (const QString &sText) {
        return failed(tr("Program flash"), sText, tr("Update failed!"), true);
    }
    link.restoreDefaultTimeout();
    emit ProgressState(tr("Update finished"));
    return 0;
}

int UpdateWorker::readFlash(PgmEntry &entry)
{
    enterPhase(JobPhase::Read);
    emit ProgressState(tr("Read Flash"));
    emit ProgressStep();
    emit ProgressValue(0);

    const uint32_t nDeviceSize = FlashInfo[DeviceSize];
    const int64_t nOffset = entry.nOffset;
    const int64_t nLength = entry.nLength < 0 ? int64_t(nDeviceSize) : int64_t(entry.nLength);
    // An empty range has no address window to save; refuse it like one
    // outside the device.
    if (nOffset < 0 || nLength == 0 || nOffset + nLength > int64_t(nDeviceSize)) {
        critical(tr("Flash read"), tr("Offset/length exceeds flash address range!"), WorkerFailure::Range);
        return -1;
    }

    std::unique_ptr<HexConv> image = HexConv::create(HexConv::FileTypeSRecord, uint32_t(nOffset),
                                                     uint32_t(nOffset + nLength - 1));
    if (!image) {
        critical(tr("Flash read"), tr("Offset/length exceeds flash address range!"), WorkerFailure::Range);
        return -1;
    }
    std::vector<uint8_t> block(Flash::kBufferSize);
    JobStats *pJob = currentJob();
    try {
        uint32_t nAddress = uint32_t(nOffset);
        uint32_t nRemain = uint32_t(nLength);
        uint32_t nPrevious = 0;
        while (nRemain > 0) {
            const uint32_t n = qMin(nRemain, Flash::kBufferSize);
            check(writeParam(Flash::kCommand, kParam2Sub, nAddress));
            if (n != nPrevious)
                check(writeParam(Flash::kCommand, kParam3Sub, n));
            nPrevious = n;
            check(link.writeU32(Flash::kCommand, kCommandSub, Flash::kRead));
            const uint32_t nPieces = (n + kPieceSize - 1) / kPieceSize;
            for (uint32_t k = 0; k < nPieces; ++k)
                check(readPiece(Flash::kData, uint8_t(k + 1), block.data() + k * kPieceSize, int(kPieceSize)));
            std::memcpy(image->buffer() + (nAddress - uint32_t(nOffset)), block.data(), n);
            nAddress += n;
            nRemain -= n;
            if (pJob)
                pJob->nImageBytes += n;
            emit ProgressValue(percent(uint64_t(nLength) - nRemain, uint64_t(nLength)));
            checkCancel();
        }
    } catch (int nCode) {
        return failed(tr("Flash read"), nCode, tr("Reading flash failed!"));
    } catch (const QString &sText) {
        return failed(tr("Flash read"), sText, tr("Reading flash failed!"));
    }

    if (image->save(entry.sImage, true) != 0) {
        critical(tr("Flash read"), tr("Writing to file %1 failed!").arg(entry.sImage), WorkerFailure::OutputWrite);
    }
    emit ProgressState(tr("Reading flash finished"));
    return 0;
}
