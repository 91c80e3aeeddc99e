#include "CliInterrupt.h"

#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Shared with the signal handler, so lock-free atomics and a plain pipe only.
std::atomic<int> g_nPendingSignal{0};
std::atomic<int> g_nStopRequests{0}; // Ctrl-C and SIGTERM so far
#ifdef Q_OS_UNIX
int g_wakePipe[2] = {-1, -1};
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];
bool g_bInstalled[3] = {};
#else
const int kSignals[] = {SIGINT, SIGTERM};
#endif

extern "C" void onTerminationSignal(int nSignal)
{
    int nExpected = 0;
    g_nPendingSignal.compare_exchange_strong(nExpected, nSignal);
    if (!CliInterrupt::isHangUp(nSignal) && g_nStopRequests.fetch_add(1) == 0) {
        // The next Ctrl-C or SIGTERM ends the process.
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
#ifdef Q_OS_UNIX
    if (g_wakePipe[1] >= 0) {
        const char c = 1;
        ssize_t nIgnored = ::write(g_wakePipe[1], &c, 1);
        (void)nIgnored;
    }
#endif
}

} // namespace

bool CliInterrupt::isHangUp(int nSignal)
{
#ifdef Q_OS_UNIX
    return nSignal == SIGHUP;
#else
    Q_UNUSED(nSignal);
    return false;
#endif
}

CliInterrupt::CliInterrupt(QObject *pParent) : QObject(pParent)
{
#ifdef Q_OS_UNIX
    if (::pipe(g_wakePipe) == 0) {
        for (int fd : g_wakePipe) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        m_pNotifier = new QSocketNotifier(g_wakePipe[0], QSocketNotifier::Read, this);
        connect(m_pNotifier, &QSocketNotifier::activated, this, &CliInterrupt::onWakeUp);
    }
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kSignals[i], nullptr, &g_previous[i]);
        // Whoever started the tool with hang-ups ignored (nohup) wants the
        // run to go on without its terminal.
        g_bInstalled[i] = !(isHangUp(kSignals[i]) && g_previous[i].sa_handler == SIG_IGN);
        if (g_bInstalled[i])
            ::sigaction(kSignals[i], &action, nullptr);
    }
#else
    for (int nSignal : kSignals)
        std::signal(nSignal, onTerminationSignal);
#endif
    if (!m_pNotifier) {
        // No pipe: look at the flag a few times a second instead.
        auto *pPoll = new QTimer(this);
        connect(pPoll, &QTimer::timeout, this, &CliInterrupt::onWakeUp);
        pPoll->start(100);
    }
}

CliInterrupt::~CliInterrupt()
{
#ifdef Q_OS_UNIX
    for (int i = 0; i < 3; ++i)
        if (g_bInstalled[i])
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
    delete m_pNotifier;
    for (int &fd : g_wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
#else
    for (int nSignal : kSignals)
        std::signal(nSignal, SIG_DFL);
#endif
}

void CliInterrupt::onWakeUp()
{
#ifdef Q_OS_UNIX
    char buffer[16];
    while (g_wakePipe[0] >= 0 && ::read(g_wakePipe[0], buffer, sizeof buffer) > 0) {}
#endif
    const int nSignal = g_nPendingSignal.load();
    if (nSignal == 0 || m_nSignal != 0)
        return;
    m_nSignal = nSignal;
    emit interrupted(nSignal);
}
