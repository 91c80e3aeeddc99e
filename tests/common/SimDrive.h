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
//   QVERIFY2(drive.start({"--baud", "9600"}), qPrintable(drive.errorString()));
//   ... open drive.portName() with the transport under test ...
//   QVERIFY(drive.stop());                       // SIGTERM, memory files written back
//   QCOMPARE(drive.erasedSectors(0), (QList<quint32>{0x400000}));
//
// start() adds "--log <temp dir>/sim.log" unless the arguments name a log
// file themselves, and "--exit-on-stdin-eof" so that a crashed test leaves
// no simulator behind. Memory contents: pass "--flash0", filePath("f0.bin")
// and read the file after stop(). Options and the log format are described
// in sim/main.cpp and by "servoprog-sim --help".
//
// The simulator needs a POSIX system; elsewhere start() fails and
// isSupported() is false (tests QSKIP then). Use a SimDrive from the thread
// that created it (it owns a QProcess).
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

    explicit SimDrive(QObject *parent = nullptr);
    ~SimDrive() override; // stops a running simulator

    static bool isSupported();
    static QString executablePath();

    // Starts servoprog-sim with the arguments and waits (up to nTimeoutMs)
    // for the terminal path on its first output line. False with
    // errorString() set when it does not start.
    bool start(const QStringList &arguments = QStringList(), int nTimeoutMs = 10000);
    // Sends SIGTERM and waits for the exit; true when it exited with code 0
    // (memory files written). A simulator that does not stop is killed.
    bool stop(int nTimeoutMs = 10000);
    bool isRunning() const;

    QString portName() const { return m_sPortName; }
    QString errorString() const { return m_sError; }
    int exitCode() const { return m_nExitCode; }
    QByteArray standardError() const { return m_stderr; }

    // A path in this drive's private temporary folder (removed with the
    // SimDrive), for memory files and images.
    QString filePath(const QString &sName) const;
    // Writes raw bytes to filePath(sName); returns that path (empty on failure).
    QString writeFile(const QString &sName, const QByteArray &content) const;

    QString logFilePath() const { return m_sLogFile; }
    QStringList logLines() const;       // every line, events ("- ...") included
    QList<LogEntry> logEntries() const; // request lines only, in order
    // Sector addresses erased with the flash erase command while device
    // nDevice was selected (-1: any device), in order.
    QList<quint32> erasedSectors(int nDevice = -1) const;
    // Number of request lines whose cmd= equals sCommand ("flash-program").
    int commandCount(const QString &sCommand) const;

private:
    void readStderr();

    QTemporaryDir m_tempDir;
    QProcess *m_pProcess = nullptr;
    QString m_sPortName;
    QString m_sLogFile;
    QString m_sError;
    QByteArray m_stderr;
    int m_nExitCode = -1;
};

#endif // SIMDRIVE_H
