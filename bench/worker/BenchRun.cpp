#include "BenchRun.h"

#include "UpdateRun.h"

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <cstdio>

QByteArray bitstreamImage(int nSize, quint32 nSeed)
{
    QRandomGenerator gen(nSeed);
    QByteArray data;
    data.reserve(nSize);
    while (data.size() < nSize) {
        const int nKind = int(gen.bounded(3));
        const int nRun = int(gen.bounded(256, 6000));
        if (nKind == 0)
            data.append(nRun, char(0xFF));
        else if (nKind == 1)
            data.append(nRun, char(0x00));
        else
            for (int i = 0; i < nRun; ++i)
                data.append(char(gen.bounded(256)));
    }
    data.truncate(nSize);
    data[0] = char(0x12);
    data[nSize - 1] = char(0x34);
    return data;
}

bool writeHexImage(const QString &sPath, const QByteArray &data)
{
    const QString sBin = sPath + QStringLiteral(".bin");
    QFile bin(sBin);
    if (!bin.open(QIODevice::WriteOnly) || bin.write(data) != data.size())
        return false;
    bin.close();
    QProcess proc;
    proc.start(QStringLiteral("srec_cat"),
               {sBin, QStringLiteral("-binary"), QStringLiteral("-o"), sPath, QStringLiteral("-intel")});
    const bool bOk = proc.waitForFinished(120000) && proc.exitCode() == 0;
    QFile::remove(sBin);
    return bOk;
}

RunStats runBenchJob(const QString &sPort, uint32_t nBaud, const PgmEntry &job)
{
    BaseParams params;
    params.sPort = sPort;
    params.nBaudrate = nBaud;
    params.nBootType = RunningMonitor;
    UpdateRun run;
    QEventLoop loop;
    QObject::connect(&run, &UpdateRun::ShowCritical, [](const QString &t, const QString &s) {
        std::printf("  failure: %s: %s\n", qPrintable(t), qPrintable(s));
    });
    QObject::connect(&run, &UpdateRun::finished, &loop, &QEventLoop::quit);
    run.start(params, {job});
    loop.exec();
    return run.statistics();
}
