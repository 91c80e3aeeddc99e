// libFuzzer target: the S-record reader (load into windows, extent scan,
// file-type rule, header and start records).
#include "FuzzImageReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    fuzzimage::runOne(fuzzimage::Format::SRecord, pData, nSize);
    return 0;
}
