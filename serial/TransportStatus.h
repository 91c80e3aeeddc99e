#ifndef TRANSPORTSTATUS_H
#define TRANSPORTSTATUS_H

// The communication status codes the transports return. The messages belong
// to the protocol's code table; the transports only hand the numbers up
// (the protocol checks at compile time that each means the same there).
namespace TransportStatus {
enum : int
{
    NotOpen = -1, // port-level call on a closed COM-port transport
    Ok = 0,
    InvalidParameter = 1, // port name too long
    CannotOpen = 11,      // port or device cannot be opened
    NoHandle = 12,        // FTDI transport: no device open, or rate refused
    DriverError = 100,    // read or write failure, short write
    Timeout = 101         // no byte within the read time-out
};
}

#endif // TRANSPORTSTATUS_H
