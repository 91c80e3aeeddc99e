#include "PtyTransport.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{
bool rateToSpeed(uint32_t nRate, speed_t &nSpeed)
{
    switch (nRate) {
    case 9600: nSpeed = B9600; return true;
    case 19200: nSpeed = B19200; return true;
    case 38400: nSpeed = B38400; return true;
    case 57600: nSpeed = B57600; return true;
    case 115200: nSpeed = B115200; return true;
    case 230400: nSpeed = B230400; return true;
    case 460800: nSpeed = B460800; return true;
    case 921600: nSpeed = B921600; return true;
    default: return false;
    }
}

uint32_t speedToRate(speed_t nSpeed)
{
    const uint32_t aRates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    for (uint32_t nRate : aRates) {
        speed_t n = 0;
        if (rateToSpeed(nRate, n) && n == nSpeed)
            return nRate;
    }
    return 0;
}
} // namespace

PtyTransport::~PtyTransport()
{
    if (m_nFd >= 0)
        ::close(m_nFd);
}

int PtyTransport::open(const char *sPort, uint32_t nBaudrate)
{
    m_nFd = ::open(sPort, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_nFd < 0)
        return 11;
    termios tio {};
    tcgetattr(m_nFd, &tio);
    cfmakeraw(&tio);
    speed_t nSpeed = 0;
    if (nBaudrate != 0 && rateToSpeed(nBaudrate, nSpeed))
        cfsetspeed(&tio, nSpeed);
    tcsetattr(m_nFd, TCSANOW, &tio);
    return 0;
}

int PtyTransport::close()
{
    if (m_nFd < 0)
        return -1;
    ::close(m_nFd);
    m_nFd = -1;
    return 0;
}

int PtyTransport::setTimeout(uint32_t nMilliseconds)
{
    m_nTimeoutMs = nMilliseconds;
    return 0;
}

int PtyTransport::setBaudRate(uint32_t nBaudrate)
{
    speed_t nSpeed = 0;
    if (m_nFd < 0 || !rateToSpeed(nBaudrate, nSpeed))
        return -1;
    termios tio {};
    tcgetattr(m_nFd, &tio);
    cfsetspeed(&tio, nSpeed);
    return tcsetattr(m_nFd, TCSANOW, &tio) == 0 ? 0 : -1;
}

int PtyTransport::getBaudRate(uint32_t &nBaudrate)
{
    termios tio {};
    if (m_nFd < 0 || tcgetattr(m_nFd, &tio) != 0)
        return -1;
    nBaudrate = speedToRate(cfgetospeed(&tio));
    return 0;
}

int PtyTransport::read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount)
{
    nCount = 0;
    if (m_nFd < 0)
        return 100;
    pollfd pfd {m_nFd, POLLIN, 0};
    const int nReady = poll(&pfd, 1, int(m_nTimeoutMs));
    if (nReady < 0)
        return 100;
    if (nReady == 0)
        return 101;
    const ssize_t n = ::read(m_nFd, pBuffer, nCapacity);
    if (n < 0)
        return errno == EAGAIN ? 101 : 100;
    if (n == 0)
        return 101;
    nCount = uint32_t(n);
    return 0;
}

int PtyTransport::write(const uint8_t *pBuffer, uint32_t nCount)
{
    if (m_nFd < 0)
        return 100;
    uint32_t nDone = 0;
    while (nDone < nCount) {
        const ssize_t n = ::write(m_nFd, pBuffer + nDone, nCount - nDone);
        if (n <= 0)
            return 100;
        nDone += uint32_t(n);
    }
    return 0;
}

int PtyTransport::purge()
{
    if (m_nFd < 0)
        return -1;
    tcflush(m_nFd, TCIOFLUSH);
    return 0;
}
