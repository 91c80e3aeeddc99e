#ifndef CLIPROGRESS_H
#define CLIPROGRESS_H

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

struct JobStats;
class CliBoard;

// Shows what a run is doing. On a terminal each step gets a progress bar that
// is redrawn in place (state text, percent, bytes, throughput, time left);
// otherwise (a log file, a pipe, a CI job) it writes plain lines: one per
// state and one per tenth of progress. Errors always go to standard error.
class CliProgress
{
public:
    // sLabel prefixes every line (the port, once several drives run at once);
    // empty for a single run. pBoard (a terminal with several drives): the
    // bar is drawn into row nBoardRow of the board instead of the current
    // line, and every other text is printed above the board.
    CliProgress(const QString &sLabel, bool bTerminal, CliBoard *pBoard = nullptr, int nBoardRow = 0);

    static bool stdoutIsTerminal();

    void steps(int nSteps);
    void step();
    void file(const QString &sFile);
    // A new activity; nTotalBytes is its size when known (0: unknown).
    void state(const QString &sState, quint64 nTotalBytes);
    void value(int nPercent);
    void infoText(int nInfo, const QString &sText);
    void critical(const QString &sTitle, const QString &sText);
    // One line for a finished job.
    void jobSummary(const JobStats &job);
    // Ends a bar still drawn, so later output starts on a fresh line.
    void finish();

    // "Flash0", "EEPROM1"; "program", "write" (EEPROM), "erase", "read".
    static QString memoryName(int nMemory);
    static QString operationName(int nMemory, int nOperation);
    static QString durationText(qint64 nMilliseconds);

private:
    void drawBar(bool bFinal);
    QString prefix() const;

    QString m_sLabel;
    bool m_bTerminal;
    int m_nSteps = 0;
    int m_nStep = 0;
    QString m_sState;
    quint64 m_nTotalBytes = 0;
    int m_nPercent = -1;
    int m_nLastPlainDecade = -1;
    bool m_bBarOpen = false;
    qint64 m_nLastDrawMs = -1;
    QElapsedTimer m_stateTimer;
    CliBoard *m_pBoard = nullptr;
    int m_nBoardRow = 0;
};

#endif // CLIPROGRESS_H
