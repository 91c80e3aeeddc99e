#include "MainWidget.h"
#include "ui_MainWidget.h"

#include <QTimer>

// The version shown in the title bar; not translated.
static const char *const sVersionText = "0.0.6 beta02";

void servoprogInitResources()
{
    static bool bDone = false;
    if (!bDone) {
        Q_INIT_RESOURCE(servoprog_icons);
        bDone = true;
    }
}

MainWidget::MainWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::MainWidget), pWorker(nullptr), pThread(nullptr), nSteps(0), nStep(0)
{
    servoprogInitResources();
    ui->setupUi(this);

    ui->toolButtonPgmAddFile->setDefaultAction(ui->actionPgmAddFile);
    ui->toolButtonPgmAddEntry->setDefaultAction(ui->actionPgmAddEntry);
    ui->toolButtonPgmRemoveEntry->setDefaultAction(ui->actionPgmRemoveEntry);
    ui->toolButtonPgmClearEntries->setDefaultAction(ui->actionPgmClearEntries);
    ui->toolButtonDE->setDefaultAction(ui->actionDE);
    ui->toolButtonEN->setDefaultAction(ui->actionEN);

    ui->tableWidgetPgmImages->setContextMenuPolicy(Qt::ActionsContextMenu);
    ui->tableWidgetPgmImages->addAction(ui->actionPgmAddFile);
    ui->tableWidgetPgmImages->addAction(ui->actionPgmAddEntry);
    ui->tableWidgetPgmImages->addAction(ui->actionPgmRemoveEntry);
    ui->tableWidgetPgmImages->addAction(ui->actionPgmClearEntries);

    ui->progressBarProgress->setRange(0, 100);
    ui->progressBarProgress->setValue(0);

    // Updating from a running firmware is not offered; the drive has to be
    // caught at power-on or already sit in its boot monitor.
    ui->radioButtonRunningFW->setEnabled(false);
    ui->radioButtonPoweredOffDevice->setChecked(true);

    ui->labelProgressFile->setText(QString());
    ui->labelProgressStep->setText(QString());

    updateWindowTitle();
    setControlsEnabled(true);
    UpdateProgressSteps(0);

    // The command line is read once the event loop runs and the window shows.
    QTimer::singleShot(0, this, &MainWidget::doProcessArgs);
}

MainWidget::~MainWidget()
{
    delete ui;
}

void MainWidget::updateWindowTitle()
{
    setWindowTitle(tr("Programming tool AC Servo Drive V%1").arg(QLatin1String(sVersionText)));
}

void MainWidget::setControlsEnabled(bool b)
{
    ui->tabWidgetFunction->setEnabled(b);
    ui->groupBoxConnection->setEnabled(b);
    ui->groupBoxStartOptions->setEnabled(b);
    ui->pushButtonStart->setEnabled(b);
    ui->pushButtonCancel->setEnabled(!b);
}

void MainWidget::UpdateProgressSteps(int steps)
{
    nStep = 0;
    ui->progressBarTotal->setValue(0);
    nSteps = steps >= 2 ? steps : 0;
    ui->progressBarTotal->setEnabled(steps >= 2);
}

void MainWidget::doProcessArgs()
{
}
