// Measures the longest stretch between two passes of the event loop: an event
// posted to itself is delivered at the next pass, and posts the next. Shared
// by the benchmarks that check a window keeps processing events.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <algorithm>

class EventPassWatch : public QObject
{
public:
    EventPassWatch()
    {
        last_.start();
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }
    // Stops watching; the longest stretch seen, in seconds.
    double Stop()
    {
        stopped_ = true;
        return longest_;
    }

protected:
    bool event(QEvent *e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        longest_ = std::max(longest_, static_cast<double>(last_.nsecsElapsed()) / 1e9);
        last_.start();
        if (!stopped_)
            QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        return true;
    }

private:
    QElapsedTimer last_;
    double longest_ = 0;
    bool stopped_ = false;
};
