// MainWidget: construction, connection settings, start, progress, language
// and closing. The programming list is in MainWidgetPgmList.cpp, the command
// line in MainWidgetArgs.cpp.
#include "MainWidget.h"
#include "ui_MainWidget.h"

#include "AppLanguage.h"
#include "FileKind.h"
#include "LabelElider.h"
#include "PortDiscovery.h"
#include "ServoprogVersion.h"

#include <QCloseEvent>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// A device path that names a terminal (a serial line, a pseudo-terminal of
// the simulated drive, a /dev/serial/by-id link). Such a port is accepted on
// the command line even when discovery did not list it.
bool isTerminalDevice(const QString &sPath)
{
#ifdef Q_OS_UNIX
    if (!sPath.startsWith(QLatin1Char('/')) || fileKindOf(sPath) != FileKind::CharDevice)
        return false;
    // Opening without blocking and without becoming its controlling
    // terminal is the only portable way to ask whether it is a tty.
    const int fd = ::open(QFile::encodeName(sPath).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool bTerminal = ::isatty(fd) == 1;
    ::close(fd);
    return bTerminal;
#else
    Q_UNUSED(sPath);
    return false;
#endif
}

} // namespace

// The rates offered in comboBoxBaudrate, filled once from the serial layer.
static QVector<uint32_t> baudRateList;

MainWidget::MainWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::MainWidget), nSteps(0), nStep(0), bCloseWhenFinished(false)
{
    // The icons come from a static library: registered before the form uses them.
    Q_INIT_RESOURCE(servoprog_icons);
    ui->setupUi(this);

    ui->toolButtonPgmAddFile->setDefaultAction(ui->actionPgmAddFile);
    ui->toolButtonPgmAddEntry->setDefaultAction(ui->actionPgmAddEntry);
    ui->toolButtonPgmRemoveEntry->setDefaultAction(ui->actionPgmRemoveEntry);
    ui->toolButtonPgmClearEntries->setDefaultAction(ui->actionPgmClearEntries);
    ui->toolButtonDE->setDefaultAction(ui->actionDE);
    ui->toolButtonEN->setDefaultAction(ui->actionEN);

    ui->tableWidgetPgmImages->setContextMenuPolicy(Qt::ActionsContextMenu);
    ui->tableWidgetPgmImages->addActions(
        {ui->actionPgmAddFile, ui->actionPgmAddEntry, ui->actionPgmRemoveEntry, ui->actionPgmClearEntries});
    connect(ui->tableWidgetPgmImages->model(), &QAbstractItemModel::rowsRemoved, this, &MainWidget::dropStaleImageInfo);

    ui->comboBoxPort->addItems(portList());

    baudRateList = baudRates();
    fillBaudrateCombo();

    // Updating from a running firmware is not offered; the drive has to be
    // caught at power-on or already sit in its boot monitor.
    ui->radioButtonRunningFW->setEnabled(false);
    ui->radioButtonPoweredOffDevice->setChecked(true);

    // Firmware information (a line of up to 40 characters), file names and
    // the longer German texts must not widen the window.
    for (QLabel *label : {ui->labelInfoFlashHeader1, ui->labelInfoFlash1, ui->labelInfoFlashHeader2,
                          ui->labelInfoFlash2, ui->labelProgressStep, ui->labelProgressFile})
        LabelElider::install(label);

    updateWindowTitle();
    setControlsEnabled(true);
    resetProgress(); // the form's progress texts are placeholders
    connectRun();

    // The command line is read once the event loop runs and the window shows.
    QTimer::singleShot(0, this, &MainWidget::doProcessArgs);
}

MainWidget::~MainWidget()
{
    // Last resort when the window goes without a close event (the
    // application quit while a run was active): stop the worker and let its
    // thread end before anything it reports to is gone.
    run.cancelAndWait();
    delete ui;
}

// ---- state ------------------------------------------------------------------

void MainWidget::updateWindowTitle()
{
    setWindowTitle(tr("Programming tool AC Servo Drive V%1").arg(QLatin1String(kVersionText)));
}

void MainWidget::setControlsEnabled(bool b)
{
    ui->tabWidgetFunction->setEnabled(b);
    ui->groupBoxConnection->setEnabled(b);
    ui->groupBoxStartOptions->setEnabled(b);
    ui->pushButtonStart->setEnabled(b);
    ui->pushButtonCancel->setEnabled(!b);
}

void MainWidget::resetProgress()
{
    ui->labelProgressStep->setText(QString());
    ui->labelProgressFile->setText(QString());
    UpdateProgressSteps(0);
    UpdateProgressValue(0);
}

// ---- connection settings ----------------------------------------------------

QStringList MainWidget::portList()
{
    return ::portList();
}

// A port given on the command line that discovery does not list (a
// pseudo-terminal, a device reached through a link) stays in the list while
// it exists, and the port chosen before stays chosen when it is still there.
void MainWidget::on_pushButtonRefreshPorts_clicked()
{
    QComboBox *combo = ui->comboBoxPort;
    const QString sCurrent = combo->currentText();
    combo->clear();
    combo->addItems(portList());
    if (!sExtraPort.isEmpty() && combo->findText(sExtraPort) < 0 && isTerminalDevice(sExtraPort))
        combo->addItem(sExtraPort);
    combo->setCurrentText(sCurrent); // not listed any more: the first port
}

bool MainWidget::selectPort(const QString &sPort)
{
    QComboBox *combo = ui->comboBoxPort;
    const int nListed = combo->findText(sPort, Qt::MatchFixedString); // ignores case
    if (nListed >= 0) {
        combo->setCurrentIndex(nListed);
        return true;
    }
    if (!isTerminalDevice(sPort))
        return false;
    combo->addItem(sPort);
    combo->setCurrentIndex(combo->count() - 1);
    sExtraPort = sPort;
    return true;
}

void MainWidget::fillBaudrateCombo()
{
    QList<QPair<QString, QVariant>> items;
    for (const uint32_t nRate : std::as_const(baudRateList))
        items.append({nRate == 0 ? tr("auto") : QStringLiteral("%1").arg(nRate), QVariant::fromValue<uint>(nRate)});
    fillComboItems(ui->comboBoxBaudrate, items);
}

// ---- start --------------------------------------------------------------------

void MainWidget::on_pushButtonStart_clicked()
{
    startProgramming();
}

int MainWidget::confirmStartOption()
{
    if (ui->radioButtonPoweredOffDevice->isChecked()) {
        const auto answer =
            QMessageBox::information(this, tr("Info"), tr("Power off device, press ok and turn on device"),
                                     QMessageBox::Ok | QMessageBox::Cancel);
        return answer == QMessageBox::Cancel ? -1 : PoweredOff;
    }
    if (ui->radioButtonRunningFW->isChecked())
        return RunningFirmware;
    const auto answer =
        QMessageBox::question(this, tr("Check"),
                              tr("Please check whether the LED's Fault/Störung, Ready/Bereit, and Overload/Überlast "
                                 "at the front panel are flashing."),
                              QMessageBox::Yes | QMessageBox::No);
    return answer == QMessageBox::No ? -1 : RunningMonitor;
}

void MainWidget::startProgramming()
{
    if (run.isRunning())
        return;
    QVector<PgmEntry> jobs;
    if (!buildJobList(&jobs))
        return;
    // What the last run reported must not pass for this one's.
    resetProgress();
    const int nBootType = confirmStartOption();
    if (nBootType < 0)
        return;

    BaseParams params;
    params.sPort = ui->comboBoxPort->currentText();
    params.nBaudrate = ui->comboBoxBaudrate->currentData(Qt::UserRole).toUInt();
    params.nBootType = nBootType;

    setControlsEnabled(false);
    // The port decides the transport: a listed converter of the FTDI layer
    // gets the FTDI transport, every serial port or device path the COM-port
    // one.
    run.start(params, jobs);
}

// The run sends on the worker's signals in this thread, in the order the
// worker emitted them; finished() comes once the worker's thread has ended.
void MainWidget::connectRun()
{
    connect(&run, &UpdateRun::ProgressState, this, &MainWidget::UpdateProgressState);
    connect(&run, &UpdateRun::ProgressFile, this, &MainWidget::UpdateProgressFile);
    connect(&run, &UpdateRun::ProgressValue, this, &MainWidget::UpdateProgressValue);
    connect(&run, &UpdateRun::ProgressSteps, this, &MainWidget::UpdateProgressSteps);
    connect(&run, &UpdateRun::ProgressStep, this, &MainWidget::UpdateProgressStep);
    connect(&run, &UpdateRun::ProgressInfoText, this, &MainWidget::UpdateInfoText);
    connect(&run, &UpdateRun::ShowCritical, this, &MainWidget::UpdateShowCritical);
    connect(&run, &UpdateRun::finished, this, &MainWidget::UpdateFinished);
}

void MainWidget::on_pushButtonCancel_clicked()
{
    run.cancel();
}

// ---- progress -------------------------------------------------------------------

void MainWidget::UpdateProgressState(QString sState)
{
    ui->labelProgressStep->setText(sState);
}

void MainWidget::UpdateProgressFile(QString sFile)
{
    ui->labelProgressFile->setText(sFile);
}

void MainWidget::UpdateProgressSteps(int steps)
{
    nStep = 0;
    ui->progressBarTotal->setValue(0);
    nSteps = steps >= 2 ? steps : 0;
    ui->progressBarTotal->setEnabled(steps >= 2);
}

void MainWidget::UpdateProgressStep()
{
    if (nSteps >= 1 && nStep < nSteps)
        ++nStep;
}

void MainWidget::UpdateProgressValue(int value)
{
    ui->progressBarProgress->setValue(value);
    int total = 0;
    if (nSteps != 0) {
        const int lo = (100 * (nStep - 1)) / nSteps;
        const int hi = (100 * nStep) / nSteps;
        total = lo + ((hi - lo) * value) / 100;
    }
    ui->progressBarTotal->setValue(qBound(0, total, 100));
}

void MainWidget::UpdateInfoText(int nInfo, QString sInfo)
{
    if (nInfo == 0)
        sInfoImage.clear(); // the panel now shows what the drive reported
    (nInfo != 0 ? ui->labelInfoFlash2 : ui->labelInfoFlash1)->setText(sInfo);
    updateInfoHeaders();
}

void MainWidget::UpdateShowCritical(QString title, QString text)
{
    QMessageBox::critical(this, title, text, QMessageBox::Ok);
}

void MainWidget::UpdateFinished()
{
    setControlsEnabled(true);
    if (bCloseWhenFinished) {
        // The worker's thread has ended; the window (and with it, maybe, the
        // application) may go.
        bCloseWhenFinished = false;
        close();
    }
}

// ---- closing ------------------------------------------------------------------------

void MainWidget::closeEvent(QCloseEvent *event)
{
    if (!run.isRunning()) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    if (bCloseWhenFinished)
        return; // already cancelling; the window closes when the worker stops
    const auto answer =
        QMessageBox::question(this, tr("Update running"),
                              tr("An update is running. Stopping it now can leave the drive's flash half-written.\n"
                                 "Cancel the update and close the window?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // The run may have ended while the question was open; if not, the window
    // closes once the worker has stopped.
    bCloseWhenFinished = run.isRunning();
    event->setAccepted(!bCloseWhenFinished);
    run.cancel();
}

// ---- language -------------------------------------------------------------------------

void MainWidget::on_actionDE_triggered()
{
    switchLanguage(QStringLiteral("de"));
}

void MainWidget::on_actionEN_triggered()
{
    switchLanguage(QStringLiteral("en"));
}

void MainWidget::switchLanguage(const QString &lang)
{
    installLanguage(lang);
}

void MainWidget::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        // The form's texts of the two progress labels are placeholders: what
        // the last run reported stays on screen in any language.
        const QString sStep = ui->labelProgressStep->text();
        const QString sFile = ui->labelProgressFile->text();
        ui->retranslateUi(this);
        ui->labelProgressStep->setText(sStep);
        ui->labelProgressFile->setText(sFile);
        retranslateDynamic();
    }
    QWidget::changeEvent(event);
}

void MainWidget::retranslateDynamic()
{
    updateWindowTitle();
    fillBaudrateCombo();
    updateInfoHeaders();
    retranslateRows();
}
