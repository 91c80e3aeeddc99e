// info and convert: image files only, no drive involved.

#include "CliImage.h"

#include "CliCommand.h"
#include "CliFiles.h"
#include "CliText.h"
#include "FWInfoHex.h"
#include "HexConvSRec.h"
#include "OutputFile.h"

#include <cstring>

namespace {

// Says why the file cannot be used, or warns of what its reading ignored.
// ExitOk, or ExitFailed when it cannot be used.
int reportCliImage(const ImageFile &image, bool bWarnings)
{
    const QString &sPath = image.path();
    switch (image.status()) {
    case ImageFile::NotRegular:
        // Only a regular file: a FIFO would hold the tool, and the pipe of a
        // process substitution is gone after the first of several readings.
        return fail(ExitFailed, cliInputProblem(sPath, image.kind()));
    case ImageFile::UnknownType:
        return fail(ExitFailed, QStringLiteral("%1: neither an Intel HEX nor an S-record file").arg(sPath));
    case ImageFile::Malformed: image.printMessages(); return ExitFailed;
    default: break;
    }
    if (image.extent().nSkipped > 0)
        printErr(QStringLiteral("warning: %1: %2 data record(s) reach past address 0xffffffff and are ignored\n")
                     .arg(sPath)
                     .arg(image.extent().nSkipped));
    if (image.status() == ImageFile::TooLarge)
        return fail(ExitFailed, QStringLiteral("%1: its data spans %2..%3 (%4 bytes), more than the 256 MiB this tool "
                                               "holds in memory; refused")
                                    .arg(sPath, hexText(image.extent().nLowest), hexText(image.extent().nHighest))
                                    .arg(image.length()));
    if (image.status() == ImageFile::NoMemory)
        return fail(ExitFailed, QStringLiteral("%1: not enough memory for %2 bytes").arg(sPath).arg(image.length()));
    if (bWarnings)
        image.printMessages();
    return ExitOk;
}

// Reads the file for info and convert, which hold it in a window that is
// exactly its extent, wherever in the 32-bit space that lies; larger extents
// are refused instead of allocated. False when it cannot be used.
bool loadCliImage(ImageFile &image)
{
    image.loadExtent(256ull * 1024 * 1024);
    return reportCliImage(image, true) == ExitOk;
}

} // namespace

bool scanCliImage(ImageFile &image, qint64 nFirst, qint64 nLast)
{
    // The worker reads the file again when it programs; its warnings are
    // said then.
    image.scan(nFirst, nLast);
    return reportCliImage(image, false) == ExitOk;
}

bool acceptCliImage(const ImageFile &image, bool bAllowIncomplete, bool bMessagesSaid)
{
    if (image.isComplete())
        return true;
    if (bAllowIncomplete && image.completeness() != HexConv::DataNotRead) {
        printErr(QStringLiteral("warning: %1: the image is incomplete (%2); written as it is "
                                "(--allow-incomplete)\n")
                     .arg(image.path(), image.incompleteReason()));
        return true;
    }
    if (!bMessagesSaid)
        image.printMessages();
    if (image.completeness() == HexConv::DataNotRead) {
        fail(ExitFailed, QStringLiteral("%1: the image is incomplete: %2, and they would not be written; refused. "
                                        "Join the images into one file, or remove what ends it early.")
                             .arg(image.path(), image.incompleteReason()));
        return false;
    }
    fail(ExitFailed, QStringLiteral("%1: the image is incomplete: %2; nothing written. If the file is known to lack "
                                    "its end record, give --allow-incomplete to write the bytes it holds.")
                         .arg(image.path(), image.incompleteReason()));
    return false;
}

int runInfo(const CliCommand &, const QCommandLineParser &parser)
{
    const QString sPath = parser.positionalArguments().at(0);
    ImageFile image(sPath);
    if (!loadCliImage(image))
        return ExitFailed;

    QString s = QStringLiteral("File:     %1\nType:     %2\n").arg(sPath, HexConv::fileTypeName(image.type()));
    s += image.isComplete() ? QStringLiteral("Complete: yes\n")
                            : QStringLiteral("Complete: NO, %1\n").arg(image.incompleteReason());
    if (!image.extent().bHasData) {
        s += QStringLiteral("Data:     none\n");
        printOut(s);
        return ExitOk;
    }
    s += QStringLiteral("Lowest:   %1\nHighest:  %2\nLength:   %3 (%4 bytes)\n")
             .arg(hexText(image.extent().nLowest), hexText(image.extent().nHighest), hexText(image.length()))
             .arg(image.length());
    const QStringList lines = FWInfoHex::linesOf(image.converter());
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

int runConvert(const CliCommand &command, const QCommandLineParser &parser)
{
    const QString sPath = parser.positionalArguments().at(0);
    const QString sOut = parser.positionalArguments().at(1);
    CliFileSet files;
    files.addInput(QStringLiteral("IMAGE"), sPath);
    files.addOutput(QStringLiteral("OUT.srec"), sOut);
    const int nStatus = files.check(command.sName);
    if (nStatus != ExitOk)
        return nStatus;
    if (!cliCheckOutput(QString(), sOut))
        return ExitFailed;
    ImageFile image(sPath);
    if (!loadCliImage(image))
        return ExitFailed;
    // The S-record written ends with a termination record: an incomplete
    // image would come out looking complete.
    if (!acceptCliImage(image, parser.isSet(QStringLiteral("allow-incomplete")), true))
        return ExitFailed;
    if (!image.extent().bHasData)
        return fail(ExitFailed, QStringLiteral("%1: the file holds no data; nothing written").arg(sPath));

    // Only the S-record converter writes. An Intel HEX image is moved into
    // one with the same window; as the window is the file's extent, the
    // whole window is exactly the used range.
    std::unique_ptr<HexConvSRec> pWriter;
    if (image.type() == HexConv::FileTypeSRecord) {
        pWriter.reset(static_cast<HexConvSRec *>(image.takeConverter().release()));
    } else {
        pWriter = std::make_unique<HexConvSRec>(image.extent().nLowest, image.extent().nHighest);
        if (!pWriter->isAllocated())
            return fail(ExitFailed,
                        QStringLiteral("%1: not enough memory for %2 bytes").arg(sPath).arg(image.length()));
        std::memcpy(pWriter->buffer(), image.converter()->constBuffer(), size_t(image.length()));
        image.takeConverter();
    }
    // The converter writes beside the target and renames on success, so a
    // failed write never leaves a half file under the requested name.
    OutputFile out(sOut, OutputFile::Replace, true);
    if (pWriter->save(out, true) != 0)
        return fail(ExitFailed, cliOutputProblem(sOut, out.status(), out.systemError()));
    printOut(QStringLiteral("%1: %2..%3 (%4 bytes) written to %5\n")
                 .arg(sPath, hexText(image.extent().nLowest), hexText(image.extent().nHighest))
                 .arg(image.length())
                 .arg(sOut));
    return ExitOk;
}
