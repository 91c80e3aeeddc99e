#include "CountingSerial.h"

CountingSerial::CountingSerial(TComSerial *pInner) : m_pInner(pInner)
{
}

CountingSerial::~CountingSerial() = default;

int CountingSerial::open(const char *sPort, uint32_t nBaudrate)
{
    return m_pInner->open(sPort, nBaudrate);
}

int CountingSerial::close()
{
    return m_pInner->close();
}

bool CountingSerial::isOpen() const
{
    return m_pInner->isOpen();
}

int CountingSerial::setTimeout(uint32_t nMilliseconds)
{
    return m_pInner->setTimeout(nMilliseconds);
}

int CountingSerial::setBaudRate(uint32_t nBaudrate)
{
    return m_pInner->setBaudRate(nBaudrate);
}

int CountingSerial::getBaudRate(uint32_t &nBaudrate)
{
    return m_pInner->getBaudRate(nBaudrate);
}

int CountingSerial::read(uint8_t *pBuffer, uint32_t nCapacity, uint32_t &nCount)
{
    nCount = 0;
    const int nResult = m_pInner->read(pBuffer, nCapacity, nCount);
    m_nReceived += nCount;
    return nResult;
}

int CountingSerial::write(const uint8_t *pBuffer, uint32_t nCount)
{
    const int nResult = m_pInner->write(pBuffer, nCount);
    if (nResult == 0)
        m_nSent += nCount;
    return nResult;
}

int CountingSerial::purge()
{
    return m_pInner->purge();
}

uint32_t CountingSerial::defaultWorkingBaudRate() const
{
    return m_pInner->defaultWorkingBaudRate();
}
