#ifndef LINKTRANSACTION_H
#define LINKTRANSACTION_H

#include "LinkFrame.h"

#include <cstdint>

class TComSerial;

// One request/response exchange with the boot monitor, on the caller's stack.
// The services zero it before filling the request, so response bytes the
// monitor did not send read as 0.
struct ServiceExchange
{
    int32_t nRequestLength = 0;    // valid bytes in aRequest
    int32_t nResponseCapacity = 0; // most payload bytes the response may carry
    int32_t nResponseLength = 0;   // payload bytes that arrived (set by transact)
    int32_t nLineBytes = 0;        // bytes read during reception, frame or not
                                   // (set by transact): 0 means the line was silent
    uint8_t aRequest[LinkFrame::kMaxPayload] = {};
    uint8_t aResponse[LinkFrame::kMaxPayload] = {};
};

// Bytes per transport write and per transport read.
constexpr uint32_t kTransactChunk = 64;

// Sends the request as one frame and waits for one response frame.
// The transport must be open and configured; its read time-out bounds each
// wait for data. nDeadlineMs bounds the whole reception, so a peer that keeps
// sending bytes without ever completing a frame (a stream of '*', line noise)
// cannot hold the caller forever; a negative value means no overall limit.
//
// Returns 0 when a frame with a correct checksum arrived (its payload is in
// aResponse), the transport's code when a write or read fails (100, 101, 12),
// 100 on overflow or checksum mismatch, 101 when the deadline passes.
int transact(TComSerial &transport, ServiceExchange &exchange, int nDeadlineMs = -1);

#endif // LINKTRANSACTION_H
