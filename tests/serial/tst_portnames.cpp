// Port texts that name a drive by its converter (usb:..., /dev/serial
// links), the identity offered for each port, and the advice shown when a
// port cannot be opened. The port lists are given: no converter is
// attached to the machines the tests run on.
#include "PortDiscovery.h"
#include "PortOpenError.h"
#include "PortResolver.h"

#include <QtTest>

#include <QFile>
#include <QTemporaryDir>

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
    p.nVendorId = uint16_t(nVendor < 0 ? 0 : nVendor);
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

const QStringList kUsbPorts = {
    "ttyUSB0 (usb:0403:6001:A9XYZ)", "ttyUSB1 (usb:0403:6001:B7QRS)", "ttyUSB2", "ttyUSB3", "ttyACM0 (usb:2341:0043)",
    "FTDI1 (usb:0403:6015:DN05)",    "ttyV0 (usb:1a86:7523)"};

} // namespace

class TestPortNames : public QObject
{
    Q_OBJECT

private slots:
    void identities();
    void resolve_data();
    void resolve();
    void openAdvice_data();
    void openAdvice();
};

void TestPortNames::identities()
{
    QCOMPARE(portIdentities(kPorts),
             (QStringList{"/dev/ttyS0", "usb:0403:6001:A9XYZ", "usb:0403:6001:B7QRS", "/dev/ttyUSB2", "/dev/ttyUSB3",
                          "usb:2341:0043", "usb:0403:6015:DN05", "usb:1a86:7523"}));
    // Every identity leads back to its own port.
    const QStringList identities = portIdentities(kPorts);
    for (int i = 0; i < kPorts.size(); ++i) {
        if (identities.at(i).startsWith("usb:"))
            QCOMPARE(resolvePort(identities.at(i), kPorts).sPort, kPorts.at(i).sName);
    }
    // One converter of a make alone: its ids suffice when it has no serial.
    QCOMPARE(portIdentities({port("ttyUSB0", "/dev/ttyUSB0", 0x067b, 0x2303)}), QStringList{"usb:067b:2303"});
}

void TestPortNames::resolve_data()
{
    QTest::addColumn<QString>("text");       // "@name": a link of that name in a temporary folder
    QTest::addColumn<QString>("linkTarget"); // for "@" texts; "@file": a regular file
    QTest::addColumn<Status>("status");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("candidates");

    const QStringList none;
    QTest::newRow("serial") << "usb:A9XYZ"
                            << "" << Status::Resolved << "ttyUSB0" << none;
    QTest::newRow("serial, other case") << "usb:a9xyz"
                                        << "" << Status::Resolved << "ttyUSB0" << none;
    QTest::newRow("ids and serial") << "USB:0403:6001:b7qrs"
                                    << "" << Status::Resolved << "ttyUSB1" << none;
    QTest::newRow("ids, short hex") << "usb:2341:43"
                                    << "" << Status::Resolved << "ttyACM0" << none;
    QTest::newRow("ids, upper case") << "usb:1A86:7523"
                                     << "" << Status::Resolved << "ttyV0" << none;
    QTest::newRow("libftdi1 converter") << "usb:0403:6015"
                                        << "" << Status::Resolved << "FTDI1" << none;
    QTest::newRow("two of a make") << "usb:0403:6001"
                                   << "" << Status::Ambiguous << ""
                                   << QStringList{"ttyUSB0 (usb:0403:6001:A9XYZ)", "ttyUSB1 (usb:0403:6001:B7QRS)"};
    QTest::newRow("dual converter") << "usb:FT4X"
                                    << "" << Status::Ambiguous << "" << QStringList{"ttyUSB2", "ttyUSB3"};
    QTest::newRow("no such ids") << "usb:0403:6011"
                                 << "" << Status::NoMatch << "" << kUsbPorts;
    QTest::newRow("no such serial") << "usb:0403:6001:C1"
                                    << "" << Status::NoMatch << "" << kUsbPorts;
    QTest::newRow("nothing after usb:") << "usb:"
                                        << "" << Status::Invalid << "" << none;
    QTest::newRow("0x prefix") << "usb:0x403:6001"
                               << "" << Status::Invalid << "" << none;
    QTest::newRow("five digits") << "usb:04031:6001"
                                 << "" << Status::Invalid << "" << none;
    QTest::newRow("empty serial") << "usb:0403:6001:"
                                  << "" << Status::Invalid << "" << none;
    QTest::newRow("port name") << "ttyUSB0"
                               << "" << Status::Resolved << "ttyUSB0" << none;
    QTest::newRow("missing device path") << "/dev/ttyUSB9"
                                         << "" << Status::Resolved << "/dev/ttyUSB9" << none;
    QTest::newRow("COM name") << "COM3"
                              << "" << Status::Resolved << "COM3" << none;
    QTest::newRow("link to a listed port") << "@by-id"
                                           << "/dev/zero" << Status::Resolved << "ttyV0" << none;
    QTest::newRow("link to another device") << "@by-id"
                                            << "/dev/null" << Status::Resolved << "/dev/null" << none;
    QTest::newRow("link to a file") << "@by-id"
                                    << "@file" << Status::NoMatch << "" << none;
    QTest::newRow("dangling link") << "@by-id"
                                   << "/dev/servoprog-gone" << Status::NoMatch << "" << kUsbPorts;
    QTest::newRow("unplugged by-id link") << "/dev/serial/by-id/usb-servoprog-missing-if00-port0"
                                          << "" << Status::NoMatch << "" << kUsbPorts;
}

void TestPortNames::resolve()
{
    QFETCH(QString, text);
    QFETCH(QString, linkTarget);
    QFETCH(Status, status);
    QFETCH(QString, port);
    QFETCH(QStringList, candidates);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (text.startsWith('@')) {
        text = dir.filePath(text.mid(1));
        if (linkTarget == "@file") {
            linkTarget = dir.filePath("plain-file");
            QFile file(linkTarget);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(linkTarget, text));
    }

    const PortResolution resolution = resolvePort(text, kPorts);
    QCOMPARE(resolution.nStatus, status);
    QCOMPARE(resolution.isResolved(), status == Status::Resolved);
    QCOMPARE(resolution.candidates, candidates);
    if (status == Status::Resolved) {
        QCOMPARE(resolution.sPort, port);
        QVERIFY(resolution.sMessage.isEmpty());
    } else {
        // The refusal names what was asked for and every candidate.
        QVERIFY2(resolution.sMessage.contains(text), qPrintable(resolution.sMessage));
        for (const QString &sCandidate : candidates)
            QVERIFY2(resolution.sMessage.contains(sCandidate), qPrintable(resolution.sMessage));
    }
}

void TestPortNames::openAdvice_data()
{
    QTest::addColumn<PortOpenError>("error");
    QTest::addColumn<QVector<PortDescription>>("ports");
    QTest::addColumn<QString>("text");

    auto error = [](Cause nCause, const char *sDevice) {
        PortOpenError e;
        e.nCause = nCause;
        e.sDevice = QString::fromLatin1(sDevice);
        return e;
    };
    const QVector<PortDescription> noPorts;
    const QString sUdev = "the udev rule 70-servoprog.rules that the package installs "
                          "(packaging/70-servoprog.rules; replug the converter afterwards; see docs/install.md)";

    PortOpenError e = error(Cause::PermissionDenied, "/dev/ttyUSB0");
    e.sGroup = "dialout";
    QTest::newRow("permission, group") << e << noPorts
                                       << "/dev/ttyUSB0: permission denied. Join the group dialout that owns it "
                                          "(sudo usermod -aG dialout $USER, then log out and in again) or use "
                                              + sUdev + ".";
    e.sGroup = "root";
    QTest::newRow("permission, root's group")
        << e << noPorts
        << "/dev/ttyUSB0: permission denied. Use " + sUdev + ", or run as a user who may open the device.";
    QTest::newRow("no such device") << error(Cause::NoSuchDevice, "/dev/ttyUSB7") << kPorts.mid(0, 3)
                                    << "/dev/ttyUSB7: no such device. Ports found: ttyS0, ttyUSB0 "
                                       "(usb:0403:6001:A9XYZ), ttyUSB1 (usb:0403:6001:B7QRS).";
    QTest::newRow("no such device, no ports")
        << error(Cause::NoSuchDevice, "FTDI2") << noPorts
        << "FTDI2: no such device, and no serial port was found; is the converter plugged in?";
    e = error(Cause::InUse, "/dev/ttyUSB0");
    e.sOwnerProgram = "servoprog-cli";
    e.nOwnerPid = 4711;
    QTest::newRow("in use, owner known") << e << noPorts
                                         << "/dev/ttyUSB0 is in use by another program (servoprog-cli, process 4711); "
                                            "close it or choose another port.";
    e.sOwnerProgram.clear();
    QTest::newRow("in use, process known") << e << noPorts
                                           << "/dev/ttyUSB0 is in use by another program (process 4711); "
                                              "close it or choose another port.";
    QTest::newRow("in use, owner unknown") << error(Cause::InUse, "COM3") << noPorts
                                           << "COM3 is in use by another program; close it or choose another port.";
    QTest::newRow("not serial") << error(Cause::NotSerialDevice, "/dev/null") << noPorts
                                << "/dev/null is not a serial device.";
    e = error(Cause::Other, "/dev/ttyS1");
    e.sSystemText = "Input/output error";
    QTest::newRow("other") << e << noPorts << "/dev/ttyS1: Input/output error.";
    QTest::newRow("other, no words") << error(Cause::Other, "/dev/ttyS1") << noPorts << "/dev/ttyS1 cannot be opened.";
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
