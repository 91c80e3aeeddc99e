// servoprog-cli with several drives: one real process programs three
// simulated drives (each a servoprog-sim on its own pseudo-terminal) at once.
// What the tool reports (table, JSON report, transaction log) is checked
// against what the simulators logged and what ended up in their flash.

#include "SimDrive.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

// The image: 0x2F000..0x38063, so two 64 KiB sectors are erased; blocks of
// 8 KiB: random (raw), text (compressed) twice, all FF (skipped), random tail.
const quint32 kImageBase = 0x2F000;
const quint32 kFlashSize = 0x100000;

QByteArray makeImageBytes()
{
    QRandomGenerator random(20261207);
    QByteArray bytes;
    auto appendRandom = [&](int nCount) {
        for (int i = 0; i < nCount; ++i)
            bytes.append(char(random.bounded(256)));
    };
    appendRandom(0x2000);
    const QByteArray text("servo drive line test; ");
    while (bytes.size() < 0x6000)
        bytes.append(text.left(qMin<qsizetype>(text.size(), 0x6000 - bytes.size())));
    bytes.append(QByteArray(0x2000, '\xff'));
    appendRandom(0x1064);
    return bytes;
}

struct Result
{
    int nExit = -1;
    bool bCrashed = false;
    QString sOut;
    QString sErr;
};

void startCli(QProcess &process, const QStringList &args)
{
    process.start(QStringLiteral(SERVOPROG_CLI_PATH), args);
    process.waitForStarted(10000);
    process.closeWriteChannel();
}

Result finishCli(QProcess &process, int nTimeoutMs = 180000)
{
    Result result;
    if (!process.waitForFinished(nTimeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.sErr = QStringLiteral("timed out\n");
    }
    result.bCrashed = process.exitStatus() != QProcess::NormalExit;
    result.nExit = process.exitCode();
    result.sOut += QString::fromLocal8Bit(process.readAllStandardOutput());
    result.sErr += QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

Result runCli(const QStringList &args)
{
    QProcess process;
    startCli(process, args);
    return finishCli(process);
}

QByteArray fileBytes(const QString &sPath)
{
    QFile file(sPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonArray reportRecords(const QString &sPath)
{
    return QJsonDocument::fromJson(fileBytes(sPath)).object().value(QStringLiteral("records")).toArray();
}

QString objectText(const SimDrive::LogEntry &entry)
{
    if (entry.sService == QLatin1String("ident"))
        return QStringLiteral("-");
    return QStringLiteral("%1.%2")
        .arg(QString::number(entry.nIndex, 16).toUpper().rightJustified(4, QLatin1Char('0')))
        .arg(entry.nSubindex);
}

// One line of the tool's transaction log.
struct TraceLine
{
    QString sPort, sService, sObject;
    int nLength = 0;
    int nStatus = 0;
};

bool parseTrace(const QString &sPath, QList<TraceLine> &lines)
{
    static const QRegularExpression format(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z (\\S+) (read|write|ident) (\\S+) "
                       "len=(\\d+) status=(-?\\d+) rtt_us=\\d+$"));
    const QStringList text = QString::fromUtf8(fileBytes(sPath)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &sLine : text) {
        const QRegularExpressionMatch m = format.match(sLine);
        if (!m.hasMatch()) {
            qWarning("bad log line: %s", qPrintable(sLine));
            return false;
        }
        lines << TraceLine{m.captured(1), m.captured(2), m.captured(3), m.captured(4).toInt(), m.captured(5).toInt()};
    }
    return true;
}

#define VERIFY_EXIT(result, nExpected)                                                       \
    do {                                                                                     \
        QVERIFY2(!(result).bCrashed, qPrintable((result).sErr));                             \
        QVERIFY2((result).nExit == (nExpected),                                              \
                 qPrintable(QStringLiteral("exit %1, expected %2\nstdout:\n%3\nstderr:\n%4") \
                                .arg((result).nExit)                                         \
                                .arg(nExpected)                                              \
                                .arg((result).sOut, (result).sErr)));                        \
    } while (0)

} // namespace

class TestCliLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void usageErrors_data();
    void usageErrors();
    void parallelDrives_data();
    void parallelDrives();
    void retryPolicy_data();
    void retryPolicy();
    void secondToolOnOneDrive();
    void interruptCancelsEveryDrive();

private:
    // A simulated drive with a 1 MiB flash full of zeros (so that every
    // sector the image touches must be erased).
    bool startDrive(SimDrive &drive, const QStringList &extra);
    QString path(const QString &sName) const { return m_dir.filePath(sName); }
    void verifyFlash(const SimDrive &drive);

    QTemporaryDir m_dir;
    QByteArray m_image;
    QString m_sImage;
    QString m_sSha256;
    // Request numbers in the simulator's log of an undisturbed run.
    int m_nRequests = 0;
    int m_nFirstPiece = 0;      // first data piece written into the transfer buffer
    int m_nFirstProgram = 0;    // first program command
    int m_nFirstErase = 0;      // first sector erase command
    int m_nFirstVerifyRead = 0; // status read after the first verify command
};

bool TestCliLine::startDrive(SimDrive &drive, const QStringList &extra)
{
    const QString sFlash = drive.writeFile(QStringLiteral("flash0.bin"), QByteArray(int(kFlashSize), '\0'));
    if (sFlash.isEmpty())
        return false;
    QStringList args{QStringLiteral("--flash0"), sFlash, QStringLiteral("--flash-size"), QStringLiteral("1M")};
    return drive.start(args + extra);
}

void TestCliLine::verifyFlash(const SimDrive &drive)
{
    const QByteArray flash = fileBytes(drive.filePath(QStringLiteral("flash0.bin")));
    QCOMPARE(flash.size(), qsizetype(kFlashSize));
    QVERIFY(flash.mid(kImageBase, m_image.size()) == m_image);
    // Erased around the image within its sectors, untouched outside them.
    QCOMPARE(flash.mid(0x20000, kImageBase - 0x20000).count('\xff'), qsizetype(kImageBase - 0x20000));
    const int nEnd = kImageBase + m_image.size();
    QCOMPARE(flash.mid(nEnd, 0x40000 - nEnd).count('\xff'), qsizetype(0x40000 - nEnd));
    QCOMPARE(flash.left(0x20000).count('\0'), qsizetype(0x20000));
    QCOMPARE(flash.mid(0x40000).count('\0'), qsizetype(kFlashSize - 0x40000));
}

void TestCliLine::initTestCase()
{
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");
    QVERIFY(m_dir.isValid());
    m_image = makeImageBytes();
    QFile bin(path(QStringLiteral("image.bin")));
    QVERIFY(bin.open(QIODevice::WriteOnly) && bin.write(m_image) == m_image.size());
    bin.close();
    // The image file comes from srec_cat, not from the tool under test.
    m_sImage = path(QStringLiteral("image.hex"));
    QProcess srec;
    srec.start(QStringLiteral("srec_cat"), {bin.fileName(), QStringLiteral("-binary"), QStringLiteral("-offset"),
                                            QStringLiteral("0x%1").arg(kImageBase, 0, 16), QStringLiteral("-o"),
                                            m_sImage, QStringLiteral("-intel")});
    QVERIFY2(srec.waitForFinished(60000) && srec.exitCode() == 0, "srec_cat (package srecord) is needed");
    QFile noPorts(path(QStringLiteral("no-ports.txt")));
    QVERIFY(noPorts.open(QIODevice::WriteOnly) && noPorts.write("# bench 4: none yet\n\n") > 0);
    noPorts.close();
    m_sSha256 = QString::fromLatin1(QCryptographicHash::hash(fileBytes(m_sImage), QCryptographicHash::Sha256).toHex());

    // One undisturbed run tells where the requests the faults aim at fall;
    // every run of the same image into the same flash sends the same sequence.
    SimDrive drive;
    QVERIFY2(startDrive(drive, {}), qPrintable(drive.errorString()));
    const Result result = runCli({"program", "--port", drive.portName(), "--boot", "mon", "--flash0", m_sImage});
    VERIFY_EXIT(result, 0);
    QVERIFY(drive.stop());
    verifyFlash(drive);
    const QList<SimDrive::LogEntry> entries = drive.logEntries();
    m_nRequests = int(entries.size());
    bool bVerified = false;
    for (const SimDrive::LogEntry &entry : entries) {
        if (!m_nFirstPiece && entry.sService == QLatin1String("write") && entry.nIndex == 0x5E12)
            m_nFirstPiece = entry.nRequest;
        if (!m_nFirstProgram && entry.command() == QLatin1String("flash-program"))
            m_nFirstProgram = entry.nRequest;
        if (!m_nFirstErase && entry.command() == QLatin1String("flash-erase"))
            m_nFirstErase = entry.nRequest;
        if (entry.command() == QLatin1String("flash-verify"))
            bVerified = true;
        else if (bVerified && !m_nFirstVerifyRead && entry.sService == QLatin1String("read") && entry.nIndex == 0x5E11)
            m_nFirstVerifyRead = entry.nRequest;
    }
    QVERIFY(m_nFirstPiece > 0 && m_nFirstProgram > m_nFirstPiece && m_nFirstErase > 0 && m_nFirstErase < m_nFirstPiece);
    QVERIFY(m_nFirstVerifyRead > m_nFirstProgram);
    QCOMPARE(drive.erasedSectors(0), (QList<quint32>{0x20000, 0x30000}));
}

void TestCliLine::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expectedError");
    QTest::newRow("port twice") << QStringList{"program",   "--port",   "/dev/null", "--port",
                                               "/dev/null", "--flash0", "x.hex"}
                                << "port /dev/null given more than once";
    QTest::newRow("read on two drives") << QStringList{"read",      "--port",   "/dev/null", "--port",
                                                       "/dev/zero", "--flash0", "out.srec"}
                                        << "give exactly one --port";
    QTest::newRow("missing ports file") << QStringList{"erase", "--ports-from", "/nonexistent/ports", "--flash0"}
                                        << "--ports-from: /nonexistent/ports";
    QTest::newRow("ports file without ports")
        << QStringList{"erase", "--ports-from", path(QStringLiteral("no-ports.txt")), "--flash0"}
        << "--port DEV is required";
    QTest::newRow("too many retries") << QStringList{"program", "--port",   "/dev/null", "--retries",
                                                     "11",      "--flash0", "x.hex"}
                                      << "--retries: '11'";
}

void TestCliLine::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, expectedError);
    const Result result = runCli(args);
    VERIFY_EXIT(result, 2);
    QVERIFY2(result.sErr.contains(expectedError), qPrintable(result.sErr));
}

void TestCliLine::parallelDrives_data()
{
    QTest::addColumn<bool>("unplug");
    // The middle drive stops answering half-way through its run ...
    QTest::newRow("drive falls silent") << false;
    // ... or goes away altogether (its simulator ends while programming).
    QTest::newRow("drive unplugged") << true;
}

void TestCliLine::parallelDrives()
{
    QFETCH(bool, unplug);
    SimDrive drives[3];
    for (int i = 0; i < 3; ++i) {
        QStringList extra;
        if (i == 1)
            extra = unplug ? QStringList{"--throttle"}
                           : QStringList{"--fault", QStringLiteral("silent:%1").arg(m_nRequests / 2)};
        QVERIFY2(startDrive(drives[i], extra), qPrintable(drives[i].errorString()));
    }
    const QString sReport = path(QStringLiteral("line-%1.json").arg(QTest::currentDataTag()).replace(' ', '-'));
    const QString sLog = path(QStringLiteral("line-%1.log").arg(QTest::currentDataTag()).replace(' ', '-'));
    // The ports on the command line, or (second row) two of them from a file.
    QStringList portArgs{"--port", drives[0].portName()};
    if (unplug) {
        const QString sPorts = path(QStringLiteral("ports.txt"));
        QFile ports(sPorts);
        QVERIFY(ports.open(QIODevice::WriteOnly | QIODevice::Text));
        ports.write(QStringLiteral("# bench 2\n\n  %1   # middle\n%2\n")
                        .arg(drives[1].portName(), drives[2].portName())
                        .toUtf8());
        ports.close();
        portArgs << "--ports-from" << sPorts;
    } else {
        portArgs << "--port" << drives[1].portName() << "--port" << drives[2].portName();
    }
    QProcess process;
    startCli(process, QStringList{"program"} + portArgs
                          + QStringList{"--boot", "mon", "--report", sReport, "--log", sLog, "--flash0", m_sImage});
    if (unplug) {
        // Pulled once it has begun programming.
        QDeadlineTimer deadline(60000);
        while (drives[1].commandCount(QStringLiteral("flash-program")) == 0 && !deadline.hasExpired()
               && process.state() == QProcess::Running)
            QTest::qWait(20);
        QVERIFY(drives[1].commandCount(QStringLiteral("flash-program")) > 0);
        drives[1].stop();
    }
    const Result result = finishCli(process);
    VERIFY_EXIT(result, 1);
    for (int i : {0, 2})
        QVERIFY(drives[i].stop());

    // The table: one row per drive, in the order given.
    const QStringList table = result.sOut.mid(result.sOut.lastIndexOf(QStringLiteral("\nPort ")))
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(table.size(), 4);
    QVERIFY2(table.at(0).contains(QRegularExpression(
                 QStringLiteral("^Port +Result +Written +Erased +Skipped +On wire +Time +Message$"))),
             qPrintable(table.at(0)));
    for (int i = 0; i < 3; ++i) {
        const QString sExpected = i == 1 ? QStringLiteral("FAILED") : QStringLiteral("ok");
        QVERIFY2(table.at(i + 1).startsWith(drives[i].portName() + QLatin1Char(' ')), qPrintable(table.at(i + 1)));
        QVERIFY2(table.at(i + 1).contains(QStringLiteral(" %1 ").arg(sExpected)), qPrintable(table.at(i + 1)));
    }
    QVERIFY2(table.at(2).contains(QStringLiteral(" Program flash: ")), qPrintable(table.at(2)));

    // The report against each simulator's own account.
    const QJsonArray records = reportRecords(sReport);
    QCOMPARE(records.size(), 3);
    QList<TraceLine> trace;
    QVERIFY(parseTrace(sLog, trace));
    for (int i = 0; i < 3; ++i) {
        const QJsonObject record = records.at(i).toObject();
        QCOMPARE(record.value("port").toString(), drives[i].portName());
        QCOMPARE(record.value("memory").toString(), QStringLiteral("Flash0"));
        QCOMPARE(record.value("operation").toString(), QStringLiteral("program"));
        QCOMPARE(record.value("image").toString(), m_sImage);
        QCOMPARE(record.value("imageSha256").toString(), m_sSha256);
        QCOMPARE(record.value("firstAddress").toInteger(), qint64(kImageBase));
        QCOMPARE(record.value("lastAddress").toInteger(), qint64(kImageBase + m_image.size() - 1));

        const QList<SimDrive::LogEntry> entries = drives[i].logEntries();
        QList<TraceLine> mine;
        for (const TraceLine &line : trace)
            if (line.sPort == drives[i].portName())
                mine << line;
        if (i != 1) {
            QCOMPARE(record.value("result").toString(), QStringLiteral("ok"));
            QCOMPARE(record.value("statusCode").toInt(-1), 0);
            QCOMPARE(record.value("retries").toInt(-1), 0);
            QCOMPARE(record.value("sectorsErased").toInt(), int(drives[i].erasedSectors(0).size()));
            QCOMPARE(record.value("sectorsSkipped").toInt(-1), 0);
            QCOMPARE(record.value("blocksCompressed").toInt(),
                     drives[i].commandCount(QStringLiteral("flash-decompress")));
            QCOMPARE(record.value("blocksRaw").toInt() + record.value("blocksCompressed").toInt(),
                     drives[i].commandCount(QStringLiteral("flash-program")));
            QCOMPARE(record.value("blocksSkipped").toInt(), 1);
            quint64 nProgrammed = 0;
            for (const SimDrive::LogEntry &entry : entries)
                if (entry.command() == QLatin1String("flash-program"))
                    nProgrammed += entry.number(QStringLiteral("size"));
            QCOMPARE(quint64(record.value("bytes").toInteger()), nProgrammed);
            verifyFlash(drives[i]);
            // The transaction log holds exactly the requests the drive saw, in order.
            QCOMPARE(mine.size(), entries.size());
            for (int k = 0; k < mine.size(); ++k) {
                QCOMPARE(mine.at(k).sService, entries.at(k).sService);
                QCOMPARE(mine.at(k).sObject, objectText(entries.at(k)));
                QCOMPARE(mine.at(k).nLength, entries.at(k).nLength);
                QCOMPARE(mine.at(k).nStatus, entries.at(k).nStatus);
            }
        } else {
            QCOMPARE(record.value("result").toString(), QStringLiteral("failed"));
            QVERIFY(!record.value("message").toString().isEmpty());
            // Lost or garbled on the line (the monitor's own refusals, such
            // as those of the information search at connection, are not).
            int nFailed = 0;
            for (const TraceLine &line : mine)
                nFailed += line.nStatus == 100 || line.nStatus == 101;
            QVERIFY(nFailed > 0);
            // Every one of them but the last was a repeat.
            QCOMPARE(record.value("retries").toInt(), nFailed - 1);
            QCOMPARE(record.value("statusCode").toInt(), mine.last().nStatus);
            if (!unplug) {
                QCOMPARE(mine.last().nStatus, 101);
                QCOMPARE(record.value("message").toString(),
                         QStringLiteral("Program flash: Communication timeout error (driver)"));
            }
        }
    }
}

void TestCliLine::retryPolicy_data()
{
    QTest::addColumn<QString>("fault"); // kind, the request is chosen below
    // 0 data piece, 1 program command, 2 erase command, 3 status read;
    // negative: request -which of the connection (1 the first rate probe,
    // 2 and 3 reading and writing the rate, 4 the probe at the new rate)
    QTest::addColumn<int>("which");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exit");
    QTest::addColumn<int>("retries");

    QTest::newRow("dropped data piece is repeated") << "drop" << 0 << QStringList() << 0 << 1;
    QTest::newRow("garbled answer to a data piece") << "corrupt" << 0 << QStringList() << 0 << 1;
    QTest::newRow("garbled status read") << "corrupt" << 3 << QStringList() << 0 << 1;
    QTest::newRow("no repeats with --retries 0") << "drop" << 0 << QStringList{"--retries", "0"} << 1 << 0;
    QTest::newRow("program command never repeated") << "drop" << 1 << QStringList() << 1 << 0;
    QTest::newRow("erase command never repeated") << "drop" << 2 << QStringList() << 1 << 0;
    // The connection detects the rate again rather than give up (its
    // repeats are not a job's).
    QTest::newRow("dropped first rate probe") << "drop" << -1 << QStringList() << 0 << 0;
    QTest::newRow("busy answer to the first rate probe") << "busy" << -1 << QStringList() << 0 << 0;
    QTest::newRow("garbled answer to the rate switch") << "corrupt" << -3 << QStringList() << 0 << 0;
    QTest::newRow("dropped probe at the new rate") << "drop" << -4 << QStringList() << 0 << 0;
    QTest::newRow("garbled rate switch with --retries 0") << "corrupt" << -3 << QStringList{"--retries", "0"} << 1 << 0;
}

void TestCliLine::retryPolicy()
{
    QFETCH(QString, fault);
    QFETCH(int, which);
    QFETCH(QStringList, options);
    QFETCH(int, exit);
    QFETCH(int, retries);
    const int nTarget = which < 0    ? -which
                        : which == 0 ? m_nFirstPiece
                        : which == 1 ? m_nFirstProgram
                        : which == 2 ? m_nFirstErase
                                     : m_nFirstVerifyRead;

    SimDrive drive;
    QVERIFY2(startDrive(drive, {"--fault", QStringLiteral("%1:%2").arg(fault).arg(nTarget)}),
             qPrintable(drive.errorString()));
    const QString sReport = path(QStringLiteral("retry.json"));
    QFile::remove(sReport);
    const Result result = runCli(
        QStringList{"program", "--port", drive.portName(), "--boot", "mon", "--report", sReport, "--flash0", m_sImage}
        + options);
    VERIFY_EXIT(result, exit);
    QVERIFY(drive.stop());

    const QJsonArray records = reportRecords(sReport);
    QCOMPARE(records.size(), 1);
    const QJsonObject record = records.at(0).toObject();
    QCOMPARE(record.value("retries").toInt(-1), retries);
    QCOMPARE(record.value("result").toString(), exit == 0 ? QStringLiteral("ok") : QStringLiteral("failed"));

    const QList<SimDrive::LogEntry> entries = drive.logEntries();
    QVERIFY(entries.size() >= nTarget);
    const SimDrive::LogEntry &hit = entries.at(nTarget - 1);
    QCOMPARE(hit.nRequest, nTarget);
    QVERIFY2(hit.fields.value(QStringLiteral("fault")) == fault, qPrintable(hit.sLine));
    if (exit == 0) {
        // The very next request is the same one again (the connection may
        // look for the rate first), and the flash is right.
        const SimDrive::LogEntry &next = entries.at(nTarget);
        if (which >= 0 || hit.sService == QLatin1String("read")) {
            QCOMPARE(next.sService, hit.sService);
            QCOMPARE(objectText(next), objectText(hit));
            QCOMPARE(next.nLength, hit.nLength);
            QCOMPARE(next.nStatus, 0);
        }
        verifyFlash(drive);
    } else {
        QCOMPARE(record.value("statusCode").toInt(), 101);
        // Sent once: nothing was written to the command object after it.
        for (int k = nTarget; k < entries.size(); ++k)
            QVERIFY2(!(entries.at(k).sService == QLatin1String("write") && entries.at(k).nIndex == 0x5E10
                       && entries.at(k).nSubindex == 1),
                     qPrintable(entries.at(k).sLine));
        if (which == 0)
            QCOMPARE(entries.size(), qsizetype(nTarget));
    }
}

// One program per drive: a second tool started on a drive that is being
// programmed is refused before it sends a byte, naming the tool that holds
// the port, and the first run goes on undisturbed to the exact image.
void TestCliLine::secondToolOnOneDrive()
{
    SimDrive drive;
    QVERIFY2(startDrive(drive, {"--throttle"}), qPrintable(drive.errorString()));
    const QStringList args{"program", "--port", drive.portName(), "--boot", "mon", "--flash0", m_sImage};
    QProcess first;
    startCli(first, args);
    QDeadlineTimer deadline(60000);
    while (drive.commandCount(QStringLiteral("flash-program")) == 0 && !deadline.hasExpired()
           && first.state() == QProcess::Running)
        QTest::qWait(20);
    QVERIFY(drive.commandCount(QStringLiteral("flash-program")) > 0);

    const QString sReport = path(QStringLiteral("second-tool.json"));
    for (const QString &sBoot : {QStringLiteral("mon"), QStringLiteral("off")}) {
        QStringList second = args;
        second.replace(second.indexOf(QStringLiteral("mon")), sBoot);
        const Result refused = runCli(second + QStringList{"--report", sReport});
        VERIFY_EXIT(refused, 1);
        QVERIFY2(refused.sErr.contains(QStringLiteral("%1 is in use by another program (servoprog-cli, process %2)")
                                           .arg(drive.portName())
                                           .arg(first.processId())),
                 qPrintable(refused.sErr));
        // The cause for scripts, without reading the text.
        const QJsonObject record = reportRecords(sReport).at(0).toObject();
        QCOMPARE(record.value("portError").toString(), QStringLiteral("in-use"));
        // Woken, the drive is opened before any connection step.
        if (sBoot == QLatin1String("mon"))
            QCOMPARE(record.value("connectPhase").toString(), QStringLiteral("opening"));
        else
            QVERIFY(record.value("connectPhase").isNull());
    }
    QCOMPARE(first.state(), QProcess::Running);

    const Result result = finishCli(first);
    VERIFY_EXIT(result, 0);
    QVERIFY(drive.stop());
    verifyFlash(drive);
    // The drive heard the first tool's requests only: as many as in an
    // undisturbed run, and no byte at a rate it was not running at.
    QCOMPARE(int(drive.logEntries().size()), m_nRequests);
    QVERIFY(drive.logLines().filter(QStringLiteral("- ignored")).isEmpty());
}

// One Ctrl-C stops every drive after its current block; each is reported as
// cancelled, and no drive is left with its run going on.
void TestCliLine::interruptCancelsEveryDrive()
{
    SimDrive drives[2];
    for (SimDrive &drive : drives)
        QVERIFY2(startDrive(drive, {"--throttle", "--baud", "9600"}), qPrintable(drive.errorString()));
    const QString sReport = path(QStringLiteral("cancel.json"));
    QProcess process;
    // Programming at 9600 baud takes far longer than the test waits.
    startCli(process, {"program", "--port", drives[0].portName(), "--port", drives[1].portName(), "--boot", "mon",
                       "--baud", "9600", "--report", sReport, "--flash0", m_sImage});
    QDeadlineTimer deadline(120000);
    while ((drives[0].commandCount(QStringLiteral("flash-program")) == 0
            || drives[1].commandCount(QStringLiteral("flash-program")) == 0)
           && !deadline.hasExpired() && process.state() == QProcess::Running)
        QTest::qWait(50);
    QVERIFY(process.state() == QProcess::Running);
    ::kill(pid_t(process.processId()), SIGINT);
    const Result result = finishCli(process, 60000);
    VERIFY_EXIT(result, 1);
    QVERIFY2(result.sErr.contains(QStringLiteral("Cancelled; the ports have been closed.")), qPrintable(result.sErr));
    const QJsonArray records = reportRecords(sReport);
    QCOMPARE(records.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(records.at(i).toObject().value("result").toString(), QStringLiteral("cancelled"));
        QVERIFY2(result.sOut.contains(QRegularExpression(
                     QStringLiteral("\n%1 +cancelled ").arg(QRegularExpression::escape(drives[i].portName())))),
                 qPrintable(result.sOut));
        QVERIFY(drives[i].stop());
    }
}

QTEST_GUILESS_MAIN(TestCliLine)
#include "tst_cli_line.moc"
