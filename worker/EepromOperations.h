#ifndef EEPROMOPERATIONS_H
#define EEPROMOPERATIONS_H

#include "PgmEntry.h"
#include "WorkerSession.h"

#include <QCoreApplication>
#include <cstdint>
#include <functional>

class TBootMonitorLink;

// The EEPROM jobs: size query, device selection, Erase, Write and Read in
// blocks of the drive's 256-byte EEPROM transfer buffer. Each operation
// returns 0 or -1 and has shown its failure (the error convention of
// WorkerSession).
class EepromOperations
{
    // The texts belong to the worker's translation context.
    Q_DECLARE_TR_FUNCTIONS(UpdateWorker)

public:
    // nEepromSize receives the size the drive answers.
    EepromOperations(WorkerSession &session, int32_t &nEepromSize);

    // Query, select, then the job's operation.
    int run(PgmEntry &entry);
    int queryEepromInfo();
    int selectEepromDevice(int nDevice);
    int eraseEeprom(PgmEntry &entry);
    int writeEeprom(PgmEntry &entry);
    int readEeprom(PgmEntry &entry);

private:
    void writeVerifyEepromBlock(uint32_t nAddress, uint32_t n, uint32_t &nPrevious, bool bErase);
    void forEachBlock(uint32_t nOffset, uint32_t nLength,
                      const std::function<void(uint32_t nAddress, uint32_t n)> &body);
    bool eepromRange(const PgmEntry &entry, const QString &sTitle, uint32_t &nOffset, uint32_t &nLength);

    WorkerSession &m_session;
    WorkerEvents &m_events;
    TBootMonitorLink &m_link;
    int32_t &m_nEepromSize;
};

#endif // EEPROMOPERATIONS_H
