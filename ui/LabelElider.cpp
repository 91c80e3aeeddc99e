#include "LabelElider.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QStyle>

LabelElider::LabelElider(QLabel *pLabel) : QObject(pLabel)
{
}

void LabelElider::install(QLabel *pLabel)
{
    // Ignored: the layout's width, whatever the text asks for; the height
    // still follows the number of lines.
    QSizePolicy policy = pLabel->sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    pLabel->setSizePolicy(policy);
    pLabel->setMinimumWidth(0);
    pLabel->installEventFilter(new LabelElider(pLabel));
}

// True when a line of the label's text is wider than the label.
static bool isCut(const QLabel *pLabel)
{
    const QFontMetrics metrics = pLabel->fontMetrics();
    const int nWidth = pLabel->contentsRect().width() - 2 * qMax(0, pLabel->margin());
    for (const QString &sLine : pLabel->text().split(QLatin1Char('\n'))) {
        if (metrics.horizontalAdvance(sLine) > nWidth)
            return true;
    }
    return false;
}

bool LabelElider::eventFilter(QObject *pWatched, QEvent *pEvent)
{
    auto *pLabel = qobject_cast<QLabel *>(pWatched);
    if (!pLabel || (pEvent->type() != QEvent::Resize && pEvent->type() != QEvent::Paint))
        return false;
    // A text change repaints the label: the tool tip follows the text here.
    const bool bCut = isCut(pLabel);
    const QString sTip = bCut ? pLabel->text() : QString();
    if (pLabel->toolTip() != sTip)
        pLabel->setToolTip(sTip);
    if (pEvent->type() != QEvent::Paint || !bCut)
        return false;
    const QRect area =
        pLabel->contentsRect().adjusted(pLabel->margin(), pLabel->margin(), -pLabel->margin(), -pLabel->margin());
    QStringList lines = pLabel->text().split(QLatin1Char('\n'));
    for (QString &sLine : lines)
        sLine = pLabel->fontMetrics().elidedText(sLine, Qt::ElideRight, area.width());
    QPainter painter(pLabel);
    pLabel->style()->drawItemText(&painter, area, int(pLabel->alignment()), pLabel->palette(), pLabel->isEnabled(),
                                  lines.join(QLatin1Char('\n')), pLabel->foregroundRole());
    return true;
}
