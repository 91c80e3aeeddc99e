// servoprog-sim: a simulated drive whose boot monitor listens on a
// pseudo-terminal, so that the programming tool runs end to end without
// hardware. POSIX only (Linux, macOS).
//
// Start it, read the terminal's path from the first line of standard output,
// open that path as the serial port. SIGINT/SIGTERM stop it; the memory files
// given are written back before it exits (exit code 0, or 1 when a write
// failed; 2 for bad options or a failed start).
//
// The request log (--log FILE) is described, for its readers, in
// docs/simulator.md, which the package installs; keep the two in step.

#include "ServoprogVersion.h"
#include "SimOptions.h"
#include "SimServer.h"

#include <QStringList>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

int g_nStopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_nStopPipe[1], &c, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    SimOptions options;
    QString sError;
    if (!parseSimOptions(arguments, options, sError)) {
        std::fprintf(stderr, "servoprog-sim: %s\n%s", sError.toLocal8Bit().constData(),
                     simUsage().toLocal8Bit().constData());
        return 2;
    }
    if (options.bHelp) {
        std::fputs(simUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options.bVersion) {
        std::printf("servoprog-sim %s\n", kVersionText);
        return 0;
    }

    if (::pipe(g_nStopPipe) != 0) {
        std::perror("servoprog-sim: pipe");
        return 2;
    }
    ::fcntl(g_nStopPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(nSignal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

#ifdef Q_OS_LINUX
    // A throttled line sleeps until each byte's wire time; the default timer
    // slack of 50 us would add to every exchange and make the drive slower
    // than the rate it simulates.
    if (options.bThrottle)
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif

    SimServer server(options);
    if (!server.start(sError)) {
        std::fprintf(stderr, "servoprog-sim: %s\n", sError.toLocal8Bit().constData());
        return 2;
    }
    std::printf("%s\n", server.portName().toLocal8Bit().constData());
    std::fflush(stdout);

    const bool bRunOk = server.run(g_nStopPipe[0]);
    if (!bRunOk)
        std::fprintf(stderr, "servoprog-sim: the pseudo-terminal failed\n");
    if (!server.finish(sError)) {
        std::fprintf(stderr, "servoprog-sim: %s", sError.toLocal8Bit().constData());
        return 1;
    }
    return bRunOk ? 0 : 1;
}
