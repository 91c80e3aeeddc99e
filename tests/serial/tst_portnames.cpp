// Port names over given port lists (no converter is attached where the
// tests run): the number in a name and the order it gives, the transport a
// name selects, the identity offered for each port, the texts that name a
// drive by its converter, and the advice when a port cannot be opened.
#include "PortDiscovery.h"
#include "PortOpenError.h"
#include "PortResolver.h"
#include "TComSerial.h"

#include <QtTest>

using Status = PortResolution::Status;
using Cause = PortOpenError::Cause;

namespace {
PortDescription port(const char *sName, const char *sLocation, int nVendor = -1, int nProduct = 0,
                     const char *sSerial = "")
{
    PortDescription p;
    p.sName = QString::fromLatin1(sName);
    p.sSystemLocation = QString::fromLatin1(sLocation);
    p.bHasUsbIds = nVendor >= 0;
    p.nVendorId = uint16_t(qMax(nVendor, 0));
    p.nProductId = uint16_t(nProduct);
    p.sSerialNumber = QString::fromLatin1(sSerial);
    p.nTransport = *sLocation ? TransportKind::ComPort : TransportKind::Ftdi;
    return p;
}

// An on-board port, two single converters of one make, the two ports of a
// dual converter (one serial number), a board without a serial number, a
// converter reached through libftdi1 and one whose device the test links to.
const QVector<PortDescription> kPorts = {
    port("ttyS0", "/dev/ttyS0"),
    port("ttyUSB0", "/dev/ttyUSB0", 0x0403, 0x6001, "A9XYZ"),
    port("ttyUSB1", "/dev/ttyUSB1", 0x0403, 0x6001, "B7QRS"),
    port("ttyUSB2", "/dev/ttyUSB2", 0x0403, 0x6010, "FT4X"),
    port("ttyUSB3", "/dev/ttyUSB3", 0x0403, 0x6010, "FT4X"),
    port("ttyACM0", "/dev/ttyACM0", 0x2341, 0x0043),
    port("FTDI1", "", 0x0403, 0x6015, "DN05"),
    port("ttyV0", "/dev/zero", 0x1a86, 0x7523),
};
} // namespace

class TestPortNames : public QObject
{
    Q_OBJECT

private slots:
    void numbersAndOrder();
    void resolve_data();
    void resolve();
    void openAdvice_data();
    void openAdvice();
};

void TestPortNames::numbersAndOrder()
{
    const QStringList names{"COM12", "ttyUSB0", "/dev/pts/15", "COM3a", "tty1x2", "COM", "", "COM007"};
    QList<int> numbers;
    for (const QString &s : names)
        numbers << portNumber(s);
    QCOMPARE(numbers, (QList<int>{12, 0, 15, 0, 0, -1, -1, 7}));
    // By number; equal numbers alphabetically.
    QStringList mixed{"COM10", "ttyUSB1", "ttyS10", "ttyACM0", "ttyS1", "COM2", "ttyUSB0", "noNumber"};
    sortPortNames(mixed);
    QCOMPARE(mixed, (QStringList{"noNumber", "ttyACM0", "ttyUSB0", "ttyS1", "ttyUSB1", "COM2", "COM10", "ttyS10"}));
    QCOMPARE(baudRates(), (QVector<uint32_t>{0, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600}));
    // An FTDI name selects the FTDI transport (working rate 230400), any
    // other the COM-port one (115200); no name follows discovery.
    const QStringList transports{"ftdi12 0", "ttyUSB0 1", "/dev/FTDI3 0", " 1", " 0"};
    for (const QString &s : transports) {
        useComApi = s.endsWith('1');
        QScopedPointer<TComSerial> transport(createTransport(s.section(' ', 0, 0)));
        const bool bFtdi = transportKindFor(s.section(' ', 0, 0)) == TransportKind::Ftdi;
        QCOMPARE(transport->defaultWorkingBaudRate(), bFtdi ? 230400u : 115200u);
        QCOMPARE(bFtdi, s.startsWith('f') || s == " 0");
    }
    // Every identity leads back to its own port.
    const QStringList identities = portIdentities(kPorts);
    QCOMPARE(identities, (QStringList{"/dev/ttyS0", "usb:0403:6001:A9XYZ", "usb:0403:6001:B7QRS", "/dev/ttyUSB2",
                                      "/dev/ttyUSB3", "usb:2341:0043", "usb:0403:6015:DN05", "usb:1a86:7523"}));
    for (int i = 0; i < kPorts.size(); ++i) {
        if (identities.at(i).startsWith("usb:"))
            QCOMPARE(resolvePort(identities.at(i), kPorts).sPort, kPorts.at(i).sName);
    }
}

void TestPortNames::resolve_data()
{
    QTest::addColumn<QString>("text");       // "@name": a link of that name in a temporary folder
    QTest::addColumn<QString>("linkTarget"); // "@file": a regular file
    QTest::addColumn<Status>("status");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("candidates");
    const QStringList usb = {"ttyUSB0 (usb:0403:6001:A9XYZ)",
                             "ttyUSB1 (usb:0403:6001:B7QRS)",
                             "ttyUSB2",
                             "ttyUSB3",
                             "ttyACM0 (usb:2341:0043)",
                             "FTDI1 (usb:0403:6015:DN05)",
                             "ttyV0 (usb:1a86:7523)"};
    auto row = [](const char *sName, const char *sText, Status nStatus, const char *sPort = "",
                  const QStringList &candidates = {}, const char *sTarget = "") {
        QTest::newRow(sName) << sText << sTarget << nStatus << sPort << candidates;
    };
    row("serial, other case", "usb:a9xyz", Status::Resolved, "ttyUSB0");
    row("ids and serial", "USB:0403:6001:b7qrs", Status::Resolved, "ttyUSB1");
    row("ids, short hex", "usb:2341:43", Status::Resolved, "ttyACM0");
    row("ids, upper case", "usb:1A86:7523", Status::Resolved, "ttyV0");
    row("libftdi1 converter", "usb:0403:6015", Status::Resolved, "FTDI1");
    row("two of a make", "usb:0403:6001", Status::Ambiguous, "", usb.mid(0, 2));
    row("dual converter", "usb:FT4X", Status::Ambiguous, "", {"ttyUSB2", "ttyUSB3"});
    row("no such ids", "usb:0403:6011", Status::NoMatch, "", usb);
    row("no such serial", "usb:0403:6001:C1", Status::NoMatch, "", usb);
    for (const char *sText : {"usb:", "usb:0x403:6001", "usb:04031:6001", "usb:0403:6001:"})
        row(sText, sText, Status::Invalid);
    row("port name", "ttyUSB0", Status::Resolved, "ttyUSB0");
    row("missing device path", "/dev/ttyUSB9", Status::Resolved, "/dev/ttyUSB9");
    row("COM name", "COM3", Status::Resolved, "COM3");
    row("link to a listed port", "@by-id", Status::Resolved, "ttyV0", {}, "/dev/zero");
    row("link to another device", "@by-id", Status::Resolved, "/dev/null", {}, "/dev/null");
    row("link to a file", "@by-id", Status::NoMatch, "", {}, "@file");
    row("dangling link", "@by-id", Status::NoMatch, "", usb, "/dev/servoprog-gone");
    row("unplugged by-id link", "/dev/serial/by-id/usb-servoprog-missing-if00-port0", Status::NoMatch, "", usb);
}

void TestPortNames::resolve()
{
    QFETCH(QString, text);
    QFETCH(QString, linkTarget);
    QFETCH(Status, status);
    QFETCH(QString, port);
    QFETCH(QStringList, candidates);
    QTemporaryDir dir;
    if (text.startsWith('@')) {
        text = dir.filePath(text.mid(1));
        if (linkTarget == "@file") {
            linkTarget = dir.filePath("plain-file");
            QVERIFY(QFile(linkTarget).open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(linkTarget, text));
    }
    const PortResolution resolution = resolvePort(text, kPorts);
    QCOMPARE(resolution.nStatus, status);
    QCOMPARE(resolution.candidates, candidates);
    QCOMPARE(resolution.sPort, port);
    QCOMPARE(resolution.sMessage.isEmpty(), status == Status::Resolved);
    // A refusal names what was asked for and every candidate.
    for (const QString &s : candidates + QStringList{status == Status::Resolved ? QString() : text})
        QVERIFY2(resolution.sMessage.contains(s), qPrintable(resolution.sMessage));
}

void TestPortNames::openAdvice_data()
{
    QTest::addColumn<PortOpenError>("error");
    QTest::addColumn<QVector<PortDescription>>("ports");
    QTest::addColumn<QString>("text");
    auto error = [](Cause nCause, const char *sDevice, const char *sGroup = "", const char *sOwner = "",
                    qint64 nPid = 0, const char *sSystem = "") {
        PortOpenError e;
        e.nCause = nCause;
        e.sDevice = sDevice;
        e.sGroup = sGroup;
        e.sOwnerProgram = sOwner;
        e.nOwnerPid = nPid;
        e.sSystemText = sSystem;
        return e;
    };
    const QVector<PortDescription> none;
    const QString sUdev = "the udev rule 70-servoprog.rules that the package installs "
                          "(packaging/70-servoprog.rules; replug the converter afterwards; see docs/install.md)";
    QTest::newRow("permission, group") << error(Cause::PermissionDenied, "/dev/ttyUSB0", "dialout") << none
                                       << "/dev/ttyUSB0: permission denied. Join the group dialout that owns it "
                                          "(sudo usermod -aG dialout $USER, then log out and in again) or use "
                                              + sUdev + ".";
    QTest::newRow("permission, root's group")
        << error(Cause::PermissionDenied, "/dev/ttyUSB0", "root") << none
        << "/dev/ttyUSB0: permission denied. Use " + sUdev + ", or run as a user who may open the device.";
    QTest::newRow("no such device") << error(Cause::NoSuchDevice, "/dev/ttyUSB7") << kPorts.mid(0, 3)
                                    << "/dev/ttyUSB7: no such device. Ports found: ttyS0, ttyUSB0 "
                                       "(usb:0403:6001:A9XYZ), ttyUSB1 (usb:0403:6001:B7QRS).";
    QTest::newRow("no such device, no ports")
        << error(Cause::NoSuchDevice, "FTDI2") << none
        << "FTDI2: no such device, and no serial port was found; is the converter plugged in?";
    QTest::newRow("in use, owner known") << error(Cause::InUse, "/dev/ttyUSB0", "", "servoprog-cli", 4711) << none
                                         << "/dev/ttyUSB0 is in use by another program (servoprog-cli, process 4711); "
                                            "close it or choose another port.";
    QTest::newRow("in use, process known") << error(Cause::InUse, "/dev/ttyUSB0", "", "", 4711) << none
                                           << "/dev/ttyUSB0 is in use by another program (process 4711); "
                                              "close it or choose another port.";
    QTest::newRow("in use, owner unknown")
        << error(Cause::InUse, "COM3") << none << "COM3 is in use by another program; close it or choose another port.";
    QTest::newRow("not serial") << error(Cause::NotSerialDevice, "/dev/null") << none
                                << "/dev/null is not a serial device.";
    QTest::newRow("other") << error(Cause::Other, "/dev/ttyS1", "", "", 0, "Input/output error") << none
                           << "/dev/ttyS1: Input/output error.";
    QTest::newRow("other, no words") << error(Cause::Other, "/dev/ttyS1") << none << "/dev/ttyS1 cannot be opened.";
    QTest::newRow("none") << error(Cause::None, "/dev/ttyS1") << kPorts << "";
}

void TestPortNames::openAdvice()
{
    QFETCH(PortOpenError, error);
    QFETCH(QVector<PortDescription>, ports);
    QFETCH(QString, text);
    QCOMPARE(portOpenAdvice(error, ports), text);
}

QTEST_GUILESS_MAIN(TestPortNames)
#include "tst_portnames.moc"
