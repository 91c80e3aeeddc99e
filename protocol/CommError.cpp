#include "CommError.h"

#include "TransportStatus.h"

// The transports hand their status numbers up through the link unchanged:
// each must mean here what it means there. NotOpen (-1) is the COM-port
// transport's answer to a port-level call while it is closed; the link asks
// nothing of a closed transport (it answers NotConnected itself), so -1
// never reaches this table.
static_assert(TransportStatus::Ok == CommError::NoError, "transport status 0");
static_assert(TransportStatus::InvalidParameter == CommError::InvalidParameter, "transport status 1");
static_assert(TransportStatus::CannotOpen == CommError::InitDriver, "transport status 11");
static_assert(TransportStatus::NoHandle == CommError::NoHandle, "transport status 12");
static_assert(TransportStatus::DriverError == CommError::Unspecified, "transport status 100");
static_assert(TransportStatus::Timeout == CommError::Timeout, "transport status 101");

namespace CommError {
namespace {
// The codes' messages, in search order.
const struct
{
    int32_t nCode;
    const char *sText;
} table[] = {
    {-4, "Wrong parameter"},
    {-3, "Change config while connected"},
    {-2, "Service request without connect"},
    {0, "No error"},
    {1, "Invalid function parameter"},
    {10, "Missing serial device driver"},
    {11, "Error initializing serial device driver"},
    {12, "No handle available"},
    {50, "No data received"},
    {51, "Busy receiving data"},
    {100, "Unspecified communication error (driver)"},
    {101, "Communication timeout error (driver)"},
    {102, "NAK received"},
    {103, "LIFE_TRIGGER character received"},
    {110, "Slave in reset state, not ready for receiving"},
    {111, "Master in reset state, not ready for receiving"},
    {120, "Serial protocol error"},
    {150, "Device not supported"},
    {170, "Unexpected response"},
    {171, "Access type conflict"},
    {172, "Attribute of access object inconsistent"},
    {173, "Unsupported type of access object"},
    {174, "Object access denied"},
    {175, "Access object undefined"},
    {200, "Value too large"},
    {201, "Value too small"},
    {202, "Invalid parameter value"},
    {203, "Service cannot be carried out due to device status"},
    {215, "Reuqested operating mode not available with this equipment"},
};
} // namespace

QString text(int nCode)
{
    for (const auto &entry : table) {
        if (entry.nCode == nCode)
            return QString::fromLatin1(entry.sText);
    }
    return QStringLiteral("Unknown communcation error code %1").arg(nCode);
}
} // namespace CommError
