// Updates that skip what the drive already holds, against the full update,
// with the flash's own timing: the simulated drive takes 1500 ms per sector
// erase and 1 ms per 256-byte page (the middle of a real serial
// configuration flash) and every byte its wire time (--throttle). For a
// 1 MiB firmware-like image: the same image already in flash, its first half
// already there (an interrupted run; the rest holds the old firmware), and a
// fully changed image, each with and without skipping, at 921600 and 115200
// baud. Prints each job's time, its ratio to the full update from the same
// flash, the bytes on the wire and the sectors erased and skipped; every
// run's flash is checked against the image.
//
//   bench_skip [--quick]   (--quick: a 128 KiB image, half of it already in
//                           flash, at 921600 with short flash times and no
//                           throttling: a smoke run of a few seconds)

#include "BenchRun.h"
#include "SimDrive.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

struct Settings
{
    int nImageSize;
    QStringList simArgs; // timing and throttling
    QList<uint32_t> bauds;
};

struct Outcome
{
    bool bOk = false;
    JobStats job;
};

Outcome runOnce(const Settings &settings, uint32_t nBaud, const QString &sImage, const QByteArray &flash,
                const QByteArray &image, bool bSkip)
{
    Outcome outcome;
    SimDrive sim;
    const QString sFlash = sim.writeFile(QStringLiteral("flash0.bin"), flash);
    QStringList args = settings.simArgs;
    args << QStringLiteral("--baud") << QString::number(nBaud) << QStringLiteral("--flash-size")
         << QString::number(flash.size()) << QStringLiteral("--flash0") << sFlash;
    if (sFlash.isEmpty() || !sim.start(args)) {
        std::printf("bench_skip: simulator did not start: %s\n", qPrintable(sim.errorString()));
        return outcome;
    }
    PgmEntry job;
    job.nMemory = Flash0;
    job.nOperation = Program;
    job.sImage = sImage;
    job.bCompress = true;
    job.bSkipUnchanged = bSkip;
    const RunStats stats = runBenchJob(sim.portName(), nBaud, job);
    outcome.job = stats.jobs.value(0);
    if (!sim.stop())
        return outcome;
    QFile file(sFlash);
    const QByteArray after = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    // The image's sectors hold the image and FF after it; the rest is as it was.
    QByteArray want = flash;
    want.replace(0, image.size(), image);
    const int nSector = 64 * 1024;
    const int nTouched = (image.size() + nSector - 1) / nSector * nSector;
    want.replace(image.size(), nTouched - image.size(), QByteArray(nTouched - image.size(), char(0xFF)));
    outcome.bOk = stats.succeeded() && after == want;
    if (!outcome.bOk)
        std::printf("  the run failed or left the flash other than the full update does\n");
    return outcome;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (!SimDrive::isSupported()) {
        std::puts("bench_skip: the simulated drive needs a POSIX system");
        return 0;
    }
    const bool bQuick = app.arguments().contains(QStringLiteral("--quick"));
    const Settings settings =
        bQuick ? Settings{128 << 10, {"--erase-ms", "20", "--page-us", "10"}, {921600}}
               : Settings{1 << 20, {"--erase-ms", "1500", "--page-us", "1000", "--throttle"}, {921600, 115200}};

    QTemporaryDir dir;
    const QByteArray image = bitstreamImage(settings.nImageSize, 1234);
    const QByteArray old = bitstreamImage(settings.nImageSize, 777);
    const QString sImage = dir.filePath(QStringLiteral("image.hex"));
    if (!writeHexImage(sImage, image)) {
        std::puts("bench_skip: srec_cat failed");
        return 1;
    }
    const int nFlashSize = 2 * settings.nImageSize;
    QByteArray same(nFlashSize, char(0xFF));
    same.replace(0, image.size(), image);
    QByteArray changed(nFlashSize, char(0xFF));
    changed.replace(0, old.size(), old);
    QByteArray half = changed;
    half.replace(0, image.size() / 2, image.left(image.size() / 2));
    const struct
    {
        const char *sName;
        const QByteArray &flash;
    } scenarios[] = {{"same image", same}, {"first half there", half}, {"fully changed", changed}};

    std::printf("%-8s %-18s %-5s %8s %6s %10s %6s %7s\n", "baud", "flash before", "skip", "time s", "ratio", "wire B",
                "erased", "skipped");
    int nFailures = 0;
    for (uint32_t nBaud : settings.bauds) {
        for (const auto &scenario : scenarios) {
            // The half case takes every path: skip, erase, program.
            if (bQuick && &scenario != &scenarios[1])
                continue;
            const Outcome full = runOnce(settings, nBaud, sImage, scenario.flash, image, false);
            const Outcome skip = runOnce(settings, nBaud, sImage, scenario.flash, image, true);
            nFailures += (full.bOk ? 0 : 1) + (skip.bOk ? 0 : 1);
            for (const Outcome *p : {&full, &skip}) {
                const JobStats &j = p->job;
                std::printf("%-8u %-18s %-5s %8.2f %6.3f %10llu %6u %7u\n", nBaud, scenario.sName,
                            p == &skip ? "yes" : "no", j.nElapsedMs / 1000.0,
                            full.job.nElapsedMs > 0 ? double(j.nElapsedMs) / double(full.job.nElapsedMs) : 0.0,
                            (unsigned long long)(j.nWireBytesSent + j.nWireBytesReceived), j.nSectorsErased,
                            j.nSectorsSkipped);
            }
            std::fflush(stdout);
        }
    }
    return nFailures == 0 ? 0 : 1;
}
