// libFuzzer target for one image reader (fuzz_ihex, or fuzz_srec when built
// with FUZZ_SREC): the input, written to a scratch file, is scanned for its
// extent and loaded into two windows, one at the bottom of the address space
// and one ending at 0xFFFFFFFF, so records that run past either edge are
// exercised; a successful load written back as S-records reads back the same.
#include "FuzzCheck.h"
#include "HexConvIHex.h"
#include "HexConvSRec.h"
#include "ImageFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstring>
#include <memory>

namespace {

#ifdef FUZZ_SREC
constexpr HexConv::FileType kType = HexConv::FileTypeSRecord;
#else
constexpr HexConv::FileType kType = HexConv::FileTypeIntelHex;
#endif
constexpr quint32 kWindow = 0x10000;

// The readers take file names. /dev/shm keeps tens of thousands of writes a
// second off the disk; the files go when the process ends normally.
struct Scratch
{
    QString sIn = name("in");
    QString sSaved = name("saved.srec");
    static QString name(const char *sName)
    {
        const QString sDir = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        return sDir + QStringLiteral("/servoprog-fuzz-%1-%2").arg(QCoreApplication::applicationPid()).arg(sName);
    }
    ~Scratch()
    {
        QFile::remove(sIn);
        QFile::remove(sSaved);
    }
};

bool allErased(const quint8 *p, quint64 nLength)
{
    static const QByteArray erased(kWindow, char(0xFF));
    return std::memcmp(p, erased.constData(), size_t(nLength)) == 0;
}

// Loads the file into a window; only the used range may change, and it lies
// inside the window and inside the scanned extent.
int loadInto(HexConv &conv, const QString &sPath, const HexConv::Extent *pExtent)
{
    check(conv.isAllocated(), "window not allocated");
    const int nResult = conv.load(sPath);
    check(nResult == 0 || nResult == -1, "load returned neither 0 nor -1");
    const quint64 nLow = conv.hasData() ? conv.lowestAddress() - conv.baseAddress() : kWindow;
    const quint64 nHigh = conv.hasData() ? conv.highestAddress() - conv.baseAddress() : kWindow - 1;
    check(!conv.hasData() || (conv.lowestAddress() <= conv.highestAddress() && nHigh < kWindow), "bad used range");
    check(allErased(conv.constBuffer(), nLow) && allErased(conv.constBuffer() + nHigh + 1, kWindow - nHigh - 1),
          "a byte outside the used range changed");
    if (nResult == 0 && conv.hasData() && pExtent)
        check(pExtent->bHasData && pExtent->nLowest <= conv.lowestAddress()
                  && pExtent->nHighest >= conv.highestAddress(),
              "data outside the scanned extent");
    return nResult;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    static const Scratch scratch;
    QFile file(scratch.sIn);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
              && file.write(reinterpret_cast<const char *>(pData), qint64(nSize)) == qint64(nSize),
          "cannot write the scratch file");
    file.close();

    // The type by content, from memory and from the file: the same answer.
    const HexConv::FileType eType = HexConv::fileTypeOf(reinterpret_cast<const char *>(pData), qint64(nSize));
    ImageFile image(scratch.sIn);
    check(image.type() == eType, "ImageFile and fileTypeOf disagree");
    const bool bScan = image.scan();
    check(bScan || !image.errorText().isEmpty() || image.status() != ImageFile::Malformed,
          "a malformed file without the reader's message");
    const HexConv::Extent extent = image.extent();
    check(!bScan || !extent.bHasData || extent.nLowest <= extent.nHighest, "extent lowest above highest");
    const HexConv::Extent *pExtent = bScan && eType == kType ? &extent : nullptr;

    std::unique_ptr<HexConv> pLow = HexConv::create(kType, 0, kWindow - 1);
    std::unique_ptr<HexConv> pHigh = HexConv::create(kType, quint32(0 - kWindow), 0xFFFFFFFFu);
    loadInto(*pHigh, scratch.sIn, pExtent);
    if (loadInto(*pLow, scratch.sIn, pExtent) == 0 && pLow->hasData()) {
        const quint32 nLowest = pLow->lowestAddress();
        const size_t nUsed = size_t(pLow->highestAddress() - nLowest) + 1;
        HexConvSRec writer(nLowest, pLow->highestAddress());
        std::memcpy(writer.buffer(), pLow->constBuffer() + nLowest, nUsed);
        check(writer.save(scratch.sSaved, true) == 0, "save of a loaded window failed");
        HexConvSRec reader(nLowest, pLow->highestAddress());
        check(reader.load(scratch.sSaved) == 0
                  && std::memcmp(reader.constBuffer(), pLow->constBuffer() + nLowest, nUsed) == 0,
              "saved window reads back differently");
    }
    return 0;
}
