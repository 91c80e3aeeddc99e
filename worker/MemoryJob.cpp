#include "MemoryJob.h"

#include "HexConvSRec.h"
#include "ImageFile.h"
#include "MonitorCommands.h"
#include "OutputFile.h"

#include <QFileInfo>
#include <memory>

namespace {

constexpr auto check = &WorkerSession::check;

} // namespace

MemoryJob::MemoryJob(WorkerSession &session, Wording wording)
    : m_session(session), m_events(session.events()), m_wording(wording)
{
}

MemoryJob::Texts MemoryJob::texts() const
{
    // The fields of Texts in order, as the flash job and as the EEPROM job
    // say them; the third is the state of reading the file, shown untranslated.
    static const char *const kTexts[][2] = {
        {QT_TR_NOOP("Examine flash file"), QT_TR_NOOP("Examine data file")},
        {QT_TR_NOOP("Cannot determine type of flash file %1"), QT_TR_NOOP("Cannot determine type of data file %1")},
        {QT_TR_NOOP("Reading flash file"), QT_TR_NOOP("Reading data file")},
        {QT_TR_NOOP("Cannot read flash file %1"), QT_TR_NOOP("Cannot read data file %1")},
        {QT_TR_NOOP("Flash file %1 holds no data for this flash device"),
         QT_TR_NOOP("Data file %1 holds no data for this EEPROM range")},
        {QT_TR_NOOP("Flash read"), QT_TR_NOOP("EEPROM read")},
        {QT_TR_NOOP("Read Flash"), QT_TR_NOOP("Read EEPROM")},
        {QT_TR_NOOP("Reading flash failed!"), QT_TR_NOOP("Reading EEPROM failed!")},
        {QT_TR_NOOP("Reading flash finished"), QT_TR_NOOP("Reading EEPROM finished")},
        {QT_TR_NOOP("Offset/length exceeds flash address range!"), QT_TR_NOOP("Offset/length exceeds EEPROM address range!")}};
    const int nColumn = m_wording == Wording::Flash ? 0 : 1;
    const auto text = [&](int nRow) { return tr(kTexts[nRow][nColumn]); };
    return {text(0), text(1), QString::fromLatin1(kTexts[2][nColumn]), text(2), text(3), text(4),
            text(5), text(6), text(7), text(8), text(9)};
}

int MemoryJob::run(PgmEntry &entry)
{
    int nResult = queryInfo();
    if (nResult == 0)
        nResult = selectDevice(entry.nMemory == Flash0 || entry.nMemory == Eeprom0 ? 0 : 1);
    if (nResult != 0)
        return nResult;
    switch (entry.nOperation) {
    case Program: return programMemory(entry);
    case Read: return readMemory(entry);
    case Erase: return eraseMemory(entry);
    default: return 0;
    }
}

bool MemoryJob::examineImage(const ImageFile &file)
{
    const Texts texts = this->texts();
    if (file.status() == ImageFile::Ok)
        return true;
    m_session.critical(texts.sExamineTitle, texts.sUnknownType.arg(file.path()), WorkerFailure::FileType);
    return false;
}

HexConv *MemoryJob::readImage(ImageFile &file, const PgmEntry &entry, bool bStep, const std::function<bool()> &load,
                              const std::function<QString()> &beyond)
{
    const Texts texts = this->texts();
    m_events.file(QFileInfo(file.path()).baseName());
    m_session.begin(JobPhase::ReadFile, texts.sReadingState, bStep);
    const bool bLoaded = load();
    file.printMessages();
    m_session.job().imageMessages = file.messageLines();
    const QString &sTitle = texts.sReadingTitle;
    if (!bLoaded) {
        m_session.critical(sTitle, texts.sCannotRead.arg(file.path()), WorkerFailure::FileRead);
        return nullptr;
    }
    // Records outside the memory would be dropped by the converter without
    // a word, and the run would report success for a partly written image.
    const QString sBeyond = beyond();
    if (!sBeyond.isEmpty()) {
        m_session.critical(sTitle, sBeyond, WorkerFailure::DataOutside);
        return nullptr;
    }
    // Without a byte inside, a flash would be "programmed" as one page at
    // address 0 and an EEPROM filled with FF: a drive's parameters lost.
    if (!file.converter()->hasData()) {
        m_session.critical(sTitle, texts.sNoData.arg(file.path()), WorkerFailure::NoData);
        return nullptr;
    }
    // A file cut short is refused unless the job allows it; data after the
    // point where its reading stopped were not read, and are refused always.
    if (!file.isComplete() && !(entry.bAllowIncomplete && file.completeness() != HexConv::DataNotRead)) {
        m_session.critical(sTitle, tr("Image file %1 is incomplete: %2").arg(file.path(), file.incompleteReason()),
                           WorkerFailure::Incomplete);
        return nullptr;
    }
    return file.converter();
}

int MemoryJob::readRange(PgmEntry &entry, MemoryCommands &commands, uint32_t nSize, uint32_t nBlock)
{
    const Texts texts = this->texts();
    m_session.begin(JobPhase::Read, texts.sReadState, true);
    uint32_t nOffset = 0, nLength = 0;
    // An empty range has no address window to save; refuse it like one
    // outside the memory.
    if (!memoryRange(entry, nSize, nOffset, nLength) || nLength == 0) {
        m_session.critical(texts.sReadTitle, texts.sRange, WorkerFailure::Range);
        return -1;
    }
    auto image = std::make_unique<HexConvSRec>(nOffset, nOffset + nLength - 1);
    if (!image->isAllocated()) {
        m_session.critical(texts.sReadTitle, texts.sRange, WorkerFailure::Range);
        return -1;
    }
    // The drive keeps the block length from one block to the next.
    uint32_t nLengthHeld = 0;
    const int nResult = m_session.guard(texts.sReadTitle, texts.sReadFailed, false, [&] {
        forEachBlock(nOffset, nLength, nBlock, [&](uint32_t nAddress, uint32_t n) {
            check(commands.readBlock(nAddress, n, image->buffer() + (nAddress - nOffset), &nLengthHeld));
            m_session.job().nImageBytes += n;
        });
    });
    if (nResult != 0)
        return nResult;
    saveReadBack(*image, entry.sImage, texts.sReadTitle);
    m_events.state(texts.sReadDone);
    return 0;
}

void MemoryJob::forEachBlock(uint32_t nOffset, uint32_t nLength, uint32_t nBlock,
                             const std::function<void(uint32_t nAddress, uint32_t n)> &body)
{
    uint32_t nAddress = nOffset;
    uint32_t nRemain = nLength;
    while (nRemain > 0) {
        const uint32_t n = qMin(nRemain, nBlock);
        body(nAddress, n);
        nAddress += n;
        nRemain -= n;
        m_events.value(WorkerSession::percent(nLength - nRemain, nLength));
        m_session.checkCancel();
    }
}

void MemoryJob::saveReadBack(HexConvSRec &image, const QString &sFile, const QString &sTitle)
{
    // A regular file appears complete or not at all; a device or a FIFO is
    // written directly.
    OutputFile file(sFile, OutputFile::Replace, true);
    if (image.save(file, true) == 0)
        return;
    const QString sProblem = file.problem();
    m_session.critical(sTitle,
                       tr("Writing to file %1 failed!").arg(sFile) + (sProblem.isEmpty() ? QString() : '\n' + sProblem),
                       WorkerFailure::OutputWrite);
}
