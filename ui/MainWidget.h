#ifndef MAINWIDGET_H
#define MAINWIDGET_H

#include "PgmEntry.h"
#include "UpdateRun.h"

#include <QPointer>
#include <QStringList>
#include <QVector>
#include <QWidget>

namespace Ui {
class MainWidget;
}

class ImageFile;
class QComboBox;
class QLineEdit;

// The main window: the programming list, the connection settings, the start
// option, progress and the info panel. The widget tree comes from
// MainWidget.ui; this class adds the behaviour. The window only prepares and
// follows an update: the work itself runs in an UpdateWorker in a thread of
// its own (an UpdateRun), reporting back through queued signals.
class MainWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

    // ---- programming list ---------------------------------------------------
    // Appends a row; offset and length < 0 are shown as empty cells.
    void addPgmRow(int memory, int operation, const QString &image, int offset, int length);
    // 0, or -1 when the row is out of range or a requested cell is missing.
    // Any out-pointer may be null.
    int readPgmRow(int row, int *memory, int *operation, QString *image, int *offset, int *length);
    // A negative row means the current row.
    void removePgmRow(int row);
    void applyRowOperation(int row);
    int rowOfCellWidget(QWidget *w);
    // One reading. type: 0 Intel HEX, 1 S-record, -1 unknown; lines: the
    // firmware information found from the lowest address on (empty when
    // there is none); reason: why the file was refused. 0 or -1.
    int examineImageFile(const QString &file, int *type, int *start, int *length, QStringList *lines = nullptr,
                         QString *reason = nullptr);
    // file null: the row's own image. Shows an error box on failure.
    int examineRowImage(int row, int memory, const QString *file);
    int selectRowImage(int row);
    // False: Start stops here (the reason has been shown).
    bool buildJobList(QVector<PgmEntry> *jobs);
    void fillMemoryCombo(QComboBox *combo);
    void fillOperationCombo(QComboBox *combo);
    void updateInfoHeaders();

    // Why an image file was refused, for the detailed text of the error box:
    // the reader's own message as the reader words it, or what is wrong with
    // the path in the window's language.
    static QString imageRefusal(const ImageFile &image);

    // "0x%1" in lower-case hexadecimal; empty for a negative value.
    static QString formatNumber(int value);
    // "0x"-prefixed hexadecimal or decimal; -1 for an empty text, a text that
    // does not parse, or a value above 2147483647.
    static int parseNumber(const QString &text);

    // ---- command line -------------------------------------------------------
    // Applies a command line (first element: the program) to the window:
    // rows, port, start option, help and error boxes. doProcessArgs() runs
    // it once on the process's own arguments.
    void processArgs(const QStringList &arguments);
    // The help text shown for "-h"/"--help", in the current language.
    static QString helpText();
    // What a command line asks to have printed on standard output rather
    // than shown in the window: "--version", or the help ("-h", "--help"),
    // which is printed only where no window can be opened. Read as
    // processArgs() reads it: an option's value is never taken for an option.
    enum class PrintRequest
    {
        None,
        Help,
        Version
    };
    static PrintRequest printRequest(const QStringList &arguments);
    // The printed help: helpText() and the language option read at start-up.
    static QString printedHelpText();

    // ---- run ------------------------------------------------------------------
    bool isUpdateRunning() const { return run.isRunning(); }
    void switchLanguage(const QString &lang);

public slots:
    void UpdateProgressState(QString sState);
    void UpdateProgressFile(QString sFile);
    void UpdateProgressValue(int value);
    void UpdateProgressSteps(int steps);
    void UpdateProgressStep();
    void UpdateShowCritical(QString title, QString text);
    void UpdateInfoText(int nInfo, QString sInfo);
    void UpdateFinished();

protected:
    void changeEvent(QEvent *event) override;
    // Closing while an update runs asks first, and then closes only after
    // the worker has stopped: a running worker thread must not be torn down.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_actionPgmAddFile_triggered();
    void on_actionPgmAddEntry_triggered();
    void on_actionPgmRemoveEntry_triggered();
    void on_actionPgmClearEntries_triggered();
    void comboBoxFlashType_currentIndexChanged(int index);
    void comboBoxFlashOp_currentIndexChanged(int index);
    void toolButtonSelectImage_clicked();

    void on_pushButtonStart_clicked();
    void on_pushButtonCancel_clicked();
    void on_pushButtonRefreshPorts_clicked();
    void on_actionDE_triggered();
    void on_actionEN_triggered();
    void doProcessArgs();

private:
    void setControlsEnabled(bool b);
    void resetProgress();
    QStringList portList();
    void fillBaudrateCombo();
    // Retitles the items (text, data) the combo has and appends those it
    // lacks: after a language change its data and selection stay.
    static void fillComboItems(QComboBox *combo, const QList<QPair<QString, QVariant>> &items);
    int confirmStartOption();
    void startProgramming();
    void connectRun();
    void updateWindowTitle();
    void retranslateDynamic();
    // Selects the port entry that equals sPort ignoring case; a device path
    // that is a terminal is added first when it is not listed. False when
    // the port is neither listed nor such a device.
    bool selectPort(const QString &sPort);
    // Why a port given on the command line cannot be selected, and the ports
    // the list offers, in the headless tool's words.
    QString portRefusal(const QString &sPort) const;
    // Clears labelInfoFlash1 when the row whose image filled it is gone.
    void dropStaleImageInfo();
    void retranslateRows();
    // The image line edit of a row's Image cell, or its Offset or Length
    // edit; null when the cell is missing.
    QLineEdit *rowEdit(int row, int column) const;

    Ui::MainWidget *ui;
    UpdateRun run;                      // the update, while one runs; stopped and waited for on destruction
    int nSteps;                         // steps announced by the worker; 0 when fewer than 2
    int nStep;                          // current step, 0..nSteps
    bool bCloseWhenFinished;            // the operator closed the window during a run
    QPointer<QLineEdit> pInfoImageEdit; // the image cell whose file filled labelInfoFlash1
    QString sInfoImage;                 // that file; empty when labelInfoFlash1 shows no row's image
    QString sExtraPort;                 // a device given with -P that discovery does not list
};

#endif // MAINWIDGET_H
