#include "history/HistoryTableModel.h"

#include "core/SjisCodec.h"

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

void HistoryTableModel::Sort(int sortState)
{
    Reorder(HistorySortOrder(Rows(), sortState));
}

} // namespace vostrel
