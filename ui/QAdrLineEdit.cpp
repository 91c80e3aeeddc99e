#include "QAdrLineEdit.h"

#include <QFontMetrics>

QAdrLineEdit::QAdrLineEdit(const QString &text, QWidget *parent) : QLineEdit(text, parent)
{
}

QAdrLineEdit::~QAdrLineEdit() = default;

QSize QAdrLineEdit::sizeHint() const
{
    const QMargins margins = textMargins();
    const int width = margins.left() + margins.right() + 10 * fontMetrics().horizontalAdvance(QLatin1Char('x'));
    return QSize(width, QLineEdit::sizeHint().height());
}
