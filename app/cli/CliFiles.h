#ifndef CLIFILES_H
#define CLIFILES_H

#include "FileKind.h"
#include "OutputFile.h"

#include <QString>
#include <QVector>

#include <memory>
#include <vector>

// The files one command reads and writes, by the option (or argument) that
// names them, and the ports it opens. Before anything is touched they are
// compared by identity (device and inode of what exists, following links;
// the file it would be for what does not exist yet): an output over an input
// would destroy the input, two outputs in one file would lose one of them,
// and a port is the drive's line, which is neither (an output written there
// would go to the drive as garbage, an input read there would take the
// drive's answers). Two inputs may be one file, and outputs may share a
// character device (/dev/null, a terminal), which keeps nothing that could
// be lost.
class CliFileSet
{
public:
    void addInput(const QString &sName, const QString &sPath);
    void addOutput(const QString &sName, const QString &sPath);
    // sGiven: the port as the command line spelt it; sPort: what it resolved to.
    void addPort(const QString &sGiven, const QString &sPort);
    // ExitOk, or the usage error (naming both) already reported.
    int check(const char *sCommand) const;

private:
    enum class Role
    {
        Input,
        Output,
        Port
    };
    struct Entry
    {
        QString sName;
        QString sPath;
        Role eRole;
    };
    QVector<Entry> m_entries;
};

// The FIFOs among a command's outputs, opened before the drive is touched
// and held open until the run is over. Only an open tells whether anybody
// reads a FIFO; holding it keeps the reader waiting for the contents, which
// are written through an open of their own (the read-back, the report),
// instead of taking the end of this open for the end of the stream.
class CliFifoHold
{
public:
    // True when sPath is no FIFO, or a FIFO that is now held; false after
    // reporting ("<sOption>: <problem>"; only the problem when sOption is
    // empty) that nobody reads it.
    bool hold(const QString &sOption, const QString &sPath);

private:
    std::vector<std::unique_ptr<OutputFile>> m_files;
};

// What a port name opens, so that two spellings of one port are one port:
// the canonical device path of a path (links such as /dev/serial/by-id/...
// and ".." resolved; a bare name is looked up in /dev as the serial port
// does on POSIX systems), any other name (COM3, FTDI1) in lower case.
QString cliPortIdentity(const QString &sPort);

// Why an input cannot be read; eKind is what fileKindOf() found (Regular:
// a regular file that could not be opened).
QString cliInputProblem(const QString &sPath, FileKind eKind);
// Why an output cannot be written.
QString cliOutputProblem(const QString &sPath, OutputFile::Status eStatus, const QString &sSystemError = QString());
// Checks an output before the drive is touched; false after reporting why
// ("<sOption>: <problem>"; only the problem when sOption is empty).
bool cliCheckOutput(const QString &sOption, const QString &sPath, OutputFile::Mode eMode = OutputFile::Replace);

#endif // CLIFILES_H
