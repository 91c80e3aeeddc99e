// Production-line figure: servoprog-cli programs the sample image into one
// simulated drive, then into three at once (--port A --port B --port C). Every
// simulator delays each byte by its wire time (--throttle), as a real serial
// line does, so the runs are bound by the line, not by this machine. Each
// measurement uses fresh drives (a flash full of FF).
//
//   bench_parallel [--baud RATE] [--drives N] [--image FILE]
//
// Prints the wall time of one drive, of N drives, and their ratio (the goal
// is about 1: N drives in the time of one).

#include "SimDrive.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Measurement
{
    bool bOk = false;
    qint64 nWallMs = 0;
    QString sError;
};

Measurement programDrives(int nDrives, const QString &sBaud, const QString &sImage)
{
    Measurement m;
    std::vector<std::unique_ptr<SimDrive>> drives;
    QStringList args{QStringLiteral("program"),
                     QStringLiteral("--boot"),
                     QStringLiteral("mon"),
                     QStringLiteral("--baud"),
                     sBaud,
                     QStringLiteral("--flash0"),
                     sImage};
    for (int i = 0; i < nDrives; ++i) {
        auto pDrive = std::make_unique<SimDrive>();
        if (!pDrive->start({QStringLiteral("--throttle")})) {
            m.sError = pDrive->errorString();
            return m;
        }
        args << QStringLiteral("--port") << pDrive->portName();
        drives.push_back(std::move(pDrive));
    }
    QProcess cli;
    QElapsedTimer timer;
    timer.start();
    cli.start(QStringLiteral(SERVOPROG_CLI_PATH), args);
    if (!cli.waitForStarted(10000) || !cli.waitForFinished(30 * 60 * 1000)) {
        m.sError = QStringLiteral("servoprog-cli did not run to its end");
        return m;
    }
    m.nWallMs = timer.elapsed();
    m.bOk = cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0;
    if (!m.bOk)
        m.sError = QString::fromLocal8Bit(cli.readAllStandardError());
    return m;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString sBaud = QStringLiteral("460800");
    QString sImage = QStringLiteral(SERVOPROG_SAMPLE_IMAGE);
    int nDrives = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--baud"))
            sBaud = args.at(i + 1);
        else if (args.at(i) == QLatin1String("--drives"))
            nDrives = qMax(2, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--image"))
            sImage = args.at(i + 1);
    }
    if (!SimDrive::isSupported()) {
        std::fprintf(stderr, "bench_parallel: the simulated drive needs a POSIX system\n");
        return 1;
    }
    std::printf("servoprog-cli program, throttled simulated drives at %s baud, %d cores\n", qPrintable(sBaud),
                QThread::idealThreadCount());
    const Measurement one = programDrives(1, sBaud, sImage);
    if (!one.bOk) {
        std::fprintf(stderr, "bench_parallel: one drive failed: %s\n", qPrintable(one.sError));
        return 1;
    }
    std::printf("1 drive:  %8.2f s\n", double(one.nWallMs) / 1000.0);
    const Measurement several = programDrives(nDrives, sBaud, sImage);
    if (!several.bOk) {
        std::fprintf(stderr, "bench_parallel: %d drives failed: %s\n", nDrives, qPrintable(several.sError));
        return 1;
    }
    std::printf("%d drives: %8.2f s\n", nDrives, double(several.nWallMs) / 1000.0);
    std::printf("ratio %d drives / 1 drive: %.2f (serial would be %d.00)\n", nDrives,
                double(several.nWallMs) / double(qMax<qint64>(1, one.nWallMs)), nDrives);
    return 0;
}
