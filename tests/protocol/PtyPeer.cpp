#include "PtyPeer.h"

#include "LinkFrame.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

namespace {
uint32_t speedToRate(speed_t nSpeed)
{
    switch (nSpeed) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return 0;
    }
}
} // namespace

PtyPeer::PtyPeer()
{
    char aName[128] = {};
    if (openpty(&m_nMaster, &m_nSlave, aName, nullptr, nullptr) != 0) {
        m_nMaster = m_nSlave = -1;
        return;
    }
    m_sPath = QString::fromLocal8Bit(aName);
    termios tio{};
    tcgetattr(m_nSlave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_nSlave, TCSANOW, &tio);
}

PtyPeer::~PtyPeer()
{
    stop();
    if (m_nMaster >= 0)
        ::close(m_nMaster);
    if (m_nSlave >= 0)
        ::close(m_nSlave);
}

void PtyPeer::start(Handler handler)
{
    stop();
    m_handler = std::move(handler);
    m_bStop = false;
    m_thread = std::thread([this] { run(); });
}

void PtyPeer::stop()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
}

uint32_t PtyPeer::lineRate() const
{
    termios tio{};
    if (tcgetattr(m_nSlave, &tio) != 0)
        return 0;
    return speedToRate(cfgetospeed(&tio));
}

QByteArray PtyPeer::received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

QList<QByteArray> PtyPeer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

PtyPeer::Answer PtyPeer::frame(const QByteArray &payload)
{
    Answer answer;
    answer.pieces << LinkFrame::encode(payload);
    return answer;
}

// True once the tool has read everything written so far (the tty input queue
// is shared by every descriptor of the slave).
bool PtyPeer::waitConsumed()
{
    QElapsedTimer timer;
    timer.start();
    while (!m_bStop && timer.elapsed() < 5000) {
        int nPending = 0;
        if (ioctl(m_nSlave, FIONREAD, &nPending) != 0 || nPending == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

void PtyPeer::run()
{
    LinkFrame::Receiver receiver;
    uint8_t aBuffer[512];
    while (!m_bStop) {
        pollfd pfd{m_nMaster, POLLIN, 0};
        if (poll(&pfd, 1, 10) <= 0)
            continue;
        const ssize_t nRead = ::read(m_nMaster, aBuffer, sizeof(aBuffer));
        if (nRead <= 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.append(reinterpret_cast<const char *>(aBuffer), int(nRead));
        }
        for (ssize_t i = 0; i < nRead; ++i) {
            if (receiver.feed(aBuffer[i]) != LinkFrame::Receiver::Complete)
                continue;
            const QByteArray request = receiver.payloadBytes();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests << request;
            }
            const Answer answer = m_handler ? m_handler(request, lineRate()) : Answer();
            for (int n = 0; n < answer.pieces.size() && !m_bStop; ++n) {
                if (n > 0) {
                    if (answer.bWaitConsumed)
                        waitConsumed();
                    if (answer.nGapMs > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(answer.nGapMs));
                }
                const QByteArray &piece = answer.pieces[n];
                if (::write(m_nMaster, piece.constData(), size_t(piece.size())) < 0)
                    break;
            }
        }
    }
}
