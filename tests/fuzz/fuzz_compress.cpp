// libFuzzer target: the LZRW3-A block compressor and its local decoder.
//
// Every input is
//  1. compressed and expanded again: the expansion must give back the input
//     exactly, and the block must fit compressBound();
//  2. handed to the decoder as a block of its own, into an output area of a
//     size chosen by the first two bytes and allocated at exactly that size,
//     so AddressSanitizer sees any write past it.
#include "Lzrw3a.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void check(bool bCondition, const char *sWhat)
{
    if (!bCondition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", sWhat);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    // The worker compresses blocks of at most 8 KiB; allow a little more.
    if (nSize > 0x10000)
        return 0;
    static std::vector<std::uint8_t> work(lzrw3a::kWorkSize);

    // 1. Round trip.
    {
        const std::uint32_t nLength = std::uint32_t(nSize);
        const std::size_t nBound = lzrw3a::compressBound(nLength);
        std::unique_ptr<std::uint8_t[]> pBlock(new std::uint8_t[nBound]);
        std::uint32_t nBlock = 0;
        check(compressBlock(pData, nLength, work.data(), pBlock.get(), nBound, &nBlock) == 0, "compressBlock failed");
        check(nBlock >= 4 && nBlock <= nLength + 4, "block longer than the verbatim form");
        // Exact-size output area: a decoder that writes one byte too many is
        // caught here.
        std::unique_ptr<std::uint8_t[]> pOut(new std::uint8_t[nSize ? nSize : 1]);
        std::uint32_t nOut = 0xFFFFFFFFu;
        const int nExpand = expandBlock(pBlock.get(), nBlock, work.data(), pOut.get(), nSize, &nOut);
        check(nExpand == lzrw3a::ExpandOk, "own block does not expand");
        check(nOut == nLength && (nSize == 0 || std::memcmp(pOut.get(), pData, nSize) == 0),
              "round trip changed the data");
        // The same block again: the compressor starts from a fresh table.
        std::unique_ptr<std::uint8_t[]> pAgain(new std::uint8_t[nBound]);
        std::uint32_t nAgain = 0;
        check(compressBlock(pData, nLength, work.data(), pAgain.get(), nBound, &nAgain) == 0 && nAgain == nBlock
                  && std::memcmp(pAgain.get(), pBlock.get(), nBlock) == 0,
              "compressBlock not deterministic");
        // Too small an output area is refused without writing.
        if (nBound > 0) {
            std::uint32_t nDummy = 0;
            check(compressBlock(pData, nLength, work.data(), pAgain.get(), nBound - 1, &nDummy) == -1,
                  "compressBlock accepted less than compressBound");
        }
    }

    // 2. Arbitrary bytes into the decoder.
    if (nSize >= 2) {
        const std::size_t nCapacity = std::size_t(pData[0]) | std::size_t(pData[1]) << 8;
        std::unique_ptr<std::uint8_t[]> pOut(new std::uint8_t[nCapacity ? nCapacity : 1]);
        std::uint32_t nOut = 0;
        const int nExpand = expandBlock(pData + 2, nSize - 2, work.data(), pOut.get(), nCapacity, &nOut);
        check(nExpand <= 0 && nExpand >= lzrw3a::ExpandBadArgument, "unknown expandBlock result");
        if (nExpand == lzrw3a::ExpandOk) {
            check(nOut <= nCapacity, "expanded length beyond the capacity");
            // A block that expands cleanly compresses back to something that
            // expands to the same bytes.
            std::vector<std::uint8_t> again(lzrw3a::compressBound(nOut));
            std::uint32_t nAgain = 0;
            check(compressBlock(pOut.get(), nOut, work.data(), again.data(), again.size(), &nAgain) == 0,
                  "compressBlock failed on decoded data");
            std::vector<std::uint8_t> back(nOut ? nOut : 1);
            std::uint32_t nBack = 0;
            check(expandBlock(again.data(), nAgain, work.data(), back.data(), nOut, &nBack) == lzrw3a::ExpandOk
                      && nBack == nOut && (nOut == 0 || std::memcmp(back.data(), pOut.get(), nOut) == 0),
                  "decoded data does not round-trip");
        }
    }
    return 0;
}
