#include "PtyClient.h"

#include "LinkFrame.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
speed_t speedOf(quint32 nRate)
{
    switch (nRate) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

QByteArray objectRequest(quint8 nService, quint16 nIndex, quint8 nSub, const QByteArray &data, int nCount)
{
    const char aHead[] = {char(nService), char(nIndex >> 8), char(nIndex), char(nSub), char(nCount)};
    return QByteArray(aHead, 5) + data;
}
} // namespace

PtyClient::~PtyClient()
{
    close();
}

bool PtyClient::open(const QString &sPath, quint32 nRate)
{
    close();
    m_nFd = ::open(sPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_nFd < 0)
        return false;
    termios tio;
    if (::tcgetattr(m_nFd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(m_nFd, TCSANOW, &tio) != 0)
        return false;
    return setRate(nRate);
}

void PtyClient::close()
{
    if (m_nFd >= 0)
        ::close(m_nFd);
    m_nFd = -1;
}

bool PtyClient::setRate(quint32 nRate)
{
    termios tio;
    if (m_nFd < 0 || ::tcgetattr(m_nFd, &tio) != 0)
        return false;
    ::cfsetispeed(&tio, speedOf(nRate));
    ::cfsetospeed(&tio, speedOf(nRate));
    return ::tcsetattr(m_nFd, TCSANOW, &tio) == 0;
}

bool PtyClient::writeRaw(const QByteArray &bytes)
{
    int nDone = 0;
    while (nDone < bytes.size()) {
        const ssize_t n = ::write(m_nFd, bytes.constData() + nDone, size_t(bytes.size() - nDone));
        if (n < 0) {
            pollfd pfd = {m_nFd, POLLOUT, 0};
            if (::poll(&pfd, 1, 1000) <= 0)
                return false;
            continue;
        }
        nDone += int(n);
    }
    return true;
}

QByteArray PtyClient::readRaw(int nMs, int nUntil)
{
    QByteArray bytes;
    QElapsedTimer timer;
    timer.start();
    while (bytes.size() < nUntil && timer.elapsed() < nMs)
        bytes += readSome(int(nMs - timer.elapsed()));
    return bytes;
}

QByteArray PtyClient::readSome(int nMs)
{
    pollfd pfd = {m_nFd, POLLIN, 0};
    char buffer[512];
    const ssize_t n = ::poll(&pfd, 1, qMax(1, nMs)) > 0 ? ::read(m_nFd, buffer, sizeof buffer) : 0;
    return QByteArray(buffer, int(qMax<ssize_t>(0, n)));
}

QByteArray PtyClient::transact(const QByteArray &request, int nMs)
{
    m_bBadChecksum = false;
    m_nLifeTriggers = 0;
    ::tcflush(m_nFd, TCIFLUSH);
    if (!writeRaw(LinkFrame::encode(request)))
        return QByteArray();
    LinkFrame::Receiver receiver;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nMs) {
        for (char c : readSome(int(nMs - timer.elapsed()))) {
            const int nStatus = receiver.feed(quint8(c));
            if (nStatus == LinkFrame::Receiver::Complete)
                return receiver.payloadBytes();
            if (nStatus == LinkFrame::Receiver::LifeTrigger)
                ++m_nLifeTriggers;
            if (nStatus == LinkFrame::Receiver::Failed && receiver.error() == LinkFrame::Receiver::Error::BadChecksum)
                m_bBadChecksum = true;
        }
    }
    return QByteArray();
}

int PtyClient::writeU32(quint16 nIndex, quint8 nSub, quint32 nValue)
{
    QByteArray data(4, 0);
    qToBigEndian(nValue, data.data());
    return writeData(nIndex, nSub, data);
}

int PtyClient::writeData(quint16 nIndex, quint8 nSub, const QByteArray &data)
{
    const QByteArray answer = transact(objectRequest(0x05, nIndex, nSub, data, int(data.size())));
    return answer.size() < 2 || quint8(answer.at(0)) != 0x02 ? -1 : quint8(answer.at(1));
}

int PtyClient::readU32(quint16 nIndex, quint8 nSub, quint32 &nValue)
{
    QByteArray data;
    const int nStatus = readData(nIndex, nSub, data, 4);
    if (nStatus == 0 && data.size() < 4)
        return -1;
    if (nStatus == 0)
        nValue = qFromBigEndian<quint32>(data.constData());
    return nStatus;
}

int PtyClient::readData(quint16 nIndex, quint8 nSub, QByteArray &data, int nCount)
{
    const QByteArray answer = transact(objectRequest(0x04, nIndex, nSub, QByteArray(), nCount));
    if (answer.size() < 2 || quint8(answer.at(0)) != 0x01)
        return -1;
    data = answer.mid(5);
    return quint8(answer.at(1));
}
