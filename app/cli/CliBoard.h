#ifndef CLIBOARD_H
#define CLIBOARD_H

#include <QString>
#include <QStringList>

// Several progress lines on a terminal at once, one row per drive, kept at
// the bottom of the output and redrawn in place. Any other text (errors,
// notes, summaries) is printed above the rows, which are then drawn again
// below it, so nothing a drive reports is overwritten by another drive's
// progress. Used from the main thread only, and only when standard output is
// a terminal (it writes ANSI cursor movements).
class CliBoard
{
public:
    explicit CliBoard(int nRows) : m_rows(nRows) {}

    // Replaces the text of one row (a line without a newline, already cut to
    // the terminal width) and redraws just that row.
    void setRow(int nRow, const QString &sLine);
    // Text above the rows of pBoard, or just printed when there is no board;
    // bError sends it to standard error.
    static void print(CliBoard *pBoard, const QString &sText, bool bError);
    // Leaves the rows where they are; later output goes below them.
    void close();

private:
    void draw();
    void clear();

    QStringList m_rows;
    bool m_bDrawn = false;
    bool m_bClosed = false;
};

#endif // CLIBOARD_H
