#include "device/WorkQueue.h"

#include <QCoreApplication>
#include <QThread>

namespace {
constexpr int kDrainShare = 32;
}

TWorkQueue::TWorkQueue(QObject* parent) : QObject(parent) {}

QEvent::Type TWorkQueue::DrainEventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void TWorkQueue::Post(std::function<void()> work) {
    // The wake-up is posted under the lock, so that the event and what Qt made for it are
    // ordered before the Drain that takes the lock on this object's thread.
    std::lock_guard<std::mutex> lock(FMutex);
    const bool idle = FWork.empty();
    FWork.push_back(std::move(work));
    if (idle)
        QCoreApplication::postEvent(this, new QEvent(DrainEventType()));
}

bool TWorkQueue::event(QEvent* event) {
    // The event itself is not looked at first: it was made on the posting thread, and only the
    // lock that Drain takes orders that for ThreadSanitizer. Draining on other events too costs
    // a lock and finds nothing.
    if (QThread::currentThread() == thread())
        Drain();
    return QObject::event(event);
}

TWorkQueue& UserInterfaceQueue() {
    static TWorkQueue* const queue = new TWorkQueue;
    return *queue;
}

void TWorkQueue::Drain() {
    // A bounded share per event, so that timers and input are never held up behind a long queue:
    // what remains comes with the next event, posted under the lock for the same reason as in Post.
    for (int run = 0;; ++run) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (FWork.empty())
                return;
            if (run == kDrainShare) {
                QCoreApplication::postEvent(this, new QEvent(DrainEventType()));
                return;
            }
            work = std::move(FWork.front());
            FWork.pop_front();
        }
        work();
    }
}
