#ifndef LABELELIDER_H
#define LABELELIDER_H

#include <QObject>

class QLabel;

// Keeps a label with texts of any length from widening the window: the label
// takes the width its layout gives it, each line that does not fit is drawn
// cut with an ellipsis, and the full text is then its tool tip. The label's
// text() stays the full text; only the painting differs.
class LabelElider : public QObject
{
    Q_OBJECT

public:
    // The elider belongs to the label.
    static void install(QLabel *pLabel);

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override;

private:
    explicit LabelElider(QLabel *pLabel);
};

#endif // LABELELIDER_H
