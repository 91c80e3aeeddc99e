#include "CliCommand.h"
#include "CliText.h"

int runPorts(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

int runProbe(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

