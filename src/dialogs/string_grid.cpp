#include "dialogs/string_grid.h"

#include <QHeaderView>

namespace conv {

StringGrid::StringGrid(int colCount, int rowCount, QWidget* parent)
    : QTableWidget(rowCount > 1 ? rowCount - 1 : 0, colCount, parent) {
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(18);
    verticalHeader()->setDefaultSectionSize(18);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    setShowGrid(true);
    for (int c = 0; c < colCount; ++c) setHorizontalHeaderItem(c, new QTableWidgetItem);
}

void StringGrid::SetRowCount(int rows) {
    setRowCount(rows > 1 ? rows - 1 : 0);
}

void StringGrid::DeleteLastRow() {
    if (rowCount() > 0) removeRow(rowCount() - 1);
}

void StringGrid::CommitEdit() {
    if (state() != EditingState) return;
    if (QWidget* editor = indexWidget(currentIndex())) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

QString StringGrid::Cell(int col, int row) const {
    if (col < 0 || col >= columnCount() || row < 0 || row >= RowCount()) return {};
    const QTableWidgetItem* it = row == 0 ? horizontalHeaderItem(col) : item(row - 1, col);
    return it ? it->text() : QString();
}

QTableWidgetItem* StringGrid::ItemAt(int col, int row) {
    if (row == 0) {
        QTableWidgetItem* it = horizontalHeaderItem(col);
        if (!it) {
            it = new QTableWidgetItem;
            setHorizontalHeaderItem(col, it);
        }
        return it;
    }
    QTableWidgetItem* it = item(row - 1, col);
    if (!it) {
        it = new QTableWidgetItem;
        setItem(row - 1, col, it);
    }
    return it;
}

void StringGrid::SetCell(int col, int row, const QString& text) {
    if (col < 0 || col >= columnCount() || row < 0 || row >= RowCount()) return;
    if (row > 0 && text.isEmpty() && !item(row - 1, col)) return;
    ItemAt(col, row)->setText(text);
    if (fitText_ && !text.isEmpty()) FitColumnTo(col, row);
}

// The width the style needs to draw the text whole, margins and the grid line included; only
// for a cell that changed, so a grid rebuilt every second costs little.
void StringGrid::FitColumnTo(int col, int row) {
    int needed = 0;
    if (row == 0) {
        needed = horizontalHeader()->sectionSizeHint(col);
    } else {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        needed = itemDelegate()->sizeHint(option, model()->index(row - 1, col)).width() +
                 (showGrid() ? 1 : 0);
    }
    if (needed > columnWidth(col)) setColumnWidth(col, needed);
}

void StringGrid::ClearCells() {
    for (int r = 0; r < RowCount(); ++r) {
        for (int c = 0; c < columnCount(); ++c) SetCell(c, r, QString());
    }
}

void StringGrid::Assign(const std::vector<std::vector<std::string>>& rows) {
    for (int r = 0; r < RowCount(); ++r) {
        const std::vector<std::string>* cells =
            static_cast<size_t>(r) < rows.size() ? &rows[static_cast<size_t>(r)] : nullptr;
        for (int c = 0; c < columnCount(); ++c) {
            const QString text = cells && static_cast<size_t>(c) < cells->size()
                                     ? QString::fromStdString((*cells)[static_cast<size_t>(c)])
                                     : QString();
            if (Cell(c, r) != text) SetCell(c, r, text);
        }
    }
}

}  // namespace conv
