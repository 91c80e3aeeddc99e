// Round trips per second of a 128-byte write-object transaction against the
// simulated drive at 921600 baud, set beside the bound the wire itself puts
// on the same bytes (10 bits per byte, request and response frames).
//
// With --throttle the drive lets every byte take its wire time, so the ratio
// to the bound shows what the whole chain adds on top of the line. To tell
// the tool's share from the pseudo-terminal's and the scheduler's, the same
// exchange also runs in this process with plain POSIX calls on the same
// terminal (pre-built frame, one write, poll and read): the baseline. Without
// throttling, the per-transaction times are the cost of one exchange on this
// machine; the difference between link and baseline is the tool's own cost.
//
//   bench_protocol [transactions]      (default 2000)
#include "LinkFrame.h"
#include "SimDrive.h"
#include "TBootMonitorLink.h"
#include "TComSerialPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {
constexpr uint32_t kRate = 921600;
constexpr int kBlock = int(MonitorObjects::kPieceSize);

struct Figures
{
    bool bOk = false;
    double dLinkUs = 0;    // wall time per transaction through the link
    double dLinkCpuUs = 0; // this process's CPU time per link transaction
    double dPlainUs = 0;   // wall time per baseline exchange
};

double cpuSeconds()
{
#ifdef Q_OS_UNIX
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
    return 0;
#endif
}

// The same exchange without the link and QSerialPort: one write of the
// finished frame, then poll and read until the answer frame is complete.
bool plainExchanges(const QString &sPath, const QByteArray &frame, int nCount, double &dUs)
{
#ifdef Q_OS_UNIX
    const int nFd = ::open(sPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (nFd < 0)
        return false;
    termios tio{};
    tcgetattr(nFd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B921600);
    tcsetattr(nFd, TCSANOW, &tio);

    bool bOk = true;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < nCount && bOk; ++i) {
        bOk = ::write(nFd, frame.constData(), size_t(frame.size())) == frame.size();
        LinkFrame::Receiver receiver(8);
        uint8_t aBuffer[64];
        while (bOk && receiver.status() != LinkFrame::Receiver::Complete) {
            pollfd pfd{nFd, POLLIN, 0};
            const ssize_t n = ::poll(&pfd, 1, 2000) == 1 ? ::read(nFd, aBuffer, sizeof aBuffer) : -1;
            bOk = n > 0;
            for (ssize_t k = 0; k < n && receiver.status() != LinkFrame::Receiver::Complete; ++k)
                bOk = receiver.feed(aBuffer[k]) != LinkFrame::Receiver::Failed;
        }
    }
    dUs = 1e6 * double(timer.nsecsElapsed()) / 1e9 / nCount;
    ::close(nFd);
    return bOk;
#else
    Q_UNUSED(sPath);
    Q_UNUSED(frame);
    Q_UNUSED(nCount);
    Q_UNUSED(dUs);
    return false;
#endif
}

Figures measure(bool bThrottle, const QByteArray &block, const QByteArray &requestFrame, int nTransactions)
{
    Figures figures;
    SimDrive drive;
    QStringList arguments{"--baud", "9600"};
    if (bThrottle)
        arguments << "--throttle";
    if (!drive.start(arguments)) {
        std::fprintf(stderr, "bench_protocol: %s\n", qPrintable(drive.errorString()));
        return figures;
    }
    TBootMonitorLink link(new TComSerialPort);
    link.setPortName(drive.portName());
    link.setRequestedBaudRate(kRate);
    if (link.connectMonitor() != 0 || link.currentBaudRate() != kRate) {
        std::fprintf(stderr, "bench_protocol: no connection at %u baud\n", kRate);
        return figures;
    }
    const auto *pData = reinterpret_cast<const uint8_t *>(block.constData());
    for (int i = 0; i < 20; ++i) // warm-up
        link.writeObject(MonitorObjects::Flash::kData, 1, pData, kBlock);

    QElapsedTimer timer;
    timer.start();
    const double dCpuStart = cpuSeconds();
    for (int i = 0; i < nTransactions; ++i) {
        const int nResult = link.writeObject(MonitorObjects::Flash::kData, 1, pData, kBlock);
        if (nResult != 0) {
            std::fprintf(stderr, "bench_protocol: transaction %d failed: %s\n", i,
                         qPrintable(TBootMonitorLink::errorText(nResult)));
            return figures;
        }
    }
    figures.dLinkUs = 1e6 * double(timer.nsecsElapsed()) / 1e9 / nTransactions;
    figures.dLinkCpuUs = 1e6 * (cpuSeconds() - dCpuStart) / nTransactions;
    link.disconnectMonitor();

    // The drive stays at 921600; the baseline talks to it there.
    if (!plainExchanges(drive.portName(), requestFrame, nTransactions, figures.dPlainUs)) {
        std::fprintf(stderr, "bench_protocol: baseline exchange failed\n");
        return figures;
    }
    drive.stop();
    figures.bOk = true;
    return figures;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int nTransactions = argc > 1 ? qMax(1, atoi(argv[1])) : 2000;
    if (!SimDrive::isSupported()) {
        std::printf("bench_protocol: the simulated drive needs a POSIX system; skipped\n");
        return 0;
    }

    // A block as the flash jobs send it: arbitrary bytes, some of them DLEs.
    QByteArray block(kBlock, 0);
    uint32_t nSeed = 0x12345678;
    for (char &c : block) {
        nSeed = nSeed * 1103515245u + 12345u;
        c = char(nSeed >> 24);
    }
    const QByteArray requestFrame = LinkFrame::encode(QByteArray::fromHex("055E120180") + block);
    const int nRequestBytes = int(requestFrame.size());
    const int nResponseBytes = int(LinkFrame::encode(QByteArray::fromHex("0200")).size());
    const double dWireUs = 1e6 * 10.0 * (nRequestBytes + nResponseBytes) / kRate;

    std::printf("write-object of %d data bytes at %u baud, %d transactions per run\n", kBlock, kRate, nTransactions);
    std::printf("request frame %d bytes, response frame %d bytes\n\n", nRequestBytes, nResponseBytes);
    std::printf("%-34s %10s %12s %10s\n", "", "trips/s", "us each", "vs wire");
    std::printf("%-34s %10.1f %12.1f %10.3f\n", "wire-time bound", 1e6 / dWireUs, dWireUs, 1.0);

    const Figures throttled = measure(true, block, requestFrame, nTransactions);
    if (!throttled.bOk)
        return 1;
    std::printf("%-34s %10.1f %12.1f %10.3f\n", "throttled drive, link", 1e6 / throttled.dLinkUs, throttled.dLinkUs,
                dWireUs / throttled.dLinkUs);
    std::printf("%-34s %10.1f %12.1f %10.3f\n", "throttled drive, plain POSIX", 1e6 / throttled.dPlainUs,
                throttled.dPlainUs, dWireUs / throttled.dPlainUs);

    const Figures free = measure(false, block, requestFrame, nTransactions);
    if (!free.bOk)
        return 1;
    std::printf("%-34s %10.1f %12.1f\n", "unthrottled drive, link", 1e6 / free.dLinkUs, free.dLinkUs);
    std::printf("%-34s %10.1f %12.1f\n", "unthrottled drive, plain POSIX", 1e6 / free.dPlainUs, free.dPlainUs);

    std::printf("\nratio to the wire bound (throttled, link):   %.3f  (goal: at least 0.95)\n",
                dWireUs / throttled.dLinkUs);
    std::printf("link time / plain POSIX time (throttled):     %.3f\n", throttled.dLinkUs / throttled.dPlainUs);
    std::printf("tool's own cost per transaction (unthrottled): %.1f us wall above the baseline, "
                "%.1f us CPU\n",
                free.dLinkUs - free.dPlainUs, free.dLinkCpuUs);
    return 0;
}
