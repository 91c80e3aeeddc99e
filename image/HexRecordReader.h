#ifndef SERVOPROG_IMAGE_HEXRECORDREADER_H
#define SERVOPROG_IMAGE_HEXRECORDREADER_H

// Internal to the image library: the record readers of both file formats.
// They parse a file line by line and hand every record to a sink, so that
// loading into a window and the window-less extent scan share one parser.

#include "HexConv.h"

#include <QString>
#include <QVector>
#include <QtGlobal>

namespace hexrecord {

// Receives the records of a file in file order.
class Sink
{
public:
    virtual ~Sink() = default;
    // A data record with nCount >= 0 bytes at nAddress, read from line
    // nLine. nAddress + nCount - 1 may exceed 0xFFFFFFFF for a malicious or
    // broken file; the sink decides.
    virtual void data(quint64 nAddress, const quint8 *pData, int nCount, qint64 nLine) = 0;
    // S0 header data, nCount bytes (S-record only).
    virtual void header(const quint8 * /*pData*/, int /*nCount*/) {}
    // Start address of an S7/S8/S9 record (S-record only).
    virtual void start(quint32 /*nAddress*/) {}
};

// What a reader had to say, worded exactly as it says it ("hex2bin error:
// bad record format\n") with the line it concerns; nothing is printed here.
struct Messages
{
    HexConv::Message error; // why the reading failed; empty text after success
    QVector<HexConv::Message> warnings;
    HexConv::Completeness eCompleteness = HexConv::Complete;

    // The error, when there is one, and then the warnings in order.
    QVector<HexConv::Message> all() const
    {
        QVector<HexConv::Message> messages = warnings;
        if (!error.sText.isEmpty())
            messages.prepend(error);
        return messages;
    }
};

// 0 on success, -1 on failure. A file that cannot be opened fails without a
// message; other failures leave the reader's message in messages.error.
// Warnings (a missing end record, data that follow where reading stopped,
// text ignored after a blank line) are added to messages.warnings, and
// messages.eCompleteness says whether the file was read to its end record.
int readIntelHex(const QString &sFileName, Sink &sink, Messages &messages);
int readSRecord(const QString &sFileName, Sink &sink, Messages &messages);

} // namespace hexrecord

#endif
