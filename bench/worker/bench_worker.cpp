// Programs images into the simulated drive, which delays every byte by its
// wire time (--throttle), and compares each job's wall time with the time
// the bytes it exchanged need on the line (10 bits per byte). The ratio shows
// how much the tool itself adds on top of the serial line.
//
//   bench_worker [--quick]      (--quick: 512 KiB cases only)

#include "BenchRun.h"
#include "SimDrive.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

long vmHwmKiB()
{
#ifdef Q_OS_LINUX
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
#endif
    return -1;
}

QByteArray randomImage(int nSize)
{
    QRandomGenerator gen(4321);
    QByteArray data(nSize, Qt::Uninitialized);
    for (int i = 0; i < nSize; ++i)
        data[i] = char(gen.bounded(256));
    return data;
}

struct Case
{
    const char *sName;
    bool bBitstream;
    int nSize;
    uint32_t nBaud;
    bool bCompress;
};

RunStats runOnce(const QString &sImage, const Case &c, bool bThrottle)
{
    SimDrive sim;
    QStringList args{QStringLiteral("--baud"), QString::number(c.nBaud)};
    if (bThrottle)
        args << QStringLiteral("--throttle");
    if (!sim.start(args)) {
        std::printf("bench_worker: simulator did not start: %s\n", qPrintable(sim.errorString()));
        return RunStats();
    }
    PgmEntry job;
    job.nMemory = Flash0;
    job.nOperation = Program;
    job.sImage = sImage;
    job.bCompress = c.bCompress;
    const RunStats stats = runBenchJob(sim.portName(), c.nBaud, job);
    sim.stop();
    return stats;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool bQuick = app.arguments().contains(QStringLiteral("--quick"));
    if (!SimDrive::isSupported()) {
        std::puts("bench_worker: the simulated drive needs a POSIX system");
        return 0;
    }
    const long nBaseKiB = vmHwmKiB();

    const Case cases[] = {
        {"bitstream 4 MiB @921600 compressed", true, 4 << 20, 921600, true},
        {"bitstream 4 MiB @921600 raw", true, 4 << 20, 921600, false},
        {"random    4 MiB @921600 compressed", false, 4 << 20, 921600, true},
        {"bitstream 512 KiB @115200 compressed", true, 512 << 10, 115200, true},
        {"bitstream 512 KiB @115200 raw", true, 512 << 10, 115200, false},
        {"random    512 KiB @115200 compressed", false, 512 << 10, 115200, true},
    };

    std::printf("%-38s %8s %10s %8s %6s %8s %6s %5s %5s %6s %7s %7s\n", "case", "wall s", "wire B", "bound s", "ratio",
                "image B", "sent/B", "comp", "raw", "tx", "over/tx", "base/tx");
    uint64_t nRawWire[2] = {0, 0}; // bitstream raw wire bytes, per size
    uint64_t nCompWire[2] = {0, 0};
    int nFailures = 0;
    for (const Case &c : cases) {
        if (bQuick && c.nSize > (512 << 10))
            continue;
        QTemporaryDir dir;
        const QByteArray image = c.bBitstream ? bitstreamImage(c.nSize) : randomImage(c.nSize);
        const QString sImage = dir.filePath(QStringLiteral("image.hex"));
        if (!writeHexImage(sImage, image)) {
            std::puts("bench_worker: srec_cat failed");
            return 1;
        }
        // Unthrottled first: what the tool, the terminal and the simulator cost
        // per exchange when the line itself takes no time.
        const RunStats fast = runOnce(sImage, c, false);
        const RunStats stats = runOnce(sImage, c, true);
        if (!fast.succeeded())
            ++nFailures;
        const JobStats &f = fast.jobs.value(0);
        const JobStats &j = stats.jobs.value(0);
        if (!stats.succeeded())
            ++nFailures;
        const uint64_t nWire = j.nWireBytesSent + j.nWireBytesReceived;
        const double dWall = j.nElapsedMs / 1000.0;
        const double dBound = double(nWire) * 10.0 / double(c.nBaud);
        // over/tx: wall time beyond the bound per exchange, in microseconds;
        // base/tx: the whole unthrottled run per exchange.
        std::printf("%-38s %8.2f %10llu %8.2f %6.3f %8llu %6.3f %5u %5u %6u %7.0f %7.0f\n", c.sName, dWall,
                    (unsigned long long)nWire, dBound, dBound > 0 ? dWall / dBound : 0.0,
                    (unsigned long long)j.nImageBytes,
                    j.nImageBytes ? double(j.nWireBytesSent) / double(j.nImageBytes) : 0.0, j.nBlocksCompressed,
                    j.nBlocksRaw, j.nTransactions, j.nTransactions ? (dWall - dBound) * 1e6 / j.nTransactions : 0.0,
                    f.nTransactions ? f.nElapsedMs * 1e3 / f.nTransactions : 0.0);
        std::fflush(stdout);
        if (c.bBitstream) {
            const int k = c.nSize > (512 << 10) ? 0 : 1;
            (c.bCompress ? nCompWire[k] : nRawWire[k]) = nWire;
        }
    }
    for (int k = 0; k < 2; ++k)
        if (nRawWire[k] && nCompWire[k])
            std::printf("compression saving, bitstream %s: %.1f %% of the wire bytes (%.2fx)\n",
                        k == 0 ? "4 MiB" : "512 KiB", 100.0 * (1.0 - double(nCompWire[k]) / double(nRawWire[k])),
                        double(nRawWire[k]) / double(nCompWire[k]));
    const long nPeakKiB = vmHwmKiB();
    std::printf("peak memory (VmHWM): %ld KiB; at start (Qt and the process): %ld KiB; added by the runs: %ld KiB\n",
                nPeakKiB, nBaseKiB, nPeakKiB - nBaseKiB);
    return nFailures == 0 ? 0 : 1;
}
