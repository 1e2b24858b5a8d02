#pragma once

#include <QEvent>
#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

// Runs functions on the thread of this object, one after the other in the order posted; Post may
// be called from any thread. The functions change hands under a std::mutex, taken by the posting
// thread and by this object's thread before a function runs, so that everything the posting
// thread did before Post is ordered before the function for ThreadSanitizer too. Qt's own event
// queue is locked inside Qt, where ThreadSanitizer sees nothing, and a lambda handed to
// QMetaObject::invokeMethod would look shared without order.
class TWorkQueue : public QObject {
public:
    explicit TWorkQueue(QObject* parent = nullptr);

    void Post(std::function<void()> work);

    // The type of the event that makes the queue run everything waiting in it (for
    // measurements of the event loop).
    static QEvent::Type DrainEventType();

protected:
    bool event(QEvent* event) override;

private:
    void Drain();

    std::mutex FMutex;
    std::deque<std::function<void()>> FWork;
};

// The queue through which workers (poll threads, the device search) hand work to the
// user-interface thread: made by the first call, which must come from that thread, and never
// destroyed, so that a late hand-off never meets a dead receiver.
TWorkQueue& UserInterfaceQueue();
