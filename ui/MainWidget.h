#ifndef MAINWIDGET_H
#define MAINWIDGET_H

#include <QWidget>

namespace Ui {
class MainWidget;
}

class QThread;
class UpdateWorker;

// The main window: programming list, connection settings, start option,
// progress and info panel. The widget tree comes from MainWidget.ui.
class MainWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

public slots:
    void UpdateProgressSteps(int steps);

private slots:
    void doProcessArgs();

private:
    void setControlsEnabled(bool b);
    void updateWindowTitle();

    Ui::MainWidget *ui;
    UpdateWorker *pWorker;   // running update's worker, not owned; null when idle
    QThread *pThread;        // its thread, not owned; null when idle
    int nSteps;
    int nStep;
};

// Registers the compiled-in icons; safe to call more than once.
void servoprogInitResources();

#endif // MAINWIDGET_H
