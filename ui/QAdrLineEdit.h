#ifndef QADRLINEEDIT_H
#define QADRLINEEDIT_H

#include <QLineEdit>

// The line edit of the Offset and Length cells: always wide enough for "0x"
// and eight hexadecimal digits, whatever it holds.
class QAdrLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit QAdrLineEdit(const QString &text, QWidget *parent = nullptr) : QLineEdit(text, parent) {}
    ~QAdrLineEdit() override = default;

    QSize sizeHint() const override;
};

#endif // QADRLINEEDIT_H
