#ifndef SERVOPROG_FUZZ_IMAGEREADER_H
#define SERVOPROG_FUZZ_IMAGEREADER_H

// One fuzz pass over an image reader, shared by the Intel HEX and the
// S-record target: the input is loaded into two windows (one at the bottom
// of the address space, one touching 0xFFFFFFFF, so records that run past
// either edge are exercised), scanned for its extent, and the results are
// checked against each other. Any broken rule aborts, which libFuzzer
// reports as a crash with the input that caused it.

#include <cstddef>
#include <cstdint>

namespace fuzzimage {

enum class Format
{
    IntelHex,
    SRecord
};

void runOne(Format eFormat, const std::uint8_t *pData, std::size_t nSize);

} // namespace fuzzimage

#endif
