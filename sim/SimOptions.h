#ifndef SIMOPTIONS_H
#define SIMOPTIONS_H

#include "BootMonitor.h"

#include <QList>
#include <QString>
#include <QStringList>

// A line or monitor fault injected at a given request (--fault, see
// simUsage()).
struct SimFault
{
    enum Kind
    {
        Drop,
        Corrupt,
        Busy,
        Verify,
        Silent,
        Life,
        Stream
    };
    Kind nKind = Drop;
    int nWhen = 0;  // request number (verify: verify-command number), from 1
    int nValue = 0; // busy: status byte; life: number of '*' characters; stream: the byte
};

// What the command line asks for; every value has its default there.
struct SimOptions
{
    SimGeometry geometry;
    quint32 nBaudRate = 0;
    bool bThrottle = false;
    bool bPoweredOff = false;
    bool bExitOnStdinEof = false;
    bool bHelp = false;    // -h, --help: print simUsage() and end
    bool bVersion = false; // --version: print the version and end
    int nWakeDelayMs = 0;  // powered-off drive: deaf for this long after start
    int nEraseMs = 0;      // time one sector erase takes before it is answered
    int nPageUs = 0;       // time programming one page takes
    QString sFlashFile[2];
    QString sEepromFile[2];
    QString sLogFile;
    QList<SimFault> faults;
};

// Fills options from the command line (the program name first). Returns
// false with a message for anything it cannot use.
bool parseSimOptions(const QStringList &arguments, SimOptions &options, QString &sError);
QString simUsage();

#endif // SIMOPTIONS_H
