#ifndef EEPROMOPERATIONS_H
#define EEPROMOPERATIONS_H

#include "MemoryJob.h"
#include "MonitorCommands.h"

#include <cstdint>

// The EEPROM jobs: size query, device selection, Erase, Write and Read in
// blocks of the drive's 256-byte EEPROM transfer buffer. Each operation
// returns 0 or -1 and has shown its failure (the error convention of
// WorkerSession).
class EepromOperations : public MemoryJob
{
    // The texts belong to the worker's translation context.
    Q_DECLARE_TR_FUNCTIONS(UpdateWorker)

public:
    // nEepromSize receives the size the drive answers; the jobs work with
    // the geometry made of it.
    EepromOperations(WorkerSession &session, int32_t &nEepromSize);

    int queryEepromInfo();
    int selectEepromDevice(int nDevice);
    int eraseEeprom(PgmEntry &entry);
    int writeEeprom(PgmEntry &entry);
    int readEeprom(PgmEntry &entry);

private:
    int queryInfo() override { return queryEepromInfo(); }
    int selectDevice(int nDevice) override { return selectEepromDevice(nDevice); }
    int eraseMemory(PgmEntry &entry) override { return eraseEeprom(entry); }
    int programMemory(PgmEntry &entry) override { return writeEeprom(entry); }
    int readMemory(PgmEntry &entry) override { return readEeprom(entry); }

    uint32_t size() { return m_session.job().geometry.nSize; }
    void writeVerifyEepromBlock(uint32_t nAddress, uint32_t n, uint32_t &nLengthHeld, bool bErase);
    bool eepromRange(const PgmEntry &entry, const QString &sTitle, uint32_t &nOffset, uint32_t &nLength);

    EepromCommands m_commands;
    int32_t &m_nEepromSize;
};

#endif // EEPROMOPERATIONS_H
