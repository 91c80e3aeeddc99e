#ifndef CLICOMMAND_H
#define CLICOMMAND_H

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QVector>

// Exit status of every command: scripts on a production line tell a failed
// drive (1) from a wrong command line (2).
enum CliExit
{
    ExitOk = 0,
    ExitFailed = 1,
    ExitUsage = 2
};

// What a command on a range of one memory does: which operation
// (PgmOperation: erase, read or write) on Flash0/Flash1 or on EEPROM0/EEPROM1.
struct CliRange
{
    bool bEeprom;
    int nOperation;
};

// One entry of the command table. Adding a command means adding one row:
// the dispatcher parses the options, checks the positional arguments and the
// help pages come from the same row.
struct CliCommand
{
    const char *sName;
    const char *sUsage;   // what follows the command name
    const char *sSummary; // one line for the overview
    const char *sDetails; // paragraph and example for "help COMMAND"; "{sample}" stands
                          // for the installed sample image
    QList<QCommandLineOption> options;
    int nMinPositional;
    int nMaxPositional;
    int (*handler)(const CliCommand &command, const QCommandLineParser &parser);
    CliRange range; // range commands only
};

const QVector<CliCommand> &cliCommands();
const CliCommand *findCliCommand(const QString &sName);

// The handlers, one source file per group of commands.
int runInfo(const CliCommand &command, const QCommandLineParser &parser);
int runConvert(const CliCommand &command, const QCommandLineParser &parser);
int runPorts(const CliCommand &command, const QCommandLineParser &parser);
int runProbe(const CliCommand &command, const QCommandLineParser &parser);
int runProgram(const CliCommand &command, const QCommandLineParser &parser);
// erase, read and the EEPROM commands: command.range says which.
int runRange(const CliCommand &command, const QCommandLineParser &parser);

#endif // CLICOMMAND_H
