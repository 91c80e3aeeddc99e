#include "SimMemory.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

SimMemory::SimMemory(quint32 nSize, bool bNor) : m_data(int(nSize), char(0xFF)), m_bNor(bNor)
{
}

bool SimMemory::contains(quint32 nAddress, quint32 nLength) const
{
    return quint64(nAddress) + nLength <= quint64(size());
}

void SimMemory::erase(quint32 nAddress, quint32 nLength)
{
    std::memset(m_data.data() + nAddress, 0xFF, nLength);
}

void SimMemory::program(quint32 nAddress, const char *pData, quint32 nLength)
{
    char *pTarget = m_data.data() + nAddress;
    if (!m_bNor) {
        std::memcpy(pTarget, pData, nLength);
        return;
    }
    for (quint32 i = 0; i < nLength; ++i)
        pTarget[i] = char(pTarget[i] & pData[i]);
}

bool SimMemory::isErased(quint32 nAddress, quint32 nLength) const
{
    const char *p = m_data.constData() + nAddress;
    return std::all_of(p, p + nLength, [](char c) { return quint8(c) == 0xFF; });
}

bool SimMemory::equals(quint32 nAddress, const char *pData, quint32 nLength) const
{
    return std::memcmp(m_data.constData() + nAddress, pData, nLength) == 0;
}

void SimMemory::read(quint32 nAddress, char *pData, quint32 nLength) const
{
    std::memcpy(pData, m_data.constData() + nAddress, nLength);
}

bool SimMemory::load(const QString &sPath, QString &sError)
{
    m_sPath = sPath;
    QFile file(sPath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        sError = QStringLiteral("cannot open %1: %2").arg(sPath, file.errorString());
        return false;
    }
    if (file.size() > qint64(size())) {
        sError = QStringLiteral("%1 holds %2 bytes, more than the device's %3").arg(sPath).arg(file.size()).arg(size());
        return false;
    }
    const QByteArray content = file.readAll();
    if (content.size() != file.size()) {
        sError = QStringLiteral("cannot read %1: %2").arg(sPath, file.errorString());
        return false;
    }
    std::memcpy(m_data.data(), content.constData(), size_t(content.size()));
    return true;
}

bool SimMemory::save(QString &sError) const
{
    if (m_sPath.isEmpty())
        return true;
    // Written through a temporary file so that a failed write never leaves a
    // half-written image behind.
    QSaveFile file(m_sPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_data) != m_data.size() || !file.commit()) {
        sError = QStringLiteral("cannot write %1: %2").arg(m_sPath, file.errorString());
        return false;
    }
    return true;
}
