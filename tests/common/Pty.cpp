#include "Pty.h"

#include <QElapsedTimer>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty()
{
    char aName[128] = {};
    termios tio{};
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (::openpty(&m_nMaster, &m_nSlave, aName, &tio, nullptr) != 0) {
        m_nMaster = m_nSlave = -1;
        return;
    }
    m_sPath = QString::fromLocal8Bit(aName);
}

Pty::~Pty()
{
    if (m_nMaster >= 0)
        ::close(m_nMaster);
    if (m_nSlave >= 0)
        ::close(m_nSlave);
}

bool Pty::write(const QByteArray &bytes) const
{
    return ::write(m_nMaster, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

QByteArray Pty::read(int nDeadlineMs, int nUntil) const
{
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (data.size() < nUntil) {
        const int nLeft = nDeadlineMs - int(timer.elapsed());
        pollfd pfd{m_nMaster, POLLIN, 0};
        if (nLeft <= 0 || ::poll(&pfd, 1, nLeft) <= 0)
            break;
        char aChunk[4096];
        const ssize_t n = ::read(m_nMaster, aChunk, size_t(qMin<int>(int(sizeof aChunk), nUntil - int(data.size()))));
        if (n <= 0)
            break;
        data.append(aChunk, int(n));
    }
    return data;
}

int Pty::pending() const
{
    int n = 0;
    return ::ioctl(m_nSlave, FIONREAD, &n) == 0 ? n : -1;
}

bool Pty::waitPending(int nBytes, int nDeadlineMs) const
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const int n = pending();
        if (nBytes == 0 ? n == 0 : n >= nBytes)
            return true;
        if (timer.elapsed() > nDeadlineMs)
            return false;
        QThread::usleep(200);
    }
}

uint32_t Pty::lineRate() const
{
    termios tio{};
    if (::tcgetattr(m_nSlave, &tio) != 0)
        return 0;
    static const struct
    {
        speed_t nCode;
        uint32_t nRate;
    } kRates[] = {{B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
                  {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    for (const auto &r : kRates) {
        if (cfgetospeed(&tio) == r.nCode)
            return r.nRate;
    }
    return 0;
}
