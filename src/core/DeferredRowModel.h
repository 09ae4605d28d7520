// The rows of a window's long list, held as read and shown in batches: a
// load adds rows without telling the views and shows them together now and
// then, so that laying out and painting do not cost more than reading. The
// list window's recipients and the main window's history are such models;
// RowLoadPacer keeps the window responsive while a loop fills one.
#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <algorithm>
#include <cstddef>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

namespace vostrel {

// A table model over a vector of rows. Subclasses give the columns (data,
// headerData, columnCount); the rows are added, replaced, reordered and
// removed only here.
template <typename Row> class DeferredRowModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(shown_);
    }

    // Every row held; the same as the rows shown except while a load is
    // adding rows that the views have not been told of yet.
    const std::vector<Row> &Rows() const { return rows_; }
    const Row &RowAt(int row) const { return rows_[static_cast<std::size_t>(row)]; }

    // Empties the model (the views are reset unless it was empty already).
    void Clear()
    {
        if (rows_.empty() && shown_ == 0)
            return;
        beginResetModel();
        rows_.clear();
        rows_.shrink_to_fit();
        shown_ = 0;
        endResetModel();
    }

    // Loading: room for n rows; a row added at the end without telling the
    // views (to be filled in place, or given), dropping the last one added
    // so, and telling the views of all those added.
    void Reserve(std::size_t n) { rows_.reserve(n); }
    Row &AddUnshown(Row row = Row()) { return rows_.emplace_back(std::move(row)); }
    void DropLastUnshown()
    {
        if (rows_.size() > shown_)
            rows_.pop_back();
    }
    void ShowAdded()
    {
        if (rows_.size() == shown_)
            return;
        beginInsertRows({}, static_cast<int>(shown_), static_cast<int>(rows_.size()) - 1);
        shown_ = rows_.size();
        endInsertRows();
    }

    // Appends rows at the end (moved from the given vector, which is left
    // empty).
    void Append(std::vector<Row> &rows)
    {
        ShowAdded();
        if (rows.empty())
            return;
        const int first = rowCount();
        beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
        if (rows_.empty())
            rows_.swap(rows);
        else
            std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
        rows.clear();
        shown_ = rows_.size();
        endInsertRows();
    }

    void Replace(int row, Row value)
    {
        if (row < 0 || row >= rowCount())
            return;
        rows_[static_cast<std::size_t>(row)] = std::move(value);
        Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
    }

    // Puts the rows in the given order (order[i] is the row that becomes row
    // i); selections and other kept indexes follow their rows.
    void Reorder(const std::vector<std::size_t> &order)
    {
        ShowAdded();
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        // Where each old row goes.
        std::vector<int> newRow(order.size());
        std::vector<Row> sorted;
        sorted.reserve(rows_.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            newRow[order[i]] = static_cast<int>(i);
            sorted.push_back(std::move(rows_[order[i]]));
        }
        rows_.swap(sorted);
        const QModelIndexList kept = persistentIndexList();
        QModelIndexList moved;
        moved.reserve(kept.size());
        for (const QModelIndex &index : kept)
            moved.push_back(
                index.isValid() && index.row() < static_cast<int>(newRow.size())
                    ? createIndex(newRow[static_cast<std::size_t>(index.row())], index.column())
                    : QModelIndex());
        changePersistentIndexList(kept, moved);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    // Removes the given rows (any order, no duplicates). Rows next to each
    // other go as one removal the views follow; rows in several places are
    // taken out in one pass and the views are reset.
    void RemoveRows(std::vector<int> rows)
    {
        ShowAdded();
        if (rows.empty())
            return;
        std::sort(rows.begin(), rows.end());
        const int first = rows.front();
        const int last = rows.back();
        if (last - first + 1 == static_cast<int>(rows.size())) {
            beginRemoveRows({}, first, last);
            rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
            shown_ = rows_.size();
            endRemoveRows();
            return;
        }
        std::vector<bool> removed(rows_.size(), false);
        for (int row : rows)
            removed.at(static_cast<std::size_t>(row)) = true;
        std::vector<Row> kept;
        kept.reserve(rows_.size() - rows.size());
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (!removed[i])
                kept.push_back(std::move(rows_[i]));
        }
        beginResetModel();
        rows_.swap(kept);
        shown_ = rows_.size();
        endResetModel();
    }

private:
    std::vector<Row> rows_;
    // The rows the views know of: rows_[0, shown_).
    std::size_t shown_ = 0;
};

// How a load lets its window process events and shows what it read.
struct RowLoadPace
{
    // Events are processed after the 1st, (1 + eventsEveryRows)th,
    // (1 + 2 x eventsEveryRows)th ... row added; with 0, after the first
    // row and then after a row that comes eventsEveryMs or more after the
    // last processing.
    std::size_t eventsEveryRows = 0;
    qint64 eventsEveryMs = 0;
    // When events are processed, the rows added reach the views if
    // showEveryMs have passed since they last did, and at once while the
    // views show no row (unless firstRowsAtOnce is false).
    qint64 showEveryMs = 150;
    bool firstRowsAtOnce = true;
};

// Paces a loop that adds rows to a model: call RowAdded() after each row.
// The caller shows what is left at the end of the loop (and when it fails).
class RowLoadPacer
{
public:
    // showAdded tells the views of the rows added to model.
    RowLoadPacer(const QAbstractItemModel &model, std::function<void()> showAdded,
                 RowLoadPace pace);

    // True when the window's pending events were processed for this row
    // (a stop the user asked for meanwhile can be seen then).
    bool RowAdded();

private:
    const QAbstractItemModel &model_;
    std::function<void()> showAdded_;
    RowLoadPace pace_;
    std::size_t added_ = 0;
    QElapsedTimer sinceEvents_;
    QElapsedTimer sinceShown_;
};

} // namespace vostrel
