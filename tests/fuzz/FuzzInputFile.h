#ifndef SERVOPROG_FUZZ_INPUTFILE_H
#define SERVOPROG_FUZZ_INPUTFILE_H

// The image readers take a file name, so every fuzz input is written to a
// scratch file first. On Linux the file lives in /dev/shm (memory-backed, no
// disk traffic at tens of thousands of writes per second); elsewhere in a
// temporary folder. One file per process, rewritten for every input.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace fuzzinput {

// Path of the scratch file named sName (e.g. "in.hex") of this process.
QString scratchPath(const char *sName);
// Replaces the scratch file's content; false when it cannot be written.
bool writeScratch(const QString &sPath, const std::uint8_t *pData, std::size_t nSize);
// The whole content of a file (empty when it cannot be read).
QByteArray readAll(const QString &sPath);

} // namespace fuzzinput

#endif
