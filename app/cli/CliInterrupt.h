#ifndef CLIINTERRUPT_H
#define CLIINTERRUPT_H

#include <QObject>

class QSocketNotifier;

// Turns Ctrl-C (SIGINT), SIGTERM and a hang-up (SIGHUP: the terminal was
// closed, the remote session dropped) into a Qt signal in the main thread.
// The handler itself only writes one byte into a pipe (async-signal-safe);
// the event loop reads it and emits interrupted(), and the runs then set
// their workers' cancel flags, exactly as the window's Cancel button does.
//
// After the first Ctrl-C or SIGTERM the next one gets the default action,
// so a run that does not come to an end can still be killed. A hang-up never
// does: a closing terminal sends it more than once (the shell to its jobs,
// the kernel to the foreground group), and the run must still close its
// port and write its records. A hang-up ignored when the tool starts (nohup)
// stays ignored. The handlers stay until the object is destroyed, so keep it
// until those records are written; the earlier dispositions come back then.
class CliInterrupt : public QObject
{
    Q_OBJECT

public:
    explicit CliInterrupt(QObject *pParent = nullptr);
    ~CliInterrupt() override;

    // Whether nSignal is a hang-up rather than somebody's request to stop.
    static bool isHangUp(int nSignal);

signals:
    void interrupted(int nSignal);

private slots:
    void onWakeUp();

private:
    QSocketNotifier *m_pNotifier = nullptr;
    int m_nSignal = 0;
};

#endif // CLIINTERRUPT_H
