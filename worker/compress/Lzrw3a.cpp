#include "Lzrw3a.h"

#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define LZRW3A_SSE2 1
#endif

namespace {

using std::uint32_t;
using std::uint8_t;

constexpr int kMaxMatch = 18;
constexpr int kMinMatch = 3;
constexpr int kEntries = 4096;
constexpr int kWays = 8;
constexpr int kGroupItems = 16;
// Below this many input bytes left the overrun test runs after every item.
constexpr uint32_t kNearEnd = 288;

// Every table entry points here at the start of a block. The array is padded
// so that word-wise comparisons may read past the 18 bytes that count.
alignas(8) const uint8_t kStartString[24] = {'1', '2', '3', '4', '5', '6', '7', '8', '9',
                                             '0', '1', '2', '3', '4', '5', '6', '7', '8'};

// Table entries hold input positions; this one marks the start string.
constexpr uint32_t kStartEntry = 0xFFFFFFFFu;

inline uint32_t *tableOf(void *pWork)
{
    const std::uintptr_t n = reinterpret_cast<std::uintptr_t>(pWork);
    return reinterpret_cast<uint32_t *>((n + 3) & ~std::uintptr_t(3));
}

// The compressor's table: for each entry the pointer it holds (into the
// input, or at the start string) and, beside it, the first three bytes found
// there. A way can only give a copy item when those three bytes equal the
// input's, so comparing the eight tags of a set at once rules out most ways
// without touching the data.
struct SearchTable
{
    const uint8_t *pEntry[kEntries];
    uint32_t nTag[kEntries];
};

inline SearchTable *searchTableOf(void *pWork)
{
    const std::uintptr_t n = reinterpret_cast<std::uintptr_t>(pWork);
    const std::uintptr_t a = 16;
    return reinterpret_cast<SearchTable *>((n + a - 1) & ~(a - 1));
}

inline uint32_t tagOf(const uint8_t *p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // One load instead of three; every position that gets a tag has at
    // least 18 bytes behind it, and the start string is padded.
    uint32_t n;
    std::memcpy(&n, p, 4);
    return n & 0xFFFFFFu;
#else
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
#endif
}

// Set of the three bytes whose tag is nTag (same hash as setBase()).
inline uint32_t setOfTag(uint32_t nTag)
{
    const uint32_t x = ((nTag & 0xFFu) << 8) ^ (((nTag >> 8) & 0xFFu) << 4) ^ (nTag >> 16);
    return (((40543u * x) >> 4) & 511u) * kWays;
}

// Bit w set when way w of the set starting at nSet has tag nTag.
inline uint32_t tagMatches(const SearchTable *pTable, uint32_t nSet, uint32_t nTag)
{
#ifdef LZRW3A_SSE2
    const __m128i key = _mm_set1_epi32(int(nTag));
    const __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i *>(pTable->nTag + nSet));
    const __m128i hi = _mm_load_si128(reinterpret_cast<const __m128i *>(pTable->nTag + nSet + 4));
    const int nLo = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(lo, key)));
    const int nHi = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(hi, key)));
    return uint32_t(nLo | (nHi << 4));
#else
    uint32_t nMask = 0;
    for (uint32_t w = 0; w < uint32_t(kWays); ++w)
        nMask |= uint32_t(pTable->nTag[nSet + w] == nTag) << w;
    return nMask;
#endif
}

inline void putEntry(SearchTable *pTable, uint32_t e, const uint8_t *p)
{
    pTable->pEntry[e] = p;
    pTable->nTag[e] = tagOf(p);
}

inline void resetTable(uint32_t *pTable)
{
    for (int e = 0; e < kEntries; ++e)
        pTable[e] = kStartEntry;
}

// First entry of the set of the three bytes at p.
inline uint32_t setBase(const uint8_t *p)
{
    const uint32_t x = (uint32_t(p[0]) << 8) ^ (uint32_t(p[1]) << 4) ^ uint32_t(p[2]);
    return (((40543u * x) >> 4) & 511u) * kWays;
}

// Number of equal leading bytes of a and b, at most 18. Reads exactly 18
// bytes of each.
inline int matchLength(const uint8_t *a, const uint8_t *b)
{
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y)
        return __builtin_ctzll(x ^ y) >> 3;
    std::memcpy(&x, a + 8, 8);
    std::memcpy(&y, b + 8, 8);
    if (x != y)
        return 8 + (__builtin_ctzll(x ^ y) >> 3);
    if (a[16] != b[16])
        return 16;
    return a[17] != b[17] ? 17 : 18;
#else
    int n = 0;
    while (n < kMaxMatch && a[n] == b[n])
        ++n;
    return n;
#endif
}

inline int lowestBit(uint32_t n)
{
#if defined(__GNUC__)
    return __builtin_ctz(n);
#else
    int i = 0;
    while (!(n & 1u)) {
        n >>= 1;
        ++i;
    }
    return i;
#endif
}

inline void putVerbatim(const uint8_t *pInput, uint32_t nLength, uint8_t *pOutput, uint32_t *pOutLength)
{
    pOutput[0] = 1;
    pOutput[1] = pOutput[2] = pOutput[3] = 0;
    if (nLength > 0)
        std::memcpy(pOutput + 4, pInput, nLength);
    *pOutLength = nLength + 4;
}

} // namespace

int compressBlock(const uint8_t *pInput, uint32_t nLength, void *pWork, uint8_t *pOutput, std::size_t nOutCapacity,
                  uint32_t *pOutLength)
{
    if ((!pInput && nLength > 0) || !pWork || !pOutput || !pOutLength || nLength > lzrw3a::kMaxInput
        || nOutCapacity < lzrw3a::compressBound(nLength))
        return -1;

    SearchTable *const pTable = searchTableOf(pWork);
    const uint32_t nStartTag = tagOf(kStartString);
    for (int e = 0; e < kEntries; ++e) {
        pTable->pEntry[e] = kStartString;
        pTable->nTag[e] = nStartTag;
    }
    pOutput[0] = pOutput[1] = pOutput[2] = pOutput[3] = 0;
    if (nLength < 6) {
        putVerbatim(pInput, nLength, pOutput, pOutLength);
        return 0;
    }

    const uint8_t *const in = pInput;
    uint8_t *o = pOutput + 4;
    uint32_t p = 0;
    uint32_t nCycle = 0;
    // Set bases of the last two literals whose positions are not yet in the
    // table (P1 the newer one); -1 when empty.
    int nP1 = -1;
    int nP2 = -1;
    // Positions up to here are hashed and searched; later ones are literals.
    const uint32_t nSearchEnd = nLength >= kMaxMatch ? nLength - kMaxMatch : 0;
    const bool bAnySearch = nLength >= kMaxMatch;

    while (p < nLength) {
        uint8_t *const pControl = o;
        o += 2;
        uint32_t nControl = 0;
        int nItem = 0;
        for (; nItem < kGroupItems && p < nLength; ++nItem) {
            if (bAnySearch && p <= nSearchEnd) {
                const uint8_t *const pCur = in + p;
                const uint32_t nCurTag = tagOf(pCur);
                const uint32_t nSet = setOfTag(nCurTag);
                // Ways whose first three bytes agree, lowest way first; the
                // longest run wins, the lower way on equal lengths.
                uint32_t nCandidates = tagMatches(pTable, nSet, nCurTag);
                int nBest = 0;
                int nBestWay = 0;
                while (nCandidates) {
                    const int w = lowestBit(nCandidates);
                    nCandidates &= nCandidates - 1;
                    const uint8_t *const q = pTable->pEntry[nSet + uint32_t(w)];
                    // A candidate that differs at the current best length
                    // cannot be longer.
                    if (nBest > 0 && q[nBest] != pCur[nBest])
                        continue;
                    const int nLen = matchLength(pCur, q);
                    if (nLen > nBest) {
                        nBest = nLen;
                        nBestWay = w;
                        if (nBest == kMaxMatch)
                            break;
                    }
                }
                if (nBest >= kMinMatch) {
                    const uint32_t e = nSet + uint32_t(nBestWay);
                    *o++ = uint8_t(((e & 0xF00u) >> 4) | uint32_t(nBest - kMinMatch));
                    *o++ = uint8_t(e & 0xFFu);
                    nControl |= 1u << nItem;
                    if (nP1 >= 0) {
                        if (nP2 >= 0) {
                            putEntry(pTable, uint32_t(nP2) + nCycle, pCur - 2);
                            nCycle = (nCycle + 1) & 7u;
                        }
                        putEntry(pTable, uint32_t(nP1) + nCycle, pCur - 1);
                        nCycle = (nCycle + 1) & 7u;
                    }
                    putEntry(pTable, nSet + nCycle, pCur);
                    nCycle = (nCycle + 1) & 7u;
                    nP1 = nP2 = -1;
                    p += uint32_t(nBest);
                } else {
                    *o++ = *pCur;
                    if (nP2 >= 0) {
                        putEntry(pTable, uint32_t(nP2) + nCycle, pCur - 2);
                        nCycle = (nCycle + 1) & 7u;
                    }
                    nP2 = nP1;
                    nP1 = int(nSet);
                    ++p;
                }
            } else {
                // Too close to the end for a copy item: no copy can follow,
                // so the table is left alone.
                *o++ = in[p];
                ++p;
            }
            if (nLength - p < kNearEnd && uint32_t(o - pOutput) > nLength) {
                putVerbatim(pInput, nLength, pOutput, pOutLength);
                return 0;
            }
        }
        // Unused bits of a short last group are 1.
        nControl |= (0xFFFFu << nItem) & 0xFFFFu;
        pControl[0] = uint8_t(nControl & 0xFFu);
        pControl[1] = uint8_t(nControl >> 8);
        if (uint32_t(o - pOutput) > nLength) {
            putVerbatim(pInput, nLength, pOutput, pOutLength);
            return 0;
        }
    }
    *pOutLength = uint32_t(o - pOutput);
    return 0;
}

int expandBlock(const uint8_t *pInput, std::size_t nInLength, void *pWork, uint8_t *pOutput, std::size_t nOutCapacity,
                uint32_t *pOutLength)
{
    using namespace lzrw3a;
    if (!pInput || !pWork || !pOutLength || (!pOutput && nOutCapacity > 0))
        return ExpandBadArgument;
    *pOutLength = 0;
    if (nInLength < 4)
        return ExpandTruncated;
    if (pInput[1] != 0 || pInput[2] != 0 || pInput[3] != 0 || pInput[0] > 1)
        return ExpandBadFlag;
    if (pInput[0] == 1) {
        const std::size_t n = nInLength - 4;
        if (n > nOutCapacity || n > kMaxInput)
            return ExpandOverflow;
        if (n > 0)
            std::memcpy(pOutput, pInput + 4, n);
        *pOutLength = uint32_t(n);
        return ExpandOk;
    }
    if (nInLength == 4)
        return ExpandTruncated;

    uint32_t *const pTable = tableOf(pWork);
    resetTable(pTable);
    const std::size_t nOutLimit = nOutCapacity < kMaxInput ? nOutCapacity : kMaxInput;
    std::size_t i = 4;
    uint32_t p = 0;
    uint32_t nCycle = 0;
    // Positions of the last two literals not yet entered (P1 the newer);
    // their hash needs the two bytes that follow, so they go in later.
    long nP1 = -1;
    long nP2 = -1;

    while (i < nInLength) {
        if (nInLength - i < 2)
            return ExpandTruncated;
        const uint32_t nControl = uint32_t(pInput[i]) | uint32_t(pInput[i + 1]) << 8;
        i += 2;
        if (i == nInLength)
            return ExpandTruncated;
        for (int nItem = 0; nItem < kGroupItems; ++nItem) {
            if (i == nInLength) {
                if ((nControl >> nItem) != (0xFFFFu >> nItem)) {
                    *pOutLength = p;
                    return ExpandBadPadding;
                }
                break;
            }
            if (nControl & (1u << nItem)) {
                if (nInLength - i < 2) {
                    *pOutLength = p;
                    return ExpandTruncated;
                }
                const uint32_t e = (uint32_t(pInput[i] & 0xF0u) << 4) | pInput[i + 1];
                const uint32_t k = uint32_t(pInput[i] & 0x0Fu) + kMinMatch;
                i += 2;
                if (p + k > nOutLimit) {
                    *pOutLength = p;
                    return ExpandOverflow;
                }
                // Every entry holds a position below p (or the start
                // string), so the source is always decoded data; copy byte by
                // byte because a run may overlap its own output.
                const uint32_t nEntry = pTable[e];
                uint8_t *const pDst = pOutput + p;
                if (nEntry == kStartEntry) {
                    for (uint32_t j = 0; j < k; ++j)
                        pDst[j] = kStartString[j];
                } else {
                    const uint8_t *pSrc = pOutput + nEntry;
                    for (uint32_t j = 0; j < k; ++j)
                        pDst[j] = pSrc[j];
                }
                if (nP1 >= 0) {
                    if (nP2 >= 0) {
                        pTable[setBase(pOutput + nP2) + nCycle] = uint32_t(nP2);
                        nCycle = (nCycle + 1) & 7u;
                    }
                    pTable[setBase(pOutput + nP1) + nCycle] = uint32_t(nP1);
                    nCycle = (nCycle + 1) & 7u;
                }
                pTable[(e & ~7u) + nCycle] = p;
                nCycle = (nCycle + 1) & 7u;
                nP1 = nP2 = -1;
                p += k;
            } else {
                if (p >= nOutLimit) {
                    *pOutLength = p;
                    return ExpandOverflow;
                }
                pOutput[p] = pInput[i++];
                if (nP2 >= 0) {
                    pTable[setBase(pOutput + nP2) + nCycle] = uint32_t(nP2);
                    nCycle = (nCycle + 1) & 7u;
                }
                nP2 = nP1;
                nP1 = long(p);
                ++p;
            }
        }
    }
    *pOutLength = p;
    return ExpandOk;
}
