// MainWidget: the programming list. Each row of tableWidgetPgmImages is one
// job; every cell holds a widget made by addPgmRow().
#include "MainWidget.h"
#include "ui_MainWidget.h"

#include "FWInfoHex.h"
#include "ImageFile.h"
#include "QAdrLineEdit.h"
#include "QExtComboBox.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QToolButton>

namespace {

enum Column
{
    ColMemory = 0,
    ColOperation = 1,
    ColImage = 2,
    ColOffset = 3,
    ColLength = 4
};

const char *const sImageEditName = "lineEditImage";
const char *const sImageButtonName = "toolButtonSelImage";
const char *const sImageButtonIcon = ":/icons/16x16/document-new-3.png";

// Flash0 images from this address on carry the software and its firmware
// information block.
const int nSoftwareAreaStart = 0x300000;

// 0 for the flash group, 1 for the EEPROM group, -1 for any other code.
int memoryGroup(int memory)
{
    if (memory == Flash0 || memory == Flash1)
        return 0;
    return memory == Eeprom0 || memory == Eeprom1 ? 1 : -1;
}

// Item data of the combo's entry at index; -1 for no entry.
int itemCode(const QComboBox *combo, int index)
{
    return index < 0 ? -1 : combo->itemData(index, Qt::UserRole).toInt();
}

// Puts a filled combo box into a cell of the list, showing the entry whose
// code is nCode (the first entry when none has it).
void placeCombo(QTableWidget *table, int r, int column, QComboBox *combo, int nCode)
{
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    const int nIndex = combo->findData(nCode, Qt::UserRole);
    if (nIndex >= 0)
        combo->setCurrentIndex(nIndex);
    table->setCellWidget(r, column, combo);
}

} // namespace

// ---- numbers ----------------------------------------------------------------------

QString MainWidget::formatNumber(int value)
{
    return value < 0 ? QString() : QStringLiteral("0x%1").arg(value, 0, 16);
}

int MainWidget::parseNumber(const QString &text)
{
    bool bOk = false; // false for an empty text too
    const qlonglong value =
        text.startsWith(QLatin1String("0x")) ? text.mid(2).toLongLong(&bOk, 16) : text.toLongLong(&bOk, 10);
    if (!bOk || value < 0 || value > 2147483647LL)
        return -1;
    return int(value);
}

// ---- rows ---------------------------------------------------------------------------

void MainWidget::fillComboItems(QComboBox *combo, const QList<QPair<QString, QVariant>> &items)
{
    for (int i = 0; i < items.size(); ++i) {
        if (i < combo->count())
            combo->setItemText(i, items.at(i).first);
        else
            combo->addItem(items.at(i).first, items.at(i).second);
    }
}

void MainWidget::fillMemoryCombo(QComboBox *combo)
{
    fillComboItems(combo, {{tr("Flash0 (HW/FW)"), Flash0}, {tr("Flash1 (SW PN)"), Flash1}});
}

void MainWidget::fillOperationCombo(QComboBox *combo)
{
    fillComboItems(combo, {{tr("Program"), Program}});
}

QLineEdit *MainWidget::rowEdit(int row, int column) const
{
    QWidget *cell = ui->tableWidgetPgmImages->cellWidget(row, column);
    if (column == ColImage)
        return cell ? cell->findChild<QLineEdit *>(QLatin1String(sImageEditName)) : nullptr;
    return qobject_cast<QLineEdit *>(cell);
}

void MainWidget::addPgmRow(int memory, int operation, const QString &image, int offset, int length)
{
    QTableWidget *table = ui->tableWidgetPgmImages;
    const int r = table->rowCount();
    table->setRowCount(r + 1);

    auto *memoryCombo = new QExtComboBox;
    fillMemoryCombo(memoryCombo);
    placeCombo(table, r, ColMemory, memoryCombo, memory);
    connect(memoryCombo, &QComboBox::currentIndexChanged, this, &MainWidget::comboBoxFlashType_currentIndexChanged);

    auto *operationCombo = new QComboBox;
    fillOperationCombo(operationCombo);
    placeCombo(table, r, ColOperation, operationCombo, operation);
    connect(operationCombo, &QComboBox::currentIndexChanged, this, &MainWidget::comboBoxFlashOp_currentIndexChanged);

    auto *imageEdit = new QLineEdit(image);
    imageEdit->setObjectName(QLatin1String(sImageEditName));
    imageEdit->setFrame(false);
    imageEdit->setReadOnly(true);
    connect(imageEdit, &QLineEdit::textChanged, this, &MainWidget::dropStaleImageInfo);
    auto *imageButton = new QToolButton;
    imageButton->setObjectName(QLatin1String(sImageButtonName));
    imageButton->setToolTip(tr("Select image file"));
    imageButton->setIcon(QIcon(QLatin1String(sImageButtonIcon)));
    connect(imageButton, &QToolButton::clicked, this, &MainWidget::toolButtonSelectImage_clicked);
    auto *imageCell = new QWidget;
    auto *imageLayout = new QHBoxLayout(imageCell);
    imageLayout->setSpacing(3);
    imageLayout->setContentsMargins(0, 0, 0, 0);
    imageLayout->addWidget(imageEdit);
    imageLayout->addWidget(imageButton);
    table->setCellWidget(r, ColImage, imageCell);

    static const QRegularExpression numberPattern(QStringLiteral("^0x[0-9a-fA-F]{1,8}$|^\\d\\d{0,9}$"));
    for (const auto &[column, value] : {std::pair{ColOffset, offset}, std::pair{ColLength, length}}) {
        auto *edit = new QAdrLineEdit(formatNumber(value));
        edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        edit->setValidator(new QRegularExpressionValidator(numberPattern, edit));
        edit->setFrame(false);
        table->setCellWidget(r, column, edit);
    }

    applyRowOperation(r);

    table->setVerticalHeaderItem(r, new QTableWidgetItem(QStringLiteral("%1").arg(table->rowCount())));
    table->resizeRowsToContents();

    if (table->rowCount() == 1) {
        table->resizeColumnsToContents();
        const int nSpare = table->contentsRect().width() - 20 - table->horizontalHeader()->length();
        if (nSpare > 0)
            table->setColumnWidth(ColImage, table->columnWidth(ColImage) + nSpare);
    }
}

// After a language change the Memory and Operation cells are retitled and
// may need more room than the first row gave them; the Image column gives it
// up where it can.
void MainWidget::retranslateRows()
{
    QTableWidget *table = ui->tableWidgetPgmImages;
    for (QWidget *button : table->findChildren<QWidget *>(QLatin1String(sImageButtonName)))
        button->setToolTip(tr("Select image file"));
    for (int column : {ColMemory, ColOperation}) {
        int nNeeded = 0;
        for (int row = 0; row < table->rowCount(); ++row) {
            auto *combo = qobject_cast<QComboBox *>(table->cellWidget(row, column));
            if (!combo)
                continue;
            if (column == ColMemory)
                fillMemoryCombo(combo);
            else
                fillOperationCombo(combo);
            nNeeded = qMax(nNeeded, combo->sizeHint().width());
        }
        const int nMore = nNeeded - table->columnWidth(column);
        if (nMore <= 0)
            continue;
        table->setColumnWidth(column, nNeeded);
        const int nImage = table->columnWidth(ColImage);
        table->setColumnWidth(ColImage, qMax(nImage / 2, nImage - nMore));
    }
}

int MainWidget::readPgmRow(int row, int *memory, int *operation, QString *image, int *offset, int *length)
{
    QTableWidget *table = ui->tableWidgetPgmImages;
    if (row < 0 || row >= table->rowCount())
        return -1;
    auto *memoryCombo = qobject_cast<QComboBox *>(table->cellWidget(row, ColMemory));
    auto *operationCombo = qobject_cast<QComboBox *>(table->cellWidget(row, ColOperation));
    QLineEdit *imageEdit = rowEdit(row, ColImage);
    QLineEdit *offsetEdit = rowEdit(row, ColOffset);
    QLineEdit *lengthEdit = rowEdit(row, ColLength);
    if ((memory && !memoryCombo) || (operation && !operationCombo) || (image && !imageEdit) || (offset && !offsetEdit)
        || (length && !lengthEdit))
        return -1;
    if (memory)
        *memory = itemCode(memoryCombo, memoryCombo->currentIndex());
    if (operation)
        *operation = itemCode(operationCombo, operationCombo->currentIndex());
    if (image)
        *image = imageEdit->text();
    if (offset)
        *offset = parseNumber(offsetEdit->text());
    if (length)
        *length = parseNumber(lengthEdit->text());
    return 0;
}

void MainWidget::removePgmRow(int row)
{
    QTableWidget *table = ui->tableWidgetPgmImages;
    if (row < 0)
        row = table->currentRow();
    if (row < 0 || row >= table->rowCount())
        return;
    table->removeRow(row);
    for (int k = row; k < table->rowCount(); ++k)
        table->setVerticalHeaderItem(k, new QTableWidgetItem(QStringLiteral("%1").arg(k + 1)));
}

void MainWidget::applyRowOperation(int row)
{
    // A row out of range has no cells.
    QTableWidget *table = ui->tableWidgetPgmImages;
    auto *operationCombo = qobject_cast<QComboBox *>(table->cellWidget(row, ColOperation));
    if (!operationCombo)
        return;
    const int operation = itemCode(operationCombo, operationCombo->currentIndex());
    if (operation != Erase && operation != Program && operation != Read)
        return;
    const bool bNumbers = operation == Erase || operation == Read; // Offset and Length typed
    const bool bImage = operation == Program || operation == Read; // an image file chosen
    // The Image cell holds the line edit and its tool button: both follow it.
    for (int column : {ColImage, ColOffset, ColLength}) {
        if (QWidget *cell = table->cellWidget(row, column))
            cell->setEnabled(column == ColImage ? bImage : bNumbers);
    }
    resetProgress();
}

int MainWidget::rowOfCellWidget(QWidget *w)
{
    if (!w)
        return -1;
    QWidget *cell = w;
    if (qobject_cast<QToolButton *>(w) && w->parentWidget())
        cell = w->parentWidget();
    // Looked up by identity rather than by the widget's position on the
    // viewport: positions are only brought up to date by the next layout
    // pass, so right after a row was removed they would name the wrong row.
    QTableWidget *table = ui->tableWidgetPgmImages;
    for (int row = 0; row < table->rowCount(); ++row) {
        for (int column = 0; column < table->columnCount(); ++column) {
            if (table->cellWidget(row, column) == cell)
                return row;
        }
    }
    return -1;
}

void MainWidget::comboBoxFlashOp_currentIndexChanged(int)
{
    const int row = rowOfCellWidget(qobject_cast<QWidget *>(sender()));
    if (row >= 0)
        applyRowOperation(row);
}

void MainWidget::comboBoxFlashType_currentIndexChanged(int index)
{
    auto *combo = qobject_cast<QExtComboBox *>(sender());
    const int row = rowOfCellWidget(combo); // -1 for no combo
    if (row < 0)
        return;
    const int nOld = itemCode(combo, combo->nPrevIndex);
    const int nNew = itemCode(combo, index);
    if (memoryGroup(nOld) >= 0 && memoryGroup(nOld) == memoryGroup(nNew))
        return;
    // The image, offset and length of one memory group mean nothing to the other.
    for (int column : {ColImage, ColOffset, ColLength}) {
        if (QLineEdit *edit = rowEdit(row, column))
            edit->clear();
    }
}

void MainWidget::toolButtonSelectImage_clicked()
{
    const int row = rowOfCellWidget(qobject_cast<QWidget *>(sender()));
    if (row >= 0)
        selectRowImage(row);
}

void MainWidget::on_actionPgmAddEntry_triggered()
{
    addPgmRow(Flash0, Program, QString(), -1, -1);
}

void MainWidget::on_actionPgmAddFile_triggered()
{
    on_actionPgmAddEntry_triggered();
    const int r = ui->tableWidgetPgmImages->rowCount() - 1;
    if (selectRowImage(r) != 0)
        removePgmRow(r);
}

void MainWidget::on_actionPgmRemoveEntry_triggered()
{
    removePgmRow(-1);
}

void MainWidget::on_actionPgmClearEntries_triggered()
{
    ui->tableWidgetPgmImages->setRowCount(0);
}

// ---- examination ------------------------------------------------------------------------

QString MainWidget::imageRefusal(const ImageFile &image)
{
    const QString &sPath = image.path();
    switch (image.status()) {
    case ImageFile::NotRegular:
        switch (image.kind()) {
        case FileKind::Missing: return tr("%1: no such file").arg(sPath);
        case FileKind::Regular: return tr("%1: cannot be read").arg(sPath);
        case FileKind::Directory: return tr("%1 is not a regular file (it is a directory)").arg(sPath);
        case FileKind::Fifo: return tr("%1 is not a regular file (it is a FIFO or a pipe)").arg(sPath);
        case FileKind::CharDevice:
        case FileKind::BlockDevice: return tr("%1 is not a regular file (it is a device)").arg(sPath);
        default: return tr("%1 is not a regular file").arg(sPath);
        }
    case ImageFile::UnknownType:
        return tr("%1: neither an Intel HEX nor an S-record file (decided by its first four bytes)").arg(sPath);
    case ImageFile::NoMemory: return tr("%1: not enough memory").arg(sPath);
    case ImageFile::Malformed:
    case ImageFile::TooLarge: return image.messageLines().join(QLatin1Char('\n'));
    case ImageFile::Ok: break;
    }
    // A file cut short would be programmed as far as it goes: the reader's
    // words say where it ends, the first line what that means.
    if (!image.isComplete())
        return (QStringList{
                    tr("%1: the image is incomplete (%2); it is not programmed").arg(sPath, image.incompleteReason())}
                + image.messageLines())
            .join(QLatin1Char('\n'));
    if (image.count().nAbove > 0)
        return tr("%1: its data lie above 0x%2, outside the flash").arg(sPath).arg(HexConv::kExamineEnd, 0, 16);
    return tr("%1: the file holds no data").arg(sPath);
}

// A file without a single data byte has no address range to show and does
// not count as examined.
int MainWidget::examineImageFile(const QString &file, int *type, int *start, int *length, QStringList *lines,
                                 QString *reason)
{
    ImageFile image(file);
    if (type)
        *type = image.type() == HexConv::FileTypeIntelHex ? 0 : image.type() == HexConv::FileTypeSRecord ? 1 : -1;
    if (lines)
        lines->clear();
    const bool bLoaded = image.load(HexConv::kExamineBase, HexConv::kExamineEnd);
    image.printMessages();
    if (!bLoaded || !image.extent().bHasData || !image.isComplete()) {
        if (reason)
            *reason = imageRefusal(image);
        return -1;
    }
    if (start)
        *start = int(image.extent().nLowest);
    if (length)
        *length = int(image.length());
    if (lines)
        *lines = FWInfoHex::linesOf(image.converter());
    return 0;
}

int MainWidget::examineRowImage(int row, int memory, const QString *file)
{
    // A row out of range has no cells.
    QLineEdit *imageEdit = rowEdit(row, ColImage);
    const QString path = file ? *file : (imageEdit ? imageEdit->text() : QString());
    if (path.isEmpty())
        return -1;
    QLineEdit *offsetEdit = rowEdit(row, ColOffset);
    QLineEdit *lengthEdit = rowEdit(row, ColLength);
    if (!imageEdit || !offsetEdit || !lengthEdit)
        return -1;

    // One reading gives the range and, for Flash0, the firmware information.
    int start = -1;
    int length = -1;
    QStringList lines;
    QString sReason;
    if (examineImageFile(path, nullptr, &start, &length, memory == Flash0 ? &lines : nullptr, &sReason) == 0) {
        if (file) {
            imageEdit->setText(path);
            imageEdit->setToolTip(path);
        }
        offsetEdit->setText(formatNumber(start));
        lengthEdit->setText(formatNumber(length));
        if (start >= nSoftwareAreaStart && !lines.isEmpty()) {
            ui->labelInfoFlash1->setText(lines.join(QLatin1Char('\n')));
            pInfoImageEdit = imageEdit;
            sInfoImage = path;
            updateInfoHeaders();
        }
        return 0;
    }

    imageEdit->clear();
    imageEdit->setToolTip(QString());
    offsetEdit->clear();
    lengthEdit->clear();
    QMessageBox box(QMessageBox::Critical, tr("Error"),
                    tr("Row %1: examine image file failed. Image file not valid.").arg(row + 1), QMessageBox::Ok, this);
    box.setDetailedText(sReason);
    box.exec();
    return -1;
}

int MainWidget::selectRowImage(int row)
{
    QString image;
    int memory = -1;
    int operation = -1;
    if (readPgmRow(row, &memory, &operation, &image, nullptr, nullptr) != 0)
        return -1;
    const QString start = image.isEmpty() ? QString() : QFileInfo(image).absoluteFilePath();

    if (operation != Program && operation != Read)
        return -1;
    // The type of an image is read from its first bytes, whatever its name:
    // the dialog hides none of the files the window accepts.
    const QString sFilters = QStringList{tr("Flash files (*.flash *.hexout *.hex)"),
                                         tr("S-record files (*.srec *.s19 *.s28 *.s37 *.mot)"), tr("All files (*)")}
                                 .join(QLatin1String(";;"));
    // A Program row's image is read, a Read row's is written.
    const QString chosen = operation == Program
                               ? QFileDialog::getOpenFileName(this, tr("Select image file to flash"), start, sFilters)
                               : QFileDialog::getSaveFileName(this, tr("Select file to save"), start, sFilters);
    if (chosen.isEmpty())
        return -1;
    if (operation == Program)
        examineRowImage(row, memory, &chosen);
    else if (QLineEdit *edit = rowEdit(row, ColImage))
        edit->setText(chosen);
    return 0;
}

// labelInfoFlash1 describes the image of one row; once that row is gone, or
// holds another file, the panel would describe something not in the list.
// Runs whenever a row goes or an image cell's text changes.
void MainWidget::dropStaleImageInfo()
{
    if (sInfoImage.isEmpty())
        return;
    // A removed row's widgets are deleted later: ask the table whether the
    // row is still there.
    if (pInfoImageEdit && rowOfCellWidget(pInfoImageEdit->parentWidget()) >= 0 && pInfoImageEdit->text() == sInfoImage)
        return;
    pInfoImageEdit = nullptr;
    sInfoImage.clear();
    ui->labelInfoFlash1->clear();
    updateInfoHeaders();
}

void MainWidget::updateInfoHeaders()
{
    ui->labelInfoFlashHeader1->setText(ui->labelInfoFlash1->text().isEmpty() ? QString()
                                                                             : tr("Software image info:\n"));
    ui->labelInfoFlashHeader2->setText(ui->labelInfoFlash2->text().isEmpty() ? QString() : tr("Flash image info:\n"));
    // An empty column gives its room to the other: the panel is narrow.
    for (QLabel *label :
         {ui->labelInfoFlashHeader1, ui->labelInfoFlash1, ui->labelInfoFlashHeader2, ui->labelInfoFlash2})
        label->setVisible(!label->text().isEmpty());
}

// ---- job list ------------------------------------------------------------------------------

bool MainWidget::buildJobList(QVector<PgmEntry> *jobs)
{
    QTableWidget *table = ui->tableWidgetPgmImages;
    if (table->rowCount() == 0) {
        QMessageBox::critical(this, tr("Error"), tr("Nothing to do!"), QMessageBox::Ok);
        return false;
    }
    for (int r = 0; r < table->rowCount(); ++r) {
        PgmEntry entry;
        if (readPgmRow(r, &entry.nMemory, &entry.nOperation, &entry.sImage, &entry.nOffset, &entry.nLength) != 0)
            continue;
        const int operation = entry.nOperation;
        if (operation != Erase && operation != Program && operation != Read)
            continue; // a code without rules gives no job
        if (operation != Erase && entry.sImage.isEmpty()) {
            QMessageBox::critical(this, tr("Error"), tr("Row %1: no image file specified").arg(r + 1), QMessageBox::Ok);
            return false;
        }
        if (operation == Program) {
            // The file may have changed since it was chosen: measure it anew.
            if (examineRowImage(r, entry.nMemory, nullptr) != 0)
                return false;
            readPgmRow(r, nullptr, nullptr, nullptr, &entry.nOffset, &entry.nLength);
        } else if (entry.nOffset < 0 || entry.nLength < 0) { // Erase or Read
            const auto answer = QMessageBox::warning(
                this, tr("Confirm"), tr("Row %1: no offset or length defined. Use full device range?").arg(r + 1),
                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
            if (answer != QMessageBox::Ok)
                return false;
            entry.nOffset = 0;
            entry.nLength = -1;
        }
        entry.bCompress = operation != Erase;
        if (operation == Erase)
            entry.sImage.clear();
        jobs->append(entry);
    }
    return true;
}
