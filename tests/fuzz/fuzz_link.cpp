// libFuzzer target: the link-layer receive state machine.
//
// Three passes per input:
//  1. the input as a raw byte stream into a receiver with the full internal
//     buffer;
//  2. the same stream into a receiver writing into a caller buffer of a
//     size chosen by the first byte, allocated at exactly that size so that
//     AddressSanitizer sees any write past it;
//  3. the input (up to the largest payload) encoded as a frame, surrounded
//     by noise, must come out of a receiver unchanged.
#include "LinkFrame.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void check(bool bCondition, const char *sWhat)
{
    if (!bCondition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", sWhat);
        std::abort();
    }
}

void feedStream(LinkFrame::Receiver &receiver, const std::uint8_t *pData, std::size_t nSize)
{
    using R = LinkFrame::Receiver;
    for (std::size_t i = 0; i < nSize; ++i) {
        const int nStatus = receiver.feed(pData[i]);
        check(nStatus == R::Failed || nStatus == R::Complete || nStatus == R::NoData || nStatus == R::Busy
                  || nStatus == R::LifeTrigger,
              "unknown receiver status");
        check(nStatus == receiver.status(), "feed() and status() disagree");
        check(receiver.count() >= 0 && receiver.count() <= receiver.capacity(), "count outside the buffer");
        if (nStatus == R::Complete) {
            // The byte just fed is the checksum of the payload it closed.
            check(LinkFrame::checksum(receiver.payload(), receiver.count()) == pData[i],
                  "completed frame with a wrong checksum");
            check(receiver.state() == R::State::Hunt, "not hunting after a complete frame");
            // Re-encoding the payload gives a frame that completes again.
            const QByteArray frame = LinkFrame::encode(receiver.payloadBytes());
            LinkFrame::Receiver again;
            int nLast = R::NoData;
            for (char c : frame)
                nLast = again.feed(std::uint8_t(c));
            check(nLast == R::Complete && again.payloadBytes() == receiver.payloadBytes(),
                  "re-encoded payload does not round-trip");
        }
        if (nStatus == R::Failed)
            check(receiver.error() != R::Error::None, "failure without an error");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    using R = LinkFrame::Receiver;
    if (nSize == 0)
        return 0;

    // 1. Raw stream, internal buffer.
    {
        R receiver;
        feedStream(receiver, pData, nSize);
        receiver.reset();
        check(receiver.status() == R::NoData && receiver.count() == 0, "reset did not clear");
    }

    // 2. Raw stream, caller buffer of 1..kMaxPayload bytes, exact size.
    {
        const int nCapacity = 1 + pData[0] % LinkFrame::kMaxPayload;
        std::unique_ptr<std::uint8_t[]> pBuffer(new std::uint8_t[size_t(nCapacity)]);
        R receiver(pBuffer.get(), nCapacity);
        check(receiver.capacity() == nCapacity, "capacity not taken");
        feedStream(receiver, pData + 1, nSize - 1);
    }

    // 3. Encode, then receive: the payload comes back intact.
    {
        const int nLength = int(nSize > size_t(LinkFrame::kMaxPayload) ? LinkFrame::kMaxPayload : nSize);
        std::unique_ptr<std::uint8_t[]> pFrame(new std::uint8_t[size_t(LinkFrame::maxFrameSize(nLength))]);
        const int nFrame = LinkFrame::encode(pData, nLength, pFrame.get(), LinkFrame::maxFrameSize(nLength));
        check(nFrame >= nLength + 5 && nFrame <= LinkFrame::maxFrameSize(nLength), "frame length out of range");
        check(LinkFrame::encode(pData, nLength, pFrame.get(), nFrame - 1) == -1, "encode accepted too small an area");
        check(LinkFrame::encode(pData, nLength, pFrame.get(), nFrame) == nFrame, "encode not repeatable");
        R receiver;
        // Noise before the frame that cannot start one: life triggers and
        // a lone ETX.
        receiver.feed(LinkFrame::kLifeTrigger);
        receiver.feed(LinkFrame::kEtx);
        int nStatus = R::NoData;
        for (int i = 0; i < nFrame; ++i) {
            nStatus = receiver.feed(pFrame[size_t(i)]);
            // The opening DLE still counts as hunting; from STX on the
            // receiver is inside the frame until the checksum.
            if (i > 0 && i < nFrame - 1)
                check(nStatus == R::Busy, "frame ended early");
        }
        check(nStatus == R::Complete, "encoded frame not complete");
        check(receiver.count() == nLength && std::memcmp(receiver.payload(), pData, size_t(nLength)) == 0,
              "payload changed on the way");
    }
    return 0;
}
