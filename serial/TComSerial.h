#ifndef TCOMSERIAL_H
#define TCOMSERIAL_H

#include "PortOpenError.h"

#include <cstdint>

// The byte transport every exchange with the drive goes through. The
// boot-monitor protocol only ever calls these operations, so it runs unchanged
// over any backend. All results are communication status codes (0 = success)
// unless stated otherwise. Back ends: TComSerialPort (serial ports and device
// paths) and TComSerialFTDI (libftdi1-only converters); createTransport() in
// TransportFactory.h picks one for a port name.
//
// A transport is used by one thread at a time; it needs no event loop.
class TComSerial
{
public:
    virtual ~TComSerial() = default;

    // Opens the port by name and configures 8N1 without flow control.
    // nBaudrate 0 keeps the port's rate. 1: bad name, 11: cannot open.
    virtual int open(const char *sPort, uint32_t nBaudrate) = 0;
    // Non-zero when no port is open (-1 serial port, 12 FTDI).
    virtual int close() = 0;
    virtual bool isOpen() const = 0;
    // Read time-out in milliseconds used by every later read().
    virtual int setTimeout(uint32_t nMilliseconds) = 0;
    // 0 when the line runs at the rate afterwards.
    virtual int setBaudRate(uint32_t nBaudrate) = 0;
    virtual int getBaudRate(uint32_t &nBaudrate) = 0;
    // Returns at once with up to nCapacity buffered bytes; when nothing is
    // buffered waits up to the time-out for one. 0: at least one byte read,
    // 101: nothing came, 100: port failure.
    virtual int read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount) = 0;
    // All or nothing: 0 when all bytes were handed over, 100 otherwise.
    virtual int write(const uint8_t *pBuffer, uint32_t nCount) = 0;
    // Discards received bytes not yet read.
    virtual int purge() = 0;
    // The rate, in bit/s, the link moves drive and port to when the operator
    // asks for none (the rate table's 0): what this kind of line carries
    // reliably.
    virtual uint32_t defaultWorkingBaudRate() const = 0;
    // Why the last open() failed with 11 (cause, device, group, lock
    // owner); Cause::None after a successful open and from a transport that
    // cannot tell. A wrapper around a transport must pass it on.
    virtual PortOpenError lastOpenError() const { return PortOpenError(); }
};

#endif // TCOMSERIAL_H
