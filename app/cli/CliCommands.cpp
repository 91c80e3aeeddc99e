// The command table: one row per command. Order is the order of the overview.

#include "CliCommand.h"
#include "PgmEntry.h"

namespace {

// bSeveralDrives: the command may work on several drives at once (it
// writes no output file); otherwise it takes one --port and no file of ports.
QCommandLineOption portOption(bool bSeveralDrives)
{
    return QCommandLineOption(
        QStringLiteral("port"),
        QStringLiteral("serial device of %1 drive, e.g. /dev/ttyUSB0, COM3, a /dev/serial/by-id/... link or a "
                       "converter's USB identity usb:SERIAL, usb:VID:PID or usb:VID:PID:SERIAL (see \"ports\")%2")
            .arg(bSeveralDrives ? QStringLiteral("a") : QStringLiteral("the"),
                 bSeveralDrives ? QStringLiteral("; give it more than once to work on several drives in parallel")
                                : QString()),
        QStringLiteral("DEV"));
}

QCommandLineOption baudOption()
{
    return QCommandLineOption(QStringLiteral("baud"),
                              QStringLiteral("working baud rate after connecting: 0 (the transport's default), 9600, "
                                             "19200, 38400, 57600, 115200, 230400, 460800 or 921600"),
                              QStringLiteral("RATE"), QStringLiteral("0"));
}

QList<QCommandLineOption> connectionOptions(bool bSeveralDrives)
{
    QList<QCommandLineOption> options{portOption(bSeveralDrives)};
    if (bSeveralDrives)
        options << QCommandLineOption(QStringLiteral("ports-from"),
                                      QStringLiteral("read the ports from a file, one per line; empty lines and text "
                                                     "after '#' are ignored (adds to --port)"),
                                      QStringLiteral("FILE"));
    options
        << baudOption()
        << QCommandLineOption(QStringLiteral("boot"),
                              QStringLiteral("how the drive enters its boot monitor: \"off\" = the drive is powered "
                                             "off and is switched on after the command starts (wake pattern), "
                                             "\"mon\" = the boot monitor already runs"),
                              QStringLiteral("off|mon"), QStringLiteral("off"))
        << QCommandLineOption(QStringLiteral("wake-timeout"),
                              QStringLiteral("with --boot off: give up when the drive has not answered the wake "
                                             "pattern after this many seconds; 0 waits until Ctrl-C"),
                              QStringLiteral("SECONDS"), QStringLiteral("0"))
        << QCommandLineOption(QStringLiteral("report"),
                              QStringLiteral("write a JSON record per drive and job (result, status, ranges, "
                                             "blocks, bytes on the wire, time, retries) to FILE, replaced atomically"),
                              QStringLiteral("FILE"))
        << QCommandLineOption(QStringLiteral("log"),
                              QStringLiteral("write one timestamped line per transaction with the drive (service, "
                                             "object, length, status, round trip) to FILE; every drive into the same "
                                             "file, each line naming its port"),
                              QStringLiteral("FILE"))
        << QCommandLineOption(QStringLiteral("retries"),
                              QStringLiteral("repeat a request that timed out or came back garbled up to N times "
                                             "where a repeat is harmless (object reads and data pieces before "
                                             "their block's command); commands are never repeated"),
                              QStringLiteral("N"), QStringLiteral("2"));
    return options;
}

QCommandLineOption allowIncompleteOption()
{
    return QCommandLineOption(QStringLiteral("allow-incomplete"),
                              QStringLiteral("accept an image that lacks its end record (Intel HEX type 01; S-record "
                                             "S7, S8, S9 or a record count S5) and write exactly the bytes it holds; "
                                             "without it such an image is refused, as a file cut short would be"));
}

QList<QCommandLineOption> programOptions()
{
    QList<QCommandLineOption> options = connectionOptions(true);
    options << QCommandLineOption(QStringLiteral("flash0"), QStringLiteral("image for Flash0 (HW/FW)"),
                                  QStringLiteral("IMAGE"))
            << QCommandLineOption(QStringLiteral("flash1"), QStringLiteral("image for Flash1 (SW PN)"),
                                  QStringLiteral("IMAGE"))
            << QCommandLineOption(QStringLiteral("no-compress"), QStringLiteral("send every block uncompressed"))
            << allowIncompleteOption()
            << QCommandLineOption(QStringLiteral("skip-unchanged"),
                                  QStringLiteral("before erasing a sector, have the drive compare it with the image "
                                                 "block by block; leave the sectors that already hold it alone "
                                                 "(a re-run after an interrupted or repeated update)"));
    return options;
}

// A command on a range of one memory. Its options: the connection (one drive
// only for a read, which writes a file), the two memories of the kind, the
// range and, for a write, --allow-incomplete; its argument: the file, but
// for an erase.
CliCommand rangeCommand(const char *sName, const char *sUsage, const char *sSummary, const char *sDetails,
                        CliRange range)
{
    QList<QCommandLineOption> options = connectionOptions(range.nOperation != Read);
    if (range.bEeprom)
        options << QCommandLineOption(QStringLiteral("eeprom0"), QStringLiteral("use EEPROM 0"))
                << QCommandLineOption(QStringLiteral("eeprom1"), QStringLiteral("use EEPROM 1"));
    else
        options << QCommandLineOption(QStringLiteral("flash0"), QStringLiteral("use Flash0 (HW/FW)"))
                << QCommandLineOption(QStringLiteral("flash1"), QStringLiteral("use Flash1 (SW PN)"));
    options << QCommandLineOption(QStringLiteral("offset"), QStringLiteral("first byte address in the memory"),
                                  QStringLiteral("N"), QStringLiteral("0"))
            << QCommandLineOption(QStringLiteral("length"),
                                  QStringLiteral("number of bytes; without it, up to the end of the memory"),
                                  QStringLiteral("N"));
    if (range.nOperation == Program)
        options << allowIncompleteOption();
    const int nFiles = range.nOperation == Erase ? 0 : 1;
    return {sName, sUsage, sSummary, sDetails, options, nFiles, nFiles, runRange, range};
}

} // namespace

const QVector<CliCommand> &cliCommands()
{
    static const QVector<CliCommand> table = {
        {"info", "IMAGE", "show type, used address range, length and firmware information of an image file",
         "The type is decided by the file's first bytes (Intel HEX or S-record), not by its suffix.\n"
         "Example: servoprog-cli info {sample}",
         QList<QCommandLineOption>(), 1, 1, runInfo, CliRange()},
        {"convert", "[--allow-incomplete] IMAGE OUT.srec",
         "write the used address range of a HEX or S-record image as an S-record file",
         "The file may lie anywhere in the 32-bit address space; an extent above 256 MiB is refused.\n"
         "A malformed input leaves no output file; an incomplete one (no end record) is refused unless\n"
         "--allow-incomplete is given.\n"
         "Example: servoprog-cli convert {sample} sample.srec",
         QList<QCommandLineOption>() << allowIncompleteOption(), 2, 2, runConvert, CliRange()},
        {"ports", "",
         "list the serial ports with their description, the transport that would open them and the name to give "
         "--port",
         "For a USB converter the --port name is its identity (usb:VID:PID:SERIAL, or shorter where that is\n"
         "unique), which finds the drive again after a re-plug under whatever device name it then gets.\n"
         "Example: servoprog-cli ports",
         QList<QCommandLineOption>(), 0, 0, runPorts, CliRange()},
        {"probe", "--port DEV [--baud RATE]",
         "connect to a running boot monitor, show its rates and identification, disconnect",
         "Connects as a programming run would: scans the rates from 9600 upward, then switches to the working rate.\n"
         "Example: servoprog-cli probe --port /dev/ttyUSB0 --baud 115200",
         QList<QCommandLineOption>() << portOption(false) << baudOption(), 0, 0, runProbe, CliRange()},
        {"program",
         "--port DEV [--port DEV ...] [--baud RATE] [--boot off|mon] [--no-compress] [--skip-unchanged] "
         "[--wake-timeout SECONDS] "
         "[--report FILE.json] [--log FILE] [--retries N] [--flash0 IMAGE] [--flash1 IMAGE]",
         "program image files into Flash0 and/or Flash1 (at least one) and have the drive verify every block",
         "Flash0 is programmed before Flash1; the first failing job ends the run.\n"
         "Several --port options (or --ports-from FILE) program every drive in parallel with the same images;\n"
         "a table at the end shows each drive's result, and the exit status is 0 only when all succeeded.\n"
         "Ctrl-C cancels after the current block and closes the port(s).\n"
         "With --skip-unchanged the flash ends up exactly as without it; only the sectors that differ are\n"
         "erased and programmed.\n"
         "An image without its end record (a file cut short) is refused before the drive is touched unless\n"
         "--allow-incomplete is given.\n"
         "Example: servoprog-cli program --port /dev/ttyUSB0 --boot mon --flash0 {sample}\n"
         "Example: servoprog-cli program --port /dev/ttyUSB0 --port /dev/ttyUSB1 --boot mon --report line.json "
         "--flash0 {sample}",
         programOptions(), 0, 0, runProgram, CliRange()},
        rangeCommand(
            "erase",
            "--port DEV [--port DEV ...] --flash0|--flash1 [--offset N] [--length N] [--baud RATE] [--boot off|mon]",
            "erase a sector-aligned range of one flash device",
            "Example: servoprog-cli erase --port /dev/ttyUSB0 --boot mon --flash1 --offset 0 --length 0x10000",
            {false, Erase}),
        rangeCommand(
            "read", "--port DEV --flash0|--flash1 [--offset N] [--length N] [--baud RATE] [--boot off|mon] OUT.srec",
            "read a range of one flash device into an S-record file",
            "Example: servoprog-cli read --port /dev/ttyUSB0 --boot mon --flash0 --offset 0x400000 --length 0x40000 "
            "fw.srec",
            {false, Read}),
        rangeCommand("eeprom-read",
                     "--port DEV --eeprom0|--eeprom1 [--offset N] [--length N] [--baud RATE] [--boot off|mon] OUT.srec",
                     "read a range of one EEPROM into an S-record file",
                     "Example: servoprog-cli eeprom-read --port /dev/ttyUSB0 --boot mon --eeprom0 eeprom0.srec",
                     {true, Read}),
        rangeCommand(
            "eeprom-erase",
            "--port DEV [--port DEV ...] --eeprom0|--eeprom1 [--offset N] [--length N] [--baud RATE] [--boot off|mon]",
            "fill a range of one EEPROM with FF",
            "Example: servoprog-cli eeprom-erase --port /dev/ttyUSB0 --boot mon --eeprom1 --offset 0x100 --length 256",
            {true, Erase}),
        rangeCommand(
            "eeprom-write",
            "--port DEV [--port DEV ...] --eeprom0|--eeprom1 [--offset N] [--length N] [--baud RATE] [--boot off|mon] "
            "[--allow-incomplete] IMAGE",
            "write a HEX or S-record file into a range of one EEPROM",
            "Every byte of the range is written: the file's bytes inside it exactly, also those of records that\n"
            "reach over an end of the range; addresses without data in the file are written as FF.\n"
            "So a file without data in the range is refused, and so is one with data beyond the EEPROM's end\n"
            "when the range runs to that end; --offset/--length write part of a file on purpose.\n"
            "A file without its end record is refused unless --allow-incomplete is given.\n"
            "Example: servoprog-cli eeprom-write --port /dev/ttyUSB0 --boot mon --eeprom0 --length 512 eeprom0.srec",
            {true, Program}),
    };
    return table;
}

const CliCommand *findCliCommand(const QString &sName)
{
    for (const CliCommand &command : cliCommands())
        if (sName == QLatin1String(command.sName))
            return &command;
    return nullptr;
}
