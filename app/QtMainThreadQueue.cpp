#include "app/QtMainThreadQueue.h"

#include <QMetaObject>

#include "app/ErrorDisplay.h"

namespace zelvox::app {

QtMainThreadQueue::QtMainThreadQueue() = default;
QtMainThreadQueue::~QtMainThreadQueue() = default;

void QtMainThreadQueue::Wake() {
    // One queued call covers every message posted until it runs; a post racing with the pass
    // finds the flag cleared and schedules the next one.
    if (Scheduled_.exchange(true)) return;
    QMetaObject::invokeMethod(this, [this] { Pass(); }, Qt::QueuedConnection);
}

void QtMainThreadQueue::Pass() {
    Scheduled_.store(false);
    // A handler that throws ends the pass; its error is shown, and the rest of the queue
    // follows in a further pass.
    const bool ok = Guarded([this] { ProcessPending(); });
    if (!ok && PendingCount() > 0) Wake();
}

} // namespace zelvox::app
