#include "CliProgress.h"

#include "CliBoard.h"
#include "CliText.h"
#include "WorkerStats.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h>
#endif

namespace {

int terminalWidth()
{
#if defined(Q_OS_UNIX) && defined(TIOCGWINSZ)
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 40)
        return size.ws_col;
#elif defined(Q_OS_WIN)
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        const int nWidth = info.srWindow.Right - info.srWindow.Left + 1;
        if (nWidth >= 40)
            return nWidth;
    }
#endif
    return 80;
}

QString byteText(quint64 nBytes)
{
    if (nBytes < 10 * 1024)
        return QStringLiteral("%1 B").arg(nBytes);
    if (nBytes < 10ull * 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(double(nBytes) / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(nBytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

QString rateText(double dBytesPerSecond)
{
    if (dBytesPerSecond < 1024.0)
        return QStringLiteral("%1 B/s").arg(dBytesPerSecond, 0, 'f', 0);
    return QStringLiteral("%1 KiB/s").arg(dBytesPerSecond / 1024.0, 0, 'f', 1);
}

} // namespace

QString CliProgress::memoryName(int nMemory)
{
    static const char *const names[] = {"Flash0", "Flash1", "EEPROM0", "EEPROM1"};
    return nMemory >= 0 && nMemory < 4 ? QLatin1String(names[nMemory]) : QStringLiteral("memory %1").arg(nMemory);
}

QString CliProgress::operationName(int nMemory, int nOperation)
{
    switch (nOperation) {
    case 0: return QStringLiteral("erase");
    case 1: return nMemory >= 2 ? QStringLiteral("write") : QStringLiteral("program");
    case 2: return QStringLiteral("read");
    default: return QStringLiteral("operation %1").arg(nOperation);
    }
}

CliProgress::CliProgress(const QString &sLabel, bool bTerminal, CliBoard *pBoard, int nBoardRow)
    : m_sLabel(sLabel), m_bTerminal(bTerminal), m_pBoard(pBoard), m_nBoardRow(nBoardRow)
{
    m_stateTimer.start();
}

bool CliProgress::stdoutIsTerminal()
{
#ifdef Q_OS_WIN
    // The bars are redrawn with VT escapes, which a Windows console
    // interprets only when asked to (Windows 10 and later). A console that
    // refuses, and NUL (a character device, but no console), get plain lines.
    if (_isatty(1) == 0)
        return false;
    const HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD nMode = 0;
    if (!GetConsoleMode(hOut, &nMode))
        return false;
    return (nMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0
           || SetConsoleMode(hOut, nMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
    return isatty(1) != 0;
#endif
}

QString CliProgress::prefix() const
{
    return m_sLabel.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(m_sLabel);
}

QString CliProgress::durationText(qint64 nMilliseconds)
{
    if (nMilliseconds < 60000)
        return QStringLiteral("%1 s").arg(double(nMilliseconds) / 1000.0, 0, 'f', 1);
    const qint64 nSeconds = nMilliseconds / 1000;
    return QStringLiteral("%1:%2 min").arg(nSeconds / 60).arg(nSeconds % 60, 2, 10, QLatin1Char('0'));
}

void CliProgress::steps(int nSteps)
{
    m_nSteps = nSteps;
    m_nStep = 0;
}

void CliProgress::step()
{
    ++m_nStep;
    if (!m_bTerminal && m_nSteps > 0)
        printOut(QStringLiteral("%1step %2/%3\n").arg(prefix()).arg(qMin(m_nStep, m_nSteps)).arg(m_nSteps));
}

void CliProgress::file(const QString &sFile)
{
    finish();
    if (!m_bTerminal)
        printOut(QStringLiteral("%1file: %2\n").arg(prefix(), sFile));
}

void CliProgress::state(const QString &sState, quint64 nTotalBytes)
{
    finish();
    m_sState = sState;
    m_nTotalBytes = nTotalBytes;
    m_nPercent = -1;
    m_nLastPlainDecade = -1;
    m_nLastDrawMs = -1;
    m_stateTimer.restart();
    if (m_bTerminal) {
        // Every state, an end state too, gets a line of its own.
        drawBar(false);
    } else {
        printOut(QStringLiteral("%1state: %2\n").arg(prefix(), sState));
    }
}

void CliProgress::value(int nPercent)
{
    nPercent = qBound(0, nPercent, 100);
    if (nPercent == m_nPercent)
        return;
    m_nPercent = nPercent;
    if (m_bTerminal) {
        drawBar(nPercent == 100);
        return;
    }
    // The state line already said that the activity began.
    const int nDecade = nPercent / 10;
    if (nPercent == 0 || nDecade == m_nLastPlainDecade)
        return;
    m_nLastPlainDecade = nDecade;
    QString s = QStringLiteral("%1progress: %2 %3%").arg(prefix(), m_sState).arg(nPercent);
    if (m_nTotalBytes > 0)
        s += QStringLiteral(" (%1 of %2)")
                 .arg(byteText(m_nTotalBytes * quint64(nPercent) / 100), byteText(m_nTotalBytes));
    printOut(s + QLatin1Char('\n'));
}

void CliProgress::drawBar(bool bFinal)
{
    const qint64 nElapsed = m_stateTimer.elapsed();
    // Redraw at most ten times a second; a terminal is slower than the worker.
    if (!bFinal && m_nLastDrawMs >= 0 && nElapsed - m_nLastDrawMs < 100)
        return;
    m_nLastDrawMs = nElapsed;
    const int nPercent = qMax(0, m_nPercent);
    QString sLeft = prefix();
    if (m_nSteps > 0 && m_nStep > 0)
        sLeft += QStringLiteral("%1/%2 ").arg(qMin(m_nStep, m_nSteps)).arg(m_nSteps);
    sLeft += m_sState.leftJustified(20, QLatin1Char(' '), false);
    QString sLine = sLeft;
    if (m_nPercent >= 0) {
        QString sRight = QStringLiteral("%1%").arg(nPercent, 3);
        if (m_nTotalBytes > 0) {
            const quint64 nDone = m_nTotalBytes * quint64(nPercent) / 100;
            sRight += QStringLiteral(" %1/%2").arg(byteText(nDone), byteText(m_nTotalBytes));
            if (nElapsed > 0)
                sRight += QStringLiteral(" %1").arg(rateText(double(nDone) * 1000.0 / double(nElapsed)));
        }
        if (nPercent > 0 && nPercent < 100)
            sRight += QStringLiteral(" %1 left").arg(durationText(nElapsed * (100 - nPercent) / nPercent));
        else if (nPercent == 100)
            sRight += QStringLiteral(" %1").arg(durationText(nElapsed));
        // The bar takes what the texts leave of the line (sized for the longest
        // right-hand text, so it does not jump while the figures change).
        const int nWidth = qBound(8, terminalWidth() - 1 - int(sLeft.size()) - 50, 30);
        const int nFilled = nPercent * nWidth / 100;
        sLine += QStringLiteral(" [%1%2] %3")
                     .arg(QString(nFilled, QLatin1Char('#')), QString(nWidth - nFilled, QLatin1Char('-')), sRight);
    }
    sLine.truncate(terminalWidth() - 1);
    if (m_pBoard) {
        // The row keeps the last state until the next one replaces it.
        m_pBoard->setRow(m_nBoardRow, sLine);
        return;
    }
    printOut(QStringLiteral("\r\033[K") + sLine);
    m_bBarOpen = true;
}

void CliProgress::finish()
{
    if (m_bTerminal && m_bBarOpen) {
        if (m_nPercent >= 0 && m_nPercent < 100)
            drawBar(true);
        printOut(QStringLiteral("\n"));
    }
    m_bBarOpen = false;
}

void CliProgress::infoText(int nInfo, const QString &sText)
{
    finish();
    const QString sHeading = nInfo == 1 ? QStringLiteral("Flash image info:") : QStringLiteral("Info %1:").arg(nInfo);
    QString s = prefix() + sHeading + QLatin1Char('\n');
    for (const QString &sLine : sText.split(QLatin1Char('\n')))
        s += QStringLiteral("%1  %2\n").arg(prefix(), sLine);
    CliBoard::print(m_pBoard, s, false);
}

void CliProgress::critical(const QString &sTitle, const QString &sText)
{
    finish();
    CliBoard::print(m_pBoard,
                    QStringLiteral("%1error: %2: %3\n")
                        .arg(prefix(), sTitle, indentFollowingLines(sText, prefix() + QStringLiteral("  "))),
                    true);
}

void CliProgress::jobSummary(const JobStats &job)
{
    finish();
    QString s =
        QStringLiteral("%1%2 %3").arg(prefix(), memoryName(job.nMemory), operationName(job.nMemory, job.nOperation));
    if (!job.sImage.isEmpty())
        s += QLatin1Char(' ') + QFileInfo(job.sImage).fileName();
    s += QStringLiteral(": ");
    if (!job.ran()) {
        CliBoard::print(m_pBoard, s + QStringLiteral("not run\n"), false);
        return;
    }
    if (job.nOperation == 0 && job.nMemory <= 1)
        s += QStringLiteral("%1 of %2 sectors erased, ").arg(job.nSectorsErased).arg(job.nSectorsChecked);
    else if (job.nOperation != 0)
        s += QStringLiteral("%1 bytes %2, ").arg(job.nImageBytes).arg(job.nOperation == 1 ? "written" : "read");
    const quint64 nWire = job.nWireBytesSent + job.nWireBytesReceived;
    s += QStringLiteral("%1 bytes on the wire (%2 sent)").arg(nWire).arg(job.nWireBytesSent);
    if (job.nBlocksCompressed + job.nBlocksRaw + job.nBlocksSkipped > 0)
        s += QStringLiteral(", blocks %1 compressed/%2 raw/%3 skipped")
                 .arg(job.nBlocksCompressed)
                 .arg(job.nBlocksRaw)
                 .arg(job.nBlocksSkipped);
    if (job.nOperation == 1 && job.nMemory <= 1)
        // Checked: examined by the drive, which erases only those not blank;
        // skipped: already held the image (--skip-unchanged).
        s += QStringLiteral(", sectors %1 checked/%2 erased/%3 skipped")
                 .arg(job.nSectorsChecked)
                 .arg(job.nSectorsErased)
                 .arg(job.nSectorsSkipped);
    s += QStringLiteral(", %1").arg(durationText(job.nElapsedMs));
    if (job.nElapsedMs > 0 && job.nImageBytes > 0)
        s += QStringLiteral(", %1 effective").arg(rateText(double(job.nImageBytes) * 1000.0 / double(job.nElapsedMs)));
    if (job.eOutcome == JobOutcome::Cancelled)
        s += QStringLiteral(" - cancelled");
    else if (!job.succeeded())
        s += QStringLiteral(" - FAILED");
    CliBoard::print(m_pBoard, s + QLatin1Char('\n'), false);
}
