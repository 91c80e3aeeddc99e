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
    int (*handler)(const QCommandLineParser &parser);
};

const QVector<CliCommand> &cliCommands();
const CliCommand *findCliCommand(const QString &sName);

// The handlers, one source file per group of commands.
int runInfo(const QCommandLineParser &parser);
int runConvert(const QCommandLineParser &parser);
int runPorts(const QCommandLineParser &parser);
int runProbe(const QCommandLineParser &parser);
int runProgram(const QCommandLineParser &parser);
int runErase(const QCommandLineParser &parser);
int runRead(const QCommandLineParser &parser);
int runEepromRead(const QCommandLineParser &parser);
int runEepromErase(const QCommandLineParser &parser);
int runEepromWrite(const QCommandLineParser &parser);

#endif // CLICOMMAND_H
