#ifndef PTY_H
#define PTY_H

#include <QByteArray>
#include <QString>

#include <cstdint>

// A real pseudo-terminal pair for tests: the code under test opens the
// slave by its path as a serial port; the test plays the far end of the line
// on the master. Both sides are raw. The slave stays open here too, so the
// master sees no hang-up while the port is closed and opened again.
class Pty
{
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return m_nMaster >= 0; }
    QString path() const { return m_sPath; }
    QByteArray pathBytes() const { return m_sPath.toLocal8Bit(); }

    bool write(const QByteArray &bytes) const;
    // What arrives from the port within nDeadlineMs, returning early once
    // nUntil bytes are there.
    QByteArray read(int nDeadlineMs, int nUntil = 1 << 24) const;
    // Bytes written to the master that the port has not read yet.
    int pending() const;
    // Waits up to nDeadlineMs until pending() is at least nBytes (or, for
    // nBytes 0, until the port has read everything).
    bool waitPending(int nBytes, int nDeadlineMs = 5000) const;
    // The rate the port has set on its end of the line; 0 when unknown.
    uint32_t lineRate() const;

private:
    int m_nMaster = -1;
    int m_nSlave = -1;
    QString m_sPath;
};

#endif // PTY_H
