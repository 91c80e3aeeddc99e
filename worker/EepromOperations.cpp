// EEPROM jobs of the worker: size query, device selection, Erase, Write and
// Read in blocks of the drive's 256-byte EEPROM transfer buffer.

#include "EepromOperations.h"

#include "HexConv.h"
#include "ImageFile.h"
#include "MonitorObjects.h"

#include <cstring>

using namespace MonitorObjects;

namespace {

constexpr auto check = &WorkerSession::check;

} // namespace

EepromOperations::EepromOperations(WorkerSession &session, int32_t &nEepromSize)
    : MemoryJob(session, Wording::Eeprom), m_commands(session), m_nEepromSize(nEepromSize)
{
}

int EepromOperations::queryEepromInfo()
{
    m_session.begin(JobPhase::Query, tr("Query eeprom information"), false);
    return m_session.guard(tr("EEPROM Info"), QString(), false, [&] {
        uint32_t nSize = 0;
        check(m_commands.info(&nSize, 1));
        m_nEepromSize = int32_t(nSize);
        m_session.job().geometry.nSize = nSize;
    });
}

int EepromOperations::selectEepromDevice(int nDevice)
{
    m_session.begin(JobPhase::Select, tr("Select EEPROM device"), false);
    return m_session.guard(tr("EEPROM select device"), QString(), false,
                           [&] { check(m_commands.select(uint32_t(nDevice))); });
}

bool EepromOperations::eepromRange(const PgmEntry &entry, const QString &sTitle, uint32_t &nOffset, uint32_t &nLength)
{
    if (!memoryRange(entry, size(), nOffset, nLength)) {
        m_session.critical(sTitle, texts().sRange, WorkerFailure::Range);
        return false;
    }
    return true;
}

// Writes the drive's transfer buffer into n EEPROM bytes at nAddress and has
// the drive verify them. The length is sent only when it changed since the
// previous block. Throws like every request inside an operation.
void EepromOperations::writeVerifyEepromBlock(uint32_t nAddress, uint32_t n, uint32_t &nLengthHeld, bool bErase)
{
    check(m_commands.setBlock(nAddress, n, &nLengthHeld));
    // Every write of the EEPROM is preceded by a cancel test, so a cancel
    // at any moment is followed by no further write.
    m_session.checkCancel();
    check(m_commands.write());
    bool bEqual = false;
    check(m_commands.verify(bEqual));
    if (!bEqual && bErase)
        m_session.raise(WorkerFailure::VerifyAfterErase, tr("Verify after erase failed!"));
    if (!bEqual)
        m_session.raise(WorkerFailure::VerifyAfterWrite, tr("Verify after write failed!"));
}

int EepromOperations::eraseEeprom(PgmEntry &entry)
{
    m_session.begin(JobPhase::Erase, tr("Erase EEPROM"), true);
    uint32_t nOffset = 0, nLength = 0;
    if (!eepromRange(entry, tr("EEPROM erase"), nOffset, nLength))
        return -1;

    const int nResult = m_session.guard(tr("EEPROM erase"), tr("Erasing EEPROM failed!"), false, [&] {
        uint8_t blank[Eeprom::kBufferSize];
        std::memset(blank, 0xFF, sizeof blank);
        check(m_commands.writeBuffer(blank, Eeprom::kBufferSize));
        uint32_t nLengthHeld = 0;
        forEachBlock(nOffset, nLength, Eeprom::kBufferSize,
                     [&](uint32_t nAddress, uint32_t n) { writeVerifyEepromBlock(nAddress, n, nLengthHeld, true); });
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

    ImageFile file(entry.sImage);
    if (!examineImage(file))
        return -1;
    // An empty range (an EEPROM of size 0) has no address window, and no
    // file's data would reach the drive.
    if (nLength == 0) {
        m_session.critical(texts().sReadingTitle, texts().sNoData.arg(entry.sImage), WorkerFailure::NoData);
        return -1;
    }
    // Records that reach over an end of the range give the bytes they hold
    // inside it: a write of part of a file writes exactly that part. A range
    // that runs to the end of the EEPROM was not cut by the caller: data
    // beyond that end would be dropped without a word.
    HexConv *image = readImage(
        file, entry, false, [&] { return file.loadRange(nOffset, nOffset + nLength - 1); },
        [&] {
            return entry.nLength >= 0 || file.count().nAbove == 0
                       ? QString()
                       : tr("Data file %1 holds %2 data bytes beyond the end of the EEPROM (0x%3)")
                             .arg(file.path())
                             .arg(file.count().nAbove)
                             .arg(nOffset + nLength - 1, 0, 16);
        });
    if (!image)
        return -1;
    m_events.phase(JobPhase::Write);
    m_events.state(tr("Write EEPROM"));

    uint8_t block[Eeprom::kBufferSize];
    std::memset(block, 0, sizeof block);
    const int nResult = m_session.guard(tr("EEPROM write"), tr("Writing EEPROM failed!"), false, [&] {
        check(m_commands.writeBuffer(block, Eeprom::kBufferSize));
        uint32_t nLengthHeld = 0;
        forEachBlock(nOffset, nLength, Eeprom::kBufferSize, [&](uint32_t nAddress, uint32_t n) {
            std::memcpy(block, image->buffer() + (nAddress - image->baseAddress()), n);
            check(m_commands.writeBuffer(block, n));
            writeVerifyEepromBlock(nAddress, n, nLengthHeld, false);
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
    return readRange(entry, m_commands, size(), Eeprom::kBufferSize);
}
