#include "device/WorkQueue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace {
const QEvent::Type kDrain = static_cast<QEvent::Type>(QEvent::registerEventType());
}

TWorkQueue::TWorkQueue(QObject* parent) : QObject(parent) {}

void TWorkQueue::Post(std::function<void()> work) {
    // The wake-up is posted under the lock, so that the event and what Qt made for it are
    // ordered before the Drain that takes the lock on this object's thread.
    std::lock_guard<std::mutex> lock(FMutex);
    const bool idle = FWork.empty();
    FWork.push_back(std::move(work));
    if (idle)
        QCoreApplication::postEvent(this, new QEvent(kDrain));
}

bool TWorkQueue::event(QEvent* event) {
    // The event itself is not looked at first: it was made on the posting thread, and only the
    // lock that Drain takes orders that for ThreadSanitizer. Draining on other events too costs
    // a lock and finds nothing.
    if (QThread::currentThread() == thread())
        Drain();
    return QObject::event(event);
}

void TWorkQueue::Drain() {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (FWork.empty())
                return;
            work = std::move(FWork.front());
            FWork.pop_front();
        }
        work();
    }
}
