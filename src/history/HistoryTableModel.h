// The rows of the main window's history list, held as read (Shift_JIS);
// texts are converted only for the rows a view asks for.
#pragma once

#include "history/SentHistory.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

namespace vostrel {

class HistoryTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    static QStringList ColumnCaptions();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    const HistoryEntry &Entry(int row) const { return rows_[static_cast<std::size_t>(row)]; }

    void Clear();
    // Loading: an entry added at the end without telling the views, and
    // telling the views of all those added.
    void AddUnshown(HistoryEntry entry);
    void ShowAdded();
    // Puts the rows in the order of the sort state (see HistorySortOrder);
    // selections and other kept indexes follow their rows.
    void Sort(int sortState);
    // Removes the given rows (any order, no duplicates).
    void RemoveRows(std::vector<int> rows);

private:
    std::vector<HistoryEntry> rows_;
    // The rows the views know of: rows_[0, shown_).
    std::size_t shown_ = 0;
};

} // namespace vostrel
