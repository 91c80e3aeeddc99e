#ifndef TFTDIAPILIBFTDI_H
#define TFTDIAPILIBFTDI_H

#include "TFtdiApi.h"

#include <QMutex>

// The converter calls on libftdi1 (over libusb). Converters whose serial
// port the kernel already serves (ftdi_sio, a ttyUSB device) are left to the
// kernel: this layer never detaches a kernel driver, so opening such a
// converter fails and the port list offers it as that serial port instead.
//
// libftdi1 has no receive queue of its own that could be asked for a count,
// so each handle keeps the bytes fetched from the chip until read() takes
// them (FtdiRxQueue); getQueueStatus() fetches what the chip holds right
// now. Both are bounded in time even when the chip never stops sending.
class TFtdiApiLibftdi : public TFtdiApi
{
public:
    int open(int nIndex, Handle &pHandle) override;
    int openByLocation(uint32_t nLocId, Handle &pHandle) override;
    int close(Handle pHandle) override;
    int setDataCharacteristics(Handle pHandle, uint8_t nWordLength, uint8_t nStopBits, uint8_t nParity) override;
    int setFlowControl(Handle pHandle, uint16_t nFlowControl, uint8_t nXon, uint8_t nXoff) override;
    int setLatencyTimer(Handle pHandle, uint8_t nMilliseconds) override;
    int setBaudRate(Handle pHandle, uint32_t nBaudrate) override;
    int setTimeouts(Handle pHandle, uint32_t nReadMs, uint32_t nWriteMs) override;
    int getQueueStatus(Handle pHandle, uint32_t &nRxBytes) override;
    int read(Handle pHandle, uint8_t *pBuffer, uint32_t nCount, uint32_t &nRead) override;
    int write(Handle pHandle, const uint8_t *pBuffer, uint32_t nCount, uint32_t &nWritten) override;
    int purge(Handle pHandle, uint32_t nMask) override;
    int createDeviceInfoList(uint32_t &nDevices) override;
    int getDeviceInfoList(QVector<DeviceNode> &nodes, uint32_t &nDevices) override;
    int getComPortNumber(Handle pHandle, int32_t &nPortNumber) override;

private:
    // nIndex >= 0 opens by list position, otherwise by nLocId.
    int openMatching(int nIndex, uint32_t nLocId, Handle &pHandle);

    QMutex m_mutex;              // guards the snapshot; enumeration may run in two threads
    QVector<DeviceNode> m_nodes; // taken by createDeviceInfoList
};

#endif // TFTDIAPILIBFTDI_H
