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
    explicit CountingSerial(TComSerial *pInner) : m_pInner(pInner) {} // takes ownership

    int open(const char *sPort, uint32_t nBaudrate) override { return m_pInner->open(sPort, nBaudrate); }
    int close() override { return m_pInner->close(); }
    bool isOpen() const override { return m_pInner->isOpen(); }
    int setTimeout(uint32_t nMilliseconds) override { return m_pInner->setTimeout(nMilliseconds); }
    int setBaudRate(uint32_t nBaudrate) override { return m_pInner->setBaudRate(nBaudrate); }
    int getBaudRate(uint32_t &nBaudrate) override { return m_pInner->getBaudRate(nBaudrate); }
    int purge() override { return m_pInner->purge(); }
    uint32_t defaultWorkingBaudRate() const override { return m_pInner->defaultWorkingBaudRate(); }
    PortOpenError lastOpenError() const override { return m_pInner->lastOpenError(); }

    // Bytes read count whether or not the read as a whole succeeded; bytes
    // written only once the transport has taken all of them.
    int read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount) override
    {
        nCount = 0;
        const int nResult = m_pInner->read(pBuffer, nCapacity, nCount);
        m_nReceived += nCount;
        return nResult;
    }
    int write(const uint8_t *pBuffer, uint32_t nCount) override
    {
        const int nResult = m_pInner->write(pBuffer, nCount);
        if (nResult == 0)
            m_nSent += nCount;
        return nResult;
    }

    uint64_t bytesSent() const { return m_nSent; }
    uint64_t bytesReceived() const { return m_nReceived; }

private:
    std::unique_ptr<TComSerial> m_pInner;
    std::atomic<uint64_t> m_nSent{0};
    std::atomic<uint64_t> m_nReceived{0};
};

#endif // COUNTINGSERIAL_H
