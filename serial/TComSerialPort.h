#ifndef TCOMSERIALPORT_H
#define TCOMSERIALPORT_H

#include "TComSerial.h"

#include <memory>

class QSerialPort;

// The transport over a serial port the operating system serves (QSerialPort):
// a COM port, a ttyS/ttyUSB/ttyACM device, or any device path such as a
// pseudo-terminal. It runs in the worker's thread, which has no running event
// loop, so it uses only the blocking calls; the QSerialPort is created by
// open() in the thread that uses it, not by the constructor.
class TComSerialPort : public TComSerial
{
public:
    TComSerialPort();
    ~TComSerialPort() override; // closes the port if it is still open

    TComSerialPort(const TComSerialPort &) = delete;
    TComSerialPort &operator=(const TComSerialPort &) = delete;

    // sPort: a name from the port list ("COM12", "ttyUSB0") or a device path
    // ("/dev/pts/5"); links are followed, so that every name of a device
    // takes the same lock. A bare "COM" name longer than 11 characters
    // gives 1. An open port is closed first. nBaudrate 0 keeps the rate the
    // transport last ran at (9600 on a new transport). A port another
    // program holds gives 11 before a byte is sent; lastOpenError() says why.
    int open(const char *sPort, uint32_t nBaudrate) override;
    int close() override; // -1 when no port is open
    bool isOpen() const override;
    int setTimeout(uint32_t nMilliseconds) override; // always 0
    // 0 when the line runs at the rate afterwards, -1 when closed, 100 when
    // the driver refuses the rate.
    int setBaudRate(uint32_t nBaudrate) override;
    // The rate the line really runs at (read back from the driver).
    int getBaudRate(uint32_t &nBaudrate) override;
    int read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount) override;
    // 100 when not every byte reached the driver within a bound that grows
    // with the count and shrinks with the rate; what was not handed over is
    // dropped so that it cannot leak into the next exchange.
    int write(const uint8_t *pBuffer, uint32_t nCount) override;
    // Drops bytes received and not yet read, and bytes not yet sent.
    int purge() override; // -1 when closed
    uint32_t defaultWorkingBaudRate() const override { return 115200; }
    PortOpenError lastOpenError() const override { return m_openError; }

private:
    void requestLowLatency();
    uint32_t lineRate() const;

    std::unique_ptr<QSerialPort> m_pPort;
    uint32_t m_nTimeout = 0;
    uint32_t m_nLastRate = 9600;
    PortOpenError m_openError;
};

#endif // TCOMSERIALPORT_H
