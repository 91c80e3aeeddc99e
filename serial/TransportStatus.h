#ifndef TRANSPORTSTATUS_H
#define TRANSPORTSTATUS_H

// The communication status codes the transports return. The messages belong
// to the protocol's code table; the transports only hand the numbers up
// (the protocol checks at compile time that each means the same there).
namespace TransportStatus {
// Plain ints, not an enumeration: they are compared with the protocol's codes.
constexpr int NotOpen = -1; // port-level call on a closed COM-port transport
constexpr int Ok = 0;
constexpr int InvalidParameter = 1; // port name too long
constexpr int CannotOpen = 11;      // port or device cannot be opened
constexpr int NoHandle = 12;        // FTDI transport: no device open, or rate refused
constexpr int DriverError = 100;    // read or write failure, short write
constexpr int Timeout = 101;        // no byte within the read time-out
} // namespace TransportStatus

#endif // TRANSPORTSTATUS_H
