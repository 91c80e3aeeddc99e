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

bool LabelElider::eventFilter(QObject *pWatched, QEvent *pEvent)
{
    auto *pLabel = qobject_cast<QLabel *>(pWatched);
    if (!pLabel || (pEvent->type() != QEvent::Resize && pEvent->type() != QEvent::Paint))
        return false;
    // Each line as far as it fits: the text is cut when that is not the label's own.
    const QRect area =
        pLabel->contentsRect().adjusted(pLabel->margin(), pLabel->margin(), -pLabel->margin(), -pLabel->margin());
    QStringList lines = pLabel->text().split(QLatin1Char('\n'));
    for (QString &sLine : lines)
        sLine = pLabel->fontMetrics().elidedText(sLine, Qt::ElideRight, area.width());
    const QString sShown = lines.join(QLatin1Char('\n'));
    const bool bCut = sShown != pLabel->text();
    // A text change repaints the label: the tool tip follows the text here.
    const QString sTip = bCut ? pLabel->text() : QString();
    if (pLabel->toolTip() != sTip)
        pLabel->setToolTip(sTip);
    if (pEvent->type() != QEvent::Paint || !bCut)
        return false;
    QPainter painter(pLabel);
    pLabel->style()->drawItemText(&painter, area, int(pLabel->alignment()), pLabel->palette(), pLabel->isEnabled(),
                                  sShown, pLabel->foregroundRole());
    return true;
}
