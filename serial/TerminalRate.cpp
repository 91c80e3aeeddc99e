#include "TerminalRate.h"

#ifdef Q_OS_LINUX
// termios2 (TCGETS2) carries the exact speed in bit/s, also for rates that
// have no Bxxx constant. <asm/termbits.h> clashes with <termios.h>, which
// is why this lives in a file of its own.
#include <asm/termbits.h>
#include <sys/ioctl.h>

uint32_t terminalLineRate(int nFd)
{
    termios2 tio;
    return ::ioctl(nFd, TCGETS2, &tio) == 0 ? tio.c_ospeed : 0;
}
#elif defined(Q_OS_UNIX)
#include <termios.h>

uint32_t terminalLineRate(int nFd)
{
    // macOS and the BSDs keep the rate in bit/s in a speed_t itself.
    termios tio;
    return ::tcgetattr(nFd, &tio) == 0 ? uint32_t(::cfgetospeed(&tio)) : 0;
}
#endif
