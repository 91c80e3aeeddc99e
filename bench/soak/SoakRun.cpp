#include "SoakRun.h"

#include "SimDrive.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

SoakRun::SoakRun(int nIndex, quint64 nSeed, const SoakRunSettings &settings)
    : m_nIndex(nIndex), m_nSeed(nSeed), m_settings(settings)
{
}

QStringList SoakRun::randomFaults(QRandomGenerator &rng) const
{
    QStringList faults;
    // A quarter of the runs go without faults: they must all succeed.
    const int nCount = rng.bounded(4) == 0 ? 0 : 1 + int(rng.bounded(2));
    // Requests a run needs: the connection, the geometry and erase commands,
    // then about one request per 128 bytes plus a few per 8 KiB block. Fault
    // numbers spread over that whole range (and a little past it).
    int nBytes = 0;
    for (const SoakImage &image : m_images)
        nBytes += image.byteCount();
    const int nRequests = 40 * int(m_images.size()) + nBytes / 100;
    static const char *const kinds[] = {"drop", "corrupt", "busy", "verify", "silent", "life"};
    for (int i = 0; i < nCount; ++i) {
        const QString sKind = QString::fromLatin1(kinds[rng.bounded(6)]);
        const int nRequest = 1 + int(rng.bounded(sKind == QLatin1String("verify") ? 8 : nRequests));
        QString sFault = QStringLiteral("%1:%2").arg(sKind).arg(nRequest);
        if (sKind == QLatin1String("busy") && rng.bounded(2))
            sFault += QStringLiteral(":%1").arg(1 + rng.bounded(255));
        if (sKind == QLatin1String("life")) {
            static const int counts[] = {1, 16, 200, 3000};
            sFault += QStringLiteral(":%1").arg(counts[rng.bounded(4)]);
        }
        faults << sFault;
    }
    return faults;
}

SoakRun::Outcome SoakRun::execute()
{
    QElapsedTimer timer;
    timer.start();
    QRandomGenerator rng(m_nSeed);
    // Drive behaviour besides the faults: a tenth of the runs send every
    // byte in its wire time (small images, fast rates), some take real
    // flash time for a sector erase (within the tool's erase time-out), some
    // start powered off so the tool must wake the monitor first.
    const bool bThrottle = rng.bounded(10) == 0;
    const int nEraseMs = rng.bounded(7) == 0 ? int(rng.bounded(2500)) : 0;
    const bool bPoweredOff = rng.bounded(6) == 0;
    // Mostly Flash0 alone, as on a real bench; Flash1 alone or both devices
    // in one run now and then, so the device selection is checked too.
    const int nDevicePick = int(rng.bounded(10));
    m_devices = nDevicePick < 6 ? QList<int>{0} : nDevicePick < 8 ? QList<int>{1} : QList<int>{0, 1};
    for (int i = 0; i < m_devices.size(); ++i)
        m_images.append(SoakImage::random(
            rng, m_settings.nFlashSize, bThrottle ? qMin(m_settings.nMaxImageBytes, 8192) : m_settings.nMaxImageBytes));
    m_faults = randomFaults(rng);
    const bool bNoCompress = rng.bounded(4) == 0;
    static const char *const rates[] = {"0", "0", "115200", "460800", "921600", "9600"};
    const QString sBaud = bThrottle ? QString::fromLatin1(rng.bounded(2) ? "921600" : "460800")
                                    : QString::fromLatin1(rates[rng.bounded(6)]);

    SimDrive drive;
    QStringList imagePaths;
    for (int i = 0; i < m_devices.size(); ++i) {
        const QString sName = QStringLiteral("flash%1-image.%2")
                                  .arg(m_devices[i])
                                  .arg(m_images[i].format() == SoakImage::Format::IntelHex ? QStringLiteral("hex")
                                                                                           : QStringLiteral("srec"));
        imagePaths << drive.writeFile(sName, m_images[i].fileText());
    }
    // Both devices get a memory file, so a write to the wrong one shows.
    const QStringList flashPaths{drive.filePath(QStringLiteral("flash0.bin")),
                                 drive.filePath(QStringLiteral("flash1.bin"))};
    QStringList simArgs{QStringLiteral("--flash0"),     flashPaths[0],
                        QStringLiteral("--flash1"),     flashPaths[1],
                        QStringLiteral("--flash-size"), QString::number(m_settings.nFlashSize)};
    if (bThrottle)
        simArgs << QStringLiteral("--throttle");
    if (nEraseMs > 0)
        simArgs << QStringLiteral("--erase-ms") << QString::number(nEraseMs);
    if (bPoweredOff)
        simArgs << QStringLiteral("--powered-off");
    for (const QString &sFault : m_faults)
        simArgs << QStringLiteral("--fault") << sFault;
    m_simArgs = simArgs.mid(6);
    if (imagePaths.contains(QString()) || !drive.start(simArgs)) {
        m_sMessage = QStringLiteral("simulator did not start");
        m_sDetail = drive.errorString();
        m_nElapsedMs = timer.elapsed();
        return Outcome::HarnessError;
    }

    m_cliArgs = QStringList{QStringLiteral("program"),
                            QStringLiteral("--port"),
                            drive.portName(),
                            QStringLiteral("--boot"),
                            bPoweredOff ? QStringLiteral("off") : QStringLiteral("mon"),
                            QStringLiteral("--baud"),
                            sBaud};
    for (int i = 0; i < m_devices.size(); ++i)
        m_cliArgs << QStringLiteral("--flash%1").arg(m_devices[i]) << imagePaths[i];
    if (bNoCompress)
        m_cliArgs << QStringLiteral("--no-compress");
    // A powered-off drive that never wakes must not hold the run for ever.
    if (bPoweredOff)
        m_cliArgs << QStringLiteral("--wake-timeout") << QStringLiteral("20");
    QProcess cli;
    cli.start(m_settings.sCliPath, m_cliArgs);
    cli.closeWriteChannel();
    const bool bStarted = cli.waitForStarted(10000);
    const bool bFinished = bStarted && cli.waitForFinished(m_settings.nDeadlineMs);
    if (!bFinished && bStarted) {
        cli.kill();
        cli.waitForFinished(10000);
    }
    const QByteArray cliOut = cli.readAllStandardOutput();
    const QByteArray cliErr = cli.readAllStandardError();
    const bool bSimStopped = drive.stop();
    m_nElapsedMs = timer.elapsed();

    if (!bStarted) {
        m_sMessage = QStringLiteral("servoprog-cli did not start");
        m_sDetail = cli.errorString();
        return Outcome::HarnessError;
    }
    if (!bFinished) {
        m_sMessage = QStringLiteral("no result after %1 s").arg(m_settings.nDeadlineMs / 1000);
        m_sDetail = keep(imagePaths, drive.logFilePath(), cliOut, cliErr);
        return Outcome::Hang;
    }
    const bool bReportedSuccess = cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0;
    if (!bReportedSuccess) {
        // The first line of standard error, skipping the operator prompt
        // that a powered-off start prints before anything goes wrong.
        QStringList lines = QString::fromLocal8Bit(cliErr).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        while (lines.size() > 1 && lines.first().startsWith(QLatin1String("Switch the drive on")))
            lines.removeFirst();
        m_sMessage = lines.isEmpty() ? QStringLiteral("(exit code %1, nothing on stderr)").arg(cli.exitCode())
                                     : lines.first().trimmed();
        if (cli.exitStatus() != QProcess::NormalExit)
            m_sMessage = QStringLiteral("servoprog-cli crashed: ") + m_sMessage;
        if (m_faults.isEmpty())
            m_sDetail = keep(imagePaths, drive.logFilePath(), cliOut, cliErr);
        return Outcome::Failure;
    }

    // The tool says the flash holds the image: check every byte of the device.
    if (!bSimStopped) {
        m_sMessage = QStringLiteral("simulator did not stop cleanly");
        m_sDetail = drive.errorString();
        return Outcome::HarnessError;
    }
    QStringList differences;
    for (int nDevice = 0; nDevice < 2; ++nDevice) {
        QFile flashFile(flashPaths[nDevice]);
        if (!flashFile.open(QIODevice::ReadOnly)) {
            m_sMessage = QStringLiteral("simulator wrote no flash file for Flash%1").arg(nDevice);
            return Outcome::HarnessError;
        }
        const QByteArray flash = flashFile.readAll();
        const int nImage = int(m_devices.indexOf(nDevice));
        // A device without an image must still be erased everywhere.
        const QByteArray expected = nImage >= 0 ? m_images[nImage].expectedFlash(m_settings.nFlashSize)
                                                : QByteArray(qsizetype(m_settings.nFlashSize), char(0xFF));
        if (flash == expected)
            continue;
        qsizetype nFirst = -1;
        qsizetype nDiffer = 0;
        for (qsizetype i = 0; i < qMin(flash.size(), expected.size()); ++i) {
            if (flash[i] != expected[i]) {
                if (nFirst < 0)
                    nFirst = i;
                ++nDiffer;
            }
        }
        differences << QStringLiteral("Flash%1: %2 byte(s) differ, first at 0x%3 (flash 0x%4, expected 0x%5), "
                                      "file %6 bytes")
                           .arg(nDevice)
                           .arg(nDiffer)
                           .arg(nFirst, 0, 16)
                           .arg(nFirst >= 0 ? quint8(flash[nFirst]) : 0, 2, 16, QLatin1Char('0'))
                           .arg(nFirst >= 0 ? quint8(expected[nFirst]) : 0, 2, 16, QLatin1Char('0'))
                           .arg(flash.size());
    }
    if (differences.isEmpty())
        return Outcome::Success;
    m_sMessage = QStringLiteral("flash differs from the image");
    m_sDetail = differences.join(QStringLiteral("; ")) + QStringLiteral("; ")
                + keep(imagePaths, drive.logFilePath(), cliOut, cliErr);
    return Outcome::FalseSuccess;
}

QString SoakRun::describeImages() const
{
    QStringList parts;
    for (int i = 0; i < m_devices.size(); ++i)
        parts << QStringLiteral("Flash%1 %2").arg(m_devices[i]).arg(m_images[i].describe());
    return parts.join(QStringLiteral("; "));
}

QString SoakRun::keep(const QStringList &imagePaths, const QString &sLogPath, const QByteArray &cliOut,
                      const QByteArray &cliErr) const
{
    if (m_settings.sKeepDir.isEmpty())
        return QString();
    const QString sDir =
        QDir(m_settings.sKeepDir).filePath(QStringLiteral("run-%1").arg(m_nIndex, 4, 10, QLatin1Char('0')));
    QDir().mkpath(sDir);
    for (const QString &sImagePath : imagePaths)
        QFile::copy(sImagePath, QDir(sDir).filePath(QFileInfo(sImagePath).fileName()));
    QFile::copy(sLogPath, QDir(sDir).filePath(QStringLiteral("sim.log")));
    QFile out(QDir(sDir).filePath(QStringLiteral("cli.txt")));
    if (out.open(QIODevice::WriteOnly)) {
        out.write("seed: " + QByteArray::number(m_nSeed) + "\nimages: " + describeImages().toUtf8()
                  + "\nfaults: " + m_faults.join(QLatin1Char(' ')).toUtf8()
                  + "\nservoprog-sim options: " + m_simArgs.join(QLatin1Char(' ')).toUtf8() + "\nservoprog-cli "
                  + m_cliArgs.join(QLatin1Char(' ')).toUtf8() + "\n--- stdout\n" + cliOut + "--- stderr\n" + cliErr);
    }
    return QStringLiteral("kept in ") + sDir;
}
