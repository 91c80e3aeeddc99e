#ifndef CLILINE_H
#define CLILINE_H

#include "CliRun.h"

#include <QObject>
#include <QVector>
#include <memory>

class CliBoard;
class CliInterrupt;

// The same job list run on several drives at once, as on a production line:
// one CliRun (one UpdateWorker in its own thread, its own transport) per
// port. The runs share nothing but the cancel request, so one drive failing,
// hanging or being unplugged never touches the others. With one port it
// behaves exactly like a single run.
class CliLine : public QObject
{
    Q_OBJECT

public:
    // bTerminal: standard output is a terminal (progress bars redrawn in
    // place; one row per drive when there are several).
    CliLine(const QVector<CliRunSetup> &setups, bool bTerminal, QObject *pParent = nullptr);
    ~CliLine() override;

    // Starts every run, handles Ctrl-C, SIGTERM and a hang-up (cancel all)
    // and returns when the last run has finished: 0 when every drive
    // succeeded, else 1. The signals stay handled while this object lives,
    // so that a closed terminal cannot end the tool before the run's
    // records are written.
    int exec();
    void cancel();

    int size() const { return int(m_runs.size()); }
    const CliRun &run(int nIndex) const { return *m_runs.at(nIndex); }

    // The closing table: port, result, bytes written, bytes on the wire,
    // time, message; one row per drive.
    QString resultTable() const;
    // The message that explains a failure; empty for a drive that succeeded.
    static QString resultMessage(const CliRun &run);

private slots:
    void onRunFinished();

private:
    // Once, when powered-off drives still have not answered the wake pattern.
    void printWakeHint();

    std::unique_ptr<CliBoard> m_pBoard;
    std::unique_ptr<CliInterrupt> m_pInterrupt;
    QVector<CliRun *> m_runs;
    int m_nRunning = 0;
    bool m_bCancelled = false;
};

#endif // CLILINE_H
