#ifndef UITESTUTIL_H
#define UITESTUTIL_H

// Helpers of the window tests: answering the window's modal dialogs, a fresh
// window per test.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "MainWidget.h"
#include "TestData.h"

// Answers the window's modal dialogs in order from planned answers (a button;
// a file dialog's path, empty to cancel) and records each as "title|text",
// with "\ninformative text" and "|detailed text" where a box has them, or as
// "title|filters". Without a plan: Ok, or cancel.
class ModalAnswerer : public QObject
{
public:
    ModalAnswerer() { startTimer(20); }
    QStringList plan;
    QStringList seen;
    QList<QMessageBox::Icon> icons;

private:
    void timerEvent(QTimerEvent *) override
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->property("answered").toBool())
            return;
        modal->setProperty("answered", true);
        const QString sAnswer = plan.isEmpty() ? QString() : plan.takeFirst();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen << box->windowTitle() + '|' + box->text()
                        + (box->informativeText().isEmpty() ? QString() : '\n' + box->informativeText())
                        + (box->detailedText().isEmpty() ? QString() : '|' + box->detailedText());
            icons << box->icon();
            QAbstractButton *button =
                box->button(sAnswer.isEmpty() ? QMessageBox::Ok : QMessageBox::StandardButton(sAnswer.toInt()));
            QMetaObject::invokeMethod(button ? static_cast<QObject *>(button) : box, button ? "click" : "reject",
                                      Qt::QueuedConnection);
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            seen << dialog->windowTitle() + '|' + dialog->nameFilters().join(';');
            icons << QMessageBox::NoIcon;
            // The name is typed too: selectFile() leaves a focused name field
            // alone. done(), as accept() waits for the dialog's file model.
            dialog->selectFile(sAnswer);
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(sAnswer);
            QMetaObject::invokeMethod(dialog, "done", Qt::QueuedConnection,
                                      Q_ARG(int, sAnswer.isEmpty() ? QDialog::Rejected : QDialog::Accepted));
        }
    }
};

// What both window tests share: a scratch folder, the window, its answerer.
class WindowTest : public QObject
{
protected:
    QTemporaryDir tmp;
    std::unique_ptr<MainWidget> window;
    std::unique_ptr<ModalAnswerer> modal;

    template <class T = QWidget> T *child(const QString &sName) const { return window->findChild<T *>(sName); }
    QString text(const char *sLabel) const { return child<QLabel>(sLabel)->text(); }

    // A fresh window on screen, with an answerer that has not seen the test
    // program's own command line.
    bool openWindow()
    {
        modal.reset(new ModalAnswerer);
        window.reset(new MainWidget);
        window->show();
        const bool bShown = QTest::qWaitForWindowExposed(window.get());
        QCoreApplication::processEvents(); // the window reads the command line once shown
        modal->seen.clear();
        modal->icons.clear();
        return bShown;
    }
};

#endif // UITESTUTIL_H
