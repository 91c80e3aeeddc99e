#ifndef CLIREPORT_H
#define CLIREPORT_H

#include <QDateTime>
#include <QJsonDocument>
#include <QString>

class CliLine;

// The machine-readable record of a device command (--report FILE.json): one
// record per drive and job, written atomically, so a line controller never
// reads half a report and a failed run never leaves an old report looking
// like the new one.
class CliReport
{
public:
    // SHA-256 of a file's bytes in lower-case hexadecimal; empty when it
    // cannot be read or is not a regular file.
    static QString fileSha256(const QString &sPath);

    // The record of a run of sCommand that began at started.
    static QJsonDocument build(const QString &sCommand, const QDateTime &started, const CliLine &line, int nExitStatus);
    // Writes the document atomically (a device or a FIFO directly). False
    // with sError set when the file could not be written (an earlier file
    // stays as it was).
    static bool write(const QString &sPath, const QJsonDocument &document, QString &sError);
};

#endif // CLIREPORT_H
