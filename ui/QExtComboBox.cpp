#include "QExtComboBox.h"

QExtComboBox::QExtComboBox(QWidget *parent) : QComboBox(parent), nCurIndex(-1), nPrevIndex(-1)
{
    connect(this, &QComboBox::currentIndexChanged, this, &QExtComboBox::theIndexHasChanged);
}

void QExtComboBox::theIndexHasChanged(int index)
{
    nPrevIndex = nCurIndex;
    nCurIndex = index;
}
