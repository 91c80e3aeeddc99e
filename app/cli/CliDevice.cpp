#include "CliCommand.h"
#include "CliText.h"

int runProgram(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

int runErase(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

int runRead(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

int runEepromRead(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

int runEepromErase(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

int runEepromWrite(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

