#ifndef COMMERROR_H
#define COMMERROR_H

#include <QString>

#include <cstdint>

// One numbering of communication status codes runs through the transports,
// the frame layer, the services and the status bytes the boot monitor puts
// into its answers. 0 is success. The messages are fixed English texts; they
// are never translated.
namespace CommError {
enum Code : int32_t
{
    WrongParameter = -4,
    ChangeConfigWhileConnected = -3,
    NotConnected = -2, // service request while the transport is closed
    NoError = 0,
    InvalidParameter = 1, // rate outside the table, port name too long, bad count
    MissingDriver = 10,
    InitDriver = 11,    // port or device cannot be opened
    NoHandle = 12,      // FTDI operation without an open device
    NoData = 50,        // frame receiver: nothing useful yet
    BusyReceiving = 51, // frame receiver: inside a frame
    Unspecified = 100,  // read/write failure, overflow, checksum mismatch
    Timeout = 101,      // no byte within the read time-out; no monitor found
    NakReceived = 102,
    LifeTrigger = 103, // frame receiver: '*' seen while hunting
    SlaveReset = 110,
    MasterReset = 111,
    ProtocolError = 120, // unexpected response code or short answer
    DeviceNotSupported = 150,
    UnexpectedResponse = 170,
    AccessTypeConflict = 171,
    AttributeInconsistent = 172,
    UnsupportedAccessType = 173,
    ObjectAccessDenied = 174,
    ObjectUndefined = 175,
    ValueTooLarge = 200,
    ValueTooSmall = 201,
    InvalidValue = 202,
    DeviceStatus = 203,
    ModeNotAvailable = 215
};

// The message of a code; "Unknown communcation error code <n>" for a code
// that is not in the table.
QString text(int nCode);
} // namespace CommError

#endif // COMMERROR_H
