// servoprog-soak: randomized programming runs against the simulated drive
// with injected faults. Each run programs random images with servoprog-cli
// into a fresh simulated drive; a run that reports success must have left
// exactly the images in the drive's flash devices and nothing else.
//
//   servoprog-soak [--runs N] [--time-limit S] [--run-timeout S] [--seed N]
//                  [--only RUN] [--max-size BYTES] [--keep DIR] [--cli PATH] [-v]
//
// Prints the counts at the end: runs, successes, failures grouped by the
// first line of the tool's standard error, hangs (a run past its deadline,
// killed), false successes (success reported, flash differs) and harness
// errors. Exit code 0 when there was no hang, no false success, no harness
// error and no failure in a run without injected faults; 1 otherwise; 2 for
// bad options.

#include "SoakRun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

#ifndef SERVOPROG_CLI_PATH
#define SERVOPROG_CLI_PATH "servoprog-cli"
#endif

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Seed of run nIndex: runs are independent, so one run replays alone with
// --seed and --only.
quint64 runSeed(quint64 nSeed, int nIndex)
{
    return nSeed * 1000003ull + quint64(nIndex);
}

void printRun(const SoakRun &run, const char *sWhat)
{
    out() << "  run " << run.index() << " (" << sWhat << ", " << run.elapsedMs() << " ms): " << run.message()
          << "\n      images: " << run.describeImages() << "\n      faults: "
          << (run.faults().isEmpty() ? QStringLiteral("none") : run.faults().join(QLatin1Char(' ')))
          << "\n      servoprog-sim " << run.simArguments().join(QLatin1Char(' ')) << "\n      servoprog-cli "
          << run.cliArguments().join(QLatin1Char(' ')) << "\n";
    if (!run.detail().isEmpty())
        out() << "      " << run.detail() << "\n";
    out().flush();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("servoprog-soak"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Randomized programming runs with injected faults against the simulated drive."));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("number of runs (default 300)"),
                                        QStringLiteral("N"), QStringLiteral("300"));
    const QCommandLineOption timeOption(QStringLiteral("time-limit"),
                                        QStringLiteral("start no run after S seconds (default 600)"),
                                        QStringLiteral("S"), QStringLiteral("600"));
    const QCommandLineOption deadlineOption(QStringLiteral("run-timeout"),
                                            QStringLiteral("deadline of one run; past it the run counts as a hang "
                                                           "(default 60)"),
                                            QStringLiteral("S"), QStringLiteral("60"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("random seed (default: the clock)"),
                                        QStringLiteral("N"));
    const QCommandLineOption onlyOption(QStringLiteral("only"), QStringLiteral("replay run RUN of the seed alone"),
                                        QStringLiteral("RUN"));
    const QCommandLineOption sizeOption(QStringLiteral("max-size"),
                                        QStringLiteral("largest image in bytes (default 40960)"),
                                        QStringLiteral("BYTES"), QStringLiteral("40960"));
    const QCommandLineOption keepOption(QStringLiteral("keep"),
                                        QStringLiteral("copy image, simulator log and tool output of hangs, false "
                                                       "successes and unexpected failures to DIR"),
                                        QStringLiteral("DIR"));
    const QCommandLineOption cliOption(QStringLiteral("cli"), QStringLiteral("servoprog-cli to test"),
                                       QStringLiteral("PATH"), QStringLiteral(SERVOPROG_CLI_PATH));
    const QCommandLineOption verboseOption(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                           QStringLiteral("one line per run"));
    parser.addOptions({runsOption, timeOption, deadlineOption, seedOption, onlyOption, sizeOption, keepOption,
                       cliOption, verboseOption});
    parser.process(app);

    bool bOk = true;
    auto number = [&](const QCommandLineOption &option) {
        bool b = false;
        const qint64 n = parser.value(option).toLongLong(&b, 0);
        if (!b || n < 0) {
            std::fprintf(stderr, "servoprog-soak: bad value for --%s\n", qPrintable(option.names().constFirst()));
            bOk = false;
        }
        return n;
    };
    const int nRuns = int(number(runsOption));
    const qint64 nTimeLimitMs = number(timeOption) * 1000;
    SoakRunSettings settings;
    settings.sCliPath = parser.value(cliOption);
    settings.nDeadlineMs = int(number(deadlineOption) * 1000);
    settings.nMaxImageBytes = int(number(sizeOption));
    settings.sKeepDir = parser.value(keepOption);
    const quint64 nSeed = parser.isSet(seedOption) ? quint64(number(seedOption))
                                                   : quint64(QDateTime::currentMSecsSinceEpoch() % 1000000007);
    const int nOnly = parser.isSet(onlyOption) ? int(number(onlyOption)) : -1;
    if (!bOk || settings.nMaxImageBytes < 1 || settings.nMaxImageBytes > 4 * 1024 * 1024 || settings.nDeadlineMs < 1000)
        return 2;
    const bool bVerbose = parser.isSet(verboseOption);

    out() << "servoprog-soak: seed " << nSeed << ", up to " << (nOnly >= 0 ? 1 : nRuns) << " runs, "
          << nTimeLimitMs / 1000 << " s, deadline " << settings.nDeadlineMs / 1000 << " s per run, images up to "
          << settings.nMaxImageBytes << " bytes\n";
    out().flush();

    int nDone = 0, nSuccess = 0, nFailure = 0, nHang = 0, nFalse = 0, nHarness = 0, nUnexpected = 0;
    int nFaultFree = 0;
    qint64 nLongestMs = 0;
    QMap<QString, int> failures;
    QElapsedTimer clock;
    clock.start();
    const int nFirst = nOnly >= 0 ? nOnly : 0;
    const int nLast = nOnly >= 0 ? nOnly + 1 : nRuns;
    for (int i = nFirst; i < nLast; ++i) {
        if (nOnly < 0 && clock.elapsed() >= nTimeLimitMs) {
            out() << "time limit reached after " << nDone << " runs\n";
            break;
        }
        SoakRun run(i, runSeed(nSeed, i), settings);
        const SoakRun::Outcome eOutcome = run.execute();
        ++nDone;
        nLongestMs = std::max(nLongestMs, run.elapsedMs());
        if (run.faults().isEmpty())
            ++nFaultFree;
        switch (eOutcome) {
        case SoakRun::Outcome::Success: ++nSuccess; break;
        case SoakRun::Outcome::Failure:
            ++nFailure;
            ++failures[run.message()];
            if (run.faults().isEmpty()) {
                ++nUnexpected;
                printRun(run, "failure without an injected fault");
            }
            break;
        case SoakRun::Outcome::Hang:
            ++nHang;
            printRun(run, "HANG");
            break;
        case SoakRun::Outcome::FalseSuccess:
            ++nFalse;
            printRun(run, "FALSE SUCCESS");
            break;
        case SoakRun::Outcome::HarnessError:
            ++nHarness;
            printRun(run, "harness error");
            break;
        }
        if (bVerbose) {
            static const char *const names[] = {"ok", "failed", "HANG", "FALSE SUCCESS", "harness error"};
            out() << QStringLiteral("run %1: %2 %3 ms sim=[%4] %5%6\n")
                         .arg(i)
                         .arg(QString::fromLatin1(names[int(eOutcome)]))
                         .arg(run.elapsedMs())
                         .arg(run.simArguments().join(QLatin1Char(' ')), run.describeImages())
                         .arg(eOutcome == SoakRun::Outcome::Failure ? QStringLiteral(" -> ") + run.message()
                                                                    : QString());
            out().flush();
        }
    }

    out() << "\nruns:              " << nDone << " in " << QString::number(clock.elapsed() / 1000.0, 'f', 1)
          << " s (longest run " << nLongestMs << " ms; " << nFaultFree << " without injected faults)\n";
    out() << "successes:         " << nSuccess << "\n";
    out() << "failures:          " << nFailure << "\n";
    QList<QPair<int, QString>> sorted;
    for (auto it = failures.cbegin(); it != failures.cend(); ++it)
        sorted.append({it.value(), it.key()});
    std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    for (const auto &entry : sorted)
        out() << QStringLiteral("  %1  %2\n").arg(entry.first, 5).arg(entry.second);
    out() << "hangs:             " << nHang << "\n";
    out() << "false successes:   " << nFalse << "\n";
    out() << "unexpected failures (no fault injected): " << nUnexpected << "\n";
    out() << "harness errors:    " << nHarness << "\n";
    out().flush();
    return nHang || nFalse || nHarness || nUnexpected ? 1 : 0;
}
