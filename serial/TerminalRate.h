#ifndef TERMINALRATE_H
#define TERMINALRATE_H

#include <QtGlobal>

#include <cstdint>

#ifdef Q_OS_UNIX
// The output rate, in bit/s, of the terminal behind nFd as its driver has it
// (on a pseudo-terminal's master: the slave's); 0 when it cannot be told.
uint32_t terminalLineRate(int nFd);
#endif

#endif // TERMINALRATE_H
