#ifndef SIMMEMORY_H
#define SIMMEMORY_H

#include <QByteArray>
#include <QString>

// One memory device of the simulated drive: a flash device (NOR behaviour:
// erase sets bytes to FF, programming can only clear bits) or an EEPROM
// (plain overwrite). Optionally backed by a raw binary file that is loaded at
// start and written back at exit.
class SimMemory
{
public:
    SimMemory(quint32 nSize, bool bNor);

    quint32 size() const { return quint32(m_data.size()); }

    bool contains(quint32 nAddress, quint32 nLength) const;
    // Sets [nAddress, nAddress + nLength) to FF.
    void erase(quint32 nAddress, quint32 nLength);
    // NOR: flash &= data (bits only go from 1 to 0); EEPROM: flash = data.
    void program(quint32 nAddress, const char *pData, quint32 nLength);
    bool isErased(quint32 nAddress, quint32 nLength) const;
    bool equals(quint32 nAddress, const char *pData, quint32 nLength) const;
    void read(quint32 nAddress, char *pData, quint32 nLength) const;

    // Backing file: a missing file leaves the device erased (FF) and is
    // created at exit; a file longer than the device is refused.
    bool load(const QString &sPath, QString &sError);
    bool save(QString &sError) const;

private:
    QByteArray m_data;
    bool m_bNor;
    QString m_sPath;
};

#endif // SIMMEMORY_H
