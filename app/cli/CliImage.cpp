#include "CliCommand.h"
#include "CliText.h"

int runInfo(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

int runConvert(const QCommandLineParser &)
{
    return fail(ExitFailed, QStringLiteral("this command is not available yet"));
}

