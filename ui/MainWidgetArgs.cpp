// MainWidget: the command line. It only fills the window (rows, port, start
// option) and may show help; it never starts an update.
#include "MainWidget.h"
#include "ui_MainWidget.h"

#include "PortAccess.h"
#include "PortDiscovery.h"
#include "PortOpenError.h"
#include "PortResolver.h"

#include <QCoreApplication>
#include <QMap>
#include <QMessageBox>

void MainWidget::doProcessArgs()
{
    processArgs(QCoreApplication::arguments());
}

QString MainWidget::helpText()
{
    return tr("generic args:\n") + tr("-h, --help\n\t\tshow this help text\n")
           + tr("-c PORTNUM\n\t\tCommunication COM port number\n")
           + tr("-P IODEVICE, --port=IODEVICE\n\t\tset communication IODEVICE\n")
           + tr("-B BOOTTYPE, --boottype=BOOTTYPE\n\t\tset <off | mon[itor]> boot type\n")
           + tr("\nshort form args for the most common usage:\n")
           + tr("-S IMAGE, --software-image=IMAGE\n\t\tset software image file for flash0\n")
           + tr("-H IMAGE, --hardware-image=IMAGE\n\t\tset hardware image file for flash0\n")
           + tr("-X IMAGE, --extended-image=IMAGE\n\t\tset extended image file for flash1\n")
           + tr("\ngeneric image programming args, must begin with -F or --function to create an entry:\n")
           + tr("-F FUNCTION, --function=FUNCTION\n\t\tset <p[rog[gram]]> function\n")
           + tr("-I IMAGE, --image=IMAGE\n\t\tset image file for programming or reading\n")
           + tr("-T TYPE, --type=TYPE\n\t\tset <f[lash]0 | f[lash]1> device type\n");
}

MainWidget::PrintRequest MainWidget::printRequest(const QStringList &arguments)
{
    // The options whose value is the next argument, whatever it looks like.
    static const QStringList valueOptions = QStringLiteral("-P -c -B -S -H -X -F -I -T -l").split(QLatin1Char(' '));
    PrintRequest eRequest = PrintRequest::None;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &sArg = arguments.at(i);
        if (valueOptions.contains(sArg))
            ++i;
        else if (sArg == QLatin1String("--version"))
            return PrintRequest::Version;
        else if (sArg == QLatin1String("-h") || sArg == QLatin1String("--help"))
            eRequest = PrintRequest::Help;
    }
    return eRequest;
}

QString MainWidget::printedHelpText()
{
    return helpText()
           + tr("\nread at start-up:\n-l LANGUAGE, --language=LANGUAGE\n\t\tset the language of the window, e.g. de "
                "or en\n");
}

QString MainWidget::portRefusal(const QString &sPort) const
{
    // Asked as if opening it had failed for want of the device: the system
    // then says whether it is missing, no serial line or not the user's.
    const PortOpenError error =
        PortAccess::diagnose(PortAccess::devicePath(sPort), QSerialPort::DeviceNotFoundError, QString());
    // The ports the list offers, with the USB identities discovery knows.
    const QVector<PortDescription> found = describePorts();
    QVector<PortDescription> offered;
    for (int i = 0; i < ui->comboBoxPort->count(); ++i) {
        PortDescription port;
        port.sName = ui->comboBoxPort->itemText(i);
        for (const PortDescription &candidate : found)
            if (candidate.sName == port.sName)
                port = candidate;
        offered << port;
    }
    return portOpenAdvice(error, offered);
}

void MainWidget::processArgs(const QStringList &arguments)
{
    // The start option each boot type checks.
    const QMap<QString, QRadioButton *> bootTypes{{QStringLiteral("off"), ui->radioButtonPoweredOffDevice},
                                                  {QStringLiteral("mon"), ui->radioButtonRunningMonitor},
                                                  {QStringLiteral("monitor"), ui->radioButtonRunningMonitor}};
    const QMap<QString, int> operations{
        {QStringLiteral("p"), Program}, {QStringLiteral("prog"), Program}, {QStringLiteral("program"), Program}};
    const QMap<QString, int> memories{{QStringLiteral("f0"), Flash0},
                                      {QStringLiteral("flash0"), Flash0},
                                      {QStringLiteral("f1"), Flash1},
                                      {QStringLiteral("flash1"), Flash1}};

    QString sPort;
    QString sError;
    QString sErrorDetail; // the port resolver's refusal, naming the candidates
    bool bHelp = false;
    int nPendingOperation = -1;
    int nPendingMemory = Flash0;
    QString sPendingImage;

    auto addRow = [&](int nMemory, int nOperation, const QString &sImage) {
        addPgmRow(nMemory, nOperation, sImage, -1, -1);
        if (nOperation == Program)
            examineRowImage(ui->tableWidgetPgmImages->rowCount() - 1, nMemory, nullptr);
    };

    for (int i = 1; i < arguments.size(); ++i) {
        const QString &sArg = arguments.at(i);
        QString sValue;
        bool bMissing = false; // a short option that ends the line, without its value
        // A short option takes the next argument as its value, a long one
        // (ending in "=") the rest of its own.
        auto isOption = [&](const char *sShort, std::initializer_list<const char *> longOptions) {
            if (sArg == QLatin1String(sShort)) {
                bMissing = i + 1 >= arguments.size();
                if (!bMissing)
                    sValue = arguments.at(++i);
                return true;
            }
            for (const char *sLong : longOptions) {
                if (sArg.startsWith(QLatin1String(sLong))) {
                    sValue = sArg.mid(QLatin1String(sLong).size());
                    return true;
                }
            }
            return false;
        };
        if (isOption("-P", {"--port="})) {
            if (!bMissing)
                sPort = sValue;
        } else if (isOption("-c", {})) {
            if (!bMissing)
                sPort = QStringLiteral("COM%1").arg(sValue.toInt());
        } else if (isOption("-B", {"--boottype=", "--boot-type="})) {
            if (QRadioButton *button = bootTypes.value(sValue))
                button->setChecked(true);
        } else if (isOption("-S", {"--software-image="}) || isOption("-H", {"--hardware-image="})) {
            if (!sValue.isEmpty())
                addRow(Flash0, Program, sValue);
        } else if (isOption("-X", {"--extended-image="})) {
            if (!sValue.isEmpty())
                addRow(Flash1, Program, sValue);
        } else if (isOption("-F", {"--function="})) {
            if (operations.contains(sValue)) {
                if (nPendingOperation >= 0)
                    addRow(nPendingMemory, nPendingOperation, sPendingImage);
                nPendingOperation = operations.value(sValue);
                nPendingMemory = Flash0;
                sPendingImage = QString();
            } else {
                sError = tr("function '") + sValue + QLatin1Char('\'');
            }
        } else if (isOption("-I", {"--image="})) {
            sPendingImage = sValue;
        } else if (isOption("-T", {"--type="})) {
            if (memories.contains(sValue))
                nPendingMemory = memories.value(sValue);
            else
                sError = tr("type '") + sValue + QLatin1Char('\'');
        } else if (sArg == QLatin1String("-h") || sArg == QLatin1String("--help")) {
            bHelp = true;
        } else if (isOption("-l", {"--language="})) {
            // The language options were read at start-up; here they are
            // passed over with their value, so starting in another language
            // does not count as an unknown option.
        } else {
            sError = sArg;
        }
    }

    if (sError.isEmpty() && nPendingOperation >= 0)
        addRow(nPendingMemory, nPendingOperation, sPendingImage);
    if (!sPort.isEmpty()) {
        // usb:SERIAL, usb:VID:PID[:SERIAL] and /dev/serial/by-id links name
        // a converter by what stays the same when it is plugged in again.
        const PortResolution resolution =
            resolvePort(sPort, needsPortList(sPort) ? describePorts() : QVector<PortDescription>());
        if (!resolution.isResolved() || !selectPort(resolution.sPort)) {
            sError = tr("Serial device '%1'").arg(sPort);
            sErrorDetail = resolution.isResolved() ? portRefusal(resolution.sPort) : resolution.sMessage;
        }
    }
    if (bHelp) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Help"), helpText(), QMessageBox::Ok, this);
        box.setDefaultButton(QMessageBox::NoButton);
        box.exec();
    }
    if (!sError.isEmpty()) {
        on_actionPgmClearEntries_triggered();
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("Unknown option: %1").arg(sError), QMessageBox::Ok, this);
        box.setInformativeText(sErrorDetail);
        box.setDefaultButton(QMessageBox::NoButton);
        box.exec();
    }
}
