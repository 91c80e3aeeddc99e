#include "FtdiRxQueue.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>
#include <utility>

FtdiRxQueue::FtdiRxQueue(ConverterRead read) : m_read(std::move(read))
{
}

int FtdiRxQueue::fetch()
{
    QElapsedTimer timer;
    timer.start();
    uint8_t aPiece[kPiece];
    while (m_pending.size() < kMaxQueued) {
        const int nGot = m_read(aPiece, kPiece);
        if (nGot < 0)
            return nGot;
        m_pending.append(reinterpret_cast<const char *>(aPiece), nGot);
        // A short piece: the converter is empty. A full one: it may never
        // be, so the budget ends the fetch.
        if (nGot < kPiece || timer.elapsed() >= kFetchBudgetMs)
            break;
    }
    return 0;
}

int FtdiRxQueue::read(uint8_t *pBuffer, uint32_t nCount, uint32_t nTimeoutMs, uint32_t &nRead)
{
    nRead = std::min(nCount, size());
    if (nRead > 0) {
        std::memcpy(pBuffer, m_pending.constData(), nRead);
        m_pending.remove(0, int(nRead));
    }
    QElapsedTimer timer;
    timer.start();
    while (nRead < nCount) {
        const int nWant = int(std::min<uint32_t>(nCount - nRead, kPiece));
        const int nGot = m_read(pBuffer + nRead, nWant);
        if (nGot < 0)
            return nGot;
        nRead += uint32_t(nGot);
        if (timer.elapsed() >= qint64(nTimeoutMs))
            break;
    }
    return 0;
}
