#ifndef SIMPTY_H
#define SIMPTY_H

#include <QByteArray>
#include <QString>

// The pseudo-terminal the simulated drive listens on. The tool opens the
// slave side as its serial port; the drive reads and writes the master side.
// The drive keeps a descriptor of the slave open itself, so the master never
// sees a hang-up while the tool closes and reopens the port.
class SimPty
{
public:
    SimPty() = default;
    ~SimPty();
    SimPty(const SimPty &) = delete;
    SimPty &operator=(const SimPty &) = delete;

    bool open(QString &sError);
    QString slaveName() const { return m_sSlaveName; }
    int masterFd() const { return m_nMaster; }

    // The line rate the tool has set on its end of the line (the slave's
    // termios output speed, which the master reports on Linux); 0 when it
    // cannot be told.
    quint32 peerLineRate() const;

    // Reads what is there; returns the byte count, 0 when nothing is
    // waiting or no tool has the port open, -1 on a lasting error.
    int read(char *pBuffer, int nCapacity);
    // Bytes written and not yet read by the tool.
    int pendingForTool() const;
    bool write(const char *pData, int nLength);

private:
    int m_nMaster = -1;
    int m_nSlave = -1;
    QString m_sSlaveName;
};

#endif // SIMPTY_H
