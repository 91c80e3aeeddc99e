#ifndef SCRIPTEDFTDIAPI_H
#define SCRIPTEDFTDIAPI_H

#include "TFtdiApi.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QStringList>

// A converter layer whose answers the test sets up beforehand and whose calls
// it records, so the FTDI transport's decisions can be checked without a
// converter on the bus.
class ScriptedFtdiApi : public TFtdiApi
{
public:
    // Enumeration
    int nCreateResult = 0;
    int nGetListResult = 0;
    QVector<DeviceNode> nodes;
    QSet<uint32_t> unopenableLocations;       // openByLocation fails for these
    QMap<uint32_t, int32_t> portNumbers;       // location -> port number
    QSet<uint32_t> numberFailsFor;             // getComPortNumber fails for these

    // The open converter
    int nOpenResult = 0;
    QSet<uint32_t> refusedRates;
    QByteArray rx;                             // bytes the converter has received
    bool bQueueFails = false;
    bool bReadFails = false;
    bool bWriteFails = false;
    int nWriteShortBy = 0;
    QByteArray tx;                             // bytes written

    QStringList calls;
    int nOpenHandles = 0;

    void addConverter(uint32_t nLocId, int32_t nNumber)
    {
        DeviceNode node;
        node.nLocId = nLocId;
        node.nVendorId = 0x0403;
        node.nProductId = 0x6001;
        nodes.append(node);
        portNumbers.insert(nLocId, nNumber);
    }

    int open(int nIndex, Handle &pHandle) override
    {
        calls << QStringLiteral("open %1").arg(nIndex);
        pHandle = nOpenResult == 0 ? newHandle(uint32_t(nIndex)) : nullptr;
        return nOpenResult;
    }
    int openByLocation(uint32_t nLocId, Handle &pHandle) override
    {
        calls << QStringLiteral("openByLocation %1").arg(nLocId);
        if (unopenableLocations.contains(nLocId)) {
            pHandle = nullptr;
            return 3;
        }
        pHandle = newHandle(nLocId);
        return 0;
    }
    int close(Handle pHandle) override
    {
        calls << QStringLiteral("close");
        delete static_cast<uint32_t *>(pHandle);
        --nOpenHandles;
        return 0;
    }
    int setDataCharacteristics(Handle, uint8_t nWordLength, uint8_t nStopBits, uint8_t nParity) override
    {
        calls << QStringLiteral("setDataCharacteristics %1 %2 %3").arg(nWordLength).arg(nStopBits).arg(nParity);
        return 0;
    }
    int setFlowControl(Handle, uint16_t nFlowControl, uint8_t nXon, uint8_t nXoff) override
    {
        calls << QStringLiteral("setFlowControl %1 %2 %3").arg(nFlowControl).arg(nXon).arg(nXoff);
        return 0;
    }
    int setLatencyTimer(Handle, uint8_t nMilliseconds) override
    {
        calls << QStringLiteral("setLatencyTimer %1").arg(nMilliseconds);
        return 0;
    }
    int setBaudRate(Handle, uint32_t nBaudrate) override
    {
        calls << QStringLiteral("setBaudRate %1").arg(nBaudrate);
        return refusedRates.contains(nBaudrate) ? 5 : 0;
    }
    int setTimeouts(Handle, uint32_t nReadMs, uint32_t nWriteMs) override
    {
        calls << QStringLiteral("setTimeouts %1 %2").arg(nReadMs).arg(nWriteMs);
        return 0;
    }
    int getQueueStatus(Handle, uint32_t &nRxBytes) override
    {
        calls << QStringLiteral("getQueueStatus");
        nRxBytes = bQueueFails ? 77 : uint32_t(rx.size());   // garbage on failure
        return bQueueFails ? 4 : 0;
    }
    int read(Handle, uint8_t *pBuffer, uint32_t nCount, uint32_t &nRead) override
    {
        calls << QStringLiteral("read %1").arg(nCount);
        nRead = 0;
        if (bReadFails)
            return 4;
        nRead = qMin<uint32_t>(nCount, uint32_t(rx.size()));
        memcpy(pBuffer, rx.constData(), nRead);
        rx.remove(0, int(nRead));
        return 0;
    }
    int write(Handle, const uint8_t *pBuffer, uint32_t nCount, uint32_t &nWritten) override
    {
        calls << QStringLiteral("write %1").arg(nCount);
        nWritten = 0;
        if (bWriteFails)
            return 4;
        nWritten = nCount - uint32_t(qMin<int>(nWriteShortBy, int(nCount)));
        tx.append(reinterpret_cast<const char *>(pBuffer), int(nWritten));
        return 0;
    }
    int purge(Handle, uint32_t nMask) override
    {
        calls << QStringLiteral("purge %1").arg(nMask);
        if (nMask & PurgeRx)
            rx.clear();
        return 0;
    }
    int createDeviceInfoList(uint32_t &nDevices) override
    {
        calls << QStringLiteral("createDeviceInfoList");
        nDevices = nCreateResult == 0 ? uint32_t(nodes.size()) : 0;
        return nCreateResult;
    }
    int getDeviceInfoList(QVector<DeviceNode> &list, uint32_t &nDevices) override
    {
        calls << QStringLiteral("getDeviceInfoList");
        if (nGetListResult != 0) {
            nDevices = 0;
            return nGetListResult;
        }
        list = nodes;
        nDevices = uint32_t(nodes.size());
        return 0;
    }
    int getComPortNumber(Handle pHandle, int32_t &nPortNumber) override
    {
        const uint32_t nLocId = *static_cast<uint32_t *>(pHandle);
        calls << QStringLiteral("getComPortNumber");
        if (numberFailsFor.contains(nLocId))
            return 2;
        nPortNumber = portNumbers.value(nLocId, 0);
        return 0;
    }

    // Calls whose text starts with sPrefix.
    int count(const QString &sPrefix) const
    {
        int n = 0;
        for (const QString &sCall : calls)
            n += sCall.startsWith(sPrefix) ? 1 : 0;
        return n;
    }

private:
    Handle newHandle(uint32_t nTag)
    {
        ++nOpenHandles;
        return new uint32_t(nTag);
    }
};

#endif // SCRIPTEDFTDIAPI_H
