// The deferred-row model of the windows' long lists and the pacing of the
// loops that fill one: what the views are told, and when the window gets
// its events.
#include "core/DeferredRowModel.h"

#include <QSignalSpy>
#include <QTableView>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace vostrel::test {
namespace {

// Rows of numbers in two columns: the number and its double.
class NumberModel : public DeferredRowModel<int>
{
public:
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : 2;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
            return {};
        return RowAt(index.row()) * (index.column() + 1);
    }

    // Rows 0 .. count-1, on view.
    void Fill(int count)
    {
        for (int n = 0; n < count; ++n)
            AddUnshown(n);
        ShowAdded();
    }
    // The numbers the views see.
    std::vector<int> Shown() const
    {
        std::vector<int> shown;
        for (int row = 0; row < rowCount(); ++row)
            shown.push_back(index(row, 0).data().toInt());
        return shown;
    }
};

std::vector<int> Numbers(int count)
{
    std::vector<int> numbers(static_cast<std::size_t>(count));
    std::iota(numbers.begin(), numbers.end(), 0);
    return numbers;
}

TEST(DeferredRowModelTest, RowsAddedReachTheViewsTogetherWhenShown)
{
    NumberModel model;
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    for (int n = 0; n < 3; ++n)
        model.AddUnshown(n);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.Rows(), Numbers(3));
    model.AddUnshown(3);
    model.DropLastUnshown();
    model.ShowAdded();
    model.ShowAdded();
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 2);
    EXPECT_EQ(model.Shown(), Numbers(3));
    // A row on view is never dropped.
    model.DropLastUnshown();
    EXPECT_EQ(model.rowCount(), 3);
}

TEST(DeferredRowModelTest, ClearResetsTheViewsOnlyWhenThereWasSomethingToClear)
{
    NumberModel model;
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.Clear();
    EXPECT_EQ(reset.count(), 0);
    model.AddUnshown(1); // not on view yet, cleared all the same
    model.Clear();
    EXPECT_EQ(reset.count(), 1);
    EXPECT_TRUE(model.Rows().empty());
}

// Rows next to each other go as one removal the views follow; rows in
// several places in one pass and a reset. Rows not yet shown are shown first.
TEST(DeferredRowModelTest, RemovingRowsTellsTheViewsInOneStep)
{
    struct Case
    {
        std::vector<int> remove;
        std::vector<int> left;
        int removedFirst = -1; // -1: the views are reset
        int removedLast = -1;
    };
    const Case cases[] = {
        {{3}, {0, 1, 2, 4, 5, 6, 7, 8, 9}, 3, 3},   {{4, 2, 3}, {0, 1, 5, 6, 7, 8, 9}, 2, 4},
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {}, 0, 9}, {{7, 1, 4}, {0, 2, 3, 5, 6, 8, 9}},
        {{9, 0}, {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const Case &c : cases) {
        NumberModel model;
        model.Fill(8);
        model.AddUnshown(8);
        model.AddUnshown(9);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.RemoveRows(c.remove);
        EXPECT_EQ(model.Shown(), c.left);
        EXPECT_EQ(model.Rows(), c.left);
        if (c.removedFirst < 0) {
            EXPECT_EQ(removed.count(), 0);
            EXPECT_EQ(reset.count(), 1);
        } else {
            ASSERT_EQ(removed.count(), 1);
            EXPECT_EQ(removed[0][1].toInt(), c.removedFirst);
            EXPECT_EQ(removed[0][2].toInt(), c.removedLast);
            EXPECT_EQ(reset.count(), 0);
        }
    }
}

TEST(DeferredRowModelTest, ReorderedRowsKeepTheirSelectionAndReplacedRowsRepaintWhole)
{
    NumberModel model;
    model.Fill(4);
    QTableView view;
    view.setModel(&model);
    view.selectionModel()->select(model.index(1, 0), QItemSelectionModel::Select);
    model.Reorder({3, 1, 0, 2}); // row 1 (number 1) stays row 1; number 0 goes to row 2
    EXPECT_EQ(model.Shown(), (std::vector<int>{3, 1, 0, 2}));
    const QModelIndexList selected = view.selectionModel()->selectedIndexes();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].data().toInt(), 1);
    model.Reorder({1, 0, 2, 3});
    ASSERT_EQ(view.selectionModel()->selectedIndexes().size(), 1);
    EXPECT_EQ(view.selectionModel()->selectedIndexes()[0].row(), 0);

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.Replace(2, 7);
    model.Replace(4, 9); // no such row: nothing
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(2, 0));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(2, 1));
    EXPECT_EQ(model.index(2, 1).data().toInt(), 14);

    std::vector<int> more{10, 11};
    model.Append(more);
    EXPECT_TRUE(more.empty());
    EXPECT_EQ(model.Shown(), (std::vector<int>{1, 3, 7, 2, 10, 11}));
}

// Which rows of a load give the window its events, and what the views have
// seen at each of them.
TEST(RowLoadPacerTest, EventsComeAfterTheRowsThePaceNamesAndTheFirstRowsAtOnce)
{
    constexpr qint64 kNever = 1000 * 1000 * 1000;
    struct Case
    {
        const char *what;
        RowLoadPace pace;
        std::vector<int> eventRows;
        std::vector<int> shownAtEvents;
    };
    const Case cases[] = {
        {"every 50 rows", {.eventsEveryRows = 50, .showEveryMs = kNever}, {1, 51, 101}, {1, 1, 1}},
        {"every 50 rows, shown each time",
         {.eventsEveryRows = 50, .showEveryMs = 0},
         {1, 51, 101},
         {1, 51, 101}},
        {"appended to rows on view",
         {.eventsEveryRows = 50, .showEveryMs = kNever, .firstRowsAtOnce = false},
         {1, 51, 101},
         {0, 0, 0}},
        {"by time: the first row, then when due",
         {.eventsEveryMs = kNever, .showEveryMs = kNever},
         {1},
         {1}},
        {"by time, always due", {.eventsEveryMs = 0, .showEveryMs = kNever}, {1, 2, 3}, {1, 1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NumberModel model;
        RowLoadPacer pacer(
            model, [&] { model.ShowAdded(); }, c.pace);
        std::vector<int> eventRows, shownAtEvents;
        const int rows = c.pace.eventsEveryRows > 0 ? 120 : 3;
        for (int n = 1; n <= rows; ++n) {
            model.AddUnshown(n);
            if (pacer.RowAdded()) {
                eventRows.push_back(n);
                shownAtEvents.push_back(model.rowCount());
            }
        }
        EXPECT_EQ(eventRows, c.eventRows);
        EXPECT_EQ(shownAtEvents, c.shownAtEvents);
    }
}

} // namespace
} // namespace vostrel::test
