#ifndef SIMDRIVE_H
#define SIMDRIVE_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Test support: runs the simulated drive (servoprog-sim) as a real process
// on a pseudo-terminal and gives the test its port name and request log.
//
//   SimDrive drive;
//   QVERIFY2(drive.start({"--flash0", drive.writeFile("f0.bin", bytes)}), qPrintable(drive.errorString()));
//   ... open drive.portName() with the transport under test ...
//   QVERIFY(drive.stop());  // SIGTERM: the memory files are written back
//
// start() adds "--log <temp dir>/sim.log" and "--exit-on-stdin-eof", so that
// a crashed test leaves no simulator behind. The options are described by
// "servoprog-sim --help", the log format in docs/simulator.md. The simulator
// needs a POSIX system; elsewhere isSupported() is false (tests QSKIP then).
// Use a SimDrive from the thread that created it (it owns a QProcess).
class SimDrive : public QObject
{
    Q_OBJECT

public:
    // One parsed request line of the log: "<n> <service> <object> len=.. status=.. key=value ...".
    struct LogEntry
    {
        int nRequest = 0;   // from 1
        QString sService;   // "read", "write", "ident", "unknown"
        quint16 nIndex = 0; // 0 for ident/unknown
        quint8 nSubindex = 0;
        int nLength = 0;
        int nStatus = -1;              // -1: no answer was sent ("none")
        QMap<QString, QString> fields; // the key=value words, e.g. "cmd" -> "flash-erase"
        QString sLine;                 // the line as written

        // A numeric field (decimal or 0x-hexadecimal); nDefault when missing.
        quint32 number(const QString &sKey, quint32 nDefault = 0) const;
        QString command() const { return fields.value(QStringLiteral("cmd")); }
    };

    using QObject::QObject;
    ~SimDrive() override; // stops a running simulator

    static bool isSupported();

    // Starts servoprog-sim with the arguments and waits (up to nTimeoutMs)
    // for the terminal path on its first output line. False with
    // errorString() set when it does not start.
    bool start(const QStringList &arguments = QStringList(), int nTimeoutMs = 10000);
    // Sends SIGTERM and waits for the exit; true when it exited with code 0
    // (memory files written). A simulator that does not stop is killed.
    bool stop(int nTimeoutMs = 10000);
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    QString portName() const { return m_sPortName; }
    QString errorString() const { return m_sError; }

    // A path in this drive's private temporary folder (removed with the
    // SimDrive), for memory files and images.
    QString filePath(const QString &sName) const { return m_tempDir.filePath(sName); }
    // Writes raw bytes to filePath(sName); returns that path (empty on failure).
    QString writeFile(const QString &sName, const QByteArray &content) const;

    QString logFilePath() const { return filePath(QStringLiteral("sim.log")); }
    QStringList logLines() const;       // every line, events ("- ...") included
    QList<LogEntry> logEntries() const; // request lines only, in order
    // Number of request lines whose cmd= equals sCommand ("flash-program").
    int commandCount(const QString &sCommand) const;

private:
    QTemporaryDir m_tempDir;
    QProcess m_process;
    QString m_sPortName;
    QString m_sError;
};

#endif // SIMDRIVE_H
