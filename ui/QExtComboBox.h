#ifndef QEXTCOMBOBOX_H
#define QEXTCOMBOBOX_H

#include <QComboBox>

// A combo box that remembers the index that was current before the last
// change, so a handler of currentIndexChanged can tell where the operator
// came from (the programming list clears a row when its memory moves to
// another group).
class QExtComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit QExtComboBox(QWidget *parent = nullptr);
    ~QExtComboBox() override = default;

    int nCurIndex;  // current index after the last change seen; -1 at first
    int nPrevIndex; // the index current before that change; -1 at first

private slots:
    // Connected in the constructor, so it runs before every handler
    // connected later to the same signal.
    void theIndexHasChanged(int index);
};

#endif // QEXTCOMBOBOX_H
