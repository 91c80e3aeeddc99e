#ifndef COUNTINGSERIAL_H
#define COUNTINGSERIAL_H

#include "TComSerial.h"

#include <atomic>
#include <memory>

// A transport that passes every call to the real one and counts the bytes
// that crossed the line, so the worker can report what a job cost on the
// wire without the protocol knowing about it.
class CountingSerial : public TComSerial
{
public:
    explicit CountingSerial(TComSerial *pInner); // takes ownership
    ~CountingSerial() override;

    int open(const char *sPort, uint32_t nBaudrate) override;
    int close() override;
    bool isOpen() const override;
    int setTimeout(uint32_t nMilliseconds) override;
    int setBaudRate(uint32_t nBaudrate) override;
    int getBaudRate(uint32_t &nBaudrate) override;
    int read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount) override;
    int write(const uint8_t *pBuffer, uint32_t nCount) override;
    int purge() override;
    uint32_t defaultWorkingBaudRate() const override;
    PortOpenError lastOpenError() const override { return m_pInner->lastOpenError(); }

    uint64_t bytesSent() const { return m_nSent; }
    uint64_t bytesReceived() const { return m_nReceived; }

private:
    std::unique_ptr<TComSerial> m_pInner;
    std::atomic<uint64_t> m_nSent{0};
    std::atomic<uint64_t> m_nReceived{0};
};

#endif // COUNTINGSERIAL_H
