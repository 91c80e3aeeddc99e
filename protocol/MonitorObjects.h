#ifndef MONITOROBJECTS_H
#define MONITOROBJECTS_H

#include <cstdint>

// The boot monitor's object dictionary as the tool and the simulated drive
// use it: object indexes (16-bit), subindexes (8-bit), the command codes of
// the flash and EEPROM command objects and the sizes of the drive's buffers.
// Values travel most significant byte first (TBootMonitorLink).
namespace MonitorObjects {
// Sent, unframed, to a drive being switched on: a drive that receives it
// echoes it and stays in its boot monitor.
constexpr uint8_t kWakePattern[4] = {0xFE, 0xED, 0xC0, 0xDE};

// The monitor's line rate in bit/s (32-bit): read to probe for the monitor,
// written to switch its rate.
constexpr uint16_t kBaudRate = 0x5FB0;
constexpr uint8_t kBaudRateSub = 1;

// Subindexes of the flash and EEPROM command objects (32-bit each). A
// command reads its parameters, so they are written before the command code.
constexpr uint8_t kCommandSub = 1;
constexpr uint8_t kParam2Sub = 2;
constexpr uint8_t kParam3Sub = 3;

// A data object carries one piece of the transfer buffer per subindex, the
// first piece at subindex 1.
constexpr uint32_t kPieceSize = 128;

namespace Flash {
constexpr uint16_t kCommand = 0x5E10;
constexpr uint16_t kStatus = 0x5E11; // subindexes 1 to kStatusCount, read only
constexpr uint16_t kData = 0x5E12;

constexpr uint32_t kStatusCount = 4;
// The transfer buffer: what one read, program or verify command covers,
// 64 pieces.
constexpr uint32_t kBufferSize = 8192;

// Command codes; parameter 2 is mostly an address, parameter 3 a length.
constexpr uint32_t kSelect = 0x01;     // parameter 2: device 0 or 1
constexpr uint32_t kDeviceInfo = 0x10; // status: region count, size, sectors, page
constexpr uint32_t kRegionInfo = 0x11; // parameter 2: region; status: start, size, sectors, sector size
constexpr uint32_t kEraseSector = 0x20;
constexpr uint32_t kRead = 0x30;       // flash into the transfer buffer
constexpr uint32_t kProgram = 0x31;    // transfer buffer into flash
constexpr uint32_t kVerify = 0x33;     // status 1: 0 equal, 1 different
constexpr uint32_t kCheckErase = 0x34; // status 1: 0 blank, 1 needs erasing
constexpr uint32_t kDecompress = 0x40; // parameter 2: packed length; status 1: 0 good
} // namespace Flash

namespace Eeprom {
constexpr uint16_t kCommand = 0x5E20;
constexpr uint16_t kStatus = 0x5E21; // subindex 1, read only
constexpr uint16_t kData = 0x5E22;

// The EEPROM transfer buffer, 2 pieces.
constexpr uint32_t kBufferSize = 256;

constexpr uint32_t kSelect = 0x01; // parameter 2: device 0 or 1
constexpr uint32_t kInfo = 0x10;   // status 1: size in bytes
constexpr uint32_t kRead = 0x30;
constexpr uint32_t kWrite = 0x32;
constexpr uint32_t kVerify = 0x33; // status 1: 0 equal, 1 different
} // namespace Eeprom
} // namespace MonitorObjects

#endif // MONITOROBJECTS_H
