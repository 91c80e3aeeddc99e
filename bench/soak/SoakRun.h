#ifndef SERVOPROG_SOAK_RUN_H
#define SERVOPROG_SOAK_RUN_H

// One soak run: a fresh simulated drive (erased flash devices, random
// faults), one "servoprog-cli program" of a random image for Flash0, Flash1
// or both, with a deadline, and, when the tool reports success, the drive's
// flash files compared with the images.

#include "SoakImage.h"

#include <QString>
#include <QStringList>

struct SoakRunSettings
{
    QString sCliPath;
    quint32 nFlashSize = 0x800000;
    int nMaxImageBytes = 40 * 1024;
    int nDeadlineMs = 60000;
    QString sKeepDir; // non-empty: copy the files of notable runs here
};

class SoakRun
{
public:
    enum class Outcome
    {
        Success,      // tool reported success and the flash holds exactly the image
        Failure,      // tool reported a failure (sMessage: first line of its stderr)
        Hang,         // tool still running at the deadline; killed
        FalseSuccess, // tool reported success but the flash differs
        HarnessError  // the simulator could not be started or stopped
    };

    SoakRun(int nIndex, quint64 nSeed, const SoakRunSettings &settings);

    Outcome execute();

    int index() const { return m_nIndex; }
    quint64 seed() const { return m_nSeed; }
    const QString &message() const { return m_sMessage; }
    const QString &detail() const { return m_sDetail; }
    const QStringList &faults() const { return m_faults; }
    const QStringList &cliArguments() const { return m_cliArgs; }
    // Simulator options of the run besides its flash file and log.
    const QStringList &simArguments() const { return m_simArgs; }
    // The images with their devices, as one line ("Flash0 ihex ...").
    QString describeImages() const;
    qint64 elapsedMs() const { return m_nElapsedMs; }

private:
    QStringList randomFaults(QRandomGenerator &rng) const;
    // Copies the run's files to the keep folder (when set) and returns the
    // folder ("" when not kept).
    QString keep(const QStringList &imagePaths, const QString &sLogPath, const QByteArray &cliOut,
                 const QByteArray &cliErr) const;

    int m_nIndex;
    quint64 m_nSeed;
    SoakRunSettings m_settings;
    QList<int> m_devices;      // 0 = Flash0, 1 = Flash1, ascending
    QList<SoakImage> m_images; // one per entry of m_devices
    QStringList m_faults;
    QStringList m_cliArgs;
    QStringList m_simArgs;
    QString m_sMessage;
    QString m_sDetail;
    qint64 m_nElapsedMs = 0;
};

#endif
