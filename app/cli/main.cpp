// servoprog-cli: the headless front end. It parses one command line, runs one
// command over the core libraries and maps the outcome to the exit status.

#include "CliCommand.h"
#include "CliText.h"
#include "ServoprogPaths.h"
#include "ServoprogVersion.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>

namespace {

const char *const kToolName = "servoprog-cli";

QString spelt(const QString &sName)
{
    return (sName.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + sName;
}

QString optionSynopsis(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &sName : option.names())
        names << spelt(sName);
    QString s = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        s += QLatin1Char(' ') + option.valueName();
    return s;
}

// The installed sample image, as a shell takes it, for the examples.
QString sampleImage()
{
    const QString sPath = installedPath(QLatin1String(kInstalledSampleImage));
    return sPath.contains(QLatin1Char(' ')) ? QLatin1Char('"') + sPath + QLatin1Char('"') : sPath;
}

QString usageSuffix(const CliCommand &command)
{
    return *command.sUsage ? QLatin1Char(' ') + QLatin1String(command.sUsage) : QString();
}

int printOverview()
{
    QString s = QStringLiteral("Usage: %1 COMMAND [ARGUMENTS]\n"
                               "Programs, reads and erases the flash and EEPROM of an AC servo drive\n"
                               "through its boot monitor, and inspects image files.\n\nCommands:\n")
                    .arg(QLatin1String(kToolName));
    for (const CliCommand &command : cliCommands())
        s += QStringLiteral("  %1%2\n      %3\n")
                 .arg(QLatin1String(command.sName), usageSuffix(command), QLatin1String(command.sSummary));
    s += QStringLiteral("\nNumbers are decimal or \"0x\"-prefixed hexadecimal.\n"
                        "Exit status: 0 success, 1 the operation failed, 2 usage error.\n"
                        "Run \"%1 help COMMAND\" for the options and an example of one command.\n")
             .arg(QLatin1String(kToolName));
    printOut(s);
    return ExitOk;
}

int printCommandHelp(const CliCommand &command)
{
    QString s = QStringLiteral("Usage: %1 %2%3\n%4\n")
                    .arg(QLatin1String(kToolName), QLatin1String(command.sName), usageSuffix(command),
                         QLatin1String(command.sSummary));
    if (!command.options.isEmpty()) {
        s += QStringLiteral("\nOptions:\n");
        for (const QCommandLineOption &option : command.options) {
            s += QStringLiteral("  %1\n      %2").arg(optionSynopsis(option), option.description());
            if (!option.defaultValues().isEmpty())
                s += QStringLiteral(" (default %1)").arg(option.defaultValues().join(QLatin1Char(',')));
            s += QLatin1Char('\n');
        }
    }
    if (command.sDetails && *command.sDetails)
        s += QLatin1Char('\n') + QString::fromLatin1(command.sDetails).replace(QLatin1String("{sample}"), sampleImage())
             + QLatin1Char('\n');
    printOut(s);
    return ExitOk;
}

int unknownCommand(const QString &sName)
{
    QStringList names;
    for (const CliCommand &command : cliCommands())
        names << QLatin1String(command.sName);
    return usageFail(nullptr, QStringLiteral("unknown command '%1'%2").arg(sName, didYouMean(sName, names)));
}

// The parser's refusal in the tool's own form: lower case, no full stop, an
// unknown option with its dashes and the option meant.
QString parserError(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        QStringList names{QStringLiteral("--help")};
        for (const QCommandLineOption &option : options)
            for (const QString &sName : option.names())
                names << spelt(sName);
        const QString sOption = spelt(unknown.first());
        return QStringLiteral("unknown option '%1'%2").arg(sOption, didYouMean(sOption, names));
    }
    QString sText = parser.errorText();
    if (sText.endsWith(QLatin1Char('.')))
        sText.chop(1);
    if (!sText.isEmpty())
        sText[0] = sText.at(0).toLower();
    return sText;
}

int runHelp(const QStringList &args)
{
    if (args.isEmpty())
        return printOverview();
    if (args.size() > 1)
        return usageFail(nullptr, QStringLiteral("help takes at most one command name"));
    const CliCommand *pCommand = findCliCommand(args.first());
    return pCommand ? printCommandHelp(*pCommand) : unknownCommand(args.first());
}

int dispatch(const QStringList &arguments)
{
    const QStringList args = arguments.mid(1);
    if (args.isEmpty())
        return usageFail(nullptr, QStringLiteral("no command given"));
    const QString sFirst = args.first();
    if (sFirst == QLatin1String("--help") || sFirst == QLatin1String("-h") || sFirst == QLatin1String("help"))
        return runHelp(args.mid(1));
    if (sFirst == QLatin1String("--version")) {
        printOut(QStringLiteral("%1 %2\n").arg(QLatin1String(kToolName), QCoreApplication::applicationVersion()));
        return ExitOk;
    }
    const CliCommand *pCommand = findCliCommand(sFirst);
    if (!pCommand)
        return unknownCommand(sFirst);

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(helpOption);
    parser.addOptions(pCommand->options);
    // The parser expects the program name first; the command name takes its place.
    if (!parser.parse(args))
        return usageFail(pCommand->sName, parserError(parser, pCommand->options));
    if (parser.isSet(helpOption))
        return printCommandHelp(*pCommand);
    const int nPositional = int(parser.positionalArguments().size());
    if (nPositional < pCommand->nMinPositional)
        return usageFail(pCommand->sName, QStringLiteral("%1: missing argument (%2)")
                                              .arg(QLatin1String(pCommand->sName), QLatin1String(pCommand->sUsage)));
    if (nPositional > pCommand->nMaxPositional)
        return usageFail(pCommand->sName, QStringLiteral("%1: unexpected argument '%2'")
                                              .arg(QLatin1String(pCommand->sName),
                                                   parser.positionalArguments().at(pCommand->nMaxPositional)));
    return pCommand->handler(*pCommand, parser);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // A file-size limit (ulimit -f) or an output pipe whose reader went away
    // must end in a write error the tool reports, not in a silent death
    // (in the middle of programming a drive).
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kToolName));
    QCoreApplication::setApplicationVersion(QLatin1String(kVersionText));
    return dispatch(QCoreApplication::arguments());
}
