#ifndef FTDIRXQUEUE_H
#define FTDIRXQUEUE_H

#include <QByteArray>

#include <cstdint>
#include <functional>

// Bytes fetched from an FTDI converter and not yet read. The converter is
// read in small pieces, and every call is bounded in time and size, so a
// converter that streams without end cannot hold a read, a queue query or
// a purge: the caller gets what came so far and its own deadlines apply.
class FtdiRxQueue
{
public:
    // Reads from the converter like ftdi_read_data(): returns once nSize
    // bytes came or the converter has nothing more right now; the byte
    // count, or a negative error.
    using ConverterRead = std::function<int(uint8_t *pBuffer, int nSize)>;

    // Bytes asked of the converter per call: at 9600 baud a streaming
    // converter fills them in well under 100 ms.
    static constexpr int kPiece = 64;
    // fetch() stops after this long or at this many queued bytes.
    static constexpr int kFetchBudgetMs = 5;
    static constexpr int kMaxQueued = 64 * 1024;

    explicit FtdiRxQueue(ConverterRead read);

    // Moves what the converter holds now into the queue. 0 or its error.
    int fetch();
    // Takes up to nCount bytes: the queued ones, then what arrives within
    // nTimeoutMs (0: only what the converter holds now). 0 or the
    // converter's error; nRead tells how many.
    int read(uint8_t *pBuffer, uint32_t nCount, uint32_t nTimeoutMs, uint32_t &nRead);

    uint32_t size() const { return uint32_t(m_pending.size()); }
    void clear() { m_pending.clear(); }

private:
    ConverterRead m_read;
    QByteArray m_pending;
};

#endif // FTDIRXQUEUE_H
