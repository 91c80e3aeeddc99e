// What the test programs make their files of and check them with: whole
// files in and out, seeded noise, the firmware information block, image
// files written by srec_cat, and the srecord tools run as processes.
#pragma once

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>

inline QByteArray randomBytes(int nSize, quint32 nSeed)
{
    QRandomGenerator generator(nSeed);
    QByteArray bytes(nSize, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

inline QByteArray readFile(const QString &sPath)
{
    QFile file(sPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &sPath, const QByteArray &bytes)
{
    QFile file(sPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The firmware information that opens a software image: payload length and
// type (little-endian words), then five zero-terminated fields of 16, 16, 16,
// 40 and 16 bytes.
inline QByteArray firmwareInfoBlock(const QStringList &fields, quint32 nType = 0x400)
{
    QByteArray payload;
    for (int i = 0; i < 5; ++i) {
        const int nSize = i == 3 ? 40 : 16;
        payload += fields.value(i).toLatin1().left(nSize - 1).leftJustified(nSize, '\0');
    }
    const char header[] = {char(payload.size()), 0, 0, 0, char(nType), char(nType >> 8), 0, 0};
    return QByteArray(header, 8) + payload;
}

// The tool's exit status, its standard output in *pOut; -1 when it did not
// run or end normally within a minute.
inline int runTool(const QString &sTool, const QStringList &args, QByteArray *pOut = nullptr)
{
    QProcess process;
    process.start(sTool, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (pOut)
        *pOut = process.readAllStandardOutput();
    return process.exitCode();
}

// Bytes at their addresses, written by srec_cat as Intel HEX (a name ending
// in .hex) or S-records, or in the srec_cat output options given; each piece
// goes by a binary file beside the image.
inline bool writeImageFile(const QString &sPath, const QMap<quint32, QByteArray> &pieces, QStringList format = {})
{
    QStringList args;
    for (auto it = pieces.begin(); it != pieces.end(); ++it) {
        const QString sBin = QString("%1.%2.bin").arg(sPath).arg(it.key());
        if (!writeFile(sBin, *it))
            return false;
        args << sBin << "-binary"
             << "-offset" << QString::number(it.key());
    }
    if (format.isEmpty())
        format << (sPath.endsWith(".hex") ? "-intel" : "-motorola");
    return runTool("srec_cat", args + QStringList{"-o", sPath} + format) == 0;
}
