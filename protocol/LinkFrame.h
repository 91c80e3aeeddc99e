#ifndef LINKFRAME_H
#define LINKFRAME_H

#include <QByteArray>

#include <cstdint>

// The byte-oriented frame both sides of the boot-monitor line use:
//
//   DLE STX <payload, every 0x10 doubled> DLE ETX <checksum>
//
// checksum = (0x13 + sum of the unescaped payload bytes) mod 256; it is sent
// as is, never escaped, even when it equals 0x10. There is no length field:
// the framing gives the payload length. The first payload byte is the
// service code.
namespace LinkFrame {
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kLifeTrigger = 0x2A; // '*', sent by an idle monitor
// DLE + ETX, the two bytes that close the payload, enter the checksum.
constexpr uint8_t kChecksumSeed = 0x13;

// Largest payload in either direction: 5 header bytes and 256 data bytes.
constexpr int kMaxPayload = 261;

// Bytes a frame around nPayloadLength payload bytes can take at most (every
// payload byte escaped).
constexpr int maxFrameSize(int nPayloadLength)
{
    return 2 * nPayloadLength + 5;
}

uint8_t checksum(const uint8_t *pPayload, int nLength);

// Writes the frame for the payload into pFrame and returns its length, or -1
// when nCapacity is too small (maxFrameSize(nLength) always suffices).
int encode(const uint8_t *pPayload, int nLength, uint8_t *pFrame, int nCapacity);
QByteArray encode(const QByteArray &payload);

// The receive state machine. Bytes are fed one at a time as they arrive, in
// any chunking; feed() returns the receiver's status after the byte:
//
//   NoData (50)        hunting for a frame, nothing useful seen
//   LifeTrigger (103)  a '*' arrived while hunting
//   Busy (51)          inside a frame
//   Complete (1)       a frame with a correct checksum ended; payload() and
//                      count() hold it until the next DLE STX
//   Failed (0)         the frame overflowed the capacity or its checksum was
//                      wrong (see error()); the receiver hunts again
//
// Noise, stray DLEs, broken frames and empty frames are skipped. The same
// class parses responses in the tool and requests in the simulated drive.
class Receiver
{
public:
    enum class State
    {
        Hunt,
        AfterDLE,
        InFrame,
        InFrameDLE,
        Checksum
    };
    enum Status : int
    {
        Failed = 0,
        Complete = 1,
        NoData = 50,
        Busy = 51,
        LifeTrigger = 103
    };
    enum class Error
    {
        None,
        Overflow,
        BadChecksum
    };

    // Payload goes into an internal buffer of nCapacity bytes (at most
    // kMaxPayload).
    explicit Receiver(int nCapacity = kMaxPayload);
    // Payload goes into the caller's buffer of nCapacity bytes.
    Receiver(uint8_t *pBuffer, int nCapacity);
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    int feed(uint8_t nByte);
    // Back to Hunt, status NoData, no payload.
    void reset();

    State state() const { return m_state; }
    int status() const { return m_nStatus; }
    Error error() const { return m_error; }
    int capacity() const { return m_nCapacity; }
    // Payload bytes received for the current (or just completed) frame.
    int count() const { return m_nCount; }
    const uint8_t *payload() const { return m_pBuffer; }
    QByteArray payloadBytes() const;

private:
    // STX after DLE: an empty frame in progress.
    void beginFrame();
    // Moves to state with status; returns the status.
    int enter(State state, int nStatus);
    int store(uint8_t nByte);

    uint8_t m_aStorage[kMaxPayload];
    uint8_t *m_pBuffer;
    int m_nCapacity;
    State m_state = State::Hunt;
    int m_nStatus = NoData;
    Error m_error = Error::None;
    int m_nCount = 0;
    uint8_t m_nSum = 0;
};
} // namespace LinkFrame

#endif // LINKFRAME_H
