#ifndef CLIIMAGE_H
#define CLIIMAGE_H

#include "ImageFile.h"

#include <limits>

// Image files for the headless tool, read through ImageFile; what goes
// wrong is said on standard error (a malformed file by its reader's own
// message).

// The device commands' check before any drive is touched: type, extent and
// the data bytes against nFirst..nLast, without a window. False when the
// file cannot be used.
bool scanCliImage(ImageFile &image, qint64 nFirst = 0, qint64 nLast = std::numeric_limits<qint64>::max());
// Whether a read image may be written (programmed, written to an EEPROM or
// converted): an incomplete one only with bAllowIncomplete, and only when
// every data record of it was read. A refusal says why, after the reader's
// own messages (file and line) unless they were said already.
bool acceptCliImage(const ImageFile &image, bool bAllowIncomplete, bool bMessagesSaid);

#endif // CLIIMAGE_H
