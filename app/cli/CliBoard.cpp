#include "CliBoard.h"

#include "CliText.h"

void CliBoard::draw()
{
    QString s;
    for (const QString &sRow : m_rows)
        s += QStringLiteral("\r\033[K") + sRow + QLatin1Char('\n');
    printOut(s);
    m_bDrawn = true;
}

// Moves the cursor to the first row and clears from there to the end of the
// screen. The cursor always rests at the start of the line below the rows.
void CliBoard::clear()
{
    if (!m_bDrawn)
        return;
    printOut(QStringLiteral("\033[%1A\r\033[J").arg(m_rows.size()));
    m_bDrawn = false;
}

void CliBoard::setRow(int nRow, const QString &sLine)
{
    m_rows[nRow] = sLine;
    if (m_bClosed)
        return;
    if (!m_bDrawn) {
        draw();
        return;
    }
    const int nUp = int(m_rows.size()) - nRow;
    printOut(QStringLiteral("\033[%1A\r\033[K%2\033[%1B\r").arg(nUp).arg(sLine));
}

void CliBoard::print(CliBoard *pBoard, const QString &sText, bool bError)
{
    const bool bAbove = pBoard && !pBoard->m_bClosed;
    if (bAbove)
        pBoard->clear();
    bError ? printErr(sText) : printOut(sText);
    if (bAbove)
        pBoard->draw();
}

void CliBoard::close()
{
    if (!m_bClosed && !m_bDrawn)
        draw();
    m_bClosed = true;
}
