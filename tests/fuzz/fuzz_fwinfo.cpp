// libFuzzer target: the firmware-information chain walk over an image held
// in a converter window. Bytes 0..3: the window's base (little-endian;
// pulled down so the window ends at 0xFFFFFFFF at the latest, where the walk
// meets the 32-bit edge); byte 4: the search start (0: the base, 1: the
// lowest used address, 2: a header straddling the end, 3: bytes 5..8); the
// rest: the window's content.
#include "FWInfoHex.h"
#include "FuzzCheck.h"
#include "HexConvSRec.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    if (nSize < 10 || nSize - 9 > 0x100000)
        return 0;
    const auto le32 = [](const std::uint8_t *p) {
        return quint32(p[0] | p[1] << 8 | p[2] << 16 | quint32(p[3]) << 24);
    };
    const std::size_t nContent = nSize - 9;
    const quint32 nBase = quint32(qMin<quint64>(le32(pData), 0x100000000ull - nContent));
    const quint32 nEnd = quint32(nBase + nContent - 1);
    HexConvSRec conv(nBase, nEnd);
    check(conv.isAllocated(), "window not allocated");
    std::memcpy(conv.buffer(), pData + 9, nContent);
    conv.rescan(0xFF);

    FWInfoHex info(&conv);
    const quint32 starts[4] = {nBase, conv.lowestAddress(), nEnd - 3, le32(pData + 5)};
    info.setSearchStart(starts[pData[4] & 3]);
    const int nResult = info.loadInfo();
    check(nResult <= 0 && nResult >= -3, "unexpected loadInfo result");
    QStringList lines;
    const int nLines = info.infoLines(lines);
    if (nResult == -3)
        check(nLines == -1 && lines.isEmpty(), "invalid block gave lines");
    if (nResult != 0)
        return 0;
    check(info.isValid() && nLines == 0 && lines.size() == 5, "valid block without five lines");
    check(info.infoAddress() >= nBase && quint64(info.infoAddress()) + 8 + FWInfo::kInfoSize - 1 <= nEnd,
          "information block outside the window");
    for (int i = 0; i < 5; ++i) {
        check(lines.at(i).size() < (i == 3 ? 40 : 16), "field longer than its slot");
        for (QChar c : lines.at(i))
            check(c.unicode() >= 0x20 && c.unicode() <= 0x7E, "non-printable character in a field");
    }
    return 0;
}
