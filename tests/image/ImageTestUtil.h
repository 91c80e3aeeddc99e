#ifndef SERVOPROG_TESTS_IMAGETESTUTIL_H
#define SERVOPROG_TESTS_IMAGETESTUTIL_H

// Helpers of the image tests: records with correct checksums, standard error
// capture, files and external tools.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define TEST_DUP _dup
#define TEST_DUP2 _dup2
#define TEST_CLOSE _close
#define TEST_FILENO _fileno
#else
#include <unistd.h>
#define TEST_DUP dup
#define TEST_DUP2 dup2
#define TEST_CLOSE close
#define TEST_FILENO fileno
#endif

namespace imagetest {

// One Intel HEX record line (with line feed).
inline QByteArray ihex(int nType, quint16 nAddress, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(nAddress >> 8));
    bytes.append(char(nAddress & 0xFF));
    bytes.append(char(nType));
    bytes.append(data);
    quint8 nSum = 0;
    for (char c : bytes)
        nSum = quint8(nSum + quint8(c));
    bytes.append(char(quint8(0x100 - nSum)));
    return ":" + bytes.toHex().toUpper() + "\n";
}

// One S-record line (with line feed); nAddressBytes follows the type.
inline QByteArray srec(char cType, quint32 nAddress, const QByteArray &data)
{
    const int nAddressBytes = (cType == '2' || cType == '8') ? 3 : (cType == '3' || cType == '7') ? 4 : 2;
    QByteArray bytes;
    bytes.append(char(nAddressBytes + data.size() + 1));
    for (int i = nAddressBytes - 1; i >= 0; --i)
        bytes.append(char((nAddress >> (8 * i)) & 0xFF));
    bytes.append(data);
    quint8 nSum = 0;
    for (char c : bytes)
        nSum = quint8(nSum + quint8(c));
    bytes.append(char(quint8(~nSum)));
    return QByteArray("S") + cType + bytes.toHex().toUpper() + "\n";
}

inline bool writeFile(const QString &sPath, const QByteArray &content)
{
    QFile f(sPath);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

inline QByteArray readFile(const QString &sPath)
{
    QFile f(sPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs a tool; returns its exit code (or -1 when it could not run) and puts
// its standard error into *pErr.
inline int runTool(const QString &sProgram, const QStringList &args, QByteArray *pErr = nullptr)
{
    QProcess proc;
    proc.start(sProgram, args);
    if (!proc.waitForFinished(120000))
        return -1;
    if (pErr)
        *pErr = proc.readAllStandardError();
    return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
}

inline bool haveTool(const QString &sProgram)
{
    return !QStandardPaths::findExecutable(sProgram).isEmpty();
}

// Sends everything written to standard error (file descriptor 2) into a
// temporary file until text() is called.
class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        m_pFile = std::tmpfile();
        m_nSaved = TEST_DUP(2);
        if (m_pFile)
            TEST_DUP2(TEST_FILENO(m_pFile), 2);
    }
    ~StderrCapture() { text(); }

    QByteArray text()
    {
        if (m_nSaved < 0)
            return m_text;
        std::fflush(stderr);
        TEST_DUP2(m_nSaved, 2);
        TEST_CLOSE(m_nSaved);
        m_nSaved = -1;
        if (m_pFile) {
            std::rewind(m_pFile);
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, m_pFile)) > 0)
                m_text.append(buf, qsizetype(n));
            std::fclose(m_pFile);
            m_pFile = nullptr;
        }
        return m_text;
    }

private:
    std::FILE *m_pFile = nullptr;
    int m_nSaved = -1;
    QByteArray m_text;
};

} // namespace imagetest

#endif
