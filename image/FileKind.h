#ifndef SERVOPROG_IMAGE_FILEKIND_H
#define SERVOPROG_IMAGE_FILEKIND_H

// What a path names, and reading only what can be read safely. Image files
// (and lists of ports) are read only when they are regular files: opening a
// FIFO waits for a writer, a device may never end, and the pipe behind a
// process substitution (/dev/fd/N) is gone after one reading, while every
// reader here looks at a file more than once (type, extent, contents).

#include <QString>

class QFile;

enum class FileKind
{
    Missing, // nothing there (or a link that leads nowhere)
    Regular,
    Directory,
    Fifo, // a named FIFO or a pipe
    CharDevice,
    BlockDevice,
    Socket,
    Other
};

// Follows symbolic links; opens nothing.
FileKind fileKindOf(const QString &sPath);

// Opens sPath read-only when, and only when, it is a regular file. It never
// opens anything else (opening a terminal or a FIFO has effects of its own)
// and never waits. pKind, when given, receives what the path names.
bool openRegularFile(QFile &file, const QString &sPath, FileKind *pKind = nullptr);

#endif
