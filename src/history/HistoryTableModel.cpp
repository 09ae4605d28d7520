#include "history/HistoryTableModel.h"

#include "core/SjisCodec.h"

#include <algorithm>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

QStringList HistoryTableModel::ColumnCaptions()
{
    return {u"件名"_s,
            u"送信先(宛先)"_s,
            u"送信件数"_s,
            u"総件数"_s,
            u"送信開始時刻"_s,
            u"送信終了時刻"_s,
            u"送信先(Cc)リスト"_s,
            u"送信先(Bcc)リスト"_s,
            u"送信先(宛先)アドレス"_s,
            u"送信先(Cc)アドレス"_s,
            u"送信先(Bcc)アドレス"_s,
            u"送信元アドレス"_s,
            u"送信者"_s};
}

int HistoryTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(shown_);
}

int HistoryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : HistoryEntry::kColumnCount;
}

QVariant HistoryTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
        index.column() >= HistoryEntry::kColumnCount)
        return {};
    const HistoryEntry &entry = Entry(index.row());
    QString text = SjisToQString(entry.Column(index.column()));
    // A field kept only in part says so.
    if (entry.IsCut(index.column()))
        text += u"…"_s;
    return text;
}

QVariant HistoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= HistoryEntry::kColumnCount)
        return {};
    return ColumnCaptions().at(section);
}

void HistoryTableModel::Clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    shown_ = 0;
    endResetModel();
}

void HistoryTableModel::AddUnshown(HistoryEntry entry)
{
    rows_.push_back(std::move(entry));
}

void HistoryTableModel::ShowAdded()
{
    if (rows_.size() == shown_)
        return;
    beginInsertRows({}, static_cast<int>(shown_), static_cast<int>(rows_.size()) - 1);
    shown_ = rows_.size();
    endInsertRows();
}

void HistoryTableModel::Sort(int sortState)
{
    ShowAdded();
    const std::vector<std::size_t> order = HistorySortOrder(rows_, sortState);
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Where each old row goes.
    std::vector<int> newRow(order.size());
    std::vector<HistoryEntry> sorted;
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

void HistoryTableModel::RemoveRows(std::vector<int> rows)
{
    ShowAdded();
    if (rows.empty())
        return;
    std::sort(rows.begin(), rows.end());
    // From the last to the first, joining neighbouring rows into one removal.
    std::size_t end = rows.size();
    while (end > 0) {
        std::size_t begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1)
            --begin;
        const int first = rows[begin];
        const int last = rows[end - 1];
        beginRemoveRows({}, first, last);
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        shown_ = rows_.size();
        endRemoveRows();
        end = begin;
    }
}

} // namespace vostrel
