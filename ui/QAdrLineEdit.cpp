#include "QAdrLineEdit.h"

#include <QFontMetrics>

QSize QAdrLineEdit::sizeHint() const
{
    const QMargins margins = textMargins();
    const int width = margins.left() + margins.right() + 10 * fontMetrics().horizontalAdvance(QLatin1Char('x'));
    return QSize(width, QLineEdit::sizeHint().height());
}
