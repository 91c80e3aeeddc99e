#ifndef FLASHOPERATIONS_H
#define FLASHOPERATIONS_H

#include "MemoryJob.h"
#include "MonitorCommands.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class HexConv;
class TBootMonitorLink;

// The flash jobs: geometry query, device selection, Erase, Program and Read,
// through the drive's flash commands. Each operation returns 0 or -1 and
// has shown its failure (the error convention of WorkerSession).
class FlashOperations : public MemoryJob
{
    // The texts belong to the worker's translation context.
    Q_DECLARE_TR_FUNCTIONS(UpdateWorker)

public:
    // Same contract as compressBlock().
    using BlockCompressor = int (*)(const uint8_t *pInput, uint32_t nLength, void *pWork, uint8_t *pOutput,
                                    size_t nOutCapacity, uint32_t *pOutLength);

    // aInfo receives what the drive answers: device answers 1..4, region 0
    // answers 1..4; the jobs work with the geometry made of them.
    FlashOperations(WorkerSession &session, uint32_t (&aInfo)[8]);

    int queryFlashInfo();
    int selectFlashDevice(int nDevice);
    int eraseFlash(PgmEntry &entry);
    int programFlash(PgmEntry &entry);
    int readFlash(PgmEntry &entry);

    void setBlockCompressor(BlockCompressor pCompressor);

private:
    int queryInfo() override { return queryFlashInfo(); }
    int selectDevice(int nDevice) override { return selectFlashDevice(nDevice); }
    int eraseMemory(PgmEntry &entry) override { return eraseFlash(entry); }
    int programMemory(PgmEntry &entry) override { return programFlash(entry); }
    int readMemory(PgmEntry &entry) override { return readFlash(entry); }

    // The tool's side of a block transfer: the compressed form, the
    // compressor's work memory and the local expansion that checks it.
    struct BlockBuffers
    {
        BlockBuffers();
        std::vector<uint8_t> packed;
        std::vector<uint8_t> work;
        std::vector<uint8_t> expanded;
    };

    const MemoryGeometry &geometry() { return m_session.job().geometry; }
    void eraseSectors(uint32_t nStart, uint32_t nLength);
    void eraseSectorIfNeeded(uint32_t nAddress);
    void sendBlock(const uint8_t *pBlock, uint32_t nLength, bool bCompress, BlockBuffers &buffers);
    void programBlock(uint32_t nAddress, uint32_t nLength);
    bool verifyBlock(uint32_t nAddress, uint32_t nLength);
    int programAllSectors(HexConv &image, bool bCompress, BlockBuffers &buffers);
    int programChangedSectors(HexConv &image, bool bCompress, BlockBuffers &buffers);

    TBootMonitorLink &m_link;
    FlashCommands m_commands;
    uint32_t (&m_aInfo)[8];
    BlockCompressor m_pCompressor;
};

#endif // FLASHOPERATIONS_H
