// servoprog-cli end to end: every case runs the real program as a process
// against real files (made by srec_cat), the simulated drive on a
// pseudo-terminal, or a bare pseudo-terminal that never answers.

#include "SimDrive.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

struct Result
{
    int nExit = -1;
    bool bCrashed = false;
    QString sOut;
    QString sErr;
    qint64 nElapsedMs = 0;
};

Result runCli(const QStringList &args, int nTimeoutMs = 120000)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(SERVOPROG_CLI_PATH), args);
    Result result;
    if (!process.waitForStarted(10000)) {
        result.sErr = process.errorString();
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(nTimeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.sErr = QStringLiteral("timed out: ") + QString::fromLocal8Bit(process.readAllStandardError());
        return result;
    }
    result.nElapsedMs = timer.elapsed();
    result.bCrashed = process.exitStatus() != QProcess::NormalExit;
    result.nExit = process.exitCode();
    result.sOut = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.sErr = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

// srec_cat / srec_cmp from srecord, the independent reference for the
// image formats.
int runSrecord(const QString &sTool, const QStringList &args, QString *pErr = nullptr)
{
    QProcess process;
    process.start(sTool, args);
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000))
        return -1;
    if (pErr)
        *pErr = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray fileBytes(const QString &sPath)
{
    QFile file(sPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeText(const QString &sPath, const QByteArray &text)
{
    QFile file(sPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

#define VERIFY_RESULT(result, nExpected)                                                     \
    do {                                                                                     \
        QVERIFY2(!(result).bCrashed, qPrintable((result).sErr));                             \
        QVERIFY2((result).nExit == (nExpected),                                              \
                 qPrintable(QStringLiteral("exit %1, expected %2\nstdout:\n%3\nstderr:\n%4") \
                                .arg((result).nExit)                                         \
                                .arg(nExpected)                                              \
                                .arg((result).sOut, (result).sErr)));                        \
    } while (0)

// What is at a path, without following a link: the kind, a link's target, a
// file's bytes. Two equal descriptions: nothing was replaced or changed.
QString describeEntry(const QString &sPath)
{
    struct stat status;
    if (::lstat(QFile::encodeName(sPath).constData(), &status) != 0)
        return QStringLiteral("missing");
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("link to ") + QFile::symLinkTarget(sPath);
    if (S_ISDIR(status.st_mode))
        return QStringLiteral("directory");
    if (S_ISFIFO(status.st_mode))
        return QStringLiteral("fifo");
    if (S_ISCHR(status.st_mode))
        return QStringLiteral("device %1").arg(quint64(status.st_rdev));
    return QStringLiteral("file ")
           + QString::fromLatin1(QCryptographicHash::hash(fileBytes(sPath), QCryptographicHash::Sha1).toHex());
}

QMap<QString, QString> describeFolder(const QString &sFolder)
{
    QMap<QString, QString> entries;
    QDirIterator it(sFolder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString sPath = it.next();
        entries.insert(QDir(sFolder).relativeFilePath(sPath), describeEntry(sPath));
    }
    return entries;
}

// Reads a FIFO until its writer has gone, the way `cat fifo` would, while
// the tool runs: opened first, so that the tool finds a reader.
class FifoReader
{
public:
    explicit FifoReader(const QString &sPath)
    {
        m_fd = ::open(QFile::encodeName(sPath).constData(), O_RDONLY | O_NONBLOCK);
        m_thread = std::thread([this] {
            char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
                if (n > 0)
                    m_data.append(buffer, n);
                else if (n == 0 && m_bDone)
                    break;
                else
                    ::usleep(5000);
            }
        });
    }
    // Everything the writer sent; call once the tool has ended.
    QByteArray finish()
    {
        m_bDone = true;
        m_thread.join();
        ::close(m_fd);
        return m_data;
    }

private:
    int m_fd = -1;
    std::atomic<bool> m_bDone{false};
    QByteArray m_data;
    std::thread m_thread;
};

const quint32 kFirmwareBase = 0x10000;

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void imageInfoAndConvert_data();
    void imageInfoAndConvert();
    void convertRefused_data();
    void convertRefused();
    void sampleImageInfo();

    void usageErrors_data();
    void usageErrors();
    void helpPages();

    void probe_data();
    void probe();
    void probeSilentLine_data();
    void probeSilentLine();

    void unreachablePort_data();
    void unreachablePort();
    void portsListing();
    void programAndReadBack();
    void roundTrip_data();
    void roundTrip();
    void progressOnTerminal();
    void deviceFailures_data();
    void deviceFailures();
    void operatorMistakes_data();
    void operatorMistakes();
    void interruptDuringProgramming_data();
    void interruptDuringProgramming();

private:
    QTemporaryDir m_dir;
    QString path(const QString &sName) const { return m_dir.filePath(sName); }
    QByteArray m_firmware; // the bytes of mistakes/fw.hex at kFirmwareBase
};

void TestCli::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFileInfo(QStringLiteral(SERVOPROG_CLI_PATH)).isExecutable(), SERVOPROG_CLI_PATH);
    if (runSrecord(QStringLiteral("srec_cat"), {QStringLiteral("-version")}) != 0)
        QFAIL("srec_cat (package srecord) is needed by these tests");

    // The files of operatorMistakes: a 4 KiB flash image at 0x10000, EEPROM
    // data that runs 256 bytes past the end of a 4 KiB EEPROM, and a file
    // without a data record.
    QVERIFY(QDir().mkpath(path(QStringLiteral("mistakes"))));
    for (int i = 0; i < 4096; ++i)
        m_firmware.append(char((i * 7 + i / 256) & 0xFF));
    QVERIFY(writeText(path(QStringLiteral("fw.bin")), m_firmware));
    QCOMPARE(runSrecord(QStringLiteral("srec_cat"), {path(QStringLiteral("fw.bin")), "-binary", "-offset", "0x10000",
                                                     "-o", path(QStringLiteral("mistakes/fw.hex")), "-intel"}),
             0);
    QCOMPARE(runSrecord(QStringLiteral("srec_cat"), {"-generate", "0xF00", "0x1100", "-repeat-string", "parameter ",
                                                     "-o", path(QStringLiteral("mistakes/beyond.srec"))}),
             0);
    QVERIFY(writeText(path(QStringLiteral("mistakes/empty.srec")), "S0030000FC\n"));
}

// ---- Image files ---------------------------------------------------------

void TestCli::imageInfoAndConvert_data()
{
    QTest::addColumn<QStringList>("srecCatArgs"); // makes the input file
    QTest::addColumn<QString>("format");          // srecord's name of the input format
    QTest::addColumn<QString>("lowest");
    QTest::addColumn<QString>("highest");

    // Data near the top of the 32-bit space, far outside the 8 MiB window
    // the window program examines files with.
    QTest::newRow("hex near 4 GiB") << QStringList{"-generate",    "0xFFFE0000", "0xFFFE3000", "-repeat-string",
                                                   "servo drive ", "-generate",  "0xFFFFFF00", "0xFFFFFFFF",
                                                   "-repeat-data", "1",          "2",          "3",
                                                   "-o",           "IN",         "-intel"}
                                    << "-intel"
                                    << "0xfffe0000"
                                    << "0xfffffffe";
    QTest::newRow("srec S3 at 3 GiB with a 1 MiB gap")
        << QStringList{"-generate",  "0xC0000000", "0xC0000100", "-repeat-data", "4",  "5", "-generate",
                       "0xC0100000", "0xC0100011", "-constant",  "0x00",         "-o", "IN"}
        << ""
        << "0xc0000000"
        << "0xc0100010";
    QTest::newRow("srec S1 low addresses")
        << QStringList{"-generate", "0x10", "0x95", "-repeat-data", "1", "2", "3", "-o", "IN"} << ""
        << "0x10"
        << "0x94";
}

void TestCli::imageInfoAndConvert()
{
    QFETCH(QStringList, srecCatArgs);
    QFETCH(QString, format);
    QFETCH(QString, lowest);
    QFETCH(QString, highest);

    const QString sIn =
        path(QStringLiteral("in-%1").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    const QString sOut = sIn + QStringLiteral(".out.srec");
    srecCatArgs.replaceInStrings(QRegularExpression(QStringLiteral("^IN$")), sIn);
    QString sErr;
    QCOMPARE(runSrecord(QStringLiteral("srec_cat"), srecCatArgs, &sErr), 0);

    const Result info = runCli({QStringLiteral("info"), sIn});
    VERIFY_RESULT(info, 0);
    QVERIFY2(info.sOut.contains(QRegularExpression(QStringLiteral("Lowest:\\s+%1\\n").arg(lowest))),
             qPrintable(info.sOut));
    QVERIFY2(info.sOut.contains(QRegularExpression(QStringLiteral("Highest:\\s+%1\\n").arg(highest))),
             qPrintable(info.sOut));
    QVERIFY(info.sOut.contains(format.isEmpty() ? QStringLiteral("S-record") : QStringLiteral("Intel HEX")));

    const Result convert = runCli({QStringLiteral("convert"), sIn, sOut});
    VERIFY_RESULT(convert, 0);
    // srecord reads the result back and finds exactly the input's data, the
    // gaps of the used range written as erased (FF) bytes.
    QStringList cmpArgs{sIn};
    if (!format.isEmpty())
        cmpArgs << format;
    bool bOk = false;
    const QString sEnd = QStringLiteral("0x%1").arg(highest.toULongLong(&bOk, 16) + 1, 0, 16);
    QVERIFY(bOk);
    cmpArgs << QStringLiteral("-fill") << QStringLiteral("0xff") << lowest << sEnd << sOut;
    QCOMPARE(runSrecord(QStringLiteral("srec_cmp"), cmpArgs, &sErr), 0);
    // The result is an S-record file the tool itself reads with the same extent.
    const Result again = runCli({QStringLiteral("info"), sOut});
    VERIFY_RESULT(again, 0);
    QVERIFY(again.sOut.contains(QRegularExpression(QStringLiteral("Lowest:\\s+%1\\n").arg(lowest))));
    QVERIFY(again.sOut.contains(QRegularExpression(QStringLiteral("Highest:\\s+%1\\n").arg(highest))));
}

void TestCli::convertRefused_data()
{
    QTest::addColumn<QByteArray>("content");    // empty: made by srec_cat (see below)
    QTest::addColumn<QString>("expectedError"); // exact text expected on stderr

    QTest::newRow("extent above 256 MiB") << QByteArray() << QString("more than the 256 MiB");
    QTest::newRow("hex checksum") << QByteArray(":0400000001020304F2\n:0400040001020304ED\n:00000001FF\n")
                                  << QString("hex2bin error: crc checksum error\n");
    QTest::newRow("hex segment record") << QByteArray(":0400000001020304F2\n:020000021000EC\n:00000001FF\n")
                                        << QString("hex2bin error: extended segment address record not supported\n");
    QTest::newRow("srec S4 record") << QByteArray("S00600004844521B\nS107000001020304EE\nS4030000FC\n")
                                    << QString("srec2bin error: unknown record type S4");
    QTest::newRow("srec checksum") << QByteArray("S00600004844521B\nS107000001020304EF\nS9030000FC\n")
                                   << QString("srec2bin error: checksum error\n");
    QTest::newRow("not an image") << QByteArray("hello, world\n")
                                  << QString("neither an Intel HEX nor an S-record file");
}

void TestCli::convertRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expectedError);

    const QString sIn =
        path(QStringLiteral("bad-%1").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    const QString sOut = sIn + QStringLiteral(".srec");
    if (content.isEmpty()) {
        // Two bytes 256 MiB + 1 apart: a tiny file with a huge extent.
        QCOMPARE(runSrecord(QStringLiteral("srec_cat"), {"-generate", "0x1000", "0x1001", "-constant", "1", "-generate",
                                                         "0x10001000", "0x10001001", "-constant", "2", "-o", sIn}),
                 0);
    } else {
        QVERIFY(writeText(sIn, content));
    }
    for (const QString &sCommand : {QStringLiteral("info"), QStringLiteral("convert")}) {
        QStringList args{sCommand, sIn};
        if (sCommand == QLatin1String("convert"))
            args << sOut;
        const Result result = runCli(args, 30000);
        VERIFY_RESULT(result, 1);
        QVERIFY2(result.sErr.contains(expectedError), qPrintable(result.sErr));
        QVERIFY2(!QFileInfo::exists(sOut), "a refused conversion left an output file");
    }
    // An existing file of that name survives a refused conversion untouched.
    QVERIFY(writeText(sOut, "keep me\n"));
    VERIFY_RESULT(runCli({QStringLiteral("convert"), sIn, sOut}, 30000), 1);
    QCOMPARE(fileBytes(sOut), QByteArray("keep me\n"));
    QFile::remove(sOut);
}

void TestCli::sampleImageInfo()
{
    // The bundled sample carries its firmware information block at its
    // lowest address, as the window and the drive expect it.
    const Result info = runCli({QStringLiteral("info"), QStringLiteral(SERVOPROG_SAMPLE_IMAGE)});
    VERIFY_RESULT(info, 0);
    QVERIFY2(info.sOut.contains(QStringLiteral("Lowest:   0x400000\n")), qPrintable(info.sOut));
    QVERIFY2(info.sOut.contains(QStringLiteral("Firmware information:\n  SRV-FPGA-HW3\n  FW 2.14.0\n")),
             qPrintable(info.sOut));
}

// ---- Command line ----------------------------------------------------------

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expectedError");

    const QString sImage = QStringLiteral(SERVOPROG_SAMPLE_IMAGE);
    QTest::newRow("no command") << QStringList{} << "no command";
    QTest::newRow("unknown command") << QStringList{"flash"} << "unknown command 'flash'";
    QTest::newRow("help of unknown") << QStringList{"help", "flash"} << "unknown command 'flash'";
    QTest::newRow("info without file") << QStringList{"info"} << "missing argument";
    QTest::newRow("convert extra arg") << QStringList{"convert", "a", "b", "c"} << "unexpected argument 'c'";
    QTest::newRow("unknown option") << QStringList{"info", "--fast", sImage} << "fast";
    QTest::newRow("probe without port") << QStringList{"probe"} << "--port DEV is required";
    QTest::newRow("probe odd rate") << QStringList{"probe", "--port", "/dev/null", "--baud", "12345"} << "'12345'";
    QTest::newRow("program without image") << QStringList{"program", "--port", "/dev/null"} << "--flash0 IMAGE";
    QTest::newRow("program bad boot") << QStringList{"program", "--port",   "/dev/null", "--boot",
                                                     "on",      "--flash0", sImage}
                                      << "'on'";
    QTest::newRow("program hex baud") << QStringList{"program",  "--port",   "/dev/null", "--baud",
                                                     "0x1C200x", "--flash0", sImage}
                                      << "'0x1C200x'";
    QTest::newRow("program negative wake")
        << QStringList{"program", "--port", "/dev/null", "--wake-timeout", "-1", "--flash0", sImage}
        << "--wake-timeout";
    QTest::newRow("usb identity with a five-digit id")
        << QStringList{"probe", "--port", "usb:12345:1"} << "usb:12345:1 is not a USB identity";
    QTest::newRow("erase both flashes") << QStringList{"erase", "--port", "/dev/null", "--flash0", "--flash1"}
                                        << "exactly one of --flash0 and --flash1";
    QTest::newRow("erase no flash") << QStringList{"erase", "--port", "/dev/null"} << "exactly one";
    QTest::newRow("read bad offset") << QStringList{"read",     "--port", "/dev/null", "--flash0",
                                                    "--offset", "0x4g",   "out.srec"}
                                     << "--offset";
    QTest::newRow("read zero length") << QStringList{"read",     "--port", "/dev/null", "--flash1",
                                                     "--length", "0",      "out.srec"}
                                      << "--length";
    QTest::newRow("read without file") << QStringList{"read", "--port", "/dev/null", "--flash0"} << "missing argument";
    QTest::newRow("eeprom flash selector")
        << QStringList{"eeprom-erase", "--port", "/dev/null", "--flash0"} << "Unknown option 'flash0'";
    QTest::newRow("eeprom-write without file")
        << QStringList{"eeprom-write", "--port", "/dev/null", "--eeprom0"} << "missing argument";
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, expectedError);
    const Result result = runCli(args, 30000);
    VERIFY_RESULT(result, 2);
    QVERIFY2(result.sErr.contains(expectedError), qPrintable(result.sErr));
    QVERIFY(result.sOut.isEmpty());
}

void TestCli::helpPages()
{
    const Result overview = runCli({QStringLiteral("--help")});
    VERIFY_RESULT(overview, 0);
    const QStringList commands{"info",  "convert", "ports",       "probe",        "program",
                               "erase", "read",    "eeprom-read", "eeprom-erase", "eeprom-write"};
    for (const QString &sCommand : commands) {
        QVERIFY2(overview.sOut.contains(QStringLiteral("\n  %1").arg(sCommand)), qPrintable(sCommand));
        const Result page = runCli({QStringLiteral("help"), sCommand});
        VERIFY_RESULT(page, 0);
        QVERIFY(page.sOut.startsWith(QStringLiteral("Usage: servoprog-cli %1").arg(sCommand)));
        QVERIFY(page.sOut.contains(QStringLiteral("Example: servoprog-cli %1").arg(sCommand)));
        // "COMMAND --help" shows the same page.
        const Result same = runCli({sCommand, QStringLiteral("--help")});
        VERIFY_RESULT(same, 0);
        QCOMPARE(same.sOut, page.sOut);
    }
}

// ---- Drive ---------------------------------------------------------------------

void TestCli::probe_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("cliArgs");
    QTest::addColumn<int>("detected");
    QTest::addColumn<int>("working");

    QTest::newRow("default rate") << QStringList{} << QStringList{} << 9600 << 115200;
    QTest::newRow("requested 460800") << QStringList{} << QStringList{"--baud", "460800"} << 9600 << 460800;
    QTest::newRow("monitor at 57600") << QStringList{"--baud", "57600"} << QStringList{"--baud", "0x9600"} << 57600
                                      << 38400;
}

void TestCli::probe()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, cliArgs);
    QFETCH(int, detected);
    QFETCH(int, working);

    SimDrive drive;
    QVERIFY2(drive.start(simArgs << QStringLiteral("--throttle")), qPrintable(drive.errorString()));
    const Result result =
        runCli(QStringList{QStringLiteral("probe"), QStringLiteral("--port"), drive.portName()} + cliArgs);
    VERIFY_RESULT(result, 0);
    QVERIFY2(result.sOut.contains(QStringLiteral("Detected rate: %1\n").arg(detected)), qPrintable(result.sOut));
    QVERIFY2(result.sOut.contains(QStringLiteral("Working rate:  %1\n").arg(working)), qPrintable(result.sOut));
    QVERIFY(result.sOut.contains(QStringLiteral("Ident 1:")));
    QVERIFY(drive.stop());
}

void TestCli::probeSilentLine_data()
{
    QTest::addColumn<QStringList>("simArgs"); // none: a bare pseudo-terminal
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expectedError");
    QTest::addColumn<int>("withinMs");

    const QString sDetecting = QStringLiteral("Connect: Communication timeout error (driver)\n"
                                              "  Failed while detecting the rate.\n");
    const QStringList program{"program", "--boot", "mon", "--flash0", SERVOPROG_SAMPLE_IMAGE};
    // The rate scan takes about 8 x 300 ms; anything near a minute is a hang.
    QTest::newRow("probe") << QStringList{} << QStringList{"probe"} << sDetecting << 30000;
    QTest::newRow("program, monitor") << QStringList{} << program << sDetecting << 30000;
    QTest::newRow("erase, wake time-out")
        << QStringList{} << QStringList{"erase", "--boot", "off", "--wake-timeout", "2", "--flash1"}
        << "Init boot monitor" << 30000;
    // A line that streams LIFE_TRIGGERs (or noise) from the start never falls
    // silent for a probe's time-out: each rate is given up on soon.
    QTest::newRow("program, line streaming from the start")
        << QStringList{"--fault", "stream:0"} << program << sDetecting << 5000;
    QTest::newRow("probe, line streaming noise")
        << QStringList{"--fault", "stream:0:0x55"} << QStringList{"probe"} << sDetecting << 5000;
}

void TestCli::probeSilentLine()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, args);
    QFETCH(QString, expectedError);
    QFETCH(int, withinMs);

    // A pseudo-terminal whose other end is held open but never answers: a
    // drive that is switched off or a cable that is not plugged in; or the
    // simulated drive with a line that never stops talking.
    SimDrive drive;
    int nMaster = -1;
    QString sPort;
    if (simArgs.isEmpty()) {
        int nSlave = -1;
        char sName[128] = {0};
        QVERIFY(openpty(&nMaster, &nSlave, sName, nullptr, nullptr) == 0);
        ::close(nSlave);
        sPort = QString::fromLocal8Bit(sName);
    } else {
        QVERIFY2(drive.start(simArgs), qPrintable(drive.errorString()));
        sPort = drive.portName();
    }
    args.insert(1, QStringLiteral("--port"));
    args.insert(2, sPort);
    const Result result = runCli(args, 60000);
    if (nMaster >= 0)
        ::close(nMaster);
    VERIFY_RESULT(result, 1);
    QVERIFY2(result.sErr.contains(expectedError), qPrintable(result.sErr));
    QVERIFY2(result.nElapsedMs < withinMs, qPrintable(QString::number(result.nElapsedMs)));
    if (drive.isRunning())
        QVERIFY(drive.stop());
}

void TestCli::unreachablePort_data()
{
    QTest::addColumn<QStringList>("args"); // PTY: a fresh pseudo-terminal of root's
    QTest::addColumn<QString>("expectedError");
    QTest::addColumn<bool>("unprivileged"); // run as user and group 65534 (nobody)

    const QString sPort = QStringLiteral("/dev/servoprog-no-such-port");
    const QString sNoSuch = QStringLiteral("\n  /dev/servoprog-no-such-port: no such device");
    QTest::newRow("probe") << QStringList{"probe", "--port", sPort}
                           << "Connect: Error initializing serial device driver" + sNoSuch << false;
    QTest::newRow("program, monitor")
        << QStringList{"program", "--port", sPort, "--boot", "mon", "--flash0", SERVOPROG_SAMPLE_IMAGE}
        << "Connect: Error initializing serial device driver" + sNoSuch << false;
    QTest::newRow("read, powered off") << QStringList{"read",     "--port",   sPort, "--boot", "off",
                                                      "--flash0", "--length", "16",  "x.srec"}
                                       << "Init boot monitor: Cannot open serial device '/dev/servoprog-no-such-port'"
                                              + sNoSuch
                                       << false;
    QTest::newRow("usb identity of no converter")
        << QStringList{"program", "--port", "usb:ffff:fffe", "--boot", "mon", "--flash0", SERVOPROG_SAMPLE_IMAGE}
        << "error: --port usb:ffff:fffe: no such port" << false;
    // The pseudo-terminal is root's: the tool says so and names the fix
    // (the group to join when it is not root's, the udev rule).
    QTest::newRow("port the user may not open")
        << QStringList{"program", "--port", "PTY", "--boot", "mon", "--flash0", SERVOPROG_SAMPLE_IMAGE}
        << "Connect: Error initializing serial device driver\n  PTY: permission denied. " << true;
}

void TestCli::unreachablePort()
{
    QFETCH(QStringList, args);
    QFETCH(QString, expectedError);
    QFETCH(bool, unprivileged);

    int nMaster = -1;
    int nSlave = -1;
    char sName[128] = {0};
    QVERIFY(openpty(&nMaster, &nSlave, sName, nullptr, nullptr) == 0);
    ::close(nSlave);
    const QString sPty = QString::fromLocal8Bit(sName);
    args.replaceInStrings(QRegularExpression(QStringLiteral("^PTY$")), sPty);
    expectedError.replace(QLatin1String("PTY"), sPty);
    if (unprivileged && ::getuid() != 0) {
        ::close(nMaster);
        QSKIP("needs root to run the tool as another user");
    }
    QProcess process;
    if (unprivileged)
        process.setChildProcessModifier([]() {
            const gid_t nNobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nNobody) != 0 || ::setuid(nNobody) != 0)
                ::_exit(99);
        });
    process.start(QStringLiteral(SERVOPROG_CLI_PATH), args);
    QVERIFY(process.waitForStarted(10000));
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(60000));
    ::close(nMaster);
    const QString sErr = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 1, qPrintable(QStringLiteral("exit %1\n%2").arg(process.exitCode()).arg(sErr)));
    QVERIFY2(sErr.contains(expectedError), qPrintable(sErr));
    if (unprivileged)
        QVERIFY2(sErr.contains(QStringLiteral("the udev rule 70-servoprog.rules")), qPrintable(sErr));
}

void TestCli::portsListing()
{
    // Whatever this machine has, the listing works without a drive and each
    // port names the transport that would open it.
    const Result result = runCli({QStringLiteral("ports")});
    VERIFY_RESULT(result, 0);
    const int nPorts = int(result.sOut.count(QStringLiteral("\n  transport:    ")));
    QCOMPARE(int(result.sOut.count(QStringLiteral("\n  description:  "))), nPorts);
    QCOMPARE(int(result.sOut.count(QStringLiteral("\n  --port:       "))), nPorts);
    QVERIFY(result.sOut.endsWith(QStringLiteral("give them to --port as they are.\n")));
}

void TestCli::programAndReadBack()
{
    SimDrive drive;
    const QString sFlash = drive.filePath(QStringLiteral("flash0.bin"));
    QVERIFY2(drive.start({QStringLiteral("--flash0"), sFlash}), qPrintable(drive.errorString()));
    const QString sImage = QStringLiteral(SERVOPROG_SAMPLE_IMAGE);

    const Result program =
        runCli({"program", "--port", drive.portName(), "--boot", "mon", "--baud", "460800", "--flash0", sImage});
    VERIFY_RESULT(program, 0);
    QVERIFY2(program.sOut.contains(QStringLiteral("state: Update finished\n")), qPrintable(program.sOut));
    QVERIFY2(program.sOut.contains(QRegularExpression(
                 QStringLiteral("Flash0 program servo-fw-sample.hex: \\d+ bytes written, \\d+ bytes on the wire"))),
             qPrintable(program.sOut));
    QVERIFY(program.sErr.indexOf(QStringLiteral("error")) < 0);

    // Again, skipping what the drive holds: its five sectors are left alone.
    const int nErases = drive.commandCount(QStringLiteral("flash-erase"));
    const Result again = runCli({"program", "--port", drive.portName(), "--boot", "mon", "--baud", "460800",
                                 "--skip-unchanged", "--flash0", sImage});
    VERIFY_RESULT(again, 0);
    QVERIFY2(again.sOut.contains(QRegularExpression(QStringLiteral(
                 "Flash0 program servo-fw-sample.hex: 0 bytes written, .*, sectors 0 erased/5 skipped, "))),
             qPrintable(again.sOut));
    QCOMPARE(drive.commandCount(QStringLiteral("flash-erase")), nErases);

    const QString sBack = path(QStringLiteral("readback.srec"));
    const Result read = runCli({"read", "--port", drive.portName(), "--boot", "mon", "--flash0", "--offset", "0x400000",
                                "--length", "265649", sBack});
    VERIFY_RESULT(read, 0);
    // The drive's firmware information now comes from the programmed image.
    QVERIFY2(read.sOut.contains(QStringLiteral("Flash image info:\n  SRV-FPGA-HW3\n")), qPrintable(read.sOut));
    QString sErr;
    QCOMPARE(runSrecord(QStringLiteral("srec_cmp"), {sImage, QStringLiteral("-intel"), sBack}, &sErr), 0);

    // And the flash outside the image was not touched: the simulator's raw
    // memory holds the image and FF around it.
    QVERIFY(drive.stop());
    const QByteArray flash = fileBytes(sFlash);
    QVERIFY(flash.size() >= 0x440db1);
    QCOMPARE(flash.left(0x400000).count('\xff'), 0x400000);
    const QString sFromFlash = path(QStringLiteral("flash-window.srec"));
    QCOMPARE(
        runSrecord(QStringLiteral("srec_cat"), {sFlash, "-binary", "-crop", "0x400000", "0x440db1", "-o", sFromFlash}),
        0);
    QCOMPARE(runSrecord(QStringLiteral("srec_cmp"), {sImage, QStringLiteral("-intel"), sFromFlash}, &sErr), 0);
}

void TestCli::roundTrip_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("imageArgs"); // srec_cat arguments that make IMAGE
    QTest::addColumn<QStringList>("writeArgs"); // "PORT", "IMAGE" and "OUT" are replaced
    QTest::addColumn<QStringList>("readArgs");
    QTest::addColumn<QString>("summary"); // expected in the write's summary line

    QTest::newRow("flash1, powered off, uncompressed")
        << QStringList{"--powered-off"}
        << QStringList{"-generate", "0x10000", "0x14000", "-repeat-string", "extended image ", "-o", "IMAGE"}
        << QStringList{"program",        "--port", "PORT",          "--boot",   "off",
                       "--wake-timeout", "20",     "--no-compress", "--flash1", "IMAGE"}
        << QStringList{"read",     "--port",  "PORT",     "--boot", "mon", "--flash1",
                       "--offset", "0x10000", "--length", "0x4000", "OUT"}
        << "Flash1 program image.srec: 16384 bytes written";
    QTest::newRow("eeprom1, 300 bytes at 0x100")
        << QStringList{}
        << QStringList{"-generate", "0x100", "0x22C", "-repeat-string", "parameter set ", "-o", "IMAGE", "-intel"}
        << QStringList{"eeprom-write", "--port", "PORT",     "--boot", "mon",  "--eeprom1",
                       "--offset",     "0x100",  "--length", "300",    "IMAGE"}
        << QStringList{"eeprom-read", "--port", "PORT",     "--boot", "mon", "--eeprom1",
                       "--offset",    "256",    "--length", "0x12c",  "OUT"}
        << "EEPROM1 write image.srec: 300 bytes written";
    // Without --length a range runs from --offset to the end of the memory.
    QTest::newRow("flash0 read from an offset to the end")
        << QStringList{"--flash-size", "128K"}
        << QStringList{"-generate", "0x1C000", "0x20000", "-repeat-string", "end of flash ", "-o", "IMAGE"}
        << QStringList{"program", "--port", "PORT", "--boot", "mon", "--flash0", "IMAGE"}
        << QStringList{"read", "--port", "PORT", "--boot", "mon", "--flash0", "--offset", "0x1C000", "OUT"}
        << "Flash0 program image.srec: 16384 bytes written";
    QTest::newRow("eeprom0 from an offset to the end")
        << QStringList{} << QStringList{"-generate", "0x7F00", "0x8000", "-repeat-string", "last page ", "-o", "IMAGE"}
        << QStringList{"eeprom-write", "--port", "PORT", "--boot", "mon", "--eeprom0", "--offset", "0x7F00", "IMAGE"}
        << QStringList{"eeprom-read", "--port", "PORT", "--boot", "mon", "--eeprom0", "--offset", "0x7F00", "OUT"}
        << "EEPROM0 write image.srec: 256 bytes written";
}

void TestCli::roundTrip()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, imageArgs);
    QFETCH(QStringList, writeArgs);
    QFETCH(QStringList, readArgs);
    QFETCH(QString, summary);

    SimDrive drive;
    QVERIFY2(drive.start(simArgs), qPrintable(drive.errorString()));
    const QString sImage = drive.filePath(QStringLiteral("image.srec"));
    const QString sOut = drive.filePath(QStringLiteral("out.srec"));
    const auto fill = [&](QStringList &args) {
        args.replaceInStrings(QRegularExpression(QStringLiteral("^PORT$")), drive.portName());
        args.replaceInStrings(QRegularExpression(QStringLiteral("^IMAGE$")), sImage);
        args.replaceInStrings(QRegularExpression(QStringLiteral("^OUT$")), sOut);
    };
    fill(imageArgs);
    fill(writeArgs);
    fill(readArgs);
    QCOMPARE(runSrecord(QStringLiteral("srec_cat"), imageArgs), 0);
    const bool bHex = imageArgs.last() == QLatin1String("-intel");

    const Result write = runCli(writeArgs);
    VERIFY_RESULT(write, 0);
    QVERIFY2(write.sOut.contains(summary), qPrintable(write.sOut));
    const Result read = runCli(readArgs);
    VERIFY_RESULT(read, 0);
    QStringList cmpArgs{sImage};
    if (bHex)
        cmpArgs << QStringLiteral("-intel");
    cmpArgs << sOut;
    QString sErr;
    QCOMPARE(runSrecord(QStringLiteral("srec_cmp"), cmpArgs, &sErr), 0);
    QVERIFY(drive.stop());
}

void TestCli::progressOnTerminal()
{
    // Standard output on a pseudo-terminal, as in an operator's shell: the
    // tool draws bars in place instead of plain lines.
    SimDrive drive;
    QVERIFY2(drive.start({QStringLiteral("--throttle")}), qPrintable(drive.errorString()));
    int nMaster = -1;
    int nSlave = -1;
    QVERIFY(openpty(&nMaster, &nSlave, nullptr, nullptr, nullptr) == 0);
    QProcess process;
    process.setChildProcessModifier([nSlave]() { ::dup2(nSlave, STDOUT_FILENO); });
    process.start(QStringLiteral(SERVOPROG_CLI_PATH), {"program", "--port", drive.portName(), "--boot", "mon", "--baud",
                                                       "921600", "--flash0", QStringLiteral(SERVOPROG_SAMPLE_IMAGE)});
    QVERIFY(process.waitForStarted(10000));
    ::close(nSlave);
    ::fcntl(nMaster, F_SETFL, ::fcntl(nMaster, F_GETFL) | O_NONBLOCK);
    QByteArray screen;
    QElapsedTimer timer;
    timer.start();
    const auto drain = [&]() {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(nMaster, buffer, sizeof buffer)) > 0)
            screen.append(buffer, n);
    };
    while (process.state() == QProcess::Running && timer.elapsed() < 120000) {
        process.waitForFinished(100);
        drain();
    }
    drain();
    ::close(nMaster);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    QVERIFY2(screen.contains("\r\033[K"), screen.constData());
    QVERIFY(screen.contains("2/2 Program flash"));
    QVERIFY(screen.contains("[" + QByteArray(8, '#')));
    QVERIFY(screen.contains("] 100% 259.4 KiB/259.4 KiB"));
    QVERIFY(screen.contains("Flash0 program servo-fw-sample.hex: "));
    QVERIFY(!screen.contains("progress: "));
    QVERIFY(drive.stop());
}

void TestCli::deviceFailures_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("cliArgs"); // "PORT" and "OUT" are replaced
    QTest::addColumn<QString>("expectedError");

    const QString sImage = QStringLiteral(SERVOPROG_SAMPLE_IMAGE);
    QTest::newRow("verify fails") << QStringList{"--fault", "verify:2"}
                                  << QStringList{"program", "--port", "PORT", "--boot", "mon", "--flash0", sImage}
                                  << "error: Program flash: Verify after write failed!";
    QTest::newRow("drive goes silent") << QStringList{"--fault", "silent:40"}
                                       << QStringList{"program", "--port", "PORT", "--boot", "mon", "--flash0", sImage}
                                       << "Communication timeout error (driver)";
    // The drive takes the new rate and is not heard of again: the retries
    // look for it at every rate, then the failure names the step.
    QTest::newRow("drive silent after the rate switch")
        << QStringList{"--fault", "silent:3"}
        << QStringList{"program", "--port", "PORT", "--boot", "mon", "--flash0", sImage}
        << "error: Connect: Communication timeout error (driver)\n  Failed while confirming 115200 baud.";
    QTest::newRow("drive busy") << QStringList{"--fault", "busy:12:203"}
                                << QStringList{"read",     "--port",   "PORT",    "--boot", "mon",
                                               "--flash1", "--length", "0x20000", "OUT"}
                                << "Service cannot be carried out due to device status";
    QTest::newRow("erase misaligned") << QStringList{}
                                      << QStringList{"erase",    "--port",   "PORT",   "--boot",   "mon",
                                                     "--flash0", "--offset", "0x8000", "--length", "0x10000"}
                                      << "Offset and size must be a multiple of 65536 (0x10000)";
    QTest::newRow("missing image")
        << QStringList{} << QStringList{"program", "--port", "PORT", "--boot", "mon", "--flash1", "/nonexistent/fw.hex"}
        << "/nonexistent/fw.hex: no such file";
}

void TestCli::deviceFailures()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, cliArgs);
    QFETCH(QString, expectedError);

    SimDrive drive;
    QVERIFY2(drive.start(simArgs), qPrintable(drive.errorString()));
    // An earlier result under the output name must survive a failed read.
    const QString sOut = path(QStringLiteral("failure-out.srec"));
    QVERIFY(writeText(sOut, "S00600004844521B\n"));
    cliArgs.replaceInStrings(QRegularExpression(QStringLiteral("^PORT$")), drive.portName());
    cliArgs.replaceInStrings(QRegularExpression(QStringLiteral("^OUT$")), sOut);

    const Result result = runCli(cliArgs);
    VERIFY_RESULT(result, 1);
    QVERIFY2(result.sErr.contains(expectedError), qPrintable(result.sErr));
    QCOMPARE(fileBytes(sOut), QByteArray("S00600004844521B\n"));
    QVERIFY(drive.stop());
}

// An operator's mistakes, each through the real tool against a simulated
// drive with a 1 MiB flash of zeros and a 4 KiB EEPROM: every one ends with
// its message and the right exit status, the drive's memory and every file
// as they were (or exactly as asked), and no run waits for ever.
void TestCli::operatorMistakes_data()
{
    QTest::addColumn<QStringList>("setup"); // dir:D  link:L=TARGET  portlink:L  fifo:F  fifo-reader:F  limit:KIB
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("args"); // PORT, PORT2 (the port spelt with ..), @NAME (a file of the row)
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("drive");       // untouched, unwritten (read at most) or programmed
    QTest::addColumn<QStringList>("changed"); // files of the row the command may create or change

    const QStringList program{"program", "--port", "PORT", "--boot", "mon", "--flash0", "@fw.hex"};
    const QStringList read{"read",     "--port",   "PORT",    "--boot",   "mon",
                           "--flash0", "--offset", "0x10000", "--length", "4096"};
    const QStringList eeprom{"eeprom-write", "--port", "PORT", "--boot", "mon", "--eeprom0"};
    const QStringList none;

    QTest::newRow("eeprom-write a flash image") << none << none << eeprom + QStringList{"@fw.hex"} << 1
                                                << "fw.hex holds 4096 data bytes beyond the end of the EEPROM (0xfff)"
                                                << "unwritten" << none;
    QTest::newRow("eeprom-write a flash image into a given range")
        << none << none << eeprom + QStringList{"--length", "4096", "@fw.hex"} << 1
        << "none of its 4096 data bytes (at 0x10000..0x10fff) lies inside the EEPROM range 0x0..0xfff"
        << "untouched" << none;
    QTest::newRow("eeprom-write past the end") << none << none << eeprom + QStringList{"@beyond.srec"} << 1
                                               << "holds 256 data bytes beyond the end of the EEPROM (0xfff)"
                                               << "unwritten" << none;
    QTest::newRow("eeprom-write a file without data") << none << none << eeprom + QStringList{"@empty.srec"} << 1
                                                      << "empty.srec: the file holds no data; nothing written"
                                                      << "untouched" << none;
    QTest::newRow("report over the image") << none << none << program + QStringList{"--report", "@fw.hex"} << 2
                                           << "--flash0 and --report name the same file"
                                           << "untouched" << none;
    QTest::newRow("log over the image through a link")
        << QStringList{"link:fw-link.hex=fw.hex"} << none << program + QStringList{"--log", "@fw-link.hex"} << 2
        << "--flash0 and --log name the same file"
        << "untouched" << none;
    QTest::newRow("report over the read-back, spelt with .. and a link")
        << QStringList{"dir:sub", "link:here=."} << none
        << read + QStringList{"@out.srec", "--report", "@sub/../here/out.srec"} << 2
        << "--report and OUT.srec name the same file"
        << "untouched" << none;
    QTest::newRow("read to /dev/null") << none << none << read + QStringList{"/dev/null"} << 0 << ""
                                       << "unwritten" << none;
    QTest::newRow("read to a FIFO with a reader")
        << QStringList{"fifo-reader:out.fifo"} << none << read + QStringList{"@out.fifo"} << 0 << ""
        << "unwritten" << none;
    QTest::newRow("read to a FIFO without a reader")
        << QStringList{"fifo:out.fifo"} << none << read + QStringList{"@out.fifo"} << 1 << "Flash read: Writing to file"
        << "unwritten" << none;
    QTest::newRow("read through a link") << QStringList{"dir:sub", "link:back.srec=sub/target.srec"} << none
                                         << read + QStringList{"@back.srec"} << 0 << ""
                                         << "unwritten" << QStringList{"sub/target.srec"};
    QTest::newRow("read into a directory")
        << QStringList{"dir:sub"} << none << read + QStringList{"@sub"} << 1 << "sub is a directory"
        << "untouched" << none;
    QTest::newRow("read through a link into a missing folder")
        << QStringList{"link:back.srec=nowhere/target.srec"} << none << read + QStringList{"@back.srec"} << 1
        << "back.srec: cannot be created, the folder "
        << "untouched" << none;
    QTest::newRow("a FIFO as image") << QStringList{"fifo:in.fifo"} << none
                                     << QStringList{"program", "--port",   "PORT",    "--boot",
                                                    "mon",     "--flash0", "@in.fifo"}
                                     << 1 << "in.fifo is not a regular file (it is a FIFO"
                                     << "untouched" << none;
    QTest::newRow("a FIFO as list of ports")
        << QStringList{"fifo:in.fifo"} << none << QStringList{"erase", "--ports-from", "@in.fifo", "--flash0"} << 2
        << "in.fifo is not a regular file"
        << "untouched" << none;
    QTest::newRow("one port spelt with ..") << none << none << program + QStringList{"--port", "PORT2"} << 2
                                            << "given more than once (also as /dev/pts/../pts/"
                                            << "untouched" << none;
    QTest::newRow("one port through a link") << QStringList{"portlink:by-id"} << none
                                             << program + QStringList{"--port", "@by-id"} << 2 << "given more than once"
                                             << "untouched" << none;
    QTest::newRow("an empty port beside a real one")
        << none << none << program + QStringList{"--port", ""} << 2 << "--port with an empty port name"
        << "untouched" << none;
    QTest::newRow("log to a full disk") << none << none << program + QStringList{"--log", "/dev/full"} << 1
                                        << "--log: /dev/full: No space left on device"
                                        << "programmed" << none;
    QTest::newRow("report to a full disk") << none << none << program + QStringList{"--report", "/dev/full"} << 1
                                           << "--report: /dev/full: No space left on device"
                                           << "programmed" << none;
    QTest::newRow("log under a file-size limit")
        << QStringList{"limit:1"} << none << program + QStringList{"--log", "@run.log"} << 1
        << "run.log: File too large"
        << "programmed" << QStringList{"run.log"};
    // The drive answers only at the last rate of the scan: Ctrl-C comes
    // while the tool looks for it.
    QTest::newRow("cancel during the rate scan") << QStringList{"interrupt"} << QStringList{"--baud", "921600"}
                                                 << program << 1 << "error: Erase flash: Canceled from user!"
                                                 << "unwritten" << none;
}

void TestCli::operatorMistakes()
{
    QFETCH(QStringList, setup);
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    QFETCH(QString, message);
    QFETCH(QString, drive);
    QFETCH(QStringList, changed);

    QTemporaryDir rowDir(path(QStringLiteral("row-XXXXXX")));
    QVERIFY(rowDir.isValid());
    const QString sDir = rowDir.path();
    for (const QString &sName : {QStringLiteral("fw.hex"), QStringLiteral("beyond.srec"), QStringLiteral("empty.srec")})
        QVERIFY(QFile::copy(path(QStringLiteral("mistakes/")) + sName, rowDir.filePath(sName)));

    SimDrive sim;
    const QString sFlash = sim.writeFile(QStringLiteral("flash0.bin"), QByteArray(0x100000, '\0'));
    QByteArray eepromBytes;
    for (int i = 0; i < 4096; ++i)
        eepromBytes.append(char(i * 13));
    const QString sEeprom = sim.writeFile(QStringLiteral("eeprom0.bin"), eepromBytes);
    QVERIFY(!sFlash.isEmpty() && !sEeprom.isEmpty());
    QVERIFY2(sim.start(QStringList{"--flash0", sFlash, "--flash-size", "1M", "--eeprom", sEeprom, "--eeprom-size", "4K"}
                       + simArgs),
             qPrintable(sim.errorString()));
    const QByteArray flashBefore = fileBytes(sFlash);

    rlim_t nFileSizeLimit = RLIM_INFINITY;
    bool bInterrupt = false;
    std::unique_ptr<FifoReader> pReader;
    for (const QString &sStep : setup) {
        const QString sWhat = sStep.section(QLatin1Char(':'), 0, 0);
        const QString sArg = sStep.section(QLatin1Char(':'), 1);
        if (sWhat == QLatin1String("dir")) {
            QVERIFY(QDir(sDir).mkpath(sArg));
        } else if (sWhat == QLatin1String("link")) {
            QVERIFY(
                QFile::link(sArg.section(QLatin1Char('='), 1), rowDir.filePath(sArg.section(QLatin1Char('='), 0, 0))));
        } else if (sWhat == QLatin1String("portlink")) {
            QVERIFY(QFile::link(sim.portName(), rowDir.filePath(sArg)));
        } else if (sWhat.startsWith(QLatin1String("fifo"))) {
            QCOMPARE(::mkfifo(QFile::encodeName(rowDir.filePath(sArg)).constData(), 0644), 0);
            if (sWhat == QLatin1String("fifo-reader"))
                pReader = std::make_unique<FifoReader>(rowDir.filePath(sArg));
        } else if (sWhat == QLatin1String("limit")) {
            nFileSizeLimit = rlim_t(sArg.toInt()) * 1024;
        } else {
            QVERIFY(sWhat == QLatin1String("interrupt"));
            bInterrupt = true;
        }
    }
    QString sPort2 = sim.portName();
    sPort2.replace(QStringLiteral("/dev/pts/"), QStringLiteral("/dev/pts/../pts/"));
    for (QString &sArg : args) {
        if (sArg == QLatin1String("PORT"))
            sArg = sim.portName();
        else if (sArg == QLatin1String("PORT2"))
            sArg = sPort2;
        else if (sArg.startsWith(QLatin1Char('@')))
            sArg = rowDir.filePath(sArg.mid(1));
    }
    const QMap<QString, QString> filesBefore = describeFolder(sDir);
    const QString sNullBefore = describeEntry(QStringLiteral("/dev/null"));
    const QString sFullBefore = describeEntry(QStringLiteral("/dev/full"));

    QProcess process;
    process.setChildProcessModifier([nFileSizeLimit]() {
        const struct rlimit limit = {nFileSizeLimit, nFileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(SERVOPROG_CLI_PATH), args);
    QVERIFY(process.waitForStarted(10000));
    process.closeWriteChannel();
    if (bInterrupt) {
        while (!sim.logLines().join(QLatin1Char('\n')).contains(QStringLiteral("reason=rate"))
               && timer.elapsed() < 20000)
            QTest::qWait(10);
        QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
    }
    // Nothing the tool is given may hold it: every row ends in seconds.
    const bool bEnded = process.waitForFinished(30000);
    if (!bEnded)
        process.kill();
    const QByteArray received = pReader ? pReader->finish() : QByteArray();
    QVERIFY2(bEnded, "the tool did not end");
    const QString sErr = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == exit, qPrintable(QStringLiteral("exit %1\n%2").arg(process.exitCode()).arg(sErr)));
    QVERIFY2(sErr.contains(message), qPrintable(sErr));
    QVERIFY(sim.stop());

    // Every file as it was, but the ones the command was asked to write;
    // no device replaced.
    QMap<QString, QString> filesAfter = describeFolder(sDir);
    for (const QString &sName : changed) {
        QVERIFY2(filesAfter.value(sName).startsWith(QStringLiteral("file ")), qPrintable(sName));
        filesAfter.remove(sName);
    }
    QCOMPARE(filesAfter, filesBefore);
    QCOMPARE(describeEntry(QStringLiteral("/dev/null")), sNullBefore);
    QCOMPARE(describeEntry(QStringLiteral("/dev/full")), sFullBefore);
    if (!received.isEmpty() || QTest::currentDataTag() == QLatin1String("read to a FIFO with a reader")) {
        // The whole read-back went through the FIFO: 256 records of 16 bytes.
        QVERIFY2(received.startsWith("S0030000FC\n"), received.left(80).constData());
        QCOMPARE(received.count('\n'), 2 + 4096 / 16);
    }

    // The drive's memory: as it was, or holding exactly the image.
    QByteArray flashExpected = flashBefore;
    if (drive == QLatin1String("programmed")) {
        flashExpected.replace(int(kFirmwareBase), 0x10000, QByteArray(0x10000, '\xff'));
        flashExpected.replace(int(kFirmwareBase), m_firmware.size(), m_firmware);
    }
    QVERIFY(fileBytes(sFlash) == flashExpected);
    QVERIFY(fileBytes(sEeprom) == eepromBytes);
    const QList<SimDrive::LogEntry> requests = sim.logEntries();
    if (drive == QLatin1String("untouched"))
        QVERIFY2(requests.isEmpty(), qPrintable(requests.value(0).sLine));
    for (const SimDrive::LogEntry &entry : requests)
        QVERIFY2(drive == QLatin1String("programmed")
                     || !QStringList({"flash-erase", "flash-program", "eeprom-write"}).contains(entry.command()),
                 qPrintable(entry.sLine));
}

void TestCli::interruptDuringProgramming_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("Ctrl-C") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestCli::interruptDuringProgramming()
{
    QFETCH(int, signalNumber);
    SimDrive drive;
    // Every byte takes its wire time, so programming lasts long enough to
    // be interrupted in the middle.
    QVERIFY2(drive.start({QStringLiteral("--throttle")}), qPrintable(drive.errorString()));
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QStringLiteral(SERVOPROG_CLI_PATH), {"program", "--port", drive.portName(), "--boot", "mon", "--baud",
                                                       "57600", "--flash0", QStringLiteral(SERVOPROG_SAMPLE_IMAGE)});
    QVERIFY(process.waitForStarted(10000));
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (!out.contains("progress: Program flash") && timer.elapsed() < 120000
           && process.state() == QProcess::Running) {
        process.waitForReadyRead(200);
        out += process.readAllStandardOutput();
    }
    QVERIFY2(out.contains("progress: Program flash"), out.constData());
    QCOMPARE(::kill(pid_t(process.processId()), signalNumber), 0);
    QVERIFY(process.waitForFinished(60000));
    out += process.readAllStandardOutput();
    const QString sErr = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY2(sErr.contains(QStringLiteral("error: Program flash: Canceled from user!")), qPrintable(sErr));
    QVERIFY2(out.contains("- cancelled\n"), out.constData());
    QVERIFY(!out.contains("state: Update finished"));

    // The port was closed cleanly: the drive is reachable again at once.
    const Result probe = runCli({QStringLiteral("probe"), QStringLiteral("--port"), drive.portName()});
    VERIFY_RESULT(probe, 0);
    QVERIFY(drive.stop());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
