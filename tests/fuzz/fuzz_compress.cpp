// libFuzzer target: the LZRW3-A block compressor and its local decoder.
// Every input is compressed and expanded again (the same bytes, the same
// block on a second call, nothing accepted below compressBound()), and is
// handed to the decoder as a block of its own, into an output area of the
// size its first two bytes say, allocated at exactly that size so that
// AddressSanitizer sees any write past it.
#include "FuzzCheck.h"
#include "Lzrw3a.h"

#include <cstring>
#include <vector>

namespace {

std::vector<std::uint8_t> work(lzrw3a::kWorkSize);

// Compresses and expands into an area of exactly nSize bytes.
void roundTrip(const std::uint8_t *pData, std::uint32_t nSize)
{
    std::vector<std::uint8_t> block(lzrw3a::compressBound(nSize)), again(block.size());
    std::uint32_t nBlock = 0, nAgain = 0, nOut = 0;
    check(compressBlock(pData, nSize, work.data(), block.data(), block.size(), &nBlock) == 0, "compressBlock failed");
    check(nBlock >= 4 && nBlock <= nSize + 4, "block longer than the verbatim form");
    check(compressBlock(pData, nSize, work.data(), again.data(), again.size(), &nAgain) == 0 && nAgain == nBlock
              && std::memcmp(again.data(), block.data(), nBlock) == 0,
          "compressBlock not deterministic");
    check(compressBlock(pData, nSize, work.data(), again.data(), again.size() - 1, &nAgain) == -1,
          "compressBlock accepted less than compressBound");
    std::vector<std::uint8_t> out(nSize ? nSize : 1); // data() of an empty vector may be null
    check(expandBlock(block.data(), nBlock, work.data(), out.data(), nSize, &nOut) == lzrw3a::ExpandOk && nOut == nSize
              && (nSize == 0 || std::memcmp(out.data(), pData, nSize) == 0),
          "round trip changed the data");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    if (nSize > 0x10000) // the worker's blocks are at most 8 KiB
        return 0;
    roundTrip(pData, std::uint32_t(nSize));
    if (nSize >= 2) {
        const std::size_t nCapacity = std::size_t(pData[0]) | std::size_t(pData[1]) << 8;
        std::vector<std::uint8_t> out(nCapacity ? nCapacity : 1);
        std::uint32_t nOut = 0;
        const int nExpand = expandBlock(pData + 2, nSize - 2, work.data(), out.data(), nCapacity, &nOut);
        check(nExpand <= 0 && nExpand >= lzrw3a::ExpandBadArgument, "unknown expandBlock result");
        check(nExpand != lzrw3a::ExpandOk || nOut <= nCapacity, "expanded length beyond the capacity");
        // What expands cleanly compresses and expands back to the same bytes.
        if (nExpand == lzrw3a::ExpandOk)
            roundTrip(out.data(), nOut);
    }
    return 0;
}
