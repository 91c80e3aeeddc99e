#include "FuzzImageReader.h"

#include "FuzzInputFile.h"
#include "HexConv.h"
#include "HexConvIHex.h"
#include "HexConvSRec.h"
#include "ImageFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fuzzimage {

namespace {

[[noreturn]] void fail(const char *sWhat)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", sWhat);
    std::abort();
}

void check(bool bCondition, const char *sWhat)
{
    if (!bCondition)
        fail(sWhat);
}

constexpr quint32 kWindowSize = 0x10000;

// Whether nLength bytes at p are all 0xFF (the fill of a fresh window).
bool allErased(const quint8 *p, quint64 nLength)
{
    static const QByteArray erased(int(kWindowSize), char(0xFF));
    Q_ASSERT(nLength <= kWindowSize);
    return nLength == 0 || std::memcmp(p, erased.constData(), size_t(nLength)) == 0;
}

std::unique_ptr<HexConv> makeConverter(Format eFormat, quint32 nBase, quint32 nEnd)
{
    if (eFormat == Format::IntelHex)
        return std::make_unique<HexConvIHex>(nBase, nEnd);
    return std::make_unique<HexConvSRec>(nBase, nEnd);
}

// Loads the scratch file into one window and checks what the converter says
// about it. Returns the load result.
int loadInto(HexConv &conv, const QString &sPath, const HexConv::Extent *pExtent)
{
    check(conv.isAllocated(), "window not allocated");
    const int nResult = conv.load(sPath);
    check(nResult == 0 || nResult == -1, "load returned neither 0 nor -1");
    if (conv.hasData()) {
        check(conv.lowestAddress() <= conv.highestAddress(), "lowest above highest");
        check(conv.lowestAddress() >= conv.baseAddress(), "lowest below the window");
        check(conv.highestAddress() <= conv.endAddress(), "highest above the window");
        // Nothing outside the used range changed.
        const quint64 nLow = conv.lowestAddress() - conv.baseAddress();
        const quint64 nHigh = conv.highestAddress() - conv.baseAddress();
        check(allErased(conv.constBuffer(), nLow), "byte below the used range changed");
        check(allErased(conv.constBuffer() + nHigh + 1, conv.windowSize() - nHigh - 1),
              "byte above the used range changed");
        if (nResult == 0 && pExtent) {
            // Data stored by a successful load lies inside the file's extent.
            check(pExtent->bHasData, "load stored data the extent scan did not see");
            check(pExtent->nLowest <= conv.lowestAddress(), "data below the scanned extent");
            check(pExtent->nHighest >= conv.highestAddress(), "data above the scanned extent");
        }
    } else {
        check(allErased(conv.constBuffer(), conv.windowSize()), "byte changed without data");
    }
    return nResult;
}

} // namespace

void runOne(Format eFormat, const std::uint8_t *pData, std::size_t nSize)
{
    static const QString sInput = fuzzinput::scratchPath(eFormat == Format::IntelHex ? "in.hex" : "in.srec");
    static const QString sSaved = fuzzinput::scratchPath("saved.srec");
    if (!fuzzinput::writeScratch(sInput, pData, nSize))
        fail("cannot write the scratch file");

    // File type by content, from memory and from the file: the same answer.
    const HexConv::FileType eType = HexConv::fileTypeOf(reinterpret_cast<const char *>(pData), qint64(nSize));
    ImageFile image(sInput);
    check(image.type() == eType, "ImageFile and fileTypeOf disagree");

    const bool bScan = image.scan();
    const HexConv::Extent extent = image.extent();
    check(bScan || !image.errorText().isEmpty() || image.status() != ImageFile::Malformed,
          "a malformed file without the reader's message");
    if (bScan && extent.bHasData)
        check(extent.nLowest <= extent.nHighest, "extent lowest above highest");
    const bool bScanUsable =
        bScan && eType == (eFormat == Format::IntelHex ? HexConv::FileTypeIntelHex : HexConv::FileTypeSRecord);

    // Bottom window of 64 KiB.
    std::unique_ptr<HexConv> pLow = makeConverter(eFormat, 0, kWindowSize - 1);
    const int nLoadLow = loadInto(*pLow, sInput, bScanUsable ? &extent : nullptr);

    // Top window of 64 KiB, ending at the last address.
    std::unique_ptr<HexConv> pHigh = makeConverter(eFormat, quint32(0 - kWindowSize), 0xFFFFFFFFu);
    loadInto(*pHigh, sInput, bScanUsable ? &extent : nullptr);

    // A successful load written back as S-records reads back byte for byte.
    if (nLoadLow == 0 && pLow->hasData()) {
        const quint32 nLowest = pLow->lowestAddress();
        const quint32 nHighest = pLow->highestAddress();
        const size_t nUsed = size_t(nHighest - nLowest) + 1;
        HexConvSRec writer(nLowest, nHighest);
        std::memcpy(writer.buffer(), pLow->constBuffer() + nLowest, nUsed);
        writer.rescan(0xFF);
        check(writer.save(sSaved, false) == 0, "save of a loaded window failed");
        HexConvSRec reader(nLowest, nHighest);
        check(reader.load(sSaved) == 0, "reload of a saved window failed");
        check(std::memcmp(reader.constBuffer(), pLow->constBuffer() + nLowest, nUsed) == 0,
              "saved and reloaded window differs");
    }
}
} // namespace fuzzimage
