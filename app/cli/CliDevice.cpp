// The device commands: program, erase, read and the EEPROM commands. Each
// builds one job list for one port and hands it to a TCliRun, which drives
// the same UpdateWorker the window uses.

#include "CliCommand.h"
#include "CliImage.h"
#include "CliText.h"
#include "TCliInterrupt.h"
#include "TCliRun.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

// Options every device command shares, checked once.
struct DeviceOptions
{
    BaseParams params;
    uint32_t nWakeTimeoutMs = 0;
};

// Returns ExitOk or the usage error already reported.
int parseDeviceOptions(const char *sCommand, const QCommandLineParser &parser, DeviceOptions &options)
{
    const QString sPort = parser.value(QStringLiteral("port"));
    if (sPort.isEmpty())
        return usageFail(sCommand, QStringLiteral("%1: --port DEV is required").arg(QLatin1String(sCommand)));
    options.params.sPort = sPort;
    QString sError;
    if (!parseCliBaudRate(parser.value(QStringLiteral("baud")), options.params.nBaudrate, sError))
        return usageFail(sCommand, sError);
    const QString sBoot = parser.value(QStringLiteral("boot"));
    if (sBoot == QLatin1String("off"))
        options.params.nBootType = PoweredOff;
    else if (sBoot == QLatin1String("mon") || sBoot == QLatin1String("monitor"))
        options.params.nBootType = RunningMonitor;
    else
        return usageFail(sCommand, QStringLiteral("--boot: '%1' is neither \"off\" nor \"mon\"").arg(sBoot));
    qint64 nSeconds = 0;
    if (!parseCliNumber(parser.value(QStringLiteral("wake-timeout")), 0, 24 * 3600, nSeconds))
        return usageFail(sCommand, QStringLiteral("--wake-timeout: '%1' is not a number of seconds (0 to 86400)")
                                       .arg(parser.value(QStringLiteral("wake-timeout"))));
    options.nWakeTimeoutMs = uint32_t(nSeconds * 1000);
    return ExitOk;
}

// --flash0/--flash1 or --eeprom0/--eeprom1: exactly one.
int parseMemory(const char *sCommand, const QCommandLineParser &parser, const char *sFirst, const char *sSecond,
                int nFirstMemory, int32_t &nMemory)
{
    const bool bFirst = parser.isSet(QLatin1String(sFirst));
    const bool bSecond = parser.isSet(QLatin1String(sSecond));
    if (bFirst == bSecond)
        return usageFail(sCommand, QStringLiteral("%1: give exactly one of --%2 and --%3")
                                       .arg(QLatin1String(sCommand), QLatin1String(sFirst), QLatin1String(sSecond)));
    nMemory = bFirst ? nFirstMemory : nFirstMemory + 1;
    return ExitOk;
}

int parseRange(const char *sCommand, const QCommandLineParser &parser, PgmEntry &entry)
{
    qint64 n = 0;
    if (!parseCliNumber(parser.value(QStringLiteral("offset")), 0, 0x7FFFFFFF, n))
        return usageFail(sCommand, QStringLiteral("--offset: '%1' is not an address (decimal or 0x hexadecimal)")
                                       .arg(parser.value(QStringLiteral("offset"))));
    entry.nOffset = int32_t(n);
    entry.nLength = -1;
    if (parser.isSet(QStringLiteral("length"))) {
        if (!parseCliNumber(parser.value(QStringLiteral("length")), 1, 0x7FFFFFFF, n))
            return usageFail(sCommand, QStringLiteral("--length: '%1' is not a positive byte count")
                                           .arg(parser.value(QStringLiteral("length"))));
        entry.nLength = int32_t(n);
    }
    return ExitOk;
}

// A read's destination must be creatable before the drive is touched; a
// read that cannot store its result would only waste the drive's time.
bool checkOutputPath(const QString &sPath)
{
    const QFileInfo info(sPath);
    const QFileInfo dir(info.absolutePath());
    if (!dir.isDir() || !dir.isWritable()) {
        fail(ExitFailed, QStringLiteral("%1: cannot create a file in %2").arg(sPath, info.absolutePath()));
        return false;
    }
    return true;
}

// Runs the job list on the port until the worker has finished and returns
// the exit status. Ctrl-C and SIGTERM cancel through the worker's flag.
int executeRun(const DeviceOptions &options, const QVector<PgmEntry> &jobs, const QVector<quint64> &jobBytes)
{
    CliRunSetup setup;
    setup.params = options.params;
    setup.jobs = jobs;
    setup.jobBytes = jobBytes;
    setup.nWakeTimeoutMs = options.nWakeTimeoutMs;

    TCliProgress progress(QString(), TCliProgress::stdoutIsTerminal());
    TCliRun run(setup, &progress);
    TCliInterrupt interrupt;
    QObject::connect(&interrupt, &TCliInterrupt::interrupted, &run, [&run, &progress](int) {
        progress.note(QStringLiteral("Cancelling after the current block (Ctrl-C again ends at once)..."));
        run.cancel();
    });
    QObject::connect(&run, &TCliRun::finished, QCoreApplication::instance(), &QCoreApplication::quit,
                     Qt::QueuedConnection);

    if (options.params.nBootType == PoweredOff)
        progress.note(QStringLiteral("Switch the drive on now; waiting for its boot monitor to answer on %1%2.")
                          .arg(options.params.sPort,
                               options.nWakeTimeoutMs
                                   ? QStringLiteral(" (at most %1 s)").arg(options.nWakeTimeoutMs / 1000)
                                   : QStringLiteral(" (Ctrl-C to give up)")));
    run.start();
    QCoreApplication::exec();

    // A read whose file could not be written has already said so and counts
    // as failed; the converter's save never leaves a torn file behind.
    const int nStatus = run.exitStatus();
    if (run.wasCancelled())
        progress.note(QStringLiteral("Cancelled; the port has been closed."));
    return nStatus;
}

int runRangeCommand(const char *sCommand, const QCommandLineParser &parser, bool bEeprom, int nOperation,
                    bool bHasFile)
{
    DeviceOptions options;
    PgmEntry entry;
    int nStatus = parseDeviceOptions(sCommand, parser, options);
    if (nStatus == ExitOk)
        nStatus = bEeprom ? parseMemory(sCommand, parser, "eeprom0", "eeprom1", Eeprom0, entry.nMemory)
                          : parseMemory(sCommand, parser, "flash0", "flash1", Flash0, entry.nMemory);
    if (nStatus == ExitOk)
        nStatus = parseRange(sCommand, parser, entry);
    if (nStatus != ExitOk)
        return nStatus;
    entry.nOperation = nOperation;
    entry.bCompress = nOperation != Erase;
    quint64 nBytes = entry.nLength > 0 ? quint64(entry.nLength) : 0;
    if (bHasFile) {
        entry.sImage = parser.positionalArguments().at(0);
        if (nOperation == Read) {
            if (!checkOutputPath(entry.sImage))
                return ExitFailed;
        } else {
            HexConv::FileType eType;
            HexConv::Extent extent;
            QString sError;
            if (!scanCliImage(entry.sImage, eType, extent, sError))
                return sError.isEmpty() ? ExitFailed : fail(ExitFailed, sError);
        }
    }
    return executeRun(options, {entry}, {nBytes});
}

} // namespace

int runProgram(const QCommandLineParser &parser)
{
    const char *sCommand = "program";
    DeviceOptions options;
    const int nStatus = parseDeviceOptions(sCommand, parser, options);
    if (nStatus != ExitOk)
        return nStatus;
    if (!parser.isSet(QStringLiteral("flash0")) && !parser.isSet(QStringLiteral("flash1")))
        return usageFail(sCommand, QStringLiteral("program: give --flash0 IMAGE and/or --flash1 IMAGE"));

    QVector<PgmEntry> jobs;
    QVector<quint64> jobBytes;
    const char *const selectors[] = {"flash0", "flash1"};
    for (int nMemory = Flash0; nMemory <= Flash1; ++nMemory) {
        const QString sOption = QLatin1String(selectors[nMemory]);
        if (!parser.isSet(sOption))
            continue;
        if (parser.values(sOption).size() > 1)
            return usageFail(sCommand, QStringLiteral("program: --%1 given more than once").arg(sOption));
        PgmEntry entry;
        entry.nMemory = nMemory;
        entry.nOperation = Program;
        entry.sImage = parser.value(sOption);
        entry.bCompress = !parser.isSet(QStringLiteral("no-compress"));
        // Checked before the drive is touched: a missing or malformed image
        // must not cost a wake-up, an erase or a half-programmed flash.
        HexConv::FileType eType;
        HexConv::Extent extent;
        QString sError;
        if (!scanCliImage(entry.sImage, eType, extent, sError))
            return sError.isEmpty() ? ExitFailed : fail(ExitFailed, sError);
        if (!extent.bHasData)
            return fail(ExitFailed, QStringLiteral("%1: the file holds no data").arg(entry.sImage));
        jobs << entry;
        jobBytes << quint64(extent.nHighest) - extent.nLowest + 1;
    }
    return executeRun(options, jobs, jobBytes);
}

int runErase(const QCommandLineParser &parser)
{
    return runRangeCommand("erase", parser, false, Erase, false);
}

int runRead(const QCommandLineParser &parser)
{
    return runRangeCommand("read", parser, false, Read, true);
}

int runEepromRead(const QCommandLineParser &parser)
{
    return runRangeCommand("eeprom-read", parser, true, Read, true);
}

int runEepromErase(const QCommandLineParser &parser)
{
    return runRangeCommand("eeprom-erase", parser, true, Erase, false);
}

int runEepromWrite(const QCommandLineParser &parser)
{
    return runRangeCommand("eeprom-write", parser, true, Program, true);
}
