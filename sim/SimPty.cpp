#include "SimPty.h"

#include "TerminalRate.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

SimPty::~SimPty()
{
    if (m_nSlave >= 0)
        ::close(m_nSlave);
    if (m_nMaster >= 0)
        ::close(m_nMaster);
}

bool SimPty::open(QString &sError)
{
    // What failed, then the system's reason (errno, read before anything
    // else can change it).
    auto fail = [&sError](const char *sWhat, const QString &sName = QString()) {
        const QString sReason = QString::fromLocal8Bit(std::strerror(errno));
        sError = QLatin1String(sWhat) + sName + QStringLiteral(": ") + sReason;
        return false;
    };
    m_nMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_nMaster < 0 || ::grantpt(m_nMaster) != 0 || ::unlockpt(m_nMaster) != 0)
        return fail("cannot create a pseudo-terminal");
    const char *name = ::ptsname(m_nMaster);
    if (!name)
        return fail("cannot name the pseudo-terminal");
    m_sSlaveName = QString::fromLocal8Bit(name);
    m_nSlave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_nSlave < 0)
        return fail("cannot open ", m_sSlaveName);
    // Raw line from the start: with the default cooked mode the line
    // discipline would echo the drive's own answers back to it and mangle
    // CR/LF while no tool has configured the port yet.
    termios tio;
    if (::tcgetattr(m_nSlave, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::cfsetspeed(&tio, B9600);
        ::tcsetattr(m_nSlave, TCSANOW, &tio);
    }
    const int nFlags = ::fcntl(m_nMaster, F_GETFL);
    ::fcntl(m_nMaster, F_SETFL, nFlags | O_NONBLOCK);
    return true;
}

quint32 SimPty::peerLineRate() const
{
    return terminalLineRate(m_nMaster);
}

int SimPty::read(char *pBuffer, int nCapacity)
{
    const ssize_t n = ::read(m_nMaster, pBuffer, size_t(nCapacity));
    if (n >= 0)
        return int(n);
    // EIO: no slave descriptor is open (cannot happen while we hold one,
    // but harmless); EAGAIN: nothing there.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == EIO)
        return 0;
    return -1;
}

int SimPty::pendingForTool() const
{
    int nQueued = 0;
    return ::ioctl(m_nSlave, FIONREAD, &nQueued) == 0 ? nQueued : 0;
}

bool SimPty::write(const char *pData, int nLength)
{
    int nBlockedMs = 0;
    while (nLength > 0) {
        const ssize_t n = ::write(m_nMaster, pData, size_t(nLength));
        if (n > 0) {
            pData += n;
            nLength -= int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        // The slave's input queue is full. A tool that reads would empty it
        // quickly; after a second nobody is reading, so what waits there is
        // stale and is discarded to make room.
        pollfd pfd = {m_nMaster, POLLOUT, 0};
        ::poll(&pfd, 1, 20);
        nBlockedMs += 20;
        if (nBlockedMs >= 1000) {
            ::tcflush(m_nSlave, TCIFLUSH);
            nBlockedMs = 0;
        }
    }
    return true;
}
