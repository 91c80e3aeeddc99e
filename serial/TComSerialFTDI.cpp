#include "TComSerialFTDI.h"

#include "PortDiscovery.h"
#include "TransportStatus.h"

#include <cstring>

namespace {
constexpr size_t kMaxPortNameLength = 11;
constexpr uint32_t kOpeningRate = 9600; // every connection starts here
constexpr uint8_t kLatencyTimerMs = 2;  // each block is a round trip
} // namespace

TComSerialFTDI::TComSerialFTDI(TFtdiApi &api) : m_api(api)
{
}

TComSerialFTDI::~TComSerialFTDI()
{
    // Leaving the converter open would keep it claimed until the process ends.
    if (isOpen())
        close();
}

int TComSerialFTDI::open(const char *sPort, uint32_t nBaudrate)
{
    m_openError = PortOpenError();
    if (!sPort || std::strlen(sPort) > kMaxPortNameLength)
        return TransportStatus::InvalidParameter;
    if (isOpen())
        close();

    m_openError.sDevice = QString::fromUtf8(sPort);
    const int32_t nNumber = portNumber(m_openError.sDevice);
    if (ftdiPortMap().isEmpty())
        listFtdiPorts(m_api);
    const QMap<int32_t, int32_t> map = ftdiPortMap();
    const auto it = map.constFind(nNumber);
    if (it == map.constEnd()) {
        m_openError.nCause = PortOpenError::Cause::NoSuchDevice;
        return TransportStatus::CannotOpen;
    }

    TFtdiApi::Handle pHandle = nullptr;
    const int nOpened = m_api.open(it.value(), pHandle);
    if (nOpened != 0 || !pHandle) {
        m_openError.nCause = nOpened == TFtdiApi::OpenAccessDenied ? PortOpenError::Cause::PermissionDenied
                             : nOpened == TFtdiApi::OpenInUse      ? PortOpenError::Cause::InUse
                                                                   : PortOpenError::Cause::Other;
        if (m_openError.nCause == PortOpenError::Cause::Other)
            m_openError.sSystemText = QStringLiteral("the converter cannot be opened (error %1)").arg(nOpened);
        return TransportStatus::CannotOpen;
    }
    m_openError = PortOpenError();
    m_pHandle = pHandle;
    m_api.setDataCharacteristics(m_pHandle, TFtdiApi::Bits8, TFtdiApi::StopBits1, TFtdiApi::ParityNone);
    m_api.setFlowControl(m_pHandle, TFtdiApi::FlowNone, 0, 0);
    m_api.setLatencyTimer(m_pHandle, kLatencyTimerMs);
    setBaudRate(nBaudrate != 0 ? nBaudrate : kOpeningRate);
    setTimeout(0);
    return TransportStatus::Ok;
}

int TComSerialFTDI::close()
{
    if (!isOpen())
        return TransportStatus::NoHandle;
    m_api.close(m_pHandle);
    m_pHandle = nullptr;
    return TransportStatus::Ok;
}

int TComSerialFTDI::setTimeout(uint32_t nMilliseconds)
{
    if (!isOpen())
        return TransportStatus::NotOpen;
    // The library would take 0 as "wait for ever"; a poll is what is meant.
    m_api.setTimeouts(m_pHandle, nMilliseconds != 0 ? nMilliseconds : 1, 0);
    return TransportStatus::Ok;
}

int TComSerialFTDI::setBaudRate(uint32_t nBaudrate)
{
    if (!isOpen() || m_api.setBaudRate(m_pHandle, nBaudrate) != 0)
        return TransportStatus::NoHandle;
    m_nBaudRate = nBaudrate;
    return TransportStatus::Ok;
}

int TComSerialFTDI::getBaudRate(uint32_t &nBaudrate)
{
    if (!isOpen())
        return TransportStatus::NoHandle;
    nBaudrate = m_nBaudRate;
    return TransportStatus::Ok;
}

int TComSerialFTDI::read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount)
{
    nCount = 0;
    if (!isOpen())
        return TransportStatus::NoHandle;
    if (!pBuffer || nCapacity == 0)
        return TransportStatus::InvalidParameter;

    uint32_t nWaiting = 0;
    if (m_api.getQueueStatus(m_pHandle, nWaiting) != 0)
        nWaiting = 0;
    // Take what is there without waiting; when nothing is, wait for one byte
    // for at most the read time-out.
    const uint32_t nRequest = nWaiting == 0 ? 1 : (nWaiting < nCapacity ? nWaiting : nCapacity);
    uint32_t nRead = 0;
    if (m_api.read(m_pHandle, pBuffer, nRequest, nRead) != 0)
        return TransportStatus::DriverError;
    nCount = nRead;
    return nRead == 0 ? TransportStatus::Timeout : TransportStatus::Ok;
}

int TComSerialFTDI::write(const uint8_t *pBuffer, uint32_t nCount)
{
    if (!isOpen())
        return TransportStatus::NoHandle;
    if (nCount == 0)
        return TransportStatus::Ok;
    if (!pBuffer)
        return TransportStatus::InvalidParameter;
    uint32_t nWritten = 0;
    if (m_api.write(m_pHandle, pBuffer, nCount, nWritten) != 0 || nWritten < nCount)
        return TransportStatus::DriverError;
    return TransportStatus::Ok;
}

int TComSerialFTDI::purge()
{
    if (!isOpen())
        return TransportStatus::NoHandle;
    uint32_t nWaiting = 0;
    if (m_api.getQueueStatus(m_pHandle, nWaiting) == 0 && nWaiting != 0)
        m_api.purge(m_pHandle, TFtdiApi::PurgeRx);
    return TransportStatus::Ok;
}
