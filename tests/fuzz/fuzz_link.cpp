// libFuzzer target: the link-layer receive state machine. The input is fed
// as a raw byte stream into a receiver with its own buffer and into one
// writing into a caller buffer of 1..kMaxPayload bytes (the first byte says
// how many), allocated at exactly that size so that AddressSanitizer sees a
// write past it; then the input, encoded as a frame behind noise, must come
// out of a receiver unchanged.
#include "FuzzCheck.h"
#include "LinkFrame.h"

#include <cstring>
#include <vector>

namespace {

using R = LinkFrame::Receiver;

void feedStream(R &receiver, const std::uint8_t *pData, std::size_t nSize)
{
    for (std::size_t i = 0; i < nSize; ++i) {
        const int nStatus = receiver.feed(pData[i]);
        check(nStatus == R::Failed || nStatus == R::Complete || nStatus == R::NoData || nStatus == R::Busy
                  || nStatus == R::LifeTrigger,
              "unknown receiver status");
        check(nStatus == receiver.status(), "feed() and status() disagree");
        check(receiver.count() >= 0 && receiver.count() <= receiver.capacity(), "count outside the buffer");
        check(nStatus != R::Failed || receiver.error() != R::Error::None, "failure without an error");
        if (nStatus != R::Complete)
            continue;
        // The byte just fed is the checksum of the payload it closed, and the
        // payload encoded again completes again.
        check(LinkFrame::checksum(receiver.payload(), receiver.count()) == pData[i], "frame with a wrong checksum");
        check(receiver.state() == R::State::Hunt, "not hunting after a complete frame");
        R again;
        int nLast = R::NoData;
        for (char c : LinkFrame::encode(receiver.payloadBytes()))
            nLast = again.feed(std::uint8_t(c));
        check(nLast == R::Complete && again.payloadBytes() == receiver.payloadBytes(), "payload does not round-trip");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    if (nSize == 0)
        return 0;
    R own;
    feedStream(own, pData, nSize);
    own.reset();
    check(own.status() == R::NoData && own.count() == 0, "reset did not clear");

    std::vector<std::uint8_t> buffer(1 + pData[0] % LinkFrame::kMaxPayload);
    R caller(buffer.data(), int(buffer.size()));
    check(caller.capacity() == int(buffer.size()), "capacity not taken");
    feedStream(caller, pData + 1, nSize - 1);

    const int nLength = int(qMin<std::size_t>(nSize, LinkFrame::kMaxPayload));
    std::vector<std::uint8_t> frame(std::size_t(LinkFrame::maxFrameSize(nLength)));
    const int nFrame = LinkFrame::encode(pData, nLength, frame.data(), int(frame.size()));
    check(nFrame >= nLength + 5 && nFrame <= int(frame.size()), "frame length out of range");
    check(LinkFrame::encode(pData, nLength, frame.data(), nFrame - 1) == -1, "encode accepted too small an area");
    R receiver;
    receiver.feed(LinkFrame::kLifeTrigger); // noise that cannot start a frame
    receiver.feed(LinkFrame::kEtx);
    for (int i = 0; i < nFrame; ++i) {
        const int nStatus = receiver.feed(frame[std::size_t(i)]);
        // The opening DLE still counts as hunting; from STX on the receiver
        // is inside the frame until the checksum.
        check(i == 0 || nStatus == (i < nFrame - 1 ? R::Busy : R::Complete), "frame ended early or not at all");
    }
    check(receiver.count() == nLength && std::memcmp(receiver.payload(), pData, std::size_t(nLength)) == 0,
          "payload changed on the way");
    return 0;
}
