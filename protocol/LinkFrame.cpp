#include "LinkFrame.h"

#include <algorithm>

namespace LinkFrame {
uint8_t checksum(const uint8_t *pPayload, int nLength)
{
    uint8_t nSum = kChecksumSeed;
    for (int i = 0; i < nLength; ++i)
        nSum = uint8_t(nSum + pPayload[i]);
    return nSum;
}

int encode(const uint8_t *pPayload, int nLength, uint8_t *pFrame, int nCapacity)
{
    if (nLength < 0)
        return -1;
    int nEscapes = 0;
    for (int i = 0; i < nLength; ++i)
        nEscapes += pPayload[i] == kDle ? 1 : 0;
    const int nSize = nLength + nEscapes + 5;
    if (nSize > nCapacity)
        return -1;

    int n = 0;
    pFrame[n++] = kDle;
    pFrame[n++] = kStx;
    for (int i = 0; i < nLength; ++i) {
        pFrame[n++] = pPayload[i];
        if (pPayload[i] == kDle)
            pFrame[n++] = kDle;
    }
    pFrame[n++] = kDle;
    pFrame[n++] = kEtx;
    // The checksum closes the frame and is never escaped: the receiver takes
    // whatever byte follows DLE ETX as the checksum.
    pFrame[n++] = checksum(pPayload, nLength);
    return n;
}

QByteArray encode(const QByteArray &payload)
{
    const auto *pPayload = reinterpret_cast<const uint8_t *>(payload.constData());
    QByteArray frame(maxFrameSize(int(payload.size())), Qt::Uninitialized);
    const int n = encode(pPayload, int(payload.size()), reinterpret_cast<uint8_t *>(frame.data()), int(frame.size()));
    frame.truncate(n);
    return frame;
}

Receiver::Receiver(int nCapacity) : m_pBuffer(m_aStorage), m_nCapacity(std::clamp(nCapacity, 0, kMaxPayload))
{
}

Receiver::Receiver(uint8_t *pBuffer, int nCapacity) : m_pBuffer(pBuffer), m_nCapacity(std::max(nCapacity, 0))
{
}

void Receiver::reset()
{
    m_state = State::Hunt;
    m_nStatus = NoData;
    m_error = Error::None;
    m_nCount = 0;
    m_nSum = 0;
}

void Receiver::beginFrame()
{
    reset();
    enter(State::InFrame, Busy);
}

int Receiver::enter(State state, int nStatus)
{
    m_state = state;
    return m_nStatus = nStatus;
}

QByteArray Receiver::payloadBytes() const
{
    return QByteArray(reinterpret_cast<const char *>(m_pBuffer), m_nCount);
}

// Adds one payload byte; a byte beyond the capacity ends the frame at once.
int Receiver::store(uint8_t nByte)
{
    if (m_nCount >= m_nCapacity) {
        m_error = Error::Overflow;
        return enter(State::Hunt, Failed);
    }
    m_pBuffer[m_nCount++] = nByte;
    m_nSum = uint8_t(m_nSum + nByte);
    return enter(State::InFrame, Busy);
}

int Receiver::feed(uint8_t nByte)
{
    switch (m_state) {
    case State::Hunt:
        if (nByte == kDle)
            enter(State::AfterDLE, NoData);
        else
            m_nStatus = nByte == kLifeTrigger ? LifeTrigger : NoData;
        break;
    case State::AfterDLE:
        if (nByte == kStx)
            beginFrame();
        else // DLE DLE outside a frame: still waiting for STX
            enter(nByte == kDle ? State::AfterDLE : State::Hunt, NoData);
        break;
    case State::InFrame:
        if (nByte == kDle)
            enter(State::InFrameDLE, Busy);
        else
            store(nByte);
        break;
    case State::InFrameDLE:
        if (nByte == kStx)
            beginFrame(); // whatever came before is forgotten
        else if (nByte == kDle)
            store(kDle);
        else if (nByte == kEtx && m_nCount > 0)
            enter(State::Checksum, Busy);
        else
            enter(State::Hunt, NoData); // an empty frame is ignored, a broken one dropped
        break;
    case State::Checksum:
        if (nByte == uint8_t(m_nSum + kChecksumSeed)) {
            enter(State::Hunt, Complete);
        } else {
            m_error = Error::BadChecksum;
            enter(State::Hunt, Failed);
        }
        break;
    }
    return m_nStatus;
}
} // namespace LinkFrame
