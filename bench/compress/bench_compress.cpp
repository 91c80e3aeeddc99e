// Throughput and ratio of the block compressor on 8192-byte blocks, the size
// the worker sends. Goal: at least 150 MB/s.

#include "Lzrw3a.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace {

std::vector<std::uint8_t> bitstream(std::size_t n, std::uint32_t seed)
{
    // FPGA configuration data: 32-bit frame words, most of them empty, a few
    // command words recurring, the rest sparse logic bits.
    static const std::uint32_t dict[] = {0xAA995566, 0x30008001, 0x20000000, 0x0000000D,
                                         0x30002001, 0x00000007, 0x3000C001, 0xFFFFFFFF};
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> d(n, 0);
    for (std::size_t i = 0; i + 3 < n; i += 4) {
        std::uint32_t w = 0;
        const std::uint32_t r = rng() % 100;
        if (r < 55)
            w = 0;
        else if (r < 75)
            w = dict[rng() % 8];
        else
            w = rng() & rng() & rng();
        for (int j = 0; j < 4; ++j)
            d[i + std::size_t(j)] = std::uint8_t(w >> (8 * j));
    }
    return d;
}

std::vector<std::uint8_t> randomData(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> d(n);
    for (auto &b : d)
        b = std::uint8_t(rng());
    return d;
}

void run(const char *sName, const std::vector<std::uint8_t> &data)
{
    constexpr std::uint32_t kBlock = 8192;
    std::vector<std::uint8_t> work(lzrw3a::kWorkSize);
    std::vector<std::uint8_t> out(lzrw3a::compressBound(kBlock));
    std::vector<std::uint8_t> back(kBlock);
    const std::size_t nBlocks = data.size() / kBlock;

    using Clock = std::chrono::steady_clock;
    std::uint64_t nIn = 0, nOut = 0;
    const auto t0 = Clock::now();
    const std::clock_t c0 = std::clock();
    double dSeconds = 0;
    do {
        for (std::size_t b = 0; b < nBlocks; ++b) {
            std::uint32_t n = 0;
            compressBlock(data.data() + b * kBlock, kBlock, work.data(), out.data(), out.size(), &n);
            nIn += kBlock;
            nOut += n;
        }
        dSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    } while (dSeconds < 2.0);
    // The machine may be shared: CPU time of this process is the fairer base.
    const double dCpu = double(std::clock() - c0) / CLOCKS_PER_SEC;

    // Decoder speed on the same blocks (one pass).
    std::vector<std::vector<std::uint8_t>> blocks;
    for (std::size_t b = 0; b < nBlocks; ++b) {
        std::uint32_t n = 0;
        compressBlock(data.data() + b * kBlock, kBlock, work.data(), out.data(), out.size(), &n);
        blocks.emplace_back(out.begin(), out.begin() + n);
    }
    const std::clock_t c1 = std::clock();
    std::uint64_t nExpanded = 0;
    for (int r = 0; r < 4; ++r)
        for (const auto &blk : blocks) {
            std::uint32_t n = 0;
            expandBlock(blk.data(), blk.size(), work.data(), back.data(), back.size(), &n);
            nExpanded += n;
        }
    const double dExpand = double(std::clock() - c1) / CLOCKS_PER_SEC;

    std::printf("%-10s compress %7.1f MB/s CPU (%6.1f MB/s wall)  ratio %.3f (output/input)  "
                "expand %7.1f MB/s CPU\n",
                sName, double(nIn) / dCpu / 1e6, double(nIn) / dSeconds / 1e6, double(nOut) / double(nIn),
                double(nExpanded) / dExpand / 1e6);
}

} // namespace

int main()
{
    std::printf("LZRW3-A, 8192-byte blocks (goal: compress >= 150 MB/s)\n");
    run("bitstream", bitstream(16u << 20, 1));
    run("random", randomData(16u << 20, 2));
    return 0;
}
