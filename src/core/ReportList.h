// Report-style lists of the windows: read-only, whole-row
// selection, grid lines between the cells.
#pragma once

#include <QStringList>
#include <QStyledItemDelegate>

class QTableView;
class QTreeWidget;

namespace vostrel {

// Draws the cell, then a grid line along its right and bottom edges.
class GridLineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};

// Makes list a flat, read-only report list with the given column captions,
// single selection of whole rows and grid lines.
void SetupReportList(QTreeWidget *list, const QStringList &captions);

// Makes table a read-only report table for long lists: whole rows selected
// (several at a time), grid lines, no row numbers, and fixed row heights and
// column widths, so that nothing is measured over all rows.
void SetupReportTable(QTableView *table, int columnWidth);

} // namespace vostrel
