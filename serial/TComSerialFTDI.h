#ifndef TCOMSERIALFTDI_H
#define TCOMSERIALFTDI_H

#include "TComSerial.h"
#include "TFtdiApi.h"

// The transport over an FTDI converter reached through the FTDI layer
// (libftdi1 by default). The port name's number is looked up in ftdiPortMap
// to find the converter's index; an empty map is filled by enumerating first.
// Every call but open() and isOpen() on a closed transport returns 12
// (setTimeout: -1).
class TComSerialFTDI : public TComSerial
{
public:
    explicit TComSerialFTDI(TFtdiApi &api = defaultFtdiApi());
    ~TComSerialFTDI() override; // closes the converter if still open

    TComSerialFTDI(const TComSerialFTDI &) = delete;
    TComSerialFTDI &operator=(const TComSerialFTDI &) = delete;

    // 1: name longer than 11 characters; 11: no converter under that number
    // or it cannot be opened. Configures 8N1, no flow control, latency 2 ms,
    // the given rate (9600 when 0) and a 1 ms read time-out.
    int open(const char *sPort, uint32_t nBaudrate) override;
    int close() override;
    bool isOpen() const override { return m_pHandle != nullptr; }
    int setTimeout(uint32_t nMilliseconds) override;
    int setBaudRate(uint32_t nBaudrate) override;
    // The rate last accepted by setBaudRate().
    int getBaudRate(uint32_t &nBaudrate) override;
    int read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount) override;
    int write(const uint8_t *pBuffer, uint32_t nCount) override;
    // Drops received bytes only; pending output is still sent.
    int purge() override;
    // FTDI converters run reliably at the higher rate.
    uint32_t defaultWorkingBaudRate() const override { return 230400; }
    PortOpenError lastOpenError() const override { return m_openError; }

private:
    TFtdiApi &m_api;
    TFtdiApi::Handle m_pHandle = nullptr;
    uint32_t m_nBaudRate = 0;
    PortOpenError m_openError;
};

#endif // TCOMSERIALFTDI_H
