#ifndef CLIREPORT_H
#define CLIREPORT_H

#include <QDateTime>
#include <QJsonDocument>
#include <QString>
#include <QVector>

class CliLine;

// What the tool knows about a job before any drive is touched; the same for
// every drive of a run.
struct CliJobFacts
{
    QString sImageSha256;   // input image (program, eeprom-write); empty otherwise
    bool bHasRange = false; // the whole range is known beforehand, not only its start
    quint64 nFirst = 0;     // first address of the range
    quint64 nLast = 0;      // last address of the range (with bHasRange)
};

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
    static QJsonDocument build(const QString &sCommand, const QDateTime &started, const CliLine &line,
                               const QVector<CliJobFacts> &facts, int nExitStatus);
    // Writes the document atomically (a device or a FIFO directly). False
    // with sError set when the file could not be written (an earlier file
    // stays as it was).
    static bool write(const QString &sPath, const QJsonDocument &document, QString &sError);
};

#endif // CLIREPORT_H
