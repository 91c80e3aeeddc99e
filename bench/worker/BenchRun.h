#ifndef BENCHRUN_H
#define BENCHRUN_H

#include "PgmEntry.h"
#include "WorkerStats.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// What the worker benchmarks share: their images and one programming run.

// Bitstream- or firmware-like: runs of FF and 00 between stretches of random
// data, so that some blocks compress and others do not. Never starts or
// ends on FF.
QByteArray bitstreamImage(int nSize, quint32 nSeed = 1234);

// Writes data as an Intel HEX file (through srec_cat), from address 0.
bool writeHexImage(const QString &sPath, const QByteArray &data);

// Runs one job against the drive on sPort, already in its boot monitor, and
// returns what the run reported. Failures are printed.
RunStats runBenchJob(const QString &sPort, uint32_t nBaud, const PgmEntry &job);

#endif // BENCHRUN_H
