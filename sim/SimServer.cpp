#include "SimServer.h"

#include "MonitorObjects.h"

#include <algorithm>
#include <poll.h>
#include <unistd.h>

#include <thread>

using MonitorObjects::kWakePattern;

SimServer::SimServer(const SimOptions &options)
    : m_options(options), m_monitor(options.geometry, options.nBaudRate), m_bAwake(!options.bPoweredOff)
{
    QSet<int> verifies;
    for (const SimFault &f : options.faults) {
        if (f.nKind == SimFault::Verify)
            verifies.insert(f.nWhen);
        if (f.nKind == SimFault::Silent && (m_nSilentAfter < 0 || f.nWhen < m_nSilentAfter))
            m_nSilentAfter = f.nWhen;
        if (f.nKind == SimFault::Stream && (m_nStreamAfter < 0 || f.nWhen < m_nStreamAfter)) {
            m_nStreamAfter = f.nWhen;
            m_nStreamByte = quint8(f.nValue);
        }
    }
    m_monitor.setFailingVerifies(verifies);
    m_rxWireFree = m_txWireFree = Clock::now();
    m_listenFrom = Clock::now() + std::chrono::milliseconds(options.nWakeDelayMs);
}

bool SimServer::start(QString &sError)
{
    for (int i = 0; i < 2; ++i) {
        if (!m_options.sFlashFile[i].isEmpty() && !m_monitor.flash(i).load(m_options.sFlashFile[i], sError))
            return false;
        if (!m_options.sEepromFile[i].isEmpty() && !m_monitor.eeprom(i).load(m_options.sEepromFile[i], sError))
            return false;
    }
    if (!m_options.sLogFile.isEmpty()) {
        m_log.setFileName(m_options.sLogFile);
        if (!m_log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            sError = QStringLiteral("cannot write log %1: %2").arg(m_options.sLogFile, m_log.errorString());
            return false;
        }
    }
    if (!m_pty.open(sError))
        return false;
    if (m_nStreamAfter == 0)
        startStream();
    const SimGeometry &g = m_options.geometry;
    log(QStringLiteral("- start port=%1 baud=%2 state=%3 flash=0x%4 sector=0x%5 page=0x%6 eeprom=0x%7")
            .arg(m_pty.slaveName())
            .arg(m_options.nBaudRate)
            .arg(m_bAwake ? QStringLiteral("monitor") : QStringLiteral("powered-off"))
            .arg(g.nFlashSize, 0, 16)
            .arg(g.nSectorSize, 0, 16)
            .arg(g.nPageSize, 0, 16)
            .arg(g.nEepromSize, 0, 16));
    return true;
}

bool SimServer::finish(QString &sError)
{
    bool bOk = true;
    QString sOne;
    for (int i = 0; i < 2; ++i) {
        for (const SimMemory *pMemory : {&m_monitor.flash(i), &m_monitor.eeprom(i)}) {
            if (!pMemory->save(sOne)) {
                sError += sOne + QLatin1Char('\n');
                bOk = false;
            }
        }
    }
    log(QStringLiteral("- stop requests=%1").arg(m_nRequests));
    m_log.close();
    return bOk;
}

void SimServer::log(const QString &sLine)
{
    if (!m_log.isOpen())
        return;
    m_log.write(sLine.toUtf8() + '\n');
    m_log.flush();
}

SimServer::Clock::duration SimServer::byteTime() const
{
    // 8N1: start bit, 8 data bits, stop bit.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10ull * 1000000000ull / m_monitor.lineRate()));
}

bool SimServer::run(int nStopFd)
{
    for (;;) {
        pollfd fds[3];
        int nFds = 0;
        fds[nFds++] = {m_pty.masterFd(), POLLIN, 0};
        fds[nFds++] = {nStopFd, POLLIN, 0};
        if (m_options.bExitOnStdinEof)
            fds[nFds++] = {STDIN_FILENO, POLLIN, 0};
        const int nReady = ::poll(fds, nfds_t(nFds), m_bStreaming ? 5 : -1);
        if (nReady < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (m_bStreaming)
            streamDue();
        char c;
        if (fds[1].revents || (nFds > 2 && fds[2].revents && ::read(STDIN_FILENO, &c, 1) <= 0)) {
            // Requests already written when the stop came are still served,
            // so that the log tells everything the tool sent. One pass only:
            // a tool that keeps talking must not keep the drive from stopping.
            serveWaiting();
            return true;
        }
        if (fds[0].revents & POLLIN) {
            if (!serveWaiting())
                return false;
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Only while no slave descriptor is open; ours keeps it open,
            // but do not spin if the platform reports it anyway.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

bool SimServer::serveWaiting()
{
    char buffer[4096];
    const int n = m_pty.read(buffer, int(sizeof buffer));
    if (n > 0)
        receive(buffer, n);
    return n >= 0;
}

void SimServer::receive(const char *pData, int nLength)
{
    // The line rate is taken when the bytes are picked up, close to when
    // the tool sent them, not when a slow frame completes: the tool may have
    // moved to the next rate by then.
    m_nChunkRate = m_pty.peerLineRate();
    const Clock::time_point now = Clock::now();
    for (int i = 0; i < nLength; ++i) {
        Clock::time_point arrival = now;
        if (m_options.bThrottle) {
            // The bytes came through the terminal at once; on a wire each
            // one arrives a byte time after the previous one.
            m_rxWireFree = std::max(m_rxWireFree, now) + byteTime();
            arrival = m_rxWireFree;
        }
        onByte(quint8(pData[i]), arrival);
    }
}

void SimServer::onByte(quint8 b, Clock::time_point arrival)
{
    if (!m_bAwake) {
        // A drive starting up watches for the wake pattern and nothing else;
        // before it has power it hears nothing at all. A byte that breaks
        // the pattern off may be the start of it again.
        if (arrival < m_listenFrom)
            m_nWakeMatch = 0;
        else if (b == kWakePattern[m_nWakeMatch])
            ++m_nWakeMatch;
        else
            m_nWakeMatch = b == kWakePattern[0] ? 1 : 0;
        if (m_nWakeMatch == 4) {
            m_nWakeMatch = 0;
            if (heardAtRate(arrival, QLatin1String(" what=wake"))) {
                m_bAwake = true;
                log(QStringLiteral("- wake echoed"));
                send(QByteArray(reinterpret_cast<const char *>(kWakePattern), 4));
            }
        }
        return;
    }
    switch (m_receiver.feed(b)) {
    case LinkFrame::Receiver::Complete: onFrame(m_receiver.payloadBytes(), arrival); break;
    case LinkFrame::Receiver::Failed:
        // A monitor drops a broken request and waits for the next one.
        log(m_receiver.error() == LinkFrame::Receiver::Error::BadChecksum
                ? QStringLiteral("- ignored reason=checksum")
                : QStringLiteral("- ignored reason=overflow"));
        break;
    default: break;
    }
}

bool SimServer::heardAtRate(Clock::time_point arrival, QLatin1String sWhat)
{
    std::this_thread::sleep_until(arrival);
    // Where the terminal does not tell the tool's rate, assume it is right.
    if (m_nChunkRate == 0 || m_nChunkRate == m_monitor.lineRate())
        return true;
    // Sent at another rate, the bytes are line noise to the monitor.
    log(QStringLiteral("- ignored reason=rate%1 tool=%2 drive=%3")
            .arg(sWhat, QString::number(m_nChunkRate), QString::number(m_monitor.lineRate())));
    return false;
}

const SimFault *SimServer::fault(SimFault::Kind kind, int nRequest) const
{
    for (const SimFault &f : m_options.faults) {
        if (f.nKind == kind && f.nWhen == nRequest)
            return &f;
    }
    return nullptr;
}

void SimServer::onFrame(const QByteArray &request, Clock::time_point arrival)
{
    if (!heardAtRate(arrival, QLatin1String()))
        return;
    const int n = ++m_nRequests;
    QStringList faults;
    BootMonitor::Result result;
    // A request lost on the line, or sent to a drive that no longer answers,
    // is logged as the monitor took it but gets no answer.
    const char *sLost = m_bStreaming                                ? "stream"
                        : m_nSilentAfter >= 0 && n > m_nSilentAfter ? "silent"
                        : fault(SimFault::Drop, n)                  ? "drop"
                                                                    : nullptr;
    if (sLost) {
        result = m_monitor.busyAnswer(request, 0);
        faults << QStringLiteral("fault=") + QLatin1String(sLost);
    } else if (const SimFault *f = fault(SimFault::Busy, n)) {
        result = m_monitor.busyAnswer(request, f->nValue);
        faults << QStringLiteral("fault=busy");
    } else {
        result = m_monitor.handle(request);
    }
    const bool bAnswer = !sLost && !result.response.isEmpty();

    // The flash's own time: the monitor answers when the erase or the
    // programming is done.
    const auto busy = std::chrono::milliseconds(qint64(result.nSectorsErased) * m_options.nEraseMs)
                      + std::chrono::microseconds(qint64(result.nPagesProgrammed) * m_options.nPageUs);
    if (busy.count() > 0)
        std::this_thread::sleep_for(busy);

    QByteArray wire;
    if (bAnswer) {
        if (const SimFault *f = fault(SimFault::Life, n)) {
            wire.fill(char(LinkFrame::kLifeTrigger), f->nValue);
            faults << QStringLiteral("fault=life");
        }
        QByteArray frame = LinkFrame::encode(result.response);
        if (fault(SimFault::Corrupt, n)) {
            frame[frame.size() - 1] = char(~quint8(frame.at(frame.size() - 1)));
            faults << QStringLiteral("fault=corrupt");
        }
        wire += frame;
    }

    const QString sHead = QStringLiteral("%1 %2 %3 len=%4 status=%5")
                              .arg(n)
                              .arg(result.sService, result.sObject)
                              .arg(result.nLength)
                              .arg(bAnswer ? QString::number(result.nStatus) : QStringLiteral("none"));
    log((QStringList(sHead) + result.details + faults).join(QLatin1Char(' ')));

    if (!wire.isEmpty())
        send(wire);
    if (bAnswer && result.nNewLineRate) {
        // The answer still goes out at the old rate; then the monitor
        // listens at the new one.
        m_monitor.setLineRate(result.nNewLineRate);
    }
    if (n == m_nStreamAfter)
        startStream();
}

void SimServer::startStream()
{
    m_bStreaming = true;
    m_streamFrom = Clock::now();
    m_nStreamed = 0;
    log(QStringLiteral("- stream byte=0x%1").arg(m_nStreamByte, 2, 16, QLatin1Char('0')));
}

// The stream byte at the line rate (one byte time each), in what is due
// since the last call. What the tool does not read in time is lost on the
// wire, as on a real line, so a tool that stops reading never blocks the drive.
void SimServer::streamDue()
{
    const quint64 nDue = quint64((Clock::now() - m_streamFrom) / byteTime());
    const quint64 nNew = nDue - m_nStreamed;
    m_nStreamed = nDue;
    constexpr int kMaxQueued = 2048;
    const int nRoom = kMaxQueued - m_pty.pendingForTool();
    const int nSend = int(std::min<quint64>(nNew, quint64(std::max(nRoom, 0))));
    if (nSend > 0)
        m_pty.write(QByteArray(nSend, char(m_nStreamByte)).constData(), nSend);
}

void SimServer::send(const QByteArray &bytes)
{
    if (!m_options.bThrottle) {
        m_pty.write(bytes.constData(), bytes.size());
        return;
    }
    // Hand each byte over when the wire would have finished sending it, in
    // batches of whatever is due, so that fast rates do not cost one sleep
    // per byte.
    const Clock::duration bt = byteTime();
    Clock::time_point start = std::max(Clock::now(), m_txWireFree);
    int nSent = 0;
    while (nSent < bytes.size()) {
        std::this_thread::sleep_until(start + bt * (nSent + 1));
        const Clock::time_point now = Clock::now();
        int nDue = int((now - start) / bt);
        nDue = std::min(std::max(nDue, nSent + 1), int(bytes.size()));
        m_pty.write(bytes.constData() + nSent, nDue - nSent);
        nSent = nDue;
    }
    m_txWireFree = start + bt * bytes.size();
}
