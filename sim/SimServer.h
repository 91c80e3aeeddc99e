#ifndef SIMSERVER_H
#define SIMSERVER_H

#include "BootMonitor.h"
#include "LinkFrame.h"
#include "SimOptions.h"
#include "SimPty.h"

#include <QFile>

#include <chrono>

// Runs the simulated drive on its pseudo-terminal: wake-up, framing, line
// rate, injected faults, request log. The monitor logic is BootMonitor's.
class SimServer
{
public:
    explicit SimServer(const SimOptions &options);

    // Opens the terminal, loads the memory files, opens the log.
    bool start(QString &sError);
    QString portName() const { return m_pty.slaveName(); }
    // Serves until something arrives on nStopFd (or standard input closes
    // when asked to watch it). Returns false on a lasting terminal error.
    bool run(int nStopFd);
    // Writes the memory files back.
    bool finish(QString &sError);

private:
    using Clock = std::chrono::steady_clock;

    void receive(const char *pData, int nLength);
    void onByte(quint8 b, Clock::time_point arrival);
    void onFrame(const QByteArray &request, Clock::time_point arrival);
    void send(const QByteArray &bytes);
    Clock::duration byteTime() const;
    // Waits until the bytes have arrived on the wire; false, and logged as
    // ignored, when the tool sent them at another rate than the drive's.
    bool heardAtRate(Clock::time_point arrival, QLatin1String sWhat);
    // Serves what the terminal holds now; false on a lasting terminal error.
    bool serveWaiting();
    void startStream();
    void streamDue();
    const SimFault *fault(SimFault::Kind kind, int nRequest) const;
    void log(const QString &sLine);

    SimOptions m_options;
    BootMonitor m_monitor;
    SimPty m_pty;
    LinkFrame::Receiver m_receiver;
    QFile m_log;
    bool m_bAwake;
    int m_nWakeMatch = 0;
    int m_nRequests = 0;
    int m_nSilentAfter = -1;
    int m_nStreamAfter = -1; // stream fault: after this answer (0: from the start)
    quint8 m_nStreamByte = 0;
    bool m_bStreaming = false;
    Clock::time_point m_streamFrom;
    quint64 m_nStreamed = 0;        // bytes of the stream due so far
    quint32 m_nChunkRate = 0;       // the tool's line rate when the bytes in hand were read
    Clock::time_point m_listenFrom; // a powered-off drive hears nothing before
    Clock::time_point m_rxWireFree;
    Clock::time_point m_txWireFree;
};

#endif // SIMSERVER_H
