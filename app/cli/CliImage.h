#ifndef CLIIMAGE_H
#define CLIIMAGE_H

#include "HexConv.h"

#include <QString>
#include <memory>

// An image file read into a window that is exactly its own address extent,
// wherever in the 32-bit space that lies. Used by info, convert and by the
// device commands to size their progress output.
struct CliImage
{
    // Larger extents are refused instead of allocated.
    static constexpr quint64 kMaxExtent = 256ull * 1024 * 1024;

    HexConv::FileType eType = HexConv::FileTypeUnknown;
    HexConv::Extent extent;
    std::unique_ptr<HexConv> pConv;   // loaded; null when the file holds no data

    // Reads sPath. On failure returns false with sError set to what went
    // wrong; a malformed file's own reader message has then already been
    // written to standard error (sError is empty in that case).
    bool load(const QString &sPath, QString &sError);
    quint64 length() const
    {
        return extent.bHasData ? quint64(extent.nHighest) - extent.nLowest + 1 : 0;
    }
};

// Cheap first pass only (type and extent): false and sError when the file
// cannot be used.
bool scanCliImage(const QString &sPath, HexConv::FileType &eType, HexConv::Extent &extent, QString &sError);

#endif // CLIIMAGE_H
