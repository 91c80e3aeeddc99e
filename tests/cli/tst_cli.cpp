// servoprog-cli end to end: every case runs the real program as a process
// against files made by srec_cat and simulated drives (servoprog-sim) or bare
// pseudo-terminals; the outcome is read from the exit status, the JSON report
// and the drives' own memory files and request logs.

#include "Pty.h"
#include "SimDrive.h"
#include "TestData.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Result
{
    int nExit = -1;
    QString sOut, sErr;
    qint64 nMs = 0;
    QString all() const { return sOut + sErr; }
};

void start(QProcess &process, const QStringList &args, const std::function<void()> &child = {})
{
    if (child)
        process.setChildProcessModifier(child);
    process.start(QStringLiteral(SERVOPROG_CLI_PATH), args);
    process.waitForStarted(10000);
    process.closeWriteChannel();
}

Result finish(QProcess &process, const QElapsedTimer &timer, int nTimeoutMs = 30000)
{
    Result result;
    if (!process.waitForFinished(nTimeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.sErr = QStringLiteral("timed out\n");
    }
    result.nMs = timer.elapsed();
    result.nExit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.sOut = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.sErr += QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

Result runCli(const QStringList &args, const std::function<void()> &child = {})
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    start(process, args, child);
    return finish(process, timer);
}

QJsonArray records(const QByteArray &report)
{
    return QJsonDocument::fromJson(report).object().value(QStringLiteral("records")).toArray();
}

QJsonArray records(const QString &sReport)
{
    return records(readFile(sReport));
}

// What is at a path, without following a link; equal descriptions: nothing
// was replaced or changed.
QString describe(const QString &sPath)
{
    struct stat st;
    if (::lstat(QFile::encodeName(sPath).constData(), &st) != 0)
        return QStringLiteral("missing");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("link to ") + QFile::symLinkTarget(sPath);
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("node %1 %2").arg(st.st_mode).arg(quint64(st.st_rdev));
    return QStringLiteral("file ") + QCryptographicHash::hash(readFile(sPath), QCryptographicHash::Sha1).toHex();
}

QMap<QString, QString> describeFolder(const QString &sFolder)
{
    QMap<QString, QString> entries;
    QDirIterator it(sFolder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString sPath = it.next();
        entries.insert(QDir(sFolder).relativeFilePath(sPath), describe(sPath));
    }
    return entries;
}

// Sends the tool a signal; never to process 0 (the test's own group) once the tool has ended.
bool signalTool(const QProcess &process, int nSignal)
{
    const pid_t nPid = pid_t(process.processId());
    return nPid > 0 && ::kill(nPid, nSignal) == 0;
}

// Signals sent to a process that it has not taken yet.
quint64 pendingSignals(qint64 nPid)
{
    const QByteArray status = readFile(QString("/proc/%1/status").arg(nPid));
    const qsizetype nAt = status.indexOf("\nShdPnd:") + 8;
    return nAt < 8 ? 0 : status.mid(nAt, status.indexOf('\n', nAt) - nAt).trimmed().toULongLong(nullptr, 16);
}

// Runs the tool as user and group 65534 (nobody).
void asNobody()
{
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        ::_exit(99);
}

// The image: 0x2F000..0x38063 (two 64 KiB sectors); blocks of 8 KiB:
// random (raw), text (compressed) twice, all FF (skipped), random tail.
const int kBase = 0x2F000;
const int kFlash = 0x40000;
const int kEeprom = 0x1000;

QByteArray eepromBytes()
{
    QByteArray bytes;
    for (int i = 0; i < kEeprom; ++i)
        bytes.append(char(i * 13));
    return bytes;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void offline_data();
    void offline();
    void runs_data();
    void runs();
    void mistakes_data();
    void mistakes();
    void parallelDrives();
    void whileProgramming_data();
    void whileProgramming();

private:
    // A drive with a 256 KiB flash of zeros per device and 4 KiB EEPROMs.
    bool startDrive(SimDrive &drive, const QStringList &extra = {});
    QString path(const QString &sName) const { return m_dir.filePath(sName); }
    QByteArray programmed() const; // flash0 after programming the image

    QTemporaryDir m_dir;
    QByteArray m_image;
    QString m_sImage;
    int m_nFirstPiece = 0; // request number of the first data piece in an undisturbed run
    int m_nRequests = 0;
};

QByteArray TestCli::programmed() const
{
    QByteArray flash(kFlash, '\0');
    flash.replace(0x20000, 0x20000, QByteArray(0x20000, '\xff'));
    return flash.replace(kBase, m_image.size(), m_image);
}

bool TestCli::startDrive(SimDrive &drive, const QStringList &extra)
{
    QStringList args{"--flash-size", "256K", "--eeprom-size", "4K"};
    for (const char *sMemory : {"flash0", "flash1", "eeprom", "eeprom1"}) {
        const QString sName = QString::fromLatin1(sMemory);
        args << "--" + sName
             << drive.writeFile(sName + ".bin", sName.startsWith('f') ? QByteArray(kFlash, '\0') : eepromBytes());
    }
    return drive.start(args + extra);
}

void TestCli::initTestCase()
{
    if (!SimDrive::isSupported())
        QSKIP("the simulated drive needs a POSIX system");
    QVERIFY(m_dir.isValid());
    m_image = randomBytes(0x2000, 20261207);
    while (m_image.size() < 0x6000)
        m_image.append("servo drive line test; ");
    m_image.truncate(0x6000);
    m_image.append(QByteArray(0x2000, '\xff') + randomBytes(0x1064, 20261208));
    QVERIFY(writeImageFile(m_sImage = path("image.hex"), {{kBase, m_image}}));

    // One undisturbed run tells where the first data piece falls, which a
    // fault then aims at.
    SimDrive drive;
    QVERIFY2(startDrive(drive), qPrintable(drive.errorString()));
    QCOMPARE(runCli({"program", "--port", drive.portName(), "--boot", "mon", "--flash0", m_sImage}).nExit, 0);
    QVERIFY(drive.stop());
    QVERIFY(readFile(drive.filePath("flash0.bin")) == programmed());
    const QList<SimDrive::LogEntry> entries = drive.logEntries();
    m_nRequests = int(entries.size());
    for (const SimDrive::LogEntry &entry : entries)
        m_nFirstPiece = m_nFirstPiece ? m_nFirstPiece : entry.nIndex == 0x5E12 ? entry.nRequest : 0;
    QVERIFY(m_nFirstPiece > 0);
}

// ---- Without a drive: usage errors, files, help -----------------------------

void TestCli::offline_data()
{
    QTest::addColumn<QString>("args"); // split at spaces; IMAGE: the test image, SAMPLE: the bundled sample
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("text"); // in stdout or stderr

    auto row = [](const char *sArgs, int nExit, const QString &sText) {
        QTest::newRow(sArgs) << QString::fromLatin1(sArgs) << nExit << sText;
    };
    row("", 2, "no command");
    row("flash", 2, "unknown command 'flash'\nRun");
    row("help eeprom-save", 2, "unknown command 'eeprom-save'\nRun"); // three mistakes from eeprom-erase: no guess
    row("convert a b c", 2, "unexpected argument 'c'");
    row("probe", 2, "--port DEV is required");
    row("probe --port /dev/null --baud 12345", 2, "'12345'");
    row("probe --port usb:12345:1", 2, "usb:12345:1 is not a USB identity");
    row("program --port /dev/null", 2, "--flash0 IMAGE");
    row("program --port /dev/null --boot on --flash0 SAMPLE", 2, "'on'");
    row("program --port /dev/null --baud 0x1C200x --flash0 SAMPLE", 2, "'0x1C200x'");
    row("program --port /dev/null --wake-timeout -1 --flash0 SAMPLE", 2, "--wake-timeout");
    row("program --port /dev/null --retries 11 --flash0 SAMPLE", 2, "--retries: '11'");
    row("program --port /dev/null --retries 10 --boot mon --flash0 SAMPLE", 1, "/dev/null is not a serial device");
    row("erase --port COM7 --port com7 --flash0", 2, "port COM7 given more than once (also as com7)");
    row("program --port /dev/null --port /dev/null --flash0 SAMPLE", 2, "port /dev/null given more than once");
    row("erase --port /dev/null --flash0 --flash1", 2, "exactly one of --flash0 and --flash1");
    row("erase --ports-from /nonexistent/ports --flash0", 2, "--ports-from: /nonexistent/ports");
    row("read --port /dev/null --port /dev/zero --flash0 out.srec", 2, "give exactly one --port");
    row("read --port /dev/null --flash0 --offset 0x4g out.srec", 2, "--offset");
    row("read --port /dev/null --flash1 --length 0 out.srec", 2, "--length: '0' is not a positive byte count");
    row("read --port /dev/null --flash0", 2, "missing argument");
    row("eeprom-erase --port /dev/null --flash0", 2, "error: unknown option '--flash0'\nRun");
    row("prgoram", 2, "unknown command 'prgoram'; did you mean 'program'?\n"); // two mistakes
    row("help eeprom-reed", 2, "did you mean 'eeprom-read'?");
    row("program --port /dev/null --flsh0 SAMPLE", 2, "unknown option '--flsh0'; did you mean '--flash0'?\n");
    row("read --flash0 out.srec --port", 2, "error: missing value after '--port'\n");
    row("help read", 0, "(see \"ports\")\n  --baud RATE"); // one drive: no second --port, no --ports-from
    row("help info", 0, "/servoprog/samples/servo-fw-sample.hex\n");
    row("info SAMPLE", 0, "Lowest:   0x400000\n");
    row("info  SAMPLE", 0, "Firmware information:\n  SRV-FPGA-HW3\n  FW 2.14.0\n");
    row("info IMAGE", 0, "Highest:  0x38063\n");
    row("eeprom-read --help", 0, "Usage: servoprog-cli eeprom-read");
    row("--help", 0, "\n  eeprom-write");
    row("ports", 0, "give them to --port as they are.\n");
}

void TestCli::offline()
{
    QFETCH(QString, args);
    QFETCH(int, exit);
    QFETCH(QString, text);
    args.replace("SAMPLE", SERVOPROG_SAMPLE_IMAGE).replace("IMAGE", m_sImage);
    const Result result = runCli(args.split(' ', Qt::SkipEmptyParts));
    QVERIFY2(result.nExit == exit, qPrintable(result.all()));
    QVERIFY2(result.all().contains(text), qPrintable(result.all()));
}

// ---- Whole runs against one drive ------------------------------------------

// Each row: commands run in turn (all but the last must succeed), then the
// last one's exit status, messages and report, and the memory named checked
// byte for byte against what the commands must have left there.
void TestCli::runs_data()
{
    QTest::addColumn<QString>("device");   // simulator options; "pty": a bare terminal, "none": no port
    QTest::addColumn<QString>("image"); // "LOW HIGH TEXT": srec_cat -generate ... -repeat-string (a trailing "|cut":
                                        // its end record gone); "": the test image
    QTest::addColumn<QString>("commands"); // "; "-separated; DRIVE: --port PORT --boot mon; IMAGE OUT REPORT
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("texts");  // "|"-separated, in the last command's output
    QTest::addColumn<QString>("report"); // key=value of the last command's first record
    QTest::addColumn<QString>("memory"); // MEMORY=image (programmed) or MEMORY=FF:A:L (erased); the row's image added
                                         // (MEMORY=IN:A:L: only its bytes in that range)
    auto row = [](const char *sName, const char *sDevice, const char *sImage, const QString &sCommands, int nExit,
                  const QString &sTexts, const QString &sReport, const char *sMemory) {
        QTest::newRow(sName) << sDevice << sImage << sCommands << nExit << sTexts << sReport << sMemory;
    };
    const QString program = "program DRIVE --report REPORT --flash0 IMAGE";
    row("program, read back, again skipping what is there", "", "",
        program + "; read DRIVE --flash0 --offset 0x2F000 --length 0x9064 OUT; " + program + " --skip-unchanged", 0, "",
        "result=ok bytes=0 sectorsErased=0 sectorsSkipped=2", "flash0=image");
    row("flash1 powered off, uncompressed", "--powered-off", "",
        "program --port PORT --boot off --wake-timeout 5 --no-compress --report REPORT --flash1 IMAGE", 0, "",
        "result=ok blocksCompressed=0 blocksRaw=4 blocksSkipped=1", "flash1=image");
    row("program over a sector erased before", "", "",
        "erase DRIVE --flash0 --offset 0x20000 --length 0x10000; " + program, 0,
        "sectors 2 checked/1 erased/0 skipped,", "sectorsChecked=2 sectorsErased=1", "flash0=image");
    row("read from an offset to the end", "", "0x3C000 0x40000 end of flash ",
        program + "; read DRIVE --flash0 --offset 0x3C000 OUT", 0, "", "", "flash0=FF:0x30000:0x10000");
    row("eeprom1, 300 bytes at 0x100", "", "0x100 0x22C parameter set ",
        "eeprom-write DRIVE --eeprom1 --offset 0x100 --length 300 IMAGE; "
        "eeprom-read DRIVE --eeprom1 --offset 256 --length 0x12c OUT",
        0, "EEPROM1 read out.srec: 300 bytes read|(300 B of 300 B)", "", "eeprom1=");
    row("eeprom0 from an offset to the end", "", "0xF00 0x1000 last page ",
        "eeprom-write DRIVE --eeprom0 --offset 0xF00 IMAGE; eeprom-read DRIVE --eeprom0 --offset 0xF00 OUT", 0, "", "",
        "eeprom=");
    row("eeprom erase", "", "", "eeprom-erase DRIVE --eeprom0 --offset 0x100 --length 256", 0, "", "",
        "eeprom=FF:0x100:0x100");
    row("eeprom0, a range that cuts records", "", "0 0x1000 parameter set ",
        "eeprom-write DRIVE --eeprom0 --offset 0x110 --length 0x100 --report REPORT IMAGE", 0, "",
        "result=ok bytes=256 imageMessages=IMAGE:2: hex2bin warning: 119 data record(s) outside the address window "
        "0x110-0x20f were dropped",
        "eeprom=IN:0x110:0x100");
    row("eeprom1, its last byte alone", "", "0 0x1000 parameter set ",
        "eeprom-write DRIVE --eeprom1 --offset 0xFFF --length 1 IMAGE", 0, "", "", "eeprom1=IN:0xFFF:1");
    row("an image cut short, written as it is", "", "0x30 0x3200 end of flash |cut",
        "program DRIVE --allow-incomplete --flash1 IMAGE", 0,
        "warning: IMAGE: the image is incomplete (it has no end-of-file record (type 01)); written as it is",
        "", "flash1=FF:0:0x10000");
    row("an image cut short, refused", "", "0x30 0x3200 end of flash |cut", "program DRIVE --flash1 IMAGE", 1,
        ": hex2bin warning: no end-of-file record; the image is incomplete\n|error: IMAGE: the image is "
        "incomplete: it has no end-of-file record (type 01); nothing written. If the file is known to lack its end "
        "record, give --allow-incomplete",
        "", "flash1=");
    row("convert near 4 GiB, read again", "none", "0xFFFE0000 0xFFFE3000 servo drive ", "convert IMAGE OUT; info OUT",
        0, "Lowest:   0xfffe0000\n|Highest:  0xfffe2fff\n", "", "");
    row("probe, monitor at 57600", "--baud 57600", "", "probe --port PORT --baud 0x9600", 0,
        "Detected rate: 57600\n|Working rate:  38400\n|Ident 1:", "", "");
    row("drive busy", "--fault busy:12:203", "", "read DRIVE --flash1 --length 0x20000 OUT", 1,
        "Service cannot be carried out due to device status", "", "");
    row("missing image", "", "", "program DRIVE --flash1 /nonexistent/fw.hex", 1, "/nonexistent/fw.hex: no such file",
        "", "flash1=");

    // Connection faults: the tool names the step it failed in, soon.
    const QString sDetecting = "Connect: Communication timeout error (driver)\n  Failed while detecting the rate.\n";
    row("silent line", "pty", "", "probe --port PORT", 1, sDetecting, "", "");
    row("wake time-out", "pty", "", "erase --port PORT --boot off --wake-timeout 1 --flash1", 1, "Init boot monitor",
        "", "");
    row("usb identity of no converter", "none", "", "program --port usb:ffff:fffe --boot mon --flash0 IMAGE", 1,
        "error: --port usb:ffff:fffe: no such port", "", "");
    row("port the user may not open", "pty nobody", "", "program DRIVE --flash0 SAMPLE", 1,
        "Connect: Error initializing serial device driver\n  PORT: permission denied. |the udev rule /|"
        "/lib/udev/rules.d/70-servoprog.rules that the package installs (replug the converter afterwards; see /|"
        "/share/doc/servoprog/docs/install.md)",
        "", "");

    // Retries: by default a lost answer is asked again, and the connection
    // looks for the rate again; --retries 0 repeats nothing. Which requests
    // are never repeated is the worker's tests' business.
    auto retry = [&](const char *sName, const char *sFault, const QString &sOptions, int nRetries) {
        const bool bOk = sName[0] != '!';
        row(bOk ? sName : sName + 1, sFault, "", program + sOptions, bOk ? 0 : 1, "",
            bOk ? QString("result=ok retries=%1").arg(nRetries) : "result=failed retries=0 statusCode=101",
            bOk ? "flash0=image" : "");
    };
    retry("dropped data piece", "--fault drop:@piece", "", 1);
    retry("!no repeats with --retries 0", "--fault drop:@piece", " --retries 0", 0);
    retry("garbled answer to the rate switch", "--fault corrupt:3", "", 0);
    retry("dropped probe at the new rate", "--fault drop:4", "", 0);
    retry("!garbled rate switch with --retries 0", "--fault corrupt:3", " --retries 0", 0);
}

void TestCli::runs()
{
    QFETCH(QString, device);
    QFETCH(QString, image);
    QFETCH(QString, commands);
    QFETCH(int, exit);
    QFETCH(QString, texts);
    QFETCH(QString, report);
    QFETCH(QString, memory);

    SimDrive drive;
    Pty pty;
    const bool bNobody = device.endsWith("nobody");
    if (bNobody && ::getuid() != 0)
        QSKIP("needs root to run the tool as another user");
    // A checkout in a private folder (root's home) keeps the other user from the tool itself.
    for (QFileInfo file(SERVOPROG_CLI_PATH); bNobody && !file.isRoot(); file = QFileInfo(file.absolutePath()))
        if (!file.permissions().testFlag(QFileDevice::ExeOther))
            QSKIP(qPrintable(file.filePath() + " may not be entered by other users: the tool cannot run as one"));
    QMap<QString, QString> words{{"PORT", pty.path()},
                                 {"IMAGE", image.isEmpty() ? m_sImage : drive.filePath("image.hex")},
                                 {"OUT", drive.filePath("out.srec")},
                                 {"REPORT", drive.filePath("report.json")},
                                 {"SAMPLE", SERVOPROG_SAMPLE_IMAGE}};
    if (!device.startsWith("pty") && device != "none") {
        device.replace("@piece", QString::number(m_nFirstPiece));
        QVERIFY2(startDrive(drive, device.split(' ', Qt::SkipEmptyParts)), qPrintable(drive.errorString()));
        words["PORT"] = drive.portName();
    }
    const QByteArray earlier("S00600004844521B\n"); // an earlier result under the output name
    QVERIFY(writeFile(words["OUT"], earlier));
    if (!image.isEmpty()) {
        QCOMPARE(runTool("srec_cat", {"-generate", image.section(' ', 0, 0), image.section(' ', 1, 1), "-repeat-string",
                                      image.section(' ', 2).section('|', 0, 0), "-o", words["IMAGE"], "-intel"}),
                 0);
        if (image.endsWith("|cut"))
            QVERIFY(writeFile(words["IMAGE"], readFile(words["IMAGE"]).chopped(QByteArray(":00000001FF\n").size())));
    }
    Result result;
    const QStringList steps = commands.split("; ");
    for (int i = 0; i < steps.size(); ++i) {
        QStringList args =
            // Earlier commands leave the drive at 9600 baud, where the next
            // one's rate scan finds it at once.
            QString(steps.at(i))
                .replace("DRIVE",
                         i + 1 < steps.size() ? "--port PORT --boot mon --baud 9600" : "--port PORT --boot mon")
                .split(' ', Qt::SkipEmptyParts);
        for (QString &sArg : args)
            sArg = words.value(sArg, sArg);
        result = runCli(args, bNobody ? asNobody : std::function<void()>());
        QVERIFY2(result.nExit == (i + 1 < steps.size() ? 0 : exit), qPrintable(args.join(' ') + '\n' + result.all()));
    }
    // Nothing the tool is given may hold it: a dead line is given up on in seconds.
    QVERIFY2(result.nMs < 8000, qPrintable(QString::number(result.nMs)));
    for (QString sText : texts.split('|', Qt::SkipEmptyParts))
        QVERIFY2(result.all().contains(sText.replace("PORT", words["PORT"]).replace("IMAGE", words["IMAGE"])),
                 qPrintable(result.all()));
    const QJsonObject record = records(words["REPORT"]).at(0).toObject();
    // A field's value runs to the next " key=" (a list's entries joined by "|").
    for (const QString &sField : report.replace("IMAGE", words["IMAGE"]).split(QRegularExpression(" (?=\\w+=)"), Qt::SkipEmptyParts)) {
        const QJsonValue value = record.value(sField.section('=', 0, 0));
        const QString sValue = value.isArray() ? value.toVariant().toStringList().join('|') : value.toVariant().toString();
        QCOMPARE(sField.section('=', 0, 0) + '=' + sValue, sField);
    }
    if (drive.isRunning())
        QVERIFY(drive.stop());

    // A read's result is the image, to srecord; a failure leaves the earlier file.
    if (exit != 0 || readFile(words["OUT"]) == earlier)
        QCOMPARE(readFile(words["OUT"]), earlier);
    else
        QCOMPARE(runTool("srec_cmp", {words["IMAGE"], "-intel", words["OUT"]}), 0);
    if (memory.isEmpty())
        return;
    const QString expect = memory.section('=', 1);
    QByteArray expected = memory.startsWith('f') ? QByteArray(kFlash, '\0') : eepromBytes();
    const int nOffset = expect.section(':', 1, 1).toInt(nullptr, 16),
              nLength = expect.section(':', 2, 2).toInt(nullptr, 16);
    if (expect == "image")
        expected = programmed();
    else if (expect.startsWith("FF:"))
        expected.replace(nOffset, nLength, QByteArray(nLength, '\xff'));
    if (!image.isEmpty() && exit == 0) { // the row's image, at its own addresses
        const int nLow = image.section(' ', 0, 0).toInt(nullptr, 16);
        QCOMPARE(runTool("srec_cat", {words["IMAGE"], "-intel", "-offset", QString::number(-nLow), "-o",
                                      drive.filePath("image.bin"), "-binary"}),
                 0);
        const QByteArray bytes = readFile(drive.filePath("image.bin"));
        if (expect.startsWith("IN:"))
            expected.replace(nOffset, nLength, bytes.mid(nOffset - nLow, nLength));
        else
            expected.replace(nLow, bytes.size(), bytes);
    }
    QVERIFY(readFile(drive.filePath(memory.section('=', 0, 0) + ".bin")) == expected);
}

// ---- Operator mistakes -----------------------------------------------------

// Each ends with its message and exit status, the drive's memory and every
// file as they were (or exactly as asked), and no run waits for ever.
void TestCli::mistakes_data()
{
    // dir:D link:L=TARGET hardlink:L=TARGET chain:N=TARGET (links c1 -> c2 ... cN -> TARGET) portfd:N (the
    // tool's descriptor N on the port) fifo:F fifo-reader:F text:F=BYTES interrupt:SIGNAL; in them PORT is the
    // port, PORTREL the port relative to the row's folder, PORTDIR the port's folder
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QStringList>("device");
    QTest::addColumn<QString>("args"); // PORT, PORTNAME (its last part), @NAME (a file of the row)
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("message");     // PORT, @NAME as in args
    QTest::addColumn<QString>("drive");       // untouched, unwritten (read at most) or programmed
    QTest::addColumn<QStringList>("changed"); // files the command may create or change

    using L = QStringList;
    const QString program = "program --port PORT --boot mon --flash0 @fw.hex ";
    const QString read = "read --port PORT --boot mon --flash0 --offset 0x2F000 --length 4096 ";
    const QString eeprom = "eeprom-write --port PORT --boot mon --eeprom0 ";
    const L none;
    auto row = [](const char *sName, const L &setup, const QString &sArgs, int nExit, const QString &sMessage,
                  const char *sDrive, const L &changed = {}) {
        QTest::newRow(sName) << setup << L{} << sArgs << nExit << sMessage << sDrive << changed;
    };
    row("eeprom-write a flash image", none, eeprom + "@fw.hex", 1,
        "fw.hex holds 36964 data bytes beyond the end of the EEPROM (0xfff)", "unwritten");
    row("eeprom-write a flash image into a given range", none, eeprom + "--length 4096 @fw.hex", 1,
        "none of its 36964 data bytes (at 0x2f000..0x38063) lies inside the EEPROM range 0x0..0xfff", "untouched");
    // The range's start counts too: data that end one byte before --offset write nothing of their own.
    row("eeprom-write a file whose data lie below the range", {"text:low.hex=:0400000001020304F2\n:00000001FF\n"},
        eeprom + "--offset 4 --length 16 @low.hex", 1,
        "none of its 4 data bytes (at 0x0..0x3) lies inside the EEPROM range 0x4..0x13", "untouched");
    row("eeprom-write a file without data", {"text:empty.srec=S0030000FC\nS9030000FC\n"}, eeprom + "@empty.srec", 1,
        "empty.srec: the file holds no data; nothing written", "untouched");
    row("convert over an existing file", {"text:bad.hex=:0400000001020304F2\n:00000001FE\n", "text:out.srec=keep"},
        "convert @bad.hex @out.srec", 1, "bad.hex:2: hex2bin error: crc checksum error\n", "untouched");
    row("info of an image cut short", {"text:cut.hex=:0400000001020304F2\n"}, "info @cut.hex", 0,
        "cut.hex:1: hex2bin warning: no end-of-file record; the image is incomplete", "untouched");
    row("convert an image cut short", {"text:cut.hex=:0400000001020304F2\n"}, "convert @cut.hex @out.srec", 1,
        "cut.hex: the image is incomplete: it has no end-of-file record (type 01)", "untouched");
    row("two images, the second with a bad record", {"text:bad.hex=:0400000001020304F2\n:0400040005060708DF\n"},
        program + "--flash1 @bad.hex", 1, "bad.hex:2: hex2bin error: crc checksum error\n", "untouched");
    row("two images joined with cat", {"text:both.hex=:0400000001020304F2\n:00000001FF\n:0400100001020304E2\n"},
        "program --port PORT --boot mon --allow-incomplete --flash0 @both.hex", 1,
        "both.hex:3: hex2bin warning: data records follow the end-of-file record of line 2; they were not read\n"
        "error: ",
        "untouched");
    row("eeprom-write an image with a byte given twice",
        {"text:twice.hex=:0400000001020304F2\n:0100020009F4\n:00000001FF\n"}, eeprom + "@twice.hex", 1,
        "twice.hex:2: hex2bin error: address 0x2 is given twice with different values (0x03 in line 1, 0x09 here)",
        "untouched");
    row("report over the image through a hard link", {"hardlink:fw-hard.hex=fw.hex"},
        program + "--report @fw-hard.hex", 2, "--flash0 and --report name the same file", "untouched");
    row("log over the image through a chain of relative links", {"dir:sub", "link:sub/a.hex=../fw.hex",
        "link:b.hex=sub/a.hex"}, program + "--log @b.hex", 2, "--flash0 and --log name the same file", "untouched");
    row("two outputs, one through a link to a file yet to come", {"link:new.srec=later.srec"},
        read + "@new.srec --report @later.srec", 2, "--report and OUT.srec name the same file", "untouched");
    row("the image through a link", {"link:fw-link.hex=fw.hex"}, "program --port PORT --boot mon --flash0 @fw-link.hex",
        0, "", "programmed");
    row("read back to standard output, a pipe", none, read + "/dev/stdout", 0, "", "unwritten");
    // The system follows at most 40 links in a row.
    row("read through a chain of 40 links", {"chain:40=out.srec"}, read + "@c1", 0, "", "unwritten", {"out.srec"});
    row("read through a chain of 41 links", {"chain:41=out.srec"}, read + "@c1", 1,
        "@c1: too many levels of symbolic links", "untouched");
    row("report over the read-back, spelt with .. and a link", {"dir:sub", "link:here=."},
        read + "@out.srec --report @sub/../here/out.srec", 2, "--report and OUT.srec name the same file", "untouched");
    row("read and report to /dev/null", none, read + "/dev/null --report /dev/null", 0, "", "unwritten");
    // A FIFO is opened before the drive is touched and held until written: its reader, reading as cat
    // does, gets the whole output.
    row("read to a FIFO with a reader", {"fifo-reader:out.fifo"}, read + "@out.fifo", 0, "", "unwritten");
    row("report to a FIFO with a reader", {"fifo-reader:out.fifo"}, read + "/dev/null --report @out.fifo", 0, "",
        "unwritten");
    const QString sNoReader = "@out.fifo is a FIFO that nobody reads";
    row("read to a FIFO without a reader", {"fifo:out.fifo"}, read + "@out.fifo", 1, sNoReader, "untouched");
    row("report to a FIFO without a reader", {"fifo:out.fifo"}, program + "--report @out.fifo", 1,
        "--report: " + sNoReader, "untouched");
    // The drive's line is neither an input nor an output, however spelt.
    const QString sPort = " is the port PORT; a port is the drive's line, neither an input nor an output";
    row("read back onto the port spelt with ..", none, read + "/dev/..PORT", 2, "read: OUT.srec /dev/..PORT" + sPort,
        "untouched");
    row("report onto the port through a link", {"link:by-id=PORT"}, program + "--report @by-id", 2,
        "program: --report @by-id" + sPort, "untouched");
    row("log onto the port through a relative link", {"link:by-path=PORTREL"}, program + "--log @by-path", 2,
        "program: --log @by-path" + sPort, "untouched");
    row("report onto the port through /dev/fd", {"portfd:7"}, program + "--report /dev/fd/7", 2,
        "--report /dev/fd/7" + sPort, "untouched");
    row("log onto the port through /proc/self/fd", {"portfd:7"}, program + "--log /proc/self/fd/7", 2,
        "--log /proc/self/fd/7" + sPort, "untouched");
    row("the port as EEPROM image", none, eeprom + "PORT", 2, "eeprom-write: IMAGE" + sPort, "untouched");
    row("read back onto the port given through a link", {"link:by-id=PORT"},
        "read --port @by-id --boot mon --flash0 --length 16 PORT", 2,
        "read: OUT.srec is the port @by-id (PORT); a port is the drive's line", "untouched");
    row("log onto a port from --ports-from", {"text:ports.txt=PORT # bench 1\n"},
        "erase --ports-from @ports.txt --boot mon --flash0 --log PORT", 2, "erase: --log" + sPort, "untouched");
    row("read into a directory", {"dir:sub"}, read + "@sub", 1, "sub is a directory", "untouched");
    row("read through a link into a missing folder", {"link:back.srec=nowhere/target.srec"}, read + "@back.srec", 1,
        "back.srec: cannot be created, the folder ", "untouched");
    row("a FIFO as image", {"fifo:in.fifo"}, "program --port PORT --boot mon --flash0 @in.fifo", 1,
        "in.fifo is not a regular file (it is a FIFO", "untouched");
    row("a FIFO as list of ports", {"fifo:in.fifo"}, "erase --ports-from @in.fifo --flash0", 2,
        "in.fifo is not a regular file", "untouched");
    row("ports file without ports", {"text:ports.txt=# bench 4: none yet\n\n"},
        "erase --ports-from @ports.txt --flash0", 2, "erase: --ports-from @ports.txt holds no port", "untouched");
    // Addresses and lengths up to 0x7fffffff; beyond, the number is named too large.
    row("offset the largest address", none, "read --port PORT --boot mon --flash0 --offset 0x7fffffff @out.srec", 1,
        "error: Flash read: Offset/length exceeds flash address range!", "unwritten");
    row("offset one past the largest address", none, "read --port PORT --boot mon --flash0 --offset 0x80000000 @o.srec",
        2, "--offset: '0x80000000' is too large (at most 0x7fffffff)", "untouched");
    row("offset beyond 64 bits", none, "erase --port PORT --flash1 --offset 18446744073709551616", 2,
        "--offset: '18446744073709551616' is too large", "untouched");
    row("length one past the largest count", none, "eeprom-erase --port PORT --eeprom0 --length 2147483648", 2,
        "--length: '2147483648' is too large (at most 0x7fffffff bytes)", "untouched");
    row("one port through a linked folder", {"link:pts=PORTDIR"}, program + "--port @pts/PORTNAME", 2,
        "given more than once (also as ", "untouched");
    row("an empty port beside a real one", none, program + "--port=", 2, "--port with an empty port name", "untouched");
    row("log to a full disk", none, program + "--log /dev/full", 1, "--log: /dev/full: No space left on device",
        "programmed");
    row("report to a full disk", none, program + "--report /dev/full", 1,
        "--report: /dev/full: No space left on device", "programmed");
    // The drive answers only at the last rate of the scan: Ctrl-C comes while
    // the tool looks for it.
    QTest::newRow("cancel during the rate scan")
        << L{"interrupt:2"} << L{"--baud", "921600"} << program << 1 << "error: Erase flash: Canceled from user!"
        << "unwritten" << none;
    QTest::newRow("hang-up during the rate scan") << L{"interrupt:1"} << L{"--baud", "921600"} << program << 1
                                                  << "Hang-up (the terminal or session was closed): cancelling"
                                                  << "unwritten" << none;
}

void TestCli::mistakes()
{
    QFETCH(QStringList, setup);
    QFETCH(QStringList, device);
    QFETCH(QString, args);
    QFETCH(int, exit);
    QFETCH(QString, message);
    QFETCH(QString, drive);
    QFETCH(QStringList, changed);

    QTemporaryDir dir(path("row-XXXXXX"));
    QVERIFY(dir.isValid());
    QVERIFY(QFile::copy(m_sImage, dir.filePath("fw.hex")));
    SimDrive sim;
    QVERIFY2(startDrive(sim, device), qPrintable(sim.errorString()));

    int nSignal = 0;
    int nFifo = -1;           // the FIFO's reader
    int nPortDescriptor = -1; // the tool starts with this descriptor open on the port
    for (const QString &sStep : setup) {
        const QString sWhat = sStep.section(':', 0, 0);
        const QString sArg = sStep.section(':', 1)
                                 .replace("PORTDIR", QFileInfo(sim.portName()).absolutePath())
                                 .replace("PORTREL", QDir(dir.path()).relativeFilePath(sim.portName()))
                                 .replace("PORT", sim.portName());
        const QString sName = dir.filePath(sArg.section('=', 0, 0));
        if (sWhat == "dir")
            QVERIFY(QDir(dir.path()).mkpath(sArg));
        else if (sWhat == "link")
            QVERIFY(QFile::link(sArg.section('=', 1), sName));
        else if (sWhat == "hardlink")
            QCOMPARE(::link(QFile::encodeName(dir.filePath(sArg.section('=', 1))).constData(),
                            QFile::encodeName(sName).constData()),
                     0);
        else if (sWhat == "chain")
            for (int i = 1, n = sArg.section('=', 0, 0).toInt(); i <= n; ++i)
                QVERIFY(QFile::link(i < n ? QString("c%1").arg(i + 1) : sArg.section('=', 1),
                                    dir.filePath(QString("c%1").arg(i))));
        else if (sWhat == "portfd")
            nPortDescriptor = sArg.toInt();
        else if (sWhat == "text")
            QVERIFY(writeFile(sName, sArg.section('=', 1).toUtf8()));
        else if (sWhat.startsWith("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(sName).constData(), 0644), 0);
        if (sWhat == "fifo-reader")
            nFifo = ::open(QFile::encodeName(sName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        nSignal = sWhat == "interrupt" ? sArg.toInt() : nSignal;
    }
    QStringList argv = args.split(' ', Qt::SkipEmptyParts);
    for (QString &sArg : argv) {
        if (sArg.startsWith('@'))
            sArg = dir.filePath(sArg.mid(1));
        sArg.replace("PORTNAME", QFileInfo(sim.portName()).fileName()).replace("PORT", sim.portName());
    }
    message.replace("PORT", sim.portName()).replace(QRegularExpression("@([^ ;()]+)"), dir.path() + "/\\1");
    const QMap<QString, QString> before = describeFolder(dir.path());
    const QString sDevicesBefore = describe("/dev/null") + describe("/dev/full");

    QProcess process;
    QElapsedTimer timer;
    timer.start();
    const QByteArray port = QFile::encodeName(sim.portName());
    start(process, argv, [port, nPortDescriptor]() {
        if (nPortDescriptor >= 0)
            ::dup2(::open(port.constData(), O_RDWR | O_NOCTTY), nPortDescriptor);
    });
    if (nSignal) {
        QDeadlineTimer deadline(10000);
        while (!sim.logLines().join('\n').contains("reason=rate") && !deadline.hasExpired())
            QTest::qWait(10);
        QVERIFY(signalTool(process, nSignal));
    }
    // The FIFO's reader reads as cat does: until every writer has closed it (or the tool has ended
    // without opening it), then it goes away.
    QByteArray received;
    for (bool bEnded = false; nFifo >= 0;) {
        pollfd ready{nFifo, POLLIN, 0};
        char buffer[4096];
        const ssize_t nRead = ::poll(&ready, 1, 10) == 1 ? ::read(nFifo, buffer, sizeof buffer) : -1;
        if (nRead > 0)
            received.append(buffer, int(nRead));
        else if (nRead == 0 || bEnded) {
            ::close(nFifo);
            nFifo = -1;
        } else
            bEnded = process.state() == QProcess::NotRunning || process.waitForFinished(0);
    }
    const Result result = finish(process, timer, 15000);
    QVERIFY2(result.nExit == exit, qPrintable(QString::number(result.nExit) + result.sErr));
    QVERIFY2(result.sErr.contains(message), qPrintable(result.sErr));
    QVERIFY(sim.stop());

    QMap<QString, QString> after = describeFolder(dir.path());
    for (const QString &sName : changed) {
        QVERIFY2(after.value(sName).startsWith("file "), qPrintable(sName));
        after.remove(sName);
    }
    QCOMPARE(after, before);
    QCOMPARE(describe("/dev/null") + describe("/dev/full"), sDevicesBefore);
    // The whole output went through the FIFO: the report, or the read-back's 256 records of 16 bytes.
    if (!setup.filter("fifo-reader").isEmpty())
        QVERIFY2(received.startsWith('{')
                     ? records(received).at(0).toObject().value("result") == "ok"
                     : received.startsWith("S0030000FC\n") && received.count('\n') == 2 + 4096 / 16,
                 received.constData());

    QVERIFY(readFile(sim.filePath("flash0.bin")) == (drive == "programmed" ? programmed() : QByteArray(kFlash, '\0')));
    QVERIFY(readFile(sim.filePath("flash1.bin")) == QByteArray(kFlash, '\0'));
    QVERIFY(readFile(sim.filePath("eeprom.bin")) == eepromBytes()
            && readFile(sim.filePath("eeprom1.bin")) == eepromBytes());
    const QList<SimDrive::LogEntry> requests = sim.logEntries();
    const QStringList kWrites{"flash-erase", "flash-program", "eeprom-write"};
    QVERIFY2(drive != "untouched" || requests.isEmpty(), qPrintable(requests.value(0).sLine));
    for (const SimDrive::LogEntry &entry : requests)
        QVERIFY2(drive == "programmed" || !kWrites.contains(entry.command()), qPrintable(entry.sLine));
}

// ---- Several drives ---------------------------------------------------------

// One process programs three drives; the middle one falls silent half-way.
// The table, the report and the transaction log are checked against the
// drives' own request logs and memory.
void TestCli::parallelDrives()
{
    SimDrive drives[3];
    for (int i = 0; i < 3; ++i)
        QVERIFY2(startDrive(drives[i],
                            i == 1 ? QStringList{"--fault", QString("silent:%1").arg(m_nRequests / 2)} : QStringList{}),
                 qPrintable(drives[i].errorString()));
    const QString sPorts = path("ports.txt"), sReport = path("line.json"), sLog = path("line.log");
    QVERIFY(writeFile(
        sPorts,
        QString("# bench 2\n\n  %1   # middle\n%2\n").arg(drives[1].portName(), drives[2].portName()).toUtf8()));
    const Result result = runCli({"program", "--port", drives[0].portName(), "--ports-from", sPorts, "--boot", "mon",
                                  "--report", sReport, "--log", sLog, "--flash0", m_sImage});
    QVERIFY2(result.nExit == 1, qPrintable(result.all()));
    for (SimDrive &drive : drives)
        drive.stop();

    // The table: one row per drive, in the order given.
    const QStringList table = result.sOut.mid(result.sOut.lastIndexOf("\nPort ")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(table.size(), 4);
    QVERIFY(
        table.at(0).contains(QRegularExpression("^Port +Result +Written +Erased +Skipped +On wire +Time +Message$")));
    // The transaction log: "<time> <port> <service> <object> len=N status=S rtt_us=N".
    QMap<QString, QStringList> trace;
    const QRegularExpression format("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z (\\S+) "
                                    "((?:read|write|ident) \\S+ len=\\d+ status=-?\\d+) rtt_us=\\d+$");
    for (const QString &sLine : QString::fromUtf8(readFile(sLog)).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = format.match(sLine);
        QVERIFY2(match.hasMatch(), qPrintable(sLine));
        trace[match.captured(1)] << match.captured(2);
    }
    const QJsonArray report = records(sReport);
    QCOMPARE(report.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QString sPort = drives[i].portName();
        QVERIFY2(table.at(i + 1).startsWith(sPort + ' ') && table.at(i + 1).contains(i == 1 ? " FAILED " : " ok "),
                 qPrintable(table.at(i + 1)));
        const QJsonObject record = report.at(i).toObject();
        QCOMPARE(record.value("port").toString(), sPort);
        QCOMPARE(record.value("imageSha256").toString(),
                 QCryptographicHash::hash(readFile(m_sImage), QCryptographicHash::Sha256).toHex());
        QCOMPARE(record.value("firstAddress").toInteger(), kBase);
        QCOMPARE(record.value("lastAddress").toInteger(), kBase + m_image.size() - 1);
        const QList<SimDrive::LogEntry> entries = drives[i].logEntries();
        const QStringList mine = trace.value(sPort);
        if (i == 1) {
            QVERIFY2(table.at(2).contains(" Program flash: "), qPrintable(table.at(2)));
            QCOMPARE(record.value("result").toString(), "failed");
            QCOMPARE(record.value("message").toString(), "Program flash: Communication timeout error (driver)");
            QCOMPARE(record.value("statusCode").toInt(), 101);
            // Every lost answer but the last was a repeat.
            QCOMPARE(record.value("retries").toInt(), mine.filter(" status=101").size() - 1);
            continue;
        }
        QCOMPARE(record.value("result").toString(), "ok");
        QCOMPARE(record.value("retries").toInt(-1), 0);
        QCOMPARE(record.value("sectorsErased").toInt(), drives[i].commandCount("flash-erase"));
        QCOMPARE(record.value("blocksCompressed").toInt(), drives[i].commandCount("flash-decompress"));
        QCOMPARE(record.value("blocksRaw").toInt() + record.value("blocksCompressed").toInt(),
                 drives[i].commandCount("flash-program"));
        QCOMPARE(record.value("blocksSkipped").toInt(), 1);
        qint64 nProgrammed = 0;
        QStringList seen;
        for (const SimDrive::LogEntry &entry : entries) {
            nProgrammed += entry.command() == "flash-program" ? entry.number("size") : 0;
            const QString sObject =
                entry.sService == "ident"
                    ? "-"
                    : QString("%1.%2").arg(entry.nIndex, 4, 16, QChar('0')).toUpper().arg(entry.nSubindex);
            seen
                << QString("%1 %2 len=%3 status=%4").arg(entry.sService, sObject).arg(entry.nLength).arg(entry.nStatus);
        }
        QCOMPARE(record.value("bytes").toInteger(), nProgrammed);
        QCOMPARE(mine, seen); // the transaction log holds exactly what the drive saw, in order
        QVERIFY(readFile(drives[i].filePath("flash0.bin")) == programmed());
    }
}

// Runs caught while programming (each page of the drives takes its time):
// Ctrl-C, SIGTERM or a hang-up (the terminal closed, also with the output
// pipe gone and the hang-up repeated) stops every drive after its current
// block (nothing more is programmed, each job is reported cancelled, the
// ports are closed and their locks removed, so the drives answer again at
// once); a second tool on the drive is refused before it sends a byte and the
// first run goes on to the exact image; on a terminal, progress bars are
// drawn in place, and under nohup a hang-up changes nothing.
void TestCli::whileProgramming_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("drives");
    QTest::addColumn<QString>("pageTime"); // microseconds per flash page
    QTest::newRow("Ctrl-C") << "2" << 1 << "8000";
    QTest::newRow("SIGTERM") << "15" << 1 << "8000";
    QTest::newRow("SIGHUP") << "1" << 1 << "8000";
    QTest::newRow("SIGHUP twice, the output pipe gone") << "gone 1 1" << 1 << "8000";
    QTest::newRow("Ctrl-C, every drive of a parallel run") << "2" << 2 << "8000";
    QTest::newRow("second tool on one drive") << "second" << 1 << "10000";
    QTest::newRow("progress on a terminal, under nohup") << "terminal" << 1 << "1000";
    QTest::newRow("--boot off on a running monitor") << "wake" << 1 << "0";
}

void TestCli::whileProgramming()
{
    QFETCH(QString, mode);
    QFETCH(int, drives);
    QFETCH(QString, pageTime);
    SimDrive sims[2];
    const QString sReport = path("busy.json");
    QStringList args{"program", "--boot", mode == "wake" ? "off" : "mon", "--flash0", m_sImage};
    for (int i = 0; i < drives; ++i) {
        QVERIFY2(startDrive(sims[i], {"--page-us", pageTime}), qPrintable(sims[i].errorString()));
        args << "--port" << sims[i].portName();
    }
    Pty pty;
    const QByteArray terminal = pty.pathBytes();
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    const bool bTerminal = mode == "terminal", bGone = mode.startsWith("gone");
    int output[2] = {-1, -1}; // standard output and error, when the pipe goes away
    QVERIFY(!bGone || ::pipe2(output, O_CLOEXEC) == 0);
    start(process, args + QStringList{"--report", sReport}, [terminal, bTerminal, output]() {
        if (bTerminal)
            ::dup2(::open(terminal.constData(), O_WRONLY), STDOUT_FILENO);
        std::signal(SIGHUP, bTerminal ? SIG_IGN : SIG_DFL); // as nohup leaves it, or as a shell does
        if (output[1] >= 0) {
            ::dup2(output[1], STDOUT_FILENO);
            ::dup2(output[1], STDERR_FILENO);
        }
    });
    if (bGone)
        ::close(output[1]);
    QDeadlineTimer deadline(20000);
    if (mode == "wake") { // the monitor ignores the wake pattern; the tool says once what to do
        QString sErr;
        while (!sErr.contains("--boot mon") && process.state() == QProcess::Running && !deadline.hasExpired()) {
            process.waitForReadyRead(100);
            sErr += process.readAllStandardError();
        }
        QVERIFY2(signalTool(process, SIGINT), qPrintable(sErr)); // ended before the cancel: a fault
        const Result result = finish(process, timer);
        QVERIFY2(result.nExit == 1 && (sErr + result.sErr).count("--boot mon") == 1, qPrintable(sErr + result.sErr));
        QVERIFY2(sErr.contains(QString("No answer on %1 after 10 s.").arg(sims[0].portName())), qPrintable(sErr));
        return;
    }
    while ((sims[0].commandCount("flash-program") == 0 || sims[drives - 1].commandCount("flash-program") == 0)
           && !deadline.hasExpired() && process.state() == QProcess::Running)
        QTest::qWait(10);
    QVERIFY2(process.state() == QProcess::Running, process.readAllStandardError().constData());
    // The port's lock: LCK.. and the device's name below /dev, in the first lock folder that can be used.
    QString sLock;
    for (const char *sFolder : {"/var/lock", "/run/lock", "/var/spool/locks", "/tmp", "/var/tmp"}) {
        const QString sFile = QString("%1/LCK..%2").arg(sFolder, sims[0].portName().mid(5).replace('/', '_'));
        sLock = sLock.isEmpty() && QFile::exists(sFile) ? sFile : sLock;
    }
    QVERIFY2(!sLock.isEmpty(), "no lock file found for the port");

    if (mode == "terminal") {
        QVERIFY(signalTool(process, SIGHUP));
        QByteArray screen;
        while (!process.waitForFinished(20) && !deadline.hasExpired())
            screen += pty.read(10);
        screen += pty.read(50);
        QCOMPARE(finish(process, timer).nExit, 0);
        QVERIFY(!QFile::exists(sLock));
        QVERIFY2(screen.contains("\r\033[K") && screen.contains("2/2 Program flash") && screen.contains("[########"),
                 screen.constData());
        QVERIFY(screen.contains("] 100% ") && screen.contains("Flash0 program image.hex: "));
        QVERIFY(!screen.contains("progress: "));
        return;
    }
    if (mode == "second") {
        const QString sSecond = path("second.json");
        for (const QString sBoot : {"mon", "off"}) {
            const Result refused = runCli(QStringList(args).replaceInStrings(QRegularExpression("^mon$"), sBoot)
                                          + QStringList{"--report", sSecond});
            QVERIFY2(refused.nExit == 1
                         && refused.sErr.contains(QString("%1 is in use by another program (servoprog-cli, process %2)")
                                                      .arg(sims[0].portName())
                                                      .arg(process.processId())),
                     qPrintable(refused.sErr));
            const QJsonObject record = records(sSecond).at(0).toObject();
            QCOMPARE(record.value("portError").toString(), "in-use");
            // Woken by the tool, the drive is opened before any connection step.
            QCOMPARE(record.value("connectPhase").toString(), sBoot == "mon" ? "opening" : "");
        }
        QCOMPARE(process.state(), QProcess::Running);
        QCOMPARE(finish(process, timer).nExit, 0);
        QVERIFY(sims[0].stop());
        QVERIFY(readFile(sims[0].filePath("flash0.bin")) == programmed());
        // The drive heard the first tool only, and no byte at a rate it was not running at.
        QCOMPARE(int(sims[0].logEntries().size()), m_nRequests);
        QVERIFY(sims[0].logLines().filter("- ignored").isEmpty());
        return;
    }
    for (const QString &sStep : mode.split(' ')) {
        // One signal at a time: one sent while the last still waits would be merged into it.
        QDeadlineTimer taken(5000);
        while (pendingSignals(process.processId()) && !taken.hasExpired())
            QTest::qWait(1);
        QVERIFY(sStep == "gone" ? ::close(output[0]) == 0 : signalTool(process, sStep.toInt()));
    }
    const int nBlocks[2] = {sims[0].commandCount("flash-program"), sims[drives - 1].commandCount("flash-program")};
    const Result result = finish(process, timer);
    QVERIFY2(result.nExit == 1, qPrintable(result.all()));
    QVERIFY2(!QFile::exists(sLock), qPrintable(sLock));
    QVERIFY2(bGone || result.sErr.contains("error: Program flash: Canceled from user!"), qPrintable(result.sErr));
    QVERIFY2(bGone || result.sErr.contains(drives > 1 ? "the ports have been closed." : "the port has been closed."),
             qPrintable(result.sErr));
    QVERIFY2(mode != "1" || result.sErr.contains("Hang-up (the terminal or session was closed)"),
             qPrintable(result.sErr));
    for (int i = 0; i < drives; ++i) {
        QCOMPARE(records(sReport).at(i).toObject().value("result").toString(), "cancelled");
        QVERIFY2(drives == 1
                     || result.sOut.contains(QRegularExpression(
                         QString("\n%1 +cancelled ").arg(QRegularExpression::escape(sims[i].portName())))),
                 qPrintable(result.sOut));
        // At most the block under way was finished; nothing else was sent to the flash.
        QVERIFY(sims[i].commandCount("flash-program") <= nBlocks[i] + 1);
        QCOMPARE(sims[i].commandCount("flash-erase"), 2);
        QVERIFY2(runCli({"probe", "--port", sims[i].portName()}).nExit == 0, "the port was left open");
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
