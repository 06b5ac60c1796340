#pragma once
// Posting to the main thread in the desktop program: a MainThreadQueue whose wake-up asks Qt's
// event loop to handle the pending messages. Device threads post from their callbacks; the
// messages are handled on the main thread, between other events, in the order posted.

#include <QObject>

#include <atomic>

#include "devices/MessageQueue.h"

namespace zelvox::app {

class QtMainThreadQueue : public QObject, public MainThreadQueue {
    Q_OBJECT
public:
    // Create on the main thread: the handling runs on the thread this object lives on.
    QtMainThreadQueue();
    ~QtMainThreadQueue() override;

protected:
    // Any thread: schedules one pass over the queue unless one is already scheduled.
    void Wake() override;

private:
    void Pass();
    std::atomic<bool> Scheduled_{false};
};

} // namespace zelvox::app
