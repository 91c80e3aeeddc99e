#include "TComSerialPort.h"

#include "PortAccess.h"
#include "TerminalRate.h"
#include "TransportStatus.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QString>
#include <QThread>

#include <climits>
#include <cstring>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

// Bare "COM" names go into a fixed-size buffer on Windows; device paths and
// the other platforms' port names are not limited.
constexpr size_t kMaxComNameLength = 11;

// A write must reach the driver within this base time plus twice the time the
// line needs to send it.
constexpr qint64 kWriteBoundBaseMs = 2000;

int clampedInt(uint64_t nValue)
{
    return nValue > uint64_t(INT_MAX) ? INT_MAX : int(nValue);
}

} // namespace

TComSerialPort::TComSerialPort() = default;

// QSerialPort closes its port when it goes.
TComSerialPort::~TComSerialPort() = default;

int TComSerialPort::open(const char *sPort, uint32_t nBaudrate)
{
    m_openError = PortOpenError();
    if (!sPort)
        return TransportStatus::InvalidParameter;
    const QString sName = QString::fromUtf8(sPort);
    if (sName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) && std::strlen(sPort) > kMaxComNameLength)
        return TransportStatus::InvalidParameter;
    if (isOpen())
        close();
    if (sName.isEmpty()) {
        m_openError.nCause = PortOpenError::Cause::NoSuchDevice;
        return TransportStatus::CannotOpen;
    }

    // The port object belongs to the thread that uses it: the transport is
    // built in the window's thread but runs in the worker's.
    if (!m_pPort || m_pPort->thread() != QThread::currentThread())
        m_pPort = std::make_unique<QSerialPort>();

    const uint32_t nRate = nBaudrate != 0 ? nBaudrate : m_nLastRate;
    const QString sDevice = PortAccess::devicePath(sName);
    m_pPort->setPortName(sDevice);
    m_pPort->setBaudRate(clampedInt(nRate));
    m_pPort->setDataBits(QSerialPort::Data8);
    m_pPort->setParity(QSerialPort::NoParity);
    m_pPort->setStopBits(QSerialPort::OneStop);
    m_pPort->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_pPort->open(QIODevice::ReadWrite)) {
        m_openError = PortAccess::diagnose(sDevice, m_pPort->error(), m_pPort->errorString());
        m_pPort->clearError();
        return TransportStatus::CannotOpen;
    }
    m_nLastRate = nRate;
    requestLowLatency();
    return TransportStatus::Ok;
}

void TComSerialPort::requestLowLatency()
{
#ifdef Q_OS_LINUX
    // A USB-serial driver holds received bytes up to its latency timer
    // (16 ms by default). Every block is a request/response round trip, so
    // that wait would dominate a run. Drivers without the setting (a
    // pseudo-terminal, an on-board UART) simply refuse; that is fine.
    const int nHandle = int(m_pPort->handle());
    serial_struct serial = {};
    if (::ioctl(nHandle, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(nHandle, TIOCSSERIAL, &serial);
    }
#endif
}

uint32_t TComSerialPort::lineRate() const
{
#ifdef Q_OS_UNIX
    // Ask the driver, not QSerialPort's copy of what was last requested.
    const uint32_t nRate = terminalLineRate(int(m_pPort->handle()));
    if (nRate != 0)
        return nRate;
#endif
    // Where the driver cannot tell, QSerialPort's copy is all there is.
    return uint32_t(m_pPort->baudRate());
}

int TComSerialPort::close()
{
    if (!isOpen())
        return TransportStatus::NotOpen;
    m_pPort->close();
    m_pPort->clearError();
    return TransportStatus::Ok;
}

bool TComSerialPort::isOpen() const
{
    return m_pPort && m_pPort->isOpen();
}

int TComSerialPort::setTimeout(uint32_t nMilliseconds)
{
    m_nTimeout = nMilliseconds;
    return TransportStatus::Ok;
}

int TComSerialPort::setBaudRate(uint32_t nBaudrate)
{
    if (!isOpen())
        return TransportStatus::NotOpen;
    if (nBaudrate == 0 || nBaudrate > uint32_t(INT_MAX))
        return TransportStatus::InvalidParameter;
    if (lineRate() == nBaudrate)
        return TransportStatus::Ok;
    if (!m_pPort->setBaudRate(qint32(nBaudrate))) {
        m_pPort->clearError();
        return TransportStatus::DriverError;
    }
    m_nLastRate = nBaudrate;
    return TransportStatus::Ok;
}

int TComSerialPort::getBaudRate(uint32_t &nBaudrate)
{
    if (!isOpen())
        return TransportStatus::NotOpen;
    nBaudrate = lineRate();
    return TransportStatus::Ok;
}

int TComSerialPort::read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount)
{
    nCount = 0;
    if (!isOpen())
        return TransportStatus::DriverError;
    if (!pBuffer || nCapacity == 0)
        return TransportStatus::InvalidParameter;

    // Without an event loop nothing moves bytes from the driver into the
    // port's buffer but a wait; it returns at once when bytes are there.
    if (m_pPort->bytesAvailable() == 0 && !m_pPort->waitForReadyRead(clampedInt(m_nTimeout))) {
        const QSerialPort::SerialPortError nError = m_pPort->error();
        m_pPort->clearError();
        if (nError != QSerialPort::NoError && nError != QSerialPort::TimeoutError)
            return TransportStatus::DriverError;
        if (m_pPort->bytesAvailable() == 0)
            return TransportStatus::Timeout;
    }
    const qint64 nRead = m_pPort->read(reinterpret_cast<char *>(pBuffer), qint64(nCapacity));
    if (nRead < 0) {
        m_pPort->clearError();
        return TransportStatus::DriverError;
    }
    nCount = uint32_t(nRead);
    return nRead == 0 ? TransportStatus::Timeout : TransportStatus::Ok;
}

int TComSerialPort::write(const uint8_t *pBuffer, uint32_t nCount)
{
    if (!isOpen())
        return TransportStatus::DriverError;
    if (nCount == 0)
        return TransportStatus::Ok;
    if (!pBuffer)
        return TransportStatus::InvalidParameter;

    const qint64 nBoundMs = kWriteBoundBaseMs + qint64(nCount) * 10 * 1000 * 2 / m_nLastRate;
    const QDeadlineTimer deadline(nBoundMs);

    bool bHandedOver = m_pPort->write(reinterpret_cast<const char *>(pBuffer), qint64(nCount)) == qint64(nCount);
    // QSerialPort only queues the bytes; without an event loop they reach
    // the driver through these waits.
    while (bHandedOver && m_pPort->bytesToWrite() > 0) {
        const qint64 nLeftMs = deadline.remainingTime();
        if (nLeftMs <= 0 || !m_pPort->waitForBytesWritten(clampedInt(uint64_t(nLeftMs))))
            bHandedOver = false;
    }
    if (!bHandedOver) {
        // What did not go out must not trail into the next exchange.
        m_pPort->clear(QSerialPort::Output);
        m_pPort->clearError();
        return TransportStatus::DriverError;
    }
    return TransportStatus::Ok;
}

int TComSerialPort::purge()
{
    if (!isOpen())
        return TransportStatus::NotOpen;
    m_pPort->clear(QSerialPort::AllDirections);
    m_pPort->clearError();
    return TransportStatus::Ok;
}
