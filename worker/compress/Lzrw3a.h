#ifndef SERVOPROG_COMPRESS_LZRW3A_H
#define SERVOPROG_COMPRESS_LZRW3A_H

// LZRW3-A block compressor (the form the drive's boot monitor expands with
// its decompress command) and the matching local decoder.
//
// Block format:
//   bytes 0..3  flag word: byte 0 = 0 (groups follow) or 1 (input verbatim),
//               bytes 1..3 = 0
//   flag 0:     groups; each is a 16-bit control word (low byte first) and
//               up to 16 items, bit i describing item i: 1 = copy, 0 = literal.
//               The bits above the last item of the last group are 1.
//               literal: 1 byte, the byte itself
//               copy:    2 bytes, ((e & 0xF00) >> 4) | (k - 3), e & 0xFF:
//                        k (3..18) bytes equal to those at the position held
//                        by hash-table entry e (0..4095)
//   flag 1:     the input bytes.
//
// The hash table has 4096 entries in 512 sets of 8 ways; every entry starts
// at the 18-byte string "123456789012345678". Copy items refer to table
// entries, so the decoder rebuilds the same table from the bytes it decodes:
// literal positions are entered two items late (their hash needs the two
// bytes that follow), and one cycle counter shared by all sets chooses the
// way that is overwritten next.
//
// Plain C++: no allocation, no global state, safe to call from any thread.

#include <cstddef>
#include <cstdint>

namespace lzrw3a {

// Size of the work memory both functions need: the 4096-entry hash table
// (a pointer and a 32-bit search tag per entry) plus room to align its
// start. Any alignment of the area is accepted.
constexpr std::size_t kWorkSize = 4096 * (sizeof(const void *) + 4) + 16;

// Largest input compressBlock() accepts (positions are kept in 32 bits).
constexpr std::uint32_t kMaxInput = 0x40000000u;

// Output capacity compressBlock() needs for nLength input bytes: the verbatim
// form (nLength + 4) plus one group of slack, since the compressed form may
// run one group past the input length before the overrun is noticed.
constexpr std::size_t compressBound(std::uint32_t nLength)
{
    return std::size_t(nLength) + 4 + 2 + 16 * 2;
}

// Results of expandBlock().
enum ExpandResult
{
    ExpandOk = 0,
    ExpandTruncated = -1,  // input ends inside a flag word, control word or copy item
    ExpandBadFlag = -2,    // flag word is neither 0,0,0,0 nor 1,0,0,0
    ExpandOverflow = -3,   // output would exceed nOutCapacity
    ExpandBadPadding = -4, // unused control bits of the last group are not all 1
    ExpandBadArgument = -5 // null pointer
};

} // namespace lzrw3a

// Compresses nLength bytes at pInput into pOutput and stores the block length
// in *pOutLength. pWork is lzrw3a::kWorkSize bytes of scratch memory;
// nOutCapacity must be at least lzrw3a::compressBound(nLength). Input of
// fewer than 6 bytes, and input whose compressed form would be longer than
// the input, comes back verbatim (flag 1, nLength + 4 bytes). The output
// depends on the input alone: every call starts from the same table.
// Returns 0, or -1 (nothing written) for null pointers, too small an output
// area or input above lzrw3a::kMaxInput.
int compressBlock(const std::uint8_t *pInput, std::uint32_t nLength, void *pWork, std::uint8_t *pOutput,
                  std::size_t nOutCapacity, std::uint32_t *pOutLength);

// Expands the block of nInLength bytes at pInput into pOutput, writing never
// more than nOutCapacity bytes, and stores the expanded length in
// *pOutLength. pWork is lzrw3a::kWorkSize bytes of scratch memory. Returns
// lzrw3a::ExpandOk or one of the negative lzrw3a::ExpandResult codes for
// malformed input (the output then holds whatever was decoded so far).
int expandBlock(const std::uint8_t *pInput, std::size_t nInLength, void *pWork, std::uint8_t *pOutput,
                std::size_t nOutCapacity, std::uint32_t *pOutLength);

#endif
