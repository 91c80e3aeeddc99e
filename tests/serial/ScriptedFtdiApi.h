#ifndef SCRIPTEDFTDIAPI_H
#define SCRIPTEDFTDIAPI_H

#include "FtdiRxQueue.h"
#include "TFtdiApi.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cstring>

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
    QSet<uint32_t> unopenableLocations;  // openByLocation fails for these
    QMap<uint32_t, int32_t> portNumbers; // location -> port number
    QSet<uint32_t> numberFailsFor;       // getComPortNumber fails for these

    // The open converter
    int nOpenResult = 0;
    QSet<uint32_t> refusedRates;
    QByteArray rx; // bytes the converter has received
    bool bQueueFails = false;
    bool bReadFails = false;
    bool bWriteFails = false;
    int nWriteShortBy = 0;
    QByteArray tx; // bytes written

    QStringList calls;
    int nOpenHandles = 0;

    // A converter that keeps sending nByte, nBytesPerMs for nForMs, read
    // through the receive queue the libftdi1 layer uses: its reads return
    // only when the count asked for came, as ftdi_read_data() does while
    // data keeps arriving.
    void startStream(char nByte, int nBytesPerMs, int nForMs)
    {
        m_nStreamByte = nByte;
        m_nStreamPerMs = nBytesPerMs;
        m_nStreamForMs = nForMs;
        m_nStreamTaken = 0;
        m_stream.start();
    }

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
        m_nReadTimeoutMs = nReadMs;
        return 0;
    }
    int getQueueStatus(Handle, uint32_t &nRxBytes) override
    {
        calls << QStringLiteral("getQueueStatus");
        if (m_stream.isValid()) {
            const int nResult = m_queue.fetch();
            nRxBytes = m_queue.size();
            return nResult;
        }
        nRxBytes = bQueueFails ? 77 : uint32_t(rx.size()); // garbage on failure
        return bQueueFails ? 4 : 0;
    }
    int read(Handle, uint8_t *pBuffer, uint32_t nCount, uint32_t &nRead) override
    {
        calls << QStringLiteral("read %1").arg(nCount);
        nRead = 0;
        if (m_stream.isValid())
            return m_queue.read(pBuffer, nCount, m_nReadTimeoutMs, nRead);
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
        if (nMask & PurgeRx) {
            rx.clear();
            m_queue.clear();
            m_nStreamTaken = std::max(m_nStreamTaken, streamed());
        }
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

    // Stream bytes sent so far.
    qint64 streamed() const { return std::min<qint64>(m_stream.elapsed(), m_nStreamForMs) * m_nStreamPerMs; }
    // ftdi_read_data() on the stream: waits while bytes keep coming.
    int converterRead(uint8_t *pBuffer, int nSize)
    {
        int nGot = 0;
        for (;;) {
            const int nTake = int(std::min<qint64>(nSize - nGot, streamed() - m_nStreamTaken));
            std::memset(pBuffer + nGot, m_nStreamByte, size_t(nTake));
            nGot += nTake;
            m_nStreamTaken += nTake;
            if (nGot == nSize || m_stream.elapsed() >= m_nStreamForMs)
                return nGot;
            QThread::msleep(1);
        }
    }

    QElapsedTimer m_stream; // valid while streaming
    char m_nStreamByte = 0;
    int m_nStreamPerMs = 0;
    int m_nStreamForMs = 0;
    qint64 m_nStreamTaken = 0;
    uint32_t m_nReadTimeoutMs = 0;
    FtdiRxQueue m_queue{[this](uint8_t *pBuffer, int nSize) { return converterRead(pBuffer, nSize); }};
};

#endif // SCRIPTEDFTDIAPI_H
