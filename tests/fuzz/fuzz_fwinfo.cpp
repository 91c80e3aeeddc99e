// libFuzzer target: the firmware-information chain walk over an image held
// in a converter window.
//
// Input layout: bytes 0..3 the window's base address (little-endian), byte
// 4 picks the search start (0: the base, 1: the lowest used address, 2: a
// point past the end, 3: bytes 5..8 as an absolute address), the rest is the
// window content. Windows near the top of the address space make the walk
// meet the 32-bit edge.
#include "FWInfoHex.h"
#include "HexConvSRec.h"

#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool bCondition, const char *sWhat)
{
    if (!bCondition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", sWhat);
        std::abort();
    }
}

quint32 le32(const std::uint8_t *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    if (nSize < 9)
        return 0;
    quint32 nBase = le32(pData);
    const std::uint8_t nMode = pData[4] & 3;
    const quint32 nAbsolute = le32(pData + 5);
    const std::uint8_t *pContent = pData + 9;
    const std::size_t nContent = nSize - 9;
    if (nContent == 0 || nContent > 0x100000)
        return 0;
    // Keep the window inside the address space: a base too high is pulled
    // down so that the window ends exactly at 0xFFFFFFFF.
    if (quint64(nBase) + nContent - 1 > 0xFFFFFFFFu)
        nBase = quint32(0x100000000ull - nContent);
    const quint32 nEnd = quint32(nBase + nContent - 1);

    HexConvSRec conv(nBase, nEnd);
    check(conv.isAllocated(), "window not allocated");
    std::memcpy(conv.buffer(), pContent, nContent);
    conv.rescan(0xFF);

    FWInfoHex info(&conv);
    switch (nMode) {
    case 0: info.setSearchStart(nBase); break;
    case 1: info.setSearchStart(conv.lowestAddress()); break;
    case 2: info.setSearchStart(nEnd - 3); break; // header straddles the end
    default: info.setSearchStart(nAbsolute); break;
    }
    const int nResult = info.loadInfo();
    check(nResult == 0 || nResult == -1 || nResult == -2 || nResult == -3, "unexpected loadInfo result");

    QStringList lines;
    const int nLines = info.infoLines(lines);
    if (nResult == 0) {
        check(info.isValid(), "found block not valid");
        check(nLines == 0 && lines.size() == 5, "valid block without five lines");
        check(info.infoAddress() >= nBase && quint64(info.infoAddress()) + 8 + FWInfo::kInfoSize - 1 <= nEnd,
              "information block outside the window");
        const int aSizes[5] = {16, 16, 16, 40, 16};
        for (int i = 0; i < 5; ++i) {
            check(lines.at(i).size() < aSizes[i], "field longer than its slot");
            for (QChar c : lines.at(i))
                check(c.unicode() >= 0x20 && c.unicode() <= 0x7E, "non-printable character in a field");
        }
    } else if (nResult == -3) {
        check(nLines == -1 && lines.isEmpty(), "invalid block gave lines");
    }
    return 0;
}
