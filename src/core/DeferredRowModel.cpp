#include "core/DeferredRowModel.h"

#include <QCoreApplication>

namespace vostrel {

RowLoadPacer::RowLoadPacer(const QAbstractItemModel &model, std::function<void()> showAdded,
                           RowLoadPace pace)
    : model_(model)
    , showAdded_(std::move(showAdded))
    , pace_(pace)
{
    sinceEvents_.start();
    sinceShown_.start();
}

bool RowLoadPacer::RowAdded()
{
    ++added_;
    const bool due = pace_.eventsEveryRows > 0
                         ? added_ % pace_.eventsEveryRows == 1 % pace_.eventsEveryRows
                         : added_ == 1 || sinceEvents_.elapsed() >= pace_.eventsEveryMs;
    if (!due)
        return false;
    if ((pace_.firstRowsAtOnce && model_.rowCount() == 0) ||
        sinceShown_.elapsed() >= pace_.showEveryMs) {
        showAdded_();
        sinceShown_.restart();
    }
    QCoreApplication::processEvents();
    sinceEvents_.restart();
    return true;
}

} // namespace vostrel
