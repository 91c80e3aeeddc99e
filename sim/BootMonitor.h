#ifndef BOOTMONITOR_H
#define BOOTMONITOR_H

#include "SimMemory.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

// Sizes of the simulated hardware (the defaults are the options', SimOptions.cpp).
struct SimGeometry
{
    quint32 nFlashSize = 0;
    quint32 nSectorSize = 0;
    quint32 nPageSize = 0;
    quint32 nRegionCount = 0; // answered to the device query; the tool only accepts 1
    quint32 nEepromSize = 0;
};

// The monitor's object dictionary and its flash and EEPROM command sets.
// It turns one request payload into one response payload; framing, line
// rates and injected line faults are the server's business.
class BootMonitor
{
public:
    // What one request did, for the server and the request log.
    struct Result
    {
        QByteArray response;      // payload to answer; empty: no answer
        QString sService;         // "read", "write", "ident" or "unknown"
        QString sObject;          // "5E10.1" or "-"
        int nLength = 0;          // data bytes asked for (read) or carried (write)
        int nStatus = 0;          // status byte answered
        QStringList details;      // key=value words for the log
        quint32 nNewLineRate = 0; // non-zero: switch to this rate after answering
        // The flash's own work, which the server may let take its time.
        int nSectorsErased = 0;
        int nPagesProgrammed = 0;
    };

    BootMonitor(const SimGeometry &geometry, quint32 nPowerOnRate);

    Result handle(const QByteArray &request);
    // The answer a busy monitor gives to the request, with the given status.
    Result busyAnswer(const QByteArray &request, int nStatus) const;

    quint32 lineRate() const { return m_nLineRate; }
    void setLineRate(quint32 nRate) { m_nLineRate = nRate; }
    static bool isSupportedRate(quint32 nRate);

    // Verify commands (flash and EEPROM, counted together from 1) whose
    // result is forced to "different".
    void setFailingVerifies(const QSet<int> &verifies) { m_failingVerifies = verifies; }

    SimMemory &flash(int nDevice) { return *m_flash.memory[nDevice]; }
    SimMemory &eeprom(int nDevice) { return *m_eeprom.memory[nDevice]; }

private:
    struct Parsed
    {
        int nService = 0;
        quint16 nIndex = 0;
        quint8 nSubindex = 0;
        int nLengthByte = 0;
        QByteArray data;
        bool bWellFormed = false;
    };
    // The flash's and the EEPROM's objects alike: a command object (the
    // command code and its parameters), a read-only status object, a data
    // object (the transfer buffer) and two devices. They differ in their
    // sizes and in the commands they know.
    struct CommandSet
    {
        const char *sName; // "flash" or "eeprom", as the request log calls it
        quint16 nCommandIndex;
        quint16 nStatusIndex;
        quint16 nDataIndex;
        int nStatusCount;
        QByteArray buffer = {};
        quint32 param[4] = {0, 0, 0, 0};     // by subindex
        quint32 status[5] = {0, 0, 0, 0, 0}; // by subindex
        int nDevice = 0;
        bool bDecompressed = false; // the buffer holds a decompressed block
        std::unique_ptr<SimMemory> memory[2] = {};
    };
    static Parsed parse(const QByteArray &request);
    static Result describe(const Parsed &request);

    // The command set whose object nIndex is, when that object has subindex nSub.
    CommandSet *commandSet(quint16 nIndex, int nSub);
    int readObject(const Parsed &request, QByteArray &data);
    int writeObject(const Parsed &request, Result &result);
    int executeCommand(CommandSet &set, quint32 nCode, Result &result);
    bool verifyFails(bool bEqual, Result &result);

    SimGeometry m_geometry;
    quint32 m_nLineRate;
    CommandSet m_flash;
    CommandSet m_eeprom;

    int m_nVerifyCount = 0;
    QSet<int> m_failingVerifies;
};

#endif // BOOTMONITOR_H
