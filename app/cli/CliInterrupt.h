#ifndef CLIINTERRUPT_H
#define CLIINTERRUPT_H

#include <QObject>

class QSocketNotifier;
class QTimer;

// Turns Ctrl-C (SIGINT) and SIGTERM into a Qt signal in the main thread.
// The handler itself only writes one byte into a pipe (async-signal-safe);
// the event loop reads it and emits interrupted(), and the runs then set
// their workers' cancel flags, exactly as the window's Cancel button does.
// After the first signal a second one gets the default action, so a run
// that does not come to an end can still be killed with another Ctrl-C.
class CliInterrupt : public QObject
{
    Q_OBJECT

public:
    explicit CliInterrupt(QObject *pParent = nullptr);
    ~CliInterrupt() override;

    // The signal number that arrived first; 0 when none has.
    int signalNumber() const { return m_nSignal; }

signals:
    void interrupted(int nSignal);

private slots:
    void onWakeUp();

private:
    QSocketNotifier *m_pNotifier = nullptr;
    QTimer *m_pPoll = nullptr;
    int m_nSignal = 0;
};

#endif // CLIINTERRUPT_H
