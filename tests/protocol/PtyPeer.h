#ifndef PTYPEER_H
#define PTYPEER_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

// The drive's end of a real pseudo-terminal pair. The tool opens the slave
// by its device path; this side reads the master, parses each request frame
// with the same receiver the tool uses and answers as the handler says, in
// pieces: each piece is handed over only after the tool has read the one
// before, so a response really arrives split where the test wants it.
class PtyPeer
{
public:
    struct Answer
    {
        QList<QByteArray> pieces;  // raw bytes, written in order
        int nGapMs = 0;            // pause before each further piece
        bool bWaitConsumed = true; // wait until the tool read the previous piece
    };
    // Called in the peer's thread with the request payload; the line rate is
    // the rate the tool's port runs at right now.
    using Handler = std::function<Answer(const QByteArray &request, uint32_t nLineRate)>;

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool isValid() const { return m_nMaster >= 0; }
    QString devicePath() const { return m_sPath; }
    void start(Handler handler);
    void stop();

    // The rate the tool's end of the line is set to.
    uint32_t lineRate() const;
    // Everything the tool sent, raw, and the request payloads parsed from it.
    QByteArray received() const;
    QList<QByteArray> requests() const;

    // One answer frame around a payload, in one piece.
    static Answer frame(const QByteArray &payload);

private:
    void run();
    bool waitConsumed();

    int m_nMaster = -1;
    int m_nSlave = -1;
    QString m_sPath;
    Handler m_handler;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    mutable std::mutex m_mutex;
    QByteArray m_received;
    QList<QByteArray> m_requests;
};

#endif // PTYPEER_H
