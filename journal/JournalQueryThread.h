#pragma once

#include "journal/JournalReader.h"

#include <QString>

#include <functional>
#include <memory>

// A thread, "journal-reader", that runs read jobs one after another with a reader of its own,
// so that a window never waits for the disk. A job hands its result back to its receiver with
// a queued call; the receiver destroys this object before it goes, which waits for the job in
// progress and drops those not begun.
class TJournalQueryThread {
public:
    explicit TJournalQueryThread(const QString& journalPath);
    ~TJournalQueryThread();
    TJournalQueryThread(const TJournalQueryThread&) = delete;
    TJournalQueryThread& operator=(const TJournalQueryThread&) = delete;

    void Post(std::function<void(TJournalReader&)> job);

private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};
