#ifndef PTYCLIENT_H
#define PTYCLIENT_H

#include <QByteArray>
#include <QString>

// The tool's end of the simulated drive's line, kept raw: opens the terminal,
// sets its rate with termios and exchanges frames built by the link's own
// frame encoder and receiver.
class PtyClient
{
public:
    ~PtyClient();
    bool open(const QString &sPath, quint32 nRate);
    void close();
    bool setRate(quint32 nRate);
    bool writeRaw(const QByteArray &bytes);
    // Bytes that arrive within nMs (stops early once nUntil bytes are there).
    QByteArray readRaw(int nMs, int nUntil = 1 << 20);

    // Sends the request as one frame and waits up to nMs for a complete
    // answer frame. Returns its payload; empty when none came. bBadChecksum
    // tells whether a frame arrived with a wrong checksum; nLifeTriggers
    // counts '*' seen before the frame.
    QByteArray transact(const QByteArray &request, int nMs = 5000);
    bool lastBadChecksum() const { return m_bBadChecksum; }
    int lastLifeTriggers() const { return m_nLifeTriggers; }

    // Object services on top of transact(); the status byte of the answer,
    // or -1 when no answer came.
    int writeU32(quint16 nIndex, quint8 nSub, quint32 nValue);
    int readU32(quint16 nIndex, quint8 nSub, quint32 &nValue);
    int writeData(quint16 nIndex, quint8 nSub, const QByteArray &data);
    int readData(quint16 nIndex, quint8 nSub, QByteArray &data, int nCount = 128);

private:
    QByteArray readSome(int nMs); // one read after waiting up to nMs

    int m_nFd = -1;
    bool m_bBadChecksum = false;
    int m_nLifeTriggers = 0;
};

#endif // PTYCLIENT_H
