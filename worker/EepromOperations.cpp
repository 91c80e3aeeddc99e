// EEPROM jobs of the worker: size query, device selection, Erase, Write and
// Read in blocks of the drive's 256-byte EEPROM transfer buffer.

#include "EepromOperations.h"

#include "HexConv.h"
#include "HexConvSRec.h"
#include "ImageFile.h"
#include "MonitorObjects.h"
#include "TBootMonitorLink.h"

#include <QFileInfo>
#include <cstring>
#include <functional>
#include <memory>

using namespace MonitorObjects;

namespace {

constexpr auto check = &WorkerSession::check;

} // namespace

EepromOperations::EepromOperations(WorkerSession &session, int32_t &nEepromSize)
    : m_session(session), m_events(session.events()), m_link(session.link()), m_nEepromSize(nEepromSize)
{
}

int EepromOperations::run(PgmEntry &entry)
{
    int nResult = queryEepromInfo();
    if (nResult != 0)
        return nResult;
    nResult = selectEepromDevice(entry.nMemory == Eeprom0 ? 0 : 1);
    if (nResult != 0)
        return nResult;
    switch (entry.nOperation) {
    case Program: return writeEeprom(entry);
    case Read: return readEeprom(entry);
    case Erase: return eraseEeprom(entry);
    default: return 0;
    }
}

int EepromOperations::queryEepromInfo()
{
    m_session.begin(JobPhase::Query, tr("Query eeprom information"), false);
    return m_session.guard(tr("EEPROM Info"), QString(), false, [&] {
        check(m_link.writeU32(Eeprom::kCommand, kCommandSub, Eeprom::kInfo));
        uint32_t nSize = 0;
        check(m_session.readStatus(Eeprom::kStatus, 1, nSize));
        m_nEepromSize = int32_t(nSize);
        m_session.job().geometry.nSize = nSize;
    });
}

int EepromOperations::selectEepromDevice(int nDevice)
{
    m_session.begin(JobPhase::Select, tr("Select EEPROM device"), false);
    return m_session.guard(tr("EEPROM select device"), QString(), false, [&] {
        check(m_session.writeParam(Eeprom::kCommand, kParam2Sub, uint32_t(nDevice)));
        check(m_link.writeU32(Eeprom::kCommand, kCommandSub, Eeprom::kSelect));
    });
}

bool EepromOperations::eepromRange(const PgmEntry &entry, const QString &sTitle, uint32_t &nOffset, uint32_t &nLength)
{
    if (!memoryRange(entry, uint32_t(qMax(m_nEepromSize, 0)), nOffset, nLength)) {
        m_session.critical(sTitle, tr("Offset/length exceeds EEPROM address range!"), WorkerFailure::Range);
        return false;
    }
    return true;
}

// Writes the drive's transfer buffer into n EEPROM bytes at nAddress and has
// the drive verify them. The length parameter is sent only when it changed
// since the previous block. Throws like every request inside an operation.
void EepromOperations::writeVerifyEepromBlock(uint32_t nAddress, uint32_t n, uint32_t &nPrevious, bool bErase)
{
    check(m_session.writeParam(Eeprom::kCommand, kParam2Sub, nAddress));
    if (n != nPrevious)
        check(m_session.writeParam(Eeprom::kCommand, kParam3Sub, n));
    nPrevious = n;
    // Every write of the EEPROM is preceded by a cancel test, so a cancel
    // at any moment is followed by no further write.
    m_session.checkCancel();
    check(m_link.writeU32(Eeprom::kCommand, kCommandSub, Eeprom::kWrite));
    check(m_link.writeU32(Eeprom::kCommand, kCommandSub, Eeprom::kVerify));
    uint32_t nStatus = 0;
    check(m_session.readStatus(Eeprom::kStatus, 1, nStatus));
    if (nStatus != 0 && bErase)
        m_session.raise(WorkerFailure::VerifyAfterErase, tr("Verify after erase failed!"));
    if (nStatus != 0)
        m_session.raise(WorkerFailure::VerifyAfterWrite, tr("Verify after write failed!"));
}

// Runs body for each block of the range (at most one transfer buffer), then
// shows the progress and tests the cancel. Throws like every request.
void EepromOperations::forEachBlock(uint32_t nOffset, uint32_t nLength,
                                    const std::function<void(uint32_t nAddress, uint32_t n)> &body)
{
    uint32_t nAddress = nOffset;
    uint32_t nRemain = nLength;
    while (nRemain > 0) {
        const uint32_t n = qMin(nRemain, Eeprom::kBufferSize);
        body(nAddress, n);
        nAddress += n;
        nRemain -= n;
        m_events.value(WorkerSession::percent(nLength - nRemain, nLength));
        m_session.checkCancel();
    }
}

int EepromOperations::eraseEeprom(PgmEntry &entry)
{
    m_session.begin(JobPhase::Erase, tr("Erase EEPROM"), true);
    uint32_t nOffset = 0, nLength = 0;
    if (!eepromRange(entry, tr("EEPROM erase"), nOffset, nLength))
        return -1;

    const int nResult = m_session.guard(tr("EEPROM erase"), tr("Erasing EEPROM failed!"), false, [&] {
        uint8_t blank[kPieceSize];
        std::memset(blank, 0xFF, sizeof blank);
        check(m_session.writePiece(Eeprom::kData, 1, blank, int(kPieceSize)));
        check(m_session.writePiece(Eeprom::kData, 2, blank, int(kPieceSize)));
        uint32_t nPrevious = 0;
        forEachBlock(nOffset, nLength,
                     [&](uint32_t nAddress, uint32_t n) { writeVerifyEepromBlock(nAddress, n, nPrevious, true); });
    });
    if (nResult != 0)
        return nResult;
    m_events.state(tr("Erasing EEPROM finished"));
    return 0;
}

int EepromOperations::writeEeprom(PgmEntry &entry)
{
    m_events.step();
    m_events.value(0);
    uint32_t nOffset = 0, nLength = 0;
    if (!eepromRange(entry, tr("EEPROM write"), nOffset, nLength))
        return -1;

    const QString sFile = entry.sImage;
    ImageFile file(sFile);
    if (file.status() != ImageFile::Ok) {
        m_session.critical(tr("Examine data file"), tr("Cannot determine type of data file %1").arg(sFile),
                           WorkerFailure::FileType);
        return -1;
    }
    // An empty range (an EEPROM of size 0) has no address window, and no
    // file's data would reach the drive.
    if (nLength == 0) {
        m_session.critical(tr("Reading data file"), tr("Data file %1 holds no data for this EEPROM range").arg(sFile),
                           WorkerFailure::NoData);
        return -1;
    }
    uint8_t block[Eeprom::kBufferSize];
    std::memset(block, 0, sizeof block);

    m_events.file(QFileInfo(sFile).baseName());
    m_session.begin(JobPhase::ReadFile, QStringLiteral("Reading data file"), false);
    // Records that reach over an end of the range give the bytes they hold
    // inside it: a write of part of a file writes exactly that part.
    const bool bLoaded = file.loadRange(nOffset, nOffset + nLength - 1);
    file.printMessages();
    if (!bLoaded) {
        m_session.critical(tr("Reading data file"), tr("Cannot read data file %1").arg(sFile), WorkerFailure::FileRead);
        return -1;
    }
    // A range that runs to the end of the EEPROM was not cut by the caller:
    // data beyond that end would be dropped without a word.
    if (entry.nLength < 0 && file.count().nAbove > 0) {
        m_session.critical(tr("Reading data file"),
                           tr("Data file %1 holds %2 data bytes beyond the end of the EEPROM (0x%3)")
                               .arg(sFile)
                               .arg(file.count().nAbove)
                               .arg(nOffset + nLength - 1, 0, 16),
                           WorkerFailure::DataOutside);
        return -1;
    }
    // Without a byte inside the range the EEPROM would be filled with FF: a
    // drive's parameters lost to a wrong file.
    HexConv *image = file.converter();
    if (!image->hasData()) {
        m_session.critical(tr("Reading data file"), tr("Data file %1 holds no data for this EEPROM range").arg(sFile),
                           WorkerFailure::NoData);
        return -1;
    }
    if (!m_session.acceptImage(file, entry, tr("Reading data file")))
        return -1;
    m_events.phase(JobPhase::Write);
    m_events.state(tr("Write EEPROM"));

    const int nResult = m_session.guard(tr("EEPROM write"), tr("Writing EEPROM failed!"), false, [&] {
        check(m_session.writePiece(Eeprom::kData, 1, block, int(kPieceSize)));
        check(m_session.writePiece(Eeprom::kData, 2, block, int(kPieceSize)));
        uint32_t nPrevious = 0;
        forEachBlock(nOffset, nLength, [&](uint32_t nAddress, uint32_t n) {
            std::memcpy(block, image->buffer() + (nAddress - image->baseAddress()), n);
            check(m_session.writePiece(Eeprom::kData, 1, block, int(kPieceSize)));
            if (n > kPieceSize)
                check(m_session.writePiece(Eeprom::kData, 2, block + kPieceSize, int(kPieceSize)));
            writeVerifyEepromBlock(nAddress, n, nPrevious, false);
            m_session.job().nImageBytes += n;
        });
    });
    if (nResult != 0)
        return nResult;
    m_events.state(tr("Writing EEPROM finished"));
    return 0;
}

int EepromOperations::readEeprom(PgmEntry &entry)
{
    m_session.begin(JobPhase::Read, tr("Read EEPROM"), true);
    uint32_t nOffset = 0, nLength = 0;
    if (!eepromRange(entry, tr("EEPROM read"), nOffset, nLength))
        return -1;
    // An empty range has no address window to save.
    if (nLength == 0) {
        m_session.critical(tr("EEPROM read"), tr("Offset/length exceeds EEPROM address range!"), WorkerFailure::Range);
        return -1;
    }

    auto image = std::make_unique<HexConvSRec>(nOffset, nOffset + nLength - 1);
    if (!image->isAllocated()) {
        m_session.critical(tr("EEPROM read"), tr("Offset/length exceeds EEPROM address range!"), WorkerFailure::Range);
        return -1;
    }
    uint8_t block[Eeprom::kBufferSize];
    std::memset(block, 0, sizeof block);
    const int nResult = m_session.guard(tr("EEPROM read"), tr("Reading EEPROM failed!"), false, [&] {
        uint32_t nPrevious = 0;
        forEachBlock(nOffset, nLength, [&](uint32_t nAddress, uint32_t n) {
            check(m_session.writeParam(Eeprom::kCommand, kParam2Sub, nAddress));
            if (n != nPrevious)
                check(m_session.writeParam(Eeprom::kCommand, kParam3Sub, n));
            nPrevious = n;
            check(m_link.writeU32(Eeprom::kCommand, kCommandSub, Eeprom::kRead));
            check(m_session.readPiece(Eeprom::kData, 1, block, int(kPieceSize)));
            if (n > kPieceSize)
                check(m_session.readPiece(Eeprom::kData, 2, block + kPieceSize, int(kPieceSize)));
            std::memcpy(image->buffer() + (nAddress - nOffset), block, n);
            m_session.job().nImageBytes += n;
        });
    });
    if (nResult != 0)
        return nResult;

    m_session.saveReadBack(*image, entry.sImage, tr("EEPROM read"));
    m_events.state(tr("Reading EEPROM finished"));
    return 0;
}
