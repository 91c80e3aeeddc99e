#ifndef TFTDIAPI_H
#define TFTDIAPI_H

#include <QString>
#include <QVector>
#include <cstdint>

// The handful of FTDI converter calls the FTDI transport and the converter
// enumeration rely on, shaped after the vendor's D2XX interface: every call
// returns 0 on success and anything else on failure. One implementation sits
// on libftdi1; tests drive the transport through a scripted one.
class TFtdiApi
{
public:
    using Handle = void *;

    // One converter as the enumeration sees it. Only nLocId matters to the
    // port list; the rest describes the converter to the operator.
    struct DeviceNode
    {
        uint32_t nLocId = 0; // USB location; 0 = the converter has none
        uint16_t nVendorId = 0;
        uint16_t nProductId = 0;
        QString sSerialNumber;
        QString sDescription;
        QString sManufacturer;
    };

    // Line settings and purge mask, in the vendor's numbering.
    static constexpr uint8_t Bits8 = 8;
    static constexpr uint8_t StopBits1 = 0;
    static constexpr uint8_t ParityNone = 0;
    static constexpr uint16_t FlowNone = 0;
    static constexpr uint32_t PurgeRx = 1;
    // Failures of open() whose cause the operator is told; any other
    // non-zero result is a failure without a known cause.
    static constexpr int OpenAccessDenied = 0x100;
    static constexpr int OpenInUse = 0x101;

    virtual ~TFtdiApi() = default;

    // Opens the converter at position nIndex of the current device list.
    virtual int open(int nIndex, Handle &pHandle) = 0;
    virtual int openByLocation(uint32_t nLocId, Handle &pHandle) = 0;
    virtual int close(Handle pHandle) = 0;

    virtual int setDataCharacteristics(Handle pHandle, uint8_t nWordLength, uint8_t nStopBits, uint8_t nParity) = 0;
    virtual int setFlowControl(Handle pHandle, uint16_t nFlowControl, uint8_t nXon, uint8_t nXoff) = 0;
    virtual int setLatencyTimer(Handle pHandle, uint8_t nMilliseconds) = 0;
    virtual int setBaudRate(Handle pHandle, uint32_t nBaudrate) = 0;
    // nReadMs bounds a read that has not yet got all bytes asked for.
    virtual int setTimeouts(Handle pHandle, uint32_t nReadMs, uint32_t nWriteMs) = 0;
    virtual int getQueueStatus(Handle pHandle, uint32_t &nRxBytes) = 0;
    // Returns when nCount bytes came or the read time-out expired.
    virtual int read(Handle pHandle, uint8_t *pBuffer, uint32_t nCount, uint32_t &nRead) = 0;
    virtual int write(Handle pHandle, const uint8_t *pBuffer, uint32_t nCount, uint32_t &nWritten) = 0;
    virtual int purge(Handle pHandle, uint32_t nMask) = 0;

    // Enumeration: createDeviceInfoList takes a snapshot of the attached
    // converters, getDeviceInfoList reports it; indices into that snapshot
    // are what open() takes.
    virtual int createDeviceInfoList(uint32_t &nDevices) = 0;
    virtual int getDeviceInfoList(QVector<DeviceNode> &nodes, uint32_t &nDevices) = 0;
    // The port number under which an opened converter is offered.
    virtual int getComPortNumber(Handle pHandle, int32_t &nPortNumber) = 0;
};

// The layer used when none is given: libftdi1 where the build found it,
// otherwise one that finds no converter and opens nothing.
TFtdiApi &defaultFtdiApi();

#endif // TFTDIAPI_H
