// servoprog-sim: a simulated drive whose boot monitor listens on a
// pseudo-terminal, so that the programming tool runs end to end without
// hardware. POSIX only (Linux, macOS).
//
// Start it, read the terminal's path from the first line of standard output,
// open that path as the serial port. SIGINT/SIGTERM stop it; the memory files
// given are written back before it exits (exit code 0, or 1 when a write
// failed; 2 for bad options or a failed start).
//
// Request log (--log FILE), one line per event, fields separated by single
// spaces, written and flushed as things happen:
//
//   <n> <service> <object> len=<L> status=<S> [key=value ...]
//
//   n        request number, from 1, counting every frame the monitor
//            received at its own line rate (the numbers --fault refers to)
//   service  read | write | ident | unknown
//   object   index in 4 upper-case hex digits, '.', subindex in decimal
//            (5E10.1); '-' for ident and unknown services
//   len      data bytes asked for (read) or carried (write)
//   status   status byte answered, or "none" when no answer was sent
//   then, for commands written to 5E10.1 and 5E20.1:
//            cmd=flash-select dev=D | cmd=flash-info dev=D |
//            cmd=flash-region region=R |
//            cmd=flash-check|flash-erase|flash-read|flash-verify dev=D addr=A size=Z |
//            cmd=flash-program dev=D addr=A size=Z compressed=0|1 |
//            cmd=flash-decompress clen=C size=Z |
//            cmd=eeprom-select dev=D | cmd=eeprom-info dev=D |
//            cmd=eeprom-read|eeprom-write|eeprom-verify dev=D addr=A size=Z
//            with A, Z and C as 0x and 8 lower-case hex digits; check,
//            verify and decompress add result=0|1 (check: 1 = sector needs
//            erasing; verify, decompress: 1 = failed); a malformed block
//            adds error=<decoder code>; compressed=1 when the programmed
//            buffer came from a decompress command
//   baud=R   on writes of the baud-rate object 5FB0.1
//   fault=drop|corrupt|busy|silent|life|stream|verify when an injected fault
//            hit it (a dropped, busy, silent or stream request is not carried
//            out and shows no cmd= details)
//
// Lines that are not requests start with '-':
//   - start port=P baud=R state=monitor|powered-off flash=0x.. sector=0x.. page=0x.. eeprom=0x..
//   - wake echoed
//   - ignored reason=rate [what=wake] tool=R drive=R   (sent at another line rate)
//   - ignored reason=checksum|overflow
//   - stream byte=0x2a                               (the line starts streaming)
//   - stop requests=N

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
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        std::fputs(simUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    SimOptions options;
    QString sError;
    if (!parseSimOptions(arguments, options, sError)) {
        std::fprintf(stderr, "servoprog-sim: %s\n%s", sError.toLocal8Bit().constData(),
                     simUsage().toLocal8Bit().constData());
        return 2;
    }

    if (::pipe(g_nStopPipe) != 0) {
        std::perror("servoprog-sim: pipe");
        return 2;
    }
    ::fcntl(g_nStopPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
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
