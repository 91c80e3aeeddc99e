// How long the window is busy when the operator picks a large image: the
// examination runs on the GUI thread, so this is the time the window does not
// respond. Prints the time to examine an 8 MiB Intel HEX and S-record image
// (the whole Flash0 window), and for comparison the time to read the file's
// bytes alone.
#include "MainWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr quint32 kImageSize = 8u << 20;

QByteArray hexByte(quint8 b)
{
    return QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
}

QByteArray checksummed(const QByteArray &body, quint8 sum, bool bOnesComplement)
{
    const quint8 check = bOnesComplement ? quint8(~sum) : quint8(-sum);
    return body + hexByte(check) + '\n';
}

// Intel HEX, 32-byte records with an extended linear address record per 64 KiB.
QByteArray intelHex(const QByteArray &data)
{
    QByteArray out;
    out.reserve(data.size() * 2 + data.size() / 2);
    for (quint32 a = 0; a < quint32(data.size()); a += 32) {
        if ((a & 0xFFFF) == 0) {
            const quint8 hi = quint8(a >> 24), lo = quint8(a >> 16);
            out += checksummed(":02000004" + hexByte(hi) + hexByte(lo), quint8(2 + 4 + hi + lo), false);
        }
        QByteArray rec = ":20" + hexByte(quint8(a >> 8)) + hexByte(quint8(a)) + "00";
        quint8 sum = quint8(0x20 + quint8(a >> 8) + quint8(a));
        for (int i = 0; i < 32; ++i) {
            const quint8 b = quint8(data[int(a) + i]);
            rec += hexByte(b);
            sum += b;
        }
        out += checksummed(rec, sum, false);
    }
    out += ":00000001FF\n";
    return out;
}

// S-record, S3 records of 32 data bytes.
QByteArray sRecord(const QByteArray &data)
{
    QByteArray out;
    out.reserve(data.size() * 2 + data.size() / 2);
    for (quint32 a = 0; a < quint32(data.size()); a += 32) {
        QByteArray rec = "S3" + hexByte(32 + 5);
        quint8 sum = 32 + 5;
        for (int s = 24; s >= 0; s -= 8) {
            rec += hexByte(quint8(a >> s));
            sum += quint8(a >> s);
        }
        for (int i = 0; i < 32; ++i) {
            const quint8 b = quint8(data[int(a) + i]);
            rec += hexByte(b);
            sum += b;
        }
        out += checksummed(rec, sum, true);
    }
    out += "S70500000000FA\n";
    return out;
}

double examineMs(MainWidget &window, const QString &path)
{
    window.addPgmRow(0, 1, QString(), -1, -1);
    const int row = 0;
    QElapsedTimer timer;
    timer.start();
    const int result = window.examineRowImage(row, 0, &path);
    const double ms = timer.nsecsElapsed() / 1e6;
    window.removePgmRow(row);
    return result == 0 ? ms : -1.0;
}

double readMs(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1.0;
    volatile qint64 n = file.readAll().size();
    (void)n;
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QByteArray data(int(kImageSize), Qt::Uninitialized);
    QRandomGenerator random(8);
    random.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);

    const struct
    {
        const char *sName;
        QByteArray text;
    } images[] = {
        {"image.hex", intelHex(data)},
        {"image.srec", sRecord(data)},
    };
    MainWidget window;
    std::printf("Examining an 8 MiB image on the GUI thread (best of 3):\n");
    for (const auto &image : images) {
        const QString path = dir.filePath(QLatin1String(image.sName));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(image.text) != image.text.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        file.close();
        double best = 1e9, bestRead = 1e9;
        for (int i = 0; i < 3; ++i) {
            best = qMin(best, examineMs(window, path));
            bestRead = qMin(bestRead, readMs(path));
        }
        if (best < 0) {
            std::fprintf(stderr, "examining %s failed\n", image.sName);
            return 1;
        }
        std::printf("  %-10s %6.1f MB text: %7.1f ms busy (reading the file alone: %5.1f ms, ratio %.1f)\n",
                    image.sName, image.text.size() / 1e6, best, bestRead, best / bestRead);
    }
    return 0;
}
