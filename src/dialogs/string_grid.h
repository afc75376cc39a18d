// A grid of text cells addressed the way the dialogs think of them: Cell(col, row) with row 0 the
// fixed header row and data rows from 1. The header row is the table's horizontal header, so it
// stays in view while the data rows scroll.
#pragma once

#include <QTableWidget>
#include <string>
#include <vector>

namespace conv {

class StringGrid : public QTableWidget {
    Q_OBJECT
  public:
    // rowCount counts the header row.
    StringGrid(int colCount, int rowCount, QWidget* parent = nullptr);

    int ColCount() const { return columnCount(); }
    // Rows including the header row (always at least 1).
    int RowCount() const { return rowCount() + 1; }
    void SetRowCount(int rows);
    // Removes the last data row; the header row stays.
    void DeleteLastRow();

    // Text of a cell; empty outside the grid.
    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString& text);
    // Empties every cell, the header row included.
    void ClearCells();
    // Sets the whole grid from rows of texts (row 0 = header); cells not given become empty and
    // cells that already hold the text are left alone.
    void Assign(const std::vector<std::vector<std::string>>& rows);

    // Columns that only ever grow, so that every text set afterwards shows whole: the widths
    // given before are the least a column has.
    void SetColumnsFitText(bool fit) { fitText_ = fit; }

    // Puts the text of an open cell editor into its cell and closes the editor, as leaving the
    // cell does. A button's mnemonic presses it without taking the focus from the editor, so
    // whatever reads the cells after a command calls this first.
    void CommitEdit();

    // Grid row (header = 0) of the current cell, or -1 when there is none.
    int CurrentGridRow() const { return currentRow() < 0 ? -1 : currentRow() + 1; }

  private:
    QTableWidgetItem* ItemAt(int col, int row);
    // Widens the column when the cell's text would be cut at its present width.
    void FitColumnTo(int col, int row);
    bool fitText_ = false;
};

}  // namespace conv
