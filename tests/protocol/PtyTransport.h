#ifndef PTYTRANSPORT_H
#define PTYTRANSPORT_H

#include "TComSerial.h"

// A plain termios transport on a device path, for driving the link over a
// pseudo-terminal in tests. Same contract as the product's transports.
class PtyTransport : public TComSerial
{
public:
    ~PtyTransport() override;
    int open(const char *sPort, uint32_t nBaudrate) override;
    int close() override;
    bool isOpen() const override { return m_nFd >= 0; }
    int setTimeout(uint32_t nMilliseconds) override;
    int setBaudRate(uint32_t nBaudrate) override;
    int getBaudRate(uint32_t &nBaudrate) override;
    int read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount) override;
    int write(const uint8_t *pBuffer, uint32_t nCount) override;
    int purge() override;

private:
    int m_nFd = -1;
    uint32_t m_nTimeoutMs = 500;
};

#endif // PTYTRANSPORT_H
