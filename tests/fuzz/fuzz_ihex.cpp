// libFuzzer target: the Intel HEX reader (load into windows, extent scan,
// file-type rule).
#include "FuzzImageReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    fuzzimage::runOne(fuzzimage::Format::IntelHex, pData, nSize);
    return 0;
}
