#ifndef UITESTUTIL_H
#define UITESTUTIL_H

// Helpers of the window tests: answering the window's modal dialogs from the
// test, and image files made by srec_cat.

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "MainWidget.h"

// Answers every modal dialog the window opens, in order, from a queue of
// planned answers, and records what each one said. A message box without a
// planned answer gets Ok (or is rejected when it has no Ok button); a file
// dialog without one is cancelled.
class ModalAnswerer : public QObject
{
public:
    struct Seen
    {
        QString sKind; // "message" or "file"
        QString sTitle;
        QString sText;
        QMessageBox::Icon nIcon = QMessageBox::NoIcon;
        QString sMore; // a message box's informative and detailed text, "informative|detailed"
    };

    ModalAnswerer()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this]() { poll(); });
        m_timer.start();
    }

    // Planned answers, used in the order the dialogs appear.
    void answer(QMessageBox::StandardButton nButton) { m_answers << QString::number(int(nButton)); }
    void chooseFile(const QString &sPath) { m_answers << QStringLiteral("file:") + sPath; }
    void cancelFile() { m_answers << QStringLiteral("file:"); }

    QList<Seen> seen;

    // "title|text" of every message box seen, in order, with "\n" and its
    // informative text when it has one.
    QStringList messages() const
    {
        QStringList list;
        for (const Seen &s : seen) {
            if (s.sKind != QLatin1String("message"))
                continue;
            const QString sInformative = s.sMore.section(QLatin1Char('|'), 0, 0);
            list << s.sTitle + QLatin1Char('|') + s.sText
                        + (sInformative.isEmpty() ? QString() : QLatin1Char('\n') + sInformative);
        }
        return list;
    }
    void clear()
    {
        seen.clear();
        m_answers.clear();
    }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        // A dialog answered already may take a moment to close; one that is
        // still open long after its answer gets the same answer again.
        const QVariant answered = modal->property("answeredAt");
        if (answered.isValid()) {
            if (QDateTime::currentMSecsSinceEpoch() - answered.toLongLong() > 2000)
                respond(modal, modal->property("answer").toString());
            return;
        }
        const QString sAnswer = m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            seen << Seen{QStringLiteral("message"), box->windowTitle(), box->text(), box->icon(),
                         box->informativeText() + QLatin1Char('|') + box->detailedText()};
        else if (auto *dialog = qobject_cast<QFileDialog *>(modal))
            seen << Seen{QStringLiteral("file"), dialog->windowTitle(), dialog->nameFilters().join(QLatin1Char(';')),
                         QMessageBox::NoIcon, QString()};
        else
            return;
        modal->setProperty("answer", sAnswer);
        respond(modal, sAnswer);
    }

    static void respond(QWidget *modal, const QString &sAnswer)
    {
        modal->setProperty("answeredAt", QDateTime::currentMSecsSinceEpoch());
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            QMessageBox::StandardButton nButton = QMessageBox::Ok;
            if (!sAnswer.isEmpty() && !sAnswer.startsWith(QLatin1String("file:")))
                nButton = QMessageBox::StandardButton(sAnswer.toInt());
            if (QAbstractButton *button = box->button(nButton))
                QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            const QString sPath = sAnswer.startsWith(QLatin1String("file:")) ? sAnswer.mid(5) : QString();
            if (sPath.isEmpty()) {
                QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            } else {
                // selectFile() leaves the name field alone while it has the
                // focus, so the name is also typed into it. done() rather
                // than accept(): accept() checks the name against the
                // dialog's file model, which fills in a thread of its own.
                dialog->selectFile(sPath);
                if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    name->setText(sPath);
                QMetaObject::invokeMethod(dialog, "done", Qt::QueuedConnection, Q_ARG(int, QDialog::Accepted));
            }
        }
    }

    QTimer m_timer;
    QStringList m_answers; // button number, "file:path" or "file:" (cancel)
};

// Shows a fresh window with a dialog answerer that has already forgotten the
// boxes of the test program's own command line. False: no window on screen.
inline bool openWindow(std::unique_ptr<MainWidget> &window, std::unique_ptr<ModalAnswerer> &modal)
{
    modal.reset(new ModalAnswerer);
    window.reset(new MainWidget);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return false;
    QTest::qWait(50);
    modal->clear();
    return true;
}

// Writes bytes at an address as an Intel HEX ("ihex") or S-record ("srec")
// file with srec_cat. Returns false when srec_cat fails.
inline bool makeImageFile(const QString &sPath, const QString &sFormat, quint32 nAddress, const QByteArray &data)
{
    const QString sBin = sPath + QStringLiteral(".bin");
    QFile bin(sBin);
    if (!bin.open(QIODevice::WriteOnly) || bin.write(data) != data.size())
        return false;
    bin.close();
    QProcess srecCat;
    srecCat.start(QStringLiteral("srec_cat"),
                  {sBin, QStringLiteral("-binary"), QStringLiteral("-offset"),
                   QStringLiteral("0x%1").arg(nAddress, 0, 16), QStringLiteral("-o"), sPath,
                   sFormat == QLatin1String("srec") ? QStringLiteral("-motorola") : QStringLiteral("-intel")});
    const bool bOk =
        srecCat.waitForFinished(60000) && srecCat.exitStatus() == QProcess::NormalExit && srecCat.exitCode() == 0;
    QFile::remove(sBin);
    return bOk;
}

// The firmware information chain as it opens a software image: an 8-byte
// header (payload length, type 0x400, little-endian) and the five fields.
inline QByteArray firmwareInfoBlock(const QStringList &fields)
{
    static const int sizes[] = {16, 16, 16, 40, 16};
    QByteArray payload;
    for (int i = 0; i < 5; ++i) {
        QByteArray field = fields.value(i).toLatin1().left(sizes[i] - 1);
        field.append(QByteArray(sizes[i] - field.size(), '\0'));
        payload += field;
    }
    QByteArray block;
    const quint32 words[] = {quint32(payload.size()), 0x400};
    for (quint32 w : words)
        for (int b = 0; b < 4; ++b)
            block.append(char((w >> (8 * b)) & 0xFF));
    return block + payload;
}

#endif // UITESTUTIL_H
