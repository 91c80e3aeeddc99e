#include "CliLine.h"

#include "CliBoard.h"
#include "CliInterrupt.h"
#include "CliProgress.h"
#include "CliText.h"
#include "UpdateWorker.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>
#include <algorithm>

namespace {

// How long a powered-off drive may stay silent before the tool suggests
// --boot mon; switching a drive on and its monitor answering take a few
// seconds.
const int kWakeHintMs = 10000;

// What a drive's run came to, in one word ("ok", "FAILED", "cancelled").
QString resultWord(const CliRun &run)
{
    if (run.exitStatus() == 0)
        return QStringLiteral("ok");
    if (run.statistics().bCanceled || run.wasCancelled())
        return QStringLiteral("cancelled");
    return QStringLiteral("FAILED");
}

} // namespace

CliLine::CliLine(const QVector<CliRunSetup> &setups, bool bTerminal, QObject *pParent) : QObject(pParent)
{
    const bool bSeveral = setups.size() > 1;
    if (bSeveral && bTerminal)
        m_pBoard = std::make_unique<CliBoard>(int(setups.size()));
    for (int i = 0; i < setups.size(); ++i) {
        // A single drive keeps the unlabelled output of a plain run; with
        // several, every line says which drive it is about.
        auto pProgress = std::make_unique<CliProgress>(bSeveral ? setups.at(i).params.sPort : QString(), bTerminal,
                                                       m_pBoard.get(), i);
        auto *pRun = new CliRun(setups.at(i), std::move(pProgress), this);
        connect(pRun, &CliRun::finished, this, &CliLine::onRunFinished);
        m_runs << pRun;
    }
}

CliLine::~CliLine()
{
    // Before the board: a run still going stops and waits for its worker,
    // and its progress output draws on the board until then.
    qDeleteAll(m_runs);
}

int CliLine::exec()
{
    m_pInterrupt = std::make_unique<CliInterrupt>();
    connect(m_pInterrupt.get(), &CliInterrupt::interrupted, this, [this](int nSignal) {
        // Written also when nobody may read it any more (the terminal went
        // away): the write fails, the run goes on to its end.
        CliBoard::print(m_pBoard.get(),
                        CliInterrupt::isHangUp(nSignal)
                            ? QStringLiteral("Hang-up (the terminal or session was closed): cancelling after "
                                             "the current block...\n")
                            : QStringLiteral("Cancelling after the current block (Ctrl-C again ends at once)...\n"),
                        true);
        cancel();
    });

    QStringList poweredOff;
    uint32_t nWakeTimeoutMs = 0;
    for (const CliRun *pRun : m_runs) {
        if (pRun->isPoweredOffStart())
            poweredOff << pRun->port();
        nWakeTimeoutMs = pRun->setup().options.nWakeTimeoutMs;
    }
    if (!poweredOff.isEmpty())
        printErr(QStringLiteral("Switch the drive%1 on now; waiting for %2 boot monitor to answer on %3%4.\n")
                     .arg(poweredOff.size() > 1 ? QStringLiteral("s") : QString(),
                          poweredOff.size() > 1 ? QStringLiteral("each") : QStringLiteral("its"),
                          poweredOff.join(QStringLiteral(", ")),
                          nWakeTimeoutMs ? QStringLiteral(" (at most %1 s)").arg(nWakeTimeoutMs / 1000)
                                         : QStringLiteral(" (Ctrl-C to give up)")));

    // A drive whose boot monitor already runs ignores the wake pattern, and
    // without a time-out the tool would wait at the line above for ever.
    QTimer wakeHint;
    if (!poweredOff.isEmpty() && nWakeTimeoutMs == 0) {
        wakeHint.setSingleShot(true);
        connect(&wakeHint, &QTimer::timeout, this, &CliLine::printWakeHint);
        wakeHint.start(kWakeHintMs);
    }

    m_nRunning = int(m_runs.size());
    for (CliRun *pRun : m_runs)
        pRun->start();
    if (m_nRunning > 0)
        QCoreApplication::exec();
    if (m_pBoard)
        m_pBoard->close();

    const bool bAllSucceeded =
        std::all_of(m_runs.cbegin(), m_runs.cend(), [](const CliRun *pRun) { return pRun->exitStatus() == 0; });
    if (m_bCancelled)
        printErr(QStringLiteral("Cancelled; the port%1 been closed.\n")
                     .arg(m_runs.size() > 1 ? QStringLiteral("s have") : QStringLiteral(" has")));
    return bAllSucceeded ? 0 : 1;
}

void CliLine::printWakeHint()
{
    QStringList silent;
    for (const CliRun *pRun : m_runs)
        if (pRun->isPoweredOffStart() && pRun->isRunning() && !pRun->driveAnswered())
            silent << pRun->port();
    if (silent.isEmpty() || m_bCancelled)
        return;
    CliBoard::print(m_pBoard.get(),
                    QStringLiteral("No answer on %1 after %2 s. A drive whose boot monitor already runs does not "
                                   "answer the wake pattern: press Ctrl-C and run the command again with --boot mon.\n")
                        .arg(silent.join(QStringLiteral(", ")))
                        .arg(kWakeHintMs / 1000),
                    true);
}

void CliLine::cancel()
{
    m_bCancelled = true;
    for (CliRun *pRun : m_runs)
        pRun->cancel();
}

void CliLine::onRunFinished()
{
    if (--m_nRunning == 0)
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

QString CliLine::resultMessage(const CliRun &run)
{
    if (run.exitStatus() == 0)
        return QString();
    const RunStats &stats = run.statistics();
    // One line in the table, the cause of a port error included.
    const QString sText = QString(stats.sFailureText).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (!sText.isEmpty())
        return stats.sFailureTitle.isEmpty() ? sText : QStringLiteral("%1: %2").arg(stats.sFailureTitle, sText);
    if (run.wasCancelled())
        return UpdateWorker::cancelText();
    return QStringLiteral("the drive was not reached");
}

QString CliLine::resultTable() const
{
    // Erased and Skipped count flash sectors.
    const QStringList headings = {QStringLiteral("Port"),   QStringLiteral("Result"),  QStringLiteral("Written"),
                                  QStringLiteral("Erased"), QStringLiteral("Skipped"), QStringLiteral("On wire"),
                                  QStringLiteral("Time"),   QStringLiteral("Message")};
    QVector<QStringList> rows;
    for (const CliRun *pRun : m_runs) {
        const RunStats &stats = pRun->statistics();
        quint64 nWritten = 0;
        quint64 nErased = 0;
        quint64 nSkipped = 0;
        for (const JobStats &job : stats.jobs) {
            if (job.nOperation == Program)
                nWritten += job.nImageBytes;
            if (job.nMemory <= Flash1) {
                nErased += job.nSectorsErased;
                nSkipped += job.nSectorsSkipped;
            }
        }
        rows << QStringList{pRun->port(),
                            resultWord(*pRun),
                            QString::number(nWritten),
                            QString::number(nErased),
                            QString::number(nSkipped),
                            QString::number(stats.nWireBytesSent + stats.nWireBytesReceived),
                            CliProgress::durationText(stats.nElapsedMs),
                            resultMessage(*pRun)};
    }
    // Every column but the message as wide as its widest cell; numbers and
    // times right-aligned so that they can be compared at a glance.
    QVector<int> widths;
    for (int c = 0; c < headings.size(); ++c) {
        int nWidth = int(headings.at(c).size());
        for (const QStringList &row : rows)
            nWidth = qMax(nWidth, int(row.at(c).size()));
        widths << nWidth;
    }
    auto line = [&](QStringList cells) {
        for (int c = 0; c < cells.size() - 1; ++c)
            cells[c] =
                c >= 2 && c <= 6 ? cells.at(c).rightJustified(widths.at(c)) : cells.at(c).leftJustified(widths.at(c));
        QString s = cells.join(QStringLiteral("  "));
        while (s.endsWith(QLatin1Char(' ')))
            s.chop(1);
        return s + QLatin1Char('\n');
    };
    QString s = line(headings);
    for (const QStringList &row : rows)
        s += line(row);
    return s;
}
