// info and convert: image files only, no drive involved.

#include "CliImage.h"

#include "CliCommand.h"
#include "CliFiles.h"
#include "CliText.h"
#include "FWInfoHex.h"
#include "FileKind.h"
#include "HexConvSRec.h"
#include "OutputFile.h"

#include <QFile>

#include <cstring>

bool scanCliImage(const QString &sPath, HexConv::FileType &eType, HexConv::Extent &extent, QString &sError)
{
    // Only a regular file: a FIFO would hold the tool, and the pipe of a
    // process substitution is gone after the first of several readings.
    QFile file;
    FileKind eKind = FileKind::Missing;
    if (!openRegularFile(file, sPath, &eKind)) {
        sError = cliInputProblem(sPath, eKind);
        return false;
    }
    file.close();
    eType = HexConv::fileType(sPath);
    if (eType == HexConv::FileTypeUnknown) {
        sError = QStringLiteral("%1: neither an Intel HEX nor an S-record file").arg(sPath);
        return false;
    }
    // A malformed file: the reader has described the bad line on stderr.
    if (HexConv::scanExtent(sPath, &extent, true) != 0) {
        sError.clear();
        return false;
    }
    if (extent.nSkipped > 0)
        printErr(QStringLiteral("warning: %1: %2 data record(s) reach past address 0xffffffff and are ignored\n")
                     .arg(sPath)
                     .arg(extent.nSkipped));
    return true;
}

bool CliImage::load(const QString &sPath, QString &sError)
{
    if (!scanCliImage(sPath, eType, extent, sError))
        return false;
    if (!extent.bHasData)
        return true;
    if (length() > kMaxExtent) {
        sError = QStringLiteral("%1: its data spans %2..%3 (%4 bytes), more than the 256 MiB this tool "
                                "holds in memory; refused")
                     .arg(sPath, hexText(extent.nLowest), hexText(extent.nHighest))
                     .arg(length());
        return false;
    }
    pConv = HexConv::create(eType, extent.nLowest, extent.nHighest);
    if (!pConv || !pConv->isAllocated()) {
        sError = QStringLiteral("%1: not enough memory for %2 bytes").arg(sPath).arg(length());
        pConv.reset();
        return false;
    }
    if (pConv->load(sPath) != 0) {
        sError.clear();
        pConv.reset();
        return false;
    }
    return true;
}

namespace {

// A failed load with an empty text has already been explained by the reader.
int imageFailure(const QString &sError)
{
    return sError.isEmpty() ? ExitFailed : fail(ExitFailed, sError);
}

QStringList firmwareInfoLines(CliImage &image)
{
    QStringList lines;
    FWInfoHex info(image.pConv.get());
    info.setSearchStart(image.pConv->lowestAddress());
    if (info.loadInfo() != 0 || info.infoLines(lines) != 0)
        lines.clear();
    return lines;
}

} // namespace

int runInfo(const QCommandLineParser &parser)
{
    const QString sPath = parser.positionalArguments().at(0);
    CliImage image;
    QString sError;
    if (!image.load(sPath, sError))
        return imageFailure(sError);

    QString s = QStringLiteral("File:     %1\nType:     %2\n").arg(sPath, HexConv::fileTypeName(image.eType));
    if (!image.extent.bHasData) {
        s += QStringLiteral("Data:     none\n");
        printOut(s);
        return ExitOk;
    }
    s += QStringLiteral("Lowest:   %1\nHighest:  %2\nLength:   %3 (%4 bytes)\n")
             .arg(hexText(image.pConv->lowestAddress()), hexText(image.pConv->highestAddress()), hexText(image.length()))
             .arg(image.length());
    const QStringList lines = firmwareInfoLines(image);
    if (lines.isEmpty()) {
        s += QStringLiteral("Firmware information: none found\n");
    } else {
        s += QStringLiteral("Firmware information:\n");
        for (const QString &sLine : lines)
            s += QStringLiteral("  %1\n").arg(sLine);
    }
    printOut(s);
    return ExitOk;
}

int runConvert(const QCommandLineParser &parser)
{
    const QString sPath = parser.positionalArguments().at(0);
    const QString sOut = parser.positionalArguments().at(1);
    CliFileSet files;
    files.addInput(QStringLiteral("IMAGE"), sPath);
    files.addOutput(QStringLiteral("OUT.srec"), sOut);
    const int nStatus = files.check("convert");
    if (nStatus != ExitOk)
        return nStatus;
    if (!cliCheckOutput(QString(), sOut))
        return ExitFailed;
    CliImage image;
    QString sError;
    if (!image.load(sPath, sError))
        return imageFailure(sError);
    if (!image.extent.bHasData)
        return fail(ExitFailed, QStringLiteral("%1: the file holds no data; nothing written").arg(sPath));

    // Only the S-record converter writes. An Intel HEX image is moved into
    // one with the same window; as the window is the file's extent, the
    // whole window is exactly the used range.
    std::unique_ptr<HexConvSRec> pWriter;
    if (image.eType == HexConv::FileTypeSRecord) {
        pWriter.reset(static_cast<HexConvSRec *>(image.pConv.release()));
    } else {
        pWriter = std::make_unique<HexConvSRec>(image.extent.nLowest, image.extent.nHighest);
        if (!pWriter->isAllocated())
            return fail(ExitFailed, QStringLiteral("%1: not enough memory for %2 bytes").arg(sPath).arg(image.length()));
        std::memcpy(pWriter->buffer(), image.pConv->constBuffer(), size_t(image.length()));
        image.pConv.reset();
    }
    // The converter writes beside the target and renames on success, so a
    // failed write never leaves a half file under the requested name.
    OutputFile out(sOut, OutputFile::Replace, true);
    if (pWriter->save(out, true) != 0)
        return fail(ExitFailed, cliOutputProblem(sOut, out.status(), out.systemError()));
    printOut(QStringLiteral("%1: %2..%3 (%4 bytes) written to %5\n")
                 .arg(sPath, hexText(image.extent.nLowest), hexText(image.extent.nHighest))
                 .arg(image.length())
                 .arg(sOut));
    return ExitOk;
}
