#include "CommError.h"

namespace CommError {
const Entry table[] = {
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
const int tableSize = int(sizeof(table) / sizeof(table[0]));

QString text(int nCode)
{
    for (int i = 0; i < tableSize; ++i) {
        if (table[i].nCode == nCode)
            return QString::fromLatin1(table[i].sText);
    }
    return QStringLiteral("Unknown communcation error code %1").arg(nCode);
}
} // namespace CommError
