#include "LinkTransaction.h"

#include "CommError.h"
#include "TComSerial.h"

#include <QElapsedTimer>

#include <climits>

namespace {
bool stillReceiving(int nStatus)
{
    return nStatus == LinkFrame::Receiver::NoData || nStatus == LinkFrame::Receiver::Busy
           || nStatus == LinkFrame::Receiver::LifeTrigger;
}
} // namespace

int transact(TComSerial &transport, ServiceExchange &exchange, int nDeadlineMs)
{
    if (exchange.nRequestLength < 0 || exchange.nRequestLength > LinkFrame::kMaxPayload
        || exchange.nResponseCapacity < 0 || exchange.nResponseCapacity > LinkFrame::kMaxPayload)
        return CommError::InvalidParameter;
    exchange.nResponseLength = 0;
    exchange.nLineBytes = 0;

    // Whatever is still in the receive buffer (an earlier answer's tail, the
    // echo of the wake-up pattern) belongs to nobody now.
    transport.purge();

    uint8_t aFrame[LinkFrame::maxFrameSize(LinkFrame::kMaxPayload)];
    const int nFrame = LinkFrame::encode(exchange.aRequest, exchange.nRequestLength, aFrame, int(sizeof(aFrame)));
    // The frame goes out in pieces of at most 64 bytes, the last one holding
    // at least one byte.
    for (int nOffset = 0; nOffset < nFrame; nOffset += int(kTransactChunk)) {
        const uint32_t nPiece = uint32_t(qMin(nFrame - nOffset, int(kTransactChunk)));
        const int nResult = transport.write(aFrame + nOffset, nPiece);
        if (nResult != 0)
            return nResult;
    }

    LinkFrame::Receiver receiver(exchange.aResponse, exchange.nResponseCapacity);
    QElapsedTimer timer;
    if (nDeadlineMs >= 0)
        timer.start();

    int nStatus = receiver.status();
    uint8_t aChunk[kTransactChunk];
    for (;;) {
        uint32_t nCount = 0;
        const int nRead = transport.read(aChunk, kTransactChunk, nCount);
        if (nRead != 0)
            return nRead; // read failure (100), silence (101), no device (12)
        nCount = qMin(nCount, kTransactChunk);
        if (exchange.nLineBytes < INT32_MAX - int32_t(kTransactChunk))
            exchange.nLineBytes += int32_t(nCount);
        // Bytes after the end of a frame (or after a failed one) are dropped.
        for (uint32_t i = 0; i < nCount && stillReceiving(nStatus); ++i)
            nStatus = receiver.feed(aChunk[i]);

        if (nStatus == LinkFrame::Receiver::Complete) {
            exchange.nResponseLength = receiver.count();
            return CommError::NoError;
        }
        if (nStatus == LinkFrame::Receiver::Failed)
            return CommError::Unspecified; // overflow or checksum mismatch
        // A peer that keeps talking without ever finishing a frame would
        // otherwise hold the caller forever; each read alone is bounded by
        // the read time-out, the whole reception by the deadline.
        if (nDeadlineMs >= 0 && timer.elapsed() > nDeadlineMs)
            return CommError::Timeout;
    }
}
