#ifndef SERVOPROG_SOAK_IMAGE_H
#define SERVOPROG_SOAK_IMAGE_H

// Random firmware images for the fault soak: one to three data segments at
// random places in a flash device, of random sizes, with random or
// compressible content, written as Intel HEX or S-record text by a writer of
// our own (independent of the readers under test).

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QString>

struct SoakSegment
{
    quint32 nAddress = 0;
    QByteArray data;
};

class SoakImage
{
public:
    enum class Format
    {
        IntelHex,
        SRecord
    };
    enum class Content
    {
        Random,
        Repeating,
        Text,
        Runs,
        Mixed
    };

    // A random image of up to nMaxBytes data bytes inside a flash of
    // nFlashSize bytes.
    static SoakImage random(QRandomGenerator &rng, quint32 nFlashSize, int nMaxBytes);

    // The image as file text.
    QByteArray fileText() const;
    // The flash content after a correct programming of an erased device:
    // 0xFF everywhere except the image's bytes.
    QByteArray expectedFlash(quint32 nFlashSize) const;

    // One line for reports: format, content, segments and sizes.
    QString describe() const;

    int byteCount() const;
    Format format() const { return m_eFormat; }
    const QList<SoakSegment> &segments() const { return m_segments; }

private:
    QByteArray intelHexText() const;
    QByteArray sRecordText() const;

    QList<SoakSegment> m_segments; // ascending, not overlapping
    Format m_eFormat = Format::IntelHex;
    Content m_eContent = Content::Random;
    int m_nRecordBytes = 16; // data bytes per record
    bool m_bCrLf = false;    // "\r\n" line ends
};

#endif
