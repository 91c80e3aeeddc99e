// The device commands: program, erase, read and the EEPROM commands. Each
// builds one job list and hands it, with every port given, to a CliLine:
// one CliRun per drive, each driving the same UpdateWorker the window uses.

#include "CliCommand.h"
#include "CliFiles.h"
#include "CliImage.h"
#include "CliLine.h"
#include "CliPorts.h"
#include "CliProgress.h"
#include "CliReport.h"
#include "CliText.h"
#include "CliTrace.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <limits>
#include <memory>

namespace {

// Options every device command shares, checked once.
struct CliDeviceOptions
{
    // What every drive's run shares: the connection and the run options
    // (each drive gets its port, the jobs and their facts).
    CliRunSetup run;
    QStringList ports; // every port, in the order given, USB identities and links resolved
    QString sReportFile;
    QString sLogFile;
    // Every file the command reads or writes, for the identity check.
    CliFileSet files;
};

const int kMaxRetries = 10;

// Ports from --ports-from: one per line; blank lines and '#' comments
// skipped. Only a regular file is read: a FIFO would hold the tool.
bool readPortsFile(const QString &sPath, QStringList &ports, QString &sError)
{
    QFile file;
    FileKind eKind = FileKind::Missing;
    if (!openRegularFile(file, sPath, &eKind)) {
        sError = QStringLiteral("--ports-from: %1").arg(cliInputProblem(sPath, eKind));
        return false;
    }
    while (!file.atEnd()) {
        const QString sLine = QString::fromUtf8(file.readLine()).section(QLatin1Char('#'), 0, 0).trimmed();
        if (!sLine.isEmpty())
            ports << sLine;
    }
    return true;
}

// Returns ExitOk, or the usage error (or the refusal of a port that cannot
// be found, resolveCliPorts()) already reported. bSeveralPorts: the command
// may run on several drives at once (it writes no output file).
int parseDeviceOptions(const char *sCommand, const QCommandLineParser &parser, bool bSeveralPorts,
                       CliDeviceOptions &options)
{
    QStringList ports = parser.values(QStringLiteral("port"));
    // An empty --port (an unset variable in a script) names no drive; it
    // must not be dropped while the other drives run.
    if (ports.contains(QString()))
        return usageFail(sCommand, QStringLiteral("%1: --port with an empty port name").arg(QLatin1String(sCommand)));
    // Commands that write an output file offer no --ports-from.
    const QStringList portFiles = bSeveralPorts ? parser.values(QStringLiteral("ports-from")) : QStringList();
    for (const QString &sFile : portFiles) {
        options.files.addInput(QStringLiteral("--ports-from"), sFile);
        QString sError;
        if (!readPortsFile(sFile, ports, sError))
            return usageFail(sCommand, sError);
    }
    if (ports.isEmpty() && !portFiles.isEmpty())
        return usageFail(sCommand, QStringLiteral("%1: --ports-from %2 holds no port (only blank lines and comments)")
                                       .arg(QLatin1String(sCommand), portFiles.join(QStringLiteral(", "))));
    if (ports.isEmpty())
        return usageFail(sCommand, QStringLiteral("%1: --port DEV is required").arg(QLatin1String(sCommand)));
    if (ports.size() > 1 && !bSeveralPorts)
        return usageFail(
            sCommand,
            QStringLiteral("%1 writes one output file: give exactly one --port").arg(QLatin1String(sCommand)));
    QString sError;
    if (!parseCliBaudRate(parser.value(QStringLiteral("baud")), options.run.params.nBaudrate, sError))
        return usageFail(sCommand, sError);
    const QString sBoot = parser.value(QStringLiteral("boot"));
    if (sBoot == QLatin1String("off"))
        options.run.params.nBootType = PoweredOff;
    else if (sBoot == QLatin1String("mon") || sBoot == QLatin1String("monitor"))
        options.run.params.nBootType = RunningMonitor;
    else
        return usageFail(sCommand, QStringLiteral("--boot: '%1' is neither \"off\" nor \"mon\"").arg(sBoot));
    qint64 nSeconds = 0;
    if (parseCliNumber(parser.value(QStringLiteral("wake-timeout")), 0, 24 * 3600, nSeconds) != CliNumber::Ok)
        return usageFail(sCommand, QStringLiteral("--wake-timeout: '%1' is not a number of seconds (0 to 86400)")
                                       .arg(parser.value(QStringLiteral("wake-timeout"))));
    options.run.options.nWakeTimeoutMs = uint32_t(nSeconds * 1000);
    qint64 nRetries = 0;
    if (parseCliNumber(parser.value(QStringLiteral("retries")), 0, kMaxRetries, nRetries) != CliNumber::Ok)
        return usageFail(sCommand, QStringLiteral("--retries: '%1' is not a number from 0 to %2")
                                       .arg(parser.value(QStringLiteral("retries")))
                                       .arg(kMaxRetries));
    options.run.options.nRetries = int(nRetries);
    options.sReportFile = parser.value(QStringLiteral("report"));
    options.sLogFile = parser.value(QStringLiteral("log"));
    if (parser.isSet(QStringLiteral("report")) && options.sReportFile.isEmpty())
        return usageFail(sCommand, QStringLiteral("--report: a file name is needed"));
    if (parser.isSet(QStringLiteral("log")) && options.sLogFile.isEmpty())
        return usageFail(sCommand, QStringLiteral("--log: a file name is needed"));
    if (!options.sReportFile.isEmpty())
        options.files.addOutput(QStringLiteral("--report"), options.sReportFile);
    if (!options.sLogFile.isEmpty())
        options.files.addOutput(QStringLiteral("--log"), options.sLogFile);

    // Last, once the command line is known to be right: USB identities and
    // links name whatever port the converter has now.
    QStringList resolved;
    const int nResolved = resolveCliPorts(sCommand, ports, resolved);
    if (nResolved != ExitOk)
        return nResolved;
    // Two workers on one port would garble each other's requests, whatever
    // the port is called.
    QStringList identities;
    for (const QString &sPort : resolved)
        identities << cliPortIdentity(sPort);
    for (int i = 0; i < ports.size(); ++i) {
        const qsizetype nSame = identities.indexOf(identities.at(i), i + 1);
        if (nSame < 0)
            continue;
        QString sText = QStringLiteral("%1: port %2 given more than once").arg(QLatin1String(sCommand), ports.at(i));
        if (ports.at(nSame) != ports.at(i))
            sText += QStringLiteral(" (also as %1)").arg(ports.at(nSame));
        return usageFail(sCommand, sText);
    }
    // Every port takes part in the files' identity check: an output or an
    // input that is one of them is refused there, before anything is sent.
    for (int i = 0; i < ports.size(); ++i)
        options.files.addPort(ports.at(i), resolved.at(i));
    options.ports = resolved;
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

// One number of --offset or --length, from nMin up to what a job carries;
// sUnit follows the limit a too large one is told, sWhat says what it is not.
int parseRangeNumber(const char *sCommand, const QCommandLineParser &parser, const QString &sOption, qint64 nMin,
                     const QString &sUnit, const QString &sWhat, int32_t &nValue)
{
    const qint64 nLimit = std::numeric_limits<int32_t>::max();
    const QString sText = parser.value(sOption);
    qint64 n = 0;
    const CliNumber eNumber = parseCliNumber(sText, nMin, nLimit, n);
    if (eNumber == CliNumber::TooLarge)
        return usageFail(
            sCommand,
            QStringLiteral("--%1: '%2' is too large (at most %3%4)").arg(sOption, sText, hexText(nLimit), sUnit));
    if (eNumber != CliNumber::Ok)
        return usageFail(sCommand, QStringLiteral("--%1: '%2' is not %3").arg(sOption, sText, sWhat));
    nValue = int32_t(n);
    return ExitOk;
}

// --offset and --length: an address and a byte count the jobs can carry.
int parseRange(const char *sCommand, const QCommandLineParser &parser, PgmEntry &entry)
{
    const int nStatus = parseRangeNumber(sCommand, parser, QStringLiteral("offset"), 0, QString(),
                                         QStringLiteral("an address (decimal or 0x hexadecimal)"), entry.nOffset);
    if (nStatus != ExitOk || !parser.isSet(QStringLiteral("length")))
        return nStatus;
    return parseRangeNumber(sCommand, parser, QStringLiteral("length"), 1, QStringLiteral(" bytes"),
                            QStringLiteral("a positive byte count"), entry.nLength);
}

// What is known of a job before any drive is touched: the range it was
// given and, for a job that writes an image, the image, checked: a missing
// or malformed image must not cost a wake-up, an erase or a half-programmed
// flash. A flash is programmed where the image has data, which becomes the
// job's range. An EEPROM is written whole (every byte of the range, FF where
// the file has no data), so a file without data in the range would wipe the
// drive's parameters. The range's end is known here only when --length was
// given; without it the worker refuses data beyond the EEPROM's end once the
// drive has answered its size.
int jobFacts(const PgmEntry &entry, CliJobFacts &fact)
{
    fact.bHasRange = entry.nLength > 0;
    fact.nFirst = quint64(entry.nOffset);
    fact.nLast = fact.bHasRange ? fact.nFirst + quint64(entry.nLength) - 1 : 0;
    if (entry.nOperation != Program)
        return ExitOk;
    // A flash job's image counts whole, an EEPROM job's against its range.
    const bool bEeprom = entry.nMemory >= Eeprom0;
    const qint64 nFirst = bEeprom ? entry.nOffset : 0;
    const qint64 nLast = fact.bHasRange ? qint64(fact.nLast) : std::numeric_limits<qint64>::max();
    ImageFile image(entry.sImage);
    if (!scanCliImage(image, nFirst, nLast) || !acceptCliImage(image, entry.bAllowIncomplete, false))
        return ExitFailed;
    const HexConv::Extent &extent = image.extent();
    const HexConv::DataCount &count = image.count();
    if (!extent.bHasData)
        return fail(ExitFailed, bEeprom
                                    ? QStringLiteral("%1: the file holds no data; nothing written").arg(entry.sImage)
                                    : QStringLiteral("%1: the file holds no data").arg(entry.sImage));
    if (!bEeprom) {
        fact.bHasRange = true;
        fact.nFirst = extent.nLowest;
        fact.nLast = extent.nHighest;
    } else if (count.nInside == 0) {
        const QString sRange = fact.bHasRange ? QStringLiteral("%1..%2").arg(hexText(fact.nFirst), hexText(fact.nLast))
                                              : QStringLiteral("from %1 to its end").arg(hexText(fact.nFirst));
        return fail(ExitFailed,
                    QStringLiteral("%1: none of its %2 data bytes (at %3..%4) lies inside the EEPROM range %5; "
                                   "nothing written")
                        .arg(entry.sImage)
                        .arg(count.nBelow + count.nAbove)
                        .arg(hexText(extent.nLowest), hexText(extent.nHighest), sRange));
    }
    fact.sImageSha256 = CliReport::fileSha256(entry.sImage);
    return ExitOk;
}

// Checks the files the command names and the images it writes, runs the
// job list on every port until all workers have finished, then shows the
// table (several drives), writes the report and returns the exit status.
// Ctrl-C and SIGTERM cancel every drive through its worker's flag.
int executeRuns(const char *sCommand, const CliDeviceOptions &options, const QVector<PgmEntry> &jobs)
{
    QVector<CliJobFacts> facts(jobs.size());
    int nStatus = options.files.check(sCommand);
    for (int i = 0; nStatus == ExitOk && i < jobs.size(); ++i)
        nStatus = jobFacts(jobs.at(i), facts[i]);
    if (nStatus != ExitOk)
        return nStatus;
    const QDateTime started = QDateTime::currentDateTimeUtc();
    // Every output is checked before any drive is touched: a read that
    // cannot store its result would only waste the drive's time, a run whose
    // report cannot be written would leave the line without its record. The
    // log is written as the run goes, so that it can be read after a crash;
    // the others, by option (none for a read's file), once the run is over.
    QVector<QPair<QString, QString>> outputs;
    for (const PgmEntry &entry : jobs)
        if (entry.nOperation == Read)
            outputs.append({QString(), entry.sImage});
    if (!options.sReportFile.isEmpty())
        outputs.append({QStringLiteral("--report"), options.sReportFile});
    for (const auto &output : outputs)
        if (!cliCheckOutput(output.first, output.second))
            return ExitFailed;
    if (!options.sLogFile.isEmpty() && !cliCheckOutput(QStringLiteral("--log"), options.sLogFile, OutputFile::Stream))
        return ExitFailed;
    // Released when this returns, after the last output has been written.
    CliFifoHold fifos;
    for (const auto &output : outputs)
        if (!fifos.hold(output.first, output.second))
            return ExitFailed;
    std::unique_ptr<CliTrace> pTrace;
    if (!options.sLogFile.isEmpty()) {
        pTrace = std::make_unique<CliTrace>();
        QString sError;
        if (!pTrace->open(options.sLogFile, sError))
            return fail(ExitFailed, QStringLiteral("--log: %1").arg(sError));
    }

    QVector<CliRunSetup> setups;
    for (const QString &sPort : options.ports) {
        CliRunSetup setup = options.run;
        setup.params.sPort = sPort;
        setup.jobs = jobs;
        setup.facts = facts;
        if (pTrace)
            setup.options.observer = pTrace->observerFor(sPort);
        setups << setup;
    }

    CliLine line(setups, CliProgress::stdoutIsTerminal());
    nStatus = line.exec();
    if (line.size() > 1)
        printOut(QLatin1Char('\n') + line.resultTable());
    // A log that lost lines is no record of the run.
    QString sLogError;
    if (pTrace && !pTrace->close(sLogError))
        nStatus = fail(ExitFailed, QStringLiteral("--log: %1").arg(sLogError));
    if (!options.sReportFile.isEmpty()) {
        const QJsonDocument report = CliReport::build(QLatin1String(sCommand), started, line, nStatus);
        QString sError;
        if (!CliReport::write(options.sReportFile, report, sError))
            nStatus = fail(ExitFailed, QStringLiteral("--report: %1").arg(sError));
    }
    // A read whose file could not be written has already said so and counts
    // as failed; the converter's save never leaves a torn file behind.
    return nStatus;
}

} // namespace

int runProgram(const CliCommand &command, const QCommandLineParser &parser)
{
    const char *sCommand = command.sName;
    CliDeviceOptions options;
    const int nStatus = parseDeviceOptions(sCommand, parser, true, options);
    if (nStatus != ExitOk)
        return nStatus;
    if (!parser.isSet(QStringLiteral("flash0")) && !parser.isSet(QStringLiteral("flash1")))
        return usageFail(sCommand, QStringLiteral("program: give --flash0 IMAGE and/or --flash1 IMAGE"));

    QVector<PgmEntry> jobs;
    for (int nMemory = Flash0; nMemory <= Flash1; ++nMemory) {
        const QString sOption = QStringLiteral("flash%1").arg(nMemory);
        if (!parser.isSet(sOption))
            continue;
        if (parser.values(sOption).size() > 1)
            return usageFail(sCommand, QStringLiteral("program: --%1 given more than once").arg(sOption));
        PgmEntry entry;
        entry.nMemory = nMemory;
        entry.nOperation = Program;
        entry.sImage = parser.value(sOption);
        entry.bCompress = !parser.isSet(QStringLiteral("no-compress"));
        entry.bSkipUnchanged = parser.isSet(QStringLiteral("skip-unchanged"));
        entry.bAllowIncomplete = parser.isSet(QStringLiteral("allow-incomplete"));
        options.files.addInput(QStringLiteral("--") + sOption, entry.sImage);
        jobs << entry;
    }
    return executeRuns(sCommand, options, jobs);
}

int runRange(const CliCommand &command, const QCommandLineParser &parser)
{
    const char *sCommand = command.sName;
    const int nOperation = command.range.nOperation;
    CliDeviceOptions options;
    PgmEntry entry;
    int nStatus = parseDeviceOptions(sCommand, parser, nOperation != Read, options);
    if (nStatus == ExitOk)
        nStatus = command.range.bEeprom ? parseMemory(sCommand, parser, "eeprom0", "eeprom1", Eeprom0, entry.nMemory)
                                        : parseMemory(sCommand, parser, "flash0", "flash1", Flash0, entry.nMemory);
    if (nStatus == ExitOk)
        nStatus = parseRange(sCommand, parser, entry);
    if (nStatus != ExitOk)
        return nStatus;
    entry.nOperation = nOperation;
    entry.bCompress = nOperation != Erase;
    // Only a write offers --allow-incomplete.
    entry.bAllowIncomplete = nOperation == Program && parser.isSet(QStringLiteral("allow-incomplete"));
    // The file: a read's output, a write's input; an erase has none.
    if (nOperation != Erase)
        entry.sImage = parser.positionalArguments().at(0);
    if (nOperation == Read)
        options.files.addOutput(QStringLiteral("OUT.srec"), entry.sImage);
    else if (nOperation == Program)
        options.files.addInput(QStringLiteral("IMAGE"), entry.sImage);
    return executeRuns(sCommand, options, {entry});
}
