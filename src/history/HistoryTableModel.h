// The rows of the main window's history list, held as read (Shift_JIS);
// texts are converted only for the rows a view asks for.
#pragma once

#include "core/DeferredRowModel.h"
#include "history/SentHistory.h"

#include <QStringList>

namespace vostrel {

// Loading, clearing and removing rows: see DeferredRowModel.
class HistoryTableModel : public DeferredRowModel<HistoryEntry>
{
    Q_OBJECT

public:
    using DeferredRowModel::DeferredRowModel;

    static QStringList ColumnCaptions();

    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    const HistoryEntry &Entry(int row) const { return RowAt(row); }

    // Puts the rows in the order of the sort state (see HistorySortOrder);
    // selections and other kept indexes follow their rows.
    void Sort(int sortState);
};

} // namespace vostrel
