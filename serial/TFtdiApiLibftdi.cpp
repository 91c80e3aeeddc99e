#include "TFtdiApiLibftdi.h"

#include "FtdiRxQueue.h"

#include <QMutexLocker>

#include <ftdi.h>
#include <libusb.h>

namespace {

// A bulk transfer from the chip ends at the latest when its latency timer
// expires, so this only bounds a misbehaving device.
constexpr int kUsbReadTimeoutMs = 1000;
// A write time-out of 0 means "none" to callers; an unplugged or stalled
// converter must still not hang the worker for ever.
constexpr int kUsbWriteTimeoutUnboundedMs = 5000;

// One ftdi_read_data() call; a USB time-out only means nothing came.
int readConverter(ftdi_context *pContext, uint8_t *pBuffer, int nSize)
{
    const int nGot = ftdi_read_data(pContext, pBuffer, nSize);
    return nGot == LIBUSB_ERROR_TIMEOUT ? 0 : nGot;
}

struct Device
{
    explicit Device(ftdi_context *pNewContext)
        : pContext(pNewContext),
          queue([pNewContext](uint8_t *pBuffer, int nSize) { return readConverter(pNewContext, pBuffer, nSize); })
    {
    }
    ftdi_context *pContext = nullptr;
    int nIndex = -1;           // position in the device list when opened
    uint32_t nReadTimeout = 0; // ms; 0 takes only what is there
    FtdiRxQueue queue;         // fetched from the chip, not yet read
};

Device *device(TFtdiApi::Handle pHandle)
{
    return static_cast<Device *>(pHandle);
}

// USB location as bus number followed by the port path, one nibble per hub
// level (the shape the vendor's own library reports on this platform).
uint32_t locationOf(libusb_device *pDev)
{
    uint32_t nLoc = libusb_get_bus_number(pDev);
    uint8_t ports[8];
    const int nPorts = libusb_get_port_numbers(pDev, ports, int(sizeof ports));
    for (int i = 0; i < nPorts; ++i)
        nLoc = (nLoc << 4) | (ports[i] & 0x0f);
    return nLoc;
}

} // namespace

int TFtdiApiLibftdi::openMatching(int nIndex, uint32_t nLocId, Handle &pHandle)
{
    pHandle = nullptr;
    ftdi_context *pContext = ftdi_new();
    if (!pContext)
        return -1;
    // Never take a converter away from the kernel's serial driver: that one
    // is offered as a serial port and may be in use by someone else.
    pContext->module_detach_mode = DONT_DETACH_SIO_MODULE;

    ftdi_device_list *pList = nullptr;
    int nResult = -1;
    int nPosition = 0;
    if (ftdi_usb_find_all(pContext, &pList, 0, 0) > 0) {
        for (ftdi_device_list *p = pList; p; p = p->next, ++nPosition) {
            const bool bMatch = nIndex >= 0 ? nPosition == nIndex : locationOf(p->dev) == nLocId;
            if (bMatch) {
                nResult = ftdi_usb_open_dev(pContext, p->dev);
                break;
            }
        }
    }
    ftdi_list_free(&pList);

    if (nResult != 0) {
        ftdi_free(pContext);
        // libusb_open() refused (access rights), or the interface is
        // claimed by another program.
        return nResult == -4 || nResult == -8 ? OpenAccessDenied : nResult == -5 ? OpenInUse : nResult;
    }
    auto *pDevice = new Device(pContext);
    pDevice->nIndex = nPosition;
    pContext->usb_read_timeout = kUsbReadTimeoutMs;
    pContext->usb_write_timeout = kUsbWriteTimeoutUnboundedMs;
    pHandle = pDevice;
    return 0;
}

int TFtdiApiLibftdi::open(int nIndex, Handle &pHandle)
{
    if (nIndex < 0) {
        pHandle = nullptr;
        return -1;
    }
    return openMatching(nIndex, 0, pHandle);
}

int TFtdiApiLibftdi::openByLocation(uint32_t nLocId, Handle &pHandle)
{
    return openMatching(-1, nLocId, pHandle);
}

int TFtdiApiLibftdi::close(Handle pHandle)
{
    Device *pDevice = device(pHandle);
    if (!pDevice)
        return -1;
    const int nResult = ftdi_usb_close(pDevice->pContext);
    ftdi_free(pDevice->pContext);
    delete pDevice;
    return nResult;
}

int TFtdiApiLibftdi::setDataCharacteristics(Handle pHandle, uint8_t nWordLength, uint8_t nStopBits, uint8_t nParity)
{
    // The D2XX codes and libftdi's enumerations share their numbering.
    Device *pDevice = device(pHandle);
    if (!pDevice || (nWordLength != 7 && nWordLength != 8) || nStopBits > 2 || nParity > 4)
        return -1;
    return ftdi_set_line_property(pDevice->pContext, ftdi_bits_type(nWordLength), ftdi_stopbits_type(nStopBits),
                                  ftdi_parity_type(nParity));
}

int TFtdiApiLibftdi::setFlowControl(Handle pHandle, uint16_t nFlowControl, uint8_t nXon, uint8_t nXoff)
{
    Device *pDevice = device(pHandle);
    if (!pDevice)
        return -1;
    if (nFlowControl == SIO_XON_XOFF_HS)
        return ftdi_setflowctrl_xonxoff(pDevice->pContext, nXon, nXoff);
    return ftdi_setflowctrl(pDevice->pContext, nFlowControl);
}

int TFtdiApiLibftdi::setLatencyTimer(Handle pHandle, uint8_t nMilliseconds)
{
    Device *pDevice = device(pHandle);
    return pDevice ? ftdi_set_latency_timer(pDevice->pContext, nMilliseconds) : -1;
}

int TFtdiApiLibftdi::setBaudRate(Handle pHandle, uint32_t nBaudrate)
{
    Device *pDevice = device(pHandle);
    if (!pDevice || nBaudrate == 0 || nBaudrate > uint32_t(INT32_MAX))
        return -1;
    return ftdi_set_baudrate(pDevice->pContext, int(nBaudrate));
}

int TFtdiApiLibftdi::setTimeouts(Handle pHandle, uint32_t nReadMs, uint32_t nWriteMs)
{
    Device *pDevice = device(pHandle);
    if (!pDevice)
        return -1;
    pDevice->nReadTimeout = nReadMs;
    pDevice->pContext->usb_write_timeout =
        nWriteMs == 0 ? kUsbWriteTimeoutUnboundedMs : int(qMin<uint32_t>(nWriteMs, INT32_MAX));
    return 0;
}

int TFtdiApiLibftdi::getQueueStatus(Handle pHandle, uint32_t &nRxBytes)
{
    nRxBytes = 0;
    Device *pDevice = device(pHandle);
    if (!pDevice)
        return -1;
    const int nResult = pDevice->queue.fetch();
    nRxBytes = pDevice->queue.size();
    return nResult;
}

int TFtdiApiLibftdi::read(Handle pHandle, uint8_t *pBuffer, uint32_t nCount, uint32_t &nRead)
{
    nRead = 0;
    Device *pDevice = device(pHandle);
    if (!pDevice || !pBuffer)
        return -1;
    return pDevice->queue.read(pBuffer, nCount, pDevice->nReadTimeout, nRead);
}

int TFtdiApiLibftdi::write(Handle pHandle, const uint8_t *pBuffer, uint32_t nCount, uint32_t &nWritten)
{
    nWritten = 0;
    Device *pDevice = device(pHandle);
    if (!pDevice || !pBuffer || nCount > uint32_t(INT32_MAX))
        return -1;
    const int nResult = ftdi_write_data(pDevice->pContext, pBuffer, int(nCount));
    if (nResult < 0)
        return nResult;
    nWritten = uint32_t(nResult);
    return 0;
}

int TFtdiApiLibftdi::purge(Handle pHandle, uint32_t nMask)
{
    Device *pDevice = device(pHandle);
    if (!pDevice)
        return -1;
    if (!(nMask & PurgeRx))
        return 0;
    pDevice->queue.clear();
    return ftdi_tciflush(pDevice->pContext);
}

int TFtdiApiLibftdi::createDeviceInfoList(uint32_t &nDevices)
{
    nDevices = 0;
    QVector<DeviceNode> nodes;
    ftdi_context *pContext = ftdi_new();
    if (!pContext)
        return -1;
    ftdi_device_list *pList = nullptr;
    const int nFound = ftdi_usb_find_all(pContext, &pList, 0, 0);
    for (ftdi_device_list *p = pList; p; p = p->next) {
        DeviceNode node;
        node.nLocId = locationOf(p->dev);
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(p->dev, &descriptor) == 0) {
            node.nVendorId = descriptor.idVendor;
            node.nProductId = descriptor.idProduct;
        }
        // Reading the strings needs access to the device node; without it
        // the converter is still listed, just less well described.
        char sManufacturer[128] = {}, sDescription[128] = {}, sSerial[128] = {};
        if (ftdi_usb_get_strings2(pContext, p->dev, sManufacturer, sizeof sManufacturer, sDescription,
                                  sizeof sDescription, sSerial, sizeof sSerial)
            == 0) {
            node.sManufacturer = QString::fromLatin1(sManufacturer);
            node.sDescription = QString::fromLatin1(sDescription);
            node.sSerialNumber = QString::fromLatin1(sSerial);
        }
        nodes.append(node);
    }
    ftdi_list_free(&pList);
    ftdi_free(pContext);
    if (nFound < 0)
        return nFound;

    QMutexLocker lock(&m_mutex);
    m_nodes = nodes;
    nDevices = uint32_t(nodes.size());
    return 0;
}

int TFtdiApiLibftdi::getDeviceInfoList(QVector<DeviceNode> &nodes, uint32_t &nDevices)
{
    QMutexLocker lock(&m_mutex);
    nodes = m_nodes;
    nDevices = uint32_t(m_nodes.size());
    return 0;
}

int TFtdiApiLibftdi::getComPortNumber(Handle pHandle, int32_t &nPortNumber)
{
    // There is no COM number on this platform; a converter is offered under
    // its 1-based position in the device list, which maps straight back to
    // the index open() takes.
    Device *pDevice = device(pHandle);
    if (!pDevice)
        return -1;
    nPortNumber = pDevice->nIndex + 1;
    return 0;
}
